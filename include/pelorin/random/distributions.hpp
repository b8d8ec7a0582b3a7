#pragma once

// The distribution algorithms that the records depend on, as the GNU standard library
// (libstdc++ up to GCC 15) implements them for a 32-bit engine. Each reproduces that
// library's arithmetic operation for operation, so the same engine outputs give the same
// values whichever standard library, compiler or machine builds pelorin. Every engine
// here produces 32-bit words (min 0, max 2^32 - 1), as std::mt19937 does.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelorin::random {

template <typename Engine>
constexpr bool produces_32_bit_words = Engine::min() == 0 && Engine::max() == 0xffffffffu;

/// std::generate_canonical<double, 53>: two outputs, (first + second * 2^32) / 2^64, the
/// rare result 1.0 replaced by the largest double below 1.
template <typename Engine>
double canonical(Engine& rng) {
    static_assert(produces_32_bit_words<Engine>);
    auto sum = static_cast<double>(rng());
    sum += static_cast<double>(rng()) * 4294967296.0;
    const double value = sum / 18446744073709551616.0;  // exact: a power of two
    return value >= 1.0 ? 0x1.fffffffffffffp-1 : value;
}

/// A value in [0, extent), extent in [1, 2^32], as std::uniform_int_distribution draws
/// its offset from the lower bound: Lemire's multiply-shift, an output times the extent,
/// rejecting low halves below 2^32 mod extent; the full 32-bit range takes the output as is.
template <typename Engine>
std::uint32_t below(Engine& rng, std::uint64_t extent) {
    static_assert(produces_32_bit_words<Engine>);
    if (extent > 0xffffffffu) {
        return static_cast<std::uint32_t>(rng());
    }
    const auto range = static_cast<std::uint32_t>(extent);
    std::uint64_t product = std::uint64_t{rng()} * range;
    auto low = static_cast<std::uint32_t>(product);
    if (low < range) {
        const std::uint32_t threshold = (0u - range) % range;
        while (low < threshold) {
            product = std::uint64_t{rng()} * range;
            low = static_cast<std::uint32_t>(product);
        }
    }
    return static_cast<std::uint32_t>(product >> 32);
}

/// std::uniform_int_distribution<int> over [a, b], a <= b: a + below(b - a + 1).
class UniformIntDistribution {
public:
    UniformIntDistribution(int a, int b) : a_(a), b_(b) {}

    template <typename Engine>
    int operator()(Engine& rng) const {
        const std::uint64_t extent =
            std::uint64_t{static_cast<std::uint32_t>(b_) - static_cast<std::uint32_t>(a_)} + 1;
        return static_cast<int>(below(rng, extent) + static_cast<std::uint32_t>(a_));
    }

private:
    int a_;
    int b_;
};

/// std::normal_distribution<double> by Marsaglia's polar method: pairs (x, y) = 2 u - 1
/// of canonical u until 0 < r2 = x^2 + y^2 <= 1; of the pair x and y scaled by
/// sqrt(-2 log(r2) / r2), y is returned and x kept for the next draw of the same object.
class NormalDistribution {
public:
    explicit NormalDistribution(double mean = 0.0, double stddev = 1.0) : mean_(mean), stddev_(stddev) {}

    template <typename Engine>
    double operator()(Engine& rng) {
        double value;
        if (spare_available_) {
            spare_available_ = false;
            value = spare_;
        } else {
            double x = 0.0;
            double y = 0.0;
            double r2 = 0.0;
            do {
                x = 2.0 * canonical(rng) - 1.0;
                y = 2.0 * canonical(rng) - 1.0;
                r2 = x * x + y * y;
            } while (r2 > 1.0 || r2 == 0.0);
            const double scale = std::sqrt(-2.0 * std::log(r2) / r2);
            spare_ = x * scale;
            spare_available_ = true;
            value = y * scale;
        }
        return value * stddev_ + mean_;
    }

private:
    double mean_;
    double stddev_;
    double spare_ = 0.0;
    bool spare_available_ = false;
};

/// std::piecewise_linear_distribution<double> from interval boundaries and the densities
/// at them. Densities, cumulative probabilities and slopes are normalised by the area
/// summed interval by interval, the last cumulative probability set to 1; a draw takes
/// canonical p, the first interval i whose cumulative probability is not below p, and
/// inverts the interval's quadratic: x_i + cm / b for a flat interval, else
/// x_i + 0.5 (sqrt(b^2 + 4 a cm) - b) / a, with a = slope_i / 2, b = density_i and
/// cm = p - cumulative_{i-1}. The interval is found through a guide table instead of a
/// binary search, with the same answer.
class PiecewiseLinearDistribution {
public:
    /// Boundaries [first, last), increasing, with a density for each; fewer than two
    /// boundaries (or the unit interval with equal densities) draw canonical p itself.
    template <typename BoundaryIt, typename DensityIt>
    PiecewiseLinearDistribution(BoundaryIt first, BoundaryIt last, DensityIt densities) {
        for (; first != last; ++first, ++densities) {
            boundaries_.push_back(static_cast<double>(*first));
            densities_.push_back(static_cast<double>(*densities));
        }
        initialise();
    }

    template <typename Engine>
    double operator()(Engine& rng) const {
        const double p = canonical(rng);
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

    void initialise();

    /// Index of the first cumulative probability not below p (std::lower_bound's answer):
    /// the guide entry of p's bucket lies at or before it, and the last probability is 1.
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

}  // namespace pelorin::random
