#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pelorin/pmt_sim.hpp"
#include "pelorin/sparse_waveform.hpp"
#include "test_support.hpp"

namespace {

using Distribution = std::piecewise_linear_distribution<double>;
using Stage = pelorin::PMTSim<double, Distribution, Distribution>;
using pelorin::test::piecewise_linear;

// Delays of 10 to 30 ns and amplitudes of 0.5 to 1.5 units, so that a swapped draw
// order shows in the result.
Stage make_stage(double step) {
    return Stage{piecewise_linear({10e-9, 20e-9, 30e-9}, {0.0, 1.0, 0.2}),
                 piecewise_linear({0.5, 1.0, 1.5}, {0.1, 1.0, 0.0}), step};
}

// One add_sample per PE, in list order, with delay then amplitude drawn from twins.
pelorin::SparseWaveform<double> reference(Stage stage, const std::vector<double>& pe_times,
                                          std::mt19937& engine) {
    pelorin::SparseWaveform<double> waveform(stage.step);
    for (const double time : pe_times) {
        const double delay = stage.time_distribution(engine);
        waveform.add_sample(delay + time, stage.amplitude_distribution(engine));
    }
    return waveform;
}

TEST(PMTSim, DrawsDelayThenAmplitudePerPEInListOrder) {
    Stage stage = make_stage(0.1e-9);
    std::mt19937 engine(5);
    const auto empty = stage.simulate({}, engine);
    EXPECT_TRUE(empty.samples.empty());
    EXPECT_EQ(empty.step, 0.1e-9);
    EXPECT_EQ(engine, std::mt19937(5));

    // Unsorted and negative times; on the coarse grid most PEs share an index, so the
    // order of the sums shows.
    for (const double step : {0.1e-9, 5e-9}) {
        std::mt19937 shuffle(3);
        std::uniform_real_distribution<double> when(-50e-9, 50e-9);
        std::vector<double> pe_times;
        for (int n = 0; n < 500; ++n) {
            pe_times.push_back(n % 7 == 0 ? 20e-9 : when(shuffle));
        }
        std::mt19937 twin(8);
        engine.seed(8);
        const auto waveform = make_stage(step).simulate(pe_times, engine);
        ASSERT_EQ(waveform.samples, reference(make_stage(step), pe_times, twin).samples) << "step " << step;
        EXPECT_EQ(engine, twin);
        EXPECT_LT(waveform.samples.size(), pe_times.size());
        EXPECT_LT(waveform.samples.front().first, 0);
    }
}

}  // namespace
