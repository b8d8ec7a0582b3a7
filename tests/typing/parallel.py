"""Type-checked only, never run: uses of pelorin_dask the types must accept, and refuse."""

import functools
import pathlib

import numpy as np
from distributed import Client

import pelorin
import pelorin_dask

DATA = pathlib.Path("examples/data")


def pes(block: int) -> tuple[np.ndarray, np.ndarray]:
    return np.full(3, block), np.arange(3) * 1e-7


def accepted(client: Client) -> float:
    module = pelorin_dask.ModelArguments(pelorin.MultiPMT, time_spectrum=DATA / "t", pmt_time_step=1e-9)
    built: pelorin.MultiPMT = module.build(pelorin_dask.block_seed(1, 2))
    blocks: list[pelorin_dask.Block] = [{3: [1e-7]}, (np.array([1]), [2e-7]), functools.partial(pes, 2),
                                        lambda: pelorin.generate_pe_list(2, 3, 1e-8)]
    records = pelorin_dask.read_out(module, blocks, 7, client=client, progress=True, timeout=60.0)
    records = np.concatenate([records, *pelorin_dask.read_out_blocks(module, blocks, seed=7)])
    camera = pelorin_dask.ModelArguments(pelorin.Tarvex, waveform_samples=32)
    width: int | None = camera.waveform_samples()
    written: int = pelorin_dask.write_parquet(DATA / "r.parquet", camera, blocks, 7) + len(records) + (width or 0)
    written += pelorin_dask.write_parquet_dataset("parts", camera, blocks, 7, client=client, progress=True, timeout=9.0)
    return written + built.calibrate_delay(1, 1)


def refused(camera: pelorin_dask.ModelArguments[pelorin.Tarvex]) -> None:
    tarvex: pelorin.Tarvex = pelorin_dask.ModelArguments(pelorin.MultiPMT).build(1)  # type: ignore[assignment]
    pelorin_dask.ModelArguments(pelorin.DoubleVector)  # type: ignore[type-var]
    pelorin_dask.read_out(pelorin.Tarvex, [], 1)  # type: ignore[arg-type]
    pelorin_dask.read_out_blocks(camera, [[1e-7]], 1)  # type: ignore[list-item]
    pelorin_dask.write_parquet(None, camera, [], 1)  # type: ignore[arg-type]
    pelorin_dask.write_parquet_dataset(DATA, camera, [], 0.5)  # type: ignore[arg-type]
