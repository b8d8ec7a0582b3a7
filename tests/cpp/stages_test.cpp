// What the seeded digests pin only indirectly: the convolution against brute force for
// every tap step, the spectrum reader's pairing and refusals, and the trigger's worked
// cases down to the extremes of its integer arithmetic.

#include <type_traits>

#include "pelorin/tarvex.hpp"
#include "pelorin/trigger_sim.hpp"
#include "test_support.hpp"

namespace {

using namespace pelorin;
using namespace pelorin::test;

// Random sparse inputs around zero against brute-force sums over every (sample, tap) pair
// in that order, for tap steps on both sides of the switch between the cursor walk and
// the merge. Integer sums are formed in 64 bits and wrapped to 32 at the end.
template <typename T, typename U, typename SampleDraw, typename TapDraw>
void check_against_reference(random::MersenneTwister& engine, SampleDraw sample, TapDraw tap) {
    using Sum = std::conditional_t<std::is_same_v<T, int>, std::int64_t, double>;
    const random::UniformIntDistribution count(1, 40), gap(1, 6);
    const double steps[] = {1.0, 0.1e-9, 4e-9};
    for (const double ratio : {1.0, 0.25, 0.5, 1.0015, 2.0, 2.5}) {
        for (int round = 0; round < 75; ++round) {
            const double step = steps[round % 3];
            SparseWaveform<U> input(step);
            for (std::int64_t n = count(engine), index = -60; n > 0; --n) {
                input.samples.emplace_back(index += gap(engine), sample(engine));
            }
            SparseConvolution<T> convolution{ratio * step,
                                             std::vector<T>(static_cast<std::size_t>(count(engine) % 12 + 1))};
            std::map<std::int64_t, Sum> sums;
            for (std::size_t k = 0; k < convolution.kernel.size(); ++k) {
                convolution.kernel[k] = tap(engine);
            }
            for (const auto& [index, x] : input.samples) {
                for (std::size_t k = 0; k < convolution.kernel.size(); ++k) {
                    const double t = static_cast<double>(k) * convolution.step + static_cast<double>(index) * step;
                    sums[time_to_index(t, step)] += static_cast<Sum>(x) * convolution.kernel[k];
                }
            }
            Samples<T> expected;
            for (const auto& [index, sum] : sums) {
                expected.emplace_back(index, static_cast<T>(sum));
            }
            const auto output = convolution.convolve(input);
            ASSERT_EQ(output.samples, expected) << "ratio " << ratio << ", step " << step;
            ASSERT_EQ(output.step, step);
        }
    }
}

TEST(SparseConvolution, MatchesBruteForceForAllTapSteps) {
    random::MersenneTwister engine(2024);
    random::NormalDistribution value(0.0, 10.0);
    check_against_reference<double, double>(engine, value, value);
    const random::UniformIntDistribution adc(0, 65535), tap(-40000, 40000);  // products overflow 32 bits
    check_against_reference<int, unsigned short>(
        engine, [&](random::MersenneTwister& e) { return static_cast<unsigned short>(adc(e)); }, tap);
}

TEST(ReadSpectrum, PairsNumbersUntilUnpairedNumberOrText) {
    const std::pair<const char*, Spectrum> cases[] = {
        {"0 1\n1e-9\t0.5 2e-9\n  0\n", {{0.0, 1e-9, 2e-9}, {1.0, 0.5, 0.0}}},
        {"3 -1 2 4.5E1", {{3.0, 2.0}, {-1.0, 45.0}}},  // kept in file order, unchecked
        {"1 2 3 4 5", {{1.0, 3.0}, {2.0, 4.0}}},
        {"1 2\n3 4\nword\n5 6\n", {{1.0, 3.0}, {2.0, 4.0}}},
        {"1 2\n3 4\n5 x 7 8\n", {{1.0, 3.0}, {2.0, 4.0}}},
    };
    for (const auto& [text, spectrum] : cases) {
        EXPECT_EQ(Tarvex::read_spectrum(TempFile(text)), spectrum) << text;
    }
}

TEST(ReadSpectrum, RefusalsNameTheFileAndWhereReadingStopped) {
    // File text, message after the path.
    const std::pair<const char*, const char*> short_files[] = {
        {"", " is empty."},
        {" \n\t\n", " is empty."},
        {"1 2\n", " holds 2 numbers."},
        {"1 2 3", " holds 3 numbers."},
        {"time amplitude\n0 1\n1 2\n",
         ": reading stopped at line 1, \"time amplitude\"; the format has no header line."},
        {"0 1\n  # t/s y\r\n1 2\n", ": reading stopped at line 2, \"# t/s y\"; the format has no comments."},
        {"0,1\n1,2\n", ": reading stopped at line 1, \"0,1\"; numbers are separated by whitespace, not commas."},
        {"0 1\n\n2 1e400\n", ": reading stopped at line 3, \"2 1e400\"."},  // out of range: the stream fails
        {"0 1\nthe line 2 that holds more than forty characters\n",
         ": reading stopped at line 2, \"the line 2 that holds more than forty...\"."},
        {"\xb5s\t1\x01\n", ": reading stopped at line 1, \"?s 1?\"."},  // stays valid UTF-8
    };
    for (const auto& [text, tail] : short_files) {
        const TempFile file(text);
        EXPECT_EQ(failure_message([&] { Tarvex::read_spectrum(file); }),
                  "Spectrum file must contain at least two data points. " + file.path.string() + tail);
    }
    const std::pair<Path, std::string> unopened[] = {
        {TempFile("").gone(), "No such file."},
        {"pelorin-no-such-spectrum.txt",
         "No such file relative to the working directory " + std::filesystem::current_path().string() + "."},
    };
    // Named copies, not structured bindings: clang before 16 cannot capture those.
    for (const auto& entry : unopened) {
        const Path& path = entry.first;
        EXPECT_EQ(failure_message([&] { Tarvex::read_spectrum(path); }),
                  "Failed to open spectrum file: " + path.string() + ". " + entry.second);
    }
    const Path directory = std::filesystem::temp_directory_path();  // opens, but reads nothing
    EXPECT_EQ(failure_message([&] { Tarvex::read_spectrum(directory); }),
              "Spectrum file must contain at least two data points. " + directory.string() + " is a directory.");
}

TEST(CheckSpectrum, RefusalsNameTheFileAndTheOffendingPoints) {
    const std::tuple<Spectrum, const char*, const char*> cases[] = {
        {{{1, 2}, {1, INFINITY}}, "holds a value that is not finite", "Point 2 is (2, inf)."},
        {{{1, 3, 2}, {1, -1, 1}}, "holds a negative density", "Point 2 is (3, -1)."},
        {{{1, 3, 3}, {1, 1, 1}}, "abscissae must be strictly increasing", "Point 2 is (3, 1), point 3 is (3, 1)."},
        {{{1, 2}, {0, 0}}, "densities must enclose a positive, finite area", "The area is 0."},
        {{{0, 1e-300, 2e-300}, {0, 1e300, 0}},
         "densities are too narrow or too steep to sample",
         "Point 1 is (0, 0), point 2 is (1e-300, 1e+300)."},
    };
    for (const auto& entry : cases) {
        const Spectrum& spectrum = std::get<0>(entry);
        EXPECT_EQ(failure_message([&] { check_density_spectrum(spectrum, "s.txt"); }),
                  std::string("Spectrum file ") + std::get<1>(entry) + ": s.txt. " + std::get<2>(entry));
    }
    const Spectrum shape{{0, NAN}, {1, 1}};
    EXPECT_EQ(failure_message([&] { check_pulse_shape_values(shape, "p.txt"); }),
              "Pulse shape file holds a value that is not finite: p.txt. Point 2 is (nan, 1).");
}

TEST(TriggerSim, WorkedCasesOfWindowsThresholdAndDivision) {
    struct Case {
        std::vector<int> kernel;
        int retrigger, threshold, norm;
        std::map<std::int64_t, unsigned short> values;  // at ADC samples 0 to `last`, else 0
        std::vector<int> triggers;
        std::int64_t last = 30;
    };
    const Case cases[] = {
        // 6 and 7 lie within the retrigger offset, 9 and 20 inside a window: moved to its end.
        {{1}, 3, 5, 1, {{5, 9}, {6, 9}, {7, 9}, {9, 9}, {20, 9}}, {5, 15, 25}},
        {{1}, 3, 5, 1, {{0, 9}}, {}},           // the first sample of a stretch is never evaluated
        {{1, 0, 0, 0}, 3, 5, 1, {{3, 9}}, {}},  // nor are the first K of the filtered stretch
        {{1, 0, 0, 0}, 3, 5, 1, {{4, 9}}, {4}},
        // The last trigger starts at first - ceil(K / 2) - waveform_samples, here -13 and -12.
        {{1, 0, 0, 0, 0}, 19, 5, 1, {{5, 9}, {6, 9}}, {6}},
        {{1, 0, 0, 0}, 17, 5, 1, {{4, 9}, {5, 9}}, {5}},
        {{1}, 3, 5, 2, {{5, 11}}, {}},  // 11 / 2 = 5 is not above 5
        {{1}, 3, 5, 2, {{5, 12}}, {5}},
        {{-1}, 3, -4, 2, {{1, 7}, {2, 8}, {3, 8}}, {1}, 3},  // -7 / 2 truncates to -3
        {{INT_MIN}, 3, 5, -1, {{2, 1}}, {2}},                // INT_MIN / -1 must not trap
    };
    for (const auto& c : cases) {
        SparseWaveform<unsigned short> adc(4e-9);
        std::vector<double> expected;
        for (std::int64_t i = 0; i <= c.last; ++i) {
            adc.samples.emplace_back(i, c.values.count(i) ? c.values.at(i) : 0);
        }
        for (const int i : c.triggers) {
            expected.push_back(i * 4e-9);
        }
        const TriggerSim trigger(4e-9, 10, c.retrigger, c.kernel, c.threshold, c.norm);
        EXPECT_EQ(trigger.simulate(adc), expected) << "case " << &c - cases;
    }
}

}  // namespace
