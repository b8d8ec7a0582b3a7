// Dark counts and afterpulses: seeded statistics against the Poisson and binomial
// expectations (five-sigma bounds), the documented draw order, the column layout and the
// refusals that must come before any draw.

#include <algorithm>
#include <array>
#include <numeric>

#include "pelorin/background.hpp"
#include "pelorin/spectrum.hpp"
#include "test_support.hpp"

namespace {

using namespace pelorin;
using namespace pelorin::test;

constexpr std::array<double, 1> khz10{1e4};

/// Whether `count` lies within five standard deviations of `mean`.
bool within_five_sigma(double count, double mean, double sigma) { return std::fabs(count - mean) <= 5.0 * sigma; }

TEST(DarkCounts, CountsFollowTheRatesAndTimesAscendWithinTheWindowChannelAfterChannel) {
    const std::vector<int> channels{7, 3, 5, -2};
    const std::vector<double> rates{0.0, 1e4, 1e5, 3e4};
    const PEColumns pes = dark_counts(rates, -0.02, 0.08, channels, 11);
    ASSERT_EQ(pes.channels.size(), pes.times.size());
    std::size_t at = 0;
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const std::size_t first = at;
        while (at < pes.channels.size() && pes.channels[at] == channels[c]) {
            ASSERT_TRUE(pes.times[at] >= -0.02 && pes.times[at] < 0.08) << pes.times[at];
            ASSERT_TRUE(at == first || pes.times[at - 1] <= pes.times[at]) << "channel " << channels[c];
            ++at;
        }
        const double mean = rates[c] * 0.1;
        EXPECT_TRUE(within_five_sigma(static_cast<double>(at - first), mean, std::sqrt(mean))) << channels[c];
    }
    EXPECT_EQ(at, pes.channels.size()) << "channels out of the given order";

    // Many channels at one rate: the total and the mean time of a uniform process.
    const PEColumns many = dark_counts(khz10, 1.0, 1.01, 500, 3);
    const double mean = 500 * 1e4 * 0.01;
    const auto count = static_cast<double>(many.times.size());
    EXPECT_TRUE(within_five_sigma(count, mean, std::sqrt(mean)));
    const double mean_time = std::accumulate(many.times.begin(), many.times.end(), 0.0) / count;
    EXPECT_TRUE(within_five_sigma(mean_time, 1.005, 0.01 / std::sqrt(12.0 * count))) << mean_time;
}

TEST(DarkCounts, DrawOneCanonicalPerGapChannelAfterChannelFromTheSeed) {
    // A channel of rate 0 draws nothing; the others continue the one engine.
    const std::vector<int> channels{4, 9, 1};
    const std::vector<double> rates{1e4, 0.0, 2e4};
    const PEColumns pes = dark_counts(rates, 0.0, 1e-3, channels, -5);
    random::MersenneTwister rng(static_cast<std::uint32_t>(-5));
    PEColumns expected;
    for (const auto& [channel, rate] : {std::pair{4, 1e4}, std::pair{1, 2e4}}) {
        for (double t = -std::log(1.0 - random::canonical(rng)) / rate; t < 1e-3;
             t += -std::log(1.0 - random::canonical(rng)) / rate) {
            expected.channels.push_back(channel);
            expected.times.push_back(t);
        }
    }
    EXPECT_EQ(pes.channels, expected.channels);
    EXPECT_EQ(pes.times, expected.times);

    const std::vector<int> numbered{0, 1, 2};
    EXPECT_EQ(dark_counts(khz10, 0.0, 1e-3, 3, 9).times, dark_counts(khz10, 0.0, 1e-3, numbered, 9).times);
    EXPECT_NE(dark_counts(khz10, 0.0, 1e-3, 3, 9).times, dark_counts(khz10, 0.0, 1e-3, 3, 10).times);
    EXPECT_TRUE(dark_counts(khz10, 0.5, 0.5, 3, 9).times.empty());
}

TEST(DarkCounts, RefuseBadArgumentsBeforeDrawing) {
    const std::vector<double> nan{std::nan("")}, inf{INFINITY}, negative{-1.0}, two{1.0, 2.0}, huge{1e300},
        fast{1e9};
    const std::tuple<std::vector<double>, double, double, std::int64_t, std::string> cases[] = {
        {negative, 0, 1, 2, "rate must be a finite, non-negative number of Hz, got -1"},
        {nan, 0, 1, 2, "got nan"},
        {inf, 0, 1, 2, "got inf"},
        {two, 0, 1, 3, "rates hold 2 values for 3 channels"},
        {{1.0, 2.0, -3.0}, 0, 1, 3, "got -3 at index 2"},
        {{1.0}, INFINITY, 1, 2, "start must be a finite number"},
        {{1.0}, 0, std::nan(""), 2, "stop must be a finite number"},
        {{1.0}, 1, 0.5, 2, "stop (0.5 s) lies before start (1 s)"},
        {{1.0}, 0, 1, -1, "channel count must lie between 0 and 2^31"},
        {{1.0}, 0, 1, std::int64_t{1} << 32, "channel count must lie between 0 and 2^31"},
        {fast, 1e10, 1e10 + 1e-3, 1, "too short for times near 1e+10 s"},
    };
    for (const auto& bad : cases) {
        // The tuple is captured whole: clang before 16 cannot capture structured bindings.
        const std::string& message = std::get<4>(bad);
        EXPECT_TRUE(throws_with<std::invalid_argument>(
            [&] { dark_counts(std::get<0>(bad), std::get<1>(bad), std::get<2>(bad), std::get<3>(bad), 1); },
            message))
            << message;
    }
    EXPECT_TRUE(
        throws_with<std::length_error>([&] { dark_counts(huge, 0, 1, 2, 1); }, "The dark counts of this call"));
}

/// PEs far apart on channels 0 to 6, so that each afterpulse names its parent by its time.
LabelledPEs spaced_pes(std::size_t count) {
    LabelledPEs pes;
    for (std::size_t i = 0; i < count; ++i) {
        pes.channels.push_back(static_cast<int>(i % 7));
        pes.times.push_back(static_cast<double>(i) * 1e-3);
        pes.sources.push_back(static_cast<std::uint8_t>(i % 2));
    }
    return pes;
}

TEST(Afterpulses, FollowTheirParentsWithTheProbabilityAndTheDelaySpectrum) {
    // A density rising from 0 at 1 us to its top at 3 us: mean 7/3 us, deviation 2 us / sqrt(18).
    const TempFile rising("1e-6 0\n3e-6 1\n");
    const std::size_t n = 20000;
    const LabelledPEs input = spaced_pes(n);
    const LabelledPEs pes = add_afterpulses(input, 0.3, rising, 4);
    ASSERT_TRUE(std::equal(input.times.begin(), input.times.end(), pes.times.begin()));
    ASSERT_TRUE(std::equal(input.sources.begin(), input.sources.end(), pes.sources.begin()));
    const std::size_t afterpulses = pes.times.size() - n;
    EXPECT_TRUE(within_five_sigma(static_cast<double>(afterpulses), 0.3 * n, std::sqrt(0.3 * 0.7 * n)));
    double delay_sum = 0.0;
    std::size_t previous_parent = 0;
    for (std::size_t i = n; i < pes.times.size(); ++i) {
        const auto parent = static_cast<std::size_t>(pes.times[i] / 1e-3);
        ASSERT_TRUE(i == n || parent > previous_parent) << "afterpulses out of their parents' order";
        ASSERT_EQ(pes.channels[i], input.channels[parent]);
        ASSERT_EQ(pes.sources[i], static_cast<std::uint8_t>(PESource::afterpulse));
        const double delay = pes.times[i] - input.times[parent];
        ASSERT_TRUE(delay >= 1e-6 && delay <= 3e-6) << delay;
        delay_sum += delay;
        previous_parent = parent;
    }
    const double sigma = 2e-6 / std::sqrt(18.0 * static_cast<double>(afterpulses));
    EXPECT_TRUE(within_five_sigma(delay_sum / static_cast<double>(afterpulses), 7e-6 / 3, sigma));

    EXPECT_EQ(add_afterpulses(input, 0.3, rising, 4).times, pes.times);
    EXPECT_NE(add_afterpulses(input, 0.3, rising, 5).times, pes.times);
    EXPECT_EQ(add_afterpulses(input, 0.0, rising, 4).times, input.times);
    EXPECT_EQ(add_afterpulses(input, 1.0, rising, 4).times.size(), 2 * n);
}

TEST(Afterpulses, RefuseBadArgumentsBeforeDrawing) {
    const TempFile flat("0 1\n1e-6 1\n");
    const LabelledPEs pes = spaced_pes(3);
    for (const double probability : {-0.1, 1.5, std::nan("")}) {
        EXPECT_TRUE(throws_with<std::invalid_argument>([&] { add_afterpulses(pes, probability, flat.gone(), 1); },
                                                       "probability must lie between 0 and 1"));
    }
    EXPECT_EQ(failure_message([&] { add_afterpulses(pes, 0.5, flat.gone(), 1); }),
              "Failed to open spectrum file: " + flat.gone().string() + ". No such file.");
    LabelledPEs short_sources = pes;
    short_sources.sources.pop_back();
    EXPECT_TRUE(throws_with<std::invalid_argument>([&] { add_afterpulses(short_sources, 0.5, flat, 1); },
                                                   "(3 channels, 3 times, 2 sources)"));
}

TEST(MergePes, ConcatenatesTheColumnsKeepingTheLabels) {
    const PEColumns dark = dark_counts(khz10, 0.0, 1e-3, 2, 1);
    const LabelledPEs merged = merge_pes(spaced_pes(3), labelled(dark, PESource::dark_count));
    ASSERT_EQ(merged.times.size(), 3 + dark.times.size());
    EXPECT_TRUE(std::equal(dark.times.begin(), dark.times.end(), merged.times.begin() + 3));
    EXPECT_EQ(std::count(merged.sources.begin(), merged.sources.end(), 1), 1 + std::ssize(dark.times));
    LabelledPEs short_times = spaced_pes(2);
    short_times.times.pop_back();
    EXPECT_TRUE(throws_with<std::invalid_argument>([&] { merge_pes(spaced_pes(1), short_times); },
                                                   "the second PEs hold columns of different lengths"));
}

}  // namespace
