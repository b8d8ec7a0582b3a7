#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "pelorin/sparse_waveform.hpp"

namespace pelorin {

/// Sampled impulse response applied to a sparse waveform; tap k acts k * step after a sample.
///
/// The result lies on the input's grid. At each result index the contributions are
/// summed in the order of the input samples and, within one input sample, of the taps,
/// whichever of the two walks below builds the result.
template <typename T>
struct SparseConvolution {
    double step;  ///< tap spacing in seconds, positive
    std::vector<T> kernel;

    template <typename U>
    SparseWaveform<T> convolve(const SparseWaveform<U>& input) const {
        SparseWaveform<T> result(input.step);
        if (kernel.empty() || input.samples.empty()) {
            return result;
        }
        // With taps no wider apart than the input grid, every input sample feeds a
        // gap-free run of indices and the cursor walk only adds and appends. Wider
        // taps leave gaps that later samples would fill by inserting into the middle
        // of the result; a merge of the per-sample tap sequences avoids that.
        if (step > input.step * 1.001) {
            merge_taps(input, result);
        } else {
            walk_taps(input, result);
        }
        return result;
    }

private:
    /// x * tap; the 32-bit trigger product wraps instead of overflowing.
    template <typename U>
    static T contribution(U x, T tap) {
        if constexpr (std::is_same_v<T, int>) {
            return static_cast<int>(static_cast<unsigned>(static_cast<int>(x)) * static_cast<unsigned>(tap));
        } else {
            return static_cast<T>(x * tap);
        }
    }

    std::int64_t tap_index(std::size_t tap, double sample_time, double grid_step) const {
        return time_to_index(static_cast<double>(tap) * step + sample_time, grid_step);
    }

    template <typename U>
    void walk_taps(const SparseWaveform<U>& input, SparseWaveform<T>& result) const {
        auto& out = result.samples;
        for (const auto& [index, x] : input.samples) {
            const double sample_time = static_cast<double>(index) * input.step;
            const std::int64_t first = tap_index(0, sample_time, result.step);
            auto cursor = static_cast<std::size_t>(
                std::lower_bound(out.begin(), out.end(), first,
                                 [](const auto& s, std::int64_t i) { return s.first < i; }) -
                out.begin());
            for (std::size_t k = 0; k < kernel.size(); ++k) {
                const std::int64_t j = (k == 0) ? first : tap_index(k, sample_time, result.step);
                const T v = contribution(x, kernel[k]);
                while (cursor < out.size() && out[cursor].first < j) {
                    ++cursor;
                }
                if (cursor == out.size()) {
                    out.emplace_back(j, v);
                } else if (out[cursor].first == j) {
                    out[cursor].second = accumulate_value(out[cursor].second, v);
                } else {
                    out.emplace(out.begin() + static_cast<std::ptrdiff_t>(cursor), j, v);
                }
            }
        }
    }

    struct TapCursor {
        std::int64_t index;  ///< result index of this tap
        std::size_t sample;  ///< position of the input sample
        std::size_t tap;
    };

    /// k-way merge of the tap sequences of all input samples, ordered by (index,
    /// input sample); only sequences that have started are kept in the heap.
    template <typename U>
    void merge_taps(const SparseWaveform<U>& input, SparseWaveform<T>& result) const {
        const auto& in = input.samples;
        auto sample_time = [&](std::size_t n) { return static_cast<double>(in[n].first) * input.step; };
        auto later = [](const TapCursor& a, const TapCursor& b) {
            return a.index != b.index ? a.index > b.index : a.sample > b.sample;
        };
        std::vector<TapCursor> heap;
        std::size_t next_sample = 0;
        std::int64_t next_first = tap_index(0, sample_time(0), result.step);
        auto& out = result.samples;
        while (true) {
            while (next_sample < in.size() && (heap.empty() || next_first <= heap.front().index)) {
                heap.push_back({next_first, next_sample, 0});
                std::push_heap(heap.begin(), heap.end(), later);
                if (++next_sample < in.size()) {
                    next_first = tap_index(0, sample_time(next_sample), result.step);
                }
            }
            if (heap.empty()) {
                break;
            }
            std::pop_heap(heap.begin(), heap.end(), later);
            TapCursor cursor = heap.back();
            const T v = contribution(in[cursor.sample].second, kernel[cursor.tap]);
            if (!out.empty() && out.back().first == cursor.index) {
                out.back().second = accumulate_value(out.back().second, v);
            } else {
                out.emplace_back(cursor.index, v);
            }
            if (++cursor.tap < kernel.size()) {
                cursor.index = tap_index(cursor.tap, sample_time(cursor.sample), result.step);
                heap.back() = cursor;
                std::push_heap(heap.begin(), heap.end(), later);
            } else {
                heap.pop_back();
            }
        }
    }
};

}  // namespace pelorin
