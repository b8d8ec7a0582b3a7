#include "stages/piecewise_draw.hpp"

#include <algorithm>

#include "stages/library_access.hpp"

namespace pelorin::stream {

using PiecewiseParameters = std::piecewise_linear_distribution<double>::param_type;

// The boundaries, normalised densities, cumulative probabilities and slopes that
// libstdc++ derives from a spectrum and draws with.
struct PiecewiseBoundaries {
    using type = std::vector<double> PiecewiseParameters::*;
    friend type member(PiecewiseBoundaries);
};
struct PiecewiseDensities {
    using type = std::vector<double> PiecewiseParameters::*;
    friend type member(PiecewiseDensities);
};
struct PiecewiseCumulative {
    using type = std::vector<double> PiecewiseParameters::*;
    friend type member(PiecewiseCumulative);
};
struct PiecewiseSlopes {
    using type = std::vector<double> PiecewiseParameters::*;
    friend type member(PiecewiseSlopes);
};
template struct Grant<PiecewiseBoundaries, &PiecewiseParameters::_M_int>;
template struct Grant<PiecewiseDensities, &PiecewiseParameters::_M_den>;
template struct Grant<PiecewiseCumulative, &PiecewiseParameters::_M_cp>;
template struct Grant<PiecewiseSlopes, &PiecewiseParameters::_M_m>;

PiecewiseLinearDraw::PiecewiseLinearDraw(const std::piecewise_linear_distribution<double>& distribution) {
    const PiecewiseParameters parameters = distribution.param();
    boundaries_ = parameters.*member(PiecewiseBoundaries{});
    densities_ = parameters.*member(PiecewiseDensities{});
    cumulative_ = parameters.*member(PiecewiseCumulative{});
    slopes_ = parameters.*member(PiecewiseSlopes{});
    if (cumulative_.empty()) {
        return;
    }
    guide_.resize(guide_size);
    for (std::size_t bucket = 0; bucket < guide_size; ++bucket) {
        const double low = static_cast<double>(bucket) / static_cast<double>(guide_size);  // exact
        guide_[bucket] = static_cast<std::uint32_t>(
            std::lower_bound(cumulative_.begin(), cumulative_.end(), low) - cumulative_.begin());
    }
}

}  // namespace pelorin::stream
