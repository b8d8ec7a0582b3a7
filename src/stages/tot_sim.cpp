#include "pelorin/tot_sim.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "pelorin/random/distributions.hpp"

namespace pelorin {

ToTSim::ToTSim(double tdc_step_, SparseConvolution<double> pulse_shape_, double threshold_,
               double dead_time_, double noise_, double jitter_)
    : tdc_step(tdc_step_),
      pulse_shape(std::move(pulse_shape_)),
      threshold(threshold_),
      dead_time(dead_time_),
      noise(noise_),
      jitter(jitter_) {
    if (pulse_shape.step > tdc_step * 1.000001) {
        throw std::invalid_argument("ToTSim: TDC step is smaller than pulse shape time step.");
    }
}

std::vector<ToTHit> ToTSim::simulate(const SparseWaveform<double>& analog, random::MersenneTwister& rng) const {
    const SparseWaveform<double> shaped = pulse_shape.convolve(analog);
    const double step = shaped.step;
    // Each distribution keeps its own spare Gaussian, for this call only.
    random::NormalDistribution noise_draw(0.0, noise);
    random::NormalDistribution jitter_draw(0.0, jitter);
    std::vector<ToTHit> hits;
    if (shaped.samples.empty()) {
        return hits;
    }
    auto quantise = [this](double time) { return std::round(time / tdc_step) * tdc_step; };

    double last_end = -std::numeric_limits<double>::infinity();
    bool in_pulse = false;
    double start = 0.0;
    for (const auto& [index, value] : shaped.samples) {
        const double time = static_cast<double>(index) * step;
        const double signal = noise_draw(rng) + value;
        if (signal >= threshold) {
            if (!in_pulse && time > last_end + dead_time) {
                start = time;
                in_pulse = true;
            }
        } else if (in_pulse && time > start + dead_time) {
            // Dead-time tests use sample times; jitter and quantisation apply to the report.
            start = start + jitter_draw(rng);
            const double end = jitter_draw(rng) + time;
            hits.emplace_back(quantise(start), quantise(end));
            in_pulse = false;
            last_end = time;
        }
    }
    if (in_pulse) {
        // A pulse still open ends one TDC step after the last sample; the end is
        // jittered before the start here.
        const double last_time = static_cast<double>(shaped.samples.back().first) * step;
        const double end = last_time + (jitter_draw(rng) + tdc_step);
        start = start + jitter_draw(rng);
        hits.emplace_back(quantise(start), quantise(end));
    }
    return hits;
}

}  // namespace pelorin
