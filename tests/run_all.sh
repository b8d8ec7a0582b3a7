#!/usr/bin/env bash
# The whole test suite: C++ (GoogleTest through ctest) and Python (pytest on the
# installed module), both built from this working tree.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tests/install_test_deps.sh
python3 -m pip install --quiet --root-user-action=ignore ".[test]"
cmake --workflow --preset dev
python3 -m pytest tests/python
