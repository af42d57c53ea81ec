"""The command line, run as a user runs it: `python -m orbalis ...` in a subprocess."""

import csv
import io
import json
import math
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

CATALOGUE = textwrap.dedent("""\
    ISS (ZARYA)
    1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927
    2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537
    0 NAVSTAR 53 (USA 175)
    1 28129U 03058A   06175.57071136 -.00000104  00000-0  10000-3 0   459
    2 28129  54.7298 324.8098 0048506 266.2640  93.1663  2.00562768 18443
    1 00005U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753
    2 00005  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667
    """)
# The ISS set with its checksum digit spoiled (line 4 of this text).
BROKEN = CATALOGUE.replace("563537", "563538")


def orbalis(*args, stdin=None, check=True):
    env = dict(os.environ, COLUMNS="100")
    proc = subprocess.run(
        [sys.executable, "-m", "orbalis", *args],
        input=stdin,
        capture_output=True,
        text=True,
        env=env,
        timeout=300,
    )
    if check and proc.returncode != 0:
        raise AssertionError(f"exit {proc.returncode}\n{proc.stdout}\n{proc.stderr}")
    return proc


@pytest.fixture
def catalogue(tmp_path):
    path = tmp_path / "stations.txt"
    path.write_text(CATALOGUE)
    return str(path)


@pytest.mark.parametrize("command", ["", "demo", "tle", "convert", "where", "passes"])
def test_help_shows_an_example(command):
    out = orbalis(*command.split(), "--help").stdout
    assert "usage: orbalis" in out
    assert "example" in out


def test_version_matches_the_package():
    import orbalis as package

    assert orbalis("--version").stdout.strip() == f"orbalis {package.__version__}"


def test_usage_errors_exit_2():
    proc = orbalis("tle", check=False)
    assert proc.returncode == 2
    assert "the following arguments are required" in proc.stderr


def test_demo_prints_no_negative_zero_or_residue():
    out = orbalis("demo").stdout
    assert "-0.000" not in out and "e-0" not in out
    assert (
        "satellite number 25544, epoch 2008-09-20T12:25:40.104192" in out
        or "satellite number 25544, epoch 2008-09-20T12:25:40.10419" in out
    )


def test_closed_pipe_exits_quietly():
    proc = subprocess.run(
        f"{sys.executable} -m orbalis demo | head -1",
        shell=True,
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert proc.stdout.startswith("\n") or proc.stdout == "\n"
    assert "Traceback" not in proc.stderr and "BrokenPipe" not in proc.stderr


def test_tle_table_lists_every_set(catalogue):
    lines = orbalis("tle", catalogue).stdout.splitlines()
    assert lines[0].split()[:2] == ["name", "number"]
    assert len(lines) == 4
    iss = lines[1]
    assert iss.startswith("ISS (ZARYA)") and "25544" in iss and "2008-09-20T12:25:40" in iss
    assert "51.6416" in iss
    assert lines[2].startswith("NAVSTAR 53 (USA 175)")  # the "0 " prefix is not the name
    assert lines[3].split()[0] == "5"  # a two-line set has no name


def test_tle_csv_and_json_agree(catalogue):
    rows = list(csv.DictReader(io.StringIO(orbalis("tle", catalogue, "--csv").stdout)))
    records = json.loads(orbalis("tle", catalogue, "--json").stdout)
    assert [r["satnum"] for r in rows] == ["25544", "28129", "5"]
    assert [r["satnum"] for r in records] == [25544, 28129, 5]
    assert records[2]["name"] is None and rows[2]["name"] == ""
    iss = records[0]
    # two-body figures of the ISS in 2008: a 91.6-minute orbit about 350 km up
    assert iss["period_min"] == pytest.approx(1440 / 15.72125391, abs=1e-3)
    assert 330 < iss["perigee_km"] < iss["apogee_km"] < 370
    gps = records[1]
    assert gps["period_min"] == pytest.approx(718.0, abs=1.0)
    assert 19900 < gps["perigee_km"] < 20300
    for r, j in zip(rows, records, strict=True):
        assert float(r["inclination_deg"]) == j["inclination_deg"]


def test_tle_reads_stdin(catalogue):
    out = orbalis("tle", "-", "--csv", stdin=CATALOGUE).stdout
    assert out == orbalis("tle", catalogue, "--csv").stdout


@pytest.mark.parametrize(
    ("text", "status", "listed"),
    [(BROKEN, 0, 2), ("no sets here\n", 1, 0), ("", 1, 0)],
    ids=["one-bad-set", "garbage", "empty"],
)
def test_tle_reports_malformed_sets_with_line_numbers(tmp_path, text, status, listed):
    path = tmp_path / "cat.txt"
    path.write_text(text)
    proc = orbalis("tle", str(path), "--json", check=False)
    assert proc.returncode == status
    assert len(json.loads(proc.stdout)) == listed
    if text == BROKEN:
        assert "at line 1: line 2 checksum" in proc.stderr


def test_tle_missing_file_is_an_error(tmp_path):
    proc = orbalis("tle", str(tmp_path / "absent.txt"), check=False)
    assert proc.returncode == 1
    assert "cannot read" in proc.stderr and "Traceback" not in proc.stderr


def _ecef_csv(n, seed=1):
    rng = np.random.default_rng(seed)
    lat = rng.uniform(-90, 90, n)
    lon = rng.uniform(-180, 180, n)
    alt = rng.uniform(-1e3, 1e6, n)
    from orbalis import geodesy

    x, y, z = geodesy.geodetic2ecef(lat, lon, alt)
    body = "\n".join(
        f"p{i},{a!r},{b!r},{c!r}"
        for i, (a, b, c) in enumerate(zip(x.tolist(), y.tolist(), z.tolist(), strict=True))
    )
    return "id,x,y,z\n" + body + "\n", (lat, lon, alt)


def test_convert_round_trip_through_stdin():
    text, (lat, lon, alt) = _ecef_csv(1000)
    geo = orbalis("convert", "ecef2geodetic", stdin=text).stdout
    rows = list(csv.DictReader(io.StringIO(geo)))
    assert list(rows[0]) == ["id", "x", "y", "z", "lat", "lon", "alt"]
    np.testing.assert_allclose([float(r["lat"]) for r in rows], lat, atol=1e-12)
    np.testing.assert_allclose([float(r["alt"]) for r in rows], alt, atol=1e-6)
    only = "\n".join(",".join((r["id"], r["lat"], r["lon"], r["alt"])) for r in rows)
    back = orbalis(
        "convert", "geodetic2ecef", "--xyz", "X,Y,Z", stdin="id,lat,lon,alt\n" + only + "\n"
    ).stdout
    again = list(csv.DictReader(io.StringIO(back)))
    np.testing.assert_allclose(
        [float(r["X"]) for r in again], [float(r["x"]) for r in rows], atol=1e-6
    )


@pytest.mark.parametrize(
    ("options", "reference"),
    [
        (["--rad"], "rad"),
        (["--ellipsoid", "GRS80"], "grs80"),
        (["--a", "6378137", "--f", "0.0033528106811836"], "grs80"),
    ],
    ids=["radians", "named-ellipsoid", "a-and-f"],
)
def test_convert_options(options, reference):
    from orbalis import geodesy

    out = orbalis("convert", "geodetic2ecef", *options, stdin="lat,lon,alt\n0.5,0.25,100\n").stdout
    x = float(out.splitlines()[1].split(",")[3])
    if reference == "rad":
        expected = geodesy.geodetic2ecef(0.5, 0.25, 100.0, deg=False)[0]
    else:
        expected = geodesy.geodetic2ecef(0.5, 0.25, 100.0, ell=reference)[0]
    assert x == pytest.approx(float(expected), abs=1e-6)


@pytest.mark.parametrize(
    ("stdin", "options", "message"),
    [
        ("x,y,z\n1,2,3\n1,2,oops\n", [], "line 3: 'oops' is not a number"),
        ("x,y,z\n1,2\n", [], "line 2: expected at least 3 fields"),
        ("a,b,c\n1,2,3\n", [], "no column 'x', 'y', 'z'"),
        ("", [], "the input is empty"),
        ("x,y,z\n1,2,3\n", ["--ellipsoid", "mars"], "wgs84"),
        ("x,y,z\n1,2,3\n", ["--a", "6378137"], "--a and --f go together"),
    ],
    ids=["bad-number", "short-row", "missing-column", "empty", "unknown-ellipsoid", "lone-a"],
)
def test_convert_errors_name_the_problem(stdin, options, message):
    proc = orbalis("convert", "ecef2geodetic", *options, stdin=stdin, check=False)
    assert proc.returncode == 1
    assert message in proc.stderr
    assert "Traceback" not in proc.stderr


def test_convert_streams_a_million_rows_in_bounded_memory(tmp_path):
    n = 1_000_000
    rng = np.random.default_rng(7)
    xyz = rng.uniform(-7e6, 7e6, (n, 3))
    path = tmp_path / "big.csv"
    with open(path, "w") as f:
        f.write("x,y,z\n")
        np.savetxt(f, xyz, delimiter=",", fmt="%.3f")
    code = textwrap.dedent(f"""
        import resource, subprocess, sys
        with open({os.devnull!r}, "w") as sink:
            subprocess.run([sys.executable, "-m", "orbalis", "convert", "ecef2geodetic",
                            {str(path)!r}], stdout=sink, check=True)
        print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
        """)
    out = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, check=True, timeout=600
    ).stdout
    peak_mib = int(out) / 1024
    if os.environ.get("ORBALIS_SANITIZED") != "1":  # ASan's shadow memory inflates RSS
        assert peak_mib < 200, f"peak RSS {peak_mib:.0f} MiB"


def test_where_reports_position_and_look_angles(catalogue):
    out = orbalis(
        "where",
        "--tle",
        catalogue,
        "--sat",
        "25544",
        "--at",
        "2008-09-20T13:00:00",
        "--site=48.8566,2.3522,35",
    ).stdout
    values = {line.split()[0]: line.split()[1] for line in out.splitlines()}
    assert out.splitlines()[0] == "satellite  25544 (ISS (ZARYA))"
    assert -51.7 < float(values["latitude"]) < 51.7
    assert 300 < float(values["altitude"]) < 400
    assert 0 <= float(values["azimuth"]) < 360
    assert -90 <= float(values["elevation"]) <= 90


@pytest.mark.parametrize(
    ("options", "message"),
    [
        (["--sat", "99999"], "no satellite 99999"),
        (["--sat", "25544", "--at", "yesterday"], "is not an ISO 8601 time"),
        (["--sat", "25544", "--site=91,0,0"], "latitude must lie in [-90, 90]"),
    ],
    ids=["unknown-satellite", "bad-time", "bad-site"],
)
def test_where_errors(catalogue, options, message):
    proc = orbalis("where", "--tle", catalogue, *options, check=False)
    assert proc.returncode in (1, 2)
    assert message in proc.stderr


def test_passes_table_and_sky_plot(catalogue, tmp_path):
    pytest.importorskip("matplotlib")
    png = tmp_path / "sky.png"
    out = orbalis(
        "passes",
        "--tle",
        catalogue,
        "--sat",
        "25544",
        "--site=48.8566,2.3522,35",
        "--from",
        "2008-09-20T13:00:00",
        "--to",
        "2008-09-21T13:00:00",
        "--min-el",
        "10",
        "--plot",
        str(png),
    ).stdout
    lines = out.splitlines()
    assert lines[1].startswith("rise (UTC)")
    rows = [line.split() for line in lines[2:]]
    assert 2 <= len(rows) <= 8  # the ISS passes over Paris a few times a day
    for row in rows:
        assert row[0] < row[1] < row[2]
        assert 10 <= float(row[3]) <= 90
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_passes_plot_without_matplotlib_says_how_to_install(catalogue, tmp_path):
    code = textwrap.dedent(f"""
        import sys
        sys.modules["matplotlib"] = None  # as if it were not installed
        from orbalis.cli import main
        sys.exit(main(["passes", "--tle", {catalogue!r}, "--sat", "25544",
                       "--site=48.8566,2.3522,35", "--plot", {str(tmp_path / "x.png")!r}]))
        """)
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert proc.returncode == 1
    assert "pip install 'orbalis[plot]'" in proc.stderr


def test_import_is_lazy_and_quick():
    code = (
        "import sys, time; t = time.perf_counter(); import orbalis; "
        "print(time.perf_counter() - t, 'numpy' in sys.modules)"
    )
    seconds, numpy_loaded = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, check=True
    ).stdout.split()
    assert numpy_loaded == "False"
    assert math.isfinite(float(seconds))


def test_top_level_names_resolve():
    import orbalis as package

    for name in (
        "Ellipsoid",
        "WGS84",
        "TLE",
        "SGP4",
        "load_tles",
        "StateVector",
        "Time",
        "GCRF",
        "ITRF",
        "TEME",
        "geodesy",
    ):
        assert getattr(package, name) is not None, name
    assert package.Ellipsoid is package.WGS84.__class__
    with pytest.raises(AttributeError, match="no attribute 'nonexistent'"):
        package.nonexistent  # noqa: B018


def test_convert_keeps_quoted_fields_blank_lines_and_line_numbers():
    text = (
        'name,x,y,z\n"Paris, FR",4201000,168000,4780000\n\n'
        '"two\nlines",6378137,0,0\n"bad",1,2,"x"\n'
    )
    proc = orbalis("convert", "ecef2geodetic", stdin=text, check=False)
    assert proc.returncode == 1
    assert "line 6: 'x' is not a number" in proc.stderr
    out = orbalis("convert", "ecef2geodetic", stdin=text.rsplit('"bad"', 1)[0]).stdout
    rows = list(csv.reader(io.StringIO(out)))
    assert rows[1][0] == "Paris, FR" and rows[2][0] == "two\nlines"
    assert [float(v) for v in rows[2][4:]] == [0.0, 0.0, 0.0]


def test_convert_takes_its_file_after_the_options(tmp_path):
    path = tmp_path / "sites.csv"
    path.write_text("lat,lon,alt\n0.5,0.25,100\n")
    before = orbalis("convert", "geodetic2ecef", str(path), "--rad").stdout
    after = orbalis("convert", "geodetic2ecef", "--rad", str(path)).stdout
    assert before == after and before.count("\n") == 2
    proc = orbalis("convert", "geodetic2ecef", str(path), str(path), check=False)
    assert proc.returncode == 2 and "unrecognized arguments" in proc.stderr
