#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "pelorin/tarvex.hpp"
#include "test_support.hpp"

namespace {

using pelorin::Tarvex;
using pelorin::test::TempFile;
using Early = Tarvex::EarlyHandling;
using Records = std::vector<corvane::TarvexTrigger>;
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

const std::vector<double> pulse_values{0.5, 1, 1, 1, 1, 1, 1, 1, 0.5, 0.2, 0.1, 0.05};

// Delays of 10 to 10.5 ns put every PE on one known 1 ns analog index and the 12-tap
// pulse covers 12 of them: a PE at 100 ns gives ADC samples 28 and 29 near 200 LSB and
// sample 30 near 111 LSB, and one trigger on sample 29.
struct Config {
    std::string time_spectrum = "1e-8 1\n1.05e-8 1\n";
    std::string amplitude_spectrum = "0.9 1\n1.1 1\n";
    std::string pulse_shape = shape_text(1e-9, pulse_values);
    double pmt_time_step = 1e-9;
    double adc_step = 4e-9;
    int jitter = 0;
    double gain = 100, offset = 100.7, preamp_clip = 4000, noise = 0, clip = 4095;
    int waveform_samples = 8, retrigger_offset = 4;
    std::vector<int> trigger_kernel{1};
    int adc_threshold = 50, trigger_norm = 1, trigger_offset = -2, seed = 7;
    Early early_handling = Early::WARN;
};

Config noisy() {
    Config c;
    c.noise = 2;
    c.jitter = -1;
    return c;
}

Tarvex build_from(const Config& c, const Path& time, const Path& amplitude, const Path& pulse) {
    return Tarvex(time, amplitude, c.pmt_time_step, c.adc_step, pulse, c.jitter, c.gain, c.offset,
                  c.preamp_clip, c.noise, c.clip, c.waveform_samples, c.retrigger_offset,
                  c.trigger_kernel, c.adc_threshold, c.trigger_norm, c.trigger_offset, c.seed,
                  c.early_handling);
}

Tarvex build(const Config& c) {
    const TempFile time(c.time_spectrum), amplitude(c.amplitude_spectrum), pulse(c.pulse_shape);
    return build_from(c, time, amplitude, pulse);
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
        if (a[i].channel != b[i].channel || a[i].trigger_time_s != b[i].trigger_time_s ||
            a[i].trigger_time_ticks != b[i].trigger_time_ticks || a[i].baseline != b[i].baseline ||
            a[i].intsum != b[i].intsum || a[i].waveform != b[i].waveform) {
            return testing::AssertionFailure() << "records differ at " << i;
        }
    }
    return testing::AssertionSuccess();
}

/// Redirects std::cerr into a string for its lifetime.
class CerrCapture {
public:
    CerrCapture() : previous_(std::cerr.rdbuf(captured_.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(previous_); }
    std::string text() const { return captured_.str(); }

private:
    std::ostringstream captured_;
    std::streambuf* previous_;
};

const std::vector<double> burst_pes{1e-7, 3e-7, 3.02e-7, 3.05e-7, 6e-7, 6.01e-7};

TEST(Tarvex, ConstructionStopsAtTheFirstBadFileInReadingOrder) {
    const Config c;
    const TempFile time(c.time_spectrum), amplitude(c.amplitude_spectrum), pulse(c.pulse_shape);
    const TempFile one_pair("0 1\n");
    const Path gone_time = time.path().string() + ".gone-time";
    const Path gone_amplitude = time.path().string() + ".gone-amplitude";
    const Path gone_pulse = time.path().string() + ".gone-pulse";
    auto fails = [&](const Path& t, const Path& a, const Path& p, const std::string& part) {
        return throws_with<std::ios_base::failure>([&] { build_from(c, t, a, p); }, part);
    };
    const std::string opening = "Failed to open spectrum file: ";
    EXPECT_TRUE(fails(gone_time, gone_amplitude, gone_pulse, opening + gone_time.native()));
    EXPECT_TRUE(fails(time, gone_amplitude, gone_pulse, opening + gone_amplitude.native()));
    EXPECT_TRUE(fails(time, amplitude, gone_pulse, opening + gone_pulse.native()));
    const std::string too_short = "Spectrum file must contain at least two data points.";
    EXPECT_TRUE(fails(one_pair, gone_amplitude, gone_pulse, too_short));
    EXPECT_TRUE(fails(time, amplitude, one_pair, too_short));
}

TEST(Tarvex, PulseShapeSpacingAndDuration) {
    Config c;
    c.pulse_shape = shape_text(1.0005e-9, pulse_values);  // 0.05 % off: accepted
    EXPECT_NO_THROW(build(c));
    c.pulse_shape = shape_text(1e-9, pulse_values, 0.0, 5);  // one spacing 0.2 % off
    try {
        build(c);
        ADD_FAILURE() << "bad spacing accepted";
    } catch (const std::ios_base::failure& e) {
        EXPECT_NE(std::string(e.what()).find("Pulse shape time step does not match PMT step."),
                  std::string::npos);
        EXPECT_EQ(e.code(), std::io_errc::stream);
    }
    c.pulse_shape = "0 0.5\n1e-9 1\n2e-9 0.2\n";
    EXPECT_EQ(build(c).pulse_duration(), 2e-9);
}

TEST(Tarvex, CopiesAndMovesContinueTheSourceSequence) {
    Tarvex source = build(noisy());
    Tarvex twin = build(noisy());
    const Records first = source.simulate(burst_pes, 1);
    ASSERT_TRUE(same_records(first, twin.simulate(burst_pes, 1)));
    ASSERT_FALSE(first.empty());

    Tarvex copy(source);
    const Records next = source.simulate(burst_pes, 1);
    EXPECT_FALSE(same_records(first, next));  // the engine moved on
    EXPECT_TRUE(same_records(copy.simulate(burst_pes, 1), next));
    EXPECT_TRUE(same_records(twin.simulate(burst_pes, 1), next));

    Config other = noisy();
    other.seed = 99;
    Tarvex assigned = build(other);
    assigned = source;
    const Tarvex& alias = source;
    source = alias;
    const Records third = source.simulate(burst_pes, 1);
    EXPECT_TRUE(same_records(assigned.simulate(burst_pes, 1), third));
    EXPECT_TRUE(same_records(twin.simulate(burst_pes, 1), third));

    Tarvex moved(std::move(source));
    Tarvex target = build(other);
    target = std::move(moved);
    EXPECT_TRUE(same_records(target.simulate(burst_pes, 1), twin.simulate(burst_pes, 1)));
}

TEST(Tarvex, TrailingZerosTakeTheTruncatedOffset) {
    Config c;  // window of samples 27 to 34 around the pulse on samples 28 to 30
    Records records = build(c).simulate({1e-7}, 3);
    ASSERT_EQ(records.size(), 1u);
    const corvane::TarvexTrigger& r = records[0];
    EXPECT_EQ(r.channel, 3);
    ASSERT_EQ(r.waveform.size(), 8u);
    EXPECT_EQ(r.waveform[0], 0);   // leading zero stays
    EXPECT_GT(r.waveform[3], 100); // walk stops at the last stored sample
    for (std::size_t i = 4; i < 8; ++i) {
        EXPECT_EQ(r.waveform[i], 100) << i;
    }
    float sum = 0.0f;
    for (const std::uint16_t s : r.waveform) {
        sum += static_cast<float>(s) - 100.7f;
    }
    EXPECT_EQ(r.baseline, 100.7f);
    EXPECT_EQ(r.intsum, sum);

    for (const double offset : {0.0, -5.0}) {
        c.offset = offset;
        records = build(c).simulate({1e-7}, 0);
        ASSERT_EQ(records.size(), 1u);
        ASSERT_EQ(records[0].waveform.size(), 8u);
        for (std::size_t i = 4; i < 8; ++i) {
            EXPECT_EQ(records[0].waveform[i], 0) << "offset " << offset;
        }
    }
}

TEST(Tarvex, EarlyTriggerPolicies) {
    Config c;
    c.trigger_offset = -10;  // trigger on sample 5 (2e-8 s): the window opens at -2e-8 s
    const std::vector<double> pe{6e-9};
    auto run = [&](Early policy, std::string& err) {
        c.early_handling = policy;
        Tarvex model = build(c);
        const CerrCapture capture;
        Records records = model.simulate(pe, 0);
        err = capture.text();
        return records;
    };
    std::string err;
    EXPECT_TRUE(run(Early::IGNORE, err).empty());
    EXPECT_EQ(err, "");
    EXPECT_TRUE(run(Early::WARN, err).empty());
    EXPECT_EQ(err, "[Warning] Ignoring early trigger at -2e-08 s.\n");
    const Records zero = run(Early::ZERO, err);
    EXPECT_EQ(err, "");
    ASSERT_EQ(zero.size(), 1u);
    EXPECT_EQ(zero[0].trigger_time_s, 0u);
    EXPECT_EQ(zero[0].trigger_time_ticks, 0u);
    EXPECT_EQ(zero[0].waveform, std::vector<std::uint16_t>(8, 100));  // samples -5 to 2, all filled
    c.early_handling = Early::THROW;
    EXPECT_TRUE(throws_with<std::runtime_error>([&] { build(c).simulate(pe, 0); },
                                                "Early trigger at -0.000000s.", true));

    c.trigger_offset = -5;  // window start exactly 0 is not early
    const Records at_zero = build(c).simulate(pe, 0);
    ASSERT_EQ(at_zero.size(), 1u);
    EXPECT_EQ(at_zero[0].trigger_time_ticks, 0u);
}

TEST(Tarvex, RecordTicksAreTruncated) {
    Config c;
    c.trigger_offset = 0;
    // PE at 108 ns: trigger on sample 31, whose time / 4 ns lies just below 31.
    const Records on_31 = build(c).simulate({1.08e-7}, 0);
    const Records on_30 = build(c).simulate({1.04e-7}, 0);
    ASSERT_EQ(on_31.size(), 1u);
    ASSERT_EQ(on_30.size(), 1u);
    EXPECT_EQ(on_31[0].trigger_time_s, 0u);
    EXPECT_EQ(on_31[0].trigger_time_ticks, 30u);
    EXPECT_EQ(on_30[0].trigger_time_ticks, 30u);
}

TEST(Tarvex, ExternalTriggerWindowsAreForced) {
    Tarvex model = build(Config{});
    // No PEs: every forced sample is the offset 100.7 rounded, not 0.
    const Records records = model.simulate_external_trigger({}, {2e-9, 0.0, 1e-6}, 1e-8, 5);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].waveform, std::vector<std::uint16_t>(3, 101));
    EXPECT_EQ(records[1].waveform, std::vector<std::uint16_t>(2, 101));
    EXPECT_EQ(records[2].waveform, std::vector<std::uint16_t>(2, 101));
    EXPECT_EQ(records[0].trigger_time_ticks, 0u);
    EXPECT_EQ(records[0].channel, 5);
    EXPECT_EQ(records[1].intsum, (101.0f - 100.7f) + (101.0f - 100.7f));

    EXPECT_TRUE(throws_with<std::runtime_error>(
        [&] { model.simulate_external_trigger({}, {0.0, -1.0}, 1e-8, 0); },
        "External trigger time cannot be negative: -1.000000s.", true));
}

TEST(Tarvex, CalibrationNeedsHalfOfTheRunsValid) {
    Tarvex model = build(Config{});
    EXPECT_TRUE(std::isnan(model.calibrate_delay(1, 0)));
    EXPECT_TRUE(std::isnan(model.calibrate_delay(0, 1)));
    EXPECT_TRUE(throws_with<std::runtime_error>(
        [&] { model.calibrate_delay(0, 2); },
        "Too many simulations did not produce a valid trigger. Calibration failed.", true));
    // A PE at 0 triggers on sample 4; the window opens two samples earlier, at 2 ticks.
    EXPECT_DOUBLE_EQ(model.calibrate_delay(1, 3), 8e-9);
}

TEST(Tarvex, RejectsArgumentsOutsideTheModel) {
    const std::vector<std::tuple<const char*, double Config::*, double>> cases{
        {"pmt_time_step", &Config::pmt_time_step, 0.0}, {"pmt_time_step", &Config::pmt_time_step, -1e-9},
        {"pmt_time_step", &Config::pmt_time_step, nan}, {"pmt_time_step", &Config::pmt_time_step, inf},
        {"adc_step", &Config::adc_step, 0.0},           {"adc_step", &Config::adc_step, -4e-9},
        {"adc_step", &Config::adc_step, nan},           {"adc_step", &Config::adc_step, inf},
        {"adc_step", &Config::adc_step, 0.5e-9},        {"gain", &Config::gain, nan},
        {"gain", &Config::gain, inf},                   {"offset", &Config::offset, nan},
        {"preamp_clip", &Config::preamp_clip, inf},     {"noise", &Config::noise, nan},
        {"clip", &Config::clip, inf},                   {"clip", &Config::clip, 1e12},
    };
    for (const auto& [name, field, value] : cases) {
        Config c;
        c.*field = value;
        EXPECT_TRUE(throws_with<std::invalid_argument>([&] { build(c); }, name)) << value;
    }
    Config c;
    c.trigger_norm = 0;
    EXPECT_TRUE(throws_with<std::invalid_argument>([&] { build(c); }, "trigger_norm"));

    for (const char* text : {"2e-9 1\n1e-9 1\n", "0 1\n1e-9 -1\n2e-9 1\n", "0 0\n1e-9 0\n"}) {
        const TempFile time(text), amplitude(c.amplitude_spectrum), pulse(c.pulse_shape);
        EXPECT_TRUE(throws_with<std::ios_base::failure>(
            [&] { build_from(Config{}, time, amplitude, pulse); }, time.path().native()))
            << text;
    }

    Tarvex model = build(Config{});
    for (const double t : {nan, 1e300}) {
        EXPECT_TRUE(throws_with<std::invalid_argument>([&] { model.simulate({t}, 0); }, "pe_times"));
    }
    EXPECT_TRUE(throws_with<std::invalid_argument>(
        [&] { model.simulate_external_trigger({}, {nan}, 1e-8, 0); }, "trigger_times"));
    EXPECT_TRUE(throws_with<std::invalid_argument>(
        [&] { model.simulate_external_trigger({}, {0.0}, nan, 0); }, "readout_window"));
}

TEST(Tarvex, SmallestFilteredValueOverMinusOneDoesNotTrap) {
    Config c = noisy();
    c.trigger_kernel = {std::numeric_limits<int>::min()};  // odd samples filter to INT_MIN
    c.trigger_norm = -1;
    std::vector<double> pes;
    for (int i = 1; i <= 40; ++i) {
        pes.push_back(i * 1e-7);
    }
    Tarvex model = build(c);
    try {
        // Only the quotient of INT_MIN by -1 can exceed the threshold here.
        EXPECT_FALSE(model.simulate(pes, 0).empty());
    } catch (const std::exception&) {
        // A reported error is acceptable; a hardware trap is not.
    }
}

}  // namespace
