#pragma once

// The PMT impulse train of one readout call, and the runs of grid points that its pulses
// (and forced samples) cover: where the convolutions of the stages would store samples.

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
/// train sorted by index; amplitudes landing on one index are summed in PE order. Each
/// PE's draws go to `drawn` where given.
std::vector<Impulse> draw_impulses(PiecewiseLinearPMTSim& pmt, const std::vector<double>& pe_times,
                                   random::MersenneTwister& rng, std::vector<PEDraw>* drawn = nullptr);

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
        if (more_ != nullptr && run_ < more_->size()) {
            first = std::min(first, (*more_)[run_].first);
        }
        return first;
    }
    bool take(Run& run) {
        const bool have_impulse = impulse_ < impulses_.size();
        const bool have_run = more_ != nullptr && run_ < more_->size();
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

}  // namespace pelorin::stream
