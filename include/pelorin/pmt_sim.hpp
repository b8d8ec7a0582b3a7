#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "pelorin/random/distributions.hpp"
#include "pelorin/sparse_waveform.hpp"
#include "pelorin/spectrum.hpp"

namespace pelorin {

/// The PMT stage's draws for one PE: the delay of its pulse after the PE time (seconds) and
/// its amplitude.
struct PEDraw {
    double delay;
    double amplitude;
};

/// Turns PE times into an impulse train: each PE becomes one sample at its time plus a
/// random delay, carrying a random amplitude (normalised units).
template <typename T, typename TimeDistribution, typename AmplitudeDistribution>
struct PMTSim {
    TimeDistribution time_distribution;
    AmplitudeDistribution amplitude_distribution;
    double step;  ///< analog grid spacing in seconds

    /// The impulse of one PE at `time`: two draws, delay then amplitude; it lands at the
    /// grid index of the delayed time. The draws go to `drawn` where given.
    template <typename Engine>
    std::pair<std::int64_t, T> draw_impulse(double time, Engine& rng, PEDraw* drawn = nullptr) {
        const double delay = time_distribution(rng);
        const T amplitude = amplitude_distribution(rng);
        if (drawn != nullptr) {
            *drawn = {delay, static_cast<double>(amplitude)};
        }
        return {time_to_index(delay + time, step), amplitude};
    }

    /// One impulse per PE, PE after PE in the given order; each PE's draws go to `drawn`
    /// where given (resized to one per PE).
    template <typename Engine>
    SparseWaveform<T> simulate(const std::vector<double>& pe_times, Engine& rng,
                               std::vector<PEDraw>* drawn = nullptr) {
        SparseWaveform<T> waveform(step);
        std::vector<typename SparseWaveform<T>::Sample> impulses;
        impulses.reserve(pe_times.size());
        if (drawn != nullptr) {
            drawn->resize(pe_times.size());
        }
        for (std::size_t n = 0; n < pe_times.size(); ++n) {
            impulses.push_back(draw_impulse(pe_times[n], rng, drawn != nullptr ? drawn->data() + n : nullptr));
        }
        // Unsorted PE times would make one-by-one insertion quadratic; the stable
        // merge keeps the PE order of the sums at each index.
        waveform.add_samples(std::move(impulses));
        return waveform;
    }
};

/// The PMT stage of both models: piecewise-linear delay and amplitude densities.
using PiecewiseLinearPMTSim =
    PMTSim<double, random::PiecewiseLinearDistribution, random::PiecewiseLinearDistribution>;

/// Spectra as (boundaries, densities at the boundaries), taken as read.
inline PiecewiseLinearPMTSim make_pmt_sim(const Spectrum& time_spectrum, const Spectrum& amplitude_spectrum,
                                          double step) {
    auto density = [](const Spectrum& s) {
        return random::PiecewiseLinearDistribution(s.first.begin(), s.first.end(), s.second.begin());
    };
    return PiecewiseLinearPMTSim{density(time_spectrum), density(amplitude_spectrum), step};
}

/// Bound on the delay magnitude that a time spectrum with increasing abscissae can draw.
/// The sampler's quadratic loses digits on nearly flat segments, which can carry a draw
/// past the end of its interval by about its width: two of the widest intervals cover it.
inline double largest_delay(const Spectrum& time_spectrum) {
    const std::vector<double>& x = time_spectrum.first;
    double widest = 0.0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        widest = std::max(widest, x[i] - x[i - 1]);
    }
    return std::max(std::fabs(x.front()), std::fabs(x.back())) + 2.0 * widest;
}

}  // namespace pelorin
