#pragma once

// Noise PEs beside the signal: dark counts as a Poisson process per channel, and
// afterpulses that follow PEs after a delay drawn from a measured spectrum. PE sets are
// parallel columns, the form in which detector simulations hand over their PEs. Each
// function draws from a Mersenne Twister of its own, seeded as the models seed theirs
// (a negative seed enters as its two's-complement low 32 bits), and checks its arguments
// before the first draw.

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace pelorin {

/// Where a PE came from: its code in the sources column of a labelled PE set.
enum class PESource : std::uint8_t { signal = 0, dark_count = 1, afterpulse = 2 };

/// The channel and time (seconds) of every PE.
struct PEColumns {
    std::vector<int> channels;
    std::vector<double> times;
};

/// PE columns with the source code of every PE (a PESource, or any code of the caller's).
struct LabelledPEs {
    std::vector<int> channels;
    std::vector<double> times;
    std::vector<std::uint8_t> sources;
};

/// Poisson dark counts at `rates` (Hz; one for every channel, or one per channel) over
/// [start, stop) seconds on `channels`, channel after channel in the given order, each
/// channel's times ascending. Per channel, t runs from start by gaps -log(1 - u) / rate,
/// u = canonical, one draw per gap including the gap that passes stop; a channel of rate 0
/// draws nothing. Throws std::invalid_argument for a rate that is negative or not finite,
/// a rate count that is neither 1 nor the channel count, start or stop not finite, stop
/// before start, or a rate whose mean gap the times near start and stop cannot resolve;
/// std::length_error (as checks::require_memory) if the expected PEs cannot fit in memory.
PEColumns dark_counts(std::span<const double> rates, double start, double stop, std::span<const int> channels,
                      int seed);

/// Dark counts on channels 0 to channel_count - 1 (at most 2^31 channels).
PEColumns dark_counts(std::span<const double> rates, double start, double stop, std::int64_t channel_count,
                      int seed);

/// The PEs with every one labelled `source`.
LabelledPEs labelled(PEColumns pes, PESource source);

/// The PEs of `first`, then those of `second`, labels kept. Throws std::invalid_argument if
/// either has columns of different lengths.
LabelledPEs merge_pes(LabelledPEs first, const LabelledPEs& second);

/// The PEs followed by their afterpulses. Each input PE, in order, draws canonical u and
/// makes an afterpulse if u < probability, at its time plus a delay (seconds) drawn from the
/// piecewise-linear density of the two-column file `delay_spectrum`; afterpulses come in
/// the order of their parents, on their parents' channels, labelled PESource::afterpulse,
/// and make none themselves. Throws std::invalid_argument for a probability outside [0, 1]
/// or columns of different lengths, FileError (pelorin/spectrum.hpp) for a spectrum that
/// read_density_spectrum refuses.
LabelledPEs add_afterpulses(LabelledPEs pes, double probability, const std::filesystem::path& delay_spectrum,
                            int seed);

}  // namespace pelorin
