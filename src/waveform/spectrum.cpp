#include "pelorin/spectrum.hpp"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace pelorin {

FileError::FileError(const std::string& message)
    : std::ios_base::failure(message, std::io_errc::stream), message_(message) {}

const char* FileError::what() const noexcept { return message_.what(); }

namespace {

namespace fs = std::filesystem;

/// `value` in the shortest text that reads back as it, or rounded to `digits` significant
/// digits; the same in every locale.
std::string number_text(double value, int digits = 0) {
    std::array<char, 32> text{};
    char* const last = text.data() + text.size();
    const auto end = digits > 0 ? std::to_chars(text.data(), last, value, std::chars_format::general, digits)
                                : std::to_chars(text.data(), last, value);
    return {text.data(), end.ptr};
}

/// Throws `problem` naming the file and its points `first` to `last` (0-based) with their values.
[[noreturn]] void fail_at(const char* problem, const fs::path& path, const Spectrum& spectrum, std::size_t first,
                          std::size_t last) {
    std::string message = std::string(problem) + ": " + path.string();
    for (std::size_t i = first; i <= last; ++i) {
        message += (i == first ? ". Point " : ", point ") + std::to_string(i + 1) + " is (" +
                   number_text(spectrum.first[i]) + ", " + number_text(spectrum.second[i]) + ")";
    }
    throw FileError(message + ".");
}

/// Why `path` cannot be opened or read, as far as its status tells.
std::string unreadable_reason(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        const fs::path directory = path.is_relative() ? fs::current_path(error) : fs::path();
        return directory.empty() ? "No such file"
                                 : "No such file relative to the working directory " + directory.string();
    }
    if (fs::is_directory(status)) {
        return "It is a directory";
    }
    return error ? error.message() : "It cannot be read";
}

std::string open_failure(const fs::path& path) {
    return "Failed to open spectrum file: " + path.string() + ". " + unreadable_reason(path) + ".";
}

/// Where reading a file stops: at the first whitespace-separated word that the stream
/// cannot take whole as a number, or at the end of the file (line 0).
struct ReadStop {
    std::size_t numbers = 0;  // whole numbers before it
    std::size_t line = 0;
    std::string line_text;
    std::string word;
};

bool is_whole_number(const std::string& word) {
    std::istringstream stream(word);
    double value = 0.0;
    return stream >> value && stream.eof();
}

ReadStop find_read_stop(const fs::path& path) {
    std::ifstream file(path);
    ReadStop stop;
    std::string line;
    for (std::size_t line_number = 1; std::getline(file, line); ++line_number) {
        std::istringstream words(line);
        for (std::string word; words >> word; ++stop.numbers) {
            if (!is_whole_number(word)) {
                return {stop.numbers, line_number, line, word};
            }
        }
    }
    return stop;
}

/// A line holding a word, quoted trimmed and short. Blanks become spaces, other bytes than
/// printable ASCII '?', so that the message stays valid UTF-8 for the host.
std::string quoted_line(const std::string& line) {
    const char* const blank = " \t\n\v\f\r";
    const std::size_t first = line.find_first_not_of(blank);
    std::string text = line.substr(first, line.find_last_not_of(blank) + 1 - first);
    for (char& c : text) {
        const auto code = static_cast<unsigned char>(c);
        c = std::isspace(code) != 0 ? ' ' : code < 0x20 || code > 0x7e ? '?' : c;
    }
    return '"' + (text.size() > 40 ? text.substr(0, 37) + "..." : text) + '"';
}

/// What the word where reading stopped shows, for the mistakes the format invites.
const char* format_hint(const ReadStop& stop) {
    if (stop.word.front() == '#') {
        return "; the format has no comments";
    }
    if (stop.numbers == 0 && std::isalpha(static_cast<unsigned char>(stop.word.front())) != 0) {
        return "; the format has no header line";
    }
    if (stop.word.find(',') != std::string::npos) {
        return "; numbers are separated by whitespace, not commas";
    }
    return "";
}

/// The error for a file that gave fewer than two pairs, found by reading it again: the
/// reading itself keeps no line structure.
std::string short_file_message(const fs::path& path) {
    const std::string message = "Spectrum file must contain at least two data points. " + path.string();
    std::error_code error;
    if (fs::is_directory(path, error)) {  // opens as a stream that reads nothing
        return message + " is a directory.";
    }
    const ReadStop stop = find_read_stop(path);
    if (stop.line > 0) {
        return message + ": reading stopped at line " + std::to_string(stop.line) + ", " +
               quoted_line(stop.line_text) + format_hint(stop) + ".";
    }
    if (stop.numbers == 0) {
        return message + " is empty.";
    }
    return message + " holds " + std::to_string(stop.numbers) + (stop.numbers == 1 ? " number." : " numbers.");
}

}  // namespace

Spectrum read_spectrum_file(const std::filesystem::path& path) {
    std::ifstream file(path);
    if (!file.is_open()) {
        throw FileError(open_failure(path));
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
        throw FileError(short_file_message(path));
    }
    return spectrum;
}

void check_density_spectrum(const Spectrum& spectrum, const std::filesystem::path& path) {
    const auto& [x, density] = spectrum;
    double area = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(density[i])) {
            fail_at("Spectrum file holds a value that is not finite", path, spectrum, i, i);
        }
        if (density[i] < 0.0) {
            fail_at("Spectrum file holds a negative density", path, spectrum, i, i);
        }
        if (i > 0) {
            if (!(x[i - 1] < x[i])) {
                fail_at("Spectrum file abscissae must be strictly increasing", path, spectrum, i - 1, i);
            }
            area += 0.5 * (x[i] - x[i - 1]) * (density[i] + density[i - 1]);
        }
    }
    if (!(area > 0.0) || !std::isfinite(area)) {
        throw FileError("Spectrum file densities must enclose a positive, finite area: " + path.string() +
                        ". The area is " + number_text(area) + ".");
    }
    // The sampler divides densities and slopes by the area and squares the densities;
    // where that overflows it draws NaN or infinite values.
    for (std::size_t i = 0; i + 1 < x.size(); ++i) {
        const double level = density[i] / area;
        const double slope = (density[i + 1] - density[i]) / (x[i + 1] - x[i]) / area;
        if (!std::isfinite(level * level + 2.0 * std::fabs(slope))) {
            fail_at("Spectrum file densities are too narrow or too steep to sample", path, spectrum, i, i + 1);
        }
    }
}

void check_pulse_shape_values(const Spectrum& shape, const std::filesystem::path& path) {
    for (std::size_t i = 0; i < shape.first.size(); ++i) {
        if (!std::isfinite(shape.first[i]) || !std::isfinite(shape.second[i])) {
            fail_at("Pulse shape file holds a value that is not finite", path, shape, i, i);
        }
    }
}

void check_pulse_shape_spacing(const Spectrum& shape, const std::filesystem::path& path, const PulseStep& step) {
    const auto& x = shape.first;
    for (std::size_t i = 1; i < x.size(); ++i) {
        const double spacing = x[i] - x[i - 1];
        // Strict comparison: a NaN spacing passes, a deviation of exactly 0.001 * step too.
        if (std::fabs(spacing - step.value) > step.value * 0.001) {
            // The spacing is a difference of two abscissae: six digits show it without their rounding.
            throw FileError(std::string(step.mismatch_message) + " " + path.string() + ": points " +
                            std::to_string(i) + " and " + std::to_string(i + 1) + " lie " +
                            number_text(spacing, 6) + " s apart, " + step.argument + " is " +
                            number_text(step.value) + " s.");
        }
    }
}

Spectrum read_density_spectrum(const std::filesystem::path& path) {
    Spectrum spectrum = read_spectrum_file(path);
    check_density_spectrum(spectrum, path);
    return spectrum;
}

Spectrum read_pulse_shape(const std::filesystem::path& path, const PulseStep& step) {
    Spectrum shape = read_spectrum_file(path);
    check_pulse_shape_values(shape, path);
    check_pulse_shape_spacing(shape, path, step);
    return shape;
}

}  // namespace pelorin
