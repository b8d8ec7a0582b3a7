#include "pelorin/adc_sim.hpp"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>

#include "pelorin/random/distributions.hpp"
#include "waveform/grid.hpp"

namespace pelorin {

ADCSim::ADCSim(double adc_step_, SparseConvolution<double> pulse_shape_, int jitter_, double gain_, double offset_,
               double preamp_clip_, double noise_, double clip_)
    : adc_step(adc_step_),
      pulse_shape(std::move(pulse_shape_)),
      jitter(jitter_),
      gain(gain_),
      offset(offset_),
      preamp_clip(preamp_clip_),
      noise(noise_),
      clip(clip_) {}

ADCSampling ADCSim::sampling(double analog_step, random::MersenneTwister& rng) const {
    // The time stamp of ADC sample q is q * adc_step whatever the remainder of
    // adc_step / analog_step: the effective period is a whole number of analog steps.
    const std::int64_t period = time_to_index(adc_step, analog_step);
    if (period < 1) {
        throw std::invalid_argument("ADCSim: adc_step is shorter than one analog step.");
    }
    std::int64_t phase = jitter;
    if (phase < 0) {
        if (period > std::numeric_limits<int>::max()) {
            throw std::invalid_argument("ADCSim: adc_step spans too many analog steps for a random phase.");
        }
        phase = random::UniformIntDistribution(0, static_cast<int>(period - 1))(rng);
    }
    return {period, phase};
}

SparseWaveform<double> ADCSim::sample_down(const SparseWaveform<double>& shaped,
                                           random::MersenneTwister& rng) const {
    SparseWaveform<double> sampled(adc_step);
    const auto [period, phase] = sampling(shaped.step, rng);
    for (const auto& [index, value] : shaped.samples) {
        // Floor quotient and non-negative remainder, also for negative indices.
        const std::int64_t quotient = floor_div(index, period);
        if (index - quotient * period == phase) {
            sampled.add_sample(static_cast<double>(quotient) * adc_step, value);
        }
    }
    return sampled;
}

SparseWaveform<unsigned short> ADCSim::simulate(const SparseWaveform<double>& analog,
                                                random::MersenneTwister& rng) const {
    const SparseWaveform<double> sampled = sample_down(pulse_shape.convolve(analog), rng);
    SparseWaveform<unsigned short> adc(adc_step);
    adc.samples.reserve(sampled.samples.size());
    // One distribution per call: its spare Gaussian carries over between samples only.
    random::NormalDistribution gaussian(0.0, noise);
    for (const auto& [index, value] : sampled.samples) {
        const double noise_draw = gaussian(rng);
        adc.add_sample(static_cast<double>(index) * adc_step, digitise(value, noise_draw));
    }
    return adc;
}

}  // namespace pelorin
