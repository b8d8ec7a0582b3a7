#pragma once

// Which record each PE of a readout ended in, from its delayed time.

#include <vector>

#include "corvane/multipmt_trigger.hpp"
#include "pelorin/readout.hpp"

namespace pelorin {

/// Camera windows [starts[k], starts[k] + length), ascending and disjoint.
void assign_to_windows(const std::vector<double>& pe_times, const std::vector<double>& starts, double length,
                       PETruth& truth);

/// MultiPMT hits: the first hit whose interval [time, time + time_over_threshold] the PE's
/// shaped pulse, [delayed time, delayed time + pulse_length], overlaps.
void assign_to_hits(const std::vector<double>& pe_times, const std::vector<corvane::MultiPMTTrigger>& hits,
                    double pulse_length, PETruth& truth);

}  // namespace pelorin
