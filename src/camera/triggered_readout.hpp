#pragma once

// The camera's trigger decision and readout windows, fed one ADC sample at a time in
// ascending order. Holds only the samples that a window opened later can still reach.

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "corvane/tarvex_trigger.hpp"
#include "pelorin/tarvex.hpp"
#include "pelorin/trigger_sim.hpp"

namespace pelorin::camera {

/// "<prefix><time as %f>s.", the form of the model's error messages.
std::string printf_seconds(const char* prefix, double time);

/// Trailing zeros of a window that ran past the stored ADC samples read as the baseline.
void fill_trailing_zeros(std::vector<std::uint16_t>& samples, double offset);

/// What becomes of a readout window that starts before time 0; writes the warning line
/// for WARN, throws for THROW. Returns whether the window yields a record.
bool keep_early_window(Tarvex::EarlyHandling policy, double start);

/// Window settings of the model.
struct WindowSettings {
    int trigger_offset;
    double offset;
    Tarvex::EarlyHandling early_handling;
    int channel;
};

/// Trigger and windows over the ADC samples of one call. Requires a non-negative
/// waveform_samples and retrigger_offset, and indices small enough for whole-step
/// products to stay exact, so that windows open in ascending, disjoint order no earlier
/// than trigger_offset samples before the filter sample that opens them.
class TriggeredReadout {
public:
    TriggeredReadout(const TriggerSim& trigger, const WindowSettings& settings);

    bool wants(std::int64_t) const { return !failed_; }
    void take(std::int64_t index, std::uint16_t value);

    /// Records of all windows; rethrows the first failure the readout met.
    std::vector<corvane::TarvexTrigger> finish();

private:
    struct Sample {
        std::int64_t index;
        std::uint16_t value;
    };
    struct Window {
        std::int64_t first;  ///< ADC index of the first sample
        std::int64_t end;    ///< one past the last
        corvane::ReadoutTime time;
        std::vector<std::uint16_t> samples;
    };

    void filter_through(std::int64_t last_index);
    void decide(std::int64_t index, int filtered);
    void open_window(std::int64_t trigger_index);
    void complete_windows_before(std::int64_t end);
    void fail(std::exception_ptr error);

    const TriggerSim& trigger_;
    WindowSettings settings_;
    std::size_t taps_;
    std::int64_t ring_mask_;
    std::vector<std::int64_t> ring_index_;  ///< last samples by index modulo the ring size
    std::vector<std::uint16_t> ring_value_;
    bool have_sample_ = false;
    std::int64_t filter_next_ = 0;  ///< next filter index to evaluate
    std::int64_t filter_last_ = 0;  ///< last filter index the samples so far reach

    bool started_ = false;
    std::uint64_t run_ = 0;
    std::int64_t previous_ = 0;
    std::int64_t last_ = 0;

    std::vector<Sample> history_;  ///< samples a window opened later may still need
    std::size_t history_head_ = 0;
    std::deque<Window> pending_;
    std::vector<corvane::TarvexTrigger> records_;
    bool failed_ = false;
    std::exception_ptr error_;
};

}  // namespace pelorin::camera
