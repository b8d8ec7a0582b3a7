#include "pelorin/multipmt.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <utility>

#include "models/analog_trace.hpp"
#include "models/burst_calibration.hpp"
#include "models/input_checks.hpp"
#include "models/model_state.hpp"
#include "models/pe_truth.hpp"
#include "models/readout_paths.hpp"
#include "pelorin/adc_sim.hpp"
#include "pelorin/pmt_sim.hpp"
#include "pelorin/spectrum.hpp"
#include "pelorin/tot_sim.hpp"
#include "stream/adc_stream.hpp"
#include "stream/exact_grid.hpp"
#include "stream/impulse_train.hpp"
#include "stream/tot_stream.hpp"

namespace pelorin {

struct MultiPMT::Impl {
    PiecewiseLinearPMTSim pmt_sim;
    ADCSim adc_sim;
    ToTSim tot_sim;
    random::MersenneTwister rng;
    double sample_delay;
    double max_delay;                ///< bound on the delays the time spectrum draws
    stream::TapOffsets tot_offsets;  ///< ToT pulse taps on the analog grid, over the exact time range
    double exact_reach;              ///< seconds from the run start over which the grid arithmetic is exact
    bool stages_only = false;        ///< read out through the stage classes alone (tests)
};

namespace {

using stream::Impulse;

// The ring buffer of the streaming ToT pass spans one ToT pulse on the analog grid.
constexpr std::int64_t max_streamed_tot_span = std::int64_t{1} << 24;

/// Stored ADC value at the grid index of `time`, 0 where nothing is stored (also for
/// times beyond the grid, where no sample can be).
std::uint16_t adc_value_at(const SparseWaveform<unsigned short>& adc, double time) {
    const std::optional<std::int64_t> index = checked_time_to_index(time, adc.step);
    return index ? adc.find(*index).value_or(0) : 0;
}

/// ADC indices read out for the hits, and their values as the stream hands them over.
class HitSamples {
public:
    HitSamples(const std::vector<ToTHit>& hits, double sample_delay, double adc_step) {
        for (const auto& [start, end] : hits) {
            const std::optional<std::int64_t> index = checked_time_to_index(start + sample_delay, adc_step);
            hit_indices_.push_back(index.value_or(std::numeric_limits<std::int64_t>::min()));
        }
        wanted_ = hit_indices_;
        std::sort(wanted_.begin(), wanted_.end());
        wanted_.erase(std::unique(wanted_.begin(), wanted_.end()), wanted_.end());
        values_.assign(wanted_.size(), 0);
    }
    bool wants(std::int64_t index) {
        while (cursor_ < wanted_.size() && wanted_[cursor_] < index) {
            ++cursor_;
        }
        return cursor_ < wanted_.size() && wanted_[cursor_] == index;
    }
    void take(std::int64_t /*index*/, std::uint16_t value) { values_[cursor_] = value; }

    /// The sample of hit n; 0 where the ADC stored none.
    std::uint16_t of_hit(std::size_t n) const {
        const auto at = std::lower_bound(wanted_.begin(), wanted_.end(), hit_indices_[n]);
        return values_[static_cast<std::size_t>(at - wanted_.begin())];
    }

private:
    std::vector<std::int64_t> hit_indices_;
    std::vector<std::int64_t> wanted_;
    std::vector<std::uint16_t> values_;
    std::size_t cursor_ = 0;
};

/// Whether the streaming ToT pass can take the model's ToT pulse: its taps must land at
/// or after their impulse within a ring buffer of modest size.
template <typename State>
bool streams(const State& s) {
    return !s.stages_only && s.tot_offsets.forward() && s.tot_offsets.max_offset() <= max_streamed_tot_span;
}

/// PE times whose impulses, and every index formed from them, the grids hold exactly.
template <typename State>
checks::TimeRange pe_time_range(const State& s) {
    return {s.exact_reach - s.max_delay, false,
            "times further out leave the range over which this model's time grid is exact"};
}

/// The readout as the stages compose it: the reference the stream must equal, and the path
/// of ToT pulses longer than the stream's ring buffer.
template <typename State>
std::vector<corvane::MultiPMTTrigger> readout_of_stages(State& s, const SparseWaveform<double>& analog,
                                                        int channel) {
    const std::vector<ToTHit> hits = s.tot_sim.simulate(analog, s.rng);
    const SparseWaveform<unsigned short> adc = s.adc_sim.simulate(analog, s.rng);
    std::vector<corvane::MultiPMTTrigger> records;
    records.reserve(hits.size());
    for (const auto& [start, end] : hits) {
        records.push_back({start, channel, end - start, adc_value_at(adc, start + s.sample_delay)});
    }
    return records;
}

/// The run of analog indices [first, last] at which a continuous readout forces zero-valued
/// samples: the caller's span, checked, or that of the PEs with the delays and the pulse,
/// dead-time and sample-delay margins; none without PEs.
template <typename State>
std::optional<stream::Run> forced_indices(const State& s, const std::vector<double>& pe_times,
                                          const std::optional<TimeSpan>& given) {
    const double step = s.pmt_sim.step;
    const double margin = static_cast<double>(s.tot_sim.pulse_shape.kernel.size()) * s.tot_sim.tdc_step +
                          static_cast<double>(s.adc_sim.pulse_shape.kernel.size()) * step +
                          std::fabs(s.sample_delay) + std::fabs(s.tot_sim.dead_time);
    TimeSpan span{};
    if (given) {
        span = checks::checked_span(*given);
    } else if (pe_times.empty()) {
        return std::nullopt;
    } else {
        const auto [earliest, latest] = std::minmax_element(pe_times.begin(), pe_times.end());
        span = {std::max(0.0, *earliest - s.max_delay - margin), *latest + s.max_delay + margin};
    }
    checks::require_run_times({span.stop + margin}, pe_time_range(s), "span stop (with the pulse margin)");
    checks::require_span_samples(span, step, step, "the ToT discriminator");
    const std::int64_t first = time_to_index(span.start, step);
    const std::int64_t end = time_to_index(span.stop, step);
    if (end <= first) {
        return std::nullopt;
    }
    return stream::Run{first, end - 1};
}

/// The stages' forcing: a zero-valued analog sample at every index of the run.
void add_zero_samples(SparseWaveform<double>& analog, stream::Run run) {
    checks::require_memory(static_cast<double>(run.last - run.first + 1) *
                               static_cast<double>(sizeof(SparseWaveform<double>::Sample)),
                           "The forced samples of the span");
    std::vector<SparseWaveform<double>::Sample> forced;
    forced.reserve(static_cast<std::size_t>(run.last - run.first + 1));
    for (std::int64_t p = run.first; p <= run.last; ++p) {
        forced.emplace_back(p, 0.0);
    }
    analog.add_samples(std::move(forced));
}

template <typename State>
std::vector<corvane::MultiPMTTrigger> hits_of(State& s, const std::vector<double>& pe_times, int channel,
                                              const std::optional<stream::Run>& forced,
                                              std::vector<PEDraw>* drawn) {
    // One impulse train feeds both branches; draws go PMT, then ToT, then ADC.
    // Within the time range every index is exact.
    if (!streams(s)) {
        SparseWaveform<double> analog = s.pmt_sim.simulate(pe_times, s.rng, drawn);
        if (forced) {
            add_zero_samples(analog, *forced);
        }
        return readout_of_stages(s, analog, channel);
    }
    random::MersenneTwister& rng = s.rng;
    const std::vector<Impulse> impulses = stream::draw_impulses(s.pmt_sim, pe_times, rng, drawn);
    const std::vector<stream::Run> tot_forced =
        forced ? stream::tap_runs(s.tot_offsets, s.tot_sim.pulse_shape.kernel.size(), *forced)
               : std::vector<stream::Run>{};
    const std::vector<ToTHit> hits =
        stream::stream_tot(s.tot_sim, impulses, s.tot_offsets, s.pmt_sim.step, rng, tot_forced);
    HitSamples samples(hits, s.sample_delay, s.adc_sim.adc_step);
    const ADCSampling sampling = s.adc_sim.sampling(s.pmt_sim.step, rng);
    const auto span = static_cast<std::int64_t>(s.adc_sim.pulse_shape.kernel.size()) - 1;
    const std::vector<stream::Run> adc_forced =
        forced ? std::vector<stream::Run>{{forced->first, forced->last + span}} : std::vector<stream::Run>{};
    stream::stream_adc(s.adc_sim, stream::Coverage(impulses, span, forced ? &adc_forced : nullptr), impulses,
                       sampling, rng, samples);

    std::vector<corvane::MultiPMTTrigger> records;
    records.reserve(hits.size());
    for (std::size_t n = 0; n < hits.size(); ++n) {
        const auto& [start, end] = hits[n];
        records.push_back({start, channel, end - start, samples.of_hit(n)});
    }
    return records;
}

}  // namespace

MultiPMT::MultiPMT(const std::filesystem::path& time_spectrum, const std::filesystem::path& amplitude_spectrum,
                   double pmt_time_step, double tot_step, const std::filesystem::path& tot_pulse_shape,
                   double tot_threshold, double tot_dead_time, double tot_noise, double tot_jitter,
                   double adc_step, const std::filesystem::path& adc_pulse_shape, int adc_jitter, double adc_gain,
                   double adc_offset, double adc_noise, double adc_clip, double sample_delay, int seed) {
    checks::require_step(pmt_time_step, "pmt_time_step");
    checks::require_step(tot_step, "tot_step");
    checks::require_step(adc_step, "adc_step");
    checks::require_adc_period(adc_step, pmt_time_step, "adc_step");
    checks::require_finite(tot_jitter, "tot_jitter");
    checks::require_finite(adc_gain, "adc_gain");
    checks::require_finite(adc_offset, "adc_offset");
    checks::require_finite(adc_noise, "adc_noise");
    checks::require_adc_clip(adc_clip, "adc_clip");
    checks::require_finite(sample_delay, "sample_delay");

    const Spectrum times = read_density_spectrum(time_spectrum);
    const Spectrum amplitudes = read_density_spectrum(amplitude_spectrum);
    PiecewiseLinearPMTSim pmt_sim = make_pmt_sim(times, amplitudes, pmt_time_step);

    // The ADC shape is read and checked before the ToT shape.
    Spectrum adc_shape = read_pulse_shape(
        adc_pulse_shape, {pmt_time_step, "pmt_time_step", "Pulse shape time step does not match PMT step."});
    ADCSim adc_sim(adc_step, SparseConvolution<double>{pmt_time_step, std::move(adc_shape.second)}, adc_jitter,
                   adc_gain, adc_offset, adc_clip, adc_noise, adc_clip);
    Spectrum tot_shape = read_pulse_shape(
        tot_pulse_shape, {tot_step, "tot_step", "ToT pulse shape time step does not match ToT step."});
    ToTSim tot_sim(tot_step, SparseConvolution<double>{tot_step, std::move(tot_shape.second)}, tot_threshold,
                   tot_dead_time, tot_noise, tot_jitter);
    // A negative seed enters as its two's-complement low 32 bits.
    random::MersenneTwister rng(static_cast<std::uint32_t>(seed));

    const std::int64_t adc_tap_bound =
        stream::consecutive_tap_bound(pmt_time_step, adc_sim.pulse_shape.kernel.size());
    stream::TapOffsets tot_offsets(tot_step, tot_sim.pulse_shape.kernel.size(), pmt_time_step, adc_tap_bound);
    const double exact_reach = stream::exact_time_reach(
        pmt_time_step, adc_tap_bound, static_cast<std::int64_t>(adc_sim.pulse_shape.kernel.size()),
        time_to_index(adc_step, pmt_time_step), 4);
    impl = std::make_unique<Impl>(Impl{std::move(pmt_sim), std::move(adc_sim), std::move(tot_sim), rng,
                                       sample_delay, largest_delay(times), std::move(tot_offsets), exact_reach});
}

MultiPMT::MultiPMT(const MultiPMT& other) : impl(copy_state(other.impl)) {}

MultiPMT& MultiPMT::operator=(const MultiPMT& other) {
    assign_state(impl, other.impl);
    return *this;
}

MultiPMT::MultiPMT(MultiPMT&& other) noexcept = default;
MultiPMT& MultiPMT::operator=(MultiPMT&& other) noexcept = default;
MultiPMT::~MultiPMT() = default;

MultiPMT::Impl& MultiPMT::state() { return held_state(impl, "MultiPMT"); }

const MultiPMT::Impl& MultiPMT::state() const { return held_state(impl, "MultiPMT"); }

const random::MersenneTwister& MultiPMT::engine() const { return state().rng; }

void detail::ReadoutPaths::use_stages(MultiPMT& model) { model.state().stages_only = true; }

AnalogSignal detail::ReadoutPaths::analog_signal(const MultiPMT& model, const std::vector<double>& pe_times) {
    const MultiPMT::Impl& s = model.state();
    checks::require_run_times(pe_times, pe_time_range(s), "pe_times");
    require_analog_memory(pe_times,
                          std::max(s.adc_sim.pulse_shape.kernel.size(), s.tot_sim.pulse_shape.kernel.size()));
    const SparseWaveform<double> impulses = next_impulse_train(s, pe_times);
    return {preamp_output(s.adc_sim, impulses), s.adc_sim.preamp_level(0.0),
            s.tot_sim.pulse_shape.convolve(impulses)};
}

AnalogSignal analog_signal(const MultiPMT& model, const std::vector<double>& pe_times) {
    return detail::ReadoutPaths::analog_signal(model, pe_times);
}

std::vector<corvane::MultiPMTTrigger> MultiPMT::simulate(const std::vector<double>& pe_times, int channel) {
    return detail::ReadoutPaths::read_out(*this, pe_times, channel, {});
}

std::vector<corvane::MultiPMTTrigger> read_out(MultiPMT& model, const std::vector<double>& pe_times, int channel,
                                               const ReadoutOptions& options) {
    return detail::ReadoutPaths::read_out(model, pe_times, channel, options);
}

std::vector<corvane::MultiPMTTrigger> detail::ReadoutPaths::read_out(MultiPMT& model,
                                                                     const std::vector<double>& pe_times,
                                                                     int channel, const ReadoutOptions& options) {
    MultiPMT::Impl& s = model.state();
    checks::require_run_times(pe_times, pe_time_range(s), "pe_times");
    std::optional<stream::Run> forced;
    if (options.continuous) {
        forced = forced_indices(s, pe_times, options.span);
    }
    std::vector<PEDraw>* const drawn = options.truth != nullptr ? &options.truth->draws : nullptr;
    std::vector<corvane::MultiPMTTrigger> records = hits_of(s, pe_times, channel, forced, drawn);
    if (options.truth != nullptr) {
        // The shaped pulse rises after its impulse: the hit starts where it crosses the threshold.
        const double pulse_length =
            static_cast<double>(s.tot_sim.pulse_shape.kernel.size() - 1) * s.tot_sim.pulse_shape.step;
        assign_to_hits(pe_times, records, pulse_length, *options.truth);
    }
    return records;
}

double MultiPMT::calibrate_delay(std::size_t num_pes, std::size_t num_sim) {
    state();
    return calibrate_burst_delay(*this, num_pes, num_sim,
                                 [](const corvane::MultiPMTTrigger& record) { return record.time; });
}

}  // namespace pelorin
