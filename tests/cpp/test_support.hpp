#pragma once

// Helpers shared by the C++ tests: temporary input files, pulse-shape text and exception
// checks.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "pelorin/sparse_waveform.hpp"

namespace pelorin::test {

using Path = std::filesystem::path;

/// A file in the temporary directory holding `contents`; removed on destruction.
struct TempFile {
    Path path;

    explicit TempFile(const std::string& contents) {
        static std::atomic<unsigned> counter{0};
        path = std::filesystem::temp_directory_path() /
               ("pelorin-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".txt");
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

}  // namespace pelorin::test
