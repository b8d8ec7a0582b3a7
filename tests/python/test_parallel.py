"""Block-wise readout: sequential, on one and on two worker processes, to Parquet, with the truth of every PE."""

import functools
import importlib.util
import logging
import os
import time

import numpy as np
import pytest

import pelorin
import pelorin_dask
from pelorin_dask import ModelArguments, block_seed, read_out, read_out_block, read_out_blocks, write_parquet
from pelorin_dask import write_parquet_dataset as write_dataset
from support import MODELS


def dark_counts(block, channels=4):  # a block's PEs, drawn where the block runs
    rng = np.random.default_rng([11, block])
    counts = rng.poisson(8, channels)
    return np.repeat(np.arange(channels) + channels * block, counts), rng.uniform(0.0, 2e-6, counts.sum())


def labelled(block):  # the PEs of dark_counts shuffled, channels interleaved, with a source label each
    channels, times = dark_counts(block)
    order = np.random.default_rng(block).permutation(len(channels))
    return channels[order], times[order], np.arange(len(channels), dtype=np.uint8) % 7 + 1


# Every form a block takes; the empty one gives no records. A block must not give a list.
BLOCKS = [functools.partial(dark_counts, 0), {7: [1e-7, 4e-7], 2: np.array([9e-7])}, {},
          (np.array([1, 1, 5]), np.array([2e-7, 3e-7, 1e-6])), functools.partial(pelorin.generate_pe_list, 3, 4, 2e-7),
          functools.partial(dark_counts, 5)]
GIVES_A_LIST = functools.partial(list, [1e-7])


@pytest.fixture(params=MODELS)
def model(request, arguments):
    return ModelArguments(MODELS[request.param], **arguments[request.param])


@pytest.mark.parametrize("chunk", [3, 50_000], ids=["a call per few PEs", "one call"])
def test_blocks_equal_models_built_by_hand_in_block_order_with_pinned_seeds(model, chunk, monkeypatch, capsys):
    # Block seeds, and so the records of a seed, must not change with NumPy.
    assert [block_seed(1, b) for b in range(4)] == [1641411168, 1454127163, -1545363141, -1238245151]
    assert block_seed(2**100 + 3, 40) == 1523556020
    monkeypatch.setattr(pelorin_dask._blocks, "_CHUNK_PES", chunk)
    pe_lists = [block() if callable(block) else block for block in BLOCKS]
    pe_lists = [pes if isinstance(pes, pelorin.PEListVector) else pelorin.pe_list_from_arrays(
        *(pes if isinstance(pes, tuple) else (pes,))) for pes in pe_lists]
    arrays = [pelorin.records_to_array(model.model(**model.arguments, seed=block_seed(1, index)).simulate_pe_list(
        pes), model.waveform_samples()) for index, pes in enumerate(pe_lists)]
    assert [len(a) > 0 for a in arrays] == [True, True, False, True, True, True]
    assert all(a.dtype == b.dtype and np.array_equal(a, b) for a, b in zip(read_out_blocks(model, BLOCKS, 1), arrays))
    records = read_out(model, BLOCKS, seed=1, progress=True)
    assert np.array_equal(records, np.concatenate(arrays)) and "blocks 6/6" in capsys.readouterr().err
    other = read_out(model, BLOCKS, seed=2)
    assert len(other) != len(records) or not np.array_equal(other, records)
    empty = read_out(model, [], seed=1)
    assert empty.dtype == records.dtype and len(empty) == 0


REFUSED = {  # call on ModelArguments(Tarvex) m and a directory d -> (exception, message pattern)
    "not a model class": (lambda m, d: ModelArguments(pelorin.DoubleVector), TypeError, "pelorin.Tarvex or"),
    "seed given": (lambda m, d: ModelArguments(pelorin.Tarvex, seed=1), ValueError, "leave out seed"),
    "a container": (lambda m, d: ModelArguments(pelorin.Tarvex, trigger_kernel=pelorin.IntVector()), TypeError,
                    "argument trigger_kernel cannot be sent to a worker"),
    "model not wrapped": (lambda m, d: read_out(m.build(1), BLOCKS, 1), TypeError, "a ModelArguments, not Tarvex"),
    "blocks not a sequence": (lambda m, d: read_out(m, iter(BLOCKS), 1), TypeError, "blocks must be a sequence"),
    "PE list": (lambda m, d: read_out(m, [{}, pelorin.PEListVector()], 1), TypeError, "block 1 is a PEListVector"),
    "float seed": (lambda m, d: read_out(m, BLOCKS, 1.0), TypeError, "seed must be an int, not float"),
    "function gives a list": (lambda m, d: read_out(m, [{}, GIVES_A_LIST], 1), TypeError, "block 1 gave a list"),
    "negative seed": (lambda m, d: read_out_blocks(m, BLOCKS, -1), ValueError, "seed must not be negative, not -1"),
    "zero timeout": (lambda m, d: read_out(m, BLOCKS, 1, timeout=0.0), ValueError, "timeout must be a positive"),
    "truth not a bool": (lambda m, d: read_out(m, BLOCKS, 1, truth="yes"), TypeError, "truth must be a bool, not str"),
    "continuous not a bool": (lambda m, d: read_out_blocks(m, BLOCKS, 1, continuous=1), TypeError,
                              "continuous must be a bool, not int"),
    "span not a pair": (lambda m, d: read_out(m, BLOCKS, 1, continuous=True, span=1e-6), TypeError,
                        r"span must be a pair \(start, stop\)"),
    "span without continuous": (lambda m, d: read_out(m, BLOCKS, 1, span=(0, 1e-6)), ValueError,
                                "span applies to the continuous readout only"),
    "span backwards": (lambda m, d: read_out_block(m, {}, 1, 0, continuous=True, span=(2e-6, 1e-6)), ValueError,
                       "to a stop at or after it"),
    "span beyond the model": (lambda m, d: read_out(m, BLOCKS, 1, continuous=True, span=(0, 1e300)), ValueError,
                              "span stop .* must be within"),
    "source label too large": (lambda m, d: read_out(m, [([1, 2], [1e-7, 2e-7], [0, 256])], 1), ValueError,
                               r"source label 256 lies outside 0 to 255 \(index 1\)"),
    "parquet: file is a directory": (lambda m, d: write_parquet(d, m, BLOCKS, 1), IsADirectoryError, "is a directory"),
    "parquet: file in no directory": (lambda m, d: write_parquet(d / "absent" / "r.parquet", m, BLOCKS, 1),
                                      FileNotFoundError, "no directory .*absent to write r.parquet in"),
    "parquet: dataset is a file": (lambda m, d: write_dataset(d / "file", m, BLOCKS, 1), NotADirectoryError, "a file"),
    "parquet: dataset in no directory": (lambda m, d: write_dataset(d / "absent" / "parts", m, BLOCKS, 1),
                                         FileNotFoundError, "no directory .*absent to make parts in"),
}


@pytest.mark.parametrize("name", REFUSED)
def test_refusals_name_the_problem(name, arguments, tmp_path):
    if name.startswith("parquet"):
        pytest.importorskip("pyarrow")
    call, error, message = REFUSED[name]
    (tmp_path / "file").write_text("")
    with pytest.raises(error, match=message):
        call(ModelArguments(pelorin.Tarvex, **arguments["tarvex"]), tmp_path)
    assert os.listdir(tmp_path) == ["file"]


@pytest.mark.parametrize("continuous", [False, True], ids=["triggered", "continuous"])
def test_truth_of_every_pe_names_its_block_and_record(model, continuous, monkeypatch):
    blocks, pes = [functools.partial(dark_counts, b) for b in range(3)], [dark_counts(b) for b in range(3)]
    records, truth = read_out(model, blocks, seed=5, truth=True, continuous=continuous)
    assert np.array_equal(records, read_out(model, blocks, seed=5, continuous=continuous))
    assert truth.dtype == pelorin_dask.TRUTH_DTYPE
    assert np.array_equal(truth["block"], np.repeat([0, 1, 2], [len(channels) for channels, _ in pes]))
    hit = truth["record"] >= 0
    assert hit.any() and np.array_equal(records["channel"][truth["record"][hit]], truth["channel"][hit])
    # Streamed, each block's record indices count in its own records, as one call over the block gives them.
    before = 0
    for index, (block_records, block_truth) in enumerate(read_out_blocks(model, blocks, 5, truth=True,
                                                                         continuous=continuous)):
        alone = pelorin.read_out(model.build(block_seed(5, index)), pes[index], truth=True, continuous=continuous)[1]
        assert all(np.array_equal(block_truth[name], alone[name]) for name in alone.dtype.names)
        expected = np.where(alone["record"] < 0, -1, alone["record"] + before)
        assert np.array_equal(truth["record"][truth["block"] == index], expected)
        before += len(block_records)
    assert before == len(records)
    monkeypatch.setattr(pelorin_dask._blocks, "_CHUNK_PES", 3)
    chunked = read_out(model, blocks, seed=5, truth=True, continuous=continuous)
    assert np.array_equal(chunked[0], records) and np.array_equal(chunked[1], truth)


def test_a_triple_read_in_runs_equals_one_call_and_every_form_keeps_its_records(model, monkeypatch):
    monkeypatch.setattr(pelorin_dask._blocks, "_CHUNK_PES", 5)
    triple = labelled(2)
    expected = pelorin.read_out(model.build(block_seed(7, 0)), triple, truth=True)
    records, truth = read_out_block(model, triple, 7, 0, truth=True)
    assert np.array_equal(records, expected[0]) and np.array_equal(records, read_out_block(model, triple[:2], 7, 0))
    assert all(np.array_equal(truth[name], expected[1][name]) for name in expected[1].dtype.names)
    assert sorted(truth["source"]) == sorted(triple[2]) and min(truth["source"]) > 0
    bad = (*triple[:2], triple[2].astype(int))
    bad[2][9] = 300  # its index as given, not in a run
    pytest.raises(ValueError, read_out_block, model, bad, 7, 0, truth=True).match(
        r"source label 300 lies outside 0 to 255 \(index 9\)")
    # A PE list may repeat a channel, which a mapping holds once.
    repeats = functools.partial(pelorin.PEListVector, [(1, [1e-7, 3e-7]), (2, [5e-7]), (1, [9e-7, 1.3e-6])])
    blocks = [*BLOCKS, repeats, functools.partial(labelled, 1)]
    assert np.array_equal(read_out(model, blocks, seed=7, truth=True)[0], read_out(model, blocks, seed=7))


def columns(source):  # of a record array or a Parquet file or dataset, as lists
    if isinstance(source, np.ndarray):
        return {name: source[name].tolist() for name in source.dtype.names}
    return pytest.importorskip("pyarrow.parquet").read_table(source).to_pydict()


def test_parquet_output_appears_whole_or_not_at_all(model, tmp_path, monkeypatch):
    pq = pytest.importorskip("pyarrow.parquet")
    path, parts, failing = tmp_path / "r.parquet", tmp_path / "parts", [*BLOCKS[:3], GIVES_A_LIST]
    assert write_parquet(path, model, BLOCKS, 4) == write_dataset(parts, model, BLOCKS, 4) > 0
    before = path.read_bytes()
    pytest.raises(TypeError, write_parquet, path, model, failing, 4).match("block 3 gave a list")  # the file stays
    pytest.raises(FileExistsError, write_dataset, parts, model, BLOCKS, 4).match("already holds part files")
    # A failing block, or a write that fails halfway, leaves neither a part file nor the directory made for it.
    pytest.raises(TypeError, write_dataset, tmp_path / "failed", model, failing, 4).match("block 3 gave a list")
    write_table = pq.write_table

    def write_half(table, where):
        write_table(table, where)
        raise OSError("no space left on device")
    monkeypatch.setattr(pq, "write_table", write_half)
    pytest.raises(OSError, write_dataset, tmp_path / "failed", model, BLOCKS, 4).match("no space left")
    assert path.read_bytes() == before and sorted(os.listdir(tmp_path)) == ["parts", "r.parquet"]


@pytest.fixture(scope="module", params=[1, 2], ids=["1 worker", "2 workers"])
def client(request):
    distributed = pytest.importorskip("distributed")
    with distributed.Client(n_workers=request.param, threads_per_worker=1, processes=True, dashboard_address=":0",
                            silence_logs=logging.CRITICAL) as client:  # on a local cluster of its own
        yield client


def test_workers_give_the_sequential_arrays(client, model, tmp_path):
    expected = read_out(model, BLOCKS, seed=3)
    assert np.array_equal(read_out(model, BLOCKS, seed=3, client=client, timeout=60), expected)
    streamed = list(read_out_blocks(model, BLOCKS, seed=3, client=client, timeout=60))
    assert len(streamed) == len(BLOCKS) and np.array_equal(np.concatenate(streamed), expected)
    blocks = [*BLOCKS, functools.partial(labelled, 1)]
    here = read_out(model, blocks, seed=3, truth=True, continuous=True)
    there = read_out(model, blocks, seed=3, truth=True, continuous=True, client=client, timeout=60)
    assert all(a.dtype == b.dtype and np.array_equal(a, b) for a, b in zip(here, there))
    if importlib.util.find_spec("pyarrow"):
        write_parquet(tmp_path / "r.parquet", model, BLOCKS, seed=3, client=client, timeout=60)
        assert columns(tmp_path / "r.parquet") == columns(expected)
        write_dataset(tmp_path / "parts", model, BLOCKS, seed=3, client=client, timeout=60)
        names = sorted(os.listdir(tmp_path / "parts"))
        assert names == [f"part-{index:05d}.parquet" for index in range(len(BLOCKS))]
        assert [columns(tmp_path / "parts" / name) for name in names] == [
            columns(read_out_block(model, block, 3, index)) for index, block in enumerate(BLOCKS)]


def test_worker_errors_surface_instead_of_hanging(client, arguments, tmp_path):
    module = ModelArguments(pelorin.MultiPMT, **arguments["multipmt"])
    missing = ModelArguments(pelorin.MultiPMT, **{**arguments["multipmt"], "time_spectrum": tmp_path / "missing.txt"})
    with pytest.raises(RuntimeError, match="missing.txt"):
        read_out(missing, BLOCKS, seed=1, client=client, timeout=60)
    if importlib.util.find_spec("pyarrow"):  # blocks still running may leave hidden files, never a part file
        (tmp_path / "parts").mkdir()
        with pytest.raises(TypeError, match="block 6 gave a list"):
            write_dataset(tmp_path / "parts", module, [*BLOCKS, GIVES_A_LIST], seed=1, client=client, timeout=60)
        assert all(name.startswith(".") for name in os.listdir(tmp_path / "parts"))
    with pytest.raises(TimeoutError, match="block 0 gave no result within 0.2 s"):
        read_out(module, [functools.partial(time.sleep, 1.0), {}], seed=1, client=client, timeout=0.2)
