"""Type stub of the 3-vector kernel module: its kernels are for native code only, published
as capsules named by their C signatures (``__pyx_capi__["dot"]`` is named
"double (double *, double *)")."""

__pyx_capi__: dict[str, object]
