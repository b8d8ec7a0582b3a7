// The pieces of the streaming readout that must reproduce the floating-point arithmetic
// of the stages exactly.

#include <algorithm>

#include "stream/exact_grid.hpp"
#include "stream/impulse_train.hpp"
#include "test_support.hpp"

namespace {

using namespace pelorin;
using namespace pelorin::stream;
using namespace pelorin::test;

TEST(TapOffsets, AgreeWithTheConvolutionIndexOfEveryTap) {
    random::MersenneTwister engine(17);
    for (const double step : {1e-10, 2.5e-10, 1e-9, 1.0 / 3.0}) {
        for (const double ratio : {1.0, 10.0, 1.5, 0.5, 0.7, 0.999, 1.001, 3.3, 1.0 / 3.0, 7.77}) {
            for (const std::int64_t bound : {std::int64_t{1000}, std::int64_t{1} << 30, std::int64_t{1} << 40}) {
                const TapOffsets offsets(ratio * step, 30, step, bound);
                ASSERT_TRUE(offsets.forward());
                EXPECT_EQ(offsets.consecutive(), ratio == 1.0) << ratio;
                for (int n = 0; n < 300; ++n) {
                    const std::int64_t i = (n % 3 == 0)
                                               ? std::int64_t{random::below(engine, 501)} - 400
                                               : static_cast<std::int64_t>(uniform_real(engine, -1.0, 1.0) *
                                                                           static_cast<double>(bound));
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
    random::MersenneTwister engine(23);
    for (const std::size_t size : {0u, 1u, 7u, 100u, 5000u, 100000u}) {
        for (const int pattern : {0, 1, 2}) {  // shuffled with repeats, locally jittered, reversed
            std::vector<Impulse> impulses(size);
            for (std::size_t n = 0; n < size; ++n) {
                const auto spread = static_cast<std::int64_t>(size) / 2 + 1;
                const std::int64_t index =
                    pattern == 0
                        ? std::int64_t{random::below(engine, static_cast<std::uint64_t>(2 * spread + 1))} - spread
                    : pattern == 1 ? static_cast<std::int64_t>(n) * 1000 + random::below(engine, 3001) - 1500
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
