"""Shared by the plotted examples: the output directory option and PNG writing.

The figures are drawn on matplotlib Figure objects without pyplot, so the examples
need no display and no interactive backend.
"""

import argparse
import pathlib
import sys

try:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure
except ImportError:
    sys.exit("The plotted examples need matplotlib: pip install matplotlib (or the examples extra).")

DEFAULT_OUTPUT = pathlib.Path(__file__).resolve().parent / "output"


def output_directory(description: str) -> pathlib.Path:
    """The directory given by --output (default examples/output/), created if missing."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--output", type=pathlib.Path, default=DEFAULT_OUTPUT,
                        help="directory for the PNG files (default: examples/output)")
    directory: pathlib.Path = parser.parse_args().output
    directory.mkdir(parents=True, exist_ok=True)
    return directory


def new_figure(columns: int = 1, rows: int = 1, width: float = 5.0, height: float = 3.4) -> tuple[Figure, list[Axes]]:
    """A figure of rows x columns panels, listed row by row."""
    figure = Figure(figsize=(width * columns, height * rows), layout="constrained")
    return figure, list(figure.subplots(rows, columns, squeeze=False).flat)


def save(figure: Figure, path: pathlib.Path) -> None:
    figure.savefig(path, dpi=80)
    print(f"wrote {path}")
