#pragma once

// Readouts beyond the models' own calls: the truth of every PE (its draws and the record it
// ended in), and a continuously running ADC (and ToT discriminator), whose samples all carry
// offset and noise, so that noise alone can trigger. With neither, a readout is the model's
// `simulate`, record for record and draw for draw.

#include <cstdint>
#include <optional>
#include <vector>

#include "corvane/multipmt_trigger.hpp"
#include "corvane/tarvex_trigger.hpp"
#include "pelorin/pmt_sim.hpp"

namespace pelorin {

class Tarvex;
class MultiPMT;

/// A stretch of run time, [start, stop) in seconds.
struct TimeSpan {
    double start;
    double stop;
};

/// Where the PEs of one readout went, one entry per PE in input order.
struct PETruth {
    std::vector<PEDraw> draws;         ///< the PMT stage's delay and amplitude
    std::vector<std::int64_t> record;  ///< the record it ended in (index into the call's records), or -1
};

struct ReadoutOptions {
    /// The ADC runs over `span` (camera: as an external-trigger readout of one window over
    /// the span forces it; MultiPMT: the ToT discriminator and the ADC see a zero-valued
    /// analog sample at every grid point of the span), and the trigger sees all of it.
    bool continuous = false;
    /// Default: from the earliest PE, less the largest delay and the window margins (not
    /// before 0), to the latest, plus the largest delay, the pulses and the margins.
    std::optional<TimeSpan> span;
    PETruth* truth = nullptr;  ///< filled where given
};

/// Camera: a PE ends in a record when its delayed time (PE time + delay) lies in the
/// record's window, [start, start + waveform_samples x adc_step).
std::vector<corvane::TarvexTrigger> read_out(Tarvex& model, const std::vector<double>& pe_times, int channel,
                                             const ReadoutOptions& options);

/// MultiPMT: a PE ends in the first hit whose ToT interval, [time, time +
/// time_over_threshold], its shaped ToT pulse overlaps: from its delayed time to the end of
/// the ToT pulse shape. (The delayed time itself comes before the threshold crossing that
/// starts the hit: the pulse has to rise.)
std::vector<corvane::MultiPMTTrigger> read_out(MultiPMT& model, const std::vector<double>& pe_times, int channel,
                                               const ReadoutOptions& options);

}  // namespace pelorin
