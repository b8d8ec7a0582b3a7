// libFuzzer target: the spectrum and pulse-shape reader, and both models built from
// the files read. An input holds up to four files separated by '#': time spectrum,
// amplitude spectrum, pulse shape and ToT pulse shape (both 1 ns samples);
// files left out are valid defaults. A file either loads or throws
// std::ios_base::failure; a model either builds or throws that or
// std::invalid_argument, and a model that builds reads out a few PEs. Anything else
// (another exception, a sanitizer report, a hang) is a finding.

#include <stdlib.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ios>
#include <stdexcept>
#include <string>
#include <string_view>

#include "pelorin/multipmt.hpp"
#include "pelorin/spectrum.hpp"
#include "pelorin/tarvex.hpp"

namespace {

namespace fs = std::filesystem;
using Files = std::array<fs::path, 4>;

/// In memory where the system offers it: on disk, writing the files dominates each run.
const fs::path& scratch_directory() {
    static const fs::path directory = [] {
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string name = (base / "pelorin-fuzz-XXXXXX").string();
        if (mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("cannot make a scratch directory");
        }
        return fs::path(name);
    }();
    return directory;
}

Files write_files(std::string_view input) {
    constexpr std::array<std::string_view, 4> defaults = {"1e-8 1\n2e-8 2\n3e-8 1\n", "0.5 0\n1 1\n1.5 0\n",
                                                          "0 0.2\n1e-9 1\n2e-9 0.5\n3e-9 0.1\n",
                                                          "0 0.3\n1e-9 1\n2e-9 0.2\n"};
    Files files;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::size_t end = input.find('#');
        const std::string_view text = input.empty() && i > 0 ? defaults[i] : input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        files[i] = scratch_directory() / ("file" + std::to_string(i));
        std::ofstream(files[i], std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    return files;
}

void read_alone(const Files& files) {
    for (const auto& file : files) {
        try {
            pelorin::read_density_spectrum(file);
        } catch (const std::ios_base::failure&) {
        }
        try {
            pelorin::read_pulse_shape(file, {1e-9, "pmt_time_step", "spacing"});
        } catch (const std::ios_base::failure&) {
        }
    }
}

void build_and_read_out(const Files& f) {
    const std::vector<double> pes = {0.0, 5e-8, 5e-8, 1e-6, 3e-6};
    try {
        pelorin::Tarvex camera(f[0], f[1], 1e-9, 4e-9, f[2], -1, 40.0, 20.0, 4095.0, 2.0, 4095.0, 16, 4, {1, 1},
                               30, 1, -4, 1, pelorin::Tarvex::EarlyHandling::ZERO);
        camera.simulate(pes, 1);
        camera.simulate_external_trigger(pes, {0.0, 2e-6}, 1e-7, 2);
    } catch (const std::ios_base::failure&) {
    } catch (const std::invalid_argument&) {
    }
    try {
        pelorin::MultiPMT module(f[0], f[1], 1e-9, 1e-9, f[3], 0.3, 4e-9, 0.02, 1e-10, 4e-9, f[2], -1, 40.0, 20.0,
                                 2.0, 4095.0, 8e-9, 1);
        module.simulate(pes, 1);
    } catch (const std::ios_base::failure&) {
    } catch (const std::invalid_argument&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Files files = write_files(std::string_view(reinterpret_cast<const char*>(data), size));
    read_alone(files);
    build_and_read_out(files);
    return 0;
}
