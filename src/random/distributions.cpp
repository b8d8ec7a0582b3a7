#include "pelorin/random/distributions.hpp"

#include <algorithm>

namespace pelorin::random {

void PiecewiseLinearDistribution::initialise() {
    const std::size_t n = boundaries_.size();
    if (n < 2 || (n == 2 && boundaries_[0] == 0.0 && boundaries_[1] == 1.0 && densities_[0] == densities_[1])) {
        boundaries_.clear();
        densities_.clear();
        return;
    }
    double area = 0.0;
    cumulative_.reserve(n - 1);
    slopes_.reserve(n - 1);
    for (std::size_t k = 0; k + 1 < n; ++k) {
        const double width = boundaries_[k + 1] - boundaries_[k];
        area += 0.5 * (densities_[k + 1] + densities_[k]) * width;
        cumulative_.push_back(area);
        slopes_.push_back((densities_[k + 1] - densities_[k]) / width);
    }
    for (std::vector<double>* values : {&densities_, &cumulative_, &slopes_}) {
        for (double& value : *values) {
            value = value / area;
        }
    }
    cumulative_.back() = 1.0;

    guide_.resize(guide_size);
    for (std::size_t bucket = 0; bucket < guide_size; ++bucket) {
        const double low = static_cast<double>(bucket) / static_cast<double>(guide_size);  // exact
        guide_[bucket] = static_cast<std::uint32_t>(std::lower_bound(cumulative_.begin(), cumulative_.end(), low) -
                                                    cumulative_.begin());
    }
}

}  // namespace pelorin::random
