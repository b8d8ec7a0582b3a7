#include "stream/triggered_readout.hpp"

#include "camera/readout_window.hpp"
#include "models/input_checks.hpp"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

namespace pelorin::stream {

TriggeredReadout::TriggeredReadout(const TriggerSim& trigger, const WindowSettings& settings,
                                   std::size_t expected_records)
    : trigger_(trigger),
      settings_(settings),
      taps_(static_cast<std::int64_t>(trigger.trigger_kernel.kernel.size())),
      // The filter reads K - 1 samples back; windows open up to -trigger_offset samples
      // before the filter index that opens them.
      look_back_(std::max<std::int64_t>(taps_ - 1, -static_cast<std::int64_t>(settings.trigger_offset))),
      decision_(trigger),
      fill_(camera::trailing_fill(settings.offset)) {
    records_.reserve(expected_records);
    record_starts_.reserve(expected_records);
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
    const int* const kernel = trigger_.trigger_kernel.kernel.data();
    const std::int64_t taps = taps_;
    const std::uint16_t* const value = recent_.data() - recent_first_;
    const std::int64_t from = decision_.first_evaluated(first, last);
    filter_next_ = std::max(filter_next_, last + 1);
    for (std::int64_t n = from; n <= last; ++n) {
        unsigned sum = 0;
        for (std::int64_t k = 0; k < taps; ++k) {
            sum += static_cast<unsigned>(value[n - k]) * static_cast<unsigned>(kernel[k]);
        }
        if (decision_.passes(static_cast<int>(sum))) {
            if (const auto trigger = decision_.accept(n)) {
                open_window(*trigger);
                if (error_) {
                    return;
                }
            }
        }
    }
}

void TriggeredReadout::open_window(std::int64_t trigger_index) {
    if (trigger_.waveform_samples < 0) {  // a window that ends before it starts, refused as the stages refuse it
        fail(std::make_exception_ptr(std::invalid_argument("End time must be greater than start time.")));
        return;
    }
    const double step = trigger_.adc_step;
    const double trigger_time = static_cast<double>(trigger_index) * step;
    const double start = static_cast<double>(settings_.trigger_offset) * step + trigger_time;
    corvane::ReadoutTime time{0, 0};
    if (start < 0.0) {
        try {
            if (!camera::keep_early_window(settings_.early_handling, start)) {
                return;
            }
        } catch (...) {
            fail(std::current_exception());
            return;
        }
    } else {
        time = corvane::split_readout_time(start);
    }
    // Whole-step products are exact here, so the window is trigger_offset samples from the
    // trigger index, waveform_samples long.
    const std::int64_t window_first = trigger_index + settings_.trigger_offset;
    Window window{window_first, window_first + trigger_.waveform_samples, start, time, {}};
    window_bytes_ += 2.0 * static_cast<double>(trigger_.waveform_samples);
    checks::require_memory(window_bytes_, "The readout windows of this call");
    window.samples.resize(static_cast<std::size_t>(window.end - window.first));
    copy_into(window);
    pending_.push_back(std::move(window));
}

void TriggeredReadout::fail(std::exception_ptr error) {
    error_ = std::move(error);
    pending_.clear();
    records_.clear();
    record_starts_.clear();
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
        camera::fill_trailing_zeros(window.samples, fill_);
        records_.push_back(corvane::make_tarvex_trigger(settings_.channel, window.time, std::move(window.samples),
                                                        settings_.offset));
        record_starts_.push_back(window.start);
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

}  // namespace pelorin::stream
