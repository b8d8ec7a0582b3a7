#include "pelorin/adc_sim.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>

namespace pelorin {

ADCSim::ADCSim(double adc_step_, SparseConvolution<double> pulse_shape_, int jitter_, double gain_,
               double offset_, double preamp_clip_, double noise_, double clip_)
    : adc_step(adc_step_),
      pulse_shape(std::move(pulse_shape_)),
      jitter(jitter_),
      gain(gain_),
      offset(offset_),
      preamp_clip(preamp_clip_),
      noise(noise_),
      clip(clip_) {}

SparseWaveform<double> ADCSim::sample_down(const SparseWaveform<double>& shaped,
                                           std::mt19937& rng) const {
    SparseWaveform<double> sampled(adc_step);
    // ADC period in analog steps; the time stamp of ADC sample q is q * adc_step
    // whatever the remainder of adc_step / analog step.
    const std::int64_t period = time_to_index(adc_step, shaped.step);
    if (period < 1) {
        throw std::invalid_argument("ADCSim: adc_step is shorter than one analog step.");
    }
    std::int64_t phase = jitter;
    if (phase < 0) {
        if (period > std::numeric_limits<int>::max()) {
            throw std::invalid_argument("ADCSim: adc_step spans too many analog steps for a random phase.");
        }
        std::uniform_int_distribution<int> random_phase(0, static_cast<int>(period - 1));
        phase = random_phase(rng);
    }
    for (const auto& [index, value] : shaped.samples) {
        // Floor quotient and non-negative remainder, also for negative indices.
        std::int64_t quotient = index / period;
        std::int64_t remainder = index % period;
        if (remainder < 0) {
            remainder += period;
            --quotient;
        }
        if (remainder == phase) {
            sampled.add_sample(static_cast<double>(quotient) * adc_step, value);
        }
    }
    return sampled;
}

unsigned short ADCSim::digitise(double value, double noise_draw) const {
    double y = value * gain + offset;
    if (y < 0.0) {
        y = 0.0;
    }
    if (preamp_clip < y) {
        y = preamp_clip;
    }
    double x = noise_draw + y;
    // Written as !(x >= 0) so that a NaN signal ends at 0 instead of reaching the
    // integer conversion.
    if (!(x >= 0.0)) {
        x = 0.0;
    }
    if (clip < x) {
        x = clip;
    }
    // Round half away from zero, then keep the low 16 bits of the 32-bit count.
    const auto count = static_cast<std::int32_t>(std::round(x));
    return static_cast<unsigned short>(count);
}

SparseWaveform<unsigned short> ADCSim::simulate(const SparseWaveform<double>& analog,
                                                std::mt19937& rng) const {
    const SparseWaveform<double> sampled = sample_down(pulse_shape.convolve(analog), rng);
    SparseWaveform<unsigned short> adc(adc_step);
    adc.samples.reserve(sampled.samples.size());
    // One distribution per call: its spare Gaussian carries over between samples only.
    std::normal_distribution<double> gaussian(0.0, noise);
    for (const auto& [index, value] : sampled.samples) {
        const double noise_draw = gaussian(rng);
        adc.add_sample(static_cast<double>(index) * adc_step, digitise(value, noise_draw));
    }
    return adc;
}

}  // namespace pelorin
