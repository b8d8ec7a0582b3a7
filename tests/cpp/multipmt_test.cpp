#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "pelorin/multipmt.hpp"
#include "test_support.hpp"

namespace {

using pelorin::MultiPMT;
using pelorin::test::TempFile;
using Records = std::vector<corvane::MultiPMTTrigger>;
using Path = std::filesystem::path;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

/// Pulse-shape text with abscissae origin + i * step; from `bumped_at` on they move
/// by 0.2 % of a step, so one spacing is off.
std::string shape_text(double step, const std::vector<double>& values, double origin = 0.0,
                       std::size_t bumped_at = std::string::npos) {
    std::vector<double> x;
    for (std::size_t i = 0; i < values.size(); ++i) {
        x.push_back(origin + static_cast<double>(i) * step + (i >= bumped_at ? 0.002 * step : 0.0));
    }
    return pelorin::test::two_columns(x, values);
}

const std::vector<double> tot_values{0, 0.25, 0.5, 0.75, 1, 1, 1, 1, 0.5, 0.25, 0};
const std::vector<double> adc_values(40, 1.0);

// Delays of 10 to 10.2 ns put every PE on one known 0.5 ns analog index. The ToT taps,
// 1 ns apart, first reach the 0.6 threshold at tap 3 and fall below it at tap 8: a PE
// at 0 gives the hit (13 ns, 18 ns). The flat 20 ns ADC pulse gives every stored ADC
// sample the same value, 100 * amplitude + 50.
struct Config {
    std::string time_spectrum = "1e-8 1\n1.02e-8 1\n";
    std::string amplitude_spectrum = "0.9 1\n1.1 1\n";
    double pmt_time_step = 0.5e-9, tot_step = 1e-9;
    std::string tot_pulse_shape = shape_text(1e-9, tot_values);
    double tot_threshold = 0.6, tot_dead_time = 0, tot_noise = 0, tot_jitter = 0, adc_step = 4e-9;
    std::string adc_pulse_shape = shape_text(0.5e-9, adc_values);
    int adc_jitter = 0;
    double adc_gain = 100, adc_offset = 50, adc_noise = 0, adc_clip = 4000, sample_delay = 0;
    int seed = 11;
};

Config noisy() {
    Config c;
    c.tot_noise = 0.05;
    c.tot_jitter = 0.3e-9;
    c.adc_jitter = -1;
    c.adc_noise = 2;
    return c;
}

MultiPMT build_from(const Config& c, const Path& time, const Path& amplitude, const Path& tot,
                    const Path& adc) {
    return MultiPMT(time, amplitude, c.pmt_time_step, c.tot_step, tot, c.tot_threshold,
                    c.tot_dead_time, c.tot_noise, c.tot_jitter, c.adc_step, adc, c.adc_jitter,
                    c.adc_gain, c.adc_offset, c.adc_noise, c.adc_clip, c.sample_delay, c.seed);
}

MultiPMT build(const Config& c) {
    const TempFile time(c.time_spectrum), amplitude(c.amplitude_spectrum);
    const TempFile tot(c.tot_pulse_shape), adc(c.adc_pulse_shape);
    return build_from(c, time, amplitude, tot, adc);
}

/// Whether `call` throws an `Exception` whose what() holds `part` (or equals it, if `whole`).
template <typename Exception, typename Call>
testing::AssertionResult throws_with(Call&& call, const std::string& part, bool whole = false) {
    try {
        call();
    } catch (const Exception& e) {
        const std::string what = e.what();
        if (whole ? what == part : what.find(part) != std::string::npos) {
            return testing::AssertionSuccess();
        }
        return testing::AssertionFailure() << "message \"" << what << "\" instead of \"" << part << '"';
    } catch (const std::exception& e) {
        return testing::AssertionFailure() << "other exception: " << e.what();
    }
    return testing::AssertionFailure() << "nothing thrown";
}

testing::AssertionResult same_records(const Records& a, const Records& b) {
    if (a.size() != b.size()) {
        return testing::AssertionFailure() << a.size() << " vs " << b.size() << " records";
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].time != b[i].time || a[i].channel != b[i].channel ||
            a[i].time_over_threshold != b[i].time_over_threshold || a[i].adc_sample != b[i].adc_sample) {
            return testing::AssertionFailure() << "records differ at " << i;
        }
    }
    return testing::AssertionSuccess();
}

const std::string adc_spacing = "Pulse shape time step does not match PMT step.";
const std::string tot_spacing = "ToT pulse shape time step does not match ToT step.";
const std::vector<double> burst_pes{0, 2e-8, 2.3e-8, 7e-8, 7.05e-8, 1.5e-7};

TEST(MultiPMT, ConstructionStopsAtTheFirstBadFileInReadingOrder) {
    const Config c;
    const TempFile time(c.time_spectrum), amplitude(c.amplitude_spectrum);
    const TempFile tot(c.tot_pulse_shape), adc(c.adc_pulse_shape);
    const TempFile bad_tot(shape_text(1e-9, tot_values, 0.0, 4));
    const TempFile bad_adc(shape_text(0.5e-9, adc_values, 0.0, 4));
    const std::string base = time.path().string();
    const Path gone_time = base + ".gone-time", gone_amplitude = base + ".gone-amplitude";
    const Path gone_tot = base + ".gone-tot", gone_adc = base + ".gone-adc";
    auto fails = [&](const Path& t, const Path& a, const Path& to, const Path& ad, const std::string& part) {
        return throws_with<std::ios_base::failure>([&] { build_from(c, t, a, to, ad); }, part);
    };
    EXPECT_TRUE(fails(gone_time, gone_amplitude, gone_tot, gone_adc, gone_time.native()));
    EXPECT_TRUE(fails(time, gone_amplitude, gone_tot, gone_adc, gone_amplitude.native()));
    // The ADC pulse shape is read and checked before the ToT pulse shape.
    EXPECT_TRUE(fails(time, amplitude, gone_tot, gone_adc, gone_adc.native()));
    EXPECT_TRUE(fails(time, amplitude, gone_tot, adc, gone_tot.native()));
    EXPECT_TRUE(fails(time, amplitude, bad_tot, bad_adc, adc_spacing));
    try {
        build_from(c, time, amplitude, bad_tot, adc);
        ADD_FAILURE() << "bad ToT spacing accepted";
    } catch (const std::ios_base::failure& e) {
        EXPECT_NE(std::string(e.what()).find(tot_spacing), std::string::npos);
        EXPECT_EQ(e.code(), std::io_errc::stream);
    }
}

TEST(MultiPMT, EachPulseShapeIsCheckedAgainstItsOwnStep) {
    Config c;
    c.adc_pulse_shape = shape_text(0.50025e-9, adc_values);  // 0.05 % off
    c.tot_pulse_shape = shape_text(1.0005e-9, tot_values);
    EXPECT_NO_THROW(build(c));

    c = Config{};
    c.adc_pulse_shape = shape_text(c.tot_step, adc_values);  // ADC shape goes with pmt_time_step
    EXPECT_TRUE(throws_with<std::ios_base::failure>([&] { build(c); }, adc_spacing));
    c = Config{};
    c.tot_pulse_shape = shape_text(c.pmt_time_step, tot_values);  // ToT shape goes with tot_step
    EXPECT_TRUE(throws_with<std::ios_base::failure>([&] { build(c); }, tot_spacing));
}

TEST(MultiPMT, ShiftedPulseShapeTimesBuildTheSameModel) {
    Config shifted = noisy();
    shifted.tot_pulse_shape = shape_text(1e-9, tot_values, 3.7e-6);
    shifted.adc_pulse_shape = shape_text(0.5e-9, adc_values, -2.1e-6);
    MultiPMT a = build(noisy()), b = build(shifted);
    for (int call = 0; call < 2; ++call) {
        const Records records = a.simulate(burst_pes, 2);
        EXPECT_FALSE(records.empty());
        EXPECT_TRUE(same_records(records, b.simulate(burst_pes, 2)));
    }
}

TEST(MultiPMT, CopiesAndMovesContinueTheSourceSequence) {
    MultiPMT source = build(noisy()), twin = build(noisy());
    const Records first = source.simulate(burst_pes, 1);
    ASSERT_TRUE(same_records(first, twin.simulate(burst_pes, 1)));
    ASSERT_FALSE(first.empty());

    MultiPMT copy(source);
    const Records next = source.simulate(burst_pes, 1);
    EXPECT_FALSE(same_records(first, next));  // the engine moved on
    EXPECT_TRUE(same_records(copy.simulate(burst_pes, 1), next));
    EXPECT_TRUE(same_records(twin.simulate(burst_pes, 1), next));

    Config other = noisy();
    other.seed = 99;
    MultiPMT assigned = build(other);
    assigned = source;
    const MultiPMT& alias = source;
    source = alias;
    const Records third = source.simulate(burst_pes, 1);
    EXPECT_TRUE(same_records(assigned.simulate(burst_pes, 1), third));
    EXPECT_TRUE(same_records(twin.simulate(burst_pes, 1), third));

    MultiPMT moved(std::move(source));
    MultiPMT target = build(other);
    target = std::move(moved);
    EXPECT_TRUE(same_records(target.simulate(burst_pes, 1), twin.simulate(burst_pes, 1)));
}

TEST(MultiPMT, EmptyInputDrawsOnlyTheRandomAdcPhase) {
    for (const int jitter : {2, -1}) {
        Config c = noisy();
        c.adc_jitter = jitter;
        MultiPMT model = build(c), fresh = build(c), twin = build(c);
        EXPECT_TRUE(model.simulate({}, 0).empty());
        EXPECT_TRUE(std::isnan(twin.calibrate_delay(0, 1)));  // one empty run
        const Records next = model.simulate(burst_pes, 0);
        EXPECT_TRUE(same_records(next, twin.simulate(burst_pes, 0))) << jitter;
        // A fixed phase leaves the engine where it was; a random one takes one draw.
        EXPECT_EQ(same_records(next, fresh.simulate(burst_pes, 0)), jitter >= 0) << jitter;
    }
}

TEST(MultiPMT, AdcSampleIsReadSampleDelayAfterTheHitStart) {
    // PE at 2 ns: impulse on analog index 24, stored ADC samples 3 to 7, hit at 15 ns.
    auto only_hit = [](const Config& c) {
        const Records records = build(c).simulate({2e-9}, -4);
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? corvane::MultiPMTTrigger{} : records[0];
    };
    Config c;
    const corvane::MultiPMTTrigger at_start = only_hit(c);
    EXPECT_EQ(at_start.channel, -4);
    EXPECT_DOUBLE_EQ(at_start.time, 15e-9);
    EXPECT_DOUBLE_EQ(at_start.time_over_threshold, 5e-9);
    EXPECT_GE(at_start.adc_sample, 140);
    EXPECT_LE(at_start.adc_sample, 160);
    const std::vector<std::tuple<double, bool>> delays{
        {-1e-9, true},    // 14 ns: still ADC sample 3
        {8e-9, true},     // sample 5
        {-4e-9, false},   // sample 2 lies before the pulse
        {-2e-8, false},   // negative readout time, sample -1
        {1e-6, false},    // past the end of the pulse
    };
    for (const auto& [delay, stored] : delays) {
        c.sample_delay = delay;
        EXPECT_EQ(only_hit(c).adc_sample, stored ? at_start.adc_sample : 0) << delay;
    }
    c.sample_delay = 0;
    c.adc_jitter = 8;  // one ADC period: no analog index is sampled
    EXPECT_EQ(only_hit(c).adc_sample, 0);
}

TEST(MultiPMT, CalibrationCountsOnlySingleHitRuns) {
    MultiPMT model = build(Config{});
    EXPECT_TRUE(std::isnan(model.calibrate_delay(1, 0)));
    EXPECT_TRUE(std::isnan(model.calibrate_delay(0, 1)));
    const std::string failed = "Too many simulations did not produce a valid trigger. Calibration failed.";
    EXPECT_TRUE(throws_with<std::runtime_error>([&] { model.calibrate_delay(0, 2); }, failed, true));
    EXPECT_DOUBLE_EQ(model.calibrate_delay(1, 4), 13e-9);

    Config two_humps;
    two_humps.tot_pulse_shape = shape_text(1e-9, {0, 1, 1, 0, 0, 1, 1, 0});
    MultiPMT doubled = build(two_humps);
    EXPECT_EQ(doubled.simulate({0.0}, 0).size(), 2u);
    EXPECT_TRUE(std::isnan(doubled.calibrate_delay(1, 1)));
    EXPECT_TRUE(throws_with<std::runtime_error>([&] { doubled.calibrate_delay(1, 2); }, failed, true));
}

TEST(MultiPMT, RejectsArgumentsOutsideTheModel) {
    std::vector<std::tuple<const char*, double Config::*, double>> cases;
    for (const auto& [name, field] : {std::pair{"pmt_time_step", &Config::pmt_time_step},
                                      std::pair{"tot_step", &Config::tot_step},
                                      std::pair{"adc_step", &Config::adc_step}}) {
        for (const double value : {0.0, -1e-9, nan, inf}) {
            cases.emplace_back(name, field, value);
        }
    }
    cases.insert(cases.end(), {{"adc_step", &Config::adc_step, 0.25e-9},
                               {"adc_gain", &Config::adc_gain, nan},
                               {"adc_gain", &Config::adc_gain, -inf},
                               {"adc_offset", &Config::adc_offset, inf},
                               {"adc_noise", &Config::adc_noise, nan},
                               {"adc_clip", &Config::adc_clip, nan},
                               {"adc_clip", &Config::adc_clip, 1e12}});
    for (const auto& [name, field, value] : cases) {
        Config c;
        c.*field = value;
        EXPECT_TRUE(throws_with<std::invalid_argument>([&] { build(c); }, name)) << value;
    }

    const Config c;
    for (const char* text : {"1.1 1\n0.9 1\n", "0.9 1\n1 -1\n1.1 1\n", "0.9 0\n1.1 0\n"}) {
        const TempFile time(c.time_spectrum), amplitude(text);
        const TempFile tot(c.tot_pulse_shape), adc(c.adc_pulse_shape);
        EXPECT_TRUE(throws_with<std::ios_base::failure>(
            [&] { build_from(c, time, amplitude, tot, adc); }, amplitude.path().native()))
            << text;
    }

    MultiPMT model = build(c);
    for (const double t : {nan, 1e300}) {
        EXPECT_TRUE(throws_with<std::invalid_argument>([&] { model.simulate({0.0, t}, 0); }, "pe_times"));
    }
}

}  // namespace
