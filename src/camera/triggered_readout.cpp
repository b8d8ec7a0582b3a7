#include "camera/triggered_readout.hpp"

#include "stages/input_checks.hpp"

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

namespace {

/// The filter values that pass the threshold after the division by the normalisation,
/// as one bound: the quotient, truncated toward zero, is monotone in the filter value,
/// so the passing values are those at or above (positive divisor) or at or below
/// (negative divisor) a bound, found by bisection against the division itself.
std::int64_t passing_bound(int divisor, int threshold) {
    auto passes = [&](std::int64_t f) {
        return f / static_cast<std::int64_t>(divisor) > threshold;
    };
    const bool rising = divisor > 0;
    // Search [low, high] for the boundary; values of f are 32-bit.
    std::int64_t low = std::numeric_limits<int>::min(), high = std::int64_t{std::numeric_limits<int>::max()} + 1;
    if (rising) {  // least passing f, or high if none
        while (low < high) {
            const std::int64_t mid = low + (high - low) / 2;
            passes(mid) ? high = mid : low = mid + 1;
        }
        return low;
    }
    low = std::int64_t{std::numeric_limits<int>::min()} - 1;
    high = std::numeric_limits<int>::max();
    while (low < high) {  // greatest passing f, or low if none
        const std::int64_t mid = high - (high - low) / 2;
        passes(mid) ? low = mid : high = mid - 1;
    }
    return low;
}

}  // namespace

TriggeredReadout::TriggeredReadout(const TriggerSim& trigger, const WindowSettings& settings,
                                   std::size_t expected_records)
    : trigger_(trigger),
      settings_(settings),
      taps_(static_cast<std::int64_t>(trigger.trigger_kernel.kernel.size())),
      // The filter reads K - 1 samples back; windows open up to -trigger_offset samples
      // before the filter index that opens them.
      look_back_(std::max<std::int64_t>(taps_ - 1, -static_cast<std::int64_t>(settings.trigger_offset))),
      divisor_positive_(trigger.trigger_norm > 0),
      passing_(passing_bound(trigger.trigger_norm, trigger.adc_threshold)),
      fill_(trailing_fill(settings.offset)) {
    records_.reserve(expected_records);
}

void TriggeredReadout::take_run(std::int64_t first, const std::uint16_t* counts, std::size_t size) {
    if (error_ || taps_ == 0) {
        return;  // failed already, or a filter without taps, which never triggers
    }
    const std::int64_t end = first + static_cast<std::int64_t>(size);
    if (!have_samples_ || first - recent_end() > look_back_ + taps_) {
        // Nothing before this gap can reach a filter index or a window from here on.
        if (have_samples_) {
            filter(filter_next_, filter_last_);
        }
        // Windows that reach back past `first` find only the gap there, which reads 0; the
        // filter needs its K - 1 samples before.
        have_samples_ = true;
        recent_.assign(static_cast<std::size_t>(taps_ - 1), 0);
        recent_first_ = first - (taps_ - 1);
        filter_next_ = first;
    } else {
        // Filter indices that this run's samples do not reach are final now.
        filter(filter_next_, std::min(filter_last_, first - 1));
        filter_next_ = std::max(filter_next_, first);
        recent_.resize(static_cast<std::size_t>(first - recent_first_), 0);
    }
    recent_.insert(recent_.end(), counts, counts + static_cast<std::ptrdiff_t>(size));
    for (std::size_t w = pending_head_; w < pending_.size() && pending_[w].first < end; ++w) {
        copy_into(pending_[w]);
    }
    filter(filter_next_, end - 1);
    filter_last_ = end - 1 + taps_ - 1;
    complete_windows(end);
    forget_before(filter_next_ - look_back_);
}

void TriggeredReadout::forget_before(std::int64_t index) {
    const std::int64_t drop = index - recent_first_;
    // Erasing shifts what remains: do it only once the dropped part outweighs it.
    if (drop > 4096 || (drop > 64 && 2 * drop >= static_cast<std::int64_t>(recent_.size()))) {
        recent_.erase(recent_.begin(), recent_.begin() + drop);
        recent_first_ += drop;
    }
}

void TriggeredReadout::filter(std::int64_t first, std::int64_t last) {
    if (last < first) {
        return;
    }
    // Every index in [first, last] has a stored sample within K - 1 before it, so the
    // filter holds a sample there. Missing samples read 0 and add nothing; products and
    // sums wrap modulo 2^32, so the order of the taps does not matter.
    if (last >= recent_end()) {
        recent_.resize(static_cast<std::size_t>(last + 1 - recent_first_), 0);
    }
    const TriggerSim& t = trigger_;
    if (!started_) {
        started_ = true;
        last_ = first + (static_cast<std::int64_t>(t.kernel_center) - t.waveform_samples);
        previous_ = first - 2;  // the first sample starts a stretch
    }
    const int* const kernel = t.trigger_kernel.kernel.data();
    const std::int64_t taps = taps_;
    const std::uint16_t* const value = recent_.data() - recent_first_;
    const std::int64_t window = t.waveform_samples, retrigger = t.retrigger_offset, passing = passing_;
    const bool rising = divisor_positive_;
    const std::uint64_t needed_run = t.kernel_size;
    // The run counts the gap-free samples before n; the first K of a stretch never trigger.
    const std::uint64_t run_at_first = (first - previous_ == 1) ? run_ + 1 : 0;
    const std::int64_t skipped =
        run_at_first >= needed_run ? 0 : static_cast<std::int64_t>(std::min<std::uint64_t>(needed_run - run_at_first, static_cast<std::uint64_t>(last - first + 1)));
    run_ = run_at_first + static_cast<std::uint64_t>(last - first);
    previous_ = last;
    filter_next_ = std::max(filter_next_, last + 1);
    for (std::int64_t n = first + skipped; n <= last; ++n) {
        unsigned sum = 0;
        for (std::int64_t k = 0; k < taps; ++k) {
            sum += static_cast<unsigned>(value[n - k]) * static_cast<unsigned>(kernel[k]);
        }
        const auto filtered = static_cast<std::int64_t>(static_cast<int>(sum));
        if ((rising ? filtered >= passing : filtered <= passing) && n - last_ >= retrigger) {
            // A trigger inside the previous window opens the window behind it.
            last_ = (n - last_ >= window) ? n : last_ + window;
            open_window(last_);
            if (error_) {
                return;
            }
        }
    }
}

void TriggeredReadout::open_window(std::int64_t trigger_index) {
    const double step = trigger_.adc_step;
    const double trigger_time = static_cast<double>(trigger_index) * step;
    const double start = static_cast<double>(settings_.trigger_offset) * step + trigger_time;
    corvane::ReadoutTime time{0, 0};
    if (start < 0.0) {
        try {
            if (!keep_early_window(settings_.early_handling, start)) {
                return;
            }
        } catch (...) {
            error_ = std::current_exception();
            pending_.clear();
            records_.clear();
            return;
        }
    } else {
        time = corvane::split_readout_time(start);
    }
    // Whole-step products are exact here, so the window is trigger_offset samples from the
    // trigger index, waveform_samples long.
    const std::int64_t window_first = trigger_index + settings_.trigger_offset;
    Window window{window_first, window_first + trigger_.waveform_samples, time, {}};
    window_bytes_ += 2.0 * static_cast<double>(trigger_.waveform_samples);
    checks::require_memory(window_bytes_, "The readout windows of this call");
    window.samples.resize(static_cast<std::size_t>(window.end - window.first));
    copy_into(window);
    pending_.push_back(std::move(window));
}

void TriggeredReadout::copy_into(Window& window) const {
    const std::int64_t from = std::max(window.first, recent_first_);
    const std::int64_t to = std::min(window.end, recent_end());
    if (from < to) {
        std::copy(recent_.begin() + (from - recent_first_), recent_.begin() + (to - recent_first_),
                  window.samples.begin() + (from - window.first));
    }
}

void TriggeredReadout::complete_windows(std::int64_t known_end) {
    for (; pending_head_ < pending_.size() && pending_[pending_head_].end <= known_end; ++pending_head_) {
        Window& window = pending_[pending_head_];
        fill_trailing_zeros(window.samples, fill_);
        records_.push_back(corvane::make_tarvex_trigger(settings_.channel, window.time, std::move(window.samples),
                                                        settings_.offset));
    }
    if (pending_head_ == pending_.size()) {
        pending_.clear();
        pending_head_ = 0;
    }
}

std::vector<corvane::TarvexTrigger> TriggeredReadout::finish() {
    if (have_samples_ && !error_) {
        filter(filter_next_, filter_last_);
    }
    if (error_) {
        std::rethrow_exception(error_);
    }
    complete_windows(std::numeric_limits<std::int64_t>::max());
    return std::move(records_);
}

}  // namespace pelorin::camera
