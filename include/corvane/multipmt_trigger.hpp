#pragma once

#include <cstdint>

namespace corvane {

/// One time-over-threshold hit of the MultiPMT module with its ADC sample.
struct MultiPMTTrigger {
    double time;  ///< hit start in seconds, multiple of the ToT step
    int channel;
    double time_over_threshold;  ///< hit end minus hit start in seconds
    std::uint16_t adc_sample;    ///< LSB; 0 where the ADC waveform stores no sample
};

}  // namespace corvane
