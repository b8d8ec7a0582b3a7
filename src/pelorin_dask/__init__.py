"""Read out a large PE workload in blocks, in this process or on a Dask cluster.

The workload is split into blocks (of channels, of events, of time slices). Every
block is read out by a model of its own, built where the block runs from the same
constructor arguments and from a seed derived from the caller's seed and the block's
index (`block_seed`), and becomes a NumPy structured array of its records
(`pelorin.records_to_array`). The records depend on the blocking only: the
sequential path, one worker or many give identical arrays.

Models and pelorin containers cannot be pickled, so only constructor arguments, PE
arrays and record arrays travel between processes. Every worker opens the spectrum
and pulse-shape files itself: they must be readable there under the same paths.

Dask (`dask.distributed`) and pyarrow are optional, the extra `dask` of pelorin
(`pip install ".[dask]"`): this module imports neither until a client or a Parquet
file asks for it.
"""

from __future__ import annotations

import collections
import contextlib
import functools
import operator
import os
import pathlib
import pickle
import sys
import time
import uuid
from collections.abc import Callable, Generator, Iterator, Mapping, Sequence
from typing import TYPE_CHECKING, Any, Generic, Optional, TypeVar, Union

import numpy as np
from numpy.typing import ArrayLike, NDArray

import pelorin

if TYPE_CHECKING:
    from distributed import Client

__all__ = ["Block", "ModelArguments", "PEs", "block_seed", "read_out", "read_out_block", "read_out_blocks",
           "write_parquet", "write_parquet_dataset"]

PEs = Union[Mapping[int, ArrayLike], tuple[ArrayLike, ArrayLike]]
"""The PEs of a block as `pelorin.pe_list_from_arrays` takes them: {channel: times} or (channels, times)."""

Block = Union[PEs, Callable[[], Union[PEs, pelorin.PEListVector]]]
"""A block: its PEs, or a function without arguments that returns them where the block runs."""

_BLOCK_FORMS = "a mapping {channel: times}, a pair (channels, times) or a function returning one"

Model = TypeVar("Model", pelorin.Tarvex, pelorin.MultiPMT)


class ModelArguments(Generic[Model]):
    """A model class with its constructor arguments, all but the seed, given by keyword.

    `build(seed)` constructs the model; every block builds its own from these
    arguments, so they must pickle (paths, numbers, lists, enumeration members).
    """

    model: type[Model]
    arguments: dict[str, Any]

    def __init__(self, model: type[Model], **arguments: Any) -> None:
        if not (isinstance(model, type) and issubclass(model, (pelorin.Tarvex, pelorin.MultiPMT))):
            raise TypeError(f"model must be pelorin.Tarvex or pelorin.MultiPMT, not {model!r}")
        if "seed" in arguments:
            raise ValueError("leave out seed: every block's seed derives from the seed given to the readout")
        for name, value in arguments.items():
            try:
                pickle.dumps(value)
            except Exception as error:
                raise TypeError(f"argument {name} cannot be sent to a worker ({error}); "
                                "give plain values such as numbers, paths and lists") from None
        self.model = model
        self.arguments = dict(arguments)

    def build(self, seed: int) -> Model:
        return self.model(**self.arguments, seed=seed)

    def waveform_samples(self) -> Optional[int]:
        """Width of the camera's waveform field (every triggered window's length); None for MultiPMT."""
        if issubclass(self.model, pelorin.Tarvex) and "waveform_samples" in self.arguments:
            return operator.index(self.arguments["waveform_samples"])
        return None

    def __repr__(self) -> str:
        arguments = ", ".join(f"{name}={value!r}" for name, value in self.arguments.items())
        return f"ModelArguments({self.model.__name__}, {arguments})"


AnyModel = Union[ModelArguments[pelorin.Tarvex], ModelArguments[pelorin.MultiPMT]]


def _non_negative(value: int, name: str) -> int:
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None
    if number < 0:
        raise ValueError(f"{name} must not be negative, not {number}")
    return number


def block_seed(seed: int, block: int) -> int:
    """The model seed of block number `block` in a readout with base seed `seed`.

    The rule: the first 32-bit word that `numpy.random.SeedSequence(seed).spawn(n)[block]`
    (equally `SeedSequence(seed, spawn_key=(block,))`) generates, read as a signed
    32-bit int, the type of the models' `seed` (the engine takes the same 32 bits).
    `seed` and `block` are non-negative ints; `seed` may have any size.
    """
    sequence = np.random.SeedSequence(_non_negative(seed, "seed"), spawn_key=(_non_negative(block, "block"),))
    return int(sequence.generate_state(1, np.uint32).view(np.int32)[0])


def _pe_list(pes: object, index: int) -> pelorin.PEListVector:
    if isinstance(pes, pelorin.PEListVector):
        return pes
    if isinstance(pes, Mapping):
        return pelorin.pe_list_from_arrays(pes)
    if isinstance(pes, tuple) and len(pes) == 2:
        return pelorin.pe_list_from_arrays(*pes)
    raise TypeError(f"block {index} gave a {type(pes).__name__}; give {_BLOCK_FORMS}")


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
    """The records of block number `index` as a structured array; what each worker runs.

    Equal to `records_to_array(model.build(block_seed(seed, index)).simulate_pe_list(pes),
    model.waveform_samples())` on the block's PEs.
    """
    pes = _pe_list(block() if callable(block) else block, index)
    built = model.build(block_seed(seed, index))
    # Entries are read out in list order on one engine, so consecutive runs of them
    # on the same model give the records of one call over the whole list.
    arrays = [pelorin.records_to_array(built.simulate_pe_list(run), model.waveform_samples()) for run in _chunks(pes)]
    return arrays[0] if len(arrays) == 1 else np.concatenate(arrays)


def _check(model: object, blocks: object, seed: int, timeout: Optional[float]) -> None:
    if not isinstance(model, ModelArguments):
        raise TypeError(f"model must be a ModelArguments, not {type(model).__name__}")
    if not isinstance(blocks, Sequence) or isinstance(blocks, (str, bytes)):
        raise TypeError(f"blocks must be a sequence, not {type(blocks).__name__}")
    for index, block in enumerate(blocks):
        if isinstance(block, pelorin.PEListVector):
            raise TypeError(f"block {index} is a PEListVector, which cannot be sent to a worker; give {_BLOCK_FORMS}")
        if not (callable(block) or isinstance(block, Mapping) or (isinstance(block, tuple) and len(block) == 2)):
            raise TypeError(f"block {index} is a {type(block).__name__}; give {_BLOCK_FORMS}")
    _non_negative(seed, "seed")
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


def _on_cluster(client: Any, task: _Task[_Result], model: AnyModel, blocks: Sequence[Block], seed: int,
                submit_all: bool, timeout: Optional[float]) -> _Results[_Result]:
    """Task results in block order; unless `submit_all`, twice as many blocks in flight as the cluster
    has threads. (`client` is a distributed.Client, whose methods carry no types.)"""
    import asyncio  # its TimeoutError is what a client raises; the built-in one only from 3.11

    ahead = len(blocks) if submit_all else max(2 * sum(client.nthreads().values()), 2)
    pending: collections.deque[Any] = collections.deque()  # distributed.Future
    submitted = 0
    try:
        for index in range(len(blocks)):
            while submitted < len(blocks) and len(pending) < ahead:
                pending.append(client.submit(task, model, blocks[submitted], seed, submitted, pure=False))
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


def _run(task: _Task[_Result], model: AnyModel, blocks: Sequence[Block], seed: int, client: Optional[Client],
         progress: bool, timeout: Optional[float], submit_all: bool) -> _Results[_Result]:
    """The task's results in block order; the arguments are checked now, the blocks run while iterating."""
    _check(model, blocks, seed, timeout)
    if client is None:
        results = _sequential(task, model, blocks, seed)
    else:
        results = _on_cluster(client, task, model, blocks, seed, submit_all, timeout)
    return _with_progress(results, len(blocks)) if progress else results


def _with_progress(results: _Results[_Result], total: int) -> _Results[_Result]:
    bar = _Progress(total)
    try:
        for result in results:
            bar.advance()
            yield result
    finally:  # an abandoned iteration cancels the blocks in flight now, not when collected
        results.close()


def read_out_blocks(model: AnyModel, blocks: Sequence[Block], seed: int, *, client: Optional[Client] = None,
                    progress: bool = False, timeout: Optional[float] = None) -> Iterator[NDArray[np.void]]:
    """Yields the records of each block as a structured array, in block order.

    Without `client` the blocks run one after the other in this process; with a
    `dask.distributed.Client` they run on its workers, a few more blocks submitted
    than the cluster has threads, so that only those results wait in memory.
    `progress` writes the blocks gathered so far to the standard error stream;
    `timeout` (seconds, cluster only) bounds the wait for any one block's result.
    Arguments are checked when this is called, the blocks read out while iterating.
    """
    return _run(read_out_block, model, blocks, seed, client, progress, timeout, submit_all=False)


def _empty(model: AnyModel) -> NDArray[np.void]:
    empty = pelorin.TarvexTriggerVector() if issubclass(model.model, pelorin.Tarvex) else pelorin.MultiPMTTriggerVector()
    return pelorin.records_to_array(empty, model.waveform_samples())


def read_out(model: AnyModel, blocks: Sequence[Block], seed: int, *, client: Optional[Client] = None,
             progress: bool = False, timeout: Optional[float] = None) -> NDArray[np.void]:
    """The records of all blocks in one structured array, block after block.

    Arguments as for `read_out_blocks`; on a cluster every block is submitted at once.
    """
    arrays = list(_run(read_out_block, model, blocks, seed, client, progress, timeout, submit_all=True))
    return np.concatenate([_empty(model), *arrays])


def _parquet(caller: str) -> Any:
    """pyarrow.parquet, or an ImportError that says where it comes from."""
    try:
        import pyarrow.parquet as pq
    except ImportError:
        raise ImportError(f"{caller} needs pyarrow, part of the dask extra: pip install '.[dask]'") from None
    return pq


def _arrow_schema(dtype: np.dtype[np.void]) -> Any:
    import pyarrow as pa

    fields = []
    for name in dtype.names or ():
        field = dtype[name]
        value_type = pa.from_numpy_dtype(field.base)
        fields.append((name, pa.list_(value_type, field.shape[0]) if field.shape else value_type))
    return pa.schema(fields)


def _arrow_table(array: NDArray[np.void], schema: Any) -> Any:
    import pyarrow as pa

    columns = []
    for name in schema.names:
        column = np.ascontiguousarray(array[name])
        columns.append(pa.FixedSizeListArray.from_arrays(pa.array(column.ravel()), column.shape[1])
                       if column.ndim == 2 else pa.array(column))
    return pa.Table.from_arrays(columns, schema=schema)


def write_parquet(path: Union[str, os.PathLike[str]], model: AnyModel, blocks: Sequence[Block], seed: int, *,
                  client: Optional[Client] = None, progress: bool = False, timeout: Optional[float] = None) -> int:
    """Writes the records of all blocks to a Parquet file, block after block; returns their count.

    Columns are the fields of the record arrays, the camera's waveform a fixed-size
    list of uint16; no row group spans two blocks. Only the blocks in flight are held
    in memory. The file appears at `path` once complete; a failed readout leaves
    whatever was there untouched. Arguments otherwise as for `read_out_blocks`.
    """
    pq = _parquet("write_parquet")
    target = pathlib.Path(path)
    if target.is_dir():
        raise IsADirectoryError(f"{target} is a directory, not a file name")
    if not target.parent.is_dir():
        raise FileNotFoundError(f"no directory {target.parent} to write {target.name} in")
    arrays = read_out_blocks(model, blocks, seed, client=client, progress=progress, timeout=timeout)
    schema = _arrow_schema(_empty(model).dtype)
    # Beside the target, so that the rename cannot cross file systems.
    partial = target.with_name(f".{target.name}.{uuid.uuid4().hex}.partial")
    written = 0
    try:
        with pq.ParquetWriter(partial, schema) as writer:
            for array in arrays:
                if len(array):
                    writer.write_table(_arrow_table(array, schema))
                    written += len(array)
        os.replace(partial, target)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(partial)
        raise
    return written


def _part_name(index: int, width: int) -> str:
    return f"part-{index:0{width}d}.parquet"


def _write_part(directory: str, token: str, width: int, model: AnyModel, block: Block, seed: int,
                index: int) -> tuple[str, int]:
    """Writes the records of block `index` to a hidden file in `directory`; returns its path and
    their count. What each worker runs for write_parquet_dataset."""
    pq = _parquet("write_parquet_dataset")
    if not os.path.isdir(directory):
        raise FileNotFoundError(f"no directory {directory} where block {index} runs; "
                                "this process and every worker must reach it under that path")
    array = read_out_block(model, block, seed, index)
    # A name of its own per attempt: a block whose worker was lost runs again elsewhere. The
    # client removes the files of a failed readout, a failed write's included, by the token.
    partial = os.path.join(directory, f".{_part_name(index, width)}.{token}-{uuid.uuid4().hex[:8]}.partial")
    pq.write_table(_arrow_table(array, _arrow_schema(_empty(model).dtype)), partial)
    return partial, len(array)


def _new_dataset_directory(directory: Union[str, os.PathLike[str]]) -> tuple[pathlib.Path, bool]:
    """The directory as an absolute path (workers may run elsewhere), made if missing; whether it was."""
    target = pathlib.Path(os.path.abspath(directory))
    if target.exists() and not target.is_dir():
        raise NotADirectoryError(f"{target} is a file, not a directory")
    if not target.parent.is_dir():
        raise FileNotFoundError(f"no directory {target.parent} to make {target.name} in")
    existing = sorted(target.glob("part-*.parquet")) if target.is_dir() else []
    if existing:
        raise FileExistsError(f"{target} already holds part files ({existing[0].name} ...); "
                              "remove them or give another directory")
    created = not target.exists()
    target.mkdir(exist_ok=True)
    return target, created


def write_parquet_dataset(directory: Union[str, os.PathLike[str]], model: AnyModel, blocks: Sequence[Block],
                          seed: int, *, client: Optional[Client] = None, progress: bool = False,
                          timeout: Optional[float] = None) -> int:
    """Writes the records of each block to a Parquet file of its own in `directory`; returns their count.

    Block i goes to part-0000i.parquet (more digits from 100 000 blocks on), so the
    files sort in block order and read back as one dataset
    (`pyarrow.parquet.read_table(directory)`) with the records of `write_parquet`; a
    block without records gives a file without rows. With `client`, each worker
    writes the blocks it reads out and sends back only a file name and a count: the
    records never pass through this process. The directory must therefore be
    reachable under the same path here and on every worker (any directory for a
    LocalCluster, a shared file system on a cluster). It is made if missing and must
    not hold part files yet. Blocks are written under hidden temporary names, renamed
    once every block is written: a failed readout leaves no part file (a block still
    running when another fails may leave a hidden `.part-*.partial` file). Arguments
    otherwise as for `read_out_blocks`; every block is submitted at once.
    """
    _parquet("write_parquet_dataset")
    _check(model, blocks, seed, timeout)
    target, created = _new_dataset_directory(directory)
    width = max(5, len(str(len(blocks) - 1)))
    token = uuid.uuid4().hex[:16]
    task = functools.partial(_write_part, str(target), token, width)
    partials: list[str] = []
    written, committed = 0, 0
    try:
        for partial, count in _run(task, model, blocks, seed, client, progress, timeout, submit_all=True):
            partials.append(partial)
            written += count
        for index, partial in enumerate(partials):
            _commit(partial, target / _part_name(index, width), index)
            committed += 1
    except BaseException:
        for index in range(committed):
            (target / _part_name(index, width)).unlink(missing_ok=True)
        _remove_partials(target, token)
        if created:
            with contextlib.suppress(OSError):  # not empty: a late block's hidden file
                target.rmdir()
        raise
    _remove_partials(target, token)  # of blocks that ran again after their worker was lost
    return written


def _commit(partial: str, final: pathlib.Path, index: int) -> None:
    try:
        os.replace(partial, final)
    except FileNotFoundError:
        raise FileNotFoundError(f"block {index} was written to {partial}, which this process cannot see; "
                                "the directory must be shared by this process and every worker") from None


def _remove_partials(directory: pathlib.Path, token: str) -> None:
    for leftover in directory.glob(f".part-*.{token}-*.partial"):
        leftover.unlink(missing_ok=True)
