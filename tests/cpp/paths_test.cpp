// The streaming readout against the stage classes it replaces: twin models, one forced
// onto the stages, read out the seeded scenarios call by call, and every call must give
// the same records or exception, the same warning lines and leave the engine in the same
// state. The large scenarios (far times, off-grid ToT steps, long trains and windows) are
// where the stream's integer index proofs carry the most weight.

#include "models/readout_paths.hpp"
#include "pelorin/readout.hpp"
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

/// Digest of a readout with options: records or exception, warnings, engine, and the truth.
template <typename Model>
std::uint64_t options_digest(Model& model, const std::vector<double>& pes, pelorin::ReadoutOptions options) {
    Digest d;
    pelorin::PETruth truth;
    options.truth = &truth;
    add_call(d, model, [&](Model& m) { return pelorin::read_out(m, pes, 2, options); });
    for (std::size_t n = 0; n < truth.record.size(); ++n) {
        d.add(truth.draws[n].delay), d.add(truth.draws[n].amplitude), d.add(truth.record[n]);
    }
    return d.value;
}

/// A continuous readout over a drawn span, one over the PEs' own, and truth alone.
template <typename Model>
void expect_options_on_both_paths(Model& model, Draw& draw, const char* what) {
    Model stages = model;
    pelorin::detail::ReadoutPaths::use_stages(stages);
    const double start = draw.uniform(0.0, 1e-6);
    const pelorin::ReadoutOptions options[] = {
        {true, pelorin::TimeSpan{start, start + draw.uniform(0.0, 3e-6)}, nullptr},
        {true, std::nullopt, nullptr},
        {false, std::nullopt, nullptr},
    };
    for (const auto& option : options) {
        const std::vector<double> pes = draw.pe_times();
        ASSERT_EQ(options_digest(model, pes, option), options_digest(stages, pes, option)) << what;
    }
}

TEST(ReadoutPaths, StreamEqualsStagesOnSeededScenarios) { compare_paths(20261207, Choices{}, 200); }

TEST(ReadoutPaths, ContinuousReadoutAndTruthAgreeOnBothPaths) {
    Choices choices;
    choices.pe_starts = {0.0, 2e-7, 2e-6};  // continuous spans start at 0 or later
    Draw draw{pelorin::random::MersenneTwister(99), choices};
    for (int n = 0; n < 60; ++n) {
        auto camera = camera_scenario(draw);
        expect_options_on_both_paths(camera.model, draw, "camera");
        auto module = multipmt_scenario(draw);
        expect_options_on_both_paths(module.model, draw, "MultiPMT");
    }
}

TEST(ReadoutPaths, StreamEqualsStagesOnLargeAndUnevenScenarios) { compare_paths(7, wide_choices(), 16); }

}  // namespace
