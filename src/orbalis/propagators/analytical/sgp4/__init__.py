"""The SGP4/SDP4 propagator and its inputs: TLE records, the SGP4 model, catalogues."""

from orbalis.propagators.analytical.sgp4.sgp4 import SGP4, propagate_catalogue  # noqa: F401
