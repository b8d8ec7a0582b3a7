"""Type-checked only, never run: uses of pelorin and pelorin_dask the stubs and annotations must accept, and
uses they must refuse (each with a `type: ignore`, which the checkers report when it hides nothing)."""

import functools
import pathlib

import numpy as np
from distributed import Client

import pelorin
import pelorin_dask

DATA = pathlib.Path("examples/data")


def accepted() -> list[float]:
    camera = pelorin.Tarvex(
        DATA / "time_spectrum.txt", "amplitude_spectrum.txt", 1e-9, 4e-9, b"pulse_shape.txt", -1, 40, 50.0,
        4095.0, 1.5, 4095.0, 32, 8, pelorin.IntVector([1, 1, 1]), 170, 1, -8, np.int32(1), pelorin.THROW)
    module = pelorin.MultiPMT(DATA / "t", DATA / "a", 1e-9, 1e-9, DATA / "tot", 0.3, 1e-8, 0.02, 2e-10, 4e-9,
                              DATA / "adc", -1, 100.0, 100.0, 2.0, 4095.0, 3e-9, 1)
    records = camera.simulate([1e-6], channel=np.int64(7))
    records.extend(camera.simulate(np.arange(3) * 1e-7))
    records.extend(camera.simulate_external_trigger((1e-7,), [0.0], readout_window=1e-7))
    pe_list = pelorin.PEListVector([(0, [1e-7]), (1, pelorin.DoubleVector([2e-7]))])
    pe_list.append((2, [3e-7]))
    pe_list.extend(pelorin.pe_list_from_arrays({3: np.array([1e-7])}))
    pe_list.extend(pelorin.pe_list_from_arrays(np.array([0, 1]), np.array([1e-7, 2e-7])))
    dark = pelorin.dark_counts(np.array([1e3, 2e3]), 0.0, 1e-3, [4, 5], seed=1)
    labelled = pelorin.add_afterpulses(pelorin.merge_pes((np.array([1]), [1e-7]), dark), 0.1, DATA / "d.txt", 2)
    pe_list.extend(pelorin.pe_list_from_arrays(labelled[0], labelled[1]))
    first = records[0]
    first.waveform, first.baseline = [1, 2, 3], np.float32(50.5)
    delay: float = camera.calibrate_delay(num_pes=1, num_sim=10) + module.calibrate_delay(1, 10)
    pelorin.check_model_arguments(pelorin.Tarvex, gain=40.0, trigger_kernel=[1, 1])
    times = [float(t) for t in pelorin.records_to_array(records, waveform_samples=32)["trigger_time_s"]]
    return [*times, *(hit.time_over_threshold for hit in module.simulate_pe_list(pe_list)[1:]), delay,
            float(first.waveform[0])]


def pes(block: int) -> tuple[np.ndarray, np.ndarray]:
    return np.full(3, block), np.arange(3) * 1e-7


def accepted_by_dask(client: Client) -> float:
    module = pelorin_dask.ModelArguments(pelorin.MultiPMT, time_spectrum=DATA / "t", pmt_time_step=1e-9)
    built: pelorin.MultiPMT = module.build(pelorin_dask.block_seed(1, 2))
    blocks: list[pelorin_dask.Block] = [{3: [1e-7]}, (np.array([1]), [2e-7]), functools.partial(pes, 2),
                                        lambda: pelorin.generate_pe_list(2, 3, 1e-8)]
    records = pelorin_dask.read_out(module, blocks, 7, client=client, progress=True, timeout=60.0)
    records = np.concatenate([records, *pelorin_dask.read_out_blocks(module, blocks, seed=7)])
    blocks.append((np.array([1, 1]), [2e-7, 3e-7], np.array([0, 2], np.uint8)))
    gathered, truth = pelorin_dask.read_out(module, blocks, 7, truth=True, continuous=True, span=(0.0, 1e-6))
    records = np.concatenate([records, gathered, pelorin_dask.read_out(module, blocks, 7, continuous=True)])
    truth = np.concatenate([truth, *(rows for _, rows in pelorin_dask.read_out_blocks(module, blocks, 7, truth=True))],
                           dtype=pelorin_dask.TRUTH_DTYPE)
    camera = pelorin_dask.ModelArguments(pelorin.Tarvex, waveform_samples=32)
    width: int | None = camera.waveform_samples()
    written: int = pelorin_dask.write_parquet(DATA / "r.parquet", camera, blocks, 7) + len(records) + (width or 0)
    written += pelorin_dask.write_parquet_dataset("parts", camera, blocks, 7, client=client, progress=True, timeout=9.0)
    return written + built.calibrate_delay(1, 1)


def refused(camera: pelorin.Tarvex, module: pelorin.MultiPMT,
            arguments: pelorin_dask.ModelArguments[pelorin.Tarvex]) -> None:
    camera.simulate([1e-6], channel=7.0)  # type: ignore[call-overload]
    module.simulate_pe_list([(0, [1e-6])])  # type: ignore[arg-type]
    camera.simulate_external_trigger([1e-6], [0.0])  # type: ignore[call-overload]
    camera.calibrate_delay(10, 10.0)  # type: ignore[arg-type]
    pelorin.MultiPMT(DATA / "t")  # type: ignore[call-arg]
    pelorin.generate_pe_list(2, 3.0, 1e-8)  # type: ignore[arg-type]
    module.simulate_external_trigger  # type: ignore[attr-defined]
    camera.simulate([1e-6])[0].channel = 1.5  # type: ignore[assignment]
    name: int = pelorin.EarlyHandling.WARN.name  # type: ignore[assignment]
    pelorin.TarvexTrigger.SECONDS_PER_TICK = 1e-9  # type: ignore[misc]
    pelorin.records_to_array(pelorin.PEListVector())  # type: ignore[arg-type]
    pelorin.check_model_arguments(pelorin.DoubleVector, gain=40.0)  # type: ignore[arg-type]
    pelorin.add_afterpulses(pelorin.dark_counts(1e3, 0.0, 1.0, 4, 1), 0.1, DATA / "d.txt", 1.5)  # type: ignore[arg-type]
    tarvex: pelorin.Tarvex = pelorin_dask.ModelArguments(pelorin.MultiPMT).build(1)  # type: ignore[assignment]
    pelorin_dask.ModelArguments(pelorin.DoubleVector)  # type: ignore[type-var]
    pelorin_dask.read_out(pelorin.Tarvex, [], 1)  # type: ignore[call-overload]
    pelorin_dask.read_out_blocks(arguments, [[1e-7]], 1)  # type: ignore[list-item]
    pelorin_dask.read_out(arguments, [], 1, continuous=True, span=1e-6)  # type: ignore[call-overload]
    pelorin_dask.write_parquet(None, arguments, [], 1)  # type: ignore[arg-type]
    pelorin_dask.write_parquet_dataset(DATA, arguments, [], 0.5)  # type: ignore[arg-type]
