#pragma once

#include <benchmark/benchmark.h>

namespace pelorin::bench {

/// Whether any benchmark's result check failed; the program then exits non-zero.
inline bool& any_failed() {
    static bool failed = false;
    return failed;
}

/// Marks the case as failed (and the run as failed) unless `ok`.
inline bool check(benchmark::State& state, bool ok, const char* what) {
    if (!ok) {
        any_failed() = true;
        state.SkipWithError(what);
    }
    return ok;
}

/// The model readouts against their draw floors (readout_benchmark.cpp).
void register_readout_benchmarks();

/// The readout options, truth and continuous ADC, against the plain readout and their floor.
void register_option_benchmarks();

/// The random layer's draws beside the standard library's (random_benchmark.cpp).
void register_random_benchmarks();

/// Dark counts per second against their draws alone (background_benchmark.cpp).
void register_background_benchmarks();

}  // namespace pelorin::bench
