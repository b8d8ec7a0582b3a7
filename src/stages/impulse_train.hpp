#pragma once

// The PMT impulse train of one readout call, and the integer index arithmetic that lets
// the streaming readout find the grid points the convolutions of the stages would store.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "pelorin/pmt_sim.hpp"
#include "pelorin/random/mersenne_twister.hpp"

namespace pelorin::stream {

/// One stored analog sample: grid index and summed amplitude.
struct Impulse {
    std::int64_t index;
    double amplitude;
};

/// Inclusive range of grid indices.
struct Run {
    std::int64_t first;
    std::int64_t last;
};

/// The PMT stage's draws for `pe_times` (delay, then amplitude, PE after PE) as an impulse
/// train sorted by index; amplitudes landing on one index are summed in PE order.
std::vector<Impulse> draw_impulses(PiecewiseLinearPMTSim& pmt, const std::vector<double>& pe_times,
                                   random::MersenneTwister& rng);

/// Sorts by index, keeping the given order among equal indices.
void stable_sort_by_index(std::vector<Impulse>& impulses);

/// Merges runs of equal indices, summing their amplitudes left to right.
void merge_equal_indices(std::vector<Impulse>& impulses);

/// The maximal runs, in ascending order, of the union of [index, index + span] over
/// sorted impulses and of further runs (sorted by their first index), formed as they are
/// read rather than kept in a list.
class Coverage {
public:
    Coverage(const std::vector<Impulse>& impulses, std::int64_t span, const std::vector<Run>* more = nullptr)
        : impulses_(impulses), span_(span), more_(more) {}

    /// The next run, or false after the last.
    bool next(Run& run) {
        if (!take(run)) {
            return false;
        }
        Run following{};
        while (first_ahead() <= run.last + 1 && take(following)) {
            run.last = std::max(run.last, following.last);
        }
        return true;
    }

private:
    std::int64_t first_ahead() const {
        std::int64_t first = std::numeric_limits<std::int64_t>::max();
        if (impulse_ < impulses_.size()) {
            first = impulses_[impulse_].index;
        }
        if (more_ && run_ < more_->size()) {
            first = std::min(first, (*more_)[run_].first);
        }
        return first;
    }
    bool take(Run& run) {
        const bool have_impulse = impulse_ < impulses_.size();
        const bool have_run = more_ && run_ < more_->size();
        if (have_impulse && (!have_run || impulses_[impulse_].index <= (*more_)[run_].first)) {
            const std::int64_t index = impulses_[impulse_++].index;
            run = {index, index + span_};
            return true;
        }
        if (have_run) {
            run = (*more_)[run_++];
            return true;
        }
        return false;
    }

    const std::vector<Impulse>& impulses_;
    std::int64_t span_;
    const std::vector<Run>* more_;
    std::size_t impulse_ = 0;
    std::size_t run_ = 0;
};

/// The union of runs given in any order, as maximal runs in ascending order.
std::vector<Run> merge_runs(std::vector<Run> runs);

/// Floor and ceiling of a / b for b > 0.
inline std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}
inline std::int64_t ceil_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && a > 0) ? q + 1 : q;
}

/// Result index of a kernel tap, as a convolution computes it from floating-point times:
/// time_to_index(k * tap_step + i * grid_step, grid_step). For impulse indices up to a
/// magnitude bound, `TapOffsets` proves which taps land at i plus a fixed integer offset
/// (one offset for times at or above 0, one below), so the readout can skip the
/// floating-point arithmetic; other taps are computed as the convolution does.
class TapOffsets {
public:
    TapOffsets(double tap_step, std::size_t taps, double grid_step, std::int64_t largest_index);

    /// Index of tap k of the impulse at index i.
    std::int64_t index(std::size_t k, std::int64_t i) const {
        const Tap& tap = taps_[k];
        if (tap.proven) {
            return i + (i >= tap.first_nonnegative ? tap.nonnegative : tap.negative);
        }
        return time_to_index(tap.time + static_cast<double>(i) * grid_step_, grid_step_);
    }
    /// Whether tap k lands at i + k for every impulse up to the bound (the equal-step case).
    bool consecutive() const { return consecutive_; }
    /// Largest offset any tap can have from its impulse index.
    std::int64_t max_offset() const { return max_offset_; }
    /// Whether every tap lands at or after its impulse, within max_offset() of it: false
    /// when the impulse indices are too large for the offsets to be bounded.
    bool forward() const { return forward_; }

private:
    struct Tap {
        double time;                    ///< k * tap_step, rounded as the convolution rounds it
        bool proven;
        std::int64_t nonnegative;       ///< offset where the tap time is at or above 0
        std::int64_t negative;          ///< offset where it is below 0
        std::int64_t first_nonnegative; ///< smallest impulse index with a tap time at or above 0
    };
    std::vector<Tap> taps_;
    double grid_step_;
    std::int64_t max_offset_ = 0;
    bool consecutive_ = true;
    bool forward_ = true;
};

/// Largest impulse index magnitude up to which every tap of a kernel whose step is the
/// grid's own lands at i + k; 0 if there is none.
std::int64_t consecutive_tap_bound(double step, std::size_t taps);

/// Seconds from the run start within which every index a streaming readout forms from a
/// time stays exact: analog indices within `tap_bound`, and ADC indices (analog ones over
/// `period`) plus `adc_margin` samples of filters and windows within 2^38, below which
/// products and sums of whole steps stay exact to the grid rule.
double exact_time_reach(double analog_step, std::int64_t tap_bound, std::int64_t taps, std::int64_t period,
                        std::int64_t adc_margin);

}  // namespace pelorin::stream
