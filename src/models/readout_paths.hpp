#pragma once

#include "pelorin/multipmt.hpp"
#include "pelorin/tarvex.hpp"

namespace pelorin::detail {

/// For tests: makes a model read out every later call through the stage classes, the
/// reference that the streaming readout must equal record for record and draw for draw.
struct ReadoutPaths {
    static void use_stages(Tarvex& model);
    static void use_stages(MultiPMT& model);
};

}  // namespace pelorin::detail
