#pragma once

// The ADC stage as a stream: the samples that ADCSim::simulate would store, in ascending
// order, each with its noise draw, computed only at the analog points the ADC reads.

#include <cstdint>
#include <random>
#include <vector>

#include "pelorin/adc_sim.hpp"
#include "stages/impulse_train.hpp"

namespace pelorin::stream {

/// ADC period in analog steps and the sampling phase of one call; a negative jitter draws
/// the phase, as the stage does, before any noise.
struct Sampling {
    std::int64_t period;
    std::int64_t phase;
};
Sampling draw_sampling(const ADCSim& adc, double analog_step, std::mt19937& rng);

/// Streams the ADC samples of an impulse train shaped by the stage's (equal-step) pulse
/// shape. `covered` are the runs of stored shaped points (every impulse, zero-valued ones
/// included, stores its K taps); `values` the impulses whose amplitudes sum there, sorted.
/// A zero-valued impulse only adds zeros, which never change a digitised sample.
///
/// For each ADC sample q, in ascending order, one normal draw is made; then, if
/// `sink.wants(q)`, the shaped value at analog index q * period + phase is formed (impulses
/// in ascending order, as the convolution sums them) and digitised into `sink.take(q, count)`.
template <typename Sink>
void stream_adc(const ADCSim& adc, const std::vector<Run>& covered, const std::vector<Impulse>& values,
                Sampling sampling, std::mt19937& rng, Sink& sink) {
    std::normal_distribution<double> gaussian(0.0, adc.noise);
    const auto [period, phase] = sampling;
    if (phase >= period) {
        return;  // no analog index has this remainder
    }
    const double* const kernel = adc.pulse_shape.kernel.data();
    const auto taps = static_cast<std::int64_t>(adc.pulse_shape.kernel.size());
    const Impulse* const impulses = values.data();
    const std::size_t count = values.size();
    std::size_t low = 0;
    std::size_t high = 0;
    for (const Run& run : covered) {
        std::int64_t q = ceil_div(run.first - phase, period);
        for (std::int64_t j = q * period + phase; j <= run.last; ++q, j += period) {
            const double noise = gaussian(rng);
            if (!sink.wants(q)) {
                continue;
            }
            while (high < count && impulses[high].index <= j) {
                ++high;
            }
            while (low < high && impulses[low].index <= j - taps) {
                ++low;
            }
            double value = 0.0;
            if (low < high) {
                value = impulses[low].amplitude * kernel[j - impulses[low].index];
                for (std::size_t m = low + 1; m < high; ++m) {
                    value = value + impulses[m].amplitude * kernel[j - impulses[m].index];
                }
            }
            sink.take(q, adc.digitise(value, noise));
        }
    }
}

}  // namespace pelorin::stream
