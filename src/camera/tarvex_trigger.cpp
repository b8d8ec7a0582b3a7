#include "corvane/tarvex_trigger.hpp"

#include <cmath>
#include <limits>
#include <utility>

namespace corvane {
namespace {

/// Truncation toward zero that saturates instead of overflowing; NaN gives 0.
std::int64_t truncate_to_int64(double value) {
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (!(value > -limit)) {
        return std::isnan(value) ? 0 : std::numeric_limits<std::int64_t>::min();
    }
    if (!(value < limit)) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return static_cast<std::int64_t>(value);
}

}  // namespace

ReadoutTime split_readout_time(double time) {
    const auto seconds = static_cast<std::uint32_t>(truncate_to_int64(time));
    const double remainder = (time - static_cast<double>(seconds)) / TarvexTrigger::SECONDS_PER_TICK;
    const auto ticks = static_cast<std::uint32_t>(truncate_to_int64(remainder));
    return {seconds, ticks};
}

TarvexTrigger make_tarvex_trigger(int channel, ReadoutTime time, std::vector<std::uint16_t>&& samples,
                                  double offset) {
    const auto baseline = static_cast<float>(offset);
    float intsum = 0.0f;
    // With a whole-number baseline every difference and every partial sum is an integer
    // below 2^24 for windows of up to 128 samples, so the single-precision sum is exact
    // and equals the integer sum.
    const bool exact =
        baseline == std::trunc(baseline) && std::fabs(baseline) <= 65536.0f && samples.size() <= 128;
    if (exact) {
        std::uint32_t sum = 0;  // below 2^23
        for (const std::uint16_t sample : samples) {
            sum += sample;
        }
        intsum = static_cast<float>(static_cast<std::int64_t>(sum) - static_cast<std::int64_t>(samples.size()) *
                                                                         static_cast<std::int64_t>(baseline));
    } else {
        for (const std::uint16_t sample : samples) {
            // Single precision throughout, as the front-end accumulates.
            intsum += static_cast<float>(sample) - baseline;
        }
    }
    return TarvexTrigger{channel, time.seconds, time.ticks, baseline, intsum, std::move(samples)};
}

}  // namespace corvane
