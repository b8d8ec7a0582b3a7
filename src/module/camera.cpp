#include "module/bindings.hpp"

#include <pybind11/stl/filesystem.h>

#include "pelorin/tarvex.hpp"

namespace pelorin::bindings {
namespace {

std::vector<corvane::TarvexTrigger> simulate_external_trigger_overload_helper(Tarvex& model,
                                                                              const DoubleArray& pe_times,
                                                                              const DoubleArray& trigger_times,
                                                                              double readout_window, int channel) {
    const std::vector<double> pes = to_vector(pe_times);
    const std::vector<double> triggers = to_vector(trigger_times);
    return model.simulate_external_trigger(pes, triggers, readout_window, channel);
}

constexpr const char* init_doc = R"(Constructor for Tarvex.

Parameters
----------
time_spectrum : Path
    Path to the time spectrum of the PMT
amplitude_spectrum : Path
    Path to the amplitude spectrum of the PMT
pmt_time_step : float
    Time step of the PMT waveform in seconds
adc_step : float
    The time step for the ADC in seconds
pulse_shape : Path
    Path to the pulse shape of the electronics
jitter : int
    Offset of ADC samples relative to simulation times, 0 for no jitter, -1 for random jitter
gain : float
    ADC gain (scale factor of normalized amplitude) in LSB
offset : float
    ADC offset in LSB
preamp_clip : float
    Upper bound of ADC samples before noise is applied in LSB
noise : float
    Standard deviation of gaussian noise in LSB
clip : float
    Upper bound of ADC samples after noise is applied in LSB
waveform_samples : int
    number of waveform samples per trigger
retrigger_offset : int
    minimum number of samples between two triggers
trigger_kernel : List[int]
    kernel to convolve the waveform with before applying the threshold
adc_threshold : int
    trigger threshold in LSB
trigger_norm : int
    divide the trigger signal by this value before applying the threshold
trigger_offset : int
    offset of the waveform start relative to the trigger time in number of ADC steps
seed : int
    Random generator seed
early_handling : EarlyHandling, optional
    How to handle triggers that occur before time 0 (default is WARN))";

constexpr const char* simulate_doc = R"(Simulates the Tarvex triggers for the given PE times.

Parameters
----------
pe_times : {times}
    A vector of photo electron times in seconds
channel : int, optional
    The channel number of the PMT (default is 0)

Returns
-------
List[TarvexTrigger]
    A vector of TarvexTrigger objects containing the simulated triggers)";

constexpr const char* external_trigger_doc =
    R"(Simulates the Tarvex triggers for the given PE times and external trigger times.
This functions simulates externally triggered readout, e.g. lab measurements.ADC simulation is forced for the full readout window to make sure noise is properly accounted for.

Parameters
----------
pe_times : {times}
    A vector of photo electron times in seconds
trigger_times : {times}
    A vector of external trigger times in seconds
readout_window : float
    The readout window for each trigger in seconds
channel : int, optional
    The channel number of the PMT (default is 0)

Returns
-------
List[TarvexTrigger]
    A vector of TarvexTrigger objects containing the simulated triggers)";

constexpr const char* pe_list_doc = R"(Simulates the Tarvex triggers for a full PE list.
This function is meant to directly take the output of the background simulation as input.

Parameters
----------
pe_list : List[Tuple[int, List[float]]]
    A list of tuples containing the channel number and a vector of photo electron times in seconds

Returns
-------
List[TarvexTrigger]
    A vector of TarvexTrigger objects containing the simulated triggers)";

void register_early_handling(py::module_& m) {
    py::enum_<Tarvex::EarlyHandling>(m, "EarlyHandling")
        .value("IGNORE", Tarvex::EarlyHandling::IGNORE, "Ignore early triggers")
        .value("ZERO", Tarvex::EarlyHandling::ZERO, "Clamp early triggers to zero")
        .value("WARN", Tarvex::EarlyHandling::WARN, "Warn and ignore early triggers")
        .value("THROW", Tarvex::EarlyHandling::THROW, "Throw on early triggers")
        .export_values();
    refuse_uninitialised<Tarvex::EarlyHandling>();
}

void register_trigger_record(py::module_& m) {
    using corvane::TarvexTrigger;
    py::class_<ElementView<TarvexTrigger>> cls(m, "TarvexTrigger", py::module_local());
    def_field<&TarvexTrigger::channel>(cls, "channel", "Channel number");
    def_field<&TarvexTrigger::trigger_time_s>(cls, "trigger_time_s", "Seconds since run start");
    def_field<&TarvexTrigger::trigger_time_ticks>(cls, "trigger_time_ticks",
                                                  "Ticks since last full second (tick = 4ns)");
    def_field<&TarvexTrigger::baseline>(cls, "baseline", "Baseline in LSB");
    def_field<&TarvexTrigger::intsum>(cls, "intsum", "Waveform sum in LSB");
    def_field<&TarvexTrigger::waveform>(cls, "waveform", "ADC samples in LSB");
    cls.def_readonly_static("SECONDS_PER_TICK", &TarvexTrigger::SECONDS_PER_TICK,
                            "Number of seconds per tick (4ns)");
    refuse_uninitialised<ElementView<TarvexTrigger>>();
}

void register_model(py::module_& m) {
    py::class_<Tarvex> cls(m, "Tarvex");
    cls.def(py::init<const std::filesystem::path&, const std::filesystem::path&, double, double,
                     const std::filesystem::path&, int, double, double, double, double, double, int, int,
                     std::vector<int>, int, int, int, int, Tarvex::EarlyHandling>(),
            py::arg("time_spectrum"), py::arg("amplitude_spectrum"), py::arg("pmt_time_step"), py::arg("adc_step"),
            py::arg("pulse_shape"), py::arg("jitter"), py::arg("gain"), py::arg("offset"), py::arg("preamp_clip"),
            py::arg("noise"), py::arg("clip"), py::arg("waveform_samples"), py::arg("retrigger_offset"),
            py::arg("trigger_kernel"), py::arg("adc_threshold"), py::arg("trigger_norm"),
            py::arg("trigger_offset"), py::arg("seed"), py::arg("early_handling") = Tarvex::EarlyHandling::WARN,
            init_doc);
    def_simulate(cls, simulate_doc);
    cls.def("simulate_external_trigger", &Tarvex::simulate_external_trigger, py::arg("pe_times"),
            py::arg("trigger_times"), py::arg("readout_window"), py::arg("channel") = 0,
            with_times_type(external_trigger_doc, "List[float]").c_str());
    cls.def("simulate_external_trigger", &simulate_external_trigger_overload_helper, py::arg("pe_times"),
            py::arg("trigger_times"), py::arg("readout_window"), py::arg("channel") = 0,
            with_times_type(external_trigger_doc, "numpy.ndarray").c_str());
    def_calibration_and_pe_list(cls, pe_list_doc);
    refuse_uninitialised<Tarvex>();
}

}  // namespace

void register_camera(py::module_& m) {
    register_early_handling(m);
    register_trigger_record(m);
    register_model(m);
}

}  // namespace pelorin::bindings
