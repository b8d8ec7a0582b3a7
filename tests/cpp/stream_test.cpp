// The pieces of the streaming readout that must reproduce the standard library or the
// floating-point arithmetic of the stages exactly.

#include <algorithm>

#include "stages/block_engine.hpp"
#include "stages/impulse_train.hpp"
#include "stages/piecewise_draw.hpp"
#include "test_support.hpp"

namespace {

using namespace pelorin;
using namespace pelorin::stream;

TEST(BlockEngine, DrawsTheEngineSequenceAndHandsItsStateBack) {
    for (const unsigned long long skip : {0ull, 1ull, 623ull, 624ull, 1000ull}) {
        std::mt19937 reference(5489u + skip), engine(5489u + skip);
        reference.discard(skip), engine.discard(skip);
        {
            BlockEngine block(engine);
            for (int n = 0; n < 2000; ++n) {
                ASSERT_EQ(reference(), block()) << "after " << skip << " + " << n;
            }
        }
        EXPECT_TRUE(reference == engine) << "state after " << skip;
    }
    // The distributions draw the same values from either engine, rejections included.
    std::mt19937 reference(7), engine(7);
    std::normal_distribution<double> gauss_reference(0.0, 1.5), gauss(0.0, 1.5);
    std::uniform_int_distribution<int> phase_reference(0, 39), phase(0, 39);
    {
        BlockEngine block(engine);
        for (int n = 0; n < 20000; ++n) {
            ASSERT_EQ(gauss_reference(reference), gauss(block));
            ASSERT_EQ(phase_reference(reference), phase(block));
        }
    }
    EXPECT_TRUE(reference == engine);
}

TEST(PiecewiseLinearDraw, DrawsWhatTheStandardDistributionDraws) {
    std::mt19937 shapes(3);
    std::vector<std::pair<std::vector<double>, std::vector<double>>> spectra = {
        {{0, 1}, {1, 1}},                     // flat: the linear branch
        {{0, 1, 2, 3}, {0, 2, 2, 0}},         // zero densities at the ends
        {{-5e-9, 1e-9, 2e-9}, {3, 0, 1e-3}},  // negative abscissae, steep slopes
    };
    std::vector<double> x(200), y(200);
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = 1e-8 + static_cast<double>(i) * 1e-10, y[i] = std::uniform_real_distribution<double>(0, 5)(shapes);
    }
    spectra.emplace_back(x, y);
    for (const auto& [boundaries, densities] : spectra) {
        std::piecewise_linear_distribution<double> reference(boundaries.begin(), boundaries.end(),
                                                             densities.begin());
        const PiecewiseLinearDraw draw(reference);
        std::mt19937 a(11), b(11);
        for (int n = 0; n < 50000; ++n) {
            ASSERT_EQ(reference(a), draw(b)) << boundaries.size() << " points, draw " << n;
        }
    }
}

TEST(TapOffsets, AgreeWithTheConvolutionIndexOfEveryTap) {
    std::mt19937 engine(17);
    for (const double step : {1e-10, 2.5e-10, 1e-9, 1.0 / 3.0}) {
        for (const double ratio : {1.0, 10.0, 1.5, 0.5, 0.7, 0.999, 1.001, 3.3, 1.0 / 3.0, 7.77}) {
            for (const std::int64_t bound : {std::int64_t{1000}, std::int64_t{1} << 30, std::int64_t{1} << 40}) {
                const TapOffsets offsets(ratio * step, 30, step, bound);
                ASSERT_TRUE(offsets.forward());
                EXPECT_EQ(offsets.consecutive(), ratio == 1.0) << ratio;
                std::uniform_int_distribution<std::int64_t> index(-bound, bound), near_zero(-400, 100);
                for (int n = 0; n < 300; ++n) {
                    const std::int64_t i = (n % 3 == 0) ? near_zero(engine) : index(engine);
                    for (std::size_t k = 0; k < 30; ++k) {
                        const std::int64_t j = offsets.index(k, i);
                        ASSERT_EQ(
                            j, time_to_index(
                                   static_cast<double>(k) * (ratio * step) + static_cast<double>(i) * step, step))
                            << "step " << step << ", ratio " << ratio << ", i " << i << ", k " << k;
                        ASSERT_TRUE(j >= i && j - i <= offsets.max_offset());
                    }
                }
            }
        }
    }
}

TEST(StableSortByIndex, SortsAndKeepsTheOrderOfEqualIndicesOnEveryPath) {
    std::mt19937 engine(23);
    for (const std::size_t size : {0, 1, 7, 100, 5000, 100000}) {
        for (const int pattern : {0, 1, 2}) {  // shuffled with repeats, locally jittered, reversed
            std::vector<Impulse> impulses(size);
            for (std::size_t n = 0; n < size; ++n) {
                const auto spread = static_cast<std::int64_t>(size) / 2 + 1;
                const std::int64_t index =
                    pattern == 0   ? std::uniform_int_distribution<std::int64_t>(-spread, spread)(engine)
                    : pattern == 1 ? static_cast<std::int64_t>(n) * 1000 +
                                         std::uniform_int_distribution<int>(-1500, 1500)(engine)
                                   : (std::int64_t{1} << 40) - static_cast<std::int64_t>(n) * 3;
                impulses[n] = {index, static_cast<double>(n)};  // the amplitude records the original order
            }
            std::vector<Impulse> expected = impulses;
            std::stable_sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.index < b.index; });
            stable_sort_by_index(impulses);
            ASSERT_TRUE(
                std::equal(impulses.begin(), impulses.end(), expected.begin(), expected.end(),
                           [](auto& a, auto& b) { return a.index == b.index && a.amplitude == b.amplitude; }))
                << size << " impulses, pattern " << pattern;
        }
    }
}

}  // namespace
