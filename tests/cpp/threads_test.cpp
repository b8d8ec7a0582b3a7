// Separate models on separate threads share no mutable state: every thread gets the
// records that the same calls give on one thread. Built with ThreadSanitizer (the tsan
// preset), any data race between the threads fails the run.

#include <functional>
#include <thread>

#include "pelorin/multipmt.hpp"
#include "pelorin/tarvex.hpp"
#include "test_support.hpp"

namespace {

using namespace pelorin::test;
using Early = pelorin::Tarvex::EarlyHandling;

/// Samples of t / rise * exp(1 - t / rise), peaking at 1 after `rise` steps.
std::vector<double> alpha_pulse(int taps, double rise) {
    std::vector<double> values;
    for (int k = 0; k < taps; ++k) {
        values.push_back(k / rise * std::exp(1.0 - k / rise));
    }
    return values;
}

struct Files {
    TempFile time{"1e-8 0.5\n1.05e-8 2\n1.1e-8 1\n"};
    TempFile amplitude{"0.5 0\n1 1\n1.5 0\n"};
    TempFile pulse{shape_text(1e-9, alpha_pulse(20, 4.0))};
    TempFile tot_pulse{shape_text(2e-9, alpha_pulse(10, 2.0))};
};

pelorin::Tarvex camera(const Files& f, int seed) {
    return pelorin::Tarvex(f.time, f.amplitude, 1e-9, 4e-9, f.pulse, -1, 50.0, 20.0, 4095.0, 1.0, 4095.0, 16, 4,
                           {1, 1}, 60, 1, 0, seed, Early::IGNORE);
}

pelorin::MultiPMT module(const Files& f, int seed) {
    return pelorin::MultiPMT(f.time, f.amplitude, 1e-9, 2e-9, f.tot_pulse, 0.3, 4e-9, 0.02, 1e-10, 4e-9, f.pulse,
                             -1, 50.0, 20.0, 1.0, 4095.0, 8e-9, seed);
}

std::vector<double> pe_times(int seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    std::uniform_real_distribution<double> time(0.0, 20e-6);
    std::vector<double> times(400);
    for (auto& t : times) {
        t = time(rng);
    }
    return times;
}

/// Every field of every record of a few calls of each kind, and the calibrated delay.
std::vector<double> workload(pelorin::Tarvex& model, int seed) {
    std::vector<double> out;
    for (const auto& r : model.simulate(pe_times(seed), seed)) {
        out.insert(out.end(), {double(r.channel), double(r.trigger_time_s), double(r.trigger_time_ticks),
                               r.baseline, r.intsum});
        out.insert(out.end(), r.waveform.begin(), r.waveform.end());
    }
    for (const auto& r : model.simulate_external_trigger(pe_times(seed + 1), {1e-6, 5e-6}, 1e-7, seed)) {
        out.insert(out.end(), r.waveform.begin(), r.waveform.end());
    }
    out.push_back(model.calibrate_delay(3, 20));
    return out;
}

std::vector<double> workload(pelorin::MultiPMT& model, int seed) {
    std::vector<double> out;
    for (const auto& r : model.simulate(pe_times(seed), seed)) {
        out.insert(out.end(), {r.time, double(r.channel), r.time_over_threshold, double(r.adc_sample)});
    }
    out.push_back(model.calibrate_delay(3, 20));
    return out;
}

/// Results of `run(k)` for k = 0..count-1, all at once on threads and one after another.
template <typename Run>
void expect_same_on_threads(int count, Run run) {
    std::vector<std::vector<double>> parallel(static_cast<std::size_t>(count));
    std::vector<std::thread> threads;
    for (int k = 0; k < count; ++k) {
        threads.emplace_back([&parallel, &run, k] { parallel[static_cast<std::size_t>(k)] = run(k); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int k = 0; k < count; ++k) {
        const auto serial = run(k);
        EXPECT_FALSE(serial.empty());
        EXPECT_EQ(parallel[static_cast<std::size_t>(k)], serial) << "thread " << k;
    }
}

TEST(Threads, ModelsBuiltAndRunOnSeparateThreadsMatchOneThread) {
    const Files files;
    expect_same_on_threads(4, [&files](int k) {
        if (k % 2 == 0) {
            auto model = camera(files, k);
            return workload(model, k);
        }
        auto model = module(files, k);
        return workload(model, k);
    });
}

TEST(Threads, CopiesOfOneModelRunIndependently) {
    const Files files;
    const auto camera_original = camera(files, 3);
    const auto module_original = module(files, 3);
    // The copies are made on the threads, from models no thread changes.
    expect_same_on_threads(4, [&](int k) {
        if (k % 2 == 0) {
            auto copy = camera_original;
            return workload(copy, k);
        }
        auto copy = module_original;
        return workload(copy, k);
    });
}

}  // namespace
