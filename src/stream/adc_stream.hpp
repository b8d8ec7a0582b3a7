#pragma once

// The ADC stage as a stream: the samples that ADCSim::simulate would store, in ascending
// order, each with its noise draw, computed only at the analog points the ADC reads.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pelorin/adc_sim.hpp"
#include "pelorin/random/distributions.hpp"
#include "stream/impulse_train.hpp"
#include "waveform/grid.hpp"

namespace pelorin::stream {

/// ADC samples handed over at a time: their noise draws and counts stay in the first-level cache.
constexpr std::size_t adc_chunk_size = 1024;

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

/// The ADC samples that the shaped impulse train stores, in ascending order and in chunks
/// of consecutive indices, each sample with its normal draw (one per sample, also with
/// zero noise): `chunk(first_index, first_analog_index, noise, size)`; sample n of a
/// chunk reads the analog index first_analog_index + n * period. `covered` yields the
/// runs of stored shaped points (every impulse, zero-valued ones included, stores its
/// K taps). The draws of a chunk come first, in order, and the arithmetic after: a
/// sample's arithmetic then no longer waits on the draw chain of the next.
template <typename Engine, typename Chunk>
void for_each_adc_chunk(Coverage covered, ADCSampling sampling, double noise, Engine& rng, Chunk&& chunk) {
    random::NormalDistribution gaussian(0.0, noise);
    const auto [period, phase] = sampling;
    if (phase >= period) {
        return;  // no analog index has this remainder
    }
    std::array<double, adc_chunk_size> draws;
    for (Run run{}; covered.next(run);) {
        std::int64_t q = ceil_div(run.first - phase, period);
        std::int64_t j = q * period + phase;
        while (j <= run.last) {
            const std::int64_t first = q;
            const std::int64_t first_analog = j;
            std::size_t size = 0;
            for (; size < adc_chunk_size && j <= run.last; ++size, ++q, j += period) {
                draws[size] = gaussian(rng);
            }
            chunk(first, first_analog, draws.data(), size);
        }
    }
}

/// The ADC stage as a stream: for every stored sample q, if `sink.wants(q)`, the shaped
/// value at its analog index digitised into `sink.take(q, count)`. `values` are the
/// impulses whose amplitudes sum at the stored points.
template <typename Engine, typename Sink>
void stream_adc(const ADCSim& adc, Coverage covered, const std::vector<Impulse>& values, ADCSampling sampling,
                Engine& rng, Sink& sink) {
    ShapedValues shaped(adc, values);
    for_each_adc_chunk(covered, sampling, adc.noise, rng,
                       [&](std::int64_t first, std::int64_t first_analog, const double* noise, std::size_t size) {
                           for (std::size_t n = 0; n < size; ++n) {
                               const auto offset = static_cast<std::int64_t>(n);
                               if (sink.wants(first + offset)) {
                                   const double value = shaped.at(first_analog + offset * sampling.period);
                                   sink.take(first + offset, adc.digitise(value, noise[n]));
                               }
                           }
                       });
}

/// As stream_adc for a sink that takes every sample: hands over the counts of consecutive
/// ADC indices in chunks, `sink.take_run(first_index, counts, size)`.
template <typename Engine, typename Sink>
void stream_adc_runs(const ADCSim& adc, Coverage covered, const std::vector<Impulse>& values, ADCSampling sampling,
                     Engine& rng, Sink& sink) {
    ShapedValues shaped(adc, values);
    std::array<std::uint16_t, adc_chunk_size> counts;
    for_each_adc_chunk(covered, sampling, adc.noise, rng,
                       [&](std::int64_t first, std::int64_t first_analog, const double* noise, std::size_t size) {
                           for (std::size_t n = 0; n < size; ++n) {
                               const double value =
                                   shaped.at(first_analog + static_cast<std::int64_t>(n) * sampling.period);
                               counts[n] = adc.digitise(value, noise[n]);
                           }
                           sink.take_run(first, counts.data(), size);
                       });
}

}  // namespace pelorin::stream
