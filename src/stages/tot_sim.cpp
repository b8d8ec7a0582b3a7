#include "pelorin/tot_sim.hpp"

#include <stdexcept>
#include <utility>

#include "stages/tot_discriminator.hpp"

namespace pelorin {

ToTSim::ToTSim(double tdc_step_, SparseConvolution<double> pulse_shape_, double threshold_, double dead_time_,
               double noise_, double jitter_)
    : tdc_step(tdc_step_),
      pulse_shape(std::move(pulse_shape_)),
      threshold(threshold_),
      dead_time(dead_time_),
      noise(noise_),
      jitter(jitter_) {
    if (pulse_shape.step > tdc_step * 1.000001) {
        throw std::invalid_argument("ToTSim: TDC step is smaller than pulse shape time step.");
    }
}

std::vector<ToTHit> ToTSim::simulate(const SparseWaveform<double>& analog, random::MersenneTwister& rng) const {
    const SparseWaveform<double> shaped = pulse_shape.convolve(analog);
    ToTDiscriminator<> discriminator(*this, shaped.step, ToTDraws(*this, rng));
    for (const auto& [index, value] : shaped.samples) {
        discriminator.sample(index, value);
    }
    return discriminator.finish();
}

}  // namespace pelorin
