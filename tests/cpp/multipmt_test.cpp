#include "pelorin/multipmt.hpp"
#include "pelorin/adc_sim.hpp"
#include "pelorin/pmt_sim.hpp"
#include "pelorin/tot_sim.hpp"
#include "test_support.hpp"

namespace {

using pelorin::MultiPMT;
using namespace pelorin::test;

const std::vector<double> tot_values{0, 0.25, 0.5, 0.75, 1, 1, 1, 1, 0.5, 0.25, 0}, adc_values(40, 1.0);
const std::string adc_spacing = "Pulse shape time step does not match PMT step.";
const std::string tot_spacing = "ToT pulse shape time step does not match ToT step.";

// Delays of 10 to 10.2 ns put every PE on one known 0.5 ns analog index. The ToT taps, 1 ns
// apart, first reach the 0.6 threshold at tap 3 and fall below it at tap 8: a PE at 0 gives
// the hit (13 ns, 18 ns). The flat 20 ns ADC pulse gives every stored ADC sample the same
// value, 100 * amplitude + 50.
struct Config {
    std::string time_spectrum = "1e-8 1\n1.02e-8 1\n", amplitude_spectrum = "0.9 1\n1.1 1\n";
    std::string tot_pulse_shape = shape_text(1e-9, tot_values), adc_pulse_shape = shape_text(0.5e-9, adc_values);
    double pmt_time_step = 0.5e-9, tot_step = 1e-9;
    double tot_threshold = 0.6, tot_dead_time = 0, tot_noise = 0, tot_jitter = 0, adc_step = 4e-9;
    int adc_jitter = 0;
    double adc_gain = 100, adc_offset = 50, adc_noise = 0, adc_clip = 4000, sample_delay = 0;
    int seed = 11;

    MultiPMT build_from(const Path& time, const Path& amplitude, const Path& tot, const Path& adc) const {
        return MultiPMT(time, amplitude, pmt_time_step, tot_step, tot, tot_threshold, tot_dead_time, tot_noise,
                        tot_jitter, adc_step, adc, adc_jitter, adc_gain, adc_offset, adc_noise, adc_clip,
                        sample_delay, seed);
    }
    MultiPMT build() const {
        return build_from(TempFile(time_spectrum), TempFile(amplitude_spectrum), TempFile(tot_pulse_shape),
                          TempFile(adc_pulse_shape));
    }
};

TEST(MultiPMT, ConstructionReadsAdcPulseShapeBeforeToTPulseShape) {
    const Config c;
    const TempFile time(c.time_spectrum), amplitude(c.amplitude_spectrum);
    const TempFile tot(c.tot_pulse_shape), adc(c.adc_pulse_shape);
    const TempFile bad_tot(shape_text(1e-9, tot_values, 0.0, 4)), bad_adc(shape_text(0.5e-9, adc_values, 0.0, 4));
    const std::tuple<Path, Path, Path, Path, std::string> cases[] = {
        {time.gone(), amplitude.gone(), tot.gone(), adc.gone(), time.gone()},
        {time, amplitude.gone(), tot.gone(), adc.gone(), amplitude.gone()},
        {time, amplitude, tot.gone(), adc.gone(), adc.gone()},
        {time, amplitude, tot.gone(), adc, tot.gone()},
        {time, amplitude, bad_tot, bad_adc, adc_spacing},
        {time, amplitude, bad_tot, adc, tot_spacing},
    };
    for (const auto& [t, a, to, ad, part] : cases) {
        EXPECT_TRUE(throws_with<std::ios_base::failure>([&] { c.build_from(t, a, to, ad); }, part));
    }
}

TEST(MultiPMT, EachPulseShapeIsCheckedAgainstItsOwnStep) {
    Config c;
    c.adc_pulse_shape = shape_text(0.50025e-9, adc_values);  // 0.05 % off
    c.tot_pulse_shape = shape_text(1.0005e-9, tot_values);
    EXPECT_NO_THROW(c.build());
    c.adc_pulse_shape = shape_text(c.tot_step, adc_values);  // the ADC shape goes with pmt_time_step
    EXPECT_TRUE(throws_with<std::ios_base::failure>([&] { c.build(); }, adc_spacing));
    c = Config{};
    c.tot_pulse_shape = shape_text(c.pmt_time_step, tot_values);  // the ToT shape goes with tot_step
    EXPECT_TRUE(throws_with<std::ios_base::failure>([&] { c.build(); }, tot_spacing));
}

TEST(MultiPMT, ShiftedPulseShapeTimesBuildTheSameModel) {
    Config noisy;
    std::tie(noisy.tot_noise, noisy.tot_jitter, noisy.adc_noise) = std::tuple(0.05, 0.3e-9, 2.0);
    noisy.adc_jitter = -1;
    Config shifted = noisy;
    shifted.tot_pulse_shape = shape_text(1e-9, tot_values, 3.7e-6);
    shifted.adc_pulse_shape = shape_text(0.5e-9, adc_values, -2.1e-6);
    MultiPMT a = noisy.build(), b = shifted.build();
    auto hits = [](MultiPMT& model) {
        std::vector<std::tuple<double, double, int>> out;
        for (const auto& r : model.simulate({0, 2e-8, 2.3e-8, 7e-8, 7.05e-8, 1.5e-7}, 2)) {
            out.emplace_back(r.time, r.time_over_threshold, r.adc_sample);
        }
        return out;
    };
    for (int call = 0; call < 2; ++call) {
        const auto expected = hits(a);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(hits(b), expected);
    }
}

TEST(MultiPMT, AdcSampleIsReadSampleDelayAfterTheHitStart) {
    // PE at 2 ns: impulse on analog index 24, stored ADC samples 3 to 7, hit at 15 ns.
    Config c;
    auto only_hit = [&] {
        const auto records = c.build().simulate({2e-9}, -4);
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? corvane::MultiPMTTrigger{} : records[0];
    };
    const corvane::MultiPMTTrigger at_start = only_hit();
    EXPECT_EQ(at_start.channel, -4);
    EXPECT_DOUBLE_EQ(at_start.time, 15e-9);
    EXPECT_DOUBLE_EQ(at_start.time_over_threshold, 5e-9);
    EXPECT_NEAR(at_start.adc_sample, 150, 10);
    // 14 ns is still sample 3 and 23 ns sample 5; sample 2 lies before the pulse, -5 ns on
    // sample -1 and 1015 ns past its end.
    for (const auto& [delay, stored] :
         {std::pair{-1e-9, true}, {8e-9, true}, {-4e-9, false}, {-2e-8, false}, {1e-6, false}}) {
        c.sample_delay = delay;
        EXPECT_EQ(only_hit().adc_sample, stored ? at_start.adc_sample : 0) << delay;
    }
}

TEST(MultiPMT, ComposesPmtThenToTThenAdcOnOneEngine) {
    Config c;
    std::tie(c.tot_noise, c.tot_jitter, c.adc_noise, c.adc_jitter, c.sample_delay) =
        std::tuple(0.05, 0.3e-9, 2.0, -1, 2.9e-9);
    const TempFile time(c.time_spectrum), amplitude(c.amplitude_spectrum);
    const TempFile tot(c.tot_pulse_shape), adc(c.adc_pulse_shape);
    MultiPMT model = c.build_from(time, amplitude, tot, adc);
    auto pmt = pelorin::make_pmt_sim(pelorin::read_spectrum_file(time), pelorin::read_spectrum_file(amplitude),
                                     c.pmt_time_step);
    const pelorin::ToTSim tot_sim(c.tot_step, {c.tot_step, tot_values}, c.tot_threshold, c.tot_dead_time,
                                  c.tot_noise, c.tot_jitter);
    const pelorin::ADCSim adc_sim(c.adc_step, {c.pmt_time_step, adc_values}, c.adc_jitter, c.adc_gain,
                                  c.adc_offset, c.adc_clip, c.adc_noise, c.adc_clip);
    std::mt19937 twin(static_cast<std::mt19937::result_type>(c.seed));
    const std::vector<double> pes{3e-8, 0, 7.1e-8, 1.2e-7};
    for (int call = 0; call < 3; ++call) {
        const auto analog = pmt.simulate(pes, twin);
        const auto hits = tot_sim.simulate(analog, twin);
        const auto samples = adc_sim.simulate(analog, twin);
        const auto records = model.simulate(pes, 5);
        ASSERT_EQ(records.size(), hits.size());
        for (std::size_t i = 0; i < hits.size(); ++i) {
            const auto index = pelorin::time_to_index(hits[i].first + c.sample_delay, c.adc_step);
            EXPECT_EQ(records[i].time, hits[i].first);
            EXPECT_EQ(records[i].time_over_threshold, hits[i].second - hits[i].first);
            EXPECT_EQ(records[i].adc_sample, samples.find(index).value_or(0));
        }
    }
}

TEST(MultiPMT, CalibrationCountsOnlySingleHitRuns) {
    MultiPMT model = Config{}.build();
    EXPECT_TRUE(std::isnan(model.calibrate_delay(1, 0)));
    EXPECT_TRUE(throws_with<std::runtime_error>([&] { model.calibrate_delay(0, 2); }, calibration_failed, true));
    EXPECT_DOUBLE_EQ(model.calibrate_delay(1, 4), 13e-9);
    Config two_humps;
    two_humps.tot_pulse_shape = shape_text(1e-9, {0, 1, 1, 0, 0, 1, 1, 0});
    MultiPMT doubled = two_humps.build();
    EXPECT_EQ(doubled.simulate({0.0}, 0).size(), 2u);
    EXPECT_TRUE(std::isnan(doubled.calibrate_delay(1, 1)));
    EXPECT_TRUE(throws_with<std::runtime_error>([&] { doubled.calibrate_delay(1, 2); }, calibration_failed, true));
}

}  // namespace
