#include "models/input_checks.hpp"

#include "pelorin/sparse_waveform.hpp"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

namespace pelorin::checks {
namespace {

[[noreturn]] void fail(const char* name, const std::string& requirement, double value) {
    std::ostringstream message;
    message << name << " must be " << requirement << ", got " << value;
    throw std::invalid_argument(message.str());
}

}  // namespace

void require_step(double value, const char* name) {
    if (!(std::isfinite(value) && value > 0.0)) {
        fail(name, "a finite, positive number of seconds", value);
    }
}

void require_finite(double value, const char* name) {
    if (!std::isfinite(value)) {
        fail(name, "a finite number", value);
    }
}

void require_float_range(double value, const char* name) {
    if (!(std::fabs(value) <= static_cast<double>(std::numeric_limits<float>::max()))) {
        fail(name, "a finite number within single-precision range", value);
    }
}

void require_adc_period(double adc_step, double pmt_time_step, const char* name) {
    // The ADC period in analog steps is this quotient truncated; it must be at least 1.
    const double period = grid_quotient(adc_step, pmt_time_step);
    if (!(period >= 1.0)) {
        fail(name, "at least one pmt_time_step long", adc_step);
    }
    if (!(period < static_cast<double>(std::numeric_limits<int>::max()))) {
        fail(name, "at most 2147483646 pmt_time_steps long", adc_step);
    }
}

void require_adc_clip(double clip, const char* name) {
    const double rounded = std::round(clip);
    if (!(rounded >= static_cast<double>(std::numeric_limits<int>::min()) &&
          rounded <= static_cast<double>(std::numeric_limits<int>::max()))) {
        fail(name, "a finite number of LSB within the 32-bit integer range", clip);
    }
}

void require_nonzero(int value, const char* name) {
    if (value == 0) {
        fail(name, "non-zero", value);
    }
}

namespace {

/// Bytes of physical memory as the system reports them; infinite where it does not.
double query_physical_memory() {
#if defined(_WIN32)
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status)) {
        return static_cast<double>(status.ullTotalPhys);
    }
#elif defined(_SC_PHYS_PAGES) && defined(_SC_PAGE_SIZE)
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page_size = ::sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && page_size > 0) {
        return static_cast<double>(pages) * static_cast<double>(page_size);
    }
#endif
    return std::numeric_limits<double>::infinity();
}

}  // namespace

double physical_memory() {
    // A system call: asked once per process.
    static const double bytes = query_physical_memory();
    return bytes;
}

void require_memory(double bytes, const char* what) {
    if (!(bytes <= physical_memory())) {
        std::ostringstream message;
        message << what << " would need " << bytes / 1e9 << " GB, more than the " << physical_memory() / 1e9
                << " GB of memory of this machine";
        throw std::length_error(message.str());
    }
}

void require_run_times(const std::vector<double>& times, const TimeRange& range, const char* name) {
    for (const double time : times) {
        if (!std::isfinite(time)) {
            fail(name, "finite (times in seconds)", time);
        }
        if (time > range.latest || (time < -range.latest && !range.any_before_start)) {
            std::ostringstream requirement;
            requirement << (range.any_before_start ? "at most " : "within +-") << range.latest
                        << (range.any_before_start ? " s after the run start (" : " s of the run start (")
                        << range.reason << ")";
            fail(name, requirement.str(), time);
        }
    }
}

TimeSpan checked_span(const TimeSpan& span) {
    require_finite(span.start, "span start");
    require_finite(span.stop, "span stop");
    if (!(span.start >= 0.0)) {
        fail("span start", "at least 0 (the run start)", span.start);
    }
    if (!(span.stop >= span.start)) {
        fail("span stop", "at least the span start", span.stop);
    }
    return span;
}

void require_span_samples(const TimeSpan& span, double step, double forcing_step, const char* what) {
    constexpr double most = 2147483648.0;  // 2^31
    const double length = span.stop - span.start;
    if (!(length / step <= most) || !(length <= forcing_step * most)) {
        std::ostringstream message;
        message << "span of " << length << " s needs more than 2^31 samples of " << what
                << "; read out long runs in blocks";
        throw std::length_error(message.str());
    }
}

}  // namespace pelorin::checks
