// Readout of both models against the floor: a loop that makes exactly the random draws of
// the same readout (std::mt19937, distributions constructed alike, in the same order, one
// value at a time) and nothing else. Where the build's standard library is the GNU one
// that pelorin's draws reproduce, the floor draws with its std:: distributions, the
// yardstick of every earlier measurement; elsewhere with pelorin's.
//
// The draw plan of each call (PEs, ToT noise draws between jitter pairs, phase, ADC
// noise draws) is worked out once from the stages, untimed; the benchmark then checks
// that the floor leaves the engine exactly where the readout leaves it. Readout and floor
// alternate within each iteration, so the ratio is measured under the same load.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <random>
#include <type_traits>
#include <vector>

#include "bench_support.hpp"
#include "pelorin/adc_sim.hpp"
#include "pelorin/multipmt.hpp"
#include "pelorin/pmt_sim.hpp"
#include "pelorin/readout.hpp"
#include "pelorin/spectrum.hpp"
#include "pelorin/tarvex.hpp"
#include "pelorin/tot_sim.hpp"
#include "stages/tot_discriminator.hpp"
#include "stream/adc_stream.hpp"
#include "stream/impulse_train.hpp"
#include "waveform/grid.hpp"
#include "workloads.hpp"

namespace pelorin::bench {
namespace {

// The models of the workloads: a 0.1 ns analog grid, a 20 ns pulse, a 4 ns ADC at a
// random phase; the MultiPMT discriminator works on a 20 ns pulse at 1 ns steps.
constexpr double analog_step = 1e-10;
constexpr double adc_step = 4e-9;
constexpr double tot_step = 1e-9;
constexpr double pedestal_window = 1e-6;
constexpr int seed = 1;

std::filesystem::path file(const char* dir, const char* name) { return std::filesystem::path(dir) / name; }
std::filesystem::path example(const char* name) { return file(PELORIN_EXAMPLE_DATA_DIR, name); }
std::filesystem::path pulse() { return file(PELORIN_BENCHMARK_DATA_DIR, "pulse_20ns_0p1ns.txt"); }

Tarvex make_camera() {
    return Tarvex(example("time_spectrum.txt"), example("amplitude_spectrum.txt"), analog_step, adc_step, pulse(),
                  -1, 40.0, 50.0, 4095.0, 1.5, 4095.0, 32, 8, {1, 1, 1}, 170, 1, -8, seed,
                  Tarvex::EarlyHandling::IGNORE);
}

MultiPMT make_multipmt() {
    return MultiPMT(example("time_spectrum.txt"), example("amplitude_spectrum.txt"), analog_step, tot_step,
                    file(PELORIN_BENCHMARK_DATA_DIR, "tot_pulse_20ns_1ns.txt"), 0.3, 10e-9, 0.02, 0.2e-9, adc_step,
                    pulse(), -1, 100.0, 100.0, 2.0, 4095.0, 3e-9, seed);
}

#if defined(__GLIBCXX__) && (_GLIBCXX_RELEASE < 16 || defined(_GLIBCXX_USE_OLD_GENERATE_CANONICAL))
using FloorPiecewise = std::piecewise_linear_distribution<double>;
using FloorNormal = std::normal_distribution<double>;
using FloorUniform = std::uniform_int_distribution<int>;
#else
using FloorPiecewise = random::PiecewiseLinearDistribution;
using FloorNormal = random::NormalDistribution;
using FloorUniform = random::UniformIntDistribution;
#endif

FloorPiecewise floor_density(const Spectrum& spectrum) {
    return FloorPiecewise(spectrum.first.begin(), spectrum.first.end(), spectrum.second.begin());
}

/// The same stages as the models, to work out the draw plans.
struct Stages {
    Spectrum times = read_density_spectrum(example("time_spectrum.txt"));
    Spectrum amplitudes = read_density_spectrum(example("amplitude_spectrum.txt"));
    PiecewiseLinearPMTSim pmt;
    ADCSim adc;
    std::optional<ToTSim> tot;
    double pulse_duration;
    FloorPiecewise floor_delay = floor_density(times);
    FloorPiecewise floor_amplitude = floor_density(amplitudes);

    explicit Stages(bool camera)
        : pmt(make_pmt_sim(times, amplitudes, analog_step)),
          adc(adc_step, SparseConvolution<double>{analog_step, read_spectrum_file(pulse()).second}, -1,
              camera ? 40.0 : 100.0, camera ? 50.0 : 100.0, 4095.0, camera ? 1.5 : 2.0, 4095.0) {
        const Spectrum shape = read_spectrum_file(pulse());
        pulse_duration = shape.first.back() - shape.first.front();
        if (!camera) {
            tot.emplace(tot_step,
                        SparseConvolution<double>{
                            tot_step,
                            read_spectrum_file(file(PELORIN_BENCHMARK_DATA_DIR, "tot_pulse_20ns_1ns.txt")).second},
                        0.3, 10e-9, 0.02, 0.2e-9);
        }
    }
};

/// The draws of one readout call, in order.
struct CallPlan {
    std::size_t pes = 0;
    int period = 0;                           ///< ADC period in analog steps, for the phase draw
    std::vector<std::size_t> tot_noise_runs;  ///< ToT noise draws before each jitter pair
    std::size_t tot_noise_tail = 0;
    std::size_t adc_samples = 0;
};

/// The discriminator's draws, noting how many noise draws come before each jitter pair.
struct CountedToTDraws {
    ToTDraws draws;
    std::vector<std::size_t>* noise_runs;
    std::size_t noise_since_pair = 0;
    bool pair_open = false;

    double noise() {
        ++noise_since_pair;
        return draws.noise();
    }
    double jitter() {
        if (!pair_open) {
            noise_runs->push_back(noise_since_pair);
            noise_since_pair = 0;
        }
        pair_open = !pair_open;
        return draws.jitter();
    }
};

/// Runs the model's discriminator to find where its jitter pairs fall among the noise draws.
void plan_tot(const ToTSim& tot, const std::vector<stream::Impulse>& impulses, random::MersenneTwister& rng,
              CallPlan& plan) {
    SparseWaveform<double> analog(analog_step);
    for (const auto& [index, amplitude] : impulses) {
        analog.samples.emplace_back(index, amplitude);
    }
    const SparseWaveform<double> shaped = tot.pulse_shape.convolve(analog);
    ToTDiscriminator<CountedToTDraws> discriminator(tot, analog_step,
                                                    CountedToTDraws{ToTDraws(tot, rng), &plan.tot_noise_runs});
    for (const auto& [index, value] : shaped.samples) {
        discriminator.sample(index, value);
    }
    discriminator.finish();
    plan.tot_noise_tail = discriminator.draws().noise_since_pair;
}

/// Where a call forces zero-valued analog samples: over external trigger windows of
/// `window` seconds (the camera), or at every index of a run (the continuous MultiPMT).
struct Forcing {
    const std::vector<double>* triggers = nullptr;
    double window = pedestal_window;
    std::optional<stream::Run> dense;
};

/// Plans one call and advances `rng` by its draws.
CallPlan plan_call(Stages& stages, const std::vector<double>& pe_times, const Forcing& forcing,
                   random::MersenneTwister& rng) {
    CallPlan plan;
    plan.pes = pe_times.size();
    std::vector<stream::Impulse> impulses;
    for (const auto& [index, amplitude] : stages.pmt.simulate(pe_times, rng).samples) {
        impulses.push_back({index, amplitude});
    }
    if (forcing.dense) {
        for (std::int64_t p = forcing.dense->first; p <= forcing.dense->last; ++p) {
            impulses.push_back({p, 0.0});
        }
    }
    if (forcing.triggers) {
        const double half = 0.5 * stages.pulse_duration;
        for (const double t : *forcing.triggers) {
            for (double u = t - half; t + forcing.window + half > u; u = u + half) {
                impulses.push_back({time_to_index(u, analog_step), 0.0});
            }
        }
    }
    stream::stable_sort_by_index(impulses);
    stream::merge_equal_indices(impulses);
    if (stages.tot) {
        plan_tot(*stages.tot, impulses, rng, plan);
    }
    const auto [period, phase] = stages.adc.sampling(analog_step, rng);
    plan.period = static_cast<int>(period);
    const auto span = static_cast<std::int64_t>(stages.adc.pulse_shape.kernel.size()) - 1;
    stream::Coverage coverage(impulses, span);
    for (stream::Run run{}; coverage.next(run);) {
        const std::int64_t first = ceil_div(run.first - phase, period);
        const std::int64_t last = floor_div(run.last - phase, period);
        plan.adc_samples += static_cast<std::size_t>(std::max<std::int64_t>(0, last - first + 1));
    }
    random::NormalDistribution gaussian(0.0, stages.adc.noise);
    for (std::size_t n = 0; n < plan.adc_samples; ++n) {
        gaussian(rng);
    }
    return plan;
}

/// The floor: the planned draws, one value at a time, each value consumed.
double replay(Stages& stages, const std::vector<CallPlan>& plans, std::mt19937& rng) {
    double sum = 0.0;
    for (const CallPlan& plan : plans) {
        for (std::size_t n = 0; n < plan.pes; ++n) {
            sum += stages.floor_delay(rng);
            sum += stages.floor_amplitude(rng);
        }
        if (stages.tot) {
            FloorNormal noise(0.0, stages.tot->noise), jitter(0.0, stages.tot->jitter);
            auto noise_draws = [&](std::size_t count) {
                for (std::size_t n = 0; n < count; ++n) {
                    sum += noise(rng);
                }
            };
            for (const std::size_t run : plan.tot_noise_runs) {
                noise_draws(run);
                sum += jitter(rng);
                sum += jitter(rng);
            }
            noise_draws(plan.tot_noise_tail);
        }
        sum += FloorUniform(0, plan.period - 1)(rng);
        FloorNormal gaussian(0.0, stages.adc.noise);
        for (std::size_t n = 0; n < plan.adc_samples; ++n) {
            sum += gaussian(rng);
        }
    }
    return sum;
}

/// Whether the two engines go on with the same outputs (624 of them fix the state).
bool same_sequence(std::mt19937 standard, random::MersenneTwister own) {
    for (std::size_t n = 0; n < random::MersenneTwister::state_size; ++n) {
        if (standard() != own()) {
            return false;
        }
    }
    return true;
}

using Clock = std::chrono::steady_clock;

/// Seconds that `run` takes.
template <typename Run>
double seconds_of(Run&& run) {
    const auto start = Clock::now();
    run();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// The seconds of `a` and of `b`, run in turn, first one then the other, so that both see
/// the same load on a shared machine.
template <typename A, typename B>
std::pair<double, double> alternately(int& iteration, A&& a, B&& b) {
    if (iteration++ % 2 == 0) {
        const double first = seconds_of(a);
        return {first, seconds_of(b)};
    }
    const double second = seconds_of(b);
    return {seconds_of(a), second};
}

std::vector<double> pedestal_triggers() {
    std::vector<double> triggers(1000);
    for (std::size_t k = 0; k < triggers.size(); ++k) {
        triggers[k] = static_cast<double>(k) * pedestal_window;
    }
    return triggers;
}

/// The loop of simulate_pe_list: one call per entry, records concatenated.
template <typename Model>
auto read_out(Model& model, const PEList& pe_list, std::vector<double>* triggers) {
    decltype(model.simulate(std::vector<double>{}, 0)) records;
    for (const auto& pes : pe_list) {
        auto entry = [&] {
            if constexpr (std::is_same_v<Model, Tarvex>) {
                if (triggers) {
                    return model.simulate_external_trigger(pes.second, *triggers, pedestal_window, pes.first);
                }
            }
            return model.simulate(pes.second, pes.first);
        }();
        if (records.empty()) {
            records = std::move(entry);
        } else {
            records.insert(records.end(), std::make_move_iterator(entry.begin()),
                           std::make_move_iterator(entry.end()));
        }
    }
    return records;
}

template <typename Model>
void readout_vs_floor(benchmark::State& state, const Workload& workload, const Model& prototype) {
    const PEList pe_list = workload.pe_list();
    std::vector<double> triggers = pedestal_triggers();
    std::vector<double>* external = workload.external ? &triggers : nullptr;
    Stages stages(workload.camera);
    std::vector<CallPlan> plans;
    random::MersenneTwister planned = prototype.engine();
    for (const auto& [channel, times] : pe_list) {
        plans.push_back(plan_call(stages, times, {external, pedestal_window, std::nullopt}, planned));
    }
    double readout_seconds = 0.0, floor_seconds = 0.0;
    std::size_t records = 0;
    bool same_engine = true;
    int iteration = 0;
    for (auto _ : state) {
        Model model = prototype;
        std::mt19937 rng(seed);
        decltype(read_out(model, pe_list, external)) result;  // released after the clock stopped, as the host
                                                              // releases them later
        const auto [readout, floor] = alternately(
            iteration, [&] { result = read_out(model, pe_list, external); },
            [&] { benchmark::DoNotOptimize(replay(stages, plans, rng)); });
        records = result.size();
        readout_seconds += readout;
        floor_seconds += floor;
        state.SetIterationTime(readout);
        same_engine = same_engine && same_sequence(rng, model.engine()) && same_sequence(rng, planned);
    }
    if (check(state, same_engine, "the floor does not leave the engine where the readout does") &&
        check(state, records > 0, "the readout produced no records")) {
        const double pes = static_cast<double>(workload.pes_per_channel) * workload.channels;
        const double iterations = static_cast<double>(state.iterations());
        state.counters["floor_ratio"] = readout_seconds / floor_seconds;
        state.counters["ns_per_pe"] = readout_seconds / iterations / pes * 1e9;
        state.counters["floor_ns_per_pe"] = floor_seconds / iterations / pes * 1e9;
        state.counters["records"] = static_cast<double>(records);
    }
}

/// The cost of the truth: the same readout with and without it, alternating, on twin models.
template <typename Model>
void truth_cost(benchmark::State& state, const Workload& workload, const Model& prototype) {
    const PEList pe_list = workload.pe_list();
    double plain_seconds = 0.0, truth_seconds = 0.0;
    std::size_t assigned = 0, pes = 0, largest_entry = 0;
    bool same = true;
    int iteration = 0;
    for (auto _ : state) {
        Model plain = prototype, traced = prototype;
        std::size_t plain_records = 0, traced_records = 0;
        const auto [plain_time, truth_time] = alternately(
            iteration, [&] { plain_records = read_out(plain, pe_list, nullptr).size(); },
            [&] {
                PETruth truth;
                ReadoutOptions options;
                options.truth = &truth;
                assigned = pes = 0;
                for (const auto& [channel, times] : pe_list) {
                    traced_records += pelorin::read_out(traced, times, channel, options).size();
                    assigned += static_cast<std::size_t>(std::count_if(truth.record.begin(), truth.record.end(),
                                                                       [](std::int64_t r) { return r >= 0; }));
                    pes += times.size();
                    largest_entry = std::max(largest_entry, times.size());
                }
            });
        plain_seconds += plain_time;
        truth_seconds += truth_time;
        state.SetIterationTime(truth_time);
        same = same && plain_records == traced_records && plain.engine() == traced.engine();
    }
    if (check(state, same, "the truth changed the records or the draws") &&
        check(state, assigned > 0, "no PE ended in a record")) {
        state.counters["truth_ratio"] = truth_seconds / plain_seconds;
        state.counters["in_records"] = static_cast<double>(assigned) / static_cast<double>(pes);
        // Held during a call: the draws and record index of the largest entry's PEs.
        state.counters["transient_bytes"] = static_cast<double>(largest_entry * (sizeof(PEDraw) + 8));
    }
}

/// A pedestal run in continuous mode, no PEs over `span_length` seconds, against its floor:
/// the phase and one normal per forced sample (ToT samples first for the MultiPMT).
template <typename Model>
void continuous_vs_floor(benchmark::State& state, const Model& prototype, double span_length) {
    constexpr bool camera = std::is_same_v<Model, Tarvex>;
    Stages stages(camera);
    const std::vector<double> start{0.0};
    Forcing forcing;
    if (camera) {
        forcing.triggers = &start;
        forcing.window = span_length;
    } else {
        forcing.dense = stream::Run{0, time_to_index(span_length, analog_step) - 1};
    }
    random::MersenneTwister planned = prototype.engine();
    const std::vector<CallPlan> plans{plan_call(stages, {}, forcing, planned)};
    ReadoutOptions options;
    options.continuous = true;
    options.span = TimeSpan{0.0, span_length};
    double readout_seconds = 0.0, floor_seconds = 0.0;
    bool same_engine = true;
    int iteration = 0;
    for (auto _ : state) {
        Model model = prototype;
        std::mt19937 rng(seed);
        const auto [readout, floor] = alternately(
            iteration, [&] { benchmark::DoNotOptimize(pelorin::read_out(model, {}, 0, options)); },
            [&] { benchmark::DoNotOptimize(replay(stages, plans, rng)); });
        readout_seconds += readout;
        floor_seconds += floor;
        state.SetIterationTime(readout);
        same_engine = same_engine && same_sequence(rng, model.engine()) && same_sequence(rng, planned);
    }
    if (check(state, same_engine, "the floor does not leave the engine where the readout does")) {
        const double samples = static_cast<double>(plans[0].adc_samples);
        state.counters["floor_ratio"] = readout_seconds / floor_seconds;
        state.counters["ns_per_adc_sample"] =
            readout_seconds / static_cast<double>(state.iterations()) / samples * 1e9;
    }
}

}  // namespace

void register_option_benchmarks() {
    for (const Workload& workload : workloads()) {
        if (workload.external || workload.name.find("1000000") != std::string::npos) {
            continue;
        }
        auto* bm =
            benchmark::RegisterBenchmark(("Truth/" + workload.name).c_str(), [workload](benchmark::State& s) {
                if (workload.camera) {
                    truth_cost(s, workload, make_camera());
                } else {
                    truth_cost(s, workload, make_multipmt());
                }
            });
        bm->UseManualTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("Continuous/camera/pedestal_1ms",
                                 [](benchmark::State& s) { continuous_vs_floor(s, make_camera(), 1e-3); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Continuous/multipmt/pedestal_100us",
                                 [](benchmark::State& s) { continuous_vs_floor(s, make_multipmt(), 1e-4); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

void register_readout_benchmarks() {
    for (const Workload& workload : workloads()) {
        auto* bm =
            benchmark::RegisterBenchmark(("Readout/" + workload.name).c_str(), [workload](benchmark::State& s) {
                if (workload.camera) {
                    readout_vs_floor(s, workload, make_camera());
                } else {
                    readout_vs_floor(s, workload, make_multipmt());
                }
            });
        bm->UseManualTime()->Unit(benchmark::kMillisecond);
    }
}

}  // namespace pelorin::bench
