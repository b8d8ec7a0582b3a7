#pragma once

// The camera trigger's decision on its filtered signal: which filter samples count, which
// pass the threshold, and where the accepted ones open their windows. The stage
// (TriggerSim::simulate) and the streaming readout (stream::TriggeredReadout) both decide
// through this class, sample by sample or a run of consecutive samples at a time.

#include <cstdint>
#include <limits>
#include <optional>

#include "pelorin/trigger_sim.hpp"

namespace pelorin {

class TriggerDecision {
public:
    explicit TriggerDecision(const TriggerSim& trigger)
        : trigger_(trigger), rising_(trigger.trigger_norm > 0), bound_(passing_bound(trigger)) {}

    /// Whether a filter value passes: its quotient by trigger_norm, truncated toward zero,
    /// lies strictly above adc_threshold.
    bool passes(std::int64_t filtered) const { return rising_ ? filtered >= bound_ : filtered <= bound_; }

    /// Takes the run of consecutive filter samples [first, last] that follows the ones taken
    /// so far, and returns the first index of it that is evaluated: a sample counts only
    /// after kernel_size stored samples directly before it, so the first kernel_size of
    /// every gap-free stretch never trigger. Beyond `last` where none of the run counts.
    std::int64_t first_evaluated(std::int64_t first, std::int64_t last) {
        if (!started_) {
            started_ = true;
            // The first accepted crossing triggers at its own index: the last trigger lies
            // ceil(K / 2) + waveform_samples before the first sample.
            last_trigger_ =
                first + (static_cast<std::int64_t>(trigger_.kernel_center) - trigger_.waveform_samples);
            previous_ = first;
        }
        // A sample directly after the previous one extends the stretch; a gap starts anew.
        const std::uint64_t run_at_first = (first - previous_ == 1) ? run_ + 1 : 0;
        run_ = run_at_first + static_cast<std::uint64_t>(last - first);
        previous_ = last;
        if (run_at_first >= trigger_.kernel_size) {
            return first;
        }
        const std::uint64_t short_by = trigger_.kernel_size - run_at_first;
        return short_by > static_cast<std::uint64_t>(last - first) ? last + 1
                                                                   : first + static_cast<std::int64_t>(short_by);
    }

    /// A passing, evaluated sample at `index`: the index of the trigger it makes, or none
    /// when it lies within retrigger_offset of the last trigger. A crossing inside the
    /// previous window triggers right behind it.
    std::optional<std::int64_t> accept(std::int64_t index) {
        if (index - last_trigger_ < trigger_.retrigger_offset) {
            return std::nullopt;
        }
        last_trigger_ = (index - last_trigger_ >= trigger_.waveform_samples)
                            ? index
                            : last_trigger_ + trigger_.waveform_samples;
        return last_trigger_;
    }

private:
    /// The filter values that pass form one side of a bound, since the truncated quotient
    /// is monotone in the filter value: the least passing value for a positive divisor,
    /// the greatest for a negative one, found by bisection against the division itself.
    static std::int64_t passing_bound(const TriggerSim& trigger) {
        const auto divisor = static_cast<std::int64_t>(trigger.trigger_norm);
        auto passes = [&](std::int64_t f) { return f / divisor > trigger.adc_threshold; };
        // Filter values are 32-bit; the bound may lie one beyond either end (none pass).
        std::int64_t low = std::int64_t{std::numeric_limits<int>::min()} - 1;
        std::int64_t high = std::int64_t{std::numeric_limits<int>::max()} + 1;
        if (divisor > 0) {
            while (low < high) {  // least passing value
                const std::int64_t mid = low + (high - low) / 2;
                passes(mid) ? high = mid : low = mid + 1;
            }
            return low;
        }
        while (low < high) {  // greatest passing value
            const std::int64_t mid = high - (high - low) / 2;
            passes(mid) ? low = mid : high = mid - 1;
        }
        return low;
    }

    const TriggerSim& trigger_;
    bool rising_;
    std::int64_t bound_;
    bool started_ = false;
    std::uint64_t run_ = 0;
    std::int64_t previous_ = 0;
    std::int64_t last_trigger_ = 0;
};

}  // namespace pelorin
