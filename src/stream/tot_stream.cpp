#include "stream/tot_stream.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "stages/tot_discriminator.hpp"

namespace pelorin::stream {

std::vector<ToTHit> stream_tot(const ToTSim& tot, const std::vector<Impulse>& impulses, const TapOffsets& offsets,
                               double analog_step, random::MersenneTwister& rng) {
    const std::vector<double>& kernel = tot.pulse_shape.kernel;
    ToTDiscriminator<> discriminator(tot, analog_step, ToTDraws(tot, rng));
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
            if (stored[slot] != 0) {
                stored[slot] = 0;
                discriminator.sample(p, value[slot]);
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

}  // namespace pelorin::stream
