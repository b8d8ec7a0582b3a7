#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "pelorin/tot_sim.hpp"
#include "test_support.hpp"

namespace {

using pelorin::SparseConvolution;
using pelorin::SparseWaveform;
using pelorin::ToTSim;
using pelorin::test::draw;
using Hits = std::vector<pelorin::ToTHit>;

// 0.1 ns analog grid, 1 ns TDC; a one-tap kernel passes the input through unshaped.
constexpr double analog_step = 0.1e-9;
constexpr double tdc_step = 1e-9;

ToTSim make_tot(double dead_time, double jitter = 0.0, double threshold = 0.5, double noise = 0.0) {
    return ToTSim(tdc_step, SparseConvolution<double>{analog_step, {1.0}}, threshold, dead_time, noise,
                  jitter);
}

// Appends samples at every index of [first, last]: 1 on [high_first, high_last], 0 elsewhere.
SparseWaveform<double> stretch(std::int64_t first, std::int64_t last, std::int64_t high_first,
                               std::int64_t high_last,
                               SparseWaveform<double> waveform = SparseWaveform<double>(analog_step)) {
    for (std::int64_t i = first; i <= last; ++i) {
        waveform.samples.emplace_back(i, (i >= high_first && i <= high_last) ? 1.0 : 0.0);
    }
    return waveform;
}

double quantise(double time) { return std::round(time / tdc_step) * tdc_step; }

TEST(ToTSim, WorkedPulsesWithAndWithoutDeadTime) {
    std::mt19937 engine(6);
    std::mt19937 twin(6);
    // Opens at 1.2 ns, closes at 2.1 ns: 21 noise draws, two jitter draws at the close.
    EXPECT_EQ(make_tot(0.0).simulate(stretch(10, 30, 12, 20), engine), (Hits{{1e-9, 2e-9}}));
    std::normal_distribution<double> noise(0.0, 1.0);
    std::normal_distribution<double> jitter(0.0, 1.0);
    draw(twin, noise, 12);
    draw(twin, jitter, 2);
    draw(twin, noise, 9);
    EXPECT_EQ(engine, twin);

    // Samples 21 to 27 lie within the dead time: it closes at 2.8 ns. With 1.2 ns the
    // sample at exactly 2.4 ns does not close it either; 2.5 ns rounds away to 3 ns.
    EXPECT_EQ(make_tot(1.5e-9).simulate(stretch(10, 30, 12, 20), engine), (Hits{{1e-9, 3.0 * 1e-9}}));
    EXPECT_EQ(make_tot(1.2e-9).simulate(stretch(10, 30, 12, 20), engine), (Hits{{1e-9, 3.0 * 1e-9}}));
    // A value exactly at the threshold counts as above it.
    EXPECT_EQ(make_tot(0.0, 0.0, 1.0).simulate(stretch(10, 30, 12, 20), engine), (Hits{{1e-9, 2e-9}}));
    // Still open after the last sample (2 ns): it ends one TDC step later.
    EXPECT_EQ(make_tot(0.0).simulate(stretch(10, 20, 14, 20), engine), (Hits{{1e-9, 3.0 * 1e-9}}));
}

TEST(ToTSim, DeadTimeBlocksReopeningAndGapsAreNotZeros) {
    // Closes at 2.1 ns; the crossing from 2.3 ns to exactly 2.6 ns lies within 0.5 ns of
    // it. The pulse opened at 4.4 ns runs over the unstored indices 56 to 69 until 7 ns.
    auto waveform = stretch(44, 55, 44, 55, stretch(23, 26, 23, 26, stretch(10, 21, 12, 20)));
    waveform.samples.emplace_back(70, 0.0);
    std::mt19937 engine(9);
    EXPECT_EQ(make_tot(0.5e-9).simulate(waveform, engine), (Hits{{1e-9, 2e-9}, {4.0 * 1e-9, 7.0 * 1e-9}}));

    std::mt19937 untouched(9);
    EXPECT_TRUE(make_tot(0.0, 1e-9).simulate(SparseWaveform<double>(analog_step), untouched).empty());
    EXPECT_EQ(untouched, std::mt19937(9));
}

TEST(ToTSim, NoiseDecidesTheCrossing) {
    // One sample of value 0 at 1 ns opens a pulse left open exactly when its noise reaches 0.5.
    int opened = 0;
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        std::mt19937 engine(seed);
        std::mt19937 twin(seed);
        const bool crosses = std::normal_distribution<double>(0.0, 1.0)(twin) >= 0.5;
        opened += crosses;
        EXPECT_EQ(make_tot(0.0, 0.0, 0.5, 1.0).simulate(stretch(10, 10, 0, -1), engine),
                  (crosses ? Hits{{1e-9, 2e-9}} : Hits{})) << "seed " << seed;
    }
    EXPECT_GT(opened, 0);
    EXPECT_LT(opened, 20);
}

TEST(ToTSim, JitterDrawsStartThenEndForClosedPulseAndEndThenStartForOpen) {
    constexpr double sigma = 2e-9;  // wide, so that swapped draws change the quantised times
    for (const std::uint32_t seed : {1u, 2u, 3u}) {
        std::mt19937 engine(seed);
        std::mt19937 twin(seed);
        // Closed from 1.2 ns to 2.1 ns, then open from 5.4 ns to the last sample at 6 ns.
        const auto waveform = stretch(50, 60, 54, 60, stretch(10, 30, 12, 20));
        const auto hits = make_tot(0.0, sigma).simulate(waveform, engine);

        std::normal_distribution<double> noise(0.0, 1.0);
        std::normal_distribution<double> jitter(0.0, sigma);
        draw(twin, noise, 12);
        const auto closed = draw(twin, jitter, 2);
        draw(twin, noise, 9 + 11);
        const auto open = draw(twin, jitter, 2);
        const Hits expected{
            {quantise(12 * analog_step + closed[0]), quantise(closed[1] + 21 * analog_step)},
            {quantise(54 * analog_step + open[1]), quantise(60 * analog_step + (open[0] + tdc_step))}};
        EXPECT_EQ(hits, expected) << "seed " << seed;
        EXPECT_EQ(engine, twin);
    }
}

TEST(ToTSim, PulseShapeStepMayNotExceedTdcStep) {
    auto build = [](double ratio) {
        return ToTSim(tdc_step, SparseConvolution<double>{ratio * tdc_step, {1.0}}, 0.5, 0.0, 0.0, 0.0);
    };
    EXPECT_NO_THROW(build(1.0000005));
    pelorin::test::expect_throw_prefix<std::invalid_argument>(
        [&] { (void)build(1.00001); }, "ToTSim: TDC step is smaller than pulse shape time step.");
}

}  // namespace
