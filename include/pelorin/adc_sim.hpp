#pragma once

#include <random>

#include "pelorin/sparse_convolution.hpp"
#include "pelorin/sparse_waveform.hpp"

namespace pelorin {

/// Pulse shaping, sampling and 16-bit digitisation of the analog PMT signal.
/// ADC samples exist only where the sampled analog point is stored.
struct ADCSim {
    double adc_step;                        ///< sampling period in seconds
    SparseConvolution<double> pulse_shape;  ///< its step is the analog grid step
    int jitter;         ///< phase in analog steps; negative: drawn uniformly per call
    double gain;        ///< LSB per unit of normalised amplitude
    double offset;      ///< LSB
    double preamp_clip; ///< upper bound in LSB before the noise
    double noise;       ///< Gaussian standard deviation in LSB
    double clip;        ///< upper bound in LSB after the noise

    ADCSim(double adc_step, SparseConvolution<double> pulse_shape, int jitter, double gain,
           double offset, double preamp_clip, double noise, double clip);

    /// Point-samples the shaped waveform every R analog steps at phase J; ADC sample q
    /// takes analog index q * R + J.
    SparseWaveform<double> sample_down(const SparseWaveform<double>& shaped, std::mt19937& rng) const;

    /// Shaped, sampled and digitised waveform on the ADC grid.
    SparseWaveform<unsigned short> simulate(const SparseWaveform<double>& analog, std::mt19937& rng) const;

    /// One ADC count from a sampled analog value and its noise draw.
    unsigned short digitise(double value, double noise_draw) const;
};

}  // namespace pelorin
