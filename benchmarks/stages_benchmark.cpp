// Google Benchmark cases for the signal-chain stages and the two models.
//
// Every case checks its result, and a failed check makes the program exit non-zero,
// so a short run (--benchmark_min_time=0.01s) doubles as a smoke test.

#include <benchmark/benchmark.h>

#include "bench_support.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "pelorin/multipmt.hpp"
#include "pelorin/pmt_sim.hpp"
#include "pelorin/sparse_convolution.hpp"
#include "pelorin/sparse_waveform.hpp"
#include "pelorin/tarvex.hpp"

namespace {

using pelorin::bench::check;

constexpr double kNs = 1e-9;
constexpr std::size_t kTaps = 64;

std::vector<double> decaying_kernel(std::size_t taps) {
    std::vector<double> kernel(taps);
    for (std::size_t k = 0; k < taps; ++k) {
        const double t = static_cast<double>(k) / 8.0;
        kernel[k] = t * t * std::exp(-t);
    }
    return kernel;
}

/// `n` impulses of random amplitude, `spacing` grid steps apart, so that a 64-tap
/// kernel makes neighbouring pulses overlap.
pelorin::SparseWaveform<double> impulse_train(std::int64_t n, std::int64_t spacing, double step) {
    pelorin::random::MersenneTwister rng(7);
    pelorin::SparseWaveform<double> waveform(step);
    waveform.samples.reserve(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
        waveform.samples.emplace_back(i * spacing, 0.5 + pelorin::random::canonical(rng));
    }
    return waveform;
}

bool strictly_ascending(const pelorin::SparseWaveform<double>& w) {
    return std::adjacent_find(w.samples.begin(), w.samples.end(),
                              [](const auto& a, const auto& b) { return a.first >= b.first; }) == w.samples.end();
}

// Kernel step equal to the input step (ADC path): every impulse feeds 64 consecutive
// indices, 16 impulses overlap at each index.
void BM_ConvolveSameStep(benchmark::State& state) {
    const std::int64_t n = state.range(0);
    const pelorin::SparseWaveform<double> input = impulse_train(n, 4, 1 * kNs);
    const pelorin::SparseConvolution<double> conv{1 * kNs, decaying_kernel(kTaps)};
    std::size_t size = 0;
    for (auto _ : state) {
        const auto shaped = conv.convolve(input);
        size = shaped.samples.size();
        benchmark::DoNotOptimize(shaped.samples.data());
    }
    const auto expected = static_cast<std::size_t>(4 * (n - 1)) + kTaps;
    if (check(state, size == expected, "same-step convolution: wrong sample count") &&
        check(state, strictly_ascending(conv.convolve(input)), "same-step convolution: unsorted")) {
        state.SetComplexityN(n);
        state.SetItemsProcessed(state.iterations() * n * static_cast<std::int64_t>(kTaps));
    }
}
BENCHMARK(BM_ConvolveSameStep)
    ->Arg(1000)
    ->Arg(3000)
    ->Arg(10000)
    ->Arg(30000)
    ->Arg(100000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

// Kernel step 10x the input step (ToT path: 1 ns taps on a 0.1 ns grid): each impulse
// feeds every tenth index over 640 input steps, 80 impulses overlap in each span.
void BM_ConvolveWideStep(benchmark::State& state) {
    const std::int64_t n = state.range(0);
    const pelorin::SparseWaveform<double> input = impulse_train(n, 8, 0.1 * kNs);
    const pelorin::SparseConvolution<double> conv{1 * kNs, decaying_kernel(kTaps)};
    std::int64_t first = 0;
    std::int64_t last = 0;
    for (auto _ : state) {
        const auto shaped = conv.convolve(input);
        first = shaped.samples.front().first;
        last = shaped.samples.back().first;
        benchmark::DoNotOptimize(shaped.samples.data());
    }
    const std::int64_t expected_last = 8 * (n - 1) + 10 * static_cast<std::int64_t>(kTaps - 1);
    if (check(state, first == 0 && last == expected_last, "wide-step convolution: wrong span") &&
        check(state, strictly_ascending(conv.convolve(input)), "wide-step convolution: unsorted")) {
        state.SetComplexityN(n);
        state.SetItemsProcessed(state.iterations() * n * static_cast<std::int64_t>(kTaps));
    }
}
BENCHMARK(BM_ConvolveWideStep)
    ->Arg(1000)
    ->Arg(3000)
    ->Arg(10000)
    ->Arg(30000)
    ->Arg(100000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

using PiecewisePMTSim = pelorin::PiecewiseLinearPMTSim;

/// A PMT stage from small analytic spectra: a Gaussian transit-time delay around
/// 40 ns and a Gaussian single-PE amplitude around 1, 11 points each.
PiecewisePMTSim small_pmt_sim() {
    std::vector<double> t, ty, a, ay;
    for (int i = 0; i <= 10; ++i) {
        const double z = (i - 5) / 1.25;
        t.push_back(40 * kNs + z * kNs);
        ty.push_back(std::exp(-0.5 * z * z));
        a.push_back(i * 0.2);
        const double za = (i * 0.2 - 1.0) / 0.3;
        ay.push_back(std::exp(-0.5 * za * za));
    }
    return PiecewisePMTSim{pelorin::random::PiecewiseLinearDistribution(t.begin(), t.end(), ty.begin()),
                           pelorin::random::PiecewiseLinearDistribution(a.begin(), a.end(), ay.begin()), 1 * kNs};
}

// The same PE times, 100 ns apart with 10 ns of scatter, ascending or shuffled. The
// delays span 8 ns, so ascending PE times give impulses in index order and the stage
// skips its sort; shuffled times pay for a stable sort of the impulses.
void BM_PMTSim(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const bool sorted = state.range(1) != 0;
    pelorin::random::MersenneTwister input_rng(11);
    std::vector<double> pe_times(n);
    for (std::size_t i = 0; i < n; ++i) {
        pe_times[i] = static_cast<double>(i) * 100 * kNs + pelorin::random::canonical(input_rng) * 10 * kNs;
    }
    if (!sorted) {
        for (std::size_t i = n; i > 1; --i) {  // Fisher-Yates
            std::swap(pe_times[i - 1], pe_times[pelorin::random::below(input_rng, i)]);
        }
    }
    PiecewisePMTSim pmt = small_pmt_sim();
    pelorin::random::MersenneTwister rng(1);
    bool ok = true;
    for (auto _ : state) {
        const auto analog = pmt.simulate(pe_times, rng);
        ok = ok && analog.samples.size() == n;
        benchmark::DoNotOptimize(analog.samples.data());
    }
    if (check(state, ok, "PMTSim: one impulse per PE expected")) {
        state.SetItemsProcessed(state.iterations() * state.range(0));
    }
}
BENCHMARK(BM_PMTSim)
    ->ArgNames({"pes", "sorted"})
    ->ArgsProduct({{10000, 100000, 1000000}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

std::filesystem::path example_file(const char* name) {
    return std::filesystem::path(PELORIN_EXAMPLE_DATA_DIR) / name;
}

/// Dark counts of one channel: a Poisson process at `rate_hz` over 100 us.
std::vector<double> dark_counts(double rate_hz, std::uint32_t seed) {
    pelorin::random::MersenneTwister rng(seed);
    auto gap = [&] { return -std::log(1.0 - pelorin::random::canonical(rng)) / rate_hz; };
    std::vector<double> times;
    for (double t = gap(); t < 100e-6; t += gap()) {
        times.push_back(t);
    }
    return times;
}

// The camera of examples/camera_readout.py on one channel of dark counts; the
// argument is the rate in MHz (100 MHz is night-sky-background territory).
void BM_TarvexSimulate(benchmark::State& state) {
    pelorin::Tarvex camera(example_file("time_spectrum.txt"), example_file("amplitude_spectrum.txt"), 1e-9, 4e-9,
                           example_file("pulse_shape.txt"), -1, 40.0, 50.0, 4095.0, 1.5, 4095.0, 32, 8, {1, 1, 1},
                           170, 1, -8, 1, pelorin::Tarvex::EarlyHandling::IGNORE);
    const std::vector<double> pe_times = dark_counts(static_cast<double>(state.range(0)) * 1e6, 3);
    bool ok = true;
    for (auto _ : state) {
        const auto records = camera.simulate(pe_times, 0);
        ok = ok && !records.empty() && records.front().waveform.size() == 32;
        benchmark::DoNotOptimize(records.data());
    }
    if (check(state, ok, "Tarvex::simulate: no records or wrong window length")) {
        state.counters["pes"] = static_cast<double>(pe_times.size());
        state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pe_times.size()));
    }
}
BENCHMARK(BM_TarvexSimulate)->ArgName("MHz")->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

// The module of examples/multipmt_readout.py on one channel of dark counts.
void BM_MultiPMTSimulate(benchmark::State& state) {
    pelorin::MultiPMT module(example_file("time_spectrum.txt"), example_file("amplitude_spectrum.txt"), 1e-9, 1e-9,
                             example_file("tot_pulse_shape.txt"), 0.3, 10e-9, 0.02, 0.2e-9, 4e-9,
                             example_file("adc_pulse_shape.txt"), -1, 100.0, 100.0, 2.0, 4095.0, 3e-9, 1);
    const std::vector<double> pe_times = dark_counts(static_cast<double>(state.range(0)) * 1e6, 5);
    bool ok = true;
    for (auto _ : state) {
        const auto records = module.simulate(pe_times, 0);
        ok = ok && !records.empty() &&
             std::is_sorted(records.begin(), records.end(),
                            [](const auto& a, const auto& b) { return a.time < b.time; });
        benchmark::DoNotOptimize(records.data());
    }
    if (check(state, ok, "MultiPMT::simulate: no records or records out of order")) {
        state.counters["pes"] = static_cast<double>(pe_times.size());
        state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pe_times.size()));
    }
}
BENCHMARK(BM_MultiPMTSimulate)->ArgName("MHz")->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    // Older releases of the library read --benchmark_min_time as a bare number of
    // seconds and newer ones still accept that, so the "0.01s" spelling is cut
    // to the bare number.
    std::vector<std::string> args(argv, argv + argc);
    std::vector<char*> pointers;
    for (std::string& arg : args) {
        const std::string flag = "--benchmark_min_time=";
        if (arg.rfind(flag, 0) == 0 && arg.size() > flag.size() && arg.back() == 's') {
            arg.pop_back();
        }
        pointers.push_back(arg.data());
    }
    int count = static_cast<int>(pointers.size());
    benchmark::Initialize(&count, pointers.data());
    pelorin::bench::register_readout_benchmarks();
    pelorin::bench::register_option_benchmarks();
    pelorin::bench::register_random_benchmarks();
    pelorin::bench::register_background_benchmarks();
    if (benchmark::ReportUnrecognizedArguments(count, pointers.data())) {
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return pelorin::bench::any_failed() ? 1 : 0;
}
