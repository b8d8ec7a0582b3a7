#include <type_traits>

#include "pelorin/sparse_convolution.hpp"
#include "pelorin/tarvex.hpp"
#include "test_support.hpp"

namespace {

using namespace pelorin;
using namespace pelorin::test;

TEST(TimeToIndex, ToleranceNearGridPointsOnBothSidesOfZero) {
    const std::pair<double, std::int64_t> cases[] = {
        {2.9995, 3}, {2.998, 2},  {2.5, 2},      {0.0, 0},   {-0.0, 0},    {0.9985, 0},
        {-0.5, 0},   {-0.998, 0}, {-0.9995, -1}, {-1.0, -1}, {-1.998, -1}, {-1.9995, -2},
    };
    for (const auto& [time, index] : cases) {
        EXPECT_EQ(time_to_index(time, 1.0), index) << "time " << time;
    }
    for (const double step : {4e-9, 0.1e-9, 1.0 / 3.0}) {  // index * step maps back to index
        for (std::int64_t i = -2000; i <= 2000; ++i) {
            ASSERT_EQ(time_to_index(static_cast<double>(i) * step, step), i) << "step " << step;
        }
    }
}

TEST(SparseWaveform, AdditionsSumPerIndexWrapAndReadDense) {
    SparseWaveform<unsigned short> counts(2.0);
    for (const double time : {10.0, -6.0, 4.0, 10.5, 0.0, -6.5, 4.0}) {
        counts.add_sample(time, static_cast<unsigned short>(time < 0 ? 65535 : time));
    }
    EXPECT_EQ(counts.samples, (Samples<unsigned short>{{-3, 65534}, {0, 0}, {2, 8}, {5, 20}}));
    EXPECT_EQ(counts.get_samples(-6.0, 6.0), (std::vector<unsigned short>{65534, 0, 0, 0, 0, 8}));
    EXPECT_TRUE(throws_with<std::invalid_argument>([&] { counts.get_samples(1.0, 0.5); },
                                                   "End time must be greater than start time.", true));
}

TEST(SparseConvolution, WorkedExamplesForEqualWiderAndFinerTaps) {
    EXPECT_EQ((SparseConvolution<double>{1.0, {1, 2, 3}}.convolve(wave<double>(1.0, {{5, 1}, {6, 10}})).samples),
              (Samples<double>{{5, 1}, {6, 12}, {7, 23}, {8, 30}}));
    const auto wide = SparseConvolution<double>{2e-9, {1, 1, 1}}.convolve(wave<double>(1e-9, {{0, 1}, {1, 1}}));
    EXPECT_EQ(wide.samples, (Samples<double>{{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}}));
    EXPECT_EQ(wide.step, 1e-9);
    // Taps at 0, 0.5, 1.0 and 1.5 input steps fall on indices 0, 0, 1, 1.
    const auto fine = SparseConvolution<double>{0.5, {1, 2, 4, 8}}.convolve(wave<double>(1.0, {{0, 1}}));
    EXPECT_EQ(fine.samples, (Samples<double>{{0, 3}, {1, 12}}));
}

// Random sparse inputs around zero against brute-force sums over every (sample, tap) pair
// in that order, for tap steps on both sides of the switch between the cursor walk and
// the merge. Integer sums are formed in 64 bits and wrapped to 32 at the end.
template <typename T, typename U, typename SampleDraw, typename TapDraw>
void check_against_reference(std::mt19937& engine, SampleDraw sample, TapDraw tap) {
    using Sum = std::conditional_t<std::is_same_v<T, int>, std::int64_t, double>;
    std::uniform_int_distribution<int> count(1, 40), gap(1, 6);
    const double steps[] = {1.0, 0.1e-9, 4e-9};
    for (const double ratio : {1.0, 0.25, 1.0015, 2.5}) {
        for (int round = 0; round < 75; ++round) {
            const double step = steps[round % 3];
            SparseWaveform<U> input(step);
            for (std::int64_t n = count(engine), index = -60; n > 0; --n) {
                input.samples.emplace_back(index += gap(engine), sample(engine));
            }
            SparseConvolution<T> convolution{ratio * step, std::vector<T>(count(engine) % 12 + 1)};
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
            ASSERT_EQ(convolution.convolve(input).samples, expected) << "ratio " << ratio << ", step " << step;
        }
    }
}

TEST(SparseConvolution, MatchesBruteForceForAllTapSteps) {
    std::mt19937 engine(2024);
    std::normal_distribution<double> value(0.0, 10.0);
    check_against_reference<double, double>(engine, value, value);
    std::uniform_int_distribution<int> adc(0, 65535), tap(-40000, 40000);  // products overflow 32 bits
    check_against_reference<int, unsigned short>(
        engine, [&](std::mt19937& e) { return static_cast<unsigned short>(adc(e)); }, tap);
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

}  // namespace
