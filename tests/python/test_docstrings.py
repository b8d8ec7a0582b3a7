"""Docstrings in numpydoc layout; signatures are not prepended to them."""

import pytest

import pelorin

# "name : type | description", some lines holding two rows
PARAMETERS = dict(row.split(" : ", 1) for line in """
time_spectrum : Path | Path to the time spectrum of the PMT
amplitude_spectrum : Path | Path to the amplitude spectrum of the PMT
pmt_time_step : float | Time step of the PMT waveform in seconds
adc_step : float | The time step for the ADC in seconds
pulse_shape : Path | Path to the pulse shape of the electronics
jitter : int | Offset of ADC samples relative to simulation times, 0 for no jitter, -1 for random jitter
gain : float | ADC gain (scale factor of normalized amplitude) in LSB; offset : float | ADC offset in LSB
preamp_clip : float | Upper bound of ADC samples before noise is applied in LSB
noise : float | Standard deviation of gaussian noise in LSB
clip : float | Upper bound of ADC samples after noise is applied in LSB
waveform_samples : int | number of waveform samples per trigger
retrigger_offset : int | minimum number of samples between two triggers
trigger_kernel : List[int] | kernel to convolve the waveform with before applying the threshold
adc_threshold : int | trigger threshold in LSB
trigger_norm : int | divide the trigger signal by this value before applying the threshold
trigger_offset : int | offset of the waveform start relative to the trigger time in number of ADC steps
seed : int | Random generator seed
early_handling : EarlyHandling, optional | How to handle triggers that occur before time 0 (default is WARN)
tot_step : float | Time step of the ToT simulation TDC in seconds
tot_pulse_shape : Path | Path to the pulse shape of the ToT electronics
tot_threshold : float | Threshold for ToT measurement; tot_dead_time : float | Dead time for ToT measurement in seconds
tot_noise : float | Standard deviation of gaussian noise for ToT
tot_jitter : float | Standard deviation of time measurement in the ToT simulation in seconds
adc_pulse_shape : Path | Path to the pulse shape of the ADC electronics
adc_noise : float | Standard deviation of gaussian noise in LSB for ADC
sample_delay : float | Delay of the ADC readout relative to the ToT start time in seconds
pe_times : {kind} | A vector of photo electron times in seconds
trigger_times : {kind} | A vector of external trigger times in seconds
readout_window : float | The readout window for each trigger in seconds
channel : int, optional | The channel number of the PMT{default}
num_pes : int | Number of PEs to simulate; num_sim : int | Number of simulations to run
pe_list : List[Tuple[int, List[float]]] | A list of tuples containing the channel number and a vector of photo \
electron times in seconds
num_channels : int | Number of channels to generate PEs for
pes_per_channel : int | Number of PEs per channel; time_interval : float | Time interval between PEs in seconds
""".strip().splitlines() for row in line.split("; "))


def doc(summary, names, returns=None, raises=None, **fill):
    """Numpydoc text of the named PARAMETERS (adc_gain as gain) and of "type | description" sections."""
    lines = [summary, "", "Parameters", "----------"]
    for name in names.split():
        type_text, description = (PARAMETERS.get(name) or PARAMETERS[name[4:]]).format(**fill).split(" | ")
        lines += [f"{name} : {type_text}", "    " + description]
    for title, section in (("Returns", returns), ("Raises", raises)):
        if section:
            type_text, description = section.split(" | ")
            lines += ["", title, "-" * len(title), type_text, "    " + description]
    return "\n".join(lines)


def model_docs(model, default):
    returns = f"List[{model}Trigger] | A vector of {model}Trigger objects containing the simulated triggers"
    overloads = lambda summary, names: "\n".join(  # container overload, then array overload
        doc(summary, names, returns, kind=kind, default=default) for kind in ("List[float]", "numpy.ndarray"))
    docs = {
        "simulate": overloads(f"Simulates the {model} triggers for the given PE times.", "pe_times channel"),
        "simulate_external_trigger": overloads(
            f"Simulates the {model} triggers for the given PE times and external trigger times.\nThis functions "
            "simulates externally triggered readout, e.g. lab measurements.ADC simulation is forced for the full "
            "readout window to make sure noise is properly accounted for.",
            "pe_times trigger_times readout_window channel"),
        "calibrate_delay": doc("Calibrates the delay between PE times and trigger times.", "num_pes num_sim",
                               "float | The average delay in seconds",
                               "RuntimeError | If too many simulations do not produce a valid trigger"),
        "simulate_pe_list": doc(f"Simulates the {model} triggers for a full PE list.\nThis function is meant to "
                                "directly take the output of the background simulation as input.", "pe_list", returns),
    }
    return {f"{model}.{name}": (getattr(getattr(pelorin, model), name), text) for name, text in docs.items()
            if (model, name) != ("MultiPMT", "simulate_external_trigger")}


DOCSTRINGS = {
    "generate_pe_list": (pelorin.generate_pe_list, doc("Generates a PE list for testing purposes.",
                                                       "num_channels pes_per_channel time_interval",
                                                       PARAMETERS["pe_list"])),
    **model_docs("Tarvex", " (default is 0)"), **model_docs("MultiPMT", ""),
}


@pytest.mark.parametrize("name", DOCSTRINGS)
def test_function_docstring(name):
    function, expected = DOCSTRINGS[name]
    assert function.__doc__ == expected


def test_constructor_docstrings(arguments):  # parameters in constructor order; only MultiPMT's ends in a line feed
    for model, names, end in [("Tarvex", [*arguments["tarvex"], "early_handling"], ""),
                              ("MultiPMT", arguments["multipmt"], "\n")]:
        assert getattr(pelorin, model).__init__.__doc__ == doc(f"Constructor for {model}.", " ".join(names)) + end


PROPERTIES = {
    pelorin.TarvexTrigger: dict(channel="Channel number", trigger_time_s="Seconds since run start",
                                trigger_time_ticks="Ticks since last full second (tick = 4ns)",
                                baseline="Baseline in LSB", intsum="Waveform sum in LSB", waveform="ADC samples in LSB",
                                SECONDS_PER_TICK="Number of seconds per tick (4ns)"),
    pelorin.MultiPMTTrigger: dict(time="Trigger time in seconds", channel="Channel number",
                                  time_over_threshold="Time over threshold in seconds", adc_sample="ADC sample in LSB"),
}


def test_record_property_enumeration_and_class_docstrings():
    # Depending on the interpreter, a static property's class __doc__ may shadow its doc slot.
    property_doc = lambda descriptor: descriptor.__doc__ or property.__dict__["__doc__"].__get__(descriptor)
    for cls, expected in PROPERTIES.items():
        assert {name: property_doc(cls.__dict__[name]) for name in expected} == expected
    for member in ("IGNORE : Ignore early triggers", "ZERO : Clamp early triggers to zero",
                   "WARN : Warn and ignore early triggers", "THROW : Throw on early triggers"):
        assert f"\n  {member}" in pelorin.EarlyHandling.__doc__
    assert {cls.__doc__ for cls in (pelorin.Tarvex, pelorin.MultiPMT, *PROPERTIES)} == {None}
