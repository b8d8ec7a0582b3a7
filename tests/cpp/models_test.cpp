// What the seeded digests cannot pin: which file a failed construction names, the
// pulse-spacing tolerance, the times and windows a call refuses, and windows reaching
// far back or ToT pulses longer than the stream keeps, which leave it.

#include <algorithm>

#include "models/input_checks.hpp"
#include "models/pe_truth.hpp"
#include "pelorin/multipmt.hpp"
#include "pelorin/random/distributions.hpp"
#include "pelorin/tarvex.hpp"
#include "test_support.hpp"

namespace {

using pelorin::Tarvex;
using namespace pelorin::test;

// Delays of 10 to 10.5 ns; the 1 ns pulse peaks near 200 LSB above the 100.7 offset.
struct Camera {
    std::string time_spectrum = "1e-8 1\n1.05e-8 1\n";
    std::string pulse_shape = shape_text(1e-9, {0.5, 1, 1, 1, 1, 1, 1, 1, 0.5, 0.2, 0.1, 0.05});
    double pmt_time_step = 1e-9, adc_step = 4e-9;
    int waveform_samples = 8, trigger_offset = -2;

    Tarvex build_from(const Path& time, const Path& amplitude, const Path& pulse) const {
        return Tarvex(time, amplitude, pmt_time_step, adc_step, pulse, 0, 100, 100.7, 4000, 0, 4095,
                      waveform_samples, 4, {1}, 50, 1, trigger_offset, 7, Tarvex::EarlyHandling::WARN);
    }
    Tarvex build() const {
        return build_from(TempFile(time_spectrum), TempFile("0.9 1\n1.1 1\n"), TempFile(pulse_shape));
    }
};

pelorin::MultiPMT module(const Path& time, const Path& amplitude, const Path& tot, const Path& adc) {
    return pelorin::MultiPMT(time, amplitude, 1e-9, 2e-9, tot, 0.6, 0, 0, 0, 4e-9, adc, 0, 100, 50, 0, 4000, 0,
                             11);
}

TEST(Models, ConstructionNamesTheFirstUnusableFileAndChecksEachPulseAgainstItsStep) {
    const std::vector<double> values{0, 0.5, 1, 1, 0.5, 0};
    const TempFile t("1e-8 1\n1.05e-8 1\n"), a("0.9 1\n1.1 1\n"), one_pair("0 1\n");
    const TempFile p(shape_text(1e-9, values)), tot(shape_text(2e-9, values));
    // Spacings 0.2 % off are refused, 0.05 % off accepted.
    const TempFile bad_p(shape_text(1e-9, values, 0.0, 3)), bad_tot(shape_text(2e-9, values, 0.0, 3));
    const TempFile near_p(shape_text(1.0005e-9, values)), near_tot(shape_text(2.001e-9, values));
    const auto missing = [](const Path& file) {
        return "Failed to open spectrum file: " + file.string() + ". No such file.";
    };
    const std::string short_file =
        "Spectrum file must contain at least two data points. " + one_pair.path.string() + " holds 2 numbers.";
    const auto pmt_spacing = [](const Path& file, const char* found) {
        return "Pulse shape time step does not match PMT step. " + file.string() + ": points " + found +
               " s apart, pmt_time_step is 1e-09 s.";
    };
    const auto tot_spacing = [](const Path& file, const char* found) {
        return "ToT pulse shape time step does not match ToT step. " + file.string() + ": points " + found +
               " s apart, tot_step is 2e-09 s.";
    };
    const std::pair<std::vector<Path>, std::string> cases[] = {
        // camera: 3 files, module: 4; "" builds
        {{t.gone(), a.gone(), p.gone()}, missing(t.gone())},
        {{t, a.gone(), p.gone()}, missing(a.gone())},
        {{t, a, p.gone()}, missing(p.gone())},
        {{one_pair, a.gone(), p.gone()}, short_file},
        {{t, a, one_pair}, short_file},
        {{t, a, bad_p}, pmt_spacing(bad_p, "3 and 4 lie 1.002e-09")},
        {{t, a, near_p}, ""},
        {{t.gone(), a.gone(), tot.gone(), p.gone()}, missing(t.gone())},
        {{t, a.gone(), tot.gone(), p.gone()}, missing(a.gone())},
        {{t, a, tot.gone(), p.gone()}, missing(p.gone())},  // the ADC pulse shape comes first
        {{t, a, tot.gone(), p}, missing(tot.gone())},
        {{t, a, bad_tot, bad_p}, pmt_spacing(bad_p, "3 and 4 lie 1.002e-09")},
        {{t, a, bad_tot, p}, tot_spacing(bad_tot, "3 and 4 lie 2.004e-09")},
        {{t, a, p, p}, tot_spacing(p, "1 and 2 lie 1e-09")},  // each shape goes with its own step
        {{t, a, tot, tot}, pmt_spacing(tot, "1 and 2 lie 2e-09")},
        {{t, a, near_tot, near_p}, ""},
    };
    for (const auto& [f, message] : cases) {
        const auto build = [&f = f] {
            f.size() == 3 ? (void)Camera{}.build_from(f[0], f[1], f[2]) : (void)module(f[0], f[1], f[2], f[3]);
        };
        EXPECT_EQ(failure_message(build), message) << "case " << &f - &cases[0].first;
    }
}

TEST(Tarvex, RefusesTimesAndWindowsItCannotReadOutExactly) {
    Camera c;
    Tarvex model = c.build();
    // A 1 ns grid stays exact to about 2^40 steps: some 1100 s from the run start.
    EXPECT_NO_THROW(model.simulate({1000.0}, 0));
    for (const double time : {1200.0, -1200.0, 8e5, double(NAN)}) {
        EXPECT_TRUE(throws_with<std::invalid_argument>(
            [&] {
                model.simulate({0.0, time}, 0);
            },
            "pe_times must be"));
    }
    EXPECT_TRUE(throws_with<std::invalid_argument>([&] { model.simulate_external_trigger({}, {1e4}, 1e-8, 0); },
                                                   "trigger_times must be at most"));
    // On a 1 s grid the 32-bit seconds of the records end first.
    Camera coarse;
    std::tie(coarse.pmt_time_step, coarse.adc_step) = std::tuple(1.0, 4.0);
    coarse.time_spectrum = "10 1\n10.5 1\n";
    coarse.pulse_shape = shape_text(1.0, {0.5, 1, 1, 0.5});
    Tarvex slow = coarse.build();
    EXPECT_NO_THROW(slow.simulate({4294967000.0}, 0));
    EXPECT_TRUE(throws_with<std::invalid_argument>([&] { slow.simulate({4294967250.0}, 0); }, "32 bits"));
    EXPECT_TRUE(throws_with<std::invalid_argument>(
        [&] { slow.simulate_external_trigger({}, {4294967296.0}, 1.0, 0); }, "32 bits"));
    // One window of 2^31 - 1 samples takes 4 GB; the call is refused where that cannot fit.
    c.waveform_samples = 2147483647;
    if (2.0 * c.waveform_samples > pelorin::checks::physical_memory()) {
        EXPECT_TRUE(throws_with<std::length_error>([&] { c.build().simulate({1e-7}, 0); }, "waveform_samples"));
    }
}

// Windows reaching 2^20 samples back are streamed, one sample further back they take the
// stages' path. Both read the same samples, whether a window reaches back to an earlier
// pulse across a gap just short of that or into a longer gap.
TEST(Tarvex, WindowsReachingFarBackReadTheSameSamplesOnBothPaths) {
    const double reach = (1 << 20) * 4e-9;
    const std::vector<double> pes{0.010, 0.010 + reach - 5e-8, 0.020, 0.030, 0.030 + 1.1 * reach};
    const auto records_with_look_back = [&](int look_back) {
        Camera c;
        c.trigger_offset = -look_back;
        c.waveform_samples = 64;
        return c.build().simulate(pes, 0);
    };
    const auto streamed = records_with_look_back(1 << 20);
    const auto staged = records_with_look_back((1 << 20) + 1);
    ASSERT_EQ(streamed.size(), pes.size());
    ASSERT_EQ(staged.size(), pes.size());
    for (std::size_t i = 0; i < pes.size(); ++i) {
        const auto& a = streamed[i].waveform;
        const auto& b = staged[i].waveform;
        EXPECT_TRUE(std::equal(a.begin(), a.end() - 1, b.begin() + 1)) << "record " << i;
    }
    // The second window holds the first pulse, some 100 LSB above the offset.
    EXPECT_GT(*std::max_element(streamed[1].waveform.begin(), streamed[1].waveform.end()), 150);
}

}  // namespace

// A ToT pulse longer than the stream's ring buffer (2^24 analog steps; here 200 taps of
// 10 us on a 0.1 ns grid) is read out by the stages: a burst makes one 2 ms hit.
TEST(MultiPMT, ToTPulsesLongerThanTheStreamsRingReadOutThroughTheStages) {
    const TempFile t("1e-8 1\n1.05e-8 1\n"), a("0.9 1\n1.1 1\n"), adc(shape_text(1e-10, {0, 1, 0.5}));
    const TempFile tot(shape_text(1e-5, std::vector<double>(200, 1.0)));
    pelorin::MultiPMT module(t, a, 1e-10, 1e-5, tot, 0.5, 0, 0, 0, 4e-9, adc, 0, 100, 50, 0, 4000, 0, 11);
    const auto hits = module.simulate({1e-6, 1e-6, 1e-6}, 2);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_NEAR(hits[0].time_over_threshold, 2e-3, 2e-5);
}

// The guided search against a scan: windows and hits of every spacing, clustered and
// spread, PE times on their edges, before the first and after the last.
TEST(Truth, EachPEFindsTheRecordAScanFinds) {
    pelorin::random::MersenneTwister rng(5);
    for (int round = 0; round < 200; ++round) {
        const auto count = static_cast<std::size_t>(pelorin::random::below(rng, 40));
        const double length = 1e-9 * static_cast<double>(1 + pelorin::random::below(rng, 30));
        std::vector<double> starts;
        std::vector<corvane::MultiPMTTrigger> hits;
        double t = 0.0;
        for (std::size_t k = 0; k < count; ++k) {
            t += length + (pelorin::random::below(rng, 3) == 0 ? 1e-3 : 1e-9) * pelorin::random::canonical(rng);
            starts.push_back(t);
            hits.push_back({t, 0, length * pelorin::random::canonical(rng), 0});
        }
        std::vector<double> pes;
        pelorin::PETruth windows, overlaps;
        for (int n = 0; n < 300; ++n) {
            const double edge = starts.empty() ? 0.0 : starts[pelorin::random::below(rng, starts.size())];
            pes.push_back(n % 3 == 0 ? edge : (t + 2e-9) * (1.2 * pelorin::random::canonical(rng) - 0.1));
            windows.draws.push_back({n % 5 == 0 ? length : 0.0, 1.0});
        }
        overlaps.draws = windows.draws;
        pelorin::assign_to_windows(pes, starts, length, windows);
        pelorin::assign_to_hits(pes, hits, 2e-9, overlaps);
        for (std::size_t n = 0; n < pes.size(); ++n) {
            const double at = pes[n] + windows.draws[n].delay;
            std::int64_t window = -1, hit = -1;
            for (std::size_t k = 0; k < count; ++k) {
                if (window < 0 && starts[k] <= at && at < starts[k] + length) {
                    window = static_cast<std::int64_t>(k);
                }
                if (hit < 0 && at <= hits[k].time + hits[k].time_over_threshold && hits[k].time <= at + 2e-9) {
                    hit = static_cast<std::int64_t>(k);
                }
            }
            ASSERT_EQ(windows.record[n], window) << "round " << round << ", PE " << n;
            ASSERT_EQ(overlaps.record[n], hit) << "round " << round << ", PE " << n;
        }
    }
}
