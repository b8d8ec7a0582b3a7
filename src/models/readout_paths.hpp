#pragma once

#include <vector>

#include "pelorin/analog_signal.hpp"
#include "pelorin/multipmt.hpp"
#include "pelorin/readout.hpp"
#include "pelorin/tarvex.hpp"

namespace pelorin::detail {

/// The ways into a model's state from outside its class.
struct ReadoutPaths {
    /// For tests: makes a model read out every later call through the stage classes, the
    /// reference that the streaming readout must equal record for record and draw for draw.
    static void use_stages(Tarvex& model);
    static void use_stages(MultiPMT& model);

    static std::vector<corvane::TarvexTrigger> read_out(Tarvex& model, const std::vector<double>& pe_times,
                                                        int channel, const ReadoutOptions& options);
    static std::vector<corvane::MultiPMTTrigger> read_out(MultiPMT& model, const std::vector<double>& pe_times,
                                                          int channel, const ReadoutOptions& options);

    static AnalogSignal analog_signal(const Tarvex& model, const std::vector<double>& pe_times);
    static AnalogSignal analog_signal(const MultiPMT& model, const std::vector<double>& pe_times);
};

}  // namespace pelorin::detail
