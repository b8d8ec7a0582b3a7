#include "models/pe_truth.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>

namespace pelorin {
namespace {

/// The first position in the ascending `values` whose value `comes_after` t. The last
/// answer is tried first (PE times often come sorted); otherwise a binary search whose
/// steps are selects, not branches: unsorted PE times would mispredict every step.
template <typename ComesAfter>
std::size_t first_after(const std::vector<double>& values, std::size_t last, double t, ComesAfter&& comes_after) {
    const std::size_t size = values.size();
    if ((last == size || comes_after(t, values[last])) && (last == 0 || !comes_after(t, values[last - 1]))) {
        return last;
    }
    const double* base = values.data();
    std::size_t count = size;
    while (count > 1) {
        const std::size_t half = count / 2;
        base = comes_after(t, base[half - 1]) ? base : base + half;
        count -= half;
    }
    const auto position = static_cast<std::size_t>(base - values.data());
    return count == 1 && !comes_after(t, *base) ? position + 1 : position;
}

/// Per PE, the interval k (starts ascending) with starts[k] <= t and t inside it by `inside`.
template <typename Inside>
void assign(const std::vector<double>& pe_times, const std::vector<double>& starts,
            const std::vector<std::int64_t>& record_of_interval, PETruth& truth, Inside&& inside) {
    truth.record.assign(pe_times.size(), -1);
    std::size_t after = 0;
    for (std::size_t n = 0; n < pe_times.size(); ++n) {
        const double t = pe_times[n] + truth.draws[n].delay;
        after = first_after(starts, after, t, [](double time, double start) { return time < start; });
        if (after > 0 && inside(after - 1, t)) {
            truth.record[n] = record_of_interval[after - 1];
        }
    }
}

}  // namespace

void assign_to_windows(const std::vector<double>& pe_times, const std::vector<double>& starts, double length,
                       PETruth& truth) {
    std::vector<std::int64_t> records(starts.size());
    std::iota(records.begin(), records.end(), std::int64_t{0});
    assign(pe_times, starts, records, truth, [&](std::size_t k, double t) { return t < starts[k] + length; });
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
    std::size_t k = 0;
    for (std::size_t n = 0; n < pe_times.size(); ++n) {
        const double t = pe_times[n] + truth.draws[n].delay;
        k = first_after(ends, k, t, [](double time, double end) { return time <= end; });
        if (k < hits.size() && hits[static_cast<std::size_t>(order[k])].time <= t + pulse_length) {
            truth.record[n] = order[k];
        }
    }
}

}  // namespace pelorin
