#include <gtest/gtest.h>

#include <filesystem>
#include <ios>
#include <string>
#include <vector>

#include "pelorin/tarvex.hpp"
#include "test_support.hpp"

namespace {

using pelorin::Spectrum;
using pelorin::Tarvex;
using pelorin::test::TempFile;

Spectrum read_text(const std::string& text) { return Tarvex::read_spectrum(TempFile(text)); }

// The stream failure's what() is the message followed by the error code's description.
void expect_stream_failure(const std::filesystem::path& path, const std::string& message) {
    try {
        (void)Tarvex::read_spectrum(path);
        ADD_FAILURE() << "expected std::ios_base::failure for " << path;
    } catch (const std::ios_base::failure& error) {
        EXPECT_EQ(error.code(), std::io_errc::stream);
        EXPECT_EQ(std::string(error.what()).rfind(message, 0), 0u) << error.what();
    }
}

TEST(ReadSpectrum, PairsNumbersAcrossAnyWhitespace) {
    EXPECT_EQ(read_text("0 1\n1e-9\t0.5 2e-9\n  0\n"),
              (Spectrum{{0.0, 1e-9, 2e-9}, {1.0, 0.5, 0.0}}));
    // Neither sorted nor checked: decreasing x and negative y are kept in file order.
    EXPECT_EQ(read_text("3 -1 2 4.5E1"), (Spectrum{{3.0, 2.0}, {-1.0, 45.0}}));
}

TEST(ReadSpectrum, StopsAtUnpairedNumberOrFirstText) {
    EXPECT_EQ(read_text("1 2 3 4 5"), (Spectrum{{1.0, 3.0}, {2.0, 4.0}}));
    EXPECT_EQ(read_text("1 2\n3 4\nword\n5 6\n"), (Spectrum{{1.0, 3.0}, {2.0, 4.0}}));
    EXPECT_EQ(read_text("1 2\n3 4\n5 x 7 8\n"), (Spectrum{{1.0, 3.0}, {2.0, 4.0}}));
}

TEST(ReadSpectrum, FewerThanTwoPairsFail) {
    const std::string message = "Spectrum file must contain at least two data points.";
    for (const char* text : {"", "1 2\n", "1 2 3", "time amplitude\n0 1\n1 2\n", "0,1\n1,2\n"}) {
        SCOPED_TRACE(text);
        expect_stream_failure(TempFile(text), message);
    }
}

TEST(ReadSpectrum, MissingFileNamesPath) {
    const auto missing = std::filesystem::temp_directory_path() / "pelorin-no-such-spectrum.txt";
    expect_stream_failure(missing, "Failed to open spectrum file: " + missing.native());
}

}  // namespace
