#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace pelorin::stream {

/// ADC samples over the union of a set of readout windows, given in any order and possibly
/// overlapping; takes the samples of an ascending stream and hands out each window.
class WindowUnion {
public:
    /// Windows as [first, end) ranges of ADC indices.
    explicit WindowUnion(std::vector<std::pair<std::int64_t, std::int64_t>> windows) {
        std::sort(windows.begin(), windows.end());
        std::size_t size = 0;
        for (const auto& [first, end] : windows) {
            if (first >= end) {
                continue;
            }
            if (!runs_.empty() && first <= runs_.back().end) {
                const std::int64_t grown = std::max(runs_.back().end, end);
                size += static_cast<std::size_t>(grown - runs_.back().end);
                runs_.back().end = grown;
            } else {
                runs_.push_back({first, end, size});
                size += static_cast<std::size_t>(end - first);
            }
        }
        samples_.assign(size, 0);
    }

    bool wants(std::int64_t index) {
        while (cursor_ < runs_.size() && runs_[cursor_].end <= index) {
            ++cursor_;
        }
        return cursor_ < runs_.size() && runs_[cursor_].first <= index;
    }
    void take(std::int64_t index, std::uint16_t value) {
        const Run& run = runs_[cursor_];
        samples_[run.offset + static_cast<std::size_t>(index - run.first)] = value;
    }

    /// The samples of one of the windows; zeros where the stream held none.
    std::vector<std::uint16_t> window(std::int64_t first, std::int64_t end) const {
        if (first >= end) {
            return {};
        }
        const auto run = std::upper_bound(runs_.begin(), runs_.end(), first,
                                          [](std::int64_t i, const Run& r) { return i < r.first; }) -
                         1;
        const auto from = samples_.begin() + static_cast<std::ptrdiff_t>(run->offset) + (first - run->first);
        return {from, from + (end - first)};
    }

private:
    struct Run {
        std::int64_t first;
        std::int64_t end;
        std::size_t offset;  ///< position of `first` in samples_
    };
    std::vector<Run> runs_;
    std::vector<std::uint16_t> samples_;
    std::size_t cursor_ = 0;
};

}  // namespace pelorin::stream
