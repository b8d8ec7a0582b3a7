#include "camera/triggered_readout.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <utility>

namespace pelorin::camera {

std::string printf_seconds(const char* prefix, double time) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%s%fs.", prefix, time);
    return buffer;
}

void fill_trailing_zeros(std::vector<std::uint16_t>& samples, double offset) {
    if (!(offset > 0.0) || samples.empty() || samples.back() != 0) {
        return;
    }
    // Low 16 bits of the offset truncated toward zero, exact for any positive offset.
    const auto fill = static_cast<std::uint16_t>(std::fmod(std::trunc(offset), 65536.0));
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

TriggeredReadout::TriggeredReadout(const TriggerSim& trigger, const WindowSettings& settings)
    : trigger_(trigger), settings_(settings), taps_(trigger.trigger_kernel.kernel.size()) {
    // The filter at index n reads the samples n - K + 1 ... n: a ring of at least K slots.
    const auto slots = std::bit_ceil(std::max<std::size_t>(taps_, 1));
    ring_mask_ = static_cast<std::int64_t>(slots) - 1;
    ring_index_.assign(slots, std::numeric_limits<std::int64_t>::min());
    ring_value_.assign(slots, 0);
}

void TriggeredReadout::take(std::int64_t index, std::uint16_t value) {
    if (have_sample_) {
        filter_through(std::min(index - 1, filter_last_));
    }
    have_sample_ = true;
    filter_next_ = index;
    filter_last_ = index + static_cast<std::int64_t>(taps_) - 1;
    ring_index_[static_cast<std::size_t>(index & ring_mask_)] = index;
    ring_value_[static_cast<std::size_t>(index & ring_mask_)] = value;

    // Windows opened from here on start at or after this index plus the trigger offset.
    const std::int64_t keep_from = index + std::min(settings_.trigger_offset, 0);
    while (history_head_ < history_.size() && history_[history_head_].index < keep_from) {
        ++history_head_;
    }
    if (history_head_ > 64 && 2 * history_head_ > history_.size()) {
        history_.erase(history_.begin(), history_.begin() + static_cast<std::ptrdiff_t>(history_head_));
        history_head_ = 0;
    }
    history_.push_back({index, value});
    for (Window& window : pending_) {
        if (window.first > index) {
            break;
        }
        if (index < window.end) {
            window.samples[static_cast<std::size_t>(index - window.first)] = value;
        }
    }
    complete_windows_before(index + 1);
}

void TriggeredReadout::filter_through(std::int64_t last_index) {
    const auto& kernel = trigger_.trigger_kernel.kernel;
    for (std::int64_t n = filter_next_; n <= last_index && !failed_; ++n) {
        // Products and sums wrap modulo 2^32, so the order of the taps does not matter.
        unsigned sum = 0;
        for (std::size_t k = 0; k < taps_; ++k) {
            const std::int64_t m = n - static_cast<std::int64_t>(k);
            const auto slot = static_cast<std::size_t>(m & ring_mask_);
            if (ring_index_[slot] == m) {
                sum += static_cast<unsigned>(ring_value_[slot]) * static_cast<unsigned>(kernel[k]);
            }
        }
        decide(n, static_cast<int>(sum));
    }
    filter_next_ = last_index + 1;
}

void TriggeredReadout::decide(std::int64_t index, int filtered) {
    const TriggerSim& t = trigger_;
    if (!started_) {
        started_ = true;
        last_ = index + (static_cast<std::int64_t>(t.kernel_center) - t.waveform_samples);
        previous_ = index;
        return;
    }
    if (index - previous_ == 1) {
        ++run_;
        // Only samples preceded by a full kernel length of gap-free samples count.
        if (run_ >= t.kernel_size) {
            const std::int64_t normalised =
                static_cast<std::int64_t>(filtered) / static_cast<std::int64_t>(t.trigger_norm);
            if (normalised > t.adc_threshold && index - last_ >= t.retrigger_offset) {
                last_ = (index - last_ >= t.waveform_samples) ? index : last_ + t.waveform_samples;
                open_window(last_);
            }
        }
    } else {
        run_ = 0;
    }
    previous_ = index;
}

void TriggeredReadout::open_window(std::int64_t trigger_index) {
    const double step = trigger_.adc_step;
    const double trigger_time = static_cast<double>(trigger_index) * step;
    const double start = static_cast<double>(settings_.trigger_offset) * step + trigger_time;
    const double end = static_cast<double>(trigger_.waveform_samples) * step + start;
    corvane::ReadoutTime time{0, 0};
    if (start < 0.0) {
        try {
            if (!keep_early_window(settings_.early_handling, start)) {
                return;
            }
        } catch (...) {
            fail(std::current_exception());
            return;
        }
    } else {
        time = corvane::split_readout_time(start);
    }
    Window window{time_to_index(start, step), time_to_index(end, step), time, {}};
    window.samples.assign(static_cast<std::size_t>(window.end - window.first), 0);
    auto from = std::lower_bound(history_.begin() + static_cast<std::ptrdiff_t>(history_head_), history_.end(),
                                 window.first, [](const Sample& s, std::int64_t i) { return s.index < i; });
    for (; from != history_.end() && from->index < window.end; ++from) {
        window.samples[static_cast<std::size_t>(from->index - window.first)] = from->value;
    }
    pending_.push_back(std::move(window));
}

void TriggeredReadout::complete_windows_before(std::int64_t end) {
    while (!pending_.empty() && pending_.front().end <= end) {
        Window& window = pending_.front();
        fill_trailing_zeros(window.samples, settings_.offset);
        records_.push_back(corvane::make_tarvex_trigger(settings_.channel, window.time, std::move(window.samples),
                                                        settings_.offset));
        pending_.pop_front();
    }
}

void TriggeredReadout::fail(std::exception_ptr error) {
    failed_ = true;
    error_ = std::move(error);
    pending_.clear();
    records_.clear();
}

std::vector<corvane::TarvexTrigger> TriggeredReadout::finish() {
    if (have_sample_) {
        filter_through(filter_last_);
    }
    if (error_) {
        std::rethrow_exception(error_);
    }
    complete_windows_before(std::numeric_limits<std::int64_t>::max());
    return std::move(records_);
}

}  // namespace pelorin::camera
