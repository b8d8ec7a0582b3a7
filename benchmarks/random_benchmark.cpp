// The random layer one value at a time, beside the standard library's own engine and
// distributions: what a draw costs, and (where the build's library is the GNU one whose
// algorithms pelorin reproduces) that both give the same values.

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench_support.hpp"
#include "pelorin/random/distributions.hpp"
#include "pelorin/random/mersenne_twister.hpp"

namespace pelorin::bench {
namespace {

#if defined(__GLIBCXX__) && (_GLIBCXX_RELEASE < 16 || defined(_GLIBCXX_USE_OLD_GENERATE_CANONICAL))
constexpr bool same_values = true;
#else
constexpr bool same_values = false;  // the platform's distributions draw other values
#endif

/// A 40-point spectrum, as the example time spectrum.
struct Spectrum40 {
    std::vector<double> x, y;
    Spectrum40() {
        for (int i = 0; i < 40; ++i) {
            x.push_back(i * 1e-10);
            y.push_back(1.0 + std::sin(i * 0.3));
        }
    }
};

/// Draws one value at a time with `draw(engine)`; checks the sum against the same draws
/// made by `reference(standard engine)` once, where the values must agree.
template <typename Engine, typename Draw, typename Reference>
void one_at_a_time(benchmark::State& state, Draw draw, Reference reference, bool compare) {
    Engine engine(1);
    std::mt19937 standard(1);
    double sum = 0.0, expected = 0.0;
    for (auto _ : state) {
        sum += draw(engine);
    }
    for (benchmark::IterationCount n = 0; n < state.iterations(); ++n) {
        expected += reference(standard);
    }
    check(state, !compare || sum == expected, "the draws differ from the standard library's");
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}

/// The case with pelorin's engine and draw, and with the standard engine and `standard`;
/// `compare`: the two must give the same values.
void register_case(const char* name, auto own, auto standard, bool compare) {
    benchmark::RegisterBenchmark((std::string("Draws/") + name + "/pelorin").c_str(), [=](benchmark::State& s) {
        one_at_a_time<random::MersenneTwister>(s, own, standard, compare);
    });
    benchmark::RegisterBenchmark((std::string("Draws/") + name + "/standard").c_str(), [=](benchmark::State& s) {
        one_at_a_time<std::mt19937>(s, standard, standard, false);
    });
}

}  // namespace

void register_random_benchmarks() {
    static const Spectrum40 spectrum;
    auto output = [](auto& e) { return static_cast<double>(e()); };
    register_case("engine", output, output, true);  // the standard fixes the engine's sequence
    register_case(
        "canonical", [](auto& e) { return random::canonical(e); },
        [](auto& e) { return std::generate_canonical<double, 53>(e); }, same_values);
    register_case(
        "normal", [d = random::NormalDistribution(0.0, 1.5)](auto& e) mutable { return d(e); },
        [d = std::normal_distribution<double>(0.0, 1.5)](auto& e) mutable { return d(e); }, same_values);
    const auto& [x, y] = spectrum;
    register_case(
        "piecewise_linear_40",
        [d = random::PiecewiseLinearDistribution(x.begin(), x.end(), y.begin())](auto& e) { return d(e); },
        [d = std::piecewise_linear_distribution<double>(x.begin(), x.end(), y.begin())](auto& e) mutable {
            return d(e);
        },
        same_values);
}

}  // namespace pelorin::bench
