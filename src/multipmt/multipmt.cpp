#include "pelorin/multipmt.hpp"

#include <optional>
#include <cmath>
#include <random>
#include <stdexcept>
#include <utility>

#include "pelorin/adc_sim.hpp"
#include "pelorin/pmt_sim.hpp"
#include "pelorin/spectrum.hpp"
#include "pelorin/tot_sim.hpp"
#include "stages/burst_calibration.hpp"
#include "stages/input_checks.hpp"

namespace pelorin {

struct MultiPMT::Impl {
    PiecewiseLinearPMTSim pmt_sim;
    ADCSim adc_sim;
    ToTSim tot_sim;
    std::mt19937 rng;
    double sample_delay;
    double max_delay;  ///< largest |delay| of the time spectrum, bounds PE times on the grid
};

namespace {

/// Stored ADC value at the grid index of `time`, 0 where nothing is stored (also for
/// times beyond the grid, where no sample can be).
std::uint16_t adc_value_at(const SparseWaveform<unsigned short>& adc, double time) {
    const std::optional<std::int64_t> index = checked_time_to_index(time, adc.step);
    return index ? adc.find(*index).value_or(0) : 0;
}

}  // namespace

MultiPMT::MultiPMT(const std::filesystem::path& time_spectrum,
                   const std::filesystem::path& amplitude_spectrum, double pmt_time_step,
                   double tot_step, const std::filesystem::path& tot_pulse_shape,
                   double tot_threshold, double tot_dead_time, double tot_noise, double tot_jitter,
                   double adc_step, const std::filesystem::path& adc_pulse_shape, int adc_jitter,
                   double adc_gain, double adc_offset, double adc_noise, double adc_clip,
                   double sample_delay, int seed) {
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
    Spectrum adc_shape = read_pulse_shape(adc_pulse_shape, pmt_time_step,
                                          "Pulse shape time step does not match PMT step.");
    ADCSim adc_sim(adc_step, SparseConvolution<double>{pmt_time_step, std::move(adc_shape.second)},
                   adc_jitter, adc_gain, adc_offset, adc_clip, adc_noise, adc_clip);
    Spectrum tot_shape = read_pulse_shape(tot_pulse_shape, tot_step,
                                          "ToT pulse shape time step does not match ToT step.");
    ToTSim tot_sim(tot_step, SparseConvolution<double>{tot_step, std::move(tot_shape.second)},
                   tot_threshold, tot_dead_time, tot_noise, tot_jitter);
    std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));

    impl = std::make_unique<Impl>(Impl{std::move(pmt_sim), std::move(adc_sim), std::move(tot_sim),
                                       rng, sample_delay, largest_delay(times)});
}

MultiPMT::MultiPMT(const MultiPMT& other)
    : impl(other.impl ? std::make_unique<Impl>(*other.impl) : nullptr) {}

MultiPMT& MultiPMT::operator=(const MultiPMT& other) {
    if (this != &other) {
        MultiPMT copy(other);
        std::swap(impl, copy.impl);
    }
    return *this;
}

MultiPMT::MultiPMT(MultiPMT&& other) noexcept = default;
MultiPMT& MultiPMT::operator=(MultiPMT&& other) noexcept = default;
MultiPMT::~MultiPMT() = default;

MultiPMT::Impl& MultiPMT::state() {
    if (!impl) {
        throw std::logic_error("MultiPMT: the model was moved from and holds no state");
    }
    return *impl;
}

const MultiPMT::Impl& MultiPMT::state() const { return const_cast<MultiPMT*>(this)->state(); }

const std::mt19937& MultiPMT::engine() const { return state().rng; }

std::vector<corvane::MultiPMTTrigger> MultiPMT::simulate(const std::vector<double>& pe_times,
                                                         int channel) {
    Impl& s = state();
    checks::require_grid_times(pe_times, s.max_delay, s.pmt_sim.step, "pe_times");

    // One analog waveform feeds both branches; draws go PMT, then ToT, then ADC.
    const SparseWaveform<double> analog = s.pmt_sim.simulate(pe_times, s.rng);
    const std::vector<ToTHit> hits = s.tot_sim.simulate(analog, s.rng);
    const SparseWaveform<unsigned short> adc = s.adc_sim.simulate(analog, s.rng);

    std::vector<corvane::MultiPMTTrigger> records;
    records.reserve(hits.size());
    for (const auto& [start, end] : hits) {
        const std::uint16_t sample = adc_value_at(adc, start + s.sample_delay);
        records.push_back(corvane::MultiPMTTrigger{start, channel, end - start, sample});
    }
    return records;
}

double MultiPMT::calibrate_delay(std::size_t num_pes, std::size_t num_sim) {
    state();
    return calibrate_burst_delay(*this, num_pes, num_sim,
                                 [](const corvane::MultiPMTTrigger& record) { return record.time; });
}

}  // namespace pelorin
