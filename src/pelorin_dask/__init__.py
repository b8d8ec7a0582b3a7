"""Read out a large PE workload in blocks, in this process or on a Dask cluster.

The workload is split into blocks (of channels, of events, of time slices). Every
block is read out by a model of its own, built where the block runs from the same
constructor arguments and from a seed derived from the caller's seed and the block's
index (`block_seed`), and becomes a NumPy structured array of its records
(`pelorin.records_to_array`), with truth=True also of the truth of its PEs
(`TRUTH_DTYPE`). The records depend on the blocking only: the sequential path, one
worker or many give identical arrays.

Models and pelorin containers cannot be pickled, so only constructor arguments, PE
arrays and record arrays travel between processes. Every worker opens the spectrum
and pulse-shape files itself: they must be readable there under the same paths.

Dask (`dask.distributed`) and pyarrow are optional, the extra `dask` of pelorin
(`pip install ".[dask]"`): this module imports neither until a client or a Parquet
file asks for it.
"""

from . import _parquet
from ._blocks import TRUTH_DTYPE, Block, ModelArguments, PEs, block_seed, read_out_block
from ._parquet import write_parquet, write_parquet_dataset
from ._scheduling import read_out, read_out_blocks

# For benchmarks/bench_dask.py, which compares the part files with the tables the writer makes.
_arrow_schema, _arrow_table = _parquet.arrow_schema, _parquet.arrow_table

__all__ = ["TRUTH_DTYPE", "Block", "ModelArguments", "PEs", "block_seed", "read_out", "read_out_block",
           "read_out_blocks", "write_parquet", "write_parquet_dataset"]
