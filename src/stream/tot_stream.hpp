#pragma once

#include <vector>

#include "pelorin/random/mersenne_twister.hpp"
#include "pelorin/tot_sim.hpp"
#include "stream/exact_grid.hpp"
#include "stream/impulse_train.hpp"

namespace pelorin::stream {

/// The hits that ToTSim::simulate finds on the impulse train, with the same draws: the
/// shaped samples are formed in a ring buffer one pulse length long and handed to the
/// stage's discriminator in ascending order once no later impulse can reach them.
/// `offsets` are the ToT kernel's tap offsets on the analog grid of step `analog_step`;
/// they must be forward() for the impulse indices of the call.
/// The indices of `forced` (sorted, disjoint runs) are sampled also where no impulse reaches
/// them, as zero-valued impulses whose taps land there would make them.
std::vector<ToTHit> stream_tot(const ToTSim& tot, const std::vector<Impulse>& impulses, const TapOffsets& offsets,
                               double analog_step, random::MersenneTwister& rng,
                               const std::vector<Run>& forced = {});

/// The indices that the taps of impulses at every index of the run `impulses` land on, as
/// sorted, disjoint runs.
std::vector<Run> tap_runs(const TapOffsets& offsets, std::size_t taps, Run impulses);

}  // namespace pelorin::stream
