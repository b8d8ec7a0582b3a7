#pragma once

// Helpers shared by the C++ tests: temporary input files, twin engines for counting
// random draws, and brute-force references.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "pelorin/sparse_convolution.hpp"
#include "pelorin/sparse_waveform.hpp"

namespace pelorin::test {

/// A file in the temporary directory holding `contents`; removed on destruction.
class TempFile {
public:
    explicit TempFile(std::string_view contents, std::string_view name = "data.txt") {
        static std::atomic<unsigned> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("pelorin-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                 std::string(name));
        std::ofstream out(path_, std::ios::binary);
        out << contents;
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }
    operator const std::filesystem::path&() const { return path_; }

private:
    std::filesystem::path path_;
};

/// Two-column text of (x, y) pairs, one pair per line, printed to full double precision.
inline std::string two_columns(const std::vector<double>& x, const std::vector<double>& y) {
    std::string text;
    char line[64];
    for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) {
        std::snprintf(line, sizeof line, "%.17g %.17g\n", x[i], y[i]);
        text += line;
    }
    return text;
}

/// The distribution a PMT stage builds from a spectrum of boundaries and densities.
inline std::piecewise_linear_distribution<double> piecewise_linear(const std::vector<double>& x,
                                                                  const std::vector<double>& y) {
    return {x.begin(), x.end(), y.begin()};
}

/// `n` draws of one distribution object from `engine`, in order. Passing the same
/// object to several calls keeps a paired generator's spare value between them, as
/// one object living through a whole simulation call does.
template <typename Distribution>
auto draw(std::mt19937& engine, Distribution&& distribution, std::size_t n) {
    std::vector<typename std::decay_t<Distribution>::result_type> values;
    values.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        values.push_back(distribution(engine));
    }
    return values;
}

/// Checks that `action` throws `Exception` with a what() text beginning with `prefix`.
template <typename Exception, typename Action>
void expect_throw_prefix(Action&& action, std::string_view prefix) {
    try {
        action();
        ADD_FAILURE() << "expected an exception beginning \"" << prefix << '"';
    } catch (const Exception& error) {
        EXPECT_EQ(std::string_view(error.what()).substr(0, prefix.size()), prefix) << error.what();
    }
}

/// Waveform holding exactly `samples` (ascending, unique indices).
template <typename T>
SparseWaveform<T> make_waveform(double step, std::vector<std::pair<std::int64_t, T>> samples) {
    SparseWaveform<T> waveform(step);
    waveform.samples = std::move(samples);
    return waveform;
}

/// Brute-force convolution: every (input sample, tap) pair in that order, each added at
/// the result index of its time, 32-bit integer products and sums wrapping.
template <typename T, typename U>
SparseWaveform<T> reference_convolution(const SparseConvolution<T>& convolution,
                                        const SparseWaveform<U>& input) {
    std::map<std::int64_t, T> sums;
    for (const auto& [index, x] : input.samples) {
        const double t0 = static_cast<double>(index) * input.step;
        for (std::size_t k = 0; k < convolution.kernel.size(); ++k) {
            const double t = static_cast<double>(k) * convolution.step + t0;
            const std::int64_t j = time_to_index(t, input.step);
            T v;
            if constexpr (std::is_same_v<T, int>) {
                v = static_cast<int>(static_cast<std::uint32_t>(x) *
                                     static_cast<std::uint32_t>(convolution.kernel[k]));
            } else {
                v = x * convolution.kernel[k];
            }
            if (auto [it, inserted] = sums.emplace(j, v); !inserted) {
                if constexpr (std::is_same_v<T, int>) {
                    it->second = static_cast<int>(static_cast<std::uint32_t>(it->second) +
                                                  static_cast<std::uint32_t>(v));
                } else {
                    it->second += v;
                }
            }
        }
    }
    SparseWaveform<T> result(input.step);
    result.samples.assign(sums.begin(), sums.end());
    return result;
}

}  // namespace pelorin::test
