#pragma once

// The camera's trigger filter and readout windows, fed the ADC samples in ascending order
// as the ADC stream produces them. Holds only the samples that a window opened later can
// still reach.

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "corvane/tarvex_trigger.hpp"
#include "pelorin/tarvex.hpp"
#include "pelorin/trigger_sim.hpp"
#include "stages/trigger_decision.hpp"

namespace pelorin::stream {

/// The most samples a window may open before the filter sample that opens it for the
/// stream to take it: it keeps those samples, densely, as it goes.
constexpr std::int64_t longest_look_back = std::int64_t{1} << 20;

/// Window settings of the model.
struct WindowSettings {
    int trigger_offset;
    double offset;
    Tarvex::EarlyHandling early_handling;
    int channel;
};

/// Trigger and windows over the ADC samples of one call, taken in chunks of consecutive
/// indices in ascending order. Requires indices small enough for whole-step products to
/// stay exact. Windows then open in ascending, disjoint order (a window of negative length
/// fails the call), no earlier than trigger_offset samples before the filter sample that
/// opens them; it keeps that many samples back (see longest_look_back).
class TriggeredReadout {
public:
    /// `expected_records` reserves room for the records up front (more may come).
    TriggeredReadout(const TriggerSim& trigger, const WindowSettings& settings, std::size_t expected_records);

    void take_run(std::int64_t first, const std::uint16_t* counts, std::size_t size);

    /// Records of all windows; rethrows the first failure the readout met.
    std::vector<corvane::TarvexTrigger> finish();

    /// The start time in seconds of each record's window, also where a record's time says 0.
    const std::vector<double>& record_starts() const { return record_starts_; }

private:
    struct Window {
        std::int64_t first;  ///< ADC index of the first sample
        std::int64_t end;    ///< one past the last
        double start;        ///< seconds
        corvane::ReadoutTime time;
        std::vector<std::uint16_t> samples;
    };

    std::int64_t recent_end() const { return recent_first_ + static_cast<std::int64_t>(recent_.size()); }
    void filter(std::int64_t first, std::int64_t last);
    void open_window(std::int64_t trigger_index);
    /// Ends the call with `error` once the ADC stream, whose draws the call still makes, is done.
    void fail(std::exception_ptr error);
    void copy_into(Window& window) const;
    void complete_windows(std::int64_t known_end);
    void forget_before(std::int64_t index);

    const TriggerSim& trigger_;
    WindowSettings settings_;
    std::int64_t taps_;
    std::int64_t look_back_;  ///< samples before the next filter index still needed
    TriggerDecision decision_;
    std::uint16_t fill_;
    double window_bytes_ = 0.0;  ///< samples of the windows opened so far

    // Recent ADC samples, dense from recent_first_; a missing sample reads 0.
    std::int64_t recent_first_ = 0;
    std::vector<std::uint16_t> recent_;
    bool have_samples_ = false;
    std::int64_t filter_next_ = 0;  ///< next filter index to evaluate
    std::int64_t filter_last_ = 0;  ///< last filter index the samples so far reach

    std::vector<Window> pending_;
    std::size_t pending_head_ = 0;
    std::vector<corvane::TarvexTrigger> records_;
    std::vector<double> record_starts_;
    std::exception_ptr error_;
};

}  // namespace pelorin::stream
