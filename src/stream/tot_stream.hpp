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
std::vector<ToTHit> stream_tot(const ToTSim& tot, const std::vector<Impulse>& impulses, const TapOffsets& offsets,
                               double analog_step, random::MersenneTwister& rng);

}  // namespace pelorin::stream
