#pragma once

// The ADC stage as a stream: the samples that ADCSim::simulate would store, in ascending
// order, each with its noise draw, computed only at the analog points the ADC reads.

#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "pelorin/adc_sim.hpp"
#include "stages/impulse_train.hpp"

namespace pelorin::stream {

/// ADC period in analog steps and the sampling phase of one call; a negative jitter draws
/// the phase, as the stage does, before any noise.
struct Sampling {
    std::int64_t period;
    std::int64_t phase;
};
template <typename Engine>
Sampling draw_sampling(const ADCSim& adc, double analog_step, Engine& rng) {
    // ADC period in analog steps; the time stamp of ADC sample q is q * adc_step
    // whatever the remainder of adc_step / analog step.
    const std::int64_t period = time_to_index(adc.adc_step, analog_step);
    if (period < 1) {
        throw std::invalid_argument("ADCSim: adc_step is shorter than one analog step.");
    }
    std::int64_t phase = adc.jitter;
    if (phase < 0) {
        if (period > std::numeric_limits<int>::max()) {
            throw std::invalid_argument("ADCSim: adc_step spans too many analog steps for a random phase.");
        }
        std::uniform_int_distribution<int> random_phase(0, static_cast<int>(period - 1));
        phase = random_phase(rng);
    }
    return {period, phase};
}

/// Shaped values at analog indices visited in ascending order: the pulse-shape taps of
/// the impulses that reach each index, summed in ascending impulse order as the
/// convolution sums them. A zero-valued impulse only adds zeros, which never change a
/// digitised sample, so `values` may leave such impulses out.
class ShapedValues {
public:
    ShapedValues(const ADCSim& adc, const std::vector<Impulse>& values)
        : kernel_(adc.pulse_shape.kernel.data()),
          taps_(static_cast<std::int64_t>(adc.pulse_shape.kernel.size())),
          impulses_(values.data()),
          count_(values.size()) {}

    double at(std::int64_t j) {
        while (high_ < count_ && impulses_[high_].index <= j) {
            ++high_;
        }
        while (low_ < high_ && impulses_[low_].index <= j - taps_) {
            ++low_;
        }
        if (low_ == high_) {
            return 0.0;
        }
        double value = impulses_[low_].amplitude * kernel_[j - impulses_[low_].index];
        for (std::size_t m = low_ + 1; m < high_; ++m) {
            value = value + impulses_[m].amplitude * kernel_[j - impulses_[m].index];
        }
        return value;
    }

private:
    const double* kernel_;
    std::int64_t taps_;
    const Impulse* impulses_;
    std::size_t count_;
    std::size_t low_ = 0;
    std::size_t high_ = 0;
};

/// Streams the ADC samples of an impulse train shaped by the stage's (equal-step) pulse
/// shape. `covered` yields the runs of stored shaped points (every impulse, zero-valued
/// ones included, stores its K taps); `values` are the impulses whose amplitudes sum there.
///
/// For each ADC sample q, in ascending order, one normal draw is made; then, if
/// `sink.wants(q)`, the shaped value at analog index q * period + phase is digitised into
/// `sink.take(q, count)`.
template <typename Engine, typename Sink>
void stream_adc(const ADCSim& adc, Coverage covered, const std::vector<Impulse>& values, Sampling sampling,
                Engine& rng, Sink& sink) {
    std::normal_distribution<double> gaussian(0.0, adc.noise);
    const auto [period, phase] = sampling;
    if (phase >= period) {
        return;  // no analog index has this remainder
    }
    ShapedValues shaped(adc, values);
    for (Run run{}; covered.next(run);) {
        std::int64_t q = ceil_div(run.first - phase, period);
        for (std::int64_t j = q * period + phase; j <= run.last; ++q, j += period) {
            const double noise = gaussian(rng);
            if (sink.wants(q)) {
                sink.take(q, adc.digitise(shaped.at(j), noise));
            }
        }
    }
}

/// As stream_adc for a sink that takes every sample: hands over the counts of consecutive
/// ADC indices in chunks, `sink.take_run(first_index, counts, size)`.
template <typename Engine, typename Sink>
void stream_adc_runs(const ADCSim& adc, Coverage covered, const std::vector<Impulse>& values, Sampling sampling,
                     Engine& rng, Sink& sink) {
    std::normal_distribution<double> gaussian(0.0, adc.noise);
    const auto [period, phase] = sampling;
    if (phase >= period) {
        return;
    }
    ShapedValues shaped(adc, values);
    constexpr std::size_t chunk = 1024;
    double noise[chunk];
    std::uint16_t counts[chunk];
    for (Run run{}; covered.next(run);) {
        std::int64_t q = ceil_div(run.first - phase, period);
        std::int64_t j = q * period + phase;
        while (j <= run.last) {
            const std::int64_t first = q;
            const std::int64_t j_first = j;
            std::size_t size = 0;
            // The draws of a chunk first, in order, then the samples: the arithmetic of
            // one sample then no longer waits on the draw chain of the next.
            for (; size < chunk && j <= run.last; ++size, ++q, j += period) {
                noise[size] = gaussian(rng);
            }
            for (std::size_t n = 0; n < size; ++n) {
                counts[n] = adc.digitise(shaped.at(j_first + static_cast<std::int64_t>(n) * period), noise[n]);
            }
            sink.take_run(first, counts, size);
        }
    }
}

}  // namespace pelorin::stream
