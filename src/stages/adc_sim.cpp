#include "pelorin/adc_sim.hpp"

#include "stages/adc_stream.hpp"

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

namespace stream {

Sampling draw_sampling(const ADCSim& adc, double analog_step, std::mt19937& rng) {
    // ADC period in analog steps; the time stamp of ADC sample q is q * adc_step
    // whatever the remainder of adc_step / analog step.
    const std::int64_t period = time_to_index(adc.adc_step, analog_step);
    if (period < 1) {
        throw std::invalid_argument("ADCSim: adc_step is shorter than one analog step.");
    }
    std::int64_t phase = adc.jitter;
    if (phase < 0) {
        if (period > std::numeric_limits<int>::max()) {
            throw std::invalid_argument("ADCSim: adc_step spans too many analog steps for a random phase.");
        }
        std::uniform_int_distribution<int> random_phase(0, static_cast<int>(period - 1));
        phase = random_phase(rng);
    }
    return {period, phase};
}

}  // namespace stream

SparseWaveform<double> ADCSim::sample_down(const SparseWaveform<double>& shaped,
                                           std::mt19937& rng) const {
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

namespace {

/// std::round (halves away from zero) without a library call where the integer part fits.
double round_half_away(double x) {
    if (!(std::fabs(x) < 4503599627370496.0)) {  // 2^52; also NaN
        return std::round(x);
    }
    const auto whole = static_cast<double>(static_cast<std::int64_t>(x));
    const double fraction = x - whole;  // exact
    if (fraction >= 0.5) {
        return whole + 1.0;
    }
    return fraction <= -0.5 ? whole - 1.0 : whole;
}

}  // namespace

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
    const auto count = static_cast<std::int32_t>(round_half_away(x));
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
