#pragma once

// The ToT discriminator and TDC, fed the shaped samples one at a time in ascending index
// order: noise on every sample, the threshold with its dead time on both edges, jitter and
// quantisation of the reported times. The stage (ToTSim::simulate), the streaming readout
// (stream::stream_tot) and the benchmark's draw planner all run this one class.

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "pelorin/random/distributions.hpp"
#include "pelorin/random/mersenne_twister.hpp"
#include "pelorin/tot_sim.hpp"

namespace pelorin {

/// The discriminator's draws of one call: a noise value per sample and a jitter value per
/// reported edge, each from a distribution of its own that keeps its spare value.
struct ToTDraws {
    random::MersenneTwister& rng;
    random::NormalDistribution noise_distribution;
    random::NormalDistribution jitter_distribution;

    ToTDraws(const ToTSim& tot, random::MersenneTwister& engine)
        : rng(engine), noise_distribution(0.0, tot.noise), jitter_distribution(0.0, tot.jitter) {}

    double noise() { return noise_distribution(rng); }
    double jitter() { return jitter_distribution(rng); }
};

template <typename Draws = ToTDraws>
class ToTDiscriminator {
public:
    /// `step` is the grid step of the shaped samples (the analog step).
    ToTDiscriminator(const ToTSim& tot, double step, Draws draws)
        : threshold_(tot.threshold),
          dead_time_(tot.dead_time),
          tdc_step_(tot.tdc_step),
          step_(step),
          draws_(std::move(draws)) {}

    void sample(std::int64_t index, double value) {
        const double time = static_cast<double>(index) * step_;
        last_index_ = index;
        const double signal = draws_.noise() + value;
        if (signal >= threshold_) {
            // Opens only strictly more than the dead time after the last closing sample.
            if (!in_pulse_ && time > last_end_ + dead_time_) {
                start_ = time;
                in_pulse_ = true;
            }
        } else if (in_pulse_ && time > start_ + dead_time_) {
            // Below the threshold or not a number, and past the dead time: it closes. The
            // dead-time tests use sample times; jitter and quantisation apply to the report.
            start_ = start_ + draws_.jitter();
            const double end = draws_.jitter() + time;
            hits_.emplace_back(quantise(start_), quantise(end));
            in_pulse_ = false;
            last_end_ = time;
        }
    }

    /// The hits in closing order; a pulse still open after the last sample ends one TDC
    /// step later, its end jittered before its start.
    std::vector<ToTHit> finish() {
        if (in_pulse_) {
            const double last_time = static_cast<double>(last_index_) * step_;
            const double end = last_time + (draws_.jitter() + tdc_step_);
            start_ = start_ + draws_.jitter();
            hits_.emplace_back(quantise(start_), quantise(end));
            in_pulse_ = false;
        }
        return std::move(hits_);
    }

    Draws& draws() { return draws_; }

private:
    /// The nearest TDC count, halves away from zero.
    double quantise(double time) const { return std::round(time / tdc_step_) * tdc_step_; }

    // Copies of the stage's settings: the draws call into the math library, after which
    // settings read through a reference would have to be loaded again.
    double threshold_;
    double dead_time_;
    double tdc_step_;
    double step_;
    Draws draws_;
    double last_end_ = -std::numeric_limits<double>::infinity();
    bool in_pulse_ = false;
    double start_ = 0.0;
    std::int64_t last_index_ = 0;
    std::vector<ToTHit> hits_;
};

}  // namespace pelorin
