// Separate models on separate threads share no mutable state: models built and run on
// threads give what they give on one thread, and copies made there, by construction or
// by assignment, give what their source gives next. Built with ThreadSanitizer (the
// tsan preset), any data race between the threads fails the run.

#include <array>
#include <thread>

#include "scenarios.hpp"

namespace {

using namespace pelorin::test;

struct Files {
    TempFile time{"1e-8 0.5\n1.05e-8 2\n1.1e-8 1\n"}, amplitude{"0.5 0\n1 1\n1.5 0\n"};
    TempFile pulse{shape_text(1e-9, {0, 0.5, 0.9, 1, 0.9, 0.7, 0.5, 0.3, 0.2, 0.1})};
    TempFile tot_pulse{shape_text(2e-9, {0, 0.8, 1, 0.6, 0.3, 0.1})};

    pelorin::Tarvex camera(int seed) const {
        return pelorin::Tarvex(time, amplitude, 1e-9, 4e-9, pulse, -1, 50.0, 20.0, 4095.0, 1.0, 4095.0, 16, 4,
                               {1, 1}, 60, 1, 0, seed, pelorin::Tarvex::EarlyHandling::IGNORE);
    }
    pelorin::MultiPMT module(int seed) const {
        return pelorin::MultiPMT(time, amplitude, 1e-9, 2e-9, tot_pulse, 0.3, 4e-9, 0.02, 1e-10, 4e-9, pulse, -1,
                                 50.0, 20.0, 1.0, 4095.0, 8e-9, seed);
    }
};

/// Digest of every record of a few calls and of the calibrated delay.
template <typename Model>
std::uint64_t run(Model& model, int seed = 0) {
    pelorin::random::MersenneTwister rng(static_cast<std::uint32_t>(seed));
    std::vector<double> pes(400);
    for (double& t : pes) {
        t = uniform_real(rng, 0.0, 20e-6);
    }
    Digest d;
    for (const auto& r : model.simulate(pes, seed)) {
        add_record(d, r);
    }
    if constexpr (std::is_same_v<Model, pelorin::Tarvex>) {
        for (const auto& r : model.simulate_external_trigger(pes, {1e-6, 5e-6}, 1e-7, seed)) {
            add_record(d, r);
        }
    }
    d.add(model.calibrate_delay(3, 20));
    return d.value;
}

/// On four threads, model k built with seed k and run, then a copy of `source` (made by
/// construction for k < 2, by assignment over model k after) and run; against one thread.
template <typename Model, typename Build>
void check_threads(const Build& build) {
    Model source = build(3);
    const std::uint64_t first = run(source);  // copies start mid-sequence
    std::array<std::uint64_t, 8> results{};
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([&, k] {
            const auto n = static_cast<std::size_t>(k);
            Model model = build(k);
            results[n] = run(model, k);
            Model copy = k < 2 ? Model(source) : (model = source);
            results[n + 4] = run(copy);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const std::uint64_t next = run(source);
    EXPECT_NE(next, first);  // a copy does not start over from the seed
    for (int k = 0; k < 4; ++k) {
        Model own = build(k);
        EXPECT_EQ(results[static_cast<std::size_t>(k)], run(own, k)) << k;
        EXPECT_EQ(results[static_cast<std::size_t>(k) + 4], next) << k;
    }
}

TEST(Threads, ModelsAndCopiesOnSeparateThreadsMatchOneThread) {
    const Files files;
    std::thread cameras([&] { check_threads<pelorin::Tarvex>([&](int seed) { return files.camera(seed); }); });
    check_threads<pelorin::MultiPMT>([&](int seed) { return files.module(seed); });
    cameras.join();
}

}  // namespace
