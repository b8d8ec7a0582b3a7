#pragma once

#include <filesystem>
#include <utility>
#include <vector>

namespace pelorin {

/// Two columns of a spectrum or pulse-shape file: (x values, y values), in file order.
using Spectrum = std::pair<std::vector<double>, std::vector<double>>;

/// Parses whitespace-separated (x, y) pairs up to the end of the file or the first
/// text that is not a number. Throws std::ios_base::failure when the file cannot be
/// opened or holds fewer than two pairs.
Spectrum read_spectrum_file(const std::filesystem::path& path);

/// Reads a time or amplitude spectrum and checks that it can form a density.
Spectrum read_density_spectrum(const std::filesystem::path& path);

/// Reads a pulse shape, checks its values and its abscissa spacing against `step`;
/// a spacing off by more than a thousandth of `step` throws `mismatch_message`.
Spectrum read_pulse_shape(const std::filesystem::path& path, double step, const char* mismatch_message);

/// Throws std::ios_base::failure naming the file unless the spectrum can serve as a
/// piecewise-linear density: finite, strictly increasing abscissae and finite,
/// non-negative densities enclosing a positive, finite area, with no interval so narrow
/// or so steep that the sampler's arithmetic overflows.
void check_density_spectrum(const Spectrum& spectrum, const std::filesystem::path& path);

/// Throws std::ios_base::failure naming the file if a pulse shape holds a value that
/// is not finite.
void check_pulse_shape_values(const Spectrum& shape, const std::filesystem::path& path);

/// Throws std::ios_base::failure with `message` if any consecutive abscissa spacing
/// differs from `step` by more than a thousandth of `step`.
void check_pulse_shape_spacing(const Spectrum& shape, double step, const char* message);

}  // namespace pelorin
