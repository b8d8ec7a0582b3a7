#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "corvane/tarvex_trigger.hpp"

namespace {

using corvane::make_tarvex_trigger;
using corvane::split_readout_time;

TEST(TarvexTrigger, TimeSplitTruncatesSecondsAndTicks) {
    struct Case {
        double time;
        std::uint32_t seconds;
        std::uint32_t ticks;
    };
    const Case cases[] = {
        {0.0, 0, 0},         {8e-9, 0, 2},        {1.2e-8, 0, 3},
        {3.5e-9, 0, 0},      {0.5, 0, 124999999}, {1.000000012, 1, 3},
        {123.456789012, 123, 114197253},         {4294967295.5, 4294967295u, 124999999},
    };
    for (const auto& [time, seconds, ticks] : cases) {
        const auto split = split_readout_time(time);
        EXPECT_EQ(split.seconds, seconds) << "time " << time;
        EXPECT_EQ(split.ticks, ticks) << "time " << time;
    }
}

TEST(TarvexTrigger, RecordBaselineAndSumInSinglePrecision) {
    const auto record = make_tarvex_trigger(-7, split_readout_time(1.000000012), {100, 110, 95}, 100.0);
    EXPECT_EQ(record.channel, -7);
    EXPECT_EQ(record.trigger_time_s, 1u);
    EXPECT_EQ(record.trigger_time_ticks, 3u);
    EXPECT_EQ(record.baseline, 100.0f);
    EXPECT_EQ(record.intsum, 5.0f);
    EXPECT_EQ(record.waveform, (std::vector<std::uint16_t>{100, 110, 95}));
    EXPECT_EQ(make_tarvex_trigger(0, {0, 0}, {100, 101}, 100.5).intsum, 0.0f);
    // 100.3f lies 3e-6 above 100.3: the float differences sum to 0.3999939, not 0.4.
    EXPECT_EQ(make_tarvex_trigger(0, {0, 0}, {100, 101}, 100.3).intsum, 0.399993896484375f);
    const auto empty = make_tarvex_trigger(0, {0, 0}, {}, 12.25);
    EXPECT_EQ(empty.baseline, 12.25f);
    EXPECT_EQ(empty.intsum, 0.0f);
    EXPECT_TRUE(empty.waveform.empty());

    // Beyond 2^24 a float sum rounds at each step, unlike a double sum.
    const std::vector<std::uint16_t> samples(300, 65535);
    float expected = 0.0f;
    double in_double = 0.0;
    for (const std::uint16_t sample : samples) {
        expected += static_cast<float>(sample) - 0.3f;
        in_double += sample - 0.3;
    }
    ASSERT_NE(expected, static_cast<float>(in_double));
    const auto wide = make_tarvex_trigger(0, {0, 0}, std::vector<std::uint16_t>(samples), 0.3);
    EXPECT_EQ(wide.baseline, 0.3f);
    EXPECT_EQ(wide.intsum, expected);
}

}  // namespace
