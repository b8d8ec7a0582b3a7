import importlib
import subprocess
import sys
import sysconfig

import pytest

import pelorin


def run_python(code):
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return result.stdout.strip()


def test_second_import_returns_same_module():
    assert importlib.import_module("pelorin") is pelorin
    assert run_python(
        "import sys, pelorin\n"
        "first = pelorin\n"
        "del sys.modules['pelorin']\n"
        "import pelorin\n"
        "print(pelorin is first, pelorin.DoubleVector is first.DoubleVector)"
    ) == "True True"


@pytest.mark.skipif(
    not hasattr(sys, "_is_gil_enabled") or not sysconfig.get_config_var("Py_GIL_DISABLED"),
    reason="needs a free-threaded interpreter",
)
def test_import_keeps_gil_disabled():
    assert run_python("import sys, pelorin; print(sys._is_gil_enabled())") == "False"


def test_early_handling_members_are_exported():
    values = {name: getattr(pelorin, name) for name in ("IGNORE", "ZERO", "WARN", "THROW")}
    assert [int(v) for v in values.values()] == [0, 1, 2, 3]
    for name, member in values.items():
        assert member is getattr(pelorin.EarlyHandling, name) and member.name == name
    assert pelorin.EarlyHandling(2) == pelorin.WARN and pelorin.WARN != 2


def test_generate_pe_list_values():
    pes = pelorin.generate_pe_list(num_channels=2, pes_per_channel=3, time_interval=1e-8)
    assert isinstance(pes, pelorin.PEListVector)
    assert [(channel, list(times)) for channel, times in pes] == [(0, [0.0, 1e-8, 2e-8]), (1, [0.0, 1e-8, 2e-8])]
    # Products, not a running sum: 0.1 + 0.1 + 0.1 differs from 3 * 0.1.
    times = list(pelorin.generate_pe_list(1, 10, 0.1)[0][1])
    assert times == [i * 0.1 for i in range(10)]
    assert list(pelorin.generate_pe_list(1, 3, -1.0)[0][1]) == [0.0, -1.0, -2.0]


@pytest.mark.parametrize(
    "args, expected",
    [((0, 5, 1e-9), []), ((-3, 5, 1e-9), []), ((3, 0, 1e-9), [(0, []), (1, []), (2, [])]),
     ((2, -1, 1e-9), [(0, []), (1, [])])],
    ids=["no-channels", "negative-channels", "no-pes", "negative-pes"],
)
def test_generate_pe_list_empty_cases(args, expected):
    assert [(channel, list(times)) for channel, times in pelorin.generate_pe_list(*args)] == expected
