"""Type stub of the 3-vector kernel module: its kernels are for native code only."""

from typing import Any

__pyx_capi__: dict[str, Any]
