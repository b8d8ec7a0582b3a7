#pragma once

// Helpers shared by the C++ tests: temporary input files, pulse-shape text and exception
// checks.

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ios>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "pelorin/random/distributions.hpp"
#include "pelorin/random/mersenne_twister.hpp"
#include "pelorin/sparse_waveform.hpp"

namespace pelorin::test {

using Path = std::filesystem::path;

/// A file in the temporary directory holding `contents`; removed on destruction.
struct TempFile {
    Path path;

    explicit TempFile(const std::string& contents) {
        // Unique across the test processes that ctest may run side by side.
        static const unsigned process = std::random_device{}();
        static std::atomic<unsigned> counter{0};
        path = std::filesystem::temp_directory_path() /
               ("pelorin-" + std::to_string(process) + "-" + std::to_string(counter++) + ".txt");
        std::ofstream(path, std::ios::binary) << contents;
    }
    TempFile(const TempFile&) = delete;
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    operator const Path&() const { return path; }
    Path gone() const { return path.string() + ".gone"; }  ///< a path next to it that does not exist
};

template <typename T>
using Samples = std::vector<std::pair<std::int64_t, T>>;

/// Two-column pulse-shape text with abscissae origin + i * step; from `bumped_at` on
/// they move by 0.2 % of a step, so that one spacing is off.
inline std::string shape_text(double step, const std::vector<double>& values, double origin = 0.0,
                              std::size_t bumped_at = SIZE_MAX) {
    std::string text;
    char line[64];
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double x = origin + static_cast<double>(i) * step + (i >= bumped_at ? 0.002 * step : 0.0);
        std::snprintf(line, sizeof line, "%.17g %.17g\n", x, values[i]);
        text += line;
    }
    return text;
}

/// FNV-1a over the bytes of everything added.
struct Digest {
    std::uint64_t value = 14695981039346656037ull;

    void bytes(const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i) {
            value = (value ^ p[i]) * 1099511628211ull;
        }
    }
    template <typename T>
    void add(const T& x) {
        bytes(&x, sizeof x);
    }
    void add(const std::string& text) {
        add(text.size());
        bytes(text.data(), text.size());
    }
    std::string hex() const {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
        return text;
    }
};

/// std::uniform_real_distribution<double>(lo, hi) as the GNU library draws it.
inline double uniform_real(random::MersenneTwister& rng, double lo, double hi) {
    return random::canonical(rng) * (hi - lo) + lo;
}

/// std::shuffle as the GNU library performs it with a 32-bit engine: for ranges whose
/// square fits in 32 bits, positions for two successive elements from one draw.
template <typename T>
void shuffle(std::vector<T>& values, random::MersenneTwister& rng) {
    const std::uint64_t size = values.size();
    if (size == 0) {
        return;
    }
    if (0xffffffffu / size >= size) {
        std::size_t i = 1;
        if (size % 2 == 0) {
            std::swap(values[i++], values[random::below(rng, 2)]);
        }
        while (i != size) {
            const std::uint64_t range = i + 1;
            const std::uint64_t both = random::below(rng, range * (range + 1));
            std::swap(values[i++], values[both / (range + 1)]);
            std::swap(values[i++], values[both % (range + 1)]);
        }
        return;
    }
    for (std::size_t i = 1; i != size; ++i) {
        std::swap(values[i], values[random::below(rng, i + 1)]);
    }
}

/// Whether `call` throws an `Exception` whose what() holds `part`.
template <typename Exception, typename Call>
testing::AssertionResult throws_with(Call&& call, const std::string& part) {
    try {
        call();
    } catch (const Exception& e) {
        if (std::string(e.what()).find(part) != std::string::npos) {
            return testing::AssertionSuccess();
        }
        return testing::AssertionFailure() << "message \"" << e.what() << '"';
    }
    return testing::AssertionFailure() << "nothing thrown";
}

/// what() of the std::ios_base::failure that `call` throws, "" if it throws none; a file
/// error must keep the code C++ callers test for.
template <typename Call>
std::string failure_message(Call&& call) {
    try {
        call();
    } catch (const std::ios_base::failure& e) {
        EXPECT_EQ(e.code(), std::io_errc::stream) << e.what();
        return e.what();
    }
    return "";
}

}  // namespace pelorin::test
