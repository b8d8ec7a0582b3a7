"""Scheduling: the blocks run one after the other in this process or on a Dask cluster,
their results gathered in block order."""

from __future__ import annotations

import collections
import functools
import sys
import time
from collections.abc import Callable, Generator, Iterator, Mapping, Sequence
from typing import TYPE_CHECKING, Any, Literal, TypeVar, cast, overload

import numpy as np
from numpy.typing import NDArray

import pelorin

from ._blocks import (
    BLOCK_FORMS,
    TRUTH_DTYPE,
    AnyModel,
    Block,
    ModelArguments,
    Readout,
    Result,
    Span,
    empty_records,
    joined_truth,
    non_negative,
    read_out_block,
    read_out_with,
    readout_options,
)

if TYPE_CHECKING:
    from distributed import Client


def check_arguments(model: object, blocks: object, seed: int, timeout: float | None) -> None:
    """Refuses arguments of a readout before any block runs."""
    if not isinstance(model, ModelArguments):
        raise TypeError(f"model must be a ModelArguments, not {type(model).__name__}")
    if not isinstance(blocks, Sequence) or isinstance(blocks, (str, bytes)):
        raise TypeError(f"blocks must be a sequence, not {type(blocks).__name__}")
    for index, block in enumerate(blocks):
        if isinstance(block, pelorin.PEListVector):
            raise TypeError(f"block {index} is a PEListVector, which cannot be sent to a worker; give {BLOCK_FORMS}")
        if not (callable(block) or isinstance(block, Mapping) or (isinstance(block, tuple) and len(block) in (2, 3))):
            raise TypeError(f"block {index} is a {type(block).__name__}; give {BLOCK_FORMS}")
    non_negative(seed, "seed")
    if timeout is not None and not timeout > 0:
        raise ValueError(f"timeout must be a positive number of seconds, not {timeout!r}")


def _note(error: BaseException, index: int) -> None:
    if sys.version_info >= (3, 11):
        error.add_note(f"(while reading out block {index})")


_Result = TypeVar("_Result")
_Results = Generator[_Result, None, None]
_Task = Callable[[AnyModel, Block, int, int], _Result]
"""What runs for each block: (model, block, seed, index) -> a result small enough to send."""


def _sequential(task: _Task[_Result], model: AnyModel, blocks: Sequence[Block], seed: int) -> _Results[_Result]:
    for index, block in enumerate(blocks):
        try:
            result = task(model, block, seed, index)
        except Exception as error:
            _note(error, index)
            raise
        yield result


def _on_cluster(client: Client, task: _Task[_Result], model: AnyModel, blocks: Sequence[Block], seed: int,
                submit_all: bool, timeout: float | None) -> _Results[_Result]:
    """Task results in block order; unless `submit_all`, twice as many blocks in flight as the
    cluster has threads."""
    import asyncio  # its TimeoutError is what a client raises; the built-in one only from 3.11

    cluster: Any = client  # distributed's methods carry no types
    ahead = len(blocks) if submit_all else max(2 * sum(cluster.nthreads().values()), 2)
    pending: collections.deque[Any] = collections.deque()  # distributed.Future
    submitted = 0
    try:
        for index in range(len(blocks)):
            while submitted < len(blocks) and len(pending) < ahead:
                pending.append(cluster.submit(task, model, blocks[submitted], seed, submitted, pure=False))
                submitted += 1
            try:  # the future stays pending, so that a failure cancels it too
                result: _Result = pending[0].result(timeout=timeout)
            except Exception as error:
                if isinstance(error, asyncio.TimeoutError) and not pending[0].done():
                    raise TimeoutError(f"block {index} gave no result within {timeout} s") from None
                _note(error, index)
                raise
            pending.popleft()
            yield result
    finally:
        for future in pending:
            future.cancel()


class _Progress:
    """Blocks gathered so far, on one line of the standard error stream."""

    def __init__(self, total: int) -> None:
        self.total, self.done, self.start = total, 0, time.monotonic()
        self.show()

    def show(self) -> None:
        elapsed = time.monotonic() - self.start
        left = f", about {elapsed / self.done * (self.total - self.done):.0f} s left" if self.done else ""
        end = "\n" if self.done == self.total else ""
        sys.stderr.write(f"\rblocks {self.done}/{self.total}, {elapsed:.0f} s{left}   {end}")
        sys.stderr.flush()

    def advance(self) -> None:
        self.done += 1
        self.show()


def _with_progress(results: _Results[_Result], total: int) -> _Results[_Result]:
    bar = _Progress(total)
    try:
        for result in results:
            bar.advance()
            yield result
    finally:  # an abandoned iteration cancels the blocks in flight now, not when collected
        results.close()


def run(task: _Task[_Result], model: AnyModel, blocks: Sequence[Block], seed: int, client: Client | None,
        progress: bool, timeout: float | None, submit_all: bool) -> _Results[_Result]:
    """The task's results in block order; the arguments are checked now, the blocks run while iterating."""
    check_arguments(model, blocks, seed, timeout)
    if client is None:
        results = _sequential(task, model, blocks, seed)
    else:
        results = _on_cluster(client, task, model, blocks, seed, submit_all, timeout)
    return _with_progress(results, len(blocks)) if progress else results


def _task(options: Readout) -> _Task[Result]:
    # Without options, the readout as it always was.
    return read_out_block if options == Readout() else functools.partial(read_out_with, options)


@overload
def read_out_blocks(model: AnyModel, blocks: Sequence[Block], seed: int, *, client: Client | None = ...,
                    progress: bool = ..., timeout: float | None = ..., truth: Literal[False] = ...,
                    continuous: bool = ..., span: Span | None = ...) -> Iterator[NDArray[np.void]]: ...
@overload
def read_out_blocks(model: AnyModel, blocks: Sequence[Block], seed: int, *, client: Client | None = ...,
                    progress: bool = ..., timeout: float | None = ..., truth: Literal[True],
                    continuous: bool = ..., span: Span | None = ...
                    ) -> Iterator[tuple[NDArray[np.void], NDArray[np.void]]]: ...
@overload
def read_out_blocks(model: AnyModel, blocks: Sequence[Block], seed: int, *, client: Client | None = ...,
                    progress: bool = ..., timeout: float | None = ..., truth: bool,
                    continuous: bool = ..., span: Span | None = ...) -> Iterator[Result]: ...
def read_out_blocks(model: AnyModel, blocks: Sequence[Block], seed: int, *, client: Client | None = None,
                    progress: bool = False, timeout: float | None = None, truth: bool = False,
                    continuous: bool = False, span: Span | None = None) -> Iterator[Result]:
    """Reads out the blocks one at a time, yielding each block's records in block order.

    Without `client` the blocks run one after the other in this process; with a client
    they run on its workers, a few more blocks submitted than the cluster has threads,
    so that only those results wait in memory. The arguments are checked when this is
    called, the blocks read out while iterating.

    With truth, continuous or span, or PEs given as a triple, block i is read out by
    ``pelorin.read_out(model.build(block_seed(seed, i)), pes, truth=truth,
    continuous=continuous, span=span)``, its records in the dtype of the others (the
    camera's waveform field waveform_samples wide). Without them the records are those
    of simulate_pe_list, and a block's records are the same with truth as without.

    Parameters
    ----------
    model : ModelArguments
        The model class and its arguments, from which every block builds its model
    blocks : Sequence[Block]
        The blocks: each a mapping {channel: times}, a pair (channels, times), a triple
        (channels, times, sources) with a source label (0 to 255) per PE, or a function returning one
    seed : int
        Base seed, non-negative; block i's model gets block_seed(seed, i)
    client : distributed.Client, optional
        Runs the blocks on the client's cluster (default is this process)
    progress : bool, optional
        Writes the number of blocks gathered so far to the standard error stream (default is False)
    timeout : float, optional
        Cluster only: seconds to wait for any one block's result (default is no limit)
    truth : bool, optional
        Also yield the truth of every PE (default False)
    continuous : bool, optional
        Run the ADC (and the ToT discriminator) over the span, so that noise alone can trigger (default False)
    span : Tuple[float, float], optional
        (start, stop) of the continuous readout in seconds (default: each entry's own, around its PEs)

    Returns
    -------
    Iterator[numpy.ndarray] or Iterator[Tuple[numpy.ndarray, numpy.ndarray]]
        The records of each block as a structured array (`pelorin.records_to_array`); with
        truth=True pairs (records, truth): one row per PE of the block, entry by entry as
        `pelorin.read_out` gives them, of dtype TRUTH_DTYPE, whose record field indexes that
        block's records (-1 for none) and whose block field is the block's index

    Raises
    ------
    TypeError
        If model is not a ModelArguments, blocks not a sequence of blocks, seed not an int,
        truth or continuous not a bool or span not a pair of numbers
    ValueError
        If seed is negative, timeout not positive, or span given without continuous=True or
        not from a time at 0 or later to one at or after it (a span beyond the model's time
        range fails in its first block)
    TimeoutError
        If a block gives no result within timeout
    """
    options = readout_options(truth, continuous, span)
    return run(_task(options), model, blocks, seed, client, progress, timeout, submit_all=False)


@overload
def read_out(model: AnyModel, blocks: Sequence[Block], seed: int, *, client: Client | None = ...,
             progress: bool = ..., timeout: float | None = ..., truth: Literal[False] = ...,
             continuous: bool = ..., span: Span | None = ...) -> NDArray[np.void]: ...
@overload
def read_out(model: AnyModel, blocks: Sequence[Block], seed: int, *, client: Client | None = ...,
             progress: bool = ..., timeout: float | None = ..., truth: Literal[True],
             continuous: bool = ..., span: Span | None = ...) -> tuple[NDArray[np.void], NDArray[np.void]]: ...
@overload
def read_out(model: AnyModel, blocks: Sequence[Block], seed: int, *, client: Client | None = ...,
             progress: bool = ..., timeout: float | None = ..., truth: bool,
             continuous: bool = ..., span: Span | None = ...) -> Result: ...
def read_out(model: AnyModel, blocks: Sequence[Block], seed: int, *, client: Client | None = None,
             progress: bool = False, timeout: float | None = None, truth: bool = False,
             continuous: bool = False, span: Span | None = None) -> Result:
    """Reads out all blocks into one structured array, block after block.

    On a cluster every block is submitted at once. The options are those of read_out_blocks.

    Parameters
    ----------
    model : ModelArguments
        The model class and its arguments, from which every block builds its model
    blocks : Sequence[Block]
        The blocks: each a mapping {channel: times}, a pair (channels, times), a triple
        (channels, times, sources) with a source label (0 to 255) per PE, or a function returning one
    seed : int
        Base seed, non-negative; block i's model gets block_seed(seed, i)
    client : distributed.Client, optional
        Runs the blocks on the client's cluster (default is this process)
    progress : bool, optional
        Writes the number of blocks gathered so far to the standard error stream (default is False)
    timeout : float, optional
        Cluster only: seconds to wait for any one block's result (default is no limit)
    truth : bool, optional
        Also return the truth of every PE (default False)
    continuous : bool, optional
        Run the ADC (and the ToT discriminator) over the span, so that noise alone can trigger (default False)
    span : Tuple[float, float], optional
        (start, stop) of the continuous readout in seconds (default: each entry's own, around its PEs)

    Returns
    -------
    numpy.ndarray or Tuple[numpy.ndarray, numpy.ndarray]
        The records of all blocks (`pelorin.records_to_array`), empty for no blocks; with
        truth=True also the truth of all blocks in block order (TRUTH_DTYPE), whose record
        field indexes these records (-1 for none) and whose block field gives the block

    Raises
    ------
    TypeError, ValueError, TimeoutError
        As for read_out_blocks; ValueError also if truth=True and the records are more than
        the int32 record field indexes (read_out_blocks indexes them block by block)
    """
    options = readout_options(truth, continuous, span)
    results = list(run(_task(options), model, blocks, seed, client, progress, timeout, submit_all=True))
    if not options.truth:
        return np.concatenate([empty_records(model), *cast(list[NDArray[np.void]], results)])
    pieces = cast(list[tuple[NDArray[np.void], NDArray[np.void]]], results)
    return joined_truth(pieces, empty_records(model), np.empty(0, TRUTH_DTYPE),
                        "read them block by block with read_out_blocks")
