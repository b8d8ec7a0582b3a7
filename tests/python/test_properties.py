"""Property tests: containers against a plain list, twin models fed random arguments and the same calls
through different argument kinds."""

import contextlib
import math

import numpy as np
import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import pelorin
from support import MODELS, value_of

QUICK = settings(deadline=None, suppress_health_check=[HealthCheck.too_slow])
SCALARS = {"DoubleVector": st.floats(allow_nan=False), "IntVector": st.integers(-2**31, 2**31 - 1),
           "uint16Vector": st.integers(0, 65535)}
KINDS = [*SCALARS, "PEListVector", "TarvexTriggerVector", "MultiPMTTriggerVector"]


@pytest.fixture(scope="session")
def pools(make):
    """Distinct records to put into record containers."""
    records = [make(kind).simulate(np.arange(6) * 3e-7 + 1e-7) for kind in MODELS]
    return {type(pool).__name__: pool for pool in records}


def element(data, kind, pools):  # a host argument for a container of `kind`
    if kind in pools:
        return pools[kind][data.draw(st.integers(0, len(pools[kind]) - 1))]
    return data.draw(SCALARS.get(kind, st.tuples(st.integers(-3, 3), st.lists(st.floats(-1.0, 1.0), max_size=2))))


class Mirror(list):
    """A list of cells, one-item lists whose identity tells elements apart, with the containers' deviations."""

    def values(self, where=slice(None)):
        return [cell[0] for cell in self[where]]

    def put(self, index, value):
        if not -len(self) <= index <= len(self):
            raise IndexError  # containers do not clamp the index
        self.insert(index, [value])

    def assign(self, where, values):
        if len(range(*where.indices(len(self)))) != len(values):
            raise RuntimeError  # slice assignment keeps the length
        self[where] = [[value] for value in values]


def raising(hosts, error=ValueError):
    yield from hosts
    raise error("the source failed")


class Draws:
    """The arguments of one operation: an index, a slice, an element and a few, and the values these stand for."""

    def __init__(self, data, kind, pools, size):
        self.index, self.where = data.draw(st.integers(-size - 2, size + 2)), data.draw(st.slices(size))
        self.host = element(data, kind, pools)
        self.hosts = [element(data, kind, pools) for _ in range(data.draw(st.integers(0, 3)))]
        self.value, self.values = value_of(self.host), [value_of(host) for host in self.hosts]


OPERATIONS = {  # name -> (on the container c, on the mirror m), both with the drawn arguments a
    "append": (lambda c, a: c.append(a.host), lambda m, a: m.put(len(m), a.value)),
    "insert": (lambda c, a: c.insert(a.index, a.host), lambda m, a: m.put(a.index, a.value)),
    "extend": (lambda c, a: c.extend(a.hosts), lambda m, a: m.extend([v] for v in a.values)),
    "extend-self": (lambda c, a: c.extend(c), lambda m, a: m.extend([v] for v in m.values())),
    # A failed extend leaves the container as it was.
    "extend-failing": (lambda c, a: c.extend([a.host, None]), lambda m, a: m.extend(raising([], RuntimeError))),
    "extend-raising": (lambda c, a: c.extend(raising(a.hosts)), lambda m, a: m.extend(raising([]))),
    "set": (lambda c, a: c.__setitem__(a.index, a.host), lambda m, a: m.__setitem__(a.index, [a.value])),
    "set-slice": (lambda c, a: c.__setitem__(a.where, type(c)(a.hosts)), lambda m, a: m.assign(a.where, a.values)),
    "set-slice-self": (lambda c, a: c.__setitem__(a.where, c), lambda m, a: m.assign(a.where, m.values())),
    "delete": (lambda c, a: c.__delitem__(a.index), lambda m, a: m.__delitem__(a.index)),
    "delete-slice": (lambda c, a: c.__delitem__(a.where), lambda m, a: m.__delitem__(a.where)),
    "pop": (lambda c, a: value_of(c.pop()), lambda m, a: m.pop()[0]),
    "pop-index": (lambda c, a: value_of(c.pop(a.index)), lambda m, a: m.pop(a.index)[0]),
    "clear": (lambda c, a: c.clear(), lambda m, a: m.clear()),
    "get": (lambda c, a: value_of(c[a.index]), lambda m, a: m[a.index][0]),
    "get-slice": (lambda c, a: value_of(c[a.where]), lambda m, a: m.values(a.where)),
    "iterate-popping": (lambda c, a: [(value_of(item), c.pop())[0] for item in c],  # both walk by index
                        lambda m, a: [(cell[0], m.pop())[0] for cell in m]),
}
COMPARING = {  # only for containers of comparable elements
    "remove": (lambda c, a: c.remove(a.host), lambda m, a: m.pop(m.values().index(a.value)) and None),
    "count": (lambda c, a: (c.count(a.host), a.host in c),
              lambda m, a: (m.values().count(a.value), a.value in m.values())),
}


def outcome(action, *args):
    try:
        return "ok", action(*args)
    except (IndexError, ValueError, RuntimeError) as error:
        return type(error), None


@QUICK
@given(data=st.data(), kind=st.sampled_from(KINDS))
def test_containers_behave_like_lists(pools, data, kind):
    container, mirror, views = getattr(pelorin, kind)(), Mirror(), []
    operations = {**OPERATIONS, **(COMPARING if kind in SCALARS or kind == "PEListVector" else {})}
    for _ in range(data.draw(st.integers(1, 25))):
        name = data.draw(st.sampled_from(sorted(operations)))
        draws = Draws(data, kind, pools, len(mirror))
        on_container, on_mirror = operations[name]
        assert outcome(on_container, container, draws) == outcome(on_mirror, mirror, draws), name
        if kind not in SCALARS and -len(mirror) <= draws.index < len(mirror):
            views.append([container[draws.index], draws.index % len(mirror), mirror[draws.index], True])
        # A view reads and writes its element until its slot has held another one, then raises ReferenceError.
        for view in views:
            element_view, index, cell, alive = view
            view[3] = alive = alive and index < len(mirror) and mirror[index] is cell
            with contextlib.nullcontext() if alive else pytest.raises(ReferenceError):
                if not data.draw(st.booleans()):
                    assert value_of(element_view) == cell[0]
                elif isinstance(element_view, tuple):  # a PE-list entry: its times are a view as well
                    element_view[1].append(0.5)
                    cell[0] = (cell[0][0], [*cell[0][1], 0.5])
                else:
                    element_view.channel = 99
                    cell[0] = (99, *cell[0][1:])
        assert value_of(container) == mirror.values()


TIME = st.floats(-1e-6, 1e-4)
PE_TIMES = st.lists(TIME, max_size=6) | st.lists(TIME | st.sampled_from([math.nan, math.inf, -1e300, 0.0]), max_size=3)
FORMS = {  # ways to pass a list of times, all with the same float64 values in the same order
    "list": list, "DoubleVector": pelorin.DoubleVector, "tuple": tuple, "float64": np.array,
    "reversed-view": lambda times: np.array(times[::-1])[::-1], "column": lambda times: np.array(times)[:, None],
    "strided": lambda times: np.repeat(times, 2)[::2], "3-d": lambda times: np.reshape(times, (-1, 1, 1)),
    "fortran": lambda times: np.asfortranarray(np.reshape(times, (2, -1) if len(times) % 2 == 0 else (1, -1))),
    "zero-d": lambda times: np.array(times[0]) if len(times) == 1 else np.array(times),
}
WRONG_KINDS = st.sampled_from([None, "1", 1.5, 2**31, -2**63, [1]])
INTS = st.integers(-2**31, 2**31 - 1)
SPECIAL = st.sampled_from([0.0, -1.0, math.nan, math.inf, -math.inf, 1e300, 5e-324])
STEPS = {"pmt_time_step": st.sampled_from([1e-9, 2e-9, 0.0, -1e-9, math.nan, 1e-300]), "seed": INTS,
         "adc_step": st.sampled_from([4e-9, 1e-9, 3e-9, 1e-6, 0.5e-9, 0.0, math.inf, 1e300])}
ARGUMENTS = {
    "tarvex": {**STEPS, "jitter": st.integers(-2, 3), "waveform_samples": st.integers(-3, 40),
               "retrigger_offset": st.integers(-3, 20) | st.sampled_from([-2**31, 2**31 - 1]),
               "trigger_kernel": st.lists(st.integers(-3, 3), max_size=4), "adc_threshold": st.integers(-10, 300),
               "trigger_norm": st.integers(-2, 3), "trigger_offset": st.integers(-40, 40),
               "early_handling": st.sampled_from([pelorin.IGNORE, pelorin.ZERO, pelorin.WARN, pelorin.THROW]),
               **dict.fromkeys(["gain", "offset", "preamp_clip", "noise", "clip"], st.floats(-100, 5000) | SPECIAL)},
    "multipmt": {**STEPS, "tot_step": st.sampled_from([2e-9, 1e-9, 0.0, math.nan]), "adc_jitter": st.integers(-2, 3),
                 **dict.fromkeys(["tot_dead_time", "tot_jitter", "sample_delay"], st.floats(-1e-8, 1e-7) | SPECIAL),
                 **dict.fromkeys(["tot_threshold", "tot_noise", "adc_gain", "adc_offset", "adc_noise", "adc_clip"],
                                 st.floats(-100, 5000) | SPECIAL)},
}
DOCUMENTED = (ValueError, TypeError, RuntimeError)


def random_call(data, kind):
    """A method and a call of it per twin: times in different forms, a PE list against its entries one by one."""
    method = data.draw(st.sampled_from(["simulate", "calibrate_delay", "simulate_pe_list"] +
                                       ["simulate_external_trigger"] * (kind == "tarvex")))
    if method == "calibrate_delay":
        counts = data.draw(st.integers(0, 5)), data.draw(st.integers(0, 8))
        return method, lambda m: m.calibrate_delay(*counts), lambda m: m.calibrate_delay(*counts)
    if method == "simulate_pe_list":
        entries = data.draw(st.lists(st.tuples(st.integers(-2, 2), PE_TIMES), max_size=3))
        return method, lambda m: m.simulate_pe_list(pelorin.PEListVector(entries)), lambda m: [
            record for channel, times in entries for record in m.simulate(times, channel)]
    times, channel = data.draw(PE_TIMES), data.draw(INTS | INTS | WRONG_KINDS)
    first, second = (FORMS[data.draw(st.sampled_from(sorted(FORMS)))](times) for _ in range(2))
    if method == "simulate":
        return method, lambda m: m.simulate(first, channel), lambda m: m.simulate(second, channel)
    triggers = data.draw(st.lists(st.floats(-1e-7, 1e-4) | st.just(math.nan), max_size=3))
    one, other = (FORMS[data.draw(st.sampled_from(sorted(FORMS)))](triggers) for _ in range(2))
    window = data.draw(st.sampled_from([1e-8, 1e-7, 5e-7, 0.0, -1e-8, math.nan, 1e300]))
    return method, lambda m: m.simulate_external_trigger(first, one, window, channel), \
        lambda m: m.simulate_external_trigger(second, other, window, channel)


@QUICK
@given(data=st.data(), kind=st.sampled_from(["tarvex", "multipmt"]))
def test_models_give_records_or_documented_errors_and_twins_agree(make, data, kind):
    strategies = ARGUMENTS[kind]
    names = data.draw(st.lists(st.sampled_from(sorted(strategies)), max_size=3, unique=True))
    overrides = {name: data.draw(strategies[name] | strategies[name] | WRONG_KINDS) for name in names}
    try:
        twins = [make(kind, **overrides) for _ in range(2)]
    except DOCUMENTED as error:
        event(f"refused: {type(error).__name__}")
        return
    for _ in range(data.draw(st.integers(1, 4))):
        method, *calls = random_call(data, kind)
        results = []  # record values or a number, or the documented exception's type and message
        for call, model in zip(calls, twins):
            try:
                results.append(repr(value_of(call(model))))  # repr: a NaN field equals its twin
            except DOCUMENTED as error:  # a TypeError lists the arguments as given, which differ between twins
                results.append((type(error).__name__, "" if isinstance(error, TypeError) else str(error)))
        got, expected = results
        assert got == expected, method
        event(f"{method}: {got[0] if isinstance(got, tuple) else 'number' if got[0] != '[' else got != '[]'}")
