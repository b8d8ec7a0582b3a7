#pragma once

// The rules by which a camera readout window becomes a record, shared by the stage
// composition and the streaming readout: the trailing fill, the early-window policy and
// the form of the model's messages.

#include <cstdint>
#include <string>
#include <vector>

#include "pelorin/tarvex.hpp"

namespace pelorin::camera {

/// "<prefix><time as %f>s.", the form of the model's error messages.
std::string printf_seconds(const char* prefix, double time);

/// The value that trailing zeros of a window take: the offset's whole part, modulo 2^16,
/// where the offset is positive; 0, meaning no fill, otherwise.
std::uint16_t trailing_fill(double offset);

/// Trailing zeros of a window that ran past the stored ADC samples read as the baseline.
void fill_trailing_zeros(std::vector<std::uint16_t>& samples, std::uint16_t fill);

/// What becomes of a readout window that starts before time 0; writes the warning line
/// for WARN, throws for THROW. Returns whether the window yields a record.
bool keep_early_window(Tarvex::EarlyHandling policy, double start);

}  // namespace pelorin::camera
