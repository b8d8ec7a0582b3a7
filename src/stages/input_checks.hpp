#pragma once

#include <vector>

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

/// Finite times that stay on a 64-bit grid of spacing `step` even when moved by up
/// to `reach` seconds.
void require_grid_times(const std::vector<double>& times, double reach, double step, const char* name);

/// Finite time whose grid index, moved by up to `reach` seconds, fits comfortably in 64 bits.
void require_grid_time(double time, double reach, double step, const char* name);

}  // namespace pelorin::checks
