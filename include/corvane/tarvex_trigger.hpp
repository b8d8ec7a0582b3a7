#pragma once

#include <cstdint>
#include <vector>

namespace corvane {

/// One camera readout window: channel, start time as whole seconds plus 4 ns ticks,
/// baseline, integrated sum and the ADC samples.
struct TarvexTrigger {
    int channel;
    std::uint32_t trigger_time_s;      ///< whole seconds since the run start
    std::uint32_t trigger_time_ticks;  ///< ticks since the last full second
    float baseline;                    ///< configured ADC offset, LSB
    float intsum;                      ///< sum of (sample - baseline), LSB
    std::vector<std::uint16_t> waveform;

    static constexpr double SECONDS_PER_TICK = 4e-9;  ///< 250 MHz clock
};

/// Readout start time split into whole seconds and ticks.
struct ReadoutTime {
    std::uint32_t seconds;
    std::uint32_t ticks;
};

/// Splits a time by truncation, never by rounding: a tick quotient that lands just
/// below a whole number loses that tick (0.5 s gives 124999999 ticks).
ReadoutTime split_readout_time(double time);

/// Record of one readout window; the samples are taken over. Baseline and sum are
/// formed in single precision, sample by sample.
TarvexTrigger make_tarvex_trigger(int channel, ReadoutTime time, std::vector<std::uint16_t>&& samples,
                                  double offset);

}  // namespace corvane
