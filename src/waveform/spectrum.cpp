#include "pelorin/spectrum.hpp"

#include <cmath>
#include <fstream>
#include <ios>
#include <string>

namespace pelorin {
namespace {

[[noreturn]] void fail_file(const std::string& problem, const std::filesystem::path& path) {
    throw std::ios_base::failure(problem + ": " + path.native(), std::io_errc::stream);
}

}  // namespace

Spectrum read_spectrum_file(const std::filesystem::path& path) {
    std::ifstream file(path);
    if (!file.is_open()) {
        throw std::ios_base::failure("Failed to open spectrum file: " + path.native(), std::io_errc::stream);
    }
    Spectrum spectrum;
    double x = 0.0;
    double y = 0.0;
    // The line structure carries no meaning; reading stops at the first text that is
    // not a number, and an x left without its y is dropped.
    while (file >> x >> y) {
        spectrum.first.push_back(x);
        spectrum.second.push_back(y);
    }
    file.close();
    if (spectrum.first.size() < 2) {
        throw std::ios_base::failure("Spectrum file must contain at least two data points.", std::io_errc::stream);
    }
    return spectrum;
}

void check_density_spectrum(const Spectrum& spectrum, const std::filesystem::path& path) {
    const auto& [x, density] = spectrum;
    double area = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(density[i])) {
            fail_file("Spectrum file holds a value that is not finite", path);
        }
        if (density[i] < 0.0) {
            fail_file("Spectrum file holds a negative density", path);
        }
        if (i > 0) {
            if (!(x[i - 1] < x[i])) {
                fail_file("Spectrum file abscissae must be strictly increasing", path);
            }
            area += 0.5 * (x[i] - x[i - 1]) * (density[i] + density[i - 1]);
        }
    }
    if (!(area > 0.0) || !std::isfinite(area)) {
        fail_file("Spectrum file densities must enclose a positive, finite area", path);
    }
    // The sampler divides densities and slopes by the area and squares the densities;
    // where that overflows it draws NaN or infinite values.
    for (std::size_t i = 0; i + 1 < x.size(); ++i) {
        const double level = density[i] / area;
        const double slope = (density[i + 1] - density[i]) / (x[i + 1] - x[i]) / area;
        if (!std::isfinite(level * level + 2.0 * std::fabs(slope))) {
            fail_file("Spectrum file densities are too narrow or too steep to sample", path);
        }
    }
}

void check_pulse_shape_values(const Spectrum& shape, const std::filesystem::path& path) {
    for (std::size_t i = 0; i < shape.first.size(); ++i) {
        if (!std::isfinite(shape.first[i]) || !std::isfinite(shape.second[i])) {
            fail_file("Pulse shape file holds a value that is not finite", path);
        }
    }
}

void check_pulse_shape_spacing(const Spectrum& shape, double step, const char* message) {
    const auto& x = shape.first;
    for (std::size_t i = 1; i < x.size(); ++i) {
        // Strict comparison: a NaN spacing passes, a deviation of exactly 0.001 * step too.
        if (std::fabs((x[i] - x[i - 1]) - step) > step * 0.001) {
            throw std::ios_base::failure(message, std::io_errc::stream);
        }
    }
}

Spectrum read_density_spectrum(const std::filesystem::path& path) {
    Spectrum spectrum = read_spectrum_file(path);
    check_density_spectrum(spectrum, path);
    return spectrum;
}

Spectrum read_pulse_shape(const std::filesystem::path& path, double step, const char* mismatch_message) {
    Spectrum shape = read_spectrum_file(path);
    check_pulse_shape_values(shape, path);
    check_pulse_shape_spacing(shape, step, mismatch_message);
    return shape;
}

}  // namespace pelorin
