"""Blocks and their seeds: the model arguments every block builds its model from, and the
readout of one block into a record array."""

from __future__ import annotations

import dataclasses
import math
import operator
import pickle
from collections.abc import Callable, Iterable, Iterator, Mapping, Sequence
from typing import Any, Generic, Literal, TypeVar, Union, cast, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray

import pelorin

# Union, not `|`: type aliases are evaluated at import, and Python 3.9 has no `X | Y` of types.
PEs = Union[Mapping[int, ArrayLike], tuple[ArrayLike, ArrayLike], tuple[ArrayLike, ArrayLike, ArrayLike]]
"""The PEs of a block as `pelorin.read_out` takes them: {channel: times}, (channels, times) or
(channels, times, sources) with a source label (0 to 255) per PE."""

Block = Union[PEs, Callable[[], Union[PEs, pelorin.PEListVector]]]
"""A block: its PEs, or a function without arguments that returns them where the block runs."""

BLOCK_FORMS = ("a mapping {channel: times}, a pair (channels, times), a triple (channels, times, sources) "
               "or a function returning one")

TRUTH_DTYPE: np.dtype[np.void] = np.dtype({
    "names": ["channel", "time", "delay", "amplitude", "record", "source", "block"],
    "formats": ["<i4", "<f8", "<f8", "<f4", "<i4", "u1", "<i4"],
    "offsets": [20, 0, 8, 16, 24, 28, 32],
    "itemsize": 40})
"""The truth of a block's PEs: the fields of `pelorin.read_out`'s truth at their offsets, and
the index of the block (int32) at 32; rows of 40 bytes keep the float64 fields aligned.
(numpy.concatenate packs such fields unless given dtype=TRUTH_DTYPE.)"""

Model = TypeVar("Model", pelorin.Tarvex, pelorin.MultiPMT)


def _is_model_class(value: object) -> bool:
    return isinstance(value, type) and issubclass(value, (pelorin.Tarvex, pelorin.MultiPMT))


class ModelArguments(Generic[Model]):
    """A model class with its constructor arguments, all but the seed, given by keyword.

    Every block builds its own model from these arguments (`build`), so they must
    pickle: paths, numbers, lists, enumeration members.

    Parameters
    ----------
    model : type
        The model class, pelorin.Tarvex or pelorin.MultiPMT
    **arguments
        The constructor arguments of `model` except seed

    Raises
    ------
    TypeError
        If model is neither class, an argument cannot be pickled, or
        `pelorin.check_model_arguments` refuses the arguments: an unknown keyword, a
        missing argument (all but seed are required) or a value of a type the
        constructor does not take, named in a one-line message. Raised here, on the
        client, before any worker builds a model.
    ValueError
        If seed is among the arguments
    """

    model: type[Model]
    arguments: dict[str, Any]

    def __init__(self, model: type[Model], **arguments: Any) -> None:
        if not _is_model_class(model):
            raise TypeError(f"model must be pelorin.Tarvex or pelorin.MultiPMT, not {model!r}")
        if "seed" in arguments:
            raise ValueError("leave out seed: every block's seed derives from the seed given to the readout")
        for name, value in arguments.items():
            try:
                pickle.dumps(value)
            except Exception as error:
                raise TypeError(f"argument {name} cannot be sent to a worker ({error}); "
                                "give plain values such as numbers, paths and lists") from None
        # The constructor's own conversion checks, without building a model or reading a file.
        pelorin.check_model_arguments(model, **arguments)
        self.model = model
        self.arguments = dict(arguments)

    def build(self, seed: int) -> Model:
        """Constructs the model.

        Parameters
        ----------
        seed : int
            Random generator seed of the model

        Returns
        -------
        pelorin.Tarvex or pelorin.MultiPMT
            A new model of the class, from the stored arguments and seed
        """
        return self.model(**self.arguments, seed=seed)

    def waveform_samples(self) -> int | None:
        """Width of the camera's waveform field: the length of every triggered window.

        Returns
        -------
        int or None
            The waveform_samples argument of a Tarvex, None for MultiPMT or when not given
        """
        if issubclass(self.model, pelorin.Tarvex) and "waveform_samples" in self.arguments:
            return operator.index(self.arguments["waveform_samples"])
        return None

    def __repr__(self) -> str:
        arguments = ", ".join(f"{name}={value!r}" for name, value in self.arguments.items())
        return f"ModelArguments({self.model.__name__}, {arguments})"


# Union for the same reason as above.
AnyModel = Union[ModelArguments[pelorin.Tarvex], ModelArguments[pelorin.MultiPMT]]


def non_negative(value: int, name: str) -> int:
    """`value` as an int, refused unless it is a non-negative integer."""
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None
    if number < 0:
        raise ValueError(f"{name} must not be negative, not {number}")
    return number


def block_seed(seed: int, block: int) -> int:
    """The model seed of one block of a readout.

    The first 32-bit word that `numpy.random.SeedSequence(seed).spawn(n)[block]`
    (equally `SeedSequence(seed, spawn_key=(block,))`) generates, read as a signed
    32-bit int, the type of the models' seed (the engine takes the same 32 bits).

    Parameters
    ----------
    seed : int
        Base seed of the readout, of any size
    block : int
        Index of the block

    Returns
    -------
    int
        The seed of the block's model, a signed 32-bit value

    Raises
    ------
    TypeError
        If seed or block is not an int
    ValueError
        If seed or block is negative
    """
    sequence = np.random.SeedSequence(non_negative(seed, "seed"), spawn_key=(non_negative(block, "block"),))
    return int(sequence.generate_state(1, np.uint32).view(np.int32)[0])


Span = tuple[float, float]


@dataclasses.dataclass(frozen=True)
class Readout:
    """The options of `pelorin.read_out` that every block is read out with."""

    truth: bool = False
    continuous: bool = False
    span: Span | None = None


def _flag(value: object, name: str) -> bool:
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be a bool, not {type(value).__name__}")
    return bool(value)


def _real(value: object) -> bool:
    return isinstance(value, (int, float, np.integer, np.floating)) and not isinstance(value, (bool, np.bool_))


def readout_options(truth: object, continuous: object, span: object) -> Readout:
    """The options, refused unless `pelorin.read_out` takes them; the span's range is the model's to check."""
    options = Readout(_flag(truth, "truth"), _flag(continuous, "continuous"))
    if span is None:
        return options
    if not isinstance(span, (tuple, list)) or len(span) != 2 or not all(_real(end) for end in span):
        raise TypeError(f"span must be a pair (start, stop) of times in seconds, not {span!r}")
    start, stop = float(span[0]), float(span[1])
    if not options.continuous:
        raise ValueError("span applies to the continuous readout only: give continuous=True")
    if not (math.isfinite(start) and math.isfinite(stop)) or start < 0 or stop < start:
        raise ValueError(f"span must run from a finite start at 0 or later to a stop at or after it, not {span!r}")
    return dataclasses.replace(options, span=(start, stop))


def pe_list(pes: object, index: int) -> pelorin.PEListVector:
    """The PEs that block `index` gave as a PE list."""
    if isinstance(pes, pelorin.PEListVector):
        return pes
    if isinstance(pes, Mapping):
        return pelorin.pe_list_from_arrays(pes)
    if isinstance(pes, tuple) and len(pes) == 2:
        return pelorin.pe_list_from_arrays(*pes)
    raise TypeError(f"block {index} gave a {type(pes).__name__}; give {BLOCK_FORMS}")


# PEs per model call. A call holds the interpreter lock throughout, and a Dask worker
# whose lock is held answers neither transfers nor heartbeats: after the scheduler's
# worker-ttl (5 minutes) it is restarted and its block started again.
_CHUNK_PES = 50_000

_MAX_RECORDS = 2**31 - 1  # the truth's record indices are int32

Triple = tuple[ArrayLike, ArrayLike, ArrayLike]


def _chunks(pes: pelorin.PEListVector) -> Iterator[pelorin.PEListVector]:
    """Runs of whole consecutive entries of about _CHUNK_PES PEs, at least one run."""
    start, count = 0, 0
    for end, (_, times) in enumerate(pes, 1):
        count += len(times)
        if count >= _CHUNK_PES:
            yield pes[start:end]
            start, count = end, 0
    if start < len(pes) or start == 0:
        yield pes[start:]


def _is_triple(pes: object) -> bool:
    return isinstance(pes, tuple) and len(pes) == 3


def _labelled_chunks(pes: Triple) -> list[Triple]:
    """Runs of whole entries of about _CHUNK_PES PEs, each a triple of its PEs grouped as
    `pelorin.read_out` groups them (entries in order of first appearance of their channel, PEs
    in array order), so that it keeps each run as it is. A triple it refuses goes whole, for
    its message to give the caller's indices."""
    try:
        channels, times, sources = (np.asarray(part) for part in pes)
    except (TypeError, ValueError):
        return [pes]
    if not (channels.ndim == times.ndim == sources.ndim == 1 and len(channels) == len(times) == len(sources)
            and channels.dtype.kind in "iu" and sources.dtype.kind in "iu" and times.dtype.kind in "iuf"):
        return [pes]
    if len(channels) <= _CHUNK_PES or int(channels.min()) < -(2**31) or int(channels.max()) >= 2**31:
        return [pes]
    if int(sources.min()) < 0 or int(sources.max()) > 255 or not np.isfinite(times).all():
        return [pes]
    _, first, inverse = np.unique(channels, return_index=True, return_inverse=True)
    rank = np.empty_like(first)
    rank[np.argsort(first)] = np.arange(len(first))
    entry = rank[inverse.reshape(-1)]
    order = np.argsort(entry, kind="stable")
    channels, times, sources = channels[order], times[order], sources[order]
    runs: list[Triple] = []
    start, end = 0, 0
    for size in np.bincount(entry).tolist():  # PEs per entry, in entry order
        end += size
        if end - start >= _CHUNK_PES:
            runs.append((channels[start:end], times[start:end], sources[start:end]))
            start = end
    if start < end:
        runs.append((channels[start:], times[start:], sources[start:]))
    return runs


def _fitted(records: NDArray[np.void], model: AnyModel) -> NDArray[np.void]:
    """Records of `pelorin.read_out`, whose camera waveform field is as wide as the longest window,
    in the dtype of the model's blocks: waveform_samples wide, padded with 0 as records_to_array pads."""
    dtype = empty_records(model).dtype
    if records.dtype == dtype:
        return records
    fitted = np.zeros(len(records), dtype)
    for name in dtype.names or ():
        if dtype[name].shape:  # the waveform
            width, samples = records.dtype[name].shape[0], dtype[name].shape[0]
            if width > samples:
                raise ValueError(f"a window of {width} samples is longer than waveform_samples ({samples})")
            fitted[name][:, :width] = records[name]
        else:
            fitted[name] = records[name]
    return fitted


def joined_truth(pieces: Sequence[tuple[NDArray[np.void], NDArray[np.void]]], no_records: NDArray[np.void],
                 no_truth: NDArray[np.void], remedy: str) -> tuple[NDArray[np.void], NDArray[np.void]]:
    """The records and truths of consecutive readouts, given with an empty array of each dtype, as
    those of one: each truth's record indices offset by the records before it, -1 kept."""
    counts = np.array([len(records) for records, _ in pieces], np.int64)
    if counts.sum() > _MAX_RECORDS:
        raise ValueError(f"{counts.sum()} records are more than the truth's record field (int32) indexes; {remedy}")
    records = np.concatenate([no_records, *(records for records, _ in pieces)], dtype=no_records.dtype)
    # Of the given dtype: concatenate would pack the fields of one with offsets of its own.
    truth = np.concatenate([no_truth, *(rows for _, rows in pieces)], dtype=no_truth.dtype)
    before = np.repeat(np.cumsum(counts) - counts, [len(rows) for _, rows in pieces]).astype(np.int32)
    index = truth["record"]
    index += np.where(index >= 0, before, 0).astype(np.int32)
    return records, truth


def _with_block(truth: NDArray[np.void], index: int) -> NDArray[np.void]:
    rows = np.zeros(len(truth), TRUTH_DTYPE)
    for name in truth.dtype.names or ():
        rows[name] = truth[name]
    rows["block"] = index
    return rows


Result = Union[NDArray[np.void], tuple[NDArray[np.void], NDArray[np.void]]]
"""A block's records, with truth=True and its truth."""


def read_out_with(options: Readout, model: AnyModel, block: Block, seed: int, index: int) -> Result:
    """read_out_block with checked options; what each worker runs."""
    pes = block() if callable(block) else block
    entries = None if _is_triple(pes) else pe_list(pes, index)
    built = model.build(block_seed(seed, index))
    # Entries are read out in list order on one engine, so consecutive runs of them
    # on the same model give the records and draws of one call over the whole list.
    if entries is not None and options == Readout():
        arrays = [pelorin.records_to_array(built.simulate_pe_list(run), model.waveform_samples())
                  for run in _chunks(entries)]
        return arrays[0] if len(arrays) == 1 else np.concatenate(arrays)
    runs: Iterable[PEs | pelorin.PEListVector] = (_labelled_chunks(cast(Triple, pes)) if entries is None
                                                  else _chunks(entries))
    records: list[NDArray[np.void]] = []
    truths: list[NDArray[np.void]] = []
    for run in runs:
        result = pelorin.read_out(built, run, truth=options.truth, continuous=options.continuous, span=options.span)
        if isinstance(result, tuple):
            result, truth = result
            truths.append(truth)
        records.append(_fitted(result, model))
    if not options.truth:
        return records[0] if len(records) == 1 else np.concatenate(records)
    gathered, truth = joined_truth(list(zip(records, truths)), records[0][:0], truths[0][:0],
                                   "split the PEs into more blocks")
    return gathered, _with_block(truth, index)


@overload
def read_out_block(model: AnyModel, block: Block, seed: int, index: int, *, truth: Literal[False] = ...,
                   continuous: bool = ..., span: Span | None = ...) -> NDArray[np.void]: ...
@overload
def read_out_block(model: AnyModel, block: Block, seed: int, index: int, *, truth: Literal[True],
                   continuous: bool = ..., span: Span | None = ...) -> tuple[NDArray[np.void], NDArray[np.void]]: ...
@overload
def read_out_block(model: AnyModel, block: Block, seed: int, index: int, *, truth: bool,
                   continuous: bool = ..., span: Span | None = ...) -> Result: ...
def read_out_block(model: AnyModel, block: Block, seed: int, index: int, *, truth: bool = False,
                   continuous: bool = False, span: Span | None = None) -> Result:
    """Reads out one block; what each worker runs.

    Without options equal to ``records_to_array(model.build(block_seed(seed, index)).simulate_pe_list(pes),
    model.waveform_samples())`` on the block's PEs; with them, or with PEs given as
    a triple, to ``pelorin.read_out(model.build(block_seed(seed, index)), pes, truth=truth,
    continuous=continuous, span=span)``, its records in the same dtype (the camera's
    waveform field waveform_samples wide). The PEs are read out in runs of whole entries,
    which give the records and draws of one call.

    Parameters
    ----------
    model : ModelArguments
        The model class and its arguments
    block : Block
        The block's PEs, or a function returning them
    seed : int
        Base seed of the readout
    index : int
        Index of the block, which selects its seed
    truth : bool, optional
        Also return the truth of every PE (default False)
    continuous : bool, optional
        Run the ADC (and the ToT discriminator) over the span (default False)
    span : Tuple[float, float], optional
        (start, stop) of the continuous readout in seconds (default: each entry's own)

    Returns
    -------
    numpy.ndarray or Tuple[numpy.ndarray, numpy.ndarray]
        The block's records as a structured array (`pelorin.records_to_array`); with
        truth=True also the truth, one row per PE in the order of `pelorin.read_out`, of
        dtype TRUTH_DTYPE: its record indices count in these records, its block is index

    Raises
    ------
    TypeError
        If the block gives its PEs in none of the accepted forms, or an option is of the wrong type
    ValueError
        If span is given without continuous=True or runs backwards, or (from the model) lies
        outside the model's time range
    """
    return read_out_with(readout_options(truth, continuous, span), model, block, seed, index)


def empty_records(model: AnyModel) -> NDArray[np.void]:
    """A record array without records, of the dtype the model's blocks give."""
    camera = issubclass(model.model, pelorin.Tarvex)
    empty = pelorin.TarvexTriggerVector() if camera else pelorin.MultiPMTTriggerVector()
    return pelorin.records_to_array(empty, model.waveform_samples())
