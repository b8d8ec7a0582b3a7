"""Docstrings: numpydoc layout without generated signatures, and no drift between the
parameter names they document and the names the functions are bound with."""

import re

import pytest

import pelorin

FUNCTIONS = {f"{owner.__name__}.{name}": getattr(owner, name) for owner, names in [
    (pelorin.Tarvex, "__init__ simulate simulate_external_trigger calibrate_delay simulate_pe_list"),
    (pelorin.MultiPMT, "__init__ simulate calibrate_delay simulate_pe_list")] for name in names.split()}
FUNCTIONS["generate_pe_list"] = pelorin.generate_pe_list


def bound_names(name, function):
    """Argument names of each overload, read from the binding library's message for a call that matches none."""
    with pytest.raises(TypeError) as error:
        getattr(pelorin, name.split(".")[0])() if name.endswith("__init__") else function(object())
    signatures = re.findall(r"^\s+\d+\. [\w.]*\((.*)\)(?: -> |$)", str(error.value), re.M)
    return [[arg for arg in re.findall(r"(?:^|, )(\w+): ", signature) if arg != "self"] for signature in signatures]


def documented_names(doc):
    """Parameter names of each overload's docstring, checking the layout on the way."""
    sections = re.findall(r"\n\nParameters\n----------\n(.*?)(?=\n\n|\Z)", doc, re.S)
    for section in sections:
        lines = section.rstrip("\n").split("\n")
        assert all(re.fullmatch(r"\w+ : \S.*", line) for line in lines[::2]), section
        assert all(re.fullmatch(r"    \S.*", line) for line in lines[1::2]) and len(lines) % 2 == 0, section
    return [re.findall(r"^(\w+) : ", section, re.M) for section in sections]


@pytest.mark.parametrize("name", FUNCTIONS)
def test_documented_parameters_match_bound_arguments(name):
    function = FUNCTIONS[name]
    doc = function.__doc__
    assert documented_names(doc) == bound_names(name, function) != []
    assert not doc.startswith(name.split(".")[-1] + "(")  # no generated signature line
    assert doc.endswith("\n") == (name == "MultiPMT.__init__")  # the one docstring with a final line feed
    assert all(re.match(r"\S.*\n    \S", part) for part in re.findall(r"\n\n(?:Returns|Raises)\n-+\n(.*\n.*)", doc))


def test_records_enumeration_and_classes():
    # Depending on the interpreter, a static property's class __doc__ may shadow its doc slot.
    def property_doc(descriptor):
        return descriptor.__doc__ or property.__dict__["__doc__"].__get__(descriptor)

    for cls in (pelorin.TarvexTrigger, pelorin.MultiPMTTrigger):
        properties = [value for value in vars(cls).values() if "property" in type(value).__name__]
        assert len(properties) == {pelorin.TarvexTrigger: 7, pelorin.MultiPMTTrigger: 4}[cls]
        assert all(property_doc(value) for value in properties)
    assert re.findall(r"\n  (\w+) : \S", pelorin.EarlyHandling.__doc__) == ["IGNORE", "ZERO", "WARN", "THROW"]
    assert {cls.__doc__ for cls in (pelorin.Tarvex, pelorin.MultiPMT, pelorin.TarvexTrigger,
                                    pelorin.MultiPMTTrigger)} == {None}
