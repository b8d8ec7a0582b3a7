#include "pelorin/trigger_sim.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "stages/trigger_decision.hpp"

namespace pelorin {

TriggerSim::TriggerSim(double adc_step_, int waveform_samples_, int retrigger_offset_,
                       std::vector<int> trigger_kernel_, int adc_threshold_, int trigger_norm_)
    : adc_step(adc_step_),
      waveform_samples(waveform_samples_),
      retrigger_offset(retrigger_offset_),
      kernel_center(-static_cast<int>((trigger_kernel_.size() + 1) / 2)),
      kernel_size(trigger_kernel_.size()),
      trigger_kernel{adc_step_, std::move(trigger_kernel_)},
      adc_threshold(adc_threshold_),
      trigger_norm(trigger_norm_) {}

std::vector<double> TriggerSim::simulate(const SparseWaveform<unsigned short>& adc_waveform) const {
    if (std::fabs(adc_waveform.step - adc_step) > 0.001 * adc_step) {
        throw std::runtime_error("TriggerSim::simulate: waveform time step does not match adc_step");
    }
    const SparseWaveform<int> filtered = trigger_kernel.convolve(adc_waveform);
    std::vector<double> times;
    TriggerDecision decision(*this);
    for (const auto& [index, value] : filtered.samples) {
        if (decision.first_evaluated(index, index) == index && decision.passes(value)) {
            if (const auto trigger = decision.accept(index)) {
                times.push_back(static_cast<double>(*trigger) * adc_step);
            }
        }
    }
    return times;
}

}  // namespace pelorin
