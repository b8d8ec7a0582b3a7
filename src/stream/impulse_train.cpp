#include "stream/impulse_train.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

namespace pelorin::stream {
namespace {

// Radix digits of up to 11 bits (2048 counters fit the first-level cache), fewer for short
// trains, whose counters would cost more than their elements.
constexpr int widest_digit = 11;

void radix_sort_by_index(std::vector<Impulse>& impulses, std::int64_t lowest, std::uint64_t range) {
    std::vector<Impulse> buffer(impulses.size());
    const int bits = std::clamp(static_cast<int>(std::bit_width(impulses.size())), 4, widest_digit);
    const std::size_t radix_size = std::size_t{1} << bits;
    const int passes = (static_cast<int>(std::bit_width(range)) + bits - 1) / bits;
    std::array<std::size_t, std::size_t{1} << widest_digit> start;
    for (int pass = 0; pass < passes; ++pass) {
        const int shift = pass * bits;
        auto digit = [&](const Impulse& impulse) {
            return static_cast<std::size_t>((static_cast<std::uint64_t>(impulse.index - lowest) >> shift) &
                                            (radix_size - 1));
        };
        std::fill_n(start.begin(), radix_size, std::size_t{0});
        for (const Impulse& impulse : impulses) {
            ++start[digit(impulse)];
        }
        std::size_t total = 0;
        for (std::size_t d = 0; d < radix_size; ++d) {
            total += start[d];
            start[d] = total - start[d];
        }
        for (const Impulse& impulse : impulses) {
            buffer[start[digit(impulse)]++] = impulse;
        }
        impulses.swap(buffer);
    }
}

/// Insertion sort that gives up once it has moved `budget` elements; what it leaves is
/// still a permutation that keeps the order of equal indices.
bool insertion_sort_within(std::vector<Impulse>& impulses, std::size_t budget) {
    for (std::size_t i = 1; i < impulses.size(); ++i) {
        if (impulses[i - 1].index <= impulses[i].index) {
            continue;
        }
        const Impulse moving = impulses[i];
        std::size_t j = i;
        for (; j > 0 && impulses[j - 1].index > moving.index; --j) {
            impulses[j] = impulses[j - 1];
            if (--budget == 0) {
                impulses[j - 1] = moving;
                return false;
            }
        }
        impulses[j] = moving;
    }
    return true;
}

}  // namespace

std::vector<Impulse> draw_impulses(PiecewiseLinearPMTSim& pmt, const std::vector<double>& pe_times,
                                   random::MersenneTwister& rng, std::vector<PEDraw>* drawn) {
    std::vector<Impulse> impulses(pe_times.size());
    // Two loops, so that the plain one keeps its shape.
    if (drawn == nullptr) {
        for (std::size_t n = 0; n < pe_times.size(); ++n) {
            const auto [index, amplitude] = pmt.draw_impulse(pe_times[n], rng);
            impulses[n] = {index, amplitude};
        }
    } else {
        drawn->resize(pe_times.size());
        for (std::size_t n = 0; n < pe_times.size(); ++n) {
            const auto [index, amplitude] = pmt.draw_impulse(pe_times[n], rng, &(*drawn)[n]);
            impulses[n] = {index, amplitude};
        }
    }
    stable_sort_by_index(impulses);
    merge_equal_indices(impulses);
    return impulses;
}

void stable_sort_by_index(std::vector<Impulse>& impulses) {
    // Sorted PE times leave only local disorder, from the spread of the delays: an
    // insertion sort puts that right in a few moves per impulse. Beyond that budget the
    // train is shuffled, and a radix sort takes over from where insertion stopped.
    const std::size_t budget = 4 * impulses.size() + 64;
    if (insertion_sort_within(impulses, budget)) {
        return;
    }
    auto by_index = [](const Impulse& a, const Impulse& b) { return a.index < b.index; };
    const auto [lowest, highest] = std::minmax_element(impulses.begin(), impulses.end(), by_index);
    radix_sort_by_index(impulses, lowest->index,
                        static_cast<std::uint64_t>(highest->index) - static_cast<std::uint64_t>(lowest->index));
}

void merge_equal_indices(std::vector<Impulse>& impulses) {
    std::size_t kept = 0;
    for (std::size_t n = 0; n < impulses.size(); ++n) {
        if (kept > 0 && impulses[kept - 1].index == impulses[n].index) {
            impulses[kept - 1].amplitude = impulses[kept - 1].amplitude + impulses[n].amplitude;
        } else {
            impulses[kept++] = impulses[n];
        }
    }
    impulses.resize(kept);
}

std::vector<Run> merge_runs(std::vector<Run> runs) {
    std::sort(runs.begin(), runs.end(), [](const Run& x, const Run& y) { return x.first < y.first; });
    std::vector<Run> merged;
    for (const Run& run : runs) {
        if (!merged.empty() && run.first <= merged.back().last + 1) {
            merged.back().last = std::max(merged.back().last, run.last);
        } else {
            merged.push_back(run);
        }
    }
    return merged;
}

}  // namespace pelorin::stream
