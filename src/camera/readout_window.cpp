#include "camera/readout_window.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>

namespace pelorin::camera {

std::string printf_seconds(const char* prefix, double time) {
    std::array<char, 512> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%s%fs.", prefix, time);
    return buffer.data();
}

std::uint16_t trailing_fill(double offset) {
    // Low 16 bits of the offset truncated toward zero, exact for any positive offset;
    // 0 (no fill) for an offset that is not positive.
    return offset > 0.0 ? static_cast<std::uint16_t>(std::fmod(std::trunc(offset), 65536.0)) : 0;
}

void fill_trailing_zeros(std::vector<std::uint16_t>& samples, std::uint16_t fill) {
    if (fill == 0) {
        return;
    }
    for (auto it = samples.rbegin(); it != samples.rend() && *it == 0; ++it) {
        *it = fill;
    }
}

bool keep_early_window(Tarvex::EarlyHandling policy, double start) {
    switch (policy) {
        case Tarvex::EarlyHandling::ZERO:
            return true;
        case Tarvex::EarlyHandling::WARN:
            std::cerr << "[Warning] Ignoring early trigger at " << start << " s." << std::endl;
            return false;
        case Tarvex::EarlyHandling::THROW:
            throw std::runtime_error(printf_seconds("Early trigger at ", start));
        case Tarvex::EarlyHandling::IGNORE:
            break;
    }
    return false;
}

}  // namespace pelorin::camera
