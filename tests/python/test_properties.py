"""Property tests over the host API: containers against a plain list, models fed random
arguments, twin models fed the same calls through different argument kinds."""

import math

import numpy as np
import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import pelorin
from support import build_model, row, rows

QUICK = settings(deadline=None, suppress_health_check=[HealthCheck.too_slow])


@pytest.fixture(scope="session")
def pools(make_tarvex, make_multipmt):
    """Distinct records to put into record containers."""
    pes = np.arange(6) * 3e-7 + 1e-7
    return {"TarvexTriggerVector": make_tarvex().simulate(pes), "MultiPMTTriggerVector": make_multipmt().simulate(pes)}


class Cell:
    """One element of the mirror list: an element put into a container is always a new Cell."""

    def __init__(self, value):
        self.value = value


SCALARS = {"DoubleVector": st.floats(allow_nan=False), "IntVector": st.integers(-2**31, 2**31 - 1),
           "uint16Vector": st.integers(0, 65535)}
PE_ENTRIES = st.tuples(st.integers(-3, 3), st.lists(st.floats(-1.0, 1.0), max_size=2))


def element(data, kind, pools):
    """A host argument for a container of `kind` and the value it stands for."""
    if kind in SCALARS:
        value = data.draw(SCALARS[kind])
        return value, value
    if kind == "PEListVector":
        channel, times = data.draw(PE_ENTRIES)
        return (channel, times), (channel, times)
    record = pools[kind][data.draw(st.integers(0, len(pools[kind]) - 1))]
    return record, row(record)


def read(item):
    if isinstance(item, tuple):
        return item[0], list(item[1])
    return item if isinstance(item, (int, float)) else row(item)


class Mirror:
    """A plain list of Cells with the containers' documented deviations from a list."""

    def __init__(self):
        self.cells = []

    def values(self, where=slice(None)):
        return [cell.value for cell in self.cells[where]]

    def insert(self, index, value):
        if not -len(self.cells) <= index <= len(self.cells):
            raise IndexError  # containers do not clamp the index
        self.cells.insert(index, Cell(value))

    def assign(self, where, values):
        if len(range(*where.indices(len(self.cells)))) != len(values):
            raise RuntimeError  # slice assignment keeps the length
        self.cells[where] = [Cell(value) for value in values]


class Draws:
    """The arguments of one operation: an index, an element, a slice, a few elements."""

    def __init__(self, data, kind, pools, size):
        self.index = data.draw(st.integers(-size - 2, size + 2))
        self.host, self.value = element(data, kind, pools)
        self.where = data.draw(st.slices(size))
        pairs = [element(data, kind, pools) for _ in range(data.draw(st.integers(0, 3)))]
        self.hosts, self.values = [host for host, _ in pairs], [value for _, value in pairs]


OPERATIONS = {  # name -> (on the container c, on the mirror m), both with the drawn arguments a
    "append": (lambda c, a: c.append(a.host), lambda m, a: m.insert(len(m.cells), a.value)),
    "insert": (lambda c, a: c.insert(a.index, a.host), lambda m, a: m.insert(a.index, a.value)),
    "extend": (lambda c, a: c.extend(a.hosts), lambda m, a: m.cells.extend(map(Cell, a.values))),
    "extend-self": (lambda c, a: c.extend(c), lambda m, a: m.cells.extend(map(Cell, m.values()))),
    "extend-failing": (lambda c, a: c.extend([a.host, None]), lambda m, a: m.assign(slice(0), [None])),
    "set": (lambda c, a: c.__setitem__(a.index, a.host),
            lambda m, a: m.cells.__setitem__(a.index, Cell(a.value))),
    "set-slice": (lambda c, a: c.__setitem__(a.where, type(c)(a.hosts)),
                  lambda m, a: m.assign(a.where, a.values)),
    "set-slice-self": (lambda c, a: c.__setitem__(a.where, c), lambda m, a: m.assign(a.where, m.values())),
    "delete": (lambda c, a: c.__delitem__(a.index), lambda m, a: m.cells.__delitem__(a.index)),
    "delete-slice": (lambda c, a: c.__delitem__(a.where), lambda m, a: m.cells.__delitem__(a.where)),
    "pop": (lambda c, a: read(c.pop()), lambda m, a: m.cells.pop().value),
    "pop-index": (lambda c, a: read(c.pop(a.index)), lambda m, a: m.cells.pop(a.index).value),
    "clear": (lambda c, a: c.clear(), lambda m, a: m.cells.clear()),
    "get": (lambda c, a: read(c[a.index]), lambda m, a: m.cells[a.index].value),
    "get-slice": (lambda c, a: list(map(read, c[a.where])), lambda m, a: m.values(a.where)),
}
COMPARING = {  # only for containers of comparable elements
    "remove": (lambda c, a: c.remove(a.host), lambda m, a: m.cells.pop(m.values().index(a.value)) and None),
    "count": (lambda c, a: (c.count(a.host), a.host in c), lambda m, a: (m.values().count(a.value),
                                                                         a.value in m.values())),
}


def outcome(action):
    try:
        return "ok", action()
    except (IndexError, ValueError, RuntimeError) as error:
        return type(error), None


def use_view(view, write):
    """Reads a record or (channel, times) view, or writes one field through it."""
    if not write:
        return read(view)
    if isinstance(view, tuple):
        view[1].append(0.5)
    else:
        view.channel = 99


def written(value):
    return (value[0], [*value[1], 0.5]) if isinstance(value[1], list) else (99, *value[1:])


def check_views(views, mirror, data):
    """A view reads and writes its element until its slot has held another one, then raises ReferenceError."""
    for view in views:
        element_view, index, cell, alive = view
        view[3] = alive = alive and index < len(mirror.cells) and mirror.cells[index] is cell
        write = data.draw(st.booleans())
        if alive:
            assert use_view(element_view, write) in (cell.value, None)
            cell.value = written(cell.value) if write else cell.value
        else:
            with pytest.raises(ReferenceError):
                use_view(element_view, write)


@QUICK
@given(data=st.data(), kind=st.sampled_from([*SCALARS, "PEListVector", "TarvexTriggerVector",
                                             "MultiPMTTriggerVector"]))
def test_containers_behave_like_lists(pools, data, kind):
    container, mirror, views = getattr(pelorin, kind)(), Mirror(), []
    operations = {**OPERATIONS, **(COMPARING if kind in SCALARS or kind == "PEListVector" else {})}
    for _ in range(data.draw(st.integers(1, 25))):
        name = data.draw(st.sampled_from(sorted(operations)))
        on_container, on_mirror = operations[name]
        draws = Draws(data, kind, pools, len(mirror.cells))
        assert outcome(lambda: on_container(container, draws)) == outcome(lambda: on_mirror(mirror, draws)), name
        if kind not in SCALARS and -len(mirror.cells) <= draws.index < len(mirror.cells):
            views.append([container[draws.index], draws.index % len(mirror.cells), mirror.cells[draws.index], True])
        check_views(views, mirror, data)
        assert [read(item) for item in container] == mirror.values()


PE_TIMES = st.lists(st.floats(-1e-6, 1e-4), max_size=6) | st.lists(
    st.one_of(st.floats(-1e-6, 1e-4), st.sampled_from([math.nan, math.inf, -1e300, 0.0])), max_size=3)
ARRAY_FORMS = {  # how a list of times reaches the model; each yields the same float64 values
    "list": list, "DoubleVector": pelorin.DoubleVector, "tuple": tuple, "float64": np.array,
    "reversed-view": lambda times: np.array(times[::-1])[::-1], "column": lambda times: np.array(times)[:, None],
    "strided": lambda times: np.repeat(times, 2)[::2],
}
HOSTILE_FLOATS = st.sampled_from([0.0, -1.0, math.nan, math.inf, -math.inf, 1e300, 5e-324])
WRONG_KINDS = st.sampled_from([None, "1", 1.5, 2**31, -2**63, [1]])
CAMERA = {"pmt_time_step": st.sampled_from([1e-9, 2e-9, 0.0, -1e-9, math.nan, 1e-300]),
          "adc_step": st.sampled_from([4e-9, 1e-9, 3e-9, 1e-6, 0.5e-9, 0.0, math.inf, 1e300]),
          "jitter": st.sampled_from([0, -1, 1, 3, -2]), "waveform_samples": st.integers(-3, 40),
          "retrigger_offset": st.one_of(st.integers(-3, 20), st.sampled_from([-2**31, 2**31 - 1])),
          "trigger_kernel": st.lists(st.integers(-3, 3), max_size=4), "adc_threshold": st.integers(-10, 300),
          "trigger_norm": st.integers(-2, 3), "trigger_offset": st.integers(-40, 40),
          "seed": st.integers(-2**31, 2**31 - 1),
          "early_handling": st.sampled_from([pelorin.IGNORE, pelorin.ZERO, pelorin.WARN, pelorin.THROW]),
          **{name: st.one_of(st.floats(-100, 5000), HOSTILE_FLOATS) for name in ("gain", "offset", "preamp_clip",
                                                                                 "noise", "clip")}}
MODULE = {"pmt_time_step": CAMERA["pmt_time_step"], "tot_step": st.sampled_from([2e-9, 1e-9, 0.0, math.nan]),
          "adc_step": CAMERA["adc_step"], "adc_jitter": CAMERA["jitter"], "seed": CAMERA["seed"],
          **{name: st.one_of(st.floats(-1e-8, 1e-7), HOSTILE_FLOATS) for name in ("tot_dead_time", "tot_jitter",
                                                                                  "sample_delay")},
          **{name: st.one_of(st.floats(-100, 5000), HOSTILE_FLOATS) for name in ("tot_threshold", "tot_noise",
                                                                                 "adc_gain", "adc_offset",
                                                                                 "adc_noise", "adc_clip")}}
DOCUMENTED = (ValueError, TypeError, RuntimeError)


def attempt(action):
    """What a call gave: record rows or a number, or the documented exception's type and message."""
    try:
        result = action()
    except DOCUMENTED as error:  # a TypeError lists the arguments as given, which differ between twins
        return type(error).__name__, "" if isinstance(error, TypeError) else str(error)
    return repr(result) if isinstance(result, float) else rows(result)


def random_call(data, kind):
    """A call as (method, arguments for the first twin, arguments for the second twin)."""
    times = data.draw(PE_TIMES)
    first, second = (data.draw(st.sampled_from(list(ARRAY_FORMS))) for _ in range(2))
    method = data.draw(st.sampled_from(["simulate", "calibrate_delay", "simulate_pe_list"] +
                                       ["simulate_external_trigger"] * (kind == "tarvex")))
    if method == "calibrate_delay":
        counts = data.draw(st.integers(0, 5)), data.draw(st.integers(0, 8))
        return method, counts, counts
    if method == "simulate_pe_list":
        entries = [(data.draw(st.integers(-2, 2)), data.draw(PE_TIMES)) for _ in range(data.draw(st.integers(0, 3)))]
        return method, (pelorin.PEListVector(entries),), (pelorin.PEListVector(entries),)
    channel = data.draw(st.one_of(st.integers(-2**31, 2**31 - 1), st.integers(-2**31, 2**31 - 1), WRONG_KINDS))
    shown = [ARRAY_FORMS[form](times) for form in (first, second)]
    if method == "simulate":
        return method, (shown[0], channel), (shown[1], channel)
    triggers = data.draw(st.lists(st.one_of(st.floats(-1e-7, 1e-4), st.just(math.nan)), max_size=3))
    window = data.draw(st.sampled_from([1e-8, 1e-7, 5e-7, 0.0, -1e-8, math.nan, 1e300]))
    return method, (shown[0], triggers, window, channel), (shown[1], np.array(triggers), window, channel)


@QUICK
@given(data=st.data(), kind=st.sampled_from(["tarvex", "multipmt"]))
def test_models_give_records_or_documented_errors_and_twins_agree(arguments, data, kind):
    strategies = CAMERA if kind == "tarvex" else MODULE
    names = data.draw(st.lists(st.sampled_from(sorted(strategies)), max_size=3, unique=True))
    overrides = {name: data.draw(st.one_of(strategies[name], strategies[name], WRONG_KINDS)) for name in names}
    try:
        models = [build_model(kind, arguments[kind], **overrides) for _ in range(2)]
    except DOCUMENTED as error:
        event(f"refused: {type(error).__name__}")
        return
    for _ in range(data.draw(st.integers(1, 4))):
        method, *argument_lists = random_call(data, kind)
        got, expected = (attempt(lambda: getattr(model, method)(*args)) for model, args in zip(models, argument_lists))
        assert got == expected, method
        event(f"{method}: {got[0] if isinstance(got, tuple) else 'number' if isinstance(got, str) else bool(got)}")


@QUICK
@given(num_channels=st.integers(-3, 40), pes_per_channel=st.integers(-3, 40),
       time_interval=st.floats(allow_nan=False, allow_infinity=False))
def test_generate_pe_list_matches_products(num_channels, pes_per_channel, time_interval):
    got = [(channel, list(times)) for channel, times in pelorin.generate_pe_list(num_channels, pes_per_channel,
                                                                                 time_interval)]
    assert got == [(c, [float(i) * time_interval for i in range(pes_per_channel)]) for c in range(num_channels)]
