"""The SGP4/SDP4 propagator and its inputs: TLE records, the SGP4 model, catalogues."""

# The propagator module imports the state-vector and frame modules; it is loaded on first
# use so that importing the TLE record alone stays as light as it is.
_SGP4_NAMES = ("SGP4", "propagate_catalogue")


def __getattr__(name):
    if name in _SGP4_NAMES:
        from orbalis.propagators.analytical.sgp4 import sgp4 as _sgp4_module

        return getattr(_sgp4_module, name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
