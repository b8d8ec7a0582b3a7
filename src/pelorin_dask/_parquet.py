"""Parquet output: all blocks into one file written here, or each block into a file of its
own written where the block runs."""

from __future__ import annotations

import contextlib
import functools
import os
import pathlib
import uuid
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

import numpy as np
from numpy.typing import NDArray

from ._blocks import AnyModel, Block, empty_records, read_out_block
from ._scheduling import check_arguments, read_out_blocks, run

if TYPE_CHECKING:
    from distributed import Client


def _pyarrow_parquet(caller: str) -> Any:
    """pyarrow.parquet, or an ImportError that says where it comes from."""
    try:
        import pyarrow.parquet as pq
    except ImportError:
        raise ImportError(f"{caller} needs pyarrow, part of the dask extra: pip install '.[dask]'") from None
    return pq


def arrow_schema(dtype: np.dtype[np.void]) -> Any:
    """The Arrow schema of a record dtype: a column per field, the waveform a fixed-size list."""
    import pyarrow as pa

    fields = []
    for name in dtype.names or ():
        field = dtype[name]
        value_type = pa.from_numpy_dtype(field.base)
        fields.append((name, pa.list_(value_type, field.shape[0]) if field.shape else value_type))
    return pa.schema(fields)


def arrow_table(array: NDArray[np.void], schema: Any) -> Any:
    """The records of a structured array as an Arrow table of `schema`."""
    import pyarrow as pa

    columns = []
    for name in schema.names:
        column = np.ascontiguousarray(array[name])
        columns.append(pa.FixedSizeListArray.from_arrays(pa.array(column.ravel()), column.shape[1])
                       if column.ndim == 2 else pa.array(column))
    return pa.Table.from_arrays(columns, schema=schema)


def write_parquet(path: str | os.PathLike[str], model: AnyModel, blocks: Sequence[Block], seed: int, *,
                  client: Client | None = None, progress: bool = False, timeout: float | None = None) -> int:
    """Writes the records of all blocks to one Parquet file, block after block.

    Columns are the fields of the record arrays, the camera's waveform a fixed-size
    list of uint16; no row group spans two blocks. Only the blocks in flight are held
    in memory. The file appears at `path` once complete; a failed readout leaves
    whatever was there untouched. Only the records are written: the truth of the PEs
    comes from read_out or read_out_blocks with truth=True.

    Parameters
    ----------
    path : str or os.PathLike
        The file to write, in an existing directory
    model : ModelArguments
        The model class and its arguments, from which every block builds its model
    blocks : Sequence[Block]
        The blocks: each a mapping {channel: times}, a pair (channels, times), a triple
        (channels, times, sources) or a function returning one
    seed : int
        Base seed, non-negative; block i's model gets block_seed(seed, i)
    client : distributed.Client, optional
        Runs the blocks on the client's cluster (default is this process)
    progress : bool, optional
        Writes the number of blocks gathered so far to the standard error stream (default is False)
    timeout : float, optional
        Cluster only: seconds to wait for any one block's result (default is no limit)

    Returns
    -------
    int
        The number of records written

    Raises
    ------
    ImportError
        If pyarrow is not installed
    IsADirectoryError
        If path is a directory
    FileNotFoundError
        If the directory of path does not exist
    TypeError, ValueError, TimeoutError
        As for read_out_blocks
    """
    pq = _pyarrow_parquet("write_parquet")
    target = pathlib.Path(path)
    if target.is_dir():
        raise IsADirectoryError(f"{target} is a directory, not a file name")
    if not target.parent.is_dir():
        raise FileNotFoundError(f"no directory {target.parent} to write {target.name} in")
    arrays = read_out_blocks(model, blocks, seed, client=client, progress=progress, timeout=timeout)
    schema = arrow_schema(empty_records(model).dtype)
    # Beside the target, so that the rename cannot cross file systems.
    partial = target.with_name(f".{target.name}.{uuid.uuid4().hex}.partial")
    written = 0
    try:
        with pq.ParquetWriter(partial, schema) as writer:
            for array in arrays:
                if len(array):
                    writer.write_table(arrow_table(array, schema))
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
    pq = _pyarrow_parquet("write_parquet_dataset")
    if not os.path.isdir(directory):
        raise FileNotFoundError(f"no directory {directory} where block {index} runs; "
                                "this process and every worker must reach it under that path")
    array = read_out_block(model, block, seed, index)
    # A name of its own per attempt: a block whose worker was lost runs again elsewhere. The
    # client removes the files of a failed readout, a failed write's included, by the token.
    partial = os.path.join(directory, f".{_part_name(index, width)}.{token}-{uuid.uuid4().hex[:8]}.partial")
    pq.write_table(arrow_table(array, arrow_schema(empty_records(model).dtype)), partial)
    return partial, len(array)


def _new_dataset_directory(directory: str | os.PathLike[str]) -> tuple[pathlib.Path, bool]:
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


def write_parquet_dataset(directory: str | os.PathLike[str], model: AnyModel, blocks: Sequence[Block], seed: int,
                          *, client: Client | None = None, progress: bool = False,
                          timeout: float | None = None) -> int:
    """Writes the records of each block to a Parquet file of its own in one directory.

    Block i goes to part-0000i.parquet (more digits from 100 000 blocks on), so the
    files sort in block order and read back as one dataset
    (`pyarrow.parquet.read_table(directory)`) with the records of write_parquet; a
    block without records gives a file without rows. With a client, each worker
    writes the blocks it reads out and sends back only a file name and a count: the
    records never pass through this process. The directory must therefore be
    reachable under the same path here and on every worker (any directory for a
    LocalCluster, a shared file system on a cluster). Blocks are written under hidden
    temporary names, renamed once every block is written: a failed readout leaves no
    part file (a block still running when another fails may leave a hidden
    `.part-*.partial` file). Every block is submitted at once. Only the records are
    written: the truth of the PEs comes from read_out or read_out_blocks with truth=True.

    Parameters
    ----------
    directory : str or os.PathLike
        The directory of the part files, made if missing; it must not hold part files yet
    model : ModelArguments
        The model class and its arguments, from which every block builds its model
    blocks : Sequence[Block]
        The blocks: each a mapping {channel: times}, a pair (channels, times), a triple
        (channels, times, sources) or a function returning one
    seed : int
        Base seed, non-negative; block i's model gets block_seed(seed, i)
    client : distributed.Client, optional
        Runs the blocks on the client's cluster (default is this process)
    progress : bool, optional
        Writes the number of blocks gathered so far to the standard error stream (default is False)
    timeout : float, optional
        Cluster only: seconds to wait for any one block's result (default is no limit)

    Returns
    -------
    int
        The number of records written

    Raises
    ------
    ImportError
        If pyarrow is not installed
    NotADirectoryError
        If directory is a file
    FileNotFoundError
        If the parent of directory does not exist, or a worker or this process cannot reach it
    FileExistsError
        If directory already holds part files
    TypeError, ValueError, TimeoutError
        As for read_out_blocks
    """
    _pyarrow_parquet("write_parquet_dataset")
    check_arguments(model, blocks, seed, timeout)
    target, created = _new_dataset_directory(directory)
    width = max(5, len(str(len(blocks) - 1)))
    token = uuid.uuid4().hex[:16]
    task = functools.partial(_write_part, str(target), token, width)
    partials: list[str] = []
    written, committed = 0, 0
    try:
        for partial, count in run(task, model, blocks, seed, client, progress, timeout, submit_all=True):
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
