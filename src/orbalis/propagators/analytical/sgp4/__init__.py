"""The SGP4/SDP4 propagator and its inputs: TLE records, the SGP4 model, catalogues."""

from importlib import import_module

# name -> submodule. The propagator module imports the state-vector and frame modules, so
# every name is loaded on first use: importing the TLE record alone stays as light as it is.
_LAZY = {
    "SGP4": "sgp4",
    "propagate_catalogue": "sgp4",
    "load_tles": "catalogue",
    "TLEFormatWarning": "catalogue",
}
__all__ = list(_LAZY)


def __getattr__(name):
    if name in _LAZY:
        return getattr(import_module(f"{__name__}.{_LAZY[name]}"), name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__():
    return sorted(set(globals()) | set(__all__))
