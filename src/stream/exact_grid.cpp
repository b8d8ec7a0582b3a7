#include "stream/exact_grid.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pelorin::stream {
namespace {

// Index products and sums of whole steps pick up a few roundings of 2^-53 relative to
// their magnitude; the grid rule's tolerance of a thousandth of a step absorbs them with
// a wide margin below this bound.
constexpr std::int64_t exact_product_bound = std::int64_t{1} << 38;

}  // namespace

TapOffsets::TapOffsets(double tap_step, std::size_t taps, double grid_step, std::int64_t largest_index)
    : grid_step_(grid_step) {
    // The tap time k * tap_step + i * grid_step is rounded three times before the division
    // and once by it; relative to the grid step the error stays below (4 M + 4) 2^-52 for
    // |i| + k * tap_step / grid_step <= M. Where neither the shifted quotient above nor the
    // one below 0 lies that close to a whole number, truncation cannot depend on it. The
    // quotients here are formed in double precision, which rounds the ratio and each shifted
    // quotient once more, by at most (|ratio| + 1) 2^-53 each; the error bound covers that
    // too, so the decisions are the same on every machine.
    constexpr double tolerance = 0.001;
    taps_.reserve(taps);
    for (std::size_t k = 0; k < taps; ++k) {
        Tap tap{static_cast<double>(k) * tap_step, false, 0, 0, std::numeric_limits<std::int64_t>::min()};
        const double ratio = tap.time / grid_step;
        const double magnitude = static_cast<double>(largest_index) + std::fabs(ratio) + 1.0;
        // The last factor makes up for the rounding of this bound's own arithmetic.
        const double error = ((4.0 * magnitude + 4.0) + (std::fabs(ratio) + 1.0)) * 0x1p-52 * (1.0 + 0x1p-40);
        const double above = ratio + tolerance;
        const double below = ratio - tolerance;
        // Exact differences: a double and its floor or ceiling share their leading bits.
        auto clear_of_integers = [&](double x) { return x - std::floor(x) > error && std::ceil(x) - x > error; };
        // A tap at or after zero delay lands at or after its impulse as long as the error
        // stays well below one step; beyond that the offsets are not bounded.
        if (!(ratio >= 0 && ratio < 1e15 && error < 0.25)) {
            forward_ = false;
            consecutive_ = false;
            taps_.push_back(tap);
            continue;
        }
        if (clear_of_integers(above) && clear_of_integers(below)) {
            tap.proven = true;
            tap.nonnegative = static_cast<std::int64_t>(std::floor(above));
            tap.negative = static_cast<std::int64_t>(std::ceil(below));
            if (tap.nonnegative != tap.negative) {
                // The shifted quotients straddle no whole number, so the tap time is at or
                // above 0 exactly when i > -ratio.
                tap.first_nonnegative = static_cast<std::int64_t>(std::floor(-ratio)) + 1;
            }
            max_offset_ = std::max({max_offset_, tap.nonnegative, tap.negative});
        } else {
            max_offset_ = std::max(max_offset_, static_cast<std::int64_t>(std::ceil(above)) + 1);
        }
        consecutive_ = consecutive_ && tap.proven && tap.nonnegative == static_cast<std::int64_t>(k) &&
                       tap.negative == static_cast<std::int64_t>(k);
        taps_.push_back(tap);
    }
}

std::int64_t consecutive_tap_bound(double step, std::size_t taps) {
    // Taps on the grid's own step land a thousandth of a step clear of the neighbouring
    // index, so the proof holds while (4 M + 4) 2^-52 < 0.001, M < 0.001 * 2^50 - 1 =
    // 1.1259e12. 2^40 - 2^31 = 1.0974e12 is the round bound just below it, which leaves
    // room for some 2^34 taps; where a grid step does not divide its tap times exactly
    // enough for that, 2^38 leaves a wide margin.
    for (const std::int64_t bound : {(std::int64_t{1} << 40) - (std::int64_t{1} << 31), std::int64_t{1} << 38}) {
        if (TapOffsets(step, taps, step, bound).consecutive()) {
            return bound;
        }
    }
    return 0;
}

double exact_time_reach(double analog_step, std::int64_t tap_bound, std::int64_t taps, std::int64_t period,
                        std::int64_t adc_margin) {
    // Three steps absorb the tolerance of the grid rule and the rounding of the quotient.
    const double adc_room = static_cast<double>(exact_product_bound) - static_cast<double>(adc_margin) - 2.0;
    const double analog = std::min(static_cast<double>(tap_bound),
                                   adc_room * static_cast<double>(period) - static_cast<double>(taps)) -
                          3.0;
    return analog > 0.0 ? analog * analog_step : 0.0;
}

}  // namespace pelorin::stream
