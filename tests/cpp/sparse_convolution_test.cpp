#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "pelorin/sparse_convolution.hpp"
#include "pelorin/sparse_waveform.hpp"
#include "test_support.hpp"

namespace {

using pelorin::SparseConvolution;
using pelorin::SparseWaveform;
using pelorin::test::make_waveform;
using pelorin::test::reference_convolution;

template <typename T>
using Samples = std::vector<std::pair<std::int64_t, T>>;

TEST(SparseConvolution, WorkedExamplesForEqualWiderAndFinerTaps) {
    const auto pair_input = make_waveform<double>(1.0, {{5, 1.0}, {6, 10.0}});
    EXPECT_EQ((SparseConvolution<double>{1.0, {1, 2, 3}}.convolve(pair_input).samples),
              (Samples<double>{{5, 1}, {6, 12}, {7, 23}, {8, 30}}));
    const auto no_taps = SparseConvolution<double>{2.0, {}}.convolve(pair_input);
    EXPECT_TRUE(no_taps.samples.empty());
    EXPECT_EQ(no_taps.step, 1.0);
    const auto no_input = SparseConvolution<double>{2.0, {1.0}}.convolve(SparseWaveform<double>(0.5));
    EXPECT_TRUE(no_input.samples.empty());

    const auto wide = SparseConvolution<double>{2e-9, {1, 1, 1}}.convolve(
        make_waveform<double>(1e-9, {{0, 1.0}, {1, 1.0}}));
    EXPECT_EQ(wide.samples, (Samples<double>{{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}}));
    EXPECT_EQ(wide.step, 1e-9);

    // Taps at 0, 0.5, 1.0 and 1.5 input steps fall on indices 0, 0, 1, 1.
    const auto fine = SparseConvolution<double>{0.5, {1, 2, 4, 8}}.convolve(
        make_waveform<double>(1.0, {{0, 1.0}}));
    EXPECT_EQ(fine.samples, (Samples<double>{{0, 3}, {1, 12}}));
}

TEST(SparseConvolution, IntegerKernelOnSixteenBitSamplesWraps) {
    const auto adc = make_waveform<unsigned short>(4e-9, {{0, 65535}, {1, 65535}});
    auto convolve = [&](std::vector<int> kernel) {
        return SparseConvolution<int>{4e-9, std::move(kernel)}.convolve(adc).samples;
    };
    EXPECT_EQ(convolve({2, -1}), (Samples<int>{{0, 131070}, {1, 65535}, {2, -65535}}));
    // 65535 * 40000 = 2621400000 and 2 * 65535 * 20000 both exceed INT_MAX.
    EXPECT_EQ(convolve({40000}), (Samples<int>{{0, -1673567296}, {1, -1673567296}}));
    EXPECT_EQ(convolve({-40000}), (Samples<int>{{0, 1673567296}, {1, 1673567296}}));
    EXPECT_EQ(convolve({20000, 20000}), (Samples<int>{{0, 1310700000}, {1, -1673567296}, {2, 1310700000}}));
}

// Sparse inputs with clusters around zero, where index 0 spans nearly two steps.
template <typename T, typename Draw>
SparseWaveform<T> random_input(std::mt19937& engine, double step, Draw value) {
    std::set<std::int64_t> indices;
    const int count = std::uniform_int_distribution<int>(1, 40)(engine);
    std::uniform_int_distribution<std::int64_t> where(-60, 60);
    for (int n = 0; n < count; ++n) {
        indices.insert(where(engine));
    }
    SparseWaveform<T> waveform(step);
    for (const std::int64_t index : indices) {
        waveform.samples.emplace_back(index, value(engine));
    }
    return waveform;
}

// Random inputs and kernels with tap steps on both sides of the switch between the
// cursor walk and the merge, compared bit for bit with the brute-force sums.
template <typename T, typename U, typename SampleDraw, typename TapDraw>
void check_against_reference(std::mt19937& engine, SampleDraw sample, TapDraw tap) {
    std::uniform_int_distribution<int> length(1, 12);
    for (const double ratio : {1.0, 0.4, 0.25, 1.0005, 1.0015, 1.3, 2.5, 3.0}) {
        for (const double step : {1.0, 0.1e-9, 4e-9}) {
            for (int round = 0; round < 25; ++round) {
                const auto input = random_input<U>(engine, step, sample);
                SparseConvolution<T> convolution{ratio * step, {}};
                for (int k = length(engine); k > 0; --k) {
                    convolution.kernel.push_back(tap(engine));
                }
                const auto result = convolution.convolve(input);
                ASSERT_EQ(result.samples, reference_convolution(convolution, input).samples)
                    << "ratio " << ratio << ", step " << step << ", round " << round;
                ASSERT_EQ(result.step, step);
            }
        }
    }
}

TEST(SparseConvolution, MatchesBruteForceForAllTapSteps) {
    std::mt19937 engine(2024);
    std::normal_distribution<double> value(0.0, 10.0);
    check_against_reference<double, double>(engine, value, value);
    std::uniform_int_distribution<int> count(0, 65535);
    std::uniform_int_distribution<int> tap(-40000, 40000);
    check_against_reference<int, unsigned short>(
        engine, [&](std::mt19937& e) { return static_cast<unsigned short>(count(e)); }, tap);
}

}  // namespace
