#pragma once

#include <cstdint>
#include <vector>

#include "pelorin/sparse_convolution.hpp"
#include "pelorin/sparse_waveform.hpp"

namespace pelorin {

/// Digital camera trigger: integer filter, normalisation and threshold on the ADC samples.
struct TriggerSim {
    double adc_step;
    int waveform_samples;  ///< samples per readout window
    int retrigger_offset;  ///< minimum samples between two triggers
    int kernel_center;     ///< -ceil(K / 2)
    std::uint64_t kernel_size;
    SparseConvolution<int> trigger_kernel;
    int adc_threshold;  ///< LSB, compared strictly with the normalised filter output
    int trigger_norm;   ///< divisor of the filter output; must not be 0

    TriggerSim(double adc_step, int waveform_samples, int retrigger_offset, std::vector<int> trigger_kernel,
               int adc_threshold, int trigger_norm);

    /// Ascending trigger times in seconds, each a whole multiple of adc_step.
    std::vector<double> simulate(const SparseWaveform<unsigned short>& adc_waveform) const;
};

}  // namespace pelorin
