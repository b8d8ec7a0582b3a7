#pragma once

// Seeded scenarios of both models: random spectra, pulses, settings and calls, drawn with
// pelorin's own random layer so that they are the same on every platform. The regression
// digests and the comparison of the two readout paths run them.

#include <cmath>
#include <cstring>
#include <functional>
#include <ios>
#include <iostream>
#include <limits>
#include <new>
#include <sstream>
#include <utility>
#include <vector>

#include "pelorin/multipmt.hpp"
#include "pelorin/tarvex.hpp"
#include "test_support.hpp"

namespace pelorin::test {

inline void add_record(Digest& d, const corvane::TarvexTrigger& r) {
    d.add(r.channel), d.add(r.trigger_time_s), d.add(r.trigger_time_ticks), d.add(r.baseline), d.add(r.intsum);
    d.add(r.waveform.size());
    d.bytes(r.waveform.data(), r.waveform.size() * sizeof(std::uint16_t));
}

inline void add_record(Digest& d, const corvane::MultiPMTTrigger& r) {
    d.add(r.time), d.add(r.channel), d.add(r.time_over_threshold), d.add(r.adc_sample);
}

/// The exception's type as the digests have always recorded it: the Itanium ABI name that
/// the GNU library's typeid gives, whatever the platform's typeid says.
inline std::string exception_name(const std::exception& e) {
    if (dynamic_cast<const std::ios_base::failure*>(&e))
        return "NSt8ios_base7failureB5cxx11E";
    if (dynamic_cast<const std::invalid_argument*>(&e))
        return "St16invalid_argument";
    if (dynamic_cast<const std::length_error*>(&e))
        return "St12length_error";
    if (dynamic_cast<const std::logic_error*>(&e))
        return "St11logic_error";
    if (dynamic_cast<const std::runtime_error*>(&e))
        return "St13runtime_error";
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return "St9bad_alloc";
    return "St9exception";
}

/// Records or exception of one call, the warning lines it wrote and the engine after it.
template <typename Model, typename Call>
void add_call(Digest& d, Model& model, const Call& call) {
    std::ostringstream warnings;
    std::streambuf* const cerr_buffer = std::cerr.rdbuf(warnings.rdbuf());
    try {
        const auto result = call(model);
        if constexpr (std::is_same_v<std::decay_t<decltype(result)>, double>) {
            // A NaN's sign and payload are the machine's (0.0 / 0.0 is negative on x86-64,
            // positive on aarch64): every NaN counts as the one the digests were taken with.
            d.add(std::isnan(result) ? -std::numeric_limits<double>::quiet_NaN() : result);
        } else {
            d.add(result.size());
            for (const auto& record : result) {
                add_record(d, record);
            }
        }
    } catch (const std::exception& e) {
        d.add(exception_name(e) + ": " + e.what());
    }
    std::cerr.rdbuf(cerr_buffer);
    d.add(warnings.str());
    std::ostringstream engine;
    engine << model.engine();
    d.add(engine.str());
}

struct Choices {
    std::vector<int> pe_counts{0, 1, 2, 5, 20, 80, 300};
    std::vector<double> pe_spans{30e-9, 1e-6, 10e-6};
    std::vector<double> pe_starts{0.0, 0.0, -60e-9, -20e-9, 2e-6};
    std::vector<double> camera_adc_ratios{1.0, 2.5, 4.0, 4.05, 10.0, 40.0};
    std::vector<double> tot_ratios{1.0, 1.0, 2.0, 10.0, 1.5, 0.7, 3.3};
    std::vector<double> module_adc_ratios{1.0, 4.0, 4.05, 10.0, 40.0};
    std::vector<int> window_samples{0, 1, 8, 16, 33, 16, 16, 8, -3};
    std::vector<int> retrigger_offsets{-1, 0, 3, 8, 40};
    std::vector<int> trigger_offsets{-10, -4, 0, 3};
    int longest_trigger_kernel = 5;
};

// The scenarios draw one value per statement: the digests were first taken with function
// arguments evaluated right to left, an order that C++ leaves to the compiler.
struct Draw {
    pelorin::random::MersenneTwister rng;
    Choices choices;

    double uniform(double lo, double hi) { return uniform_real(rng, lo, hi); }
    int integer(int lo, int hi) { return pelorin::random::UniformIntDistribution(lo, hi)(rng); }
    template <typename T>
    T pick(std::initializer_list<T> list) {
        return list.begin()[integer(0, static_cast<int>(list.size()) - 1)];
    }
    template <typename T>
    T pick(const std::vector<T>& list) {
        return list[static_cast<std::size_t>(integer(0, static_cast<int>(list.size()) - 1))];
    }

    std::string spectrum(double lo, double span) {
        const int points = integer(2, 7);
        std::string text;
        char line[64];
        for (int i = 0; i < points; ++i) {
            const bool end = points > 2 && (i == 0 || i == points - 1);
            const double density = end ? pick({0.0, 0.5}) : uniform(0.1, 2.0);
            std::snprintf(line, sizeof line, "%.17g %.17g\n", lo + span * i / (points - 1), density);
            text += line;
        }
        return text;
    }

    /// A unipolar pulse, sometimes with undershoot, on a grid of `step`.
    std::string pulse(double step, int taps) {
        const double rise = uniform(1.0, taps / 3.0);
        const bool undershoot = integer(0, 3) == 0;
        std::vector<double> values;
        for (int k = 0; k < taps; ++k) {
            const double x = k / rise;
            values.push_back(x * std::exp(1.0 - x) - (undershoot ? 0.15 * x * x / taps : 0.0));
        }
        const double origin = uniform(-5e-9, 5e-9);
        const double stretch = pick({0.0, 0.0004, -0.0004});
        return shape_text(step * (1.0 + stretch), values, origin);
    }

    /// PE times of one call: none, scattered, coincident or partly before time 0; never sorted.
    std::vector<double> pe_times() {
        std::vector<double> times;
        const int n = pick(choices.pe_counts);
        const double span = pick(choices.pe_spans);
        const double first = pick(choices.pe_starts);
        for (int i = 0; i < n; ++i) {
            times.push_back(first + uniform(0.0, span));
        }
        if (n > 0 && integer(0, 2) == 0) {
            times.insert(times.end(), static_cast<std::size_t>(integer(1, 30)), times.front());
        }
        shuffle(times, rng);
        return times;
    }

    /// External trigger times: unsorted, off the ADC grid, repeated, sometimes negative.
    std::vector<double> trigger_times(double adc_step) {
        std::vector<double> times;
        const int n = pick({0, 1, 3, 10});
        for (int i = 0; i < n; ++i) {
            times.push_back(integer(0, 1) ? adc_step * integer(0, 500) : uniform(0.0, 2e-6));
        }
        if (n > 1 && integer(0, 4) == 0) {
            times[1] = times[0];
        }
        if (n > 0 && integer(0, 9) == 0) {
            times.back() = -uniform(0.0, 1e-6);
        }
        return times;
    }
};

/// A model and the calls to make on it, each with the digest it adds to.
template <typename Model>
struct Scenario {
    Model model;
    std::vector<std::pair<int, std::function<void(Digest&, Model&)>>> calls;

    template <typename Call>
    void add(int digest, Call call) {
        calls.emplace_back(digest, [call](Digest& d, Model& m) { add_call(d, m, call); });
    }
};

struct Files {
    TempFile time, amplitude, shape, second_shape;
};

inline Files model_files(Draw& draw, double pmt_step, double second_step) {
    const auto spectrum = [&](double lowest, double highest, double shortest, double longest) {
        const double span = draw.uniform(shortest, longest);
        return draw.spectrum(draw.uniform(lowest, highest), span);
    };
    const auto pulse = [&](double step, std::initializer_list<int> taps) {
        return draw.pulse(step, draw.pick(taps));
    };
    return {TempFile(spectrum(-5e-9, 20e-9, 0.5e-9, 15e-9)), TempFile(spectrum(0.0, 0.5, 0.3, 3.0)),
            TempFile(pulse(pmt_step, {2, 5, 12, 40, 120})), TempFile(pulse(second_step, {2, 4, 9, 25}))};
}

/// Digests of the camera's calls: triggered readout and calibration, external trigger.
enum CameraDigest { triggered = 0, external = 1 };

inline Scenario<pelorin::Tarvex> camera_scenario(Draw& draw) {
    const double pmt_step = draw.pick({1e-10, 2.5e-10, 5e-10, 1e-9});
    const double adc_step = pmt_step * draw.pick(draw.choices.camera_adc_ratios);
    const Files files = model_files(draw, pmt_step, pmt_step);
    const int period = static_cast<int>(adc_step / pmt_step + 0.001);
    const int jitter = draw.pick({0, -1, -7, 1, period - 1, period, period + 3});
    const double gain = draw.uniform(5.0, 200.0), offset = draw.pick({0.0, 50.0, 100.7, -20.0, 3.3});
    std::vector<int> kernel(static_cast<std::size_t>(draw.integer(1, draw.choices.longest_trigger_kernel)));
    int kernel_sum = 0;
    for (int& tap : kernel) {
        tap = draw.pick({1, 1, 2, 3, -1, 0});
        kernel_sum += tap;
    }
    const int norm = draw.pick({1, 1, 2, 3, -1, -2});
    const int threshold = static_cast<int>((offset + gain * draw.uniform(0.05, 1.5)) * kernel_sum / norm);
    const int threshold_shift = draw.integer(-3, 3);
    const auto policy = draw.pick({pelorin::Tarvex::EarlyHandling::IGNORE, pelorin::Tarvex::EarlyHandling::ZERO,
                                   pelorin::Tarvex::EarlyHandling::WARN, pelorin::Tarvex::EarlyHandling::THROW});
    const int samples = draw.pick(draw.choices.window_samples);
    const int seed = draw.integer(-5, 1000000);
    const int trigger_offset = draw.pick(draw.choices.trigger_offsets);
    const int retrigger_offset = draw.pick(draw.choices.retrigger_offsets);
    const double clip = draw.pick({4095.0, 1000.0, 65535.0, 70000.0});
    const double noise = draw.pick({0.0, 0.7, 3.0});
    const double preamp_clip = draw.pick({4095.0, 300.0, -5.0});
    Scenario<pelorin::Tarvex> s{
        pelorin::Tarvex(files.time, files.amplitude, pmt_step, adc_step, files.shape, jitter, gain, offset,
                        preamp_clip, noise, clip, samples, retrigger_offset, kernel, threshold + threshold_shift,
                        norm, trigger_offset, seed, policy),
        {}};
    for (int call = 0; call < 3; ++call) {
        s.add(triggered, [pes = draw.pe_times(), call](auto& m) { return m.simulate(pes, call - 1); });
    }
    for (int call = 0; call < 2; ++call) {
        const std::vector<double> pes = draw.pe_times(), triggers = draw.trigger_times(adc_step);
        const double window = draw.pick({0.0, 1e-8, 3.7e-8, 1e-7, 1e-7, 2e-7, 1e-8, -1e-8});
        s.add(external, [=](auto& m) { return m.simulate_external_trigger(pes, triggers, window, 4); });
    }
    const auto num_pes = static_cast<std::size_t>(draw.integer(0, 6));
    const auto num_sim = static_cast<std::size_t>(draw.integer(0, 4));
    s.add(triggered, [=](auto& m) { return m.calibrate_delay(num_pes, num_sim); });
    return s;
}

inline Scenario<pelorin::MultiPMT> multipmt_scenario(Draw& draw) {
    const double pmt_step = draw.pick({1e-10, 2.5e-10, 5e-10, 1e-9});
    const double tot_step = pmt_step * draw.pick(draw.choices.tot_ratios);
    const double adc_step = pmt_step * draw.pick(draw.choices.module_adc_ratios);
    const Files files = model_files(draw, pmt_step, tot_step);
    const int period = static_cast<int>(adc_step / pmt_step + 0.001);
    const int seed = draw.integer(-5, 1000000);
    const double sample_delay = draw.pick({0.0, 3e-9, -2e-9, 1e-7});
    const double adc_clip = draw.pick({4095.0, 150.0, 65535.0});
    const double adc_noise = draw.pick({0.0, 1.5});
    const double adc_offset = draw.pick({0.0, 100.0, 20.5});
    const double adc_gain = draw.uniform(5.0, 200.0);
    const int adc_jitter = draw.pick({0, -1, 1, period - 1, period});
    const double tot_jitter = draw.pick({0.0, 1e-10, 1e-9});
    const double tot_noise = draw.pick({0.0, 0.02, 0.2});
    const double dead_time = draw.pick({0.0, 2e-9, 10e-9});
    const double tot_threshold = draw.uniform(0.05, 1.2);
    Scenario<pelorin::MultiPMT> s{
        pelorin::MultiPMT(files.time, files.amplitude, pmt_step, tot_step, files.second_shape, tot_threshold,
                          dead_time, tot_noise, tot_jitter, adc_step, files.shape, adc_jitter, adc_gain,
                          adc_offset, adc_noise, adc_clip, sample_delay, seed),
        {}};
    for (int call = 0; call < 3; ++call) {
        s.add(0, [pes = draw.pe_times(), call](auto& m) { return m.simulate(pes, 7 - call); });
    }
    const auto num_pes = static_cast<std::size_t>(draw.integer(0, 6));
    const auto num_sim = static_cast<std::size_t>(draw.integer(0, 4));
    s.add(0, [=](auto& m) { return m.calibrate_delay(num_pes, num_sim); });
    return s;
}

/// The long PE lists, times tens of seconds out, long windows and ToT steps off the analog
/// grid of the large scenarios.
inline Choices wide_choices() {
    Choices wide;
    wide.pe_counts = {0, 700, 3000, 8000};
    wide.pe_spans = {1e-5, 1e-4, 1e-3};
    wide.pe_starts = {0.0, -1e-6, 10.0, 20.0, -20.0, 25.0};
    wide.camera_adc_ratios = {1.0, 4.0, 40.0, 4.0001};
    wide.tot_ratios = {0.999, 1.001, 2.0005, 0.5, 1.0 / 3.0, 7.77, 10.0};
    wide.module_adc_ratios = {1.0, 4.0, 40.0};
    wide.window_samples = {200, 16, 32, 0};
    wide.retrigger_offsets = {0, 1, 8};
    wide.trigger_offsets = {-30, -2, 0, 5};
    wide.longest_trigger_kernel = 9;
    return wide;
}

}  // namespace pelorin::test
