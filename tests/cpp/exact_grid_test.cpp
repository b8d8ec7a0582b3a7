// The proof behind the streaming readout's integer tap indices, against the floating-point
// index of the convolution it replaces, on both sides of time 0.

#include "stream/exact_grid.hpp"
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

}  // namespace
