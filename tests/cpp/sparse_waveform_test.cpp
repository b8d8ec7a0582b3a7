#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#include "pelorin/sparse_waveform.hpp"
#include "test_support.hpp"

namespace {

using pelorin::SparseWaveform;
using pelorin::time_to_index;
using pelorin::test::expect_throw_prefix;
using Samples = std::vector<std::pair<std::int64_t, double>>;

TEST(TimeToIndex, ToleranceNearGridPointsOnBothSidesOfZero) {
    const std::pair<double, std::int64_t> cases[] = {
        {2.9995, 3}, {2.998, 2},  {2.5, 2},      {0.0, 0},   {-0.0, 0},    {0.9985, 0},
        {-0.5, 0},   {-0.998, 0}, {-0.9995, -1}, {-1.0, -1}, {-1.998, -1}, {-1.9995, -2},
    };
    for (const auto& [time, index] : cases) {
        SparseWaveform<double> waveform(1.0);
        waveform.add_sample(time, 1.0);
        EXPECT_EQ(waveform.samples.front().first, index) << "time " << time;
    }
    // Times computed as index * step map back to the index.
    for (const double step : {4e-9, 0.1e-9, 1.0 / 3.0}) {
        for (std::int64_t i = -2000; i <= 2000; ++i) {
            ASSERT_EQ(time_to_index(static_cast<double>(i) * step, step), i) << "step " << step;
        }
    }
}

TEST(SparseWaveform, AdditionsSumPerIndexAndStaySorted) {
    SparseWaveform<double> waveform(2.0);
    for (const double time : {10.0, -6.0, 4.0, 10.5, 0.0, -6.5, 4.0}) {
        waveform.add_sample(time, time);
    }
    EXPECT_EQ(waveform.samples, (Samples{{-3, -12.5}, {0, 0.0}, {2, 8.0}, {5, 20.5}}));

    SparseWaveform<unsigned short> counts(1.0);
    counts.add_sample(3.0, 65535);
    counts.add_sample(3.0, 2);
    EXPECT_EQ(counts.samples.front().second, 1);
    SparseWaveform<unsigned short> batch(1.0);
    batch.add_samples({{3, 65535}, {3, 2}});
    EXPECT_EQ(batch.samples, counts.samples);
}

TEST(SparseWaveform, GetSamplesReadsDenseWindow) {
    SparseWaveform<unsigned short> waveform(4e-9);
    const std::vector<std::pair<int, unsigned short>> stored{{-2, 7}, {10, 1}, {11, 2}, {15, 3}, {16, 4}};
    for (const auto& [index, value] : stored) {
        waveform.add_sample(index * 4e-9, value);
    }
    EXPECT_EQ(waveform.get_samples(40e-9, 64e-9), (std::vector<unsigned short>{1, 2, 0, 0, 0, 3}));
    EXPECT_EQ(waveform.get_samples(-8e-9, 0.0), (std::vector<unsigned short>{7, 0}));
    EXPECT_EQ(waveform.get_samples(100e-9, 112e-9), (std::vector<unsigned short>(3, 0)));
    EXPECT_TRUE(waveform.get_samples(44e-9, 44e-9).empty());
    expect_throw_prefix<std::invalid_argument>([&] { (void)waveform.get_samples(1.0, 0.5); },
                                                "End time must be greater than start time.");
}

}  // namespace
