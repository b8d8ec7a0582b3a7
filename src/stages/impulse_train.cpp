#include "stages/impulse_train.hpp"

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

// Index products and sums of whole steps pick up a few roundings of 2^-53 relative to
// their magnitude; the grid rule's tolerance of a thousandth of a step absorbs them with
// a wide margin below this bound.
constexpr std::int64_t exact_product_bound = std::int64_t{1} << 38;

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
                                   random::MersenneTwister& rng) {
    std::vector<Impulse> impulses(pe_times.size());
    for (std::size_t n = 0; n < pe_times.size(); ++n) {
        const auto [index, amplitude] = pmt.draw_impulse(pe_times[n], rng);
        impulses[n] = {index, amplitude};
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

TapOffsets::TapOffsets(double tap_step, std::size_t taps, double grid_step, std::int64_t largest_index)
    : grid_step_(grid_step) {
    // The tap time k * tap_step + i * grid_step is rounded three times before the division
    // and once by it; relative to the grid step the error stays below (4 M + 4) 2^-52 for
    // |i| + k * tap_step / grid_step <= M. Where neither the shifted quotient above nor the
    // one below 0 lies that close to a whole number, truncation cannot depend on it.
    using Real = long double;
    const Real tolerance = static_cast<Real>(0.001);
    taps_.reserve(taps);
    for (std::size_t k = 0; k < taps; ++k) {
        Tap tap{static_cast<double>(k) * tap_step, false, 0, 0, std::numeric_limits<std::int64_t>::min()};
        const Real ratio = static_cast<Real>(tap.time) / static_cast<Real>(grid_step);
        const Real magnitude = static_cast<Real>(largest_index) + std::fabs(ratio) + 1;
        const Real error = (4 * magnitude + 4) * std::ldexp(Real{1}, -52);
        const Real above = ratio + tolerance;
        const Real below = ratio - tolerance;
        auto clear_of_integers = [&](Real x) { return x - std::floor(x) > error && std::ceil(x) - x > error; };
        // A tap at or after zero delay lands at or after its impulse as long as the error
        // stays well below one step; beyond that the offsets are not bounded.
        if (!(ratio >= 0 && ratio < Real{1e15} && error < Real{0.25})) {
            forward_ = false;
            consecutive_ = false;
            taps_.push_back(tap);
            continue;
        }
        if (clear_of_integers(above) && clear_of_integers(below)) {
            tap.proven = true;
            tap.nonnegative = static_cast<std::int64_t>(std::floor(above));
            tap.negative = static_cast<std::int64_t>(std::ceil(below));
            if (tap.nonnegative != tap.negative) {
                // The shifted quotients straddle no whole number, so the tap time is at or
                // above 0 exactly when i > -ratio.
                tap.first_nonnegative = static_cast<std::int64_t>(std::floor(-ratio)) + 1;
            }
            max_offset_ = std::max({max_offset_, tap.nonnegative, tap.negative});
        } else {
            max_offset_ = std::max(max_offset_, static_cast<std::int64_t>(std::ceil(above)) + 1);
        }
        consecutive_ = consecutive_ && tap.proven && tap.nonnegative == static_cast<std::int64_t>(k) &&
                       tap.negative == static_cast<std::int64_t>(k);
        taps_.push_back(tap);
    }
}

std::int64_t consecutive_tap_bound(double step, std::size_t taps) {
    // Up to about 2^40 the rounding error stays inside the thousandth of a step; below
    // that, 2^38 leaves a wide margin.
    for (const std::int64_t bound : {(std::int64_t{1} << 40) - (std::int64_t{1} << 31), std::int64_t{1} << 38}) {
        if (TapOffsets(step, taps, step, bound).consecutive()) {
            return bound;
        }
    }
    return 0;
}

double exact_time_reach(double analog_step, std::int64_t tap_bound, std::int64_t taps, std::int64_t period,
                        std::int64_t adc_margin) {
    // Three steps absorb the tolerance of the grid rule and the rounding of the quotient.
    const double adc_room = static_cast<double>(exact_product_bound) - static_cast<double>(adc_margin) - 2.0;
    const double analog =
        std::min(static_cast<double>(tap_bound), adc_room * static_cast<double>(period) - static_cast<double>(taps)) - 3.0;
    return analog > 0.0 ? analog * analog_step : 0.0;
}

}  // namespace pelorin::stream
