#pragma once

#include <cmath>
#include <cstdint>

#include "pelorin/random/mersenne_twister.hpp"
#include "pelorin/sparse_convolution.hpp"
#include "pelorin/sparse_waveform.hpp"

namespace pelorin {

/// The ADC period in analog steps and the sampling phase of one readout call: ADC sample q
/// takes the analog value at index q * period + phase.
struct ADCSampling {
    std::int64_t period;
    std::int64_t phase;
};

/// Pulse shaping, sampling and 16-bit digitisation of the analog PMT signal.
/// ADC samples exist only where the sampled analog point is stored.
struct ADCSim {
    double adc_step;                        ///< sampling period in seconds
    SparseConvolution<double> pulse_shape;  ///< its step is the analog grid step
    int jitter;                             ///< phase in analog steps; negative: drawn uniformly per call
    double gain;                            ///< LSB per unit of normalised amplitude
    double offset;                          ///< LSB
    double preamp_clip;                     ///< upper bound in LSB before the noise
    double noise;                           ///< Gaussian standard deviation in LSB
    double clip;                            ///< upper bound in LSB after the noise

    ADCSim(double adc_step, SparseConvolution<double> pulse_shape, int jitter, double gain, double offset,
           double preamp_clip, double noise, double clip);

    /// The period, adc_step in steps of the analog grid by the grid rule, and the phase of
    /// one call: `jitter`, or for a negative jitter one uniform draw in [0, period - 1],
    /// made before anything else of the call. Throws std::invalid_argument for a period
    /// below one step or too long for a random phase.
    ADCSampling sampling(double analog_step, random::MersenneTwister& rng) const;

    /// Point-samples the shaped waveform every R analog steps at phase J; ADC sample q
    /// takes analog index q * R + J.
    SparseWaveform<double> sample_down(const SparseWaveform<double>& shaped, random::MersenneTwister& rng) const;

    /// Shaped, sampled and digitised waveform on the ADC grid.
    SparseWaveform<unsigned short> simulate(const SparseWaveform<double>& analog,
                                            random::MersenneTwister& rng) const;

    /// The preamplifier's output for a shaped analog value, in LSB before noise: scaled,
    /// offset and limited to [0, preamp_clip].
    double preamp_level(double value) const {
        double y = value * gain + offset;
        if (y < 0.0) {
            y = 0.0;
        }
        if (preamp_clip < y) {
            y = preamp_clip;
        }
        return y;
    }

    /// One ADC count from a sampled analog value and its noise draw.
    unsigned short digitise(double value, double noise_draw) const {
        double x = noise_draw + preamp_level(value);
        // Written as !(x >= 0) so that a NaN signal ends at 0 instead of reaching the
        // integer conversion.
        if (!(x >= 0.0)) {
            x = 0.0;
        }
        if (clip < x) {
            x = clip;
        }
        // Round half away from zero, then keep the low 16 bits of the 32-bit count.
        return static_cast<unsigned short>(static_cast<std::int32_t>(round_half_away(x)));
    }

    /// std::round (halves away from zero) without a library call where the integer part fits.
    static double round_half_away(double x) {
        if (!(std::fabs(x) < 4503599627370496.0)) {  // 2^52; also NaN
            return std::round(x);
        }
        const auto whole = static_cast<double>(static_cast<std::int64_t>(x));
        const double fraction = x - whole;  // exact
        // Without branches: the fraction of a noisy sample is as likely above a half as below.
        return whole + static_cast<double>(fraction >= 0.5) - static_cast<double>(fraction <= -0.5);
    }
};

}  // namespace pelorin
