#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <vector>

#include "corvane/multipmt_trigger.hpp"
#include "pelorin/random/mersenne_twister.hpp"

namespace pelorin {

namespace detail {
struct ReadoutPaths;
}

/// Multi-PMT module channel: PMT, time-over-threshold TDC and one ADC sample per hit.
class MultiPMT {
public:
    MultiPMT(const std::filesystem::path& time_spectrum, const std::filesystem::path& amplitude_spectrum,
             double pmt_time_step, double tot_step, const std::filesystem::path& tot_pulse_shape,
             double tot_threshold, double tot_dead_time, double tot_noise, double tot_jitter, double adc_step,
             const std::filesystem::path& adc_pulse_shape, int adc_jitter, double adc_gain, double adc_offset,
             double adc_noise, double adc_clip, double sample_delay, int seed);

    MultiPMT(const MultiPMT& other);
    MultiPMT& operator=(const MultiPMT& other);
    MultiPMT(MultiPMT&& other) noexcept;
    MultiPMT& operator=(MultiPMT&& other) noexcept;
    ~MultiPMT();

    /// One record per ToT hit of one channel's PE times (seconds, any order).
    std::vector<corvane::MultiPMTTrigger> simulate(const std::vector<double>& pe_times, int channel);

    /// Mean record time in seconds of the runs of a burst at time 0 that give one hit.
    double calibrate_delay(std::size_t num_pes, std::size_t num_sim);

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
