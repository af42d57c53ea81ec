"""Native helpers for the test suite and the benchmarks (``_kernels``); not public API."""
