#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "pelorin/background.hpp"
#include "pelorin/random/distributions.hpp"
#include "pelorin/random/mersenne_twister.hpp"
#include "pelorin/spectrum.hpp"

namespace pelorin {
namespace {

void require_equal_columns(const LabelledPEs& pes, const char* name) {
    if (pes.times.size() != pes.channels.size() || pes.sources.size() != pes.channels.size()) {
        std::ostringstream message;
        message << name << " hold columns of different lengths (" << pes.channels.size() << " channels, "
                << pes.times.size() << " times, " << pes.sources.size() << " sources)";
        throw std::invalid_argument(message.str());
    }
}

void require_probability(double probability) {
    if (!(probability >= 0.0 && probability <= 1.0)) {
        std::ostringstream message;
        message << "probability must lie between 0 and 1, got " << probability;
        throw std::invalid_argument(message.str());
    }
}

template <typename T>
void append(std::vector<T>& to, const std::vector<T>& from) {
    to.insert(to.end(), from.begin(), from.end());
}

}  // namespace

LabelledPEs labelled(PEColumns pes, PESource source) {
    const std::size_t count = pes.channels.size();
    return {std::move(pes.channels), std::move(pes.times),
            std::vector<std::uint8_t>(count, static_cast<std::uint8_t>(source))};
}

LabelledPEs merge_pes(LabelledPEs first, const LabelledPEs& second) {
    require_equal_columns(first, "the first PEs");
    require_equal_columns(second, "the second PEs");
    append(first.channels, second.channels);
    append(first.times, second.times);
    append(first.sources, second.sources);
    return first;
}

LabelledPEs add_afterpulses(LabelledPEs pes, double probability, const std::filesystem::path& delay_spectrum,
                            int seed) {
    require_equal_columns(pes, "the PEs");
    require_probability(probability);
    const Spectrum delays = read_density_spectrum(delay_spectrum);
    const random::PiecewiseLinearDistribution delay(delays.first.begin(), delays.first.end(),
                                                    delays.second.begin());

    const std::size_t parents = pes.times.size();
    // Room for all but a six-sigma excess of the binomial count, so that the columns grow once.
    const double expected = probability * static_cast<double>(parents);
    const auto margin = static_cast<std::size_t>(expected + 6.0 * std::sqrt(expected) + 64.0);
    const std::size_t room = parents + std::min(parents, margin);
    pes.channels.reserve(room);
    pes.times.reserve(room);
    pes.sources.reserve(room);
    random::MersenneTwister rng(static_cast<std::uint32_t>(seed));
    for (std::size_t i = 0; i < parents; ++i) {
        if (random::canonical(rng) < probability) {
            const int channel = pes.channels[i];  // a copy: the push may move the column
            const double time = pes.times[i] + delay(rng);
            pes.channels.push_back(channel);
            pes.times.push_back(time);
            pes.sources.push_back(static_cast<std::uint8_t>(PESource::afterpulse));
        }
    }
    return pes;
}

}  // namespace pelorin
