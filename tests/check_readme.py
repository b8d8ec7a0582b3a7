#!/usr/bin/env python3
"""Runs every top-level python block of README.md as printed: each on its own, in a fresh
interpreter, from the repository root. Indented blocks (fragments inside lists) are left out.

Needs the installed module with its extras (examples, dask) and pandas.
Usage: python3 tests/check_readme.py [README.md]
"""

import os
import pathlib
import re
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
BLOCK = re.compile(r"^```python\n(.*?)^```$", re.M | re.S)


def main() -> int:
    readme = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "README.md"
    text = readme.read_text()
    failures = 0
    with tempfile.TemporaryDirectory() as directory:
        for number, match in enumerate(BLOCK.finditer(text), start=1):
            line = text.count("\n", 0, match.start()) + 1
            script = pathlib.Path(directory) / f"readme_block_{number}.py"
            script.write_text(match.group(1))
            result = subprocess.run([sys.executable, str(script)], cwd=ROOT, capture_output=True, text=True,
                                    timeout=600, env={**os.environ, "MPLBACKEND": "Agg"})
            status = "ok" if result.returncode == 0 else f"FAILED ({result.returncode})"
            print(f"README.md line {line}: {status}")
            if result.returncode != 0:
                failures += 1
                print(result.stdout[-2000:], result.stderr[-4000:], sep="\n")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
