#pragma once

#include <cstddef>
#include <stdexcept>
#include <vector>

namespace pelorin {

/// Mean of `delay_of(record)` over the runs that give exactly one record, from
/// `num_sim` readouts of `num_pes` PEs at time 0 on channel 0. Fails when fewer than
/// half of the runs (rounded down) are valid; no run at all gives NaN.
template <typename Model, typename DelayOf>
double calibrate_burst_delay(Model& model, std::size_t num_pes, std::size_t num_sim, DelayOf delay_of) {
    const std::vector<double> burst(num_pes, 0.0);
    double sum = 0.0;
    std::size_t valid = 0;
    for (std::size_t run = 0; run < num_sim; ++run) {
        const auto records = model.simulate(burst, 0);
        if (records.size() == 1) {
            ++valid;
            sum += delay_of(records.front());
        }
    }
    if (valid < num_sim / 2) {
        throw std::runtime_error("Too many simulations did not produce a valid trigger. Calibration failed.");
    }
    return sum / static_cast<double>(valid);
}

}  // namespace pelorin
