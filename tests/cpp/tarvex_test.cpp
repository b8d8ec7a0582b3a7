#include <iostream>
#include <sstream>

#include "pelorin/tarvex.hpp"
#include "stages/input_checks.hpp"
#include "test_support.hpp"

namespace {

using pelorin::Tarvex;
using namespace pelorin::test;
using Early = Tarvex::EarlyHandling;
using Records = std::vector<corvane::TarvexTrigger>;
using Window = std::vector<std::uint16_t>;

TEST(TarvexTrigger, TimeSplitTruncatesAndSumIsSinglePrecision) {
    const std::tuple<double, std::uint32_t, std::uint32_t> times[] = {
        {0.0, 0, 0},
        {8e-9, 0, 2},
        {1.2e-8, 0, 3},
        {3.5e-9, 0, 0},
        {0.5, 0, 124999999},
        {1.000000012, 1, 3},
        {123.456789012, 123, 114197253},
    };
    for (const auto& [time, seconds, ticks] : times) {
        const auto split = corvane::split_readout_time(time);
        EXPECT_EQ(std::tie(split.seconds, split.ticks), std::tie(seconds, ticks)) << "time " << time;
    }
    float wide = 0.0f;  // beyond 2^24 a float sum rounds at each step, unlike a double sum
    for (int i = 0; i < 300; ++i) {
        wide += 65535.0f - 0.3f;
    }
    ASSERT_NE(wide, static_cast<float>(300 * (65535 - 0.3)));
    // 100.3f lies 3e-6 above 100.3: the float differences sum to 0.3999939, not 0.4.
    const std::tuple<Window, double, float> sums[] = {{{100, 110, 95}, 100.0, 5.0f},
                                                      {{100, 101}, 100.5, 0.0f},
                                                      {{100, 101}, 100.3, 0.399993896484375f},
                                                      {Window(300, 65535), 0.3, wide}};
    for (auto [samples, offset, intsum] : sums) {
        const auto r = corvane::make_tarvex_trigger(-7, {1, 3}, std::move(samples), offset);
        EXPECT_EQ(std::tie(r.channel, r.baseline, r.intsum), std::tuple(-7, static_cast<float>(offset), intsum));
    }
}

// Delays of 10 to 10.5 ns put every PE on one known 1 ns analog index and the 12-tap pulse
// covers 12 of them: a PE at 100 ns gives ADC samples 28 and 29 near 200 LSB and sample 30
// near 111 LSB, and one trigger on sample 29.
struct Config {
    std::string time_spectrum = "1e-8 1\n1.05e-8 1\n", amplitude_spectrum = "0.9 1\n1.1 1\n";
    std::string pulse_shape = shape_text(1e-9, {0.5, 1, 1, 1, 1, 1, 1, 1, 0.5, 0.2, 0.1, 0.05});
    double pmt_time_step = 1e-9, adc_step = 4e-9;
    int jitter = 0;
    double gain = 100, offset = 100.7, preamp_clip = 4000, noise = 0, clip = 4095;
    int waveform_samples = 8, retrigger_offset = 4;
    std::vector<int> trigger_kernel{1};
    int adc_threshold = 50, trigger_norm = 1, trigger_offset = -2, seed = 7;
    Early early_handling = Early::WARN;

    Tarvex build_from(const Path& time, const Path& amplitude, const Path& pulse) const {
        return Tarvex(time, amplitude, pmt_time_step, adc_step, pulse, jitter, gain, offset, preamp_clip, noise,
                      clip, waveform_samples, retrigger_offset, trigger_kernel, adc_threshold, trigger_norm,
                      trigger_offset, seed, early_handling);
    }
    Tarvex build() const {
        return build_from(TempFile(time_spectrum), TempFile(amplitude_spectrum), TempFile(pulse_shape));
    }
};

TEST(Tarvex, ConstructionReadsFilesInOrderAndChecksPulseSpacing) {
    const Config c;
    const TempFile time(c.time_spectrum), amplitude(c.amplitude_spectrum), pulse(c.pulse_shape), one_pair("0 1\n");
    const TempFile bumped(shape_text(1e-9, {1, 1, 1, 1}, 0.0, 2));  // one spacing 0.2 % off
    const std::tuple<Path, Path, Path, std::string> cases[] = {
        {time.gone(), amplitude.gone(), pulse.gone(), time.gone()},
        {time, amplitude.gone(), pulse.gone(), amplitude.gone()},
        {time, amplitude, pulse.gone(), pulse.gone()},
        {one_pair, amplitude.gone(), pulse.gone(), "at least two data points"},
        {time, amplitude, one_pair, "at least two data points"},
        {time, amplitude, bumped, "Pulse shape time step does not match PMT step."},
    };
    for (const auto& [t, a, p, part] : cases) {
        EXPECT_TRUE(throws_with<std::ios_base::failure>([&] { c.build_from(t, a, p); }, part));
    }
    EXPECT_NO_THROW(c.build_from(time, amplitude, TempFile(shape_text(1.0005e-9, {1, 1, 1}))));  // 0.05 % off
}

TEST(Tarvex, CopyContinuesTheSourceSequence) {
    Config noisy;
    std::tie(noisy.noise, noisy.jitter) = std::tuple(2.0, -1);
    auto samples = [](Tarvex& model) {  // all windows in a row
        Window all;
        for (const auto& r : model.simulate({1e-7, 3e-7, 3.02e-7, 3.05e-7, 6e-7, 6.01e-7}, 1)) {
            all.insert(all.end(), r.waveform.begin(), r.waveform.end());
        }
        return all;
    };
    Tarvex source = noisy.build(), twin = noisy.build();
    const Window first = samples(source);
    ASSERT_EQ(first, samples(twin));
    Tarvex copy(source);
    const Window next = samples(twin);
    EXPECT_NE(first, next);
    EXPECT_EQ(samples(copy), next);
    source = copy;
    EXPECT_EQ(samples(source), samples(twin));
}

TEST(Tarvex, TrailingZerosTakeTheTruncatedOffset) {
    Config c;  // window of samples 27 to 34 around the pulse on samples 28 to 30
    for (const double offset : {100.7, 0.0, -5.0}) {
        c.offset = offset;
        const Records records = c.build().simulate({1e-7}, 3);
        ASSERT_EQ(records.size(), 1u);
        const Window& w = records[0].waveform;
        ASSERT_EQ(w.size(), 8u);
        EXPECT_TRUE(w[0] == 0 && w[3] != 0) << "a leading zero stays, the walk stops at sample 30";
        EXPECT_EQ(Window(w.begin() + 4, w.end()), Window(4, offset > 0 ? 100 : 0));
    }
}

TEST(Tarvex, EarlyTriggerPolicies) {
    Config c;
    c.trigger_offset = -10;  // trigger on sample 5 (2e-8 s): the window opens at -2e-8 s
    const std::tuple<Early, std::string, std::size_t> policies[] = {
        {Early::IGNORE, "", 0},
        {Early::ZERO, "", 1},
        {Early::WARN, "[Warning] Ignoring early trigger at -2e-08 s.\n", 0},
    };
    for (const auto& [policy, warning, count] : policies) {
        c.early_handling = policy;
        Tarvex model = c.build();
        std::ostringstream captured;
        std::streambuf* const cerr = std::cerr.rdbuf(captured.rdbuf());
        const Records records = model.simulate({6e-9}, 0);
        std::cerr.rdbuf(cerr);
        EXPECT_EQ(captured.str(), warning);
        ASSERT_EQ(records.size(), count);
        for (const auto& r : records) {  // samples -5 to 2, all filled
            EXPECT_EQ(std::tie(r.trigger_time_s, r.trigger_time_ticks, r.waveform),
                      std::tuple(0u, 0u, Window(8, 100)));
        }
    }
    c.early_handling = Early::THROW;
    EXPECT_TRUE(throws_with<std::runtime_error>([&] { c.build().simulate({6e-9}, 0); },
                                                "Early trigger at -0.000000s.", true));
    c.trigger_offset = -5;  // a window start of exactly 0 is not early
    EXPECT_EQ(c.build().simulate({6e-9}, 0).size(), 1u);
}

TEST(Tarvex, RecordTicksAreTruncated) {
    Config c;
    c.trigger_offset = 0;  // PEs at 108 and 104 ns trigger on samples 31 and 30; 31 * 4 ns / 4 ns < 31
    EXPECT_EQ(c.build().simulate({1.08e-7}, 0).at(0).trigger_time_ticks, 30u);
    EXPECT_EQ(c.build().simulate({1.04e-7}, 0).at(0).trigger_time_ticks, 30u);
}

TEST(Tarvex, ExternalTriggerWindowsAreForced) {
    Tarvex model = Config{}.build();
    // No PEs: every forced sample is the offset 100.7 rounded, not 0.
    const Records records = model.simulate_external_trigger({}, {2e-9, 0.0, 1e-6}, 1e-8, 5);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(std::tie(records[0].channel, records[0].waveform), std::tuple(5, Window(3, 101)));
    EXPECT_EQ(std::tie(records[1].waveform, records[2].waveform), std::tuple(Window(2, 101), Window(2, 101)));
    const auto negative_trigger = [&] { model.simulate_external_trigger({}, {0.0, -1.0}, 1e-8, 0); };
    EXPECT_TRUE(throws_with<std::runtime_error>(negative_trigger,
                                                "External trigger time cannot be negative: -1.000000s.", true));
}

TEST(Tarvex, CalibrationNeedsHalfOfTheRunsValid) {
    Tarvex model = Config{}.build();
    EXPECT_TRUE(std::isnan(model.calibrate_delay(1, 0)));
    EXPECT_TRUE(std::isnan(model.calibrate_delay(0, 1)));
    EXPECT_TRUE(throws_with<std::runtime_error>([&] { model.calibrate_delay(0, 2); }, calibration_failed, true));
    EXPECT_DOUBLE_EQ(model.calibrate_delay(1, 3), 8e-9);  // trigger on sample 4, window from 2 ticks
}

TEST(Tarvex, RefusesTimesAndWindowsItCannotReadOutExactly) {
    Config c;
    Tarvex model = c.build();
    // A 1 ns grid stays exact to about 2^40 steps: some 1100 s from the run start.
    EXPECT_NO_THROW(model.simulate({1000.0}, 0));
    for (const double time : {1200.0, -1200.0, 8e5, double(NAN)}) {
        EXPECT_TRUE(throws_with<std::invalid_argument>(
            [&] {
                model.simulate({0.0, time}, 0);
            },
            "pe_times must be"))
            << time;
    }
    EXPECT_TRUE(throws_with<std::invalid_argument>([&] { model.simulate_external_trigger({}, {1e4}, 1e-8, 0); },
                                                   "trigger_times must be at most"));
    // On a 1 s grid the 32-bit seconds of the records end first.
    Config coarse;
    std::tie(coarse.pmt_time_step, coarse.adc_step) = std::tuple(1.0, 4.0);
    coarse.time_spectrum = "10 1\n10.5 1\n";
    coarse.pulse_shape = shape_text(1.0, {0.5, 1, 1, 0.5});
    Tarvex slow = coarse.build();
    EXPECT_TRUE(throws_with<std::invalid_argument>([&] { slow.simulate({4294967250.0}, 0); }, "32 bits"));
    EXPECT_NO_THROW(slow.simulate({4294967000.0}, 0));
    EXPECT_TRUE(throws_with<std::invalid_argument>(
        [&] { slow.simulate_external_trigger({}, {4294967296.0}, 1.0, 0); }, "32 bits"));
    // One window of 2^31 - 1 samples takes 4 GB; the call is refused where that cannot fit.
    c.waveform_samples = 2147483647;
    if (2.0 * c.waveform_samples > pelorin::checks::physical_memory()) {
        EXPECT_TRUE(throws_with<std::length_error>([&] { c.build().simulate({1e-7}, 0); }, "waveform_samples"));
    }
}

}  // namespace
