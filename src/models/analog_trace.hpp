#pragma once

// The shaped signals a model's next call would digitise, drawn without touching the model.

#include <vector>

#include "models/input_checks.hpp"
#include "pelorin/adc_sim.hpp"
#include "pelorin/analog_signal.hpp"
#include "pelorin/random/mersenne_twister.hpp"

namespace pelorin {

/// The impulse train of the next call on `pe_times`: the PMT stage's draws, made from a
/// copy of the engine, so they are the ones that call will make.
template <typename State>
SparseWaveform<double> next_impulse_train(const State& s, const std::vector<double>& pe_times) {
    random::MersenneTwister rng = s.rng;
    auto pmt_sim = s.pmt_sim;
    return pmt_sim.simulate(pe_times, rng);
}

/// Refuses before drawing a convolution that could not fit in memory: every PE adds at
/// most one sample per tap of the longest pulse shape.
inline void require_analog_memory(const std::vector<double>& pe_times, std::size_t taps) {
    checks::require_memory(static_cast<double>(sizeof(SparseWaveform<double>::Sample)) *
                               static_cast<double>(pe_times.size()) * static_cast<double>(taps),
                           "The analog signal of these PE times");
}

/// The ADC's input before noise: the shaped train at the preamplifier's output.
inline SparseWaveform<double> preamp_output(const ADCSim& adc, const SparseWaveform<double>& impulses) {
    SparseWaveform<double> shaped = adc.pulse_shape.convolve(impulses);
    for (auto& sample : shaped.samples) {
        sample.second = adc.preamp_level(sample.second);
    }
    return shaped;
}

}  // namespace pelorin
