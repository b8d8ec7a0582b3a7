// Separate models on separate threads share no mutable state: models built and run on
// threads give what they give on one thread, and copies made there, by construction or
// by assignment, give what their source gives next. Built with ThreadSanitizer (the
// tsan preset), any data race between the threads fails the run.

#include <thread>

#include "pelorin/multipmt.hpp"
#include "pelorin/tarvex.hpp"
#include "test_support.hpp"

namespace {

using namespace pelorin::test;
using Results = std::vector<double>;

/// Samples of t / rise * exp(1 - t / rise), peaking at 1 after `rise` steps.
std::string alpha_pulse(double step, int taps, double rise) {
    std::vector<double> values;
    for (int k = 0; k < taps; ++k) {
        values.push_back(k / rise * std::exp(1.0 - k / rise));
    }
    return shape_text(step, values);
}

struct Files {
    TempFile time{"1e-8 0.5\n1.05e-8 2\n1.1e-8 1\n"}, amplitude{"0.5 0\n1 1\n1.5 0\n"};
    TempFile pulse{alpha_pulse(1e-9, 20, 4.0)}, tot_pulse{alpha_pulse(2e-9, 10, 2.0)};

    pelorin::Tarvex camera(int seed) const {
        return pelorin::Tarvex(time, amplitude, 1e-9, 4e-9, pulse, -1, 50.0, 20.0, 4095.0, 1.0, 4095.0, 16, 4,
                               {1, 1}, 60, 1, 0, seed, pelorin::Tarvex::EarlyHandling::IGNORE);
    }
    pelorin::MultiPMT module(int seed) const {
        return pelorin::MultiPMT(time, amplitude, 1e-9, 2e-9, tot_pulse, 0.3, 4e-9, 0.02, 1e-10, 4e-9, pulse, -1,
                                 50.0, 20.0, 1.0, 4095.0, 8e-9, seed);
    }
};

std::vector<double> pe_times(int seed) {
    pelorin::random::MersenneTwister rng(static_cast<std::uint32_t>(seed));
    std::vector<double> times(400);
    for (auto& t : times) {
        t = pelorin::test::uniform_real(rng, 0.0, 20e-6);
    }
    return times;
}

/// Every field of every record of a few calls, and the calibrated delay.
Results run(pelorin::Tarvex& model, int seed = 0) {
    Results out;
    for (const auto& r : model.simulate(pe_times(seed), seed)) {
        out.insert(out.end(), {double(r.trigger_time_s), double(r.trigger_time_ticks), r.baseline, r.intsum});
        out.insert(out.end(), r.waveform.begin(), r.waveform.end());
    }
    for (const auto& r : model.simulate_external_trigger(pe_times(seed + 1), {1e-6, 5e-6}, 1e-7, seed)) {
        out.insert(out.end(), r.waveform.begin(), r.waveform.end());
    }
    out.push_back(model.calibrate_delay(3, 20));
    return out;
}

Results run(pelorin::MultiPMT& model, int seed = 0) {
    Results out;
    for (const auto& r : model.simulate(pe_times(seed), seed)) {
        out.insert(out.end(), {r.time, double(r.channel), r.time_over_threshold, double(r.adc_sample)});
    }
    out.push_back(model.calibrate_delay(3, 20));
    return out;
}

/// On thread `k`: a model built with seed k, then a copy of `source` (constructed for
/// k < 2, else assigned over that model).
template <typename Model>
void build_then_copy(Model model, const Model& source, int k, Results& built, Results& copied) {
    built = run(model, k);
    if (k < 2) {
        Model copy(source);
        copied = run(copy);
    } else {
        model = source;
        copied = run(model);
    }
}

TEST(Threads, ModelsAndCopiesOnSeparateThreadsMatchOneThread) {
    const Files files;
    auto camera = files.camera(3);
    auto module = files.module(3);
    const Results camera_first = run(camera), module_first = run(module);  // copies start mid-sequence
    std::vector<Results> built(8), copied(8);
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < 4; ++k) {
        const int seed = static_cast<int>(k);
        threads.emplace_back(
            [&, k, seed] { build_then_copy(files.camera(seed), camera, seed, built[k], copied[k]); });
        threads.emplace_back(
            [&, k, seed] { build_then_copy(files.module(seed), module, seed, built[k + 4], copied[k + 4]); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const Results camera_next = run(camera), module_next = run(module);
    for (std::size_t k = 0; k < 4; ++k) {
        const int seed = static_cast<int>(k);
        auto own_camera = files.camera(seed);
        auto own_module = files.module(seed);
        EXPECT_EQ(built[k], run(own_camera, seed)) << k;
        EXPECT_EQ(built[k + 4], run(own_module, seed)) << k;
        EXPECT_EQ(copied[k], camera_next) << k;
        EXPECT_EQ(copied[k + 4], module_next) << k;
    }
    EXPECT_NE(camera_next, camera_first);  // a copy does not start over from the seed
    EXPECT_NE(module_next, module_first);
}

}  // namespace
