"""Every docstring the module defines itself, pinned by a digest of its exact text."""

import hashlib

import pelorin

DIGESTS = {  # sha256 of the text, first 10 hex digits; None: no docstring
    "generate_pe_list": "86c24a72d6", "records_to_array": "9d13dcfb60", "pe_list_from_arrays": "1a72754956",
    "EarlyHandling": "6b70b250b8", "Tarvex": None, "MultiPMT": None, "TarvexTrigger": None, "MultiPMTTrigger": None,
    "Tarvex.__init__": "590bebb944", "Tarvex.simulate": "31bc0dc990", "Tarvex.calibrate_delay": "5c93164c67",
    "Tarvex.simulate_external_trigger": "9e49b8e143", "Tarvex.simulate_pe_list": "98723df85c",
    "MultiPMT.__init__": "fdaec46da3", "MultiPMT.simulate": "a3f329c8a2", "MultiPMT.calibrate_delay": "5c93164c67",
    "MultiPMT.simulate_pe_list": "4188707f09", "TarvexTrigger.channel": "5ca0dc7f90",
    "TarvexTrigger.trigger_time_s": "1644aeb6e9", "TarvexTrigger.trigger_time_ticks": "a54fc0bb0e",
    "TarvexTrigger.baseline": "fbfd20ea19", "TarvexTrigger.intsum": "3e47e33170",
    "TarvexTrigger.waveform": "dfbecbdc46", "TarvexTrigger.SECONDS_PER_TICK": "e1c8233174",
    "MultiPMTTrigger.time": "280afcaab0", "MultiPMTTrigger.channel": "5ca0dc7f90",
    "MultiPMTTrigger.time_over_threshold": "18ab1eaa87", "MultiPMTTrigger.adc_sample": "b88b9b38a0",
}


def test_docstrings_keep_their_texts():
    functions = [name for name, value in vars(pelorin).items() if callable(value) and not isinstance(value, type)]
    docs = {name: getattr(pelorin, name).__doc__ for name in functions}
    docs["EarlyHandling"] = pelorin.EarlyHandling.__doc__  # built by the binding library from its members' docstrings
    for cls in (pelorin.Tarvex, pelorin.MultiPMT, pelorin.TarvexTrigger, pelorin.MultiPMTTrigger):
        docs[cls.__name__] = cls.__doc__
        for name, member in vars(cls).items():
            if not name.startswith("_") or name == "__init__" and type(member).__name__ == "instancemethod":
                # Depending on the interpreter, a static property's class __doc__ may shadow its doc slot.
                docs[f"{cls.__name__}.{name}"] = member.__doc__ or property.__dict__["__doc__"].__get__(member)
    assert {name: text and hashlib.sha256(text.encode()).hexdigest()[:10] for name, text in docs.items()} == DIGESTS
