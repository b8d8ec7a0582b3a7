#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <vector>

#include "pelorin/trigger_sim.hpp"
#include "test_support.hpp"

namespace {

using pelorin::SparseWaveform;
using pelorin::TriggerSim;

constexpr double adc_step = 4e-9;

// ADC samples stored at every index of [first, last], 0 except for `values`.
SparseWaveform<unsigned short> stretch(std::int64_t first, std::int64_t last,
                                       const std::map<std::int64_t, unsigned short>& values,
                                       double step = adc_step) {
    SparseWaveform<unsigned short> adc(step);
    for (std::int64_t i = first; i <= last; ++i) {
        const auto it = values.find(i);
        adc.samples.emplace_back(i, it == values.end() ? 0 : it->second);
    }
    return adc;
}

std::vector<double> times_of(std::initializer_list<int> indices) {
    std::vector<double> times;
    for (const int i : indices) {
        times.push_back(i * adc_step);
    }
    return times;
}

TEST(TriggerSim, InitialLastTriggerLiesHalfKernelAndOneWindowBeforeSignal) {
    // last starts at first - ceil(K / 2) - waveform_samples; a retrigger offset beyond
    // that distance ignores the first crossing.
    const TriggerSim five(adc_step, 10, 19, {1, 0, 0, 0, 0}, 5, 1);  // last = -13
    EXPECT_EQ(five.kernel_center, -3);
    EXPECT_EQ(five.simulate(stretch(0, 20, {{5, 9}, {6, 9}})), times_of({6}));
    const TriggerSim four(adc_step, 10, 17, {1, 0, 0, 0}, 5, 1);  // last = -12
    EXPECT_EQ(four.kernel_center, -2);
    EXPECT_EQ(four.simulate(stretch(0, 20, {{4, 9}, {5, 9}})), times_of({5}));
}

TEST(TriggerSim, RetriggerOffsetAndWindowPlacement) {
    const TriggerSim trigger(adc_step, 10, 3, {1}, 5, 1);
    // 6 and 7 lie within the retrigger offset; 9 and 20 fall inside the previous
    // window and move to its end.
    EXPECT_EQ(trigger.simulate(stretch(0, 30, {{5, 9}, {6, 9}, {7, 9}, {9, 9}, {20, 9}})),
              times_of({5, 15, 25}));
    // The first sample of every gap-free stretch is never evaluated.
    EXPECT_TRUE(trigger.simulate(stretch(0, 30, {{0, 9}})).empty());
    auto split = stretch(0, 10, {});
    const auto tail = stretch(12, 20, {{12, 9}, {14, 9}});
    split.samples.insert(split.samples.end(), tail.samples.begin(), tail.samples.end());
    EXPECT_EQ(trigger.simulate(split), times_of({14}));
}

TEST(TriggerSim, FirstKernelLengthSamplesOfStretchAreSkipped) {
    // Kernel length 4: the filtered stretch spans 0..23 and index 4 is the first evaluated.
    const TriggerSim trigger(adc_step, 10, 3, {1, 0, 0, 0}, 5, 1);
    EXPECT_TRUE(trigger.simulate(stretch(0, 20, {{3, 9}})).empty());
    EXPECT_EQ(trigger.simulate(stretch(0, 20, {{4, 9}})), times_of({4}));
}

TEST(TriggerSim, StrictThresholdAfterTruncatingDivision) {
    const TriggerSim halved(adc_step, 10, 3, {1}, 5, 2);
    EXPECT_TRUE(halved.simulate(stretch(0, 10, {{5, 11}})).empty());  // 11 / 2 = 5
    EXPECT_EQ(halved.simulate(stretch(0, 10, {{5, 12}})), times_of({5}));
    // -7 / 2 truncates to -3, which exceeds -4; a floor division would give -4.
    const TriggerSim negative(adc_step, 10, 3, {-1}, -4, 2);
    EXPECT_EQ(negative.simulate(stretch(0, 3, {{1, 7}, {2, 8}, {3, 8}})), times_of({1}));
}

TEST(TriggerSim, MostNegativeFilterValueOverMinusOne) {
    // The filter gives INT_MIN at index 2; its quotient by -1 must not trap.
    const TriggerSim trigger(adc_step, 10, 3, {INT_MIN}, 5, -1);
    EXPECT_EQ(trigger.simulate(stretch(0, 5, {{2, 1}})), times_of({2}));
}

TEST(TriggerSim, EmptyInputsAndStepMismatch) {
    const TriggerSim trigger(adc_step, 10, 3, {1}, 5, 1);
    EXPECT_TRUE(trigger.simulate(SparseWaveform<unsigned short>(adc_step)).empty());
    EXPECT_TRUE(TriggerSim(adc_step, 10, 3, {}, 5, 1).simulate(stretch(0, 30, {{5, 9}})).empty());
    EXPECT_EQ(trigger.simulate(stretch(0, 30, {{5, 9}}, 4.002e-9)), times_of({5}));
    pelorin::test::expect_throw_prefix<std::runtime_error>(
        [&] { (void)trigger.simulate(stretch(0, 30, {{5, 9}}, 4.008e-9)); },
        "TriggerSim::simulate: waveform time step does not match adc_step");
}

}  // namespace
