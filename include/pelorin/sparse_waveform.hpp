#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace pelorin {

/// Quotient of a time by `step` after moving it a thousandth of a step away from zero,
/// so that a time computed as index * step that lands a hair below a grid point still
/// truncates to that point. Index 0 therefore covers (-0.999, 0.999) * step.
inline double grid_quotient(double time, double step) {
    const double tolerance = 0.001 * step;
    const double shifted = (0.0 <= time) ? time + tolerance : time - tolerance;
    return shifted / step;
}

/// Grid index of a time on a grid of spacing `step`: the grid quotient truncated toward zero.
inline std::int64_t time_to_index(double time, double step) {
    return static_cast<std::int64_t>(grid_quotient(time, step));
}

/// time_to_index, or nothing where the quotient is not a number or beyond 64 bits;
/// no stored sample can lie there.
inline std::optional<std::int64_t> checked_time_to_index(double time, double step) {
    const double quotient = grid_quotient(time, step);
    if (!(quotient > -9223372036854775808.0 && quotient < 9223372036854775808.0)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(quotient);
}

/// Sum as a waveform accumulates it: 16-bit values wrap modulo 65536 and 32-bit
/// values wrap modulo 2^32 (through unsigned arithmetic, so an overflow is defined).
template <typename T>
inline T accumulate_value(T stored, T added) {
    if constexpr (std::is_same_v<T, int>) {
        return static_cast<int>(static_cast<unsigned>(stored) + static_cast<unsigned>(added));
    } else {
        return static_cast<T>(stored + added);
    }
}

/// Uniform time grid of which only touched points are stored; unstored points read 0.
template <typename T>
struct SparseWaveform {
    using Sample = std::pair<std::int64_t, T>;

    double step;
    std::vector<Sample> samples;  ///< strictly ascending by index

    explicit SparseWaveform(double step_) : step(step_) {}

    /// Adds `value` at the grid index of `time` (16-bit values wrap modulo 65536).
    void add_sample(double time, T value) { add_at_index(time_to_index(time, step), value); }

    /// Adds `value` at grid index `index`, keeping the samples sorted and unique.
    void add_at_index(std::int64_t index, T value) {
        // Stages mostly add in ascending order: check the tail before searching.
        if (samples.empty() || samples.back().first < index) {
            samples.emplace_back(index, value);
            return;
        }
        auto it = std::lower_bound(samples.begin(), samples.end(), index,
                                   [](const Sample& s, std::int64_t i) { return s.first < i; });
        if (it->first == index) {
            it->second = accumulate_value(it->second, value);
        } else {
            samples.emplace(it, index, value);
        }
    }

    /// Adds many (index, value) pairs at once, with the same sums as adding them one
    /// by one in the given order, in O(n log n) instead of one middle insertion each.
    void add_samples(std::vector<Sample> additions) {
        auto by_index = [](const Sample& a, const Sample& b) { return a.first < b.first; };
        if (!std::is_sorted(additions.begin(), additions.end(), by_index)) {
            std::stable_sort(additions.begin(), additions.end(), by_index);
        }
        std::vector<Sample> merged;
        merged.reserve(samples.size() + additions.size());
        auto old = samples.begin();
        for (const auto& [index, value] : additions) {
            while (old != samples.end() && old->first < index) {
                merged.push_back(*old++);
            }
            if (!merged.empty() && merged.back().first == index) {
                merged.back().second = accumulate_value(merged.back().second, value);
            } else if (old != samples.end() && old->first == index) {
                merged.emplace_back(index, accumulate_value(old->second, value));
                ++old;
            } else {
                merged.emplace_back(index, value);
            }
        }
        merged.insert(merged.end(), old, samples.end());
        samples = std::move(merged);
    }

    /// Stored value at `index`, or nothing.
    std::optional<T> find(std::int64_t index) const {
        auto it = std::lower_bound(samples.begin(), samples.end(), index,
                                   [](const Sample& s, std::int64_t i) { return s.first < i; });
        if (it == samples.end() || it->first != index) {
            return std::nullopt;
        }
        return it->second;
    }

    /// Dense samples of the index range [index(start), index(end)); zeros where nothing is stored.
    std::vector<T> get_samples(double start, double end) const {
        if (start > end) {
            throw std::invalid_argument("End time must be greater than start time.");
        }
        const std::int64_t first = time_to_index(start, step);
        const std::int64_t last = time_to_index(end, step);
        std::vector<T> dense(static_cast<std::size_t>(last - first), T{});
        auto it = std::lower_bound(samples.begin(), samples.end(), first,
                                   [](const Sample& s, std::int64_t i) { return s.first < i; });
        for (; it != samples.end() && it->first < last; ++it) {
            dense[static_cast<std::size_t>(it->first - first)] = it->second;
        }
        return dense;
    }
};

}  // namespace pelorin
