#include "pelorin/adc_sim.hpp"

#include "stages/adc_stream.hpp"

#include <cstdint>
#include <utility>

#include "pelorin/random/distributions.hpp"

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
                                           random::MersenneTwister& rng) const {
    SparseWaveform<double> sampled(adc_step);
    const auto [period, phase] = stream::draw_sampling(*this, shaped.step, rng);
    for (const auto& [index, value] : shaped.samples) {
        // Floor quotient and non-negative remainder, also for negative indices.
        const std::int64_t quotient = stream::floor_div(index, period);
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
