"""Docstrings in numpydoc layout; signatures are not prepended to them."""

import pytest

import pelorin

PE_TIMES = "A vector of photo electron times in seconds"
PE_LIST = "A list of tuples containing the channel number and a vector of photo electron times in seconds"
PE_LIST_TYPE = "List[Tuple[int, List[float]]]"
BACKGROUND = "This function is meant to directly take the output of the background simulation as input."


def numpydoc(summary, params, returns=None, raises=None):
    lines = [summary, "", "Parameters", "----------"]
    for name, type_text, description in params:
        lines += [f"{name} : {type_text}", f"    {description}"]
    for title, section in (("Returns", returns), ("Raises", raises)):
        if section:
            lines += ["", title, "-" * len(title), section[0], f"    {section[1]}"]
    return "\n".join(lines)


JITTER = "Offset of ADC samples relative to simulation times, 0 for no jitter, -1 for random jitter"

TARVEX_INIT = numpydoc("Constructor for Tarvex.", [
    ("time_spectrum", "Path", "Path to the time spectrum of the PMT"),
    ("amplitude_spectrum", "Path", "Path to the amplitude spectrum of the PMT"),
    ("pmt_time_step", "float", "Time step of the PMT waveform in seconds"),
    ("adc_step", "float", "The time step for the ADC in seconds"),
    ("pulse_shape", "Path", "Path to the pulse shape of the electronics"),
    ("jitter", "int", JITTER),
    ("gain", "float", "ADC gain (scale factor of normalized amplitude) in LSB"),
    ("offset", "float", "ADC offset in LSB"),
    ("preamp_clip", "float", "Upper bound of ADC samples before noise is applied in LSB"),
    ("noise", "float", "Standard deviation of gaussian noise in LSB"),
    ("clip", "float", "Upper bound of ADC samples after noise is applied in LSB"),
    ("waveform_samples", "int", "number of waveform samples per trigger"),
    ("retrigger_offset", "int", "minimum number of samples between two triggers"),
    ("trigger_kernel", "List[int]", "kernel to convolve the waveform with before applying the threshold"),
    ("adc_threshold", "int", "trigger threshold in LSB"),
    ("trigger_norm", "int", "divide the trigger signal by this value before applying the threshold"),
    ("trigger_offset", "int", "offset of the waveform start relative to the trigger time in number of ADC steps"),
    ("seed", "int", "Random generator seed"),
    ("early_handling", "EarlyHandling, optional", "How to handle triggers that occur before time 0 (default is WARN)"),
])

MULTIPMT_INIT = numpydoc("Constructor for MultiPMT.", [
    ("time_spectrum", "Path", "Path to the time spectrum of the PMT"),
    ("amplitude_spectrum", "Path", "Path to the amplitude spectrum of the PMT"),
    ("pmt_time_step", "float", "Time step of the PMT waveform in seconds"),
    ("tot_step", "float", "Time step of the ToT simulation TDC in seconds"),
    ("tot_pulse_shape", "Path", "Path to the pulse shape of the ToT electronics"),
    ("tot_threshold", "float", "Threshold for ToT measurement"),
    ("tot_dead_time", "float", "Dead time for ToT measurement in seconds"),
    ("tot_noise", "float", "Standard deviation of gaussian noise for ToT"),
    ("tot_jitter", "float", "Standard deviation of time measurement in the ToT simulation in seconds"),
    ("adc_step", "float", "The time step for the ADC in seconds"),
    ("adc_pulse_shape", "Path", "Path to the pulse shape of the ADC electronics"),
    ("adc_jitter", "int", JITTER),
    ("adc_gain", "float", "ADC gain (scale factor of normalized amplitude) in LSB"),
    ("adc_offset", "float", "ADC offset in LSB"),
    ("adc_noise", "float", "Standard deviation of gaussian noise in LSB for ADC"),
    ("adc_clip", "float", "Upper bound of ADC samples after noise is applied in LSB"),
    ("sample_delay", "float", "Delay of the ADC readout relative to the ToT start time in seconds"),
    ("seed", "int", "Random generator seed"),
]) + "\n"  # the one docstring that ends in a line feed

CALIBRATE = numpydoc(
    "Calibrates the delay between PE times and trigger times.",
    [("num_pes", "int", "Number of PEs to simulate"), ("num_sim", "int", "Number of simulations to run")],
    returns=("float", "The average delay in seconds"),
    raises=("RuntimeError", "If too many simulations do not produce a valid trigger"),
)


def simulate_pair(model, channel_text):
    returns = (f"List[{model}Trigger]", f"A vector of {model}Trigger objects containing the simulated triggers")
    summary = f"Simulates the {model} triggers for the given PE times."
    return "\n".join(
        numpydoc(summary, [("pe_times", type_text, PE_TIMES), ("channel", "int, optional", channel_text)], returns)
        for type_text in ("List[float]", "numpy.ndarray")
    )


def pe_list_doc(model):
    return numpydoc(
        f"Simulates the {model} triggers for a full PE list.\n{BACKGROUND}",
        [("pe_list", PE_LIST_TYPE, PE_LIST)],
        (f"List[{model}Trigger]", f"A vector of {model}Trigger objects containing the simulated triggers"),
    )


EXTERNAL_SUMMARY = (
    "Simulates the Tarvex triggers for the given PE times and external trigger times.\n"
    "This functions simulates externally triggered readout, e.g. lab measurements.ADC simulation is forced "
    "for the full readout window to make sure noise is properly accounted for."
)
EXTERNAL = "\n".join(
    numpydoc(EXTERNAL_SUMMARY, [
        ("pe_times", type_text, PE_TIMES),
        ("trigger_times", type_text, "A vector of external trigger times in seconds"),
        ("readout_window", "float", "The readout window for each trigger in seconds"),
        ("channel", "int, optional", "The channel number of the PMT (default is 0)"),
    ], ("List[TarvexTrigger]", "A vector of TarvexTrigger objects containing the simulated triggers"))
    for type_text in ("List[float]", "numpy.ndarray")
)

GENERATE = numpydoc(
    "Generates a PE list for testing purposes.",
    [
        ("num_channels", "int", "Number of channels to generate PEs for"),
        ("pes_per_channel", "int", "Number of PEs per channel"),
        ("time_interval", "float", "Time interval between PEs in seconds"),
    ],
    returns=(PE_LIST_TYPE, PE_LIST),
)

DOCSTRINGS = {
    "generate_pe_list": (pelorin.generate_pe_list, GENERATE),
    "Tarvex.__init__": (pelorin.Tarvex.__init__, TARVEX_INIT),
    "Tarvex.simulate": (pelorin.Tarvex.simulate, simulate_pair("Tarvex", "The channel number of the PMT (default is 0)")),
    "Tarvex.simulate_external_trigger": (pelorin.Tarvex.simulate_external_trigger, EXTERNAL),
    "Tarvex.calibrate_delay": (pelorin.Tarvex.calibrate_delay, CALIBRATE),
    "Tarvex.simulate_pe_list": (pelorin.Tarvex.simulate_pe_list, pe_list_doc("Tarvex")),
    "MultiPMT.__init__": (pelorin.MultiPMT.__init__, MULTIPMT_INIT),
    "MultiPMT.simulate": (pelorin.MultiPMT.simulate, simulate_pair("MultiPMT", "The channel number of the PMT")),
    "MultiPMT.calibrate_delay": (pelorin.MultiPMT.calibrate_delay, CALIBRATE),
    "MultiPMT.simulate_pe_list": (pelorin.MultiPMT.simulate_pe_list, pe_list_doc("MultiPMT")),
}


@pytest.mark.parametrize("name", list(DOCSTRINGS))
def test_function_docstring(name):
    function, expected = DOCSTRINGS[name]
    assert function.__doc__ == expected


PROPERTY_DOCS = {
    pelorin.TarvexTrigger: {
        "channel": "Channel number",
        "trigger_time_s": "Seconds since run start",
        "trigger_time_ticks": "Ticks since last full second (tick = 4ns)",
        "baseline": "Baseline in LSB",
        "intsum": "Waveform sum in LSB",
        "waveform": "ADC samples in LSB",
        "SECONDS_PER_TICK": "Number of seconds per tick (4ns)",
    },
    pelorin.MultiPMTTrigger: {
        "time": "Trigger time in seconds",
        "channel": "Channel number",
        "time_over_threshold": "Time over threshold in seconds",
        "adc_sample": "ADC sample in LSB",
    },
}


@pytest.mark.parametrize("record_class", list(PROPERTY_DOCS), ids=lambda c: c.__name__)
def test_record_property_docstrings(record_class):
    # Read the stored text through property's own slot: the static-property subclass's
    # class-level __doc__ shadows it on some interpreters.
    property_doc = property.__dict__["__doc__"].__get__
    docs = {name: property_doc(record_class.__dict__[name]) for name in PROPERTY_DOCS[record_class]}
    assert docs == PROPERTY_DOCS[record_class]


def test_classes_carry_no_docstring_of_their_own():
    for cls in (pelorin.Tarvex, pelorin.MultiPMT, pelorin.TarvexTrigger, pelorin.MultiPMTTrigger):
        assert cls.__doc__ is None
