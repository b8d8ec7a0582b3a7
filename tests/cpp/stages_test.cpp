// Worked examples of each stage on its own: the grid, the convolution, the spectrum
// reader, the ADC's rounding, the trigger and the ToT discriminator with its draws.

#include <type_traits>

#include "pelorin/adc_sim.hpp"
#include "pelorin/tarvex.hpp"
#include "pelorin/tot_sim.hpp"
#include "pelorin/trigger_sim.hpp"
#include "test_support.hpp"

namespace {

using namespace pelorin;
using namespace pelorin::test;
using Hits = std::vector<ToTHit>;

TEST(TimeToIndex, ToleranceNearGridPointsOnBothSidesOfZero) {
    const std::pair<double, std::int64_t> cases[] = {
        {2.9995, 3}, {2.998, 2},  {2.5, 2},      {0.0, 0},   {-0.0, 0},    {0.9985, 0},
        {-0.5, 0},   {-0.998, 0}, {-0.9995, -1}, {-1.0, -1}, {-1.998, -1}, {-1.9995, -2},
    };
    for (const auto& [time, index] : cases) {
        EXPECT_EQ(time_to_index(time, 1.0), index) << "time " << time;
    }
}

TEST(SparseWaveform, AdditionsSumPerIndexWrapAndReadDense) {
    SparseWaveform<unsigned short> counts(2.0);
    for (const double time : {10.0, -6.0, 4.0, 10.5, 0.0, -6.5, 4.0}) {
        counts.add_sample(time, static_cast<unsigned short>(time < 0 ? 65535 : time));
    }
    EXPECT_EQ(counts.samples, (Samples<unsigned short>{{-3, 65534}, {0, 0}, {2, 8}, {5, 20}}));
    EXPECT_EQ(counts.get_samples(-6.0, 6.0), (std::vector<unsigned short>{65534, 0, 0, 0, 0, 8}));
}

// Random sparse inputs around zero against brute-force sums over every (sample, tap) pair
// in that order, for tap steps on both sides of the switch between the cursor walk and
// the merge. Integer sums are formed in 64 bits and wrapped to 32 at the end.
template <typename T, typename U, typename SampleDraw, typename TapDraw>
void check_against_reference(random::MersenneTwister& engine, SampleDraw sample, TapDraw tap) {
    using Sum = std::conditional_t<std::is_same_v<T, int>, std::int64_t, double>;
    const random::UniformIntDistribution count(1, 40), gap(1, 6);
    const double steps[] = {1.0, 0.1e-9, 4e-9};
    for (const double ratio : {1.0, 0.25, 0.5, 1.0015, 2.0, 2.5}) {
        for (int round = 0; round < 75; ++round) {
            const double step = steps[round % 3];
            SparseWaveform<U> input(step);
            for (std::int64_t n = count(engine), index = -60; n > 0; --n) {
                input.samples.emplace_back(index += gap(engine), sample(engine));
            }
            SparseConvolution<T> convolution{ratio * step,
                                             std::vector<T>(static_cast<std::size_t>(count(engine) % 12 + 1))};
            std::map<std::int64_t, Sum> sums;
            for (std::size_t k = 0; k < convolution.kernel.size(); ++k) {
                convolution.kernel[k] = tap(engine);
            }
            for (const auto& [index, x] : input.samples) {
                for (std::size_t k = 0; k < convolution.kernel.size(); ++k) {
                    const double t = static_cast<double>(k) * convolution.step + static_cast<double>(index) * step;
                    sums[time_to_index(t, step)] += static_cast<Sum>(x) * convolution.kernel[k];
                }
            }
            Samples<T> expected;
            for (const auto& [index, sum] : sums) {
                expected.emplace_back(index, static_cast<T>(sum));
            }
            const auto output = convolution.convolve(input);
            ASSERT_EQ(output.samples, expected) << "ratio " << ratio << ", step " << step;
            ASSERT_EQ(output.step, step);
        }
    }
}

TEST(SparseConvolution, MatchesBruteForceForAllTapSteps) {
    random::MersenneTwister engine(2024);
    random::NormalDistribution value(0.0, 10.0);
    check_against_reference<double, double>(engine, value, value);
    const random::UniformIntDistribution adc(0, 65535), tap(-40000, 40000);  // products overflow 32 bits
    check_against_reference<int, unsigned short>(
        engine, [&](random::MersenneTwister& e) { return static_cast<unsigned short>(adc(e)); }, tap);
}

TEST(ReadSpectrum, PairsNumbersUntilUnpairedNumberOrText) {
    const std::pair<const char*, Spectrum> cases[] = {
        {"0 1\n1e-9\t0.5 2e-9\n  0\n", {{0.0, 1e-9, 2e-9}, {1.0, 0.5, 0.0}}},
        {"3 -1 2 4.5E1", {{3.0, 2.0}, {-1.0, 45.0}}},  // kept in file order, unchecked
        {"1 2 3 4 5", {{1.0, 3.0}, {2.0, 4.0}}},
        {"1 2\n3 4\nword\n5 6\n", {{1.0, 3.0}, {2.0, 4.0}}},
        {"1 2\n3 4\n5 x 7 8\n", {{1.0, 3.0}, {2.0, 4.0}}},
    };
    for (const auto& [text, spectrum] : cases) {
        EXPECT_EQ(Tarvex::read_spectrum(TempFile(text)), spectrum) << text;
    }
    for (const char* text : {"", "1 2\n", "1 2 3", "time amplitude\n0 1\n1 2\n", "0,1\n1,2\n"}) {
        EXPECT_TRUE(throws_with<std::ios_base::failure>([&] { Tarvex::read_spectrum(TempFile(text)); },
                                                        "Spectrum file must contain at least two data points."))
            << text;
    }
    const Path missing = TempFile("").gone();
    EXPECT_TRUE(throws_with<std::ios_base::failure>([&] { Tarvex::read_spectrum(missing); },
                                                    "Failed to open spectrum file: " + missing.native()));
}

// `n` draws of one distribution object from `engine`, in order.
template <typename Distribution>
std::vector<double> draw(random::MersenneTwister& engine, Distribution&& distribution, int n) {
    std::vector<double> values;
    for (int i = 0; i < n; ++i) {
        values.push_back(distribution(engine));
    }
    return values;
}

TEST(ADCSim, DigitiseClipsThenRoundsHalfAway) {
    const std::tuple<double, double, double, double, int> cases[] = {
        // preamp clip, clip, input, noise, sample; gain 100, offset 20
        {60, 1000, 0.5, 0.4, 60},  // y clipped from 70 to 60
        {60, 1000, 0.5, 0.5, 61}, {60, 1000, 0.5, -100, 0},
        {60, 1000, -1.0, 3.0, 3},                              // y floored at 0 before the noise
        {60, 62, 0.5, 10.0, 62},  {100, 100, 0.125, 0.0, 33},  // 32.5 rounds away
        {-5, 100, 1.0, 7.0, 2},                                // the lower bound comes first
    };
    for (const auto& [preamp_clip, clip, x, noise, sample] : cases) {
        const ADCSim adc(4e-9, SparseConvolution<double>{0.1e-9, {1.0}}, 0, 100.0, 20.0, preamp_clip, 0.0, clip);
        EXPECT_EQ(adc.digitise(x, noise), sample) << x << " + " << noise;
    }
}

TEST(TriggerSim, WorkedCasesOfWindowsThresholdAndDivision) {
    struct Case {
        std::vector<int> kernel;
        int retrigger, threshold, norm;
        std::map<std::int64_t, unsigned short> values;  // at ADC samples 0 to `last`, else 0
        std::vector<int> triggers;
        std::int64_t last = 30;
    };
    const Case cases[] = {
        // 6 and 7 lie within the retrigger offset, 9 and 20 inside a window: moved to its end.
        {{1}, 3, 5, 1, {{5, 9}, {6, 9}, {7, 9}, {9, 9}, {20, 9}}, {5, 15, 25}},
        {{1}, 3, 5, 1, {{0, 9}}, {}},           // the first sample of a stretch is never evaluated
        {{1, 0, 0, 0}, 3, 5, 1, {{3, 9}}, {}},  // nor are the first K of the filtered stretch
        {{1, 0, 0, 0}, 3, 5, 1, {{4, 9}}, {4}},
        // The last trigger starts at first - ceil(K / 2) - waveform_samples, here -13 and -12.
        {{1, 0, 0, 0, 0}, 19, 5, 1, {{5, 9}, {6, 9}}, {6}},
        {{1, 0, 0, 0}, 17, 5, 1, {{4, 9}, {5, 9}}, {5}},
        {{1}, 3, 5, 2, {{5, 11}}, {}},  // 11 / 2 = 5 is not above 5
        {{1}, 3, 5, 2, {{5, 12}}, {5}},
        {{-1}, 3, -4, 2, {{1, 7}, {2, 8}, {3, 8}}, {1}, 3},  // -7 / 2 truncates to -3
        {{INT_MIN}, 3, 5, -1, {{2, 1}}, {2}},                // INT_MIN / -1 must not trap
    };
    for (const auto& c : cases) {
        SparseWaveform<unsigned short> adc(4e-9);
        std::vector<double> expected;
        for (std::int64_t i = 0; i <= c.last; ++i) {
            adc.samples.emplace_back(i, c.values.count(i) ? c.values.at(i) : 0);
        }
        for (const int i : c.triggers) {
            expected.push_back(i * 4e-9);
        }
        const TriggerSim trigger(4e-9, 10, c.retrigger, c.kernel, c.threshold, c.norm);
        EXPECT_EQ(trigger.simulate(adc), expected) << "case " << &c - cases;
    }
}

// 0.1 ns analog grid, 1 ns TDC; a one-tap kernel passes the input through unshaped.
ToTSim make_tot(double dead_time, double jitter = 0.0, double threshold = 0.5, double noise = 0.0) {
    return ToTSim(1e-9, SparseConvolution<double>{0.1e-9, {1.0}}, threshold, dead_time, noise, jitter);
}

// Appends samples at every index of [first, last]: 1 on [from, to], 0 elsewhere.
SparseWaveform<double> pulse(std::int64_t first, std::int64_t last, std::int64_t from, std::int64_t to,
                             SparseWaveform<double> waveform = SparseWaveform<double>(0.1e-9)) {
    for (std::int64_t i = first; i <= last; ++i) {
        waveform.samples.emplace_back(i, (i >= from && i <= to) ? 1.0 : 0.0);
    }
    return waveform;
}

TEST(ToTSim, WorkedPulsesWithAndWithoutDeadTime) {
    random::MersenneTwister engine(6);
    // Open from 1.2 to 2.1 ns. Samples 21 to 27 lie within a 1.5 ns dead time: it closes at
    // 2.8 ns; with 1.2 ns the sample at exactly 2.4 ns does not close it either.
    EXPECT_EQ(make_tot(0.0).simulate(pulse(10, 30, 12, 20), engine), (Hits{{1e-9, 2e-9}}));
    EXPECT_EQ(make_tot(1.5e-9).simulate(pulse(10, 30, 12, 20), engine), (Hits{{1e-9, 3 * 1e-9}}));
    EXPECT_EQ(make_tot(1.2e-9).simulate(pulse(10, 30, 12, 20), engine), (Hits{{1e-9, 3 * 1e-9}}));
    EXPECT_EQ(make_tot(0.0, 0.0, 1.0).simulate(pulse(10, 30, 12, 20), engine), (Hits{{1e-9, 2e-9}}));
    // Closed at 2.1 ns, the crossing from 2.3 to 2.6 ns lies within the 0.5 ns dead time.
    // The pulse opened at 4.4 ns runs over the unstored indices 56 to 69 until 7 ns.
    auto gaps = pulse(44, 55, 44, 55, pulse(23, 26, 23, 26, pulse(10, 21, 12, 20)));
    gaps.samples.emplace_back(70, 0.0);
    EXPECT_EQ(make_tot(0.5e-9).simulate(gaps, engine), (Hits{{1e-9, 2e-9}, {4 * 1e-9, 7 * 1e-9}}));
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {  // a lone 0 at 1 ns opens when its noise reaches 0.5
        random::MersenneTwister noisy(seed), twin(seed);
        const bool opens = random::NormalDistribution(0.0, 1.0)(twin) >= 0.5;
        EXPECT_EQ(make_tot(0.0, 0.0, 0.5, 1.0).simulate(pulse(10, 10, 0, -1), noisy),
                  (opens ? Hits{{1e-9, 2e-9}} : Hits{}))
            << "seed " << seed;
    }
}

TEST(ToTSim, JitterDrawsStartThenEndForClosedPulseAndEndThenStartForOpen) {
    constexpr double sigma = 2e-9;  // wide, so that swapped draws change the quantised times
    auto quantise = [](double time) { return std::round(time / 1e-9) * 1e-9; };
    for (const std::uint32_t seed : {1u, 2u, 3u}) {
        random::MersenneTwister engine(seed), twin(seed);
        // Closed from 1.2 to 2.1 ns, then open from 5.4 ns to the last sample at 6 ns.
        const auto hits = make_tot(0.0, sigma).simulate(pulse(50, 60, 54, 60, pulse(10, 30, 12, 20)), engine);
        random::NormalDistribution noise(0.0, 1.0), jitter(0.0, sigma);
        draw(twin, noise, 12);
        const auto closed = draw(twin, jitter, 2);
        draw(twin, noise, 9 + 11);
        const auto open = draw(twin, jitter, 2);
        EXPECT_EQ(hits, (Hits{{quantise(12 * 0.1e-9 + closed[0]), quantise(closed[1] + 21 * 0.1e-9)},
                              {quantise(54 * 0.1e-9 + open[1]), quantise(60 * 0.1e-9 + (open[0] + 1e-9))}}));
        EXPECT_EQ(engine, twin);
    }
}

}  // namespace
