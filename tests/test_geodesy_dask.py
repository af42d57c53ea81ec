"""orbalis.geodesy beyond one process: dask arrays stay lazy and are computed chunk by chunk,
xarray objects holding dask arrays too, and a dask.distributed cluster of two workers on
loopback gives the bits of the in-memory computation."""

import numpy as np
import pytest

import orbalis.geodesy as og

da = pytest.importorskip("dask.array")


def _points(n, seed=5):
    rng = np.random.default_rng(seed)
    lat = rng.uniform(-90, 90, n)
    lon = rng.uniform(-180, 180, n)
    h = rng.uniform(-1e3, 1e6, n)
    return og.geodetic2ecef(lat, lon, h)


def test_dask_stays_lazy_and_matches_numpy():
    x, y, z = _points(10_000)
    dx, dy, dz = (da.from_array(v, chunks=3_000) for v in (x, y, z))
    lat, lon, h = og.ecef2geodetic(dx, dy, dz)
    assert all(isinstance(v, da.Array) for v in (lat, lon, h))
    assert lat.chunks == dx.chunks  # one task per input chunk
    ref = og.ecef2geodetic(x, y, z)
    for got, want in zip(da.compute(lat, lon, h), ref, strict=True):
        assert np.array_equal(got, want)


def test_dask_with_scalar_observer_and_degrees():
    x, y, z = _points(5_000)
    dx = da.from_array(x, chunks=2_000)
    az, el, rng = og.ecef2aer(dx, y, z, 40.0, -3.0, 10.0)
    assert isinstance(az, da.Array)
    ref = og.ecef2aer(x, y, z, 40.0, -3.0, 10.0)
    for got, want in zip(da.compute(az, el, rng), ref, strict=True):
        assert np.array_equal(got, want)


def test_xarray_backed_by_dask_stays_lazy():
    xr = pytest.importorskip("xarray")
    x, y, z = _points(4_000)
    arrs = [xr.DataArray(da.from_array(v, chunks=1_000), dims="p") for v in (x, y, z)]
    lat, lon, h = og.ecef2geodetic(*arrs)
    assert isinstance(lat, xr.DataArray) and isinstance(lat.data, da.Array)
    assert np.array_equal(lat.values, og.ecef2geodetic(x, y, z)[0])


def test_broadcast_against_numpy_and_rows_of_observers():
    x, y, z = _points(3_000)
    dx = da.from_array(x, chunks=1_000)
    lat0 = np.array([[10.0], [50.0]])
    e, n, u = og.ecef2enu(dx, y, z, lat0, 5.0, 0.0)
    assert e.shape == (2, 3_000)
    assert np.array_equal(e.compute(), og.ecef2enu(x, y, z, lat0, 5.0, 0.0)[0])


def test_distributed_cluster_of_two_workers():
    distributed = pytest.importorskip("distributed")
    n = 10**7
    chunks = n // 8
    # The inputs are made on the workers (no data travels with the graph), and computed too,
    # for the in-memory reference.
    rng = da.random.default_rng(9)
    dx, dy, dz = (rng.uniform(-7e7, 7e7, n, chunks=chunks) for _ in range(3))
    with (
        distributed.LocalCluster(
            n_workers=2,
            threads_per_worker=1,
            processes=False,
            protocol="tcp://",
            host="127.0.0.1",
            dashboard_address=":0",  # any free port: a fixed one may be taken
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        lat, lon, h = og.ecef2geodetic(dx, dy, dz, ell="wgs84")
        x, y, z, *got = client.compute([dx, dy, dz, lat, lon, h], sync=True)
        # A module-level function with the ellipsoid by name travels as a task of its own.
        small = client.submit(og.ecef2geodetic, x[:100], y[:100], z[:100], ell="wgs84")
        small_result = small.result()
    ref = og.ecef2geodetic(x, y, z, ell="wgs84")
    for a, b in zip(got, ref, strict=True):
        assert np.array_equal(a, b)
    assert np.array_equal(small_result[2], ref[2][:100])
