#pragma once

#include <utility>
#include <vector>

#include "pelorin/random/mersenne_twister.hpp"
#include "pelorin/sparse_convolution.hpp"
#include "pelorin/sparse_waveform.hpp"

namespace pelorin {

/// (start, end) of one time-over-threshold interval in seconds, multiples of the TDC step.
using ToTHit = std::pair<double, double>;

/// Discriminator with dead time and a TDC, on the shaped analog signal plus noise.
struct ToTSim {
    double tdc_step;                        ///< TDC quantum in seconds
    SparseConvolution<double> pulse_shape;  ///< step must not exceed tdc_step
    double threshold;                       ///< in shaped-signal units
    double dead_time;                       ///< seconds, applied on both edges
    double noise;                           ///< Gaussian standard deviation added to each shaped sample
    double jitter;                          ///< Gaussian standard deviation of each measured time, seconds

    ToTSim(double tdc_step, SparseConvolution<double> pulse_shape, double threshold, double dead_time,
           double noise, double jitter);

    /// Hits in the order in which the pulses close.
    std::vector<ToTHit> simulate(const SparseWaveform<double>& analog, random::MersenneTwister& rng) const;
};

}  // namespace pelorin
