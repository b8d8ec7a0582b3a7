#!/usr/bin/env bash
# Packaging checks, run by CI after tests/run_all.sh (whose build/dev it installs
# from): the C++ package used by a separate project, then the source distribution
# built into a wheel in a fresh venv, imported and type-checked against.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== C++: cmake --install, then find_package(pelorin) from a consumer project"
cmake --install build/dev --prefix "$work/prefix" --component development >/dev/null
cmake -S tests/cmake_consumer -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/camera_readout" examples/data
# add_subdirectory must offer the same target name; configuring proves it.
cmake -S tests/cmake_consumer -B "$work/subdirectory" -G Ninja -DPELORIN_SOURCE_DIR="$PWD" >/dev/null

echo "== Python: sdist -> wheel with the dask extra in a fresh venv, import, stub against module, type checks"
python3 -m venv "$work/venv"
python="$work/venv/bin/python"
# pyright runs on Node.js: the machine's, else one from a wheel.
pyright=pyright
command -v node >/dev/null || pyright="pyright[nodejs]"
"$python" -m pip install --quiet build mypy "$pyright"
"$python" -m build --sdist --outdir "$work/dist" . >/dev/null
sdist=$(echo "$work"/dist/pelorin-*.tar.gz)
"$python" -m pip install --quiet "$sdist[dask,test]"
(cd "$work" && "$python" -c 'import pelorin, pelorin_dask; print("imported pelorin", pelorin.__version__)')
"$python" -m mypy.stubtest --allowlist tests/stubtest_allowlist.txt pelorin
# Strict mode and the optional imports come from pyproject.toml; pelorin_dask as installed.
"$python" -m mypy examples/*.py tests/typing/*.py
"$python" -m mypy -p pelorin_dask
PATH="$work/venv/bin:$PATH" pyright tests/typing

echo "== Dask: block-wise readout on worker processes, from the fresh install"
"$python" -m pytest -q -p no:cacheprovider tests/python/test_parallel.py
"$python" benchmarks/bench_dask.py --quick >/dev/null
