#include "pelorin/tarvex.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <utility>

#include "camera/readout_window.hpp"
#include "models/analog_trace.hpp"
#include "models/burst_calibration.hpp"
#include "models/input_checks.hpp"
#include "models/model_state.hpp"
#include "models/pe_truth.hpp"
#include "models/readout_paths.hpp"
#include "pelorin/adc_sim.hpp"
#include "pelorin/pmt_sim.hpp"
#include "pelorin/readout.hpp"
#include "pelorin/trigger_sim.hpp"
#include "stream/adc_stream.hpp"
#include "stream/exact_grid.hpp"
#include "stream/impulse_train.hpp"
#include "stream/triggered_readout.hpp"
#include "stream/window_union.hpp"

namespace pelorin {

struct Tarvex::Impl {
    PiecewiseLinearPMTSim pmt_sim;
    ADCSim adc_sim;
    TriggerSim trigger_sim;
    random::MersenneTwister rng;
    int waveform_samples;
    int trigger_offset;
    double offset;
    double pulse_duration;
    EarlyHandling early_handling;
    double max_delay;          ///< bound on the delays the time spectrum draws
    double exact_reach;        ///< seconds from the run start over which the grid arithmetic is exact
    bool stages_only = false;  ///< read out through the stage classes alone (tests)
};

namespace {

// Upper bound on the zero-valued analog samples of one externally triggered readout
// (32 GiB of samples): beyond it the request cannot fit in memory anyway.
constexpr double max_forced_samples = 2147483648.0;

// Record times count whole seconds in 32 bits.
constexpr double record_seconds = 4294967296.0;
constexpr const char* grid_reason = "times further out leave the range over which this model's time grid is exact";
constexpr const char* record_reason = "record times count whole seconds in 32 bits";

using stream::Impulse;

/// ADC samples that the trigger filter and a window reach beyond a filter sample.
std::int64_t window_margin(std::size_t trigger_taps, int waveform_samples, int trigger_offset) {
    return static_cast<std::int64_t>(trigger_taps) + 2 * std::abs(static_cast<std::int64_t>(waveform_samples)) +
           std::abs(static_cast<std::int64_t>(trigger_offset)) + 4;
}

/// PE times whose records, and every index on the way, the triggered readout forms exactly.
template <typename State>
checks::TimeRange pe_time_range(const State& s) {
    const double grid = s.exact_reach - s.max_delay;
    // The latest window of a PE opens after its delay, its pulse and the filter and
    // window samples that can move a trigger.
    const double record = record_seconds - s.max_delay - s.pulse_duration -
                          static_cast<double>(window_margin(s.trigger_sim.trigger_kernel.kernel.size(),
                                                            s.waveform_samples, s.trigger_offset)) *
                              s.adc_sim.adc_step;
    return record < grid ? checks::TimeRange{record, false, record_reason}
                         : checks::TimeRange{grid, false, grid_reason};
}

/// Calls `force(index)` for the zero-valued analog samples over every external trigger
/// window, which make the ADC produce offset and noise where no pulse is; they add
/// nothing to samples already there.
template <typename Force>
void force_windows(const std::vector<double>& trigger_times, double readout_window, double half_pulse, double step,
                   Force&& force) {
    for (const double t : trigger_times) {
        if (t < 0.0) {
            throw std::runtime_error(camera::printf_seconds("External trigger time cannot be negative: ", t));
        }
        // Stepping in time, as the stages force their samples.
        // NOLINTNEXTLINE(clang-analyzer-security.FloatLoopCounter)
        for (double u = t - half_pulse; t + readout_window + half_pulse > u; u = u + half_pulse) {
            force(time_to_index(u, step));
        }
    }
}

/// The triggered readout as the stages compose it: the reference the stream must equal, and
/// the path of windows that reach back further than the stream keeps samples.
template <typename State>
std::vector<corvane::TarvexTrigger> triggered_readout_of_stages(State& s, const SparseWaveform<double>& analog,
                                                                int channel, std::vector<double>& starts) {
    const SparseWaveform<unsigned short> adc = s.adc_sim.simulate(analog, s.rng);
    const std::vector<double> trigger_times = s.trigger_sim.simulate(adc);
    std::vector<corvane::TarvexTrigger> records;
    records.reserve(trigger_times.size());
    for (const double trigger_time : trigger_times) {
        const double step = adc.step;
        const double start = static_cast<double>(s.trigger_offset) * step + trigger_time;
        const double end = static_cast<double>(s.waveform_samples) * step + start;
        std::vector<std::uint16_t> samples = adc.get_samples(start, end);
        camera::fill_trailing_zeros(samples, camera::trailing_fill(s.offset));
        corvane::ReadoutTime time{0, 0};
        if (start < 0.0) {
            if (!camera::keep_early_window(s.early_handling, start)) {
                continue;
            }
        } else {
            time = corvane::split_readout_time(start);
        }
        records.push_back(corvane::make_tarvex_trigger(channel, time, std::move(samples), s.offset));
        starts.push_back(start);
    }
    return records;
}

/// The analog runs that the zero-valued samples forced over the windows make the ADC cover,
/// merged: each forced sample stores the pulse span after it once shaped.
std::vector<stream::Run> forced_runs(const std::vector<double>& window_starts, double window_length,
                                     double half_pulse, double step, std::int64_t pulse_span) {
    std::vector<stream::Run> forced;
    // The forced samples of one window come in ascending order, so its runs form as they come.
    force_windows(window_starts, window_length, half_pulse, step, [&](std::int64_t index) {
        if (!forced.empty() && index >= forced.back().first && index <= forced.back().last + 1) {
            forced.back().last = std::max(forced.back().last, index + pulse_span);
        } else {
            forced.push_back({index, index + pulse_span});
        }
    });
    return stream::merge_runs(std::move(forced));
}

/// The stages' forcing: zero-valued analog samples added over the windows.
void add_forced_samples(SparseWaveform<double>& analog, const std::vector<double>& window_starts,
                        double window_length, double half_pulse) {
    std::vector<SparseWaveform<double>::Sample> forced;
    force_windows(window_starts, window_length, half_pulse, analog.step,
                  [&](std::int64_t index) { forced.emplace_back(index, 0.0); });
    analog.add_samples(std::move(forced));
}

/// The span of a continuous readout: the caller's, checked, or that of the PEs with the
/// delays, the pulse and the window margins (nothing without PEs).
template <typename State>
std::optional<TimeSpan> continuous_span(const State& s, const std::vector<double>& pe_times,
                                        const std::optional<TimeSpan>& given) {
    const double adc_step = s.adc_sim.adc_step;
    const double margin = static_cast<double>(window_margin(s.trigger_sim.trigger_kernel.kernel.size(),
                                                            s.waveform_samples, s.trigger_offset)) *
                          adc_step;
    TimeSpan span{};
    if (given) {
        span = checks::checked_span(*given);
    } else if (pe_times.empty()) {
        return std::nullopt;
    } else {
        const auto [earliest, latest] = std::minmax_element(pe_times.begin(), pe_times.end());
        span = {std::max(0.0, *earliest - s.max_delay - margin),
                *latest + s.max_delay + s.pulse_duration + margin};
        if (!(span.start < span.stop)) {
            return std::nullopt;
        }
    }
    // Every window read from the span ends within the margin after it.
    checks::require_run_times({span.stop + margin}, pe_time_range(s), "span stop (with the window margin)");
    checks::require_span_samples(span, adc_step, 0.5 * s.pulse_duration, "the ADC");
    return span;
}

/// The externally triggered readout as the stages compose it: the reference the stream must equal.
template <typename State>
std::vector<corvane::TarvexTrigger> external_readout_of_stages(State& s, const std::vector<double>& pe_times,
                                                               const std::vector<double>& trigger_times,
                                                               double readout_window, int channel) {
    SparseWaveform<double> analog = s.pmt_sim.simulate(pe_times, s.rng);
    add_forced_samples(analog, trigger_times, readout_window, 0.5 * s.pulse_duration);
    const SparseWaveform<unsigned short> adc = s.adc_sim.simulate(analog, s.rng);
    std::vector<corvane::TarvexTrigger> records;
    records.reserve(trigger_times.size());
    for (const double t : trigger_times) {
        std::vector<std::uint16_t> samples = adc.get_samples(t, t + readout_window);
        records.push_back(
            corvane::make_tarvex_trigger(channel, corvane::split_readout_time(t), std::move(samples), s.offset));
    }
    return records;
}

void check_arguments(double pmt_time_step, double adc_step, double gain, double offset, double preamp_clip,
                     double noise, double clip, int trigger_norm, Tarvex::EarlyHandling early_handling) {
    checks::require_step(pmt_time_step, "pmt_time_step");
    checks::require_step(adc_step, "adc_step");
    checks::require_adc_period(adc_step, pmt_time_step, "adc_step");
    checks::require_finite(gain, "gain");
    checks::require_float_range(offset, "offset");
    checks::require_finite(preamp_clip, "preamp_clip");
    checks::require_finite(noise, "noise");
    checks::require_adc_clip(clip, "clip");
    checks::require_nonzero(trigger_norm, "trigger_norm");
    const int policy = static_cast<int>(early_handling);
    if (policy < 0 || policy > 3) {
        throw std::invalid_argument("early_handling must be IGNORE, ZERO, WARN or THROW");
    }
}

}  // namespace

Spectrum Tarvex::read_spectrum(const std::filesystem::path& path) { return read_spectrum_file(path); }

Tarvex::Tarvex(const std::filesystem::path& time_spectrum, const std::filesystem::path& amplitude_spectrum,
               double pmt_time_step, double adc_step, const std::filesystem::path& pulse_shape, int jitter,
               double gain, double offset, double preamp_clip, double noise, double clip, int waveform_samples,
               int retrigger_offset, std::vector<int> trigger_kernel, int adc_threshold, int trigger_norm,
               int trigger_offset, int seed, EarlyHandling early_handling) {
    check_arguments(pmt_time_step, adc_step, gain, offset, preamp_clip, noise, clip, trigger_norm, early_handling);
    const Spectrum times = read_density_spectrum(time_spectrum);
    const Spectrum amplitudes = read_density_spectrum(amplitude_spectrum);
    PiecewiseLinearPMTSim pmt_sim = make_pmt_sim(times, amplitudes, pmt_time_step);

    const Spectrum shape = read_pulse_shape(
        pulse_shape, {pmt_time_step, "pmt_time_step", "Pulse shape time step does not match PMT step."});
    // Only the y column enters the kernel: its first tap acts at zero delay.
    ADCSim adc_sim(adc_step, SparseConvolution<double>{pmt_time_step, shape.second}, jitter, gain, offset,
                   preamp_clip, noise, clip);
    TriggerSim trigger_sim(adc_step, waveform_samples, retrigger_offset, std::move(trigger_kernel), adc_threshold,
                           trigger_norm);
    // A negative seed enters as its two's-complement low 32 bits.
    random::MersenneTwister rng(static_cast<std::uint32_t>(seed));
    const double pulse_duration = shape.first.back() - shape.first.front();

    const std::int64_t adc_tap_bound = stream::consecutive_tap_bound(pmt_time_step, shape.second.size());
    const double exact_reach = stream::exact_time_reach(
        pmt_time_step, adc_tap_bound, static_cast<std::int64_t>(shape.second.size()),
        time_to_index(adc_step, pmt_time_step),
        window_margin(trigger_sim.trigger_kernel.kernel.size(), waveform_samples, trigger_offset));
    impl = std::make_unique<Impl>(Impl{std::move(pmt_sim), std::move(adc_sim), std::move(trigger_sim), rng,
                                       waveform_samples, trigger_offset, offset, pulse_duration, early_handling,
                                       largest_delay(times), exact_reach});
}

Tarvex::Tarvex(const Tarvex& other) : impl(copy_state(other.impl)) {}

Tarvex& Tarvex::operator=(const Tarvex& other) {
    assign_state(impl, other.impl);
    return *this;
}

Tarvex::Tarvex(Tarvex&& other) noexcept = default;
Tarvex& Tarvex::operator=(Tarvex&& other) noexcept = default;
Tarvex::~Tarvex() = default;

Tarvex::Impl& Tarvex::state() { return held_state(impl, "Tarvex"); }

const Tarvex::Impl& Tarvex::state() const { return held_state(impl, "Tarvex"); }

double Tarvex::pulse_duration() const { return state().pulse_duration; }

const random::MersenneTwister& Tarvex::engine() const { return state().rng; }

void detail::ReadoutPaths::use_stages(Tarvex& model) { model.state().stages_only = true; }

AnalogSignal detail::ReadoutPaths::analog_signal(const Tarvex& model, const std::vector<double>& pe_times) {
    const Tarvex::Impl& s = model.state();
    checks::require_run_times(pe_times, pe_time_range(s), "pe_times");
    require_analog_memory(pe_times, s.adc_sim.pulse_shape.kernel.size());
    return {preamp_output(s.adc_sim, next_impulse_train(s, pe_times)), s.adc_sim.preamp_level(0.0),
            SparseWaveform<double>(s.pmt_sim.step)};
}

AnalogSignal analog_signal(const Tarvex& model, const std::vector<double>& pe_times) {
    return detail::ReadoutPaths::analog_signal(model, pe_times);
}

std::vector<corvane::TarvexTrigger> Tarvex::simulate(const std::vector<double>& pe_times, int channel) {
    return detail::ReadoutPaths::read_out(*this, pe_times, channel, {});
}

std::vector<corvane::TarvexTrigger> read_out(Tarvex& model, const std::vector<double>& pe_times, int channel,
                                             const ReadoutOptions& options) {
    return detail::ReadoutPaths::read_out(model, pe_times, channel, options);
}

std::vector<corvane::TarvexTrigger> detail::ReadoutPaths::read_out(Tarvex& model,
                                                                   const std::vector<double>& pe_times,
                                                                   int channel, const ReadoutOptions& options) {
    Tarvex::Impl& s = model.state();
    const double pmt_step = s.pmt_sim.step;
    checks::require_run_times(pe_times, pe_time_range(s), "pe_times");
    checks::require_memory(2.0 * static_cast<double>(s.waveform_samples),
                           "One readout window of waveform_samples");
    const std::optional<TimeSpan> span =
        options.continuous ? continuous_span(s, pe_times, options.span) : std::nullopt;
    // The ADC runs over the span as it runs over one external-trigger window.
    const std::vector<double> window_starts = span ? std::vector<double>{span->start} : std::vector<double>{};
    const double window_length = span ? span->stop - span->start : 0.0;
    std::vector<PEDraw>* const drawn = options.truth != nullptr ? &options.truth->draws : nullptr;

    std::vector<corvane::TarvexTrigger> records;
    std::vector<double> starts;
    // Within the time range every index is exact; the stream also needs windows that reach
    // back no further than the samples it keeps.
    if (s.stages_only || -static_cast<std::int64_t>(s.trigger_offset) > stream::longest_look_back) {
        SparseWaveform<double> analog = s.pmt_sim.simulate(pe_times, s.rng, drawn);
        if (span) {
            add_forced_samples(analog, window_starts, window_length, 0.5 * s.pulse_duration);
        }
        records = triggered_readout_of_stages(s, analog, channel, starts);
    } else {
        random::MersenneTwister& rng = s.rng;
        const std::vector<Impulse> impulses = stream::draw_impulses(s.pmt_sim, pe_times, rng, drawn);
        // Pulses of single PEs make at most about one window each; untouched room costs nothing.
        stream::TriggeredReadout readout(s.trigger_sim, {s.trigger_offset, s.offset, s.early_handling, channel},
                                         impulses.size() / 2 + 16);
        const auto pulse_span = static_cast<std::int64_t>(s.adc_sim.pulse_shape.kernel.size()) - 1;
        const std::vector<stream::Run> forced =
            forced_runs(window_starts, window_length, 0.5 * s.pulse_duration, pmt_step, pulse_span);
        const ADCSampling sampling = s.adc_sim.sampling(pmt_step, rng);
        stream::stream_adc_runs(s.adc_sim, stream::Coverage(impulses, pulse_span, span ? &forced : nullptr),
                                impulses, sampling, rng, readout);
        records = readout.finish();
        starts = readout.record_starts();
    }
    if (options.truth != nullptr) {
        assign_to_windows(pe_times, starts, static_cast<double>(s.waveform_samples) * s.adc_sim.adc_step,
                          *options.truth);
    }
    return records;
}

std::vector<corvane::TarvexTrigger> Tarvex::simulate_external_trigger(const std::vector<double>& pe_times,
                                                                      const std::vector<double>& trigger_times,
                                                                      double readout_window, int channel) {
    Impl& s = state();
    const double pmt_step = s.pmt_sim.step;
    const double half_pulse = 0.5 * s.pulse_duration;
    checks::require_run_times(pe_times, {s.exact_reach - s.max_delay, false, grid_reason}, "pe_times");
    checks::require_finite(readout_window, "readout_window");
    const double reach = std::fabs(readout_window) + half_pulse;
    // Times before the start pass here and fail, as they must, in the forcing below.
    const double latest_grid = s.exact_reach - reach - half_pulse;
    const double latest_record = std::nextafter(record_seconds, 0.0);
    checks::require_run_times(trigger_times,
                              latest_record < latest_grid ? checks::TimeRange{latest_record, true, record_reason}
                                                          : checks::TimeRange{latest_grid, true, grid_reason},
                              "trigger_times");
    // The forcing walks each window in steps of half a pulse, which the time range above
    // keeps far above the rounding of the times.
    const double forced_count =
        std::max(0.0, readout_window / half_pulse + 2.0) * static_cast<double>(trigger_times.size());
    // Each window holds at most one sample more than its length in ADC steps.
    const double window_samples = std::ceil(std::fabs(readout_window) / s.adc_sim.adc_step) + 1.0;
    checks::require_memory(2.0 * window_samples * static_cast<double>(trigger_times.size()),
                           "The readout windows of trigger_times");
    if (forced_count > max_forced_samples) {
        throw std::length_error(
            "readout_window is too long for the number of trigger_times: forcing the windows "
            "needs more than 2^31 analog samples");
    }

    if (s.stages_only) {
        return external_readout_of_stages(s, pe_times, trigger_times, readout_window, channel);
    }
    random::MersenneTwister& rng = s.rng;
    const std::vector<Impulse> impulses = stream::draw_impulses(s.pmt_sim, pe_times, rng);
    const auto span = static_cast<std::int64_t>(s.adc_sim.pulse_shape.kernel.size()) - 1;
    const std::vector<stream::Run> windows_covered =
        forced_runs(trigger_times, readout_window, half_pulse, pmt_step, span);

    const double adc_step = s.adc_sim.adc_step;
    std::vector<std::pair<std::int64_t, std::int64_t>> windows;
    windows.reserve(trigger_times.size());
    for (const double t : trigger_times) {
        windows.emplace_back(time_to_index(t, adc_step), time_to_index(t + readout_window, adc_step));
    }
    stream::WindowUnion union_of_windows(windows);
    const ADCSampling sampling = s.adc_sim.sampling(pmt_step, rng);
    stream::stream_adc(s.adc_sim, stream::Coverage(impulses, span, &windows_covered), impulses, sampling, rng,
                       union_of_windows);

    std::vector<corvane::TarvexTrigger> records;
    records.reserve(trigger_times.size());
    for (std::size_t n = 0; n < trigger_times.size(); ++n) {
        // A window that ends before it starts fails the call after all its draws, where
        // the stages read it out.
        if (trigger_times[n] > trigger_times[n] + readout_window) {
            throw std::invalid_argument("End time must be greater than start time.");
        }
        records.push_back(
            corvane::make_tarvex_trigger(channel, corvane::split_readout_time(trigger_times[n]),
                                         union_of_windows.window(windows[n].first, windows[n].second), s.offset));
    }
    return records;
}

double Tarvex::calibrate_delay(std::size_t num_pes, std::size_t num_sim) {
    state();
    // Only the ticks count: a burst at time 0 is read out within the first second.
    return calibrate_burst_delay(*this, num_pes, num_sim, [](const corvane::TarvexTrigger& record) {
        return static_cast<double>(record.trigger_time_ticks) * corvane::TarvexTrigger::SECONDS_PER_TICK;
    });
}

}  // namespace pelorin
