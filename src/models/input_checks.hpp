#pragma once

#include <vector>

#include "pelorin/readout.hpp"

// Checks of model arguments that would otherwise reach undefined behaviour (division
// by zero, out-of-range float-to-integer conversions) or endless loops. Each throws
// std::invalid_argument with a message that names the argument.
namespace pelorin::checks {

/// A time step: finite and positive.
void require_step(double value, const char* name);

/// Any finite number.
void require_finite(double value, const char* name);

/// A finite value that converts to single precision without overflow.
void require_float_range(double value, const char* name);

/// An ADC period of at least one analog step and few enough for a random phase.
void require_adc_period(double adc_step, double pmt_time_step, const char* name);

/// An ADC clip whose rounded value converts to a 32-bit integer.
void require_adc_clip(double clip, const char* name);

/// A non-zero divisor.
void require_nonzero(int value, const char* name);

/// The times, relative to the run start, that a model's readout handles exactly.
struct TimeRange {
    double latest;          ///< seconds; also the earliest, negated, unless any_before_start
    bool any_before_start;  ///< whether every time before the start passes (to fail later)
    const char* reason;     ///< why the range ends there, for the message
};

/// Bytes of physical memory of the machine; infinite where the system does not tell.
double physical_memory();

/// Throws std::length_error naming `what` unless that many bytes could fit in memory, so
/// that a request that cannot fit fails before anything is allocated.
void require_memory(double bytes, const char* what);

/// Finite times within the range.
void require_run_times(const std::vector<double>& times, const TimeRange& range, const char* name);

/// A span of a continuous readout as given: finite, from 0 on, not ending before it starts.
TimeSpan checked_span(const TimeSpan& span);

/// Refuses a span over which `what` would take more than 2^31 samples of `step`, or whose
/// forcing in steps of `forcing_step` would.
void require_span_samples(const TimeSpan& span, double step, double forcing_step, const char* what);

}  // namespace pelorin::checks
