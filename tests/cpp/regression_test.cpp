// Pins every record field, exception, warning line and engine state of both models over a
// few hundred seeded scenarios. A digest that moves means the output moved: find the draw
// or the rounding that changed instead of updating the value.

#include "scenarios.hpp"

namespace {

using namespace pelorin::test;

/// The three digests of `count` scenarios drawn from `seed`: camera triggered readout and
/// calibration, camera external trigger, MultiPMT.
std::vector<std::string> digests(std::uint32_t seed, const Choices& choices, int count) {
    Draw draw{pelorin::random::MersenneTwister(seed), choices};
    std::vector<Digest> d(3);
    for (int scenario = 0; scenario < count; ++scenario) {
        auto camera = camera_scenario(draw);
        for (auto& [digest, call] : camera.calls) {
            call(d[static_cast<std::size_t>(digest)], camera.model);
        }
        auto module = multipmt_scenario(draw);
        for (auto& [digest, call] : module.calls) {
            call(d[2], module.model);
        }
    }
    return {d[0].hex(), d[1].hex(), d[2].hex()};
}

TEST(Regression, RecordsAndEngineStatesOfSeededScenariosKeepTheirDigests) {
    EXPECT_EQ(digests(20261207, Choices{}, 200),
              (std::vector<std::string>{"85d5edfe3f98e314", "5d6ce5930aff4a2d", "227fa78402c54ea1"}));
}

// Long PE lists, times tens of seconds out, long windows, ToT steps off the analog grid.
TEST(Regression, LargeAndUnevenScenariosKeepTheirDigests) {
    EXPECT_EQ(digests(7, wide_choices(), 16),
              (std::vector<std::string>{"bcf254fd01ac163a", "741501bdfc8990fc", "1da96024b561468f"}));
}

}  // namespace
