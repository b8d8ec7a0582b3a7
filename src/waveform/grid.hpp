#pragma once

#include <cstdint>

namespace pelorin {

/// Floor of a / b for b > 0: the coarser-grid index (an ADC sample, say) that a finer-grid
/// index falls in, also for negative indices.
inline std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

/// Ceiling of a / b for b > 0.
inline std::int64_t ceil_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && a > 0) ? q + 1 : q;
}

}  // namespace pelorin
