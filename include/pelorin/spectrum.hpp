#pragma once

#include <filesystem>
#include <ios>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace pelorin {

/// Two columns of a spectrum or pulse-shape file: (x values, y values), in file order.
using Spectrum = std::pair<std::vector<double>, std::vector<double>>;

/// A spectrum or pulse-shape file that cannot be read or used. Its code() is
/// std::io_errc::stream; what() is the message alone, without the error category's text
/// that std::ios_base::failure appends, since that says nothing about the file.
class FileError : public std::ios_base::failure {
public:
    explicit FileError(const std::string& message);
    const char* what() const noexcept override;

private:
    std::runtime_error message_;  // copies without allocating, as exceptions must
};

/// The abscissa step a pulse shape must be sampled at, the argument that sets it and the
/// message that opens the error for a shape sampled at another.
struct PulseStep {
    double value;
    const char* argument;
    const char* mismatch_message;
};

/// Parses whitespace-separated (x, y) pairs up to the end of the file or the first
/// text that is not a number. Throws FileError when the file cannot be opened or holds
/// fewer than two pairs, saying where reading stopped.
Spectrum read_spectrum_file(const std::filesystem::path& path);

/// Reads a time or amplitude spectrum and checks that it can form a density.
Spectrum read_density_spectrum(const std::filesystem::path& path);

/// Reads a pulse shape, checks its values and its abscissa spacing against `step`.
Spectrum read_pulse_shape(const std::filesystem::path& path, const PulseStep& step);

/// Throws FileError naming the file and the offending point unless the spectrum can
/// serve as a piecewise-linear density: finite, strictly increasing abscissae and finite,
/// non-negative densities enclosing a positive, finite area, with no interval so narrow
/// or so steep that the sampler's arithmetic overflows.
void check_density_spectrum(const Spectrum& spectrum, const std::filesystem::path& path);

/// Throws FileError naming the file and the point if a pulse shape holds a value that is
/// not finite.
void check_pulse_shape_values(const Spectrum& shape, const std::filesystem::path& path);

/// Throws FileError opening with `step.mismatch_message` if any consecutive abscissa
/// spacing differs from `step.value` by more than a thousandth of it.
void check_pulse_shape_spacing(const Spectrum& shape, const std::filesystem::path& path, const PulseStep& step);

}  // namespace pelorin
