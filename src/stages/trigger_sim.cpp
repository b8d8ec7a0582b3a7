#include "pelorin/trigger_sim.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

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
    if (filtered.samples.empty()) {
        return times;
    }
    // The index arithmetic is 64-bit so that extreme window lengths cannot overflow.
    const std::int64_t first = filtered.samples.front().first;
    std::int64_t last = first + (static_cast<std::int64_t>(kernel_center) - waveform_samples);
    std::uint64_t run = 0;
    std::int64_t previous = first;
    for (const auto& [index, value] : filtered.samples) {
        if (index - previous == 1) {
            ++run;
            // Only samples preceded by a full kernel length of gap-free samples count.
            if (run >= kernel_size) {
                // 64-bit quotient: INT_MIN / -1 is defined here. Truncates toward zero.
                const std::int64_t normalised =
                    static_cast<std::int64_t>(value) / static_cast<std::int64_t>(trigger_norm);
                if (normalised > adc_threshold && index - last >= retrigger_offset) {
                    // A trigger inside the previous window opens the window behind it.
                    last = (index - last >= waveform_samples) ? index : last + waveform_samples;
                    times.push_back(static_cast<double>(last) * adc_step);
                }
            }
        } else {
            run = 0;
        }
        previous = index;
    }
    return times;
}

}  // namespace pelorin
