#include "module/bindings.hpp"

#include <pybind11/stl/filesystem.h>

#include "pelorin/multipmt.hpp"

namespace pelorin::bindings {
namespace {

// Unlike the other docstrings, this one ends with a line feed.
constexpr const char* init_doc = R"(Constructor for MultiPMT.

Parameters
----------
time_spectrum : Path
    Path to the time spectrum of the PMT
amplitude_spectrum : Path
    Path to the amplitude spectrum of the PMT
pmt_time_step : float
    Time step of the PMT waveform in seconds
tot_step : float
    Time step of the ToT simulation TDC in seconds
tot_pulse_shape : Path
    Path to the pulse shape of the ToT electronics
tot_threshold : float
    Threshold for ToT measurement
tot_dead_time : float
    Dead time for ToT measurement in seconds
tot_noise : float
    Standard deviation of gaussian noise for ToT
tot_jitter : float
    Standard deviation of time measurement in the ToT simulation in seconds
adc_step : float
    The time step for the ADC in seconds
adc_pulse_shape : Path
    Path to the pulse shape of the ADC electronics
adc_jitter : int
    Offset of ADC samples relative to simulation times, 0 for no jitter, -1 for random jitter
adc_gain : float
    ADC gain (scale factor of normalized amplitude) in LSB
adc_offset : float
    ADC offset in LSB
adc_noise : float
    Standard deviation of gaussian noise in LSB for ADC
adc_clip : float
    Upper bound of ADC samples after noise is applied in LSB
sample_delay : float
    Delay of the ADC readout relative to the ToT start time in seconds
seed : int
    Random generator seed
)";

constexpr const char* simulate_doc = R"(Simulates the MultiPMT triggers for the given PE times.

Parameters
----------
pe_times : {times}
    A vector of photo electron times in seconds
channel : int, optional
    The channel number of the PMT

Returns
-------
List[MultiPMTTrigger]
    A vector of MultiPMTTrigger objects containing the simulated triggers)";

constexpr const char* pe_list_doc = R"(Simulates the MultiPMT triggers for a full PE list.
This function is meant to directly take the output of the background simulation as input.

Parameters
----------
pe_list : List[Tuple[int, List[float]]]
    A list of tuples containing the channel number and a vector of photo electron times in seconds

Returns
-------
List[MultiPMTTrigger]
    A vector of MultiPMTTrigger objects containing the simulated triggers)";

void register_trigger_record(py::module_& m) {
    using corvane::MultiPMTTrigger;
    py::class_<ElementView<MultiPMTTrigger>> cls(m, "MultiPMTTrigger", py::module_local());
    def_field<&MultiPMTTrigger::time>(cls, "time", "Trigger time in seconds");
    def_field<&MultiPMTTrigger::channel>(cls, "channel", "Channel number");
    def_field<&MultiPMTTrigger::time_over_threshold>(cls, "time_over_threshold", "Time over threshold in seconds");
    def_field<&MultiPMTTrigger::adc_sample>(cls, "adc_sample", "ADC sample in LSB");
    refuse_uninitialised<ElementView<MultiPMTTrigger>>();
}

void register_model(py::module_& m) {
    using Path = std::filesystem::path;
    py::class_<MultiPMT> cls(m, "MultiPMT");
    cls.def(py::init<const Path&, const Path&, double, double, const Path&, double, double, double, double, double,
                     const Path&, int, double, double, double, double, double, int>(),
            py::arg("time_spectrum"), py::arg("amplitude_spectrum"), py::arg("pmt_time_step"), py::arg("tot_step"),
            py::arg("tot_pulse_shape"), py::arg("tot_threshold"), py::arg("tot_dead_time"), py::arg("tot_noise"),
            py::arg("tot_jitter"), py::arg("adc_step"), py::arg("adc_pulse_shape"), py::arg("adc_jitter"),
            py::arg("adc_gain"), py::arg("adc_offset"), py::arg("adc_noise"), py::arg("adc_clip"),
            py::arg("sample_delay"), py::arg("seed"), init_doc);
    def_simulate(cls, simulate_doc);
    def_calibration_and_pe_list(cls, pe_list_doc);
    refuse_uninitialised<MultiPMT>();
}

}  // namespace

void register_multipmt(py::module_& m) {
    register_trigger_record(m);
    register_model(m);
}

}  // namespace pelorin::bindings
