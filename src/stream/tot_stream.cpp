#include "stream/tot_stream.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>

#include "stages/tot_discriminator.hpp"

namespace pelorin::stream {
namespace {

/// Whether index p, met in ascending order, lies in one of the sorted, disjoint runs.
class RunCursor {
public:
    explicit RunCursor(const std::vector<Run>& runs) : runs_(runs) {}
    bool contains(std::int64_t p) {
        while (next_ < runs_.size() && runs_[next_].last < p) {
            ++next_;
        }
        return next_ < runs_.size() && runs_[next_].first <= p;
    }

private:
    const std::vector<Run>& runs_;
    std::size_t next_ = 0;
};

/// With `Forced`, the indices of `forced` that no impulse reaches are sampled too, with the
/// value 0 that zero-valued impulses there would give them.
template <bool Forced>
std::vector<ToTHit> discriminate(const ToTSim& tot, const std::vector<Impulse>& impulses,
                                 const TapOffsets& offsets, double analog_step, random::MersenneTwister& rng,
                                 const std::vector<Run>& forced) {
    const std::vector<double>& kernel = tot.pulse_shape.kernel;
    ToTDiscriminator<> discriminator(tot, analog_step, ToTDraws(tot, rng));
    if ((impulses.empty() || kernel.empty()) && (!Forced || forced.empty())) {
        return discriminator.finish();
    }
    // Every tap lands within max_offset() after its impulse, so once the next impulse is
    // reached, everything before it is final.
    const auto slots = std::bit_ceil(static_cast<std::uint64_t>(offsets.max_offset()) + 2);
    const auto mask = static_cast<std::int64_t>(slots - 1);
    std::vector<double> value(slots);
    std::vector<unsigned char> stored(slots, 0);
    std::int64_t flushed = impulses.empty() ? std::numeric_limits<std::int64_t>::max() : impulses.front().index;
    std::int64_t highest = std::numeric_limits<std::int64_t>::min();
    RunCursor forced_cursor(forced);
    if constexpr (Forced) {
        flushed = std::min(flushed, forced.front().first);
        highest = forced.back().last;
    }
    auto flush_below = [&](std::int64_t limit) {
        for (std::int64_t p = flushed; p < limit && p <= highest; ++p) {
            const auto slot = static_cast<std::size_t>(p & mask);
            if (stored[slot] != 0) {
                stored[slot] = 0;
                discriminator.sample(p, value[slot]);
            } else if (Forced && forced_cursor.contains(p)) {
                discriminator.sample(p, 0.0);
            }
        }
        flushed = limit;
    };
    auto add = [&](std::int64_t j, double contribution) {
        const auto slot = static_cast<std::size_t>(j & mask);
        // Contributions to one index add up in impulse order, then tap order.
        value[slot] = stored[slot] != 0 ? value[slot] + contribution : contribution;
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

}  // namespace

std::vector<ToTHit> stream_tot(const ToTSim& tot, const std::vector<Impulse>& impulses, const TapOffsets& offsets,
                               double analog_step, random::MersenneTwister& rng, const std::vector<Run>& forced) {
    return forced.empty() ? discriminate<false>(tot, impulses, offsets, analog_step, rng, forced)
                          : discriminate<true>(tot, impulses, offsets, analog_step, rng, forced);
}

std::vector<Run> tap_runs(const TapOffsets& offsets, std::size_t taps, Run impulses) {
    std::vector<Run> runs;
    for (std::size_t k = 0; k < taps; ++k) {
        const std::int64_t shift = offsets.index(k, impulses.first) - impulses.first;
        if (offsets.index(k, impulses.last) - impulses.last == shift) {
            runs.push_back({impulses.first + shift, impulses.last + shift});
            continue;
        }
        // An offset that changes along the run: its taps one by one, ascending with the
        // impulse index, joined as they come so that the list stays as short as its gaps.
        for (std::int64_t p = impulses.first; p <= impulses.last; ++p) {
            const std::int64_t j = offsets.index(k, p);
            if (!runs.empty() && j >= runs.back().first && j <= runs.back().last + 1) {
                runs.back().last = std::max(runs.back().last, j);
            } else {
                runs.push_back({j, j});
            }
        }
    }
    return merge_runs(std::move(runs));
}

}  // namespace pelorin::stream
