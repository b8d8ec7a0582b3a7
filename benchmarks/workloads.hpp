#pragma once

// The readout workloads, defined identically here and in bench_readout.py: PE times of
// each channel are uniform over the run (a Poisson process of fixed count), drawn from a
// counter-based splitmix64 so that both languages produce the very same doubles.

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pelorin::bench {

using PEList = std::vector<std::pair<int, std::vector<double>>>;

/// splitmix64 of the counter value `n` of stream `seed`.
inline std::uint64_t splitmix64(std::uint64_t seed, std::uint64_t n) {
    std::uint64_t z = seed + (n + 1) * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

/// `count` PE times uniform over [0, duration), in draw order or ascending.
inline std::vector<double> uniform_times(std::uint64_t seed, std::size_t count, double duration, bool sorted) {
    std::vector<double> times(count);
    for (std::size_t n = 0; n < count; ++n) {
        times[n] = static_cast<double>(splitmix64(seed, n) >> 11) * 0x1.0p-53 * duration;
    }
    if (sorted) {
        std::sort(times.begin(), times.end());
    }
    return times;
}

struct Workload {
    std::string name;
    bool camera;  ///< camera or MultiPMT
    int channels;
    std::size_t pes_per_channel;
    double duration;  ///< seconds of run per channel
    bool sorted;
    bool external;  ///< camera pedestal run: one 1 us window per microsecond

    PEList pe_list() const {
        PEList list;
        for (int c = 0; c < channels; ++c) {
            list.emplace_back(c,
                              uniform_times(static_cast<std::uint64_t>(c) + 1, pes_per_channel, duration, sorted));
        }
        return list;
    }
};

/// The workloads of the readout benchmarks: 1 MHz over 100 us on 1000 channels, 300 MHz
/// over 10 us on 50 channels, one channel at 10 MHz with 10^4 to 10^6 PEs, and a pedestal
/// run of 1000 contiguous 1 us windows over 1000 PEs.
inline std::vector<Workload> workloads() {
    std::vector<Workload> list;
    for (const bool camera : {true, false}) {
        const std::string model = camera ? "camera" : "multipmt";
        list.push_back({model + "/1MHz_1000ch", camera, 1000, 100, 100e-6, false, false});
        list.push_back({model + "/300MHz_50ch", camera, 50, 3000, 10e-6, false, false});
        for (const std::size_t pes : {std::size_t{10000}, std::size_t{100000}, std::size_t{1000000}}) {
            for (const bool sorted : {true, false}) {
                list.push_back({model + "/10MHz_" + std::to_string(pes) + (sorted ? "_sorted" : "_shuffled"),
                                camera, 1, pes, static_cast<double>(pes) * 100e-9, sorted, false});
            }
        }
    }
    list.push_back({"camera/pedestal_1000x1us", true, 1, 1000, 1e-3, false, true});
    return list;
}

}  // namespace pelorin::bench
