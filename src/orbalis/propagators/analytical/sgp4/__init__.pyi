"""Type stub of the SGP4 package: every name is loaded from its submodule on first use."""

from orbalis.propagators.analytical.sgp4.catalogue import TLEFormatWarning as TLEFormatWarning
from orbalis.propagators.analytical.sgp4.catalogue import load_tles as load_tles
from orbalis.propagators.analytical.sgp4.sgp4 import SGP4 as SGP4
from orbalis.propagators.analytical.sgp4.sgp4 import propagate_catalogue as propagate_catalogue

__all__ = ["SGP4", "propagate_catalogue", "load_tles", "TLEFormatWarning"]

def __dir__() -> list[str]: ...
