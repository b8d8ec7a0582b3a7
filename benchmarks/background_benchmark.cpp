// Dark counts per second: dark_counts against a loop that makes the same draws (a
// canonical and a logarithm per gap) and keeps nothing, so that the ratio shows what
// writing the columns costs. The result check: the count lies within six sigma of the
// Poisson mean and the draws leave the same sum of times.

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <string>

#include "bench_support.hpp"
#include "pelorin/background.hpp"
#include "pelorin/random/distributions.hpp"
#include "pelorin/random/mersenne_twister.hpp"

namespace pelorin::bench {
namespace {

constexpr int seed = 1;

struct DarkRun {
    std::int64_t channels;
    double rate;  // Hz
    double span;  // s

    double expected() const { return static_cast<double>(channels) * rate * span; }
};

/// The sum of the times a run draws, and their count, without storing them.
std::pair<double, std::size_t> draws_only(const DarkRun& run) {
    random::MersenneTwister rng(seed);
    double sum = 0.0;
    std::size_t count = 0;
    for (std::int64_t channel = 0; channel < run.channels; ++channel) {
        for (double t = 0.0;;) {
            t += -std::log(1.0 - random::canonical(rng)) / run.rate;
            if (!(t < run.span)) {
                break;
            }
            sum += t;
            ++count;
        }
    }
    return {sum, count};
}

void report(benchmark::State& state, const DarkRun& run, std::size_t pes) {
    const double deviation = std::fabs(static_cast<double>(pes) - run.expected());
    if (check(state, deviation <= 6.0 * std::sqrt(run.expected()), "a count far from the Poisson mean")) {
        state.counters["pes"] = static_cast<double>(pes);
        state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pes));
    }
}

void bm_dark_counts(benchmark::State& state, const DarkRun& run) {
    const std::array<double, 1> rates{run.rate};
    std::size_t pes = 0;
    double sum = 0.0;
    for (auto _ : state) {
        const PEColumns columns = dark_counts(rates, 0.0, run.span, run.channels, seed);
        pes = columns.times.size();
        sum = std::accumulate(columns.times.begin(), columns.times.end(), 0.0);
    }
    check(state, std::pair{sum, pes} == draws_only(run), "the columns differ from the draws");
    report(state, run, pes);
}

void bm_draws_only(benchmark::State& state, const DarkRun& run) {
    std::size_t pes = 0;
    for (auto _ : state) {
        const auto [sum, count] = draws_only(run);
        benchmark::DoNotOptimize(sum);
        pes = count;
    }
    report(state, run, pes);
}

}  // namespace

void register_background_benchmarks() {
    // 100 channels at 1 MHz: 10^6 PEs in 10 ms, 10^8 PEs (1.2 GB of columns) in 1 s.
    for (const auto& [name, run] :
         {std::pair{"1e6_pes", DarkRun{100, 1e6, 0.01}}, std::pair{"1e8_pes", DarkRun{100, 1e6, 1.0}}}) {
        benchmark::RegisterBenchmark((std::string("DarkCounts/") + name).c_str(), bm_dark_counts, run)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("DarkCounts/") + name + "/draws_only").c_str(), bm_draws_only,
                                     run)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace pelorin::bench
