// Builds the camera model from the example data, reads out three PEs and prints
// the records; exits non-zero when no record comes out.
#include <cstdio>
#include <filesystem>
#include <vector>

#include <pelorin/tarvex.hpp>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s EXAMPLE_DATA_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path data = argv[1];
    pelorin::Tarvex camera(data / "time_spectrum.txt", data / "amplitude_spectrum.txt",
                           /*pmt_time_step=*/1e-9, /*adc_step=*/4e-9, data / "pulse_shape.txt",
                           /*jitter=*/-1, /*gain=*/40.0, /*offset=*/50.0, /*preamp_clip=*/4095.0,
                           /*noise=*/1.5, /*clip=*/4095.0, /*waveform_samples=*/32,
                           /*retrigger_offset=*/8, /*trigger_kernel=*/{1, 1, 1},
                           /*adc_threshold=*/170, /*trigger_norm=*/1, /*trigger_offset=*/-8,
                           /*seed=*/1, pelorin::Tarvex::EarlyHandling::IGNORE);

    const std::vector<corvane::TarvexTrigger> records = camera.simulate({1.0e-6, 1.2e-6, 5.0e-6}, 7);
    for (const corvane::TarvexTrigger& record : records) {
        std::printf("channel %d: %u s + %u ticks, baseline %.1f LSB, intsum %.1f LSB, %zu samples\n",
                    record.channel, record.trigger_time_s, record.trigger_time_ticks,
                    static_cast<double>(record.baseline), static_cast<double>(record.intsum),
                    record.waveform.size());
    }
    return records.empty() ? 1 : 0;
}
