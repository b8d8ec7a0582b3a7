#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "pelorin/adc_sim.hpp"
#include "test_support.hpp"

namespace {

using pelorin::ADCSim;
using pelorin::SparseConvolution;
using pelorin::SparseWaveform;
using pelorin::test::draw;
using pelorin::test::make_waveform;

template <typename T>
using Samples = std::vector<std::pair<std::int64_t, T>>;

// 0.1 ns analog grid, 4 ns ADC period: R = 40 analog steps.
constexpr double analog_step = 0.1e-9;
constexpr double adc_step = 4e-9;

ADCSim make_adc(int jitter, std::vector<double> kernel = {1.0}, double gain = 100.0,
                double offset = 20.0, double preamp_clip = 60000.0, double noise = 3.0,
                double clip = 65535.0) {
    return ADCSim(adc_step, SparseConvolution<double>{analog_step, std::move(kernel)}, jitter, gain,
                  offset, preamp_clip, noise, clip);
}

// Analog value 0.01 * i at every index i below `count`.
SparseWaveform<double> ramp(std::int64_t count) {
    SparseWaveform<double> analog(analog_step);
    for (std::int64_t i = 0; i < count; ++i) {
        analog.samples.emplace_back(i, 0.01 * static_cast<double>(i));
    }
    return analog;
}

TEST(ADCSim, FixedPhasePicksOneAnalogIndexPerPeriod) {
    const auto analog = make_waveform<double>(
        analog_step, {{-35, 1}, {-5, 2}, {0, 3}, {5, 4}, {40, 5}, {45, 6}, {80, 7}, {85, 8}, {100, 9}});
    std::mt19937 engine(1);
    EXPECT_EQ(make_adc(0).sample_down(analog, engine).samples, (Samples<double>{{0, 3}, {1, 5}, {2, 7}}));
    EXPECT_EQ(make_adc(5).sample_down(analog, engine).samples,
              (Samples<double>{{-1, 1}, {0, 4}, {1, 6}, {2, 8}}));
    EXPECT_EQ(make_adc(35).sample_down(analog, engine).samples, (Samples<double>{{-1, 2}}));
    // A phase of R or more selects nothing, so no noise is drawn either.
    EXPECT_TRUE(make_adc(40).simulate(analog, engine).samples.empty());
    EXPECT_EQ(engine, std::mt19937(1));
}

TEST(ADCSim, NegativeJitterDrawsOnePhasePerCall) {
    for (const int jitter : {-1, -7}) {
        std::mt19937 engine(21);
        std::mt19937 twin(21);
        const int phase = std::uniform_int_distribution<int>(0, 39)(twin);
        EXPECT_EQ(make_adc(jitter).sample_down(ramp(80), engine).samples,
                  (Samples<double>{{0, 0.01 * phase}, {1, 0.01 * (40 + phase)}}));
        EXPECT_EQ(engine, twin);

        // The phase is drawn even when there is nothing to sample.
        (void)make_adc(jitter).simulate(SparseWaveform<double>(analog_step), engine);
        std::uniform_int_distribution<int>(0, 39)(twin);
        EXPECT_EQ(engine, twin);
    }
}

TEST(ADCSim, DigitiseClipsThenRoundsHalfAway) {
    const ADCSim adc = make_adc(0, {1.0}, 100.0, 20.0, 60.0, 0.0, 1000.0);
    EXPECT_EQ(adc.digitise(0.5, 0.4), 60);  // y clipped from 70 to 60
    EXPECT_EQ(adc.digitise(0.5, 0.5), 61);
    EXPECT_EQ(adc.digitise(0.5, -100.0), 0);
    EXPECT_EQ(adc.digitise(-1.0, 3.0), 3);  // y floored at 0 before the noise
    EXPECT_EQ(make_adc(0, {1.0}, 100.0, 20.0, 60.0, 0.0, 62.0).digitise(0.5, 10.0), 62);
    EXPECT_EQ(make_adc(0, {1.0}, 1.0, 0.0, 100.0, 0.0, 100.0).digitise(2.5, 0.0), 3);
    // The lower bound comes first, so a negative pre-amplifier clip wins.
    EXPECT_EQ(make_adc(0, {1.0}, 1.0, 0.0, -5.0, 0.0, 100.0).digitise(1.0, 7.0), 2);
}

TEST(ADCSim, SimulateDrawsPhaseThenOneNormalPerSample) {
    // Zero noise still takes one draw per sample. Shaped by (1, 0.5): 1.0, 0.5, 1.0 at 0, 40, 80.
    std::mt19937 engine(4);
    std::mt19937 twin(4);
    const auto impulses = make_waveform<double>(analog_step, {{0, 1.0}, {40, 0.5}, {79, 2.0}});
    const auto quiet = make_adc(0, {1.0, 0.5}, 100.0, 20.0, 1000.0, 0.0, 1000.0).simulate(impulses, engine);
    EXPECT_EQ(quiet.samples, (Samples<unsigned short>{{0, 120}, {1, 70}, {2, 120}}));
    draw(twin, std::normal_distribution<double>(0.0, 1.0), 3);
    EXPECT_EQ(engine, twin);

    const ADCSim adc = make_adc(-1);
    const auto noisy = adc.simulate(ramp(400), engine);
    const int phase = std::uniform_int_distribution<int>(0, 39)(twin);
    const auto noise = draw(twin, std::normal_distribution<double>(0.0, 3.0), 10);
    Samples<unsigned short> expected;
    for (std::int64_t q = 0; q < 10; ++q) {
        const double value = 0.01 * static_cast<double>(q * 40 + phase);
        expected.emplace_back(q, adc.digitise(value, noise[static_cast<std::size_t>(q)]));
    }
    EXPECT_EQ(noisy.samples, expected);
    EXPECT_EQ(engine, twin);
}

}  // namespace
