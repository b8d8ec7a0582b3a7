#pragma once

// The analog signals inside a readout, for looking at what the ADC and the discriminator
// are given. They are drawn from a copy of the model's engine: the model is left as it was.

#include <vector>

#include "pelorin/sparse_waveform.hpp"

namespace pelorin {

class Tarvex;
class MultiPMT;

/// The shaped signals of the model's next `simulate` call on the same PE times, on the
/// analog grid and only where the shaped pulses have content.
struct AnalogSignal {
    /// The ADC's input in LSB before noise: offset + gain x shaped pulse, limited to
    /// [0, preamp clip]. Outside the samples it is `adc_baseline`.
    SparseWaveform<double> adc;
    /// The ADC's input without signal: the offset, limited to [0, preamp clip].
    double adc_baseline;
    /// MultiPMT: the ToT discriminator's input before noise, in the normalised amplitude
    /// unit of its threshold (0 outside the samples). Empty for the camera.
    SparseWaveform<double> tot;
};

AnalogSignal analog_signal(const Tarvex& model, const std::vector<double>& pe_times);
AnalogSignal analog_signal(const MultiPMT& model, const std::vector<double>& pe_times);

}  // namespace pelorin
