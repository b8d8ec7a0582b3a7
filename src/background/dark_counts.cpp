#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

#include "models/input_checks.hpp"
#include "pelorin/background.hpp"
#include "pelorin/random/distributions.hpp"
#include "pelorin/random/mersenne_twister.hpp"

namespace pelorin {
namespace {

/// The time steps of a double near the largest time must be this many times finer than a
/// rate's mean gap: below that, gaps vanish in the rounding of t + gap, and at the limit t
/// would stop advancing and the draw never end.
constexpr double min_gap_in_time_steps = 1024.0;

/// Bytes a dark count takes in the columns.
constexpr double bytes_per_pe = sizeof(int) + sizeof(double);

template <typename... Pieces>
[[noreturn]] void refuse(const Pieces&... pieces) {
    std::ostringstream message;
    (message << ... << pieces);
    throw std::invalid_argument(message.str());
}

/// The rate of channel `index` in the given order.
double rate_of(std::span<const double> rates, std::size_t index) { return rates[rates.size() == 1 ? 0 : index]; }

void check_rates(std::span<const double> rates, std::size_t channel_count) {
    if (rates.size() != 1 && rates.size() != channel_count) {
        refuse("rates hold ", rates.size(), " values for ", channel_count,
               " channels; give one rate or one per channel");
    }
    for (std::size_t i = 0; i < rates.size(); ++i) {
        if (!(std::isfinite(rates[i]) && rates[i] >= 0.0)) {
            refuse("rate must be a finite, non-negative number of Hz, got ", rates[i],
                   rates.size() == 1 ? "" : " at index " + std::to_string(i));
        }
    }
}

void check_window(double start, double stop) {
    checks::require_finite(start, "start");
    checks::require_finite(stop, "stop");
    if (stop < start) {
        refuse("stop (", stop, " s) lies before start (", start, " s)");
    }
}

/// The PEs the rates give on average; a zero rate adds none, whatever the span.
double expected_count(std::span<const double> rates, double span, std::size_t channel_count) {
    double rate_sum = 0.0;
    for (const double rate : rates) {
        rate_sum += rate;
    }
    if (rates.size() == 1) {
        rate_sum *= static_cast<double>(channel_count);
    }
    return rate_sum > 0.0 ? rate_sum * span : 0.0;
}

/// Refuses a rate whose mean gap the doubles near start and stop cannot resolve.
void check_resolution(std::span<const double> rates, double start, double stop) {
    const double highest = rates.empty() ? 0.0 : *std::max_element(rates.begin(), rates.end());
    if (highest == 0.0) {
        return;
    }
    const double largest_time = std::max(std::fabs(start), std::fabs(stop));
    const double time_step = std::nextafter(largest_time, std::numeric_limits<double>::infinity()) - largest_time;
    if (!(highest * time_step * min_gap_in_time_steps <= 1.0)) {
        refuse("rate ", highest, " Hz has a mean gap of ", 1.0 / highest, " s, too short for times near ",
               largest_time, " s, which step by ", time_step,
               " s; give start and stop relative to an origin nearer the window");
    }
}

/// Draws the dark counts of every channel, `channel_at(i)` giving the i-th channel number.
template <typename ChannelAt>
PEColumns draw_dark_counts(std::span<const double> rates, double start, double stop, std::size_t channel_count,
                           ChannelAt channel_at, int seed) {
    check_rates(rates, channel_count);
    check_window(start, stop);
    const double expected = expected_count(rates, stop - start, channel_count);
    // Room for all but a six-sigma excess of the Poisson total, so that the columns are sized once.
    const double reserved = std::ceil(expected + 6.0 * std::sqrt(expected) + 64.0);
    checks::require_memory(bytes_per_pe * reserved, "The dark counts of this call");
    check_resolution(rates, start, stop);

    PEColumns pes;
    pes.channels.reserve(static_cast<std::size_t>(reserved));
    pes.times.reserve(static_cast<std::size_t>(reserved));
    random::MersenneTwister rng(static_cast<std::uint32_t>(seed));
    for (std::size_t i = 0; i < channel_count; ++i) {
        const double rate = rate_of(rates, i);
        if (rate == 0.0) {
            continue;  // no gap ever ends
        }
        const int channel = channel_at(i);
        for (double t = start;;) {
            t += -std::log(1.0 - random::canonical(rng)) / rate;
            if (!(t < stop)) {
                break;
            }
            pes.channels.push_back(channel);
            pes.times.push_back(t);
        }
    }
    return pes;
}

}  // namespace

PEColumns dark_counts(std::span<const double> rates, double start, double stop, std::span<const int> channels,
                      int seed) {
    return draw_dark_counts(
        rates, start, stop, channels.size(), [channels](std::size_t i) { return channels[i]; }, seed);
}

PEColumns dark_counts(std::span<const double> rates, double start, double stop, std::int64_t channel_count,
                      int seed) {
    constexpr std::int64_t channel_numbers = std::int64_t{std::numeric_limits<int>::max()} + 1;
    if (channel_count < 0 || channel_count > channel_numbers) {
        refuse("channel count must lie between 0 and 2^31 (channels 0 to 2^31 - 1), got ", channel_count);
    }
    return draw_dark_counts(
        rates, start, stop, static_cast<std::size_t>(channel_count),
        [](std::size_t i) { return static_cast<int>(i); }, seed);
}

}  // namespace pelorin
