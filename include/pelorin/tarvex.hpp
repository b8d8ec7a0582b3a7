#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <vector>

#include "corvane/tarvex_trigger.hpp"
#include "pelorin/random/mersenne_twister.hpp"
#include "pelorin/spectrum.hpp"

namespace pelorin {

namespace detail {
struct ReadoutPaths;
}

/// Camera digitiser: PMT, pulse-shaping ADC and digital trigger with readout windows.
class Tarvex {
public:
    /// What triggered readout does with a window that starts before time 0.
    enum class EarlyHandling : int { IGNORE = 0, ZERO = 1, WARN = 2, THROW = 3 };

    Tarvex(const std::filesystem::path& time_spectrum, const std::filesystem::path& amplitude_spectrum,
           double pmt_time_step, double adc_step, const std::filesystem::path& pulse_shape, int jitter,
           double gain, double offset, double preamp_clip, double noise, double clip, int waveform_samples,
           int retrigger_offset, std::vector<int> trigger_kernel, int adc_threshold, int trigger_norm,
           int trigger_offset, int seed, EarlyHandling early_handling = EarlyHandling::WARN);

    Tarvex(const Tarvex& other);
    Tarvex& operator=(const Tarvex& other);
    Tarvex(Tarvex&& other) noexcept;
    Tarvex& operator=(Tarvex&& other) noexcept;
    ~Tarvex();

    /// Reads a two-column spectrum or pulse-shape file.
    static Spectrum read_spectrum(const std::filesystem::path& path);

    /// Triggered readout of one channel's PE times (seconds, any order).
    std::vector<corvane::TarvexTrigger> simulate(const std::vector<double>& pe_times, int channel);

    /// Readout of one window of `readout_window` seconds at each external trigger time.
    std::vector<corvane::TarvexTrigger> simulate_external_trigger(const std::vector<double>& pe_times,
                                                                  const std::vector<double>& trigger_times,
                                                                  double readout_window, int channel);

    /// Mean delay in seconds between a burst of PEs at time 0 and the record time.
    double calibrate_delay(std::size_t num_pes, std::size_t num_sim);

    /// Length of the pulse-shape file's time column in seconds.
    double pulse_duration() const;

    /// The model's random engine, where the calls so far have left it: the sequence of
    /// std::mt19937 seeded with `seed`.
    const random::MersenneTwister& engine() const;

private:
    friend struct detail::ReadoutPaths;
    struct Impl;
    Impl& state();
    const Impl& state() const;
    std::unique_ptr<Impl> impl;
};

}  // namespace pelorin
