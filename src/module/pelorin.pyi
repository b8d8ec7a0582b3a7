# Type stub of the extension module: signatures for type checkers and editors.
# The module's docstrings hold no signature lines, so this file is the only place
# where argument types can be read; tests/python/test_packaging.py checks it against
# the built module.

import os
from collections.abc import Iterable, Iterator, Mapping
from typing import (
    Any,
    ClassVar,
    Final,
    Generic,
    Literal,
    SupportsFloat,
    SupportsIndex,
    TypeVar,
    overload,
    type_check_only,
)

import numpy
from numpy.typing import ArrayLike, NDArray
from typing_extensions import Never, Self

_Path = str | bytes | os.PathLike[str] | os.PathLike[bytes]

__version__: str

@type_check_only
class _pybind11_type(type):
    """The metaclass of every class of the module."""

_Item = TypeVar("_Item")  # an element as indexing and iteration return it
_ItemArg = TypeVar("_ItemArg")  # an element as append, insert and assignment take it
_Like = TypeVar("_Like")  # what converts implicitly where the container is expected

@type_check_only
class _Vector(Generic[_Item, _ItemArg, _Like], metaclass=_pybind11_type):
    """The sequence operations that every container offers."""

    @overload
    def __init__(self) -> None: ...
    @overload
    def __init__(self, arg0: Self | _Like, /) -> None: ...
    @overload
    def __init__(self, arg0: Iterable[_ItemArg], /) -> None: ...
    def append(self, x: _ItemArg) -> None: ...
    def clear(self) -> None: ...
    @overload
    def extend(self, L: Self | _Like) -> None: ...
    @overload
    def extend(self, L: Iterable[_ItemArg]) -> None: ...
    def insert(self, i: SupportsIndex, x: _ItemArg) -> None: ...
    @overload
    def pop(self) -> _Item: ...
    @overload
    def pop(self, i: SupportsIndex) -> _Item: ...
    @overload
    def __setitem__(self, arg0: SupportsIndex, arg1: _ItemArg, /) -> None: ...
    @overload
    def __setitem__(self, arg0: slice, arg1: Self | _Like, /) -> None: ...
    @overload
    def __getitem__(self, s: slice) -> Self: ...
    @overload
    def __getitem__(self, arg0: SupportsIndex, /) -> _Item: ...
    @overload
    def __delitem__(self, arg0: SupportsIndex, /) -> None: ...
    @overload
    def __delitem__(self, arg0: slice, /) -> None: ...
    def __iter__(self) -> Iterator[_Item]: ...
    def __bool__(self) -> bool: ...
    def __len__(self) -> int: ...

@type_check_only
class _ComparableVector(_Vector[_Item, _ItemArg, _Like]):
    """Containers whose elements compare equal: all but the record containers."""

    def __eq__(self, arg0: object, /) -> bool: ...
    def __ne__(self, arg0: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def count(self, x: _ItemArg) -> int: ...
    def remove(self, x: _ItemArg) -> None: ...
    def __contains__(self, x: _ItemArg) -> bool: ...

# Host lists convert implicitly to the scalar containers; other iterables go
# through the constructors.
class DoubleVector(_ComparableVector[float, SupportsFloat, list[float]]):
    def __repr__(self) -> str: ...

class IntVector(_ComparableVector[int, SupportsIndex, list[int]]):
    def __repr__(self) -> str: ...

class uint16Vector(_ComparableVector[int, SupportsIndex, list[int]]):
    def __repr__(self) -> str: ...

class TarvexTriggerVector(_Vector[TarvexTrigger, TarvexTrigger, Never]): ...
class MultiPMTTriggerVector(_Vector[MultiPMTTrigger, MultiPMTTrigger, Never]): ...

# Pairs of channel and PE times; the times of a pair convert like a DoubleVector.
class PEListVector(
    _ComparableVector[tuple[int, DoubleVector], tuple[SupportsIndex, DoubleVector | list[float]], Never]
): ...

class EarlyHandling(metaclass=_pybind11_type):
    IGNORE: ClassVar[EarlyHandling]
    ZERO: ClassVar[EarlyHandling]
    WARN: ClassVar[EarlyHandling]
    THROW: ClassVar[EarlyHandling]
    __members__: ClassVar[dict[str, EarlyHandling]]
    def __init__(self, value: SupportsIndex) -> None: ...
    def __repr__(self, /) -> str: ...
    def __str__(self, /) -> str: ...
    @property
    def name(self, /) -> str: ...
    @property
    def value(self, /) -> int: ...
    def __getstate__(self, /) -> int: ...
    def __setstate__(self, state: SupportsIndex, /) -> None: ...
    def __hash__(self, /) -> int: ...
    @overload
    def __eq__(self, other: EarlyHandling, /) -> bool: ...
    @overload
    def __eq__(self, other: object, /) -> bool: ...
    @overload
    def __ne__(self, other: EarlyHandling, /) -> bool: ...
    @overload
    def __ne__(self, other: object, /) -> bool: ...
    def __int__(self, /) -> int: ...
    def __index__(self, /) -> int: ...

IGNORE: EarlyHandling
ZERO: EarlyHandling
WARN: EarlyHandling
THROW: EarlyHandling

class TarvexTrigger(metaclass=_pybind11_type):
    SECONDS_PER_TICK: Final[float]  # read-only
    @property
    def channel(self) -> int: ...
    @channel.setter
    def channel(self, arg0: SupportsIndex, /) -> None: ...
    @property
    def trigger_time_s(self) -> int: ...
    @trigger_time_s.setter
    def trigger_time_s(self, arg0: SupportsIndex, /) -> None: ...
    @property
    def trigger_time_ticks(self) -> int: ...
    @trigger_time_ticks.setter
    def trigger_time_ticks(self, arg0: SupportsIndex, /) -> None: ...
    @property
    def baseline(self) -> float: ...
    @baseline.setter
    def baseline(self, arg0: SupportsFloat, /) -> None: ...
    @property
    def intsum(self) -> float: ...
    @intsum.setter
    def intsum(self, arg0: SupportsFloat, /) -> None: ...
    @property
    def waveform(self) -> uint16Vector: ...
    @waveform.setter
    def waveform(self, arg0: uint16Vector | list[int], /) -> None: ...

class Tarvex(metaclass=_pybind11_type):
    def __init__(
        self,
        time_spectrum: _Path,
        amplitude_spectrum: _Path,
        pmt_time_step: SupportsFloat,
        adc_step: SupportsFloat,
        pulse_shape: _Path,
        jitter: SupportsIndex,
        gain: SupportsFloat,
        offset: SupportsFloat,
        preamp_clip: SupportsFloat,
        noise: SupportsFloat,
        clip: SupportsFloat,
        waveform_samples: SupportsIndex,
        retrigger_offset: SupportsIndex,
        trigger_kernel: IntVector | list[int],
        adc_threshold: SupportsIndex,
        trigger_norm: SupportsIndex,
        trigger_offset: SupportsIndex,
        seed: SupportsIndex,
        early_handling: EarlyHandling = EarlyHandling.WARN,
    ) -> None: ...
    @overload
    def simulate(self, pe_times: DoubleVector | list[float], channel: SupportsIndex = 0) -> TarvexTriggerVector: ...
    @overload
    def simulate(self, pe_times: ArrayLike, channel: SupportsIndex = 0) -> TarvexTriggerVector: ...
    @overload
    def simulate_external_trigger(
        self,
        pe_times: DoubleVector | list[float],
        trigger_times: DoubleVector | list[float],
        readout_window: SupportsFloat,
        channel: SupportsIndex = 0,
    ) -> TarvexTriggerVector: ...
    @overload
    def simulate_external_trigger(
        self, pe_times: ArrayLike, trigger_times: ArrayLike, readout_window: SupportsFloat, channel: SupportsIndex = 0
    ) -> TarvexTriggerVector: ...
    def calibrate_delay(self, num_pes: SupportsIndex, num_sim: SupportsIndex) -> float: ...
    def simulate_pe_list(self, pe_list: PEListVector) -> TarvexTriggerVector: ...

class MultiPMTTrigger(metaclass=_pybind11_type):
    @property
    def time(self) -> float: ...
    @time.setter
    def time(self, arg0: SupportsFloat, /) -> None: ...
    @property
    def channel(self) -> int: ...
    @channel.setter
    def channel(self, arg0: SupportsIndex, /) -> None: ...
    @property
    def time_over_threshold(self) -> float: ...
    @time_over_threshold.setter
    def time_over_threshold(self, arg0: SupportsFloat, /) -> None: ...
    @property
    def adc_sample(self) -> int: ...
    @adc_sample.setter
    def adc_sample(self, arg0: SupportsIndex, /) -> None: ...

class MultiPMT(metaclass=_pybind11_type):
    def __init__(
        self,
        time_spectrum: _Path,
        amplitude_spectrum: _Path,
        pmt_time_step: SupportsFloat,
        tot_step: SupportsFloat,
        tot_pulse_shape: _Path,
        tot_threshold: SupportsFloat,
        tot_dead_time: SupportsFloat,
        tot_noise: SupportsFloat,
        tot_jitter: SupportsFloat,
        adc_step: SupportsFloat,
        adc_pulse_shape: _Path,
        adc_jitter: SupportsIndex,
        adc_gain: SupportsFloat,
        adc_offset: SupportsFloat,
        adc_noise: SupportsFloat,
        adc_clip: SupportsFloat,
        sample_delay: SupportsFloat,
        seed: SupportsIndex,
    ) -> None: ...
    @overload
    def simulate(self, pe_times: DoubleVector | list[float], channel: SupportsIndex = 0) -> MultiPMTTriggerVector: ...
    @overload
    def simulate(self, pe_times: ArrayLike, channel: SupportsIndex = 0) -> MultiPMTTriggerVector: ...
    def calibrate_delay(self, num_pes: SupportsIndex, num_sim: SupportsIndex) -> float: ...
    def simulate_pe_list(self, pe_list: PEListVector) -> MultiPMTTriggerVector: ...

def generate_pe_list(
    num_channels: SupportsIndex, pes_per_channel: SupportsIndex, time_interval: SupportsFloat
) -> PEListVector: ...
def records_to_array(
    records: TarvexTriggerVector | MultiPMTTriggerVector,
    waveform_samples: SupportsIndex | None = None,
    tot_step: SupportsFloat | None = None,
) -> NDArray[numpy.void]: ...
def pe_list_from_arrays(
    channels: Mapping[int, ArrayLike] | ArrayLike, times: ArrayLike | None = None
) -> PEListVector: ...
def records_to_columns(
    records: TarvexTriggerVector | MultiPMTTriggerVector, tot_step: SupportsFloat | None = None
) -> dict[str, NDArray[Any]]: ...
def simulate_pe_list(
    model: Tarvex | MultiPMT, pe_list: PEListVector | Mapping[int, ArrayLike] | tuple[ArrayLike, ArrayLike]
) -> TarvexTriggerVector | MultiPMTTriggerVector: ...
def analog_signal(model: Tarvex | MultiPMT, pe_times: ArrayLike) -> dict[str, Any]: ...
def check_model_arguments(model: type[Tarvex] | type[MultiPMT], /, **arguments: object) -> None: ...
_AnyPEs = (
    PEListVector | Mapping[int, ArrayLike] | tuple[ArrayLike, ArrayLike] | tuple[ArrayLike, ArrayLike, ArrayLike]
)

@overload
def read_out(
    model: Tarvex | MultiPMT,
    pe_list: _AnyPEs,
    *,
    truth: Literal[False] = False,
    continuous: bool = False,
    span: tuple[SupportsFloat, SupportsFloat] | None = None,
) -> NDArray[numpy.void]: ...
@overload
def read_out(
    model: Tarvex | MultiPMT,
    pe_list: _AnyPEs,
    *,
    truth: Literal[True],
    continuous: bool = False,
    span: tuple[SupportsFloat, SupportsFloat] | None = None,
) -> tuple[NDArray[numpy.void], NDArray[numpy.void]]: ...
@overload
def read_out(
    model: Tarvex | MultiPMT,
    pe_list: _AnyPEs,
    *,
    truth: bool = False,
    continuous: bool = False,
    span: tuple[SupportsFloat, SupportsFloat] | None = None,
) -> NDArray[numpy.void] | tuple[NDArray[numpy.void], NDArray[numpy.void]]: ...

# PEs as columns: the channel and time (seconds) of every PE, optionally with its source code:
# 0 signal, 1 dark count, 2 afterpulse (merge_pes and add_afterpulses return uint8 sources).
_PEColumns = tuple[ArrayLike, ArrayLike] | tuple[ArrayLike, ArrayLike, ArrayLike]
_LabelledPEs = tuple[NDArray[numpy.int32], NDArray[numpy.float64], NDArray[numpy.uint8]]

def dark_counts(
    rate: SupportsFloat | ArrayLike,
    start: SupportsFloat,
    stop: SupportsFloat,
    channels: SupportsIndex | ArrayLike,
    seed: SupportsIndex,
) -> tuple[NDArray[numpy.int32], NDArray[numpy.float64]]: ...
def merge_pes(signal: _PEColumns, dark: _PEColumns) -> _LabelledPEs: ...
def add_afterpulses(
    pes: _PEColumns, probability: SupportsFloat, delay_spectrum: _Path, seed: SupportsIndex
) -> _LabelledPEs: ...
