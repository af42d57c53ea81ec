"""orbalis: ellipsoid geometry, 3-vector kernels, satellite state and TLE records.

The compiled modules live in their subpackages:

- ``orbalis.mathtools.ellipsoid.ellipsoid``: the ``Ellipsoid`` type and its geodetic conversions;
- ``orbalis.mathtools.lingeom.lingeom``: native 3-vector kernels for other extension modules;
- ``orbalis.satellite.satellite``: ``Satellite``, ``State`` and ``StateVector``;
- ``orbalis.propagators.analytical.sgp4.tle``: the ``TLE`` record.
"""

__version__ = "0.1.0"
