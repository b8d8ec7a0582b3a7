"""Blocks and their seeds: the model arguments every block builds its model from, and the
readout of one block into a record array."""

from __future__ import annotations

import operator
import pickle
from collections.abc import Callable, Iterator, Mapping
from typing import Any, Generic, TypeVar, Union

import numpy as np
from numpy.typing import ArrayLike, NDArray

import pelorin

# Union, not `|`: type aliases are evaluated at import, and Python 3.9 has no `X | Y` of types.
PEs = Union[Mapping[int, ArrayLike], tuple[ArrayLike, ArrayLike]]
"""The PEs of a block as `pelorin.pe_list_from_arrays` takes them: {channel: times} or (channels, times)."""

Block = Union[PEs, Callable[[], Union[PEs, pelorin.PEListVector]]]
"""A block: its PEs, or a function without arguments that returns them where the block runs."""

BLOCK_FORMS = "a mapping {channel: times}, a pair (channels, times) or a function returning one"

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


def read_out_block(model: AnyModel, block: Block, seed: int, index: int) -> NDArray[np.void]:
    """Reads out one block; what each worker runs.

    Equal to ``records_to_array(model.build(block_seed(seed, index)).simulate_pe_list(pes),
    model.waveform_samples())`` on the block's PEs.

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

    Returns
    -------
    numpy.ndarray
        The block's records as a structured array (`pelorin.records_to_array`)

    Raises
    ------
    TypeError
        If the block gives its PEs in none of the accepted forms
    """
    pes = pe_list(block() if callable(block) else block, index)
    built = model.build(block_seed(seed, index))
    # Entries are read out in list order on one engine, so consecutive runs of them
    # on the same model give the records of one call over the whole list.
    arrays = [pelorin.records_to_array(built.simulate_pe_list(run), model.waveform_samples()) for run in _chunks(pes)]
    return arrays[0] if len(arrays) == 1 else np.concatenate(arrays)


def empty_records(model: AnyModel) -> NDArray[np.void]:
    """A record array without records, of the dtype the model's blocks give."""
    camera = issubclass(model.model, pelorin.Tarvex)
    empty = pelorin.TarvexTriggerVector() if camera else pelorin.MultiPMTTriggerVector()
    return pelorin.records_to_array(empty, model.waveform_samples())
