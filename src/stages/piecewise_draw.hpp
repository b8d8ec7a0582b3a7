#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace pelorin::stream {

/// The draws of a std::piecewise_linear_distribution<double>, value for value: the same
/// uniform variate, the same interval and the same arithmetic as libstdc++, with the
/// interval found through a guide table instead of a binary search over the cumulative
/// probabilities.
class PiecewiseLinearDraw {
public:
    explicit PiecewiseLinearDraw(const std::piecewise_linear_distribution<double>& distribution);

    template <typename Engine>
    double operator()(Engine& rng) const {
        const double p = std::generate_canonical<double, std::numeric_limits<double>::digits>(rng);
        if (cumulative_.empty()) {
            return p;
        }
        const std::size_t i = first_not_below(p);
        const double before = i > 0 ? cumulative_[i - 1] : 0.0;
        const double a = 0.5 * slopes_[i];
        const double b = densities_[i];
        const double cm = p - before;
        double x = boundaries_[i];
        if (a == 0) {
            x += cm / b;
        } else {
            const double d = b * b + 4.0 * a * cm;
            x += 0.5 * (std::sqrt(d) - b) / a;
        }
        return x;
    }

private:
    static constexpr std::size_t guide_size = 1024;

    /// Index of the first cumulative probability not below p (std::lower_bound's answer):
    /// the guide entry of p's bucket lies at or before it, the last probability is 1.
    std::size_t first_not_below(double p) const {
        std::size_t i = guide_[static_cast<std::size_t>(p * static_cast<double>(guide_size))];
        while (cumulative_[i] < p) {
            ++i;
        }
        return i;
    }

    std::vector<double> boundaries_;
    std::vector<double> densities_;
    std::vector<double> cumulative_;
    std::vector<double> slopes_;
    std::vector<std::uint32_t> guide_;  ///< first index whose probability is not below bucket / guide_size
};

}  // namespace pelorin::stream
