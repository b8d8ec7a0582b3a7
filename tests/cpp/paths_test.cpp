// The streaming readout against the stage classes it replaces: twin models, one forced
// onto the stages, read out the seeded scenarios call by call, and every call must give
// the same records or exception, the same warning lines and leave the engine in the same
// state. The large scenarios (far times, off-grid ToT steps, long trains and windows) are
// where the stream's integer index proofs carry the most weight.

#include "models/readout_paths.hpp"
#include "scenarios.hpp"

namespace {

using namespace pelorin::test;

/// Index of the first call whose outcome differs between the model and its twin on the
/// stages, or -1.
template <typename Model>
int first_difference(Scenario<Model>& scenario) {
    Model stages = scenario.model;  // a copy continues from the same engine state
    pelorin::detail::ReadoutPaths::use_stages(stages);
    for (std::size_t n = 0; n < scenario.calls.size(); ++n) {
        Digest streamed, staged;
        scenario.calls[n].second(streamed, scenario.model);
        scenario.calls[n].second(staged, stages);
        if (streamed.value != staged.value) {
            return static_cast<int>(n);
        }
    }
    return -1;
}

void compare_paths(std::uint32_t seed, const Choices& choices, int count) {
    Draw draw{pelorin::random::MersenneTwister(seed), choices};
    for (int n = 0; n < count; ++n) {
        auto camera = camera_scenario(draw);
        ASSERT_EQ(first_difference(camera), -1) << "camera scenario " << n << " of seed " << seed;
        auto module = multipmt_scenario(draw);
        ASSERT_EQ(first_difference(module), -1) << "MultiPMT scenario " << n << " of seed " << seed;
    }
}

TEST(ReadoutPaths, StreamEqualsStagesOnSeededScenarios) { compare_paths(20261207, Choices{}, 200); }

TEST(ReadoutPaths, StreamEqualsStagesOnLargeAndUnevenScenarios) { compare_paths(7, wide_choices(), 16); }

}  // namespace
