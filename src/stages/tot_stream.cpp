#include "stages/tot_stream.hpp"

#include <bit>
#include <cmath>
#include <limits>

#include "pelorin/random/distributions.hpp"

namespace pelorin::stream {
namespace {

/// The discriminator of ToTSim::simulate, fed one shaped sample at a time.
class Discriminator {
public:
    Discriminator(const ToTSim& tot, double step, random::MersenneTwister& rng)
        : tot_(tot), step_(step), rng_(rng), noise_(0.0, tot.noise), jitter_(0.0, tot.jitter) {}

    void sample(std::int64_t index, double value) {
        const double time = static_cast<double>(index) * step_;
        last_index_ = index;
        const double signal = noise_(rng_) + value;
        if (signal >= tot_.threshold) {
            if (!in_pulse_ && time > last_end_ + tot_.dead_time) {
                start_ = time;
                in_pulse_ = true;
            }
        } else if (in_pulse_ && time > start_ + tot_.dead_time) {
            start_ = start_ + jitter_(rng_);
            const double end = jitter_(rng_) + time;
            hits_.emplace_back(quantise(start_), quantise(end));
            in_pulse_ = false;
            last_end_ = time;
        }
    }

    std::vector<ToTHit> finish() {
        if (in_pulse_) {
            // Still open after the last sample: it ends one TDC step later; the end is
            // jittered before the start here.
            const double last_time = static_cast<double>(last_index_) * step_;
            const double end = last_time + (jitter_(rng_) + tot_.tdc_step);
            start_ = start_ + jitter_(rng_);
            hits_.emplace_back(quantise(start_), quantise(end));
        }
        return std::move(hits_);
    }

private:
    double quantise(double time) const { return std::round(time / tot_.tdc_step) * tot_.tdc_step; }

    const ToTSim& tot_;
    double step_;
    random::MersenneTwister& rng_;
    random::NormalDistribution noise_;
    random::NormalDistribution jitter_;
    double last_end_ = -std::numeric_limits<double>::infinity();
    bool in_pulse_ = false;
    double start_ = 0.0;
    std::int64_t last_index_ = 0;
    std::vector<ToTHit> hits_;
};

}  // namespace

std::vector<ToTHit> stream_tot(const ToTSim& tot, const std::vector<Impulse>& impulses, const TapOffsets& offsets,
                               double analog_step, random::MersenneTwister& rng) {
    const std::vector<double>& kernel = tot.pulse_shape.kernel;
    Discriminator discriminator(tot, analog_step, rng);
    if (impulses.empty() || kernel.empty()) {
        return discriminator.finish();
    }
    // Every tap lands within max_offset() after its impulse, so once the next impulse is
    // reached, everything before it is final.
    const auto slots = std::bit_ceil(static_cast<std::uint64_t>(offsets.max_offset()) + 2);
    const auto mask = static_cast<std::int64_t>(slots - 1);
    std::vector<double> value(slots);
    std::vector<unsigned char> stored(slots, 0);
    std::int64_t flushed = impulses.front().index;
    std::int64_t highest = flushed - 1;
    auto flush_below = [&](std::int64_t limit) {
        for (std::int64_t p = flushed; p < limit && p <= highest; ++p) {
            const auto slot = static_cast<std::size_t>(p & mask);
            if (stored[slot]) {
                stored[slot] = 0;
                discriminator.sample(p, value[slot]);
            }
        }
        flushed = limit;
    };
    auto add = [&](std::int64_t j, double contribution) {
        const auto slot = static_cast<std::size_t>(j & mask);
        // Contributions to one index add up in impulse order, then tap order.
        value[slot] = stored[slot] ? value[slot] + contribution : contribution;
        stored[slot] = 1;
    };
    for (const Impulse& impulse : impulses) {
        flush_below(impulse.index);
        const double a = impulse.amplitude;
        if (offsets.consecutive()) {
            for (std::size_t k = 0; k < kernel.size(); ++k) {
                add(impulse.index + static_cast<std::int64_t>(k), a * kernel[k]);
            }
            highest = std::max(highest, impulse.index + static_cast<std::int64_t>(kernel.size()) - 1);
        } else {
            for (std::size_t k = 0; k < kernel.size(); ++k) {
                const std::int64_t j = offsets.index(k, impulse.index);
                add(j, a * kernel[k]);
                highest = std::max(highest, j);
            }
        }
    }
    flush_below(highest + 1);
    return discriminator.finish();
}

}  // namespace pelorin::stream
