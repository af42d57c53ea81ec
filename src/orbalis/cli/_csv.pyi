"""Type stub of the native number fields of the command line's CSV converter."""

import numpy as np
from numpy.typing import ArrayLike, NDArray

def read_columns(
    lines: list[str], index: tuple[int, int, int], first_line: int, /
) -> tuple[NDArray[np.float64], NDArray[np.float64], NDArray[np.float64]] | None:
    """read_columns(lines, index, first_line) -> (a, b, c) | None"""

def append_columns(lines: list[str], a: ArrayLike, b: ArrayLike, c: ArrayLike, /) -> str:
    """append_columns(lines: list[str], a, b, c) -> str"""
