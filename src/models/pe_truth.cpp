#include "models/pe_truth.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>

namespace pelorin {
namespace {

/// Finds the first of ascending values that comes after a time. A table of the answers at
/// evenly spaced times narrows each search to a few values, which are then counted without
/// branches: PE times in any order would mispredict them.
class FirstAfter {
public:
    explicit FirstAfter(const std::vector<double>& values) : size_(values.size()) {
        // Padded with values that come after every time, so that a count may read past the end.
        padded_.assign(values.begin(), values.end());
        padded_.resize(size_ + counted, std::numeric_limits<double>::infinity());
        if (size_ < 2 || !(values.back() > values.front()) || !std::isfinite(values.back() - values.front())) {
            return;
        }
        lowest_ = values.front();
        buckets_ = 2 * size_;
        scale_ = static_cast<double>(buckets_) / (values.back() - values.front());
        guide_.resize(buckets_ + 1);
        std::size_t i = 0;
        for (std::size_t b = 0; b <= buckets_; ++b) {
            const double edge = lowest_ + static_cast<double>(b) / scale_;
            while (i < size_ && values[i] <= edge) {
                ++i;
            }
            guide_[b] = i;
        }
    }

    /// The first position whose value comes after t: `comes_after(t, value)` is false for a
    /// prefix of the values and true after it.
    template <typename ComesAfter>
    std::size_t find(double t, ComesAfter&& comes_after) const {
        std::size_t low = 0;
        std::size_t high = size_;
        if (buckets_ > 0 && t >= lowest_) {
            // Rounding can put t one bucket off: the neighbours bound the search.
            const double bucket = std::min((t - lowest_) * scale_, static_cast<double>(buckets_));
            const auto b = static_cast<std::size_t>(bucket);
            low = guide_[b > 0 ? b - 1 : 0];
            high = std::min(size_, guide_[std::min(b + 2, buckets_)] + 1);
        }
        if (high - low <= counted) {
            std::size_t before = 0;
            for (std::size_t j = 0; j < counted; ++j) {
                before += comes_after(t, padded_[low + j]) ? 0 : 1;
            }
            return std::min(low + before, high);
        }
        return search(low, high, t, comes_after);
    }

private:
    static constexpr std::size_t counted = 4;

    /// Binary search of [low, high) whose steps are selects, not branches.
    template <typename ComesAfter>
    std::size_t search(std::size_t low, std::size_t high, double t, ComesAfter&& comes_after) const {
        const double* base = padded_.data() + low;
        std::size_t count = high - low;
        while (count > 1) {
            const std::size_t half = count / 2;
            base = comes_after(t, base[half - 1]) ? base : base + half;
            count -= half;
        }
        const auto position = static_cast<std::size_t>(base - padded_.data());
        return count == 1 && !comes_after(t, *base) ? position + 1 : position;
    }

    std::size_t size_;
    std::vector<double> padded_;
    std::vector<std::size_t> guide_;  ///< per bucket edge, the first value above it
    std::size_t buckets_ = 0;
    double lowest_ = 0.0;
    double scale_ = 0.0;
};

}  // namespace

void assign_to_windows(const std::vector<double>& pe_times, const std::vector<double>& starts, double length,
                       PETruth& truth) {
    truth.record.assign(pe_times.size(), -1);
    const FirstAfter first_after(starts);
    for (std::size_t n = 0; n < pe_times.size(); ++n) {
        const double t = pe_times[n] + truth.draws[n].delay;
        // The last window that starts at or before t holds it, if it has not ended.
        const std::size_t after = first_after.find(t, [](double time, double start) { return time < start; });
        if (after > 0 && t < starts[after - 1] + length) {
            truth.record[n] = static_cast<std::int64_t>(after - 1);
        }
    }
}

void assign_to_hits(const std::vector<double>& pe_times, const std::vector<corvane::MultiPMTTrigger>& hits,
                    double pulse_length, PETruth& truth) {
    // Hits come in closing order; jitter can set a start before the previous hit's.
    std::vector<std::int64_t> order(hits.size());
    std::iota(order.begin(), order.end(), std::int64_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::int64_t a, std::int64_t b) {
        return hits[static_cast<std::size_t>(a)].time < hits[static_cast<std::size_t>(b)].time;
    });
    // Ends in start order, made ascending: the first hit that ends at or after a time.
    std::vector<double> ends(hits.size());
    double latest = -std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < hits.size(); ++k) {
        const auto& hit = hits[static_cast<std::size_t>(order[k])];
        latest = std::max(latest, hit.time + hit.time_over_threshold);
        ends[k] = latest;
    }
    truth.record.assign(pe_times.size(), -1);
    const FirstAfter first_after(ends);
    for (std::size_t n = 0; n < pe_times.size(); ++n) {
        const double t = pe_times[n] + truth.draws[n].delay;
        const std::size_t k = first_after.find(t, [](double time, double end) { return time <= end; });
        if (k < hits.size() && hits[static_cast<std::size_t>(order[k])].time <= t + pulse_length) {
            truth.record[n] = order[k];
        }
    }
}

}  // namespace pelorin
