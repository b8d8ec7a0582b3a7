#pragma once

// The integer index arithmetic that lets the streaming readout find, without floating
// point, the grid points the stages' convolutions compute from floating-point times, and
// the range of times over which it provably does.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pelorin/sparse_waveform.hpp"

namespace pelorin::stream {

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
        double time;  ///< k * tap_step, rounded as the convolution rounds it
        bool proven;
        std::int64_t nonnegative;        ///< offset where the tap time is at or above 0
        std::int64_t negative;           ///< offset where it is below 0
        std::int64_t first_nonnegative;  ///< smallest impulse index with a tap time at or above 0
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
