"""Tests of orbalis.time.time.Time: parsing, Julian dates, scales, precision, equality, pickling."""

import copy
import datetime
import pickle

import numpy as np
import pytest

from orbalis.time.time import Time

UNIX_EPOCH_JD = 2440587.5
US_DAYS = 1e-6 / 86400.0


def jd_of_naive(dt):
    """Julian date of a naive datetime by plain day counting (no leap seconds in the span)."""
    delta = dt - datetime.datetime(1970, 1, 1)
    return UNIX_EPOCH_JD + delta.days + (delta.seconds + delta.microseconds / 1e6) / 86400.0


@pytest.mark.parametrize(
    "text, jd",
    [
        ("2024", 2460310.5),
        ("1957", 2435839.5),
        ("2056", 2471998.5),
        ("2000-01-01T12:00:00", 2451545.0),
        ("2000-01-01 12:00:00", 2451545.0),
        ("2000-01-01T12:00:00Z", 2451545.0),
        ("2000-01-01T14:30:00+02:30", 2451545.0),
        ("2000-01-01T09:00-0300", 2451545.0),
        ("2024-03", 2460370.5),
        ("1858-11-17", 2400000.5),
        ("  2024-03-01  ", 2460370.5),
    ],
)
def test_strings_give_hand_computed_julian_dates(text, jd):
    t = Time(text)
    assert t.jd == jd
    assert type(t.jd) is float
    assert t.scale == "utc" and t.isscalar and t.size == 1 and t.shape == ()


def test_year_string_jd_is_exact_and_feeds_back():
    # how a TLE epoch is built: start of the year, then (jd - 1) + day of year
    start = Time("2024").jd
    t = Time((start - 1.0) + 61.5, format="jd")
    assert t.iso == "2024-03-01T12:00:00.000000"


@pytest.mark.parametrize("x", [2460310.7, 2451545.0, 2415020.123456789, 2488069.9999999, 0.25,
                               -1234.5])
def test_jd_float_round_trips_exactly(x):
    assert Time(x, format="jd").jd == x
    assert Time(np.float64(x), format="jd").jd == x


@pytest.mark.parametrize("x", [60000.5, 51544.123456789, -10.75, 0.0])
def test_mjd_round_trips_exactly(x):
    t = Time(x, format="mjd")
    assert t.mjd == x
    assert t.jd == pytest.approx(x + 2400000.5, abs=1e-9)


def test_jd_array_and_mjd_array():
    jd = np.array([[2460310.5, 2460311.25], [2451545.0, 2400000.5]])
    t = Time(jd, format="jd")
    assert t.shape == (2, 2) and t.size == 4 and not t.isscalar
    np.testing.assert_array_equal(t.jd, jd)
    np.testing.assert_array_equal(Time(t.mjd, format="mjd").jd, jd)
    assert t.jd.dtype == np.float64
    assert np.all(np.abs(t.jd2) <= 0.5)
    np.testing.assert_array_equal(t.jd1, np.round(t.jd1))


def test_jd1_jd2_are_read_only_copies():
    src = np.array([2460310.5, 2460311.5])
    t = Time(src, format="jd")
    src[0] = 0.0
    assert t.jd[0] == 2460310.5
    with pytest.raises(ValueError):
        t.jd1[0] = 1.0


@pytest.mark.parametrize(
    "text",
    [
        "2024-01-01T00:00:00.000000",
        "2024-02-29T23:59:59.999999",
        "1999-12-31T23:59:59.000001",
        "1900-03-01T06:07:08.123456",
        "2199-07-14T13:14:15.654321",
        "1962-06-15T01:02:03.000004",
        "2016-12-31T23:59:60.500000",
        "1972-06-30T23:59:60.999999",
    ],
)
def test_iso_round_trips_to_the_microsecond(text):
    t = Time(text)
    assert t.iso == text
    assert str(t) == text
    back = Time(t.jd, format="jd")  # one float keeps only ~20 us ...
    assert abs((back.jd - t.jd) * 86400) < 1e-4
    pair = Time(t)  # ... the two-part form does not
    assert pair.iso == text


def test_microsecond_steps_are_resolved_far_from_j2000():
    base = Time("2199-12-31T23:59:58.000000")
    steps = Time([f"2199-12-31T23:59:58.{k:06d}" for k in range(0, 7)])
    diffs_s = ((steps.jd1 - base.jd1) + (steps.jd2 - base.jd2)) * 86400.0
    np.testing.assert_allclose(diffs_s, np.arange(7) * 1e-6, rtol=0, atol=1e-10)


def test_iso_against_astropy():
    at = pytest.importorskip("astropy.time")
    rng = np.random.default_rng(5)
    jd = 2436934.5 + rng.uniform(0, 68 * 365.25, 300)  # 1960 to 2028, inside its table
    ours = Time(jd, format="jd")
    theirs = at.Time(jd, format="jd", scale="utc")
    theirs.precision = 6
    np.testing.assert_array_equal(ours.iso, np.char.replace(theirs.isot, " ", "T"))
    back = Time(ours.iso)
    assert np.all(np.abs((back.jd1 - ours.jd1) + (back.jd2 - ours.jd2)) * 86400 <= 0.5e-6)


@pytest.mark.parametrize(
    "utc, tai_minus_utc",
    [
        ("1972-01-01T00:00:00", 10.0),
        ("1972-06-30T23:59:59", 10.0),
        ("1972-07-01T00:00:00", 11.0),
        ("1999-01-01T00:00:00", 32.0),
        ("2016-12-31T23:59:59", 36.0),
        ("2017-01-01T00:00:00", 37.0),
        ("2024-06-01T12:00:00", 37.0),
        ("2040-01-01T00:00:00", 37.0),  # past the table: the last offset holds, no warning
        ("1950-01-01T00:00:00", 0.0),  # before UTC existed: taken equal to TAI
    ],
)
def test_tai_minus_utc_follows_the_leap_seconds(utc, tai_minus_utc):
    u = Time(utc)
    tai = u.tai
    assert tai.scale == "tai"
    expected = Time(utc, scale="tai")  # the same calendar fields read as TAI
    diff = ((tai.jd1 - expected.jd1) + (tai.jd2 - expected.jd2)) * 86400.0
    assert diff == pytest.approx(tai_minus_utc, abs=1e-9)
    assert tai.utc.iso == u.iso


def test_tt_is_tai_plus_32_184_s_and_j2000():
    t = Time("2000-01-01T12:00:00", scale="tt")
    assert t.jd == 2451545.0
    assert t.tai.iso == "2000-01-01T11:59:27.816000"
    assert t.utc.iso == "2000-01-01T11:58:55.816000"
    assert Time("2024").tt.iso == "2024-01-01T00:01:09.184000"


def test_scales_against_astropy():
    at = pytest.importorskip("astropy.time")
    iso = ["1972-06-30T23:59:60.500000", "1980-01-06T00:00:00.000000",
           "2015-06-30T23:59:59.999999", "2024-02-29T12:34:56.789012"]
    ours = Time(iso)
    theirs = at.Time(iso, scale="utc")
    for name in ("tai", "tt"):
        a = getattr(ours, name)
        b = getattr(theirs, name)
        np.testing.assert_allclose(((a.jd1 - b.jd1) + (a.jd2 - b.jd2)) * 86400, 0, atol=1e-9)


def test_leap_second_only_at_the_end_of_a_leap_day():
    assert Time("2016-12-31T23:59:60").tai.iso == "2017-01-01T00:00:36.000000"
    with pytest.raises(ValueError, match="seconds"):
        Time("2016-12-30T23:59:60")
    with pytest.raises(ValueError, match="seconds"):
        Time("2016-12-31T23:59:60", scale="tai")
    with pytest.raises(ValueError):
        Time("2016-12-31T23:59:60").to_datetime()


@pytest.mark.parametrize(
    "dt",
    [
        datetime.datetime(2024, 3, 1, 12, 34, 56, 123456),
        datetime.datetime(1969, 7, 20, 20, 17, 40),
        datetime.datetime(2100, 1, 1),
    ],
)
def test_naive_datetime_is_utc(dt):
    t = Time(dt)
    assert abs(t.jd - jd_of_naive(dt)) < 2 * US_DAYS
    assert t.to_datetime() == dt
    assert Time(dt, format="datetime") == t


def test_aware_datetime_and_date():
    tz = datetime.timezone(datetime.timedelta(hours=-5))
    aware = datetime.datetime(2024, 1, 1, 7, 0, tzinfo=tz)
    assert Time(aware).iso == "2024-01-01T12:00:00.000000"
    # an aware datetime is an instant: asking for TAI converts it rather than relabelling it
    assert Time(aware, scale="tai").iso == "2024-01-01T12:00:37.000000"
    assert Time(datetime.datetime(2024, 1, 1, 12), scale="tai").iso == \
        "2024-01-01T12:00:00.000000"
    assert Time(datetime.date(2024, 1, 1)).jd == 2460310.5


@pytest.mark.parametrize(
    "unit, jd",
    [("Y", 2460310.5), ("M", 2460370.5), ("W", 2460369.5), ("D", 2460370.5), ("h", 2460370.5),
     ("m", 2460370.5), ("s", 2460370.5), ("ms", 2460370.5), ("us", 2460370.5),
     ("ns", 2460370.5)],
)
def test_datetime64_units(unit, jd):
    # 2024-03-01 truncated to the unit: a year starts on 1 January, weeks on Thursdays
    value = np.datetime64("2024-03-01", "D").astype(f"M8[{unit}]")
    assert Time(value).jd == jd


def test_datetime64_array_matches_datetime_before_and_after_1970():
    values = np.array(["1969-12-31T23:59:59.999999", "1900-02-28T01:02:03.5",
                       "2038-01-19T03:14:08.000001"], dtype="M8[us]")
    t = Time(values)
    assert t.shape == (3,)
    assert list(t.to_datetime()) == values.astype(datetime.datetime).tolist()
    np.testing.assert_allclose(t.jd, [jd_of_naive(d) for d in values.tolist()],
                               rtol=0, atol=2 * US_DAYS)
    assert np.all(Time(values, format="datetime64") == t)


def test_datetime64_nanoseconds_and_sequences():
    t = Time(np.datetime64("2024-01-01T00:00:00.000000001"))
    assert ((t.jd1 - 2460311.0) + (t.jd2 + 0.5)) * 86400 == pytest.approx(1e-9, abs=1e-11)
    mixed = Time(["2024-01-01", datetime.datetime(2024, 1, 2), np.datetime64("2024-01-03"),
                  Time("2024-01-04T00:01:09.184", scale="tt")])
    np.testing.assert_allclose(mixed.jd, [2460310.5, 2460311.5, 2460312.5, 2460313.5],
                               rtol=0, atol=1e-9 / 86400)
    nested = Time([Time(["2024", "2025"]), Time(["2026", "2027"])])
    assert nested.shape == (2, 2) and nested[1, 0].iso.startswith("2026-01-01")


def test_copy_constructor_and_scale_conversion():
    t = Time(["2024", "2025"])
    same = Time(t)
    assert np.all(same == t) and same.scale == "utc"
    tt = Time(t, scale="tt")
    assert tt.scale == "tt" and np.all(tt == t)
    np.testing.assert_allclose((tt.jd - t.jd) * 86400, 69.184, atol=1e-5)


def test_equality_is_element_wise_and_reducible():
    a = Time(["2024-01-01", "2024-01-02", "2024-01-03"])
    b = Time(["2024-01-01", "2024-01-02", "2024-01-04"])
    eq = a == b
    assert isinstance(eq, np.ndarray) and eq.dtype == bool
    np.testing.assert_array_equal(eq, [True, True, False])
    np.testing.assert_array_equal(a != b, [False, False, True])
    assert not np.all(eq) and np.all(a == a)
    assert Time("2024") == Time(2460310.5, format="jd")
    assert (Time("2024") == Time("2024-01-01T00:00:00.000001")) is False
    np.testing.assert_array_equal(a == Time("2024-01-02"), [False, True, False])
    # the same instant in different scales
    assert Time("2024").tt == Time("2024")
    assert Time("2024") != Time("2024", scale="tt")


def test_equality_with_other_types_is_not_implemented():
    t = Time("2024")
    assert (t == 2460310.5) is False
    assert (t != "2024") is True
    assert t.__eq__(2460310.5) is NotImplemented
    with pytest.raises(TypeError):
        hash(t)


def test_same_instant_split_differently_is_equal():
    a = Time._from_parts(2460310.0, 0.5, "utc")
    b = Time._from_parts(2460311.0, -0.5, "utc")
    assert a == b


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("value", ["2016-12-31T23:59:60.25", ["2024", "1980-01-06"]])
def test_pickle_round_trip(protocol, value):
    for scale in ("utc", "tt"):
        t = Time(value, scale="utc").tt if scale == "tt" else Time(value)
        back = pickle.loads(pickle.dumps(t, protocol))
        assert type(back) is Time and back.scale == t.scale and back.shape == t.shape
        np.testing.assert_array_equal(back.jd1, t.jd1)
        np.testing.assert_array_equal(back.jd2, t.jd2)
        assert not back.jd1.flags.writeable
    assert np.all(copy.deepcopy(t) == t)


def test_bad_state_is_refused():
    t = Time.__new__(Time)
    with pytest.raises(TypeError):
        t.__setstate__((1, 2))
    with pytest.raises(ValueError):
        t.__setstate__({"jd1": [1.0], "jd2": [1.0, 2.0], "scale": "utc"})
    with pytest.raises(ValueError):
        t.__setstate__({"jd1": 1.0, "jd2": 0.0, "scale": "ut1"})


def test_array_container_protocol_and_repr():
    t = Time([f"2024-01-{d:02d}" for d in range(1, 11)])
    assert len(t) == 10
    assert t[3].iso == "2024-01-04T00:00:00.000000" and t[3].isscalar
    assert t[2:4].shape == (2,)
    assert [x.jd for x in t][:2] == [2460310.5, 2460311.5]
    r = repr(t)
    assert r.startswith("Time(['2024-01-01T00:00:00.000000'") and "..." in r
    assert "shape=(10,)" in r and r.endswith("scale='utc')")
    assert repr(Time("2024", scale="tai")) == "Time('2024-01-01T00:00:00.000000', scale='tai')"
    assert repr(t[:2]) == \
        "Time(['2024-01-01T00:00:00.000000', '2024-01-02T00:00:00.000000'], scale='utc')"
    scalar = Time("2024")
    for op in (len, iter, lambda x: x[0]):
        with pytest.raises(TypeError):
            op(scalar)


def test_empty_array():
    t = Time(np.array([]), format="jd")
    assert t.size == 0 and t.shape == (0,) and t.iso.shape == (0,)
    assert Time([], format="mjd").size == 0


@pytest.mark.parametrize(
    "value, kwargs",
    [
        (2460310.5, {}),  # a number without a format
        (np.float64(1.0), {}),
        (True, {}),
        (True, {"format": "jd"}),
        (b"2024", {}),
        (None, {}),
        (object(), {}),
        ({"jd": 1.0}, {}),
        ("2024", {"format": "jd"}),
        (["2024"], {"format": "mjd"}),
        ("2024", {"format": "datetime64"}),
        (datetime.datetime(2024, 1, 1), {"format": "iso"}),
        ([1.0, 2.0], {}),
        ([None], {}),
        ("2024", {"scale": 3}),
        ("2024", {"format": 3}),
    ],
)
def test_wrong_kinds_raise_type_error(value, kwargs):
    with pytest.raises(TypeError):
        Time(value, **kwargs)


@pytest.mark.parametrize(
    "value, kwargs, match",
    [
        ("24", {}, "cannot read"),
        ("2024-1-1", {}, "cannot read"),
        ("2024-13-01", {}, "month"),
        ("2023-02-29", {}, "day"),
        ("2024-02-30", {}, "day"),
        ("2024-01-01T24:00:00", {}, "hour"),
        ("2024-01-01T12:60:00", {}, "minute"),
        ("2024-01-01T12:00:61", {}, "seconds"),
        ("2024-01-01T12:00:00+25:00", {}, "offset"),
        ("noon", {}, "cannot read"),
        ("2024", {"scale": "ut1"}, "scale"),
        ("2024", {"format": "unix"}, "format"),
        (float("nan"), {"format": "jd"}, "finite"),
        ([1.0, np.inf], {"format": "mjd"}, "finite"),
        (np.datetime64("NaT"), {}, "NaT"),
        (["2024", "bad"], {}, "cannot read"),
    ],
)
def test_bad_values_raise_value_error(value, kwargs, match):
    with pytest.raises(ValueError, match=match):
        Time(value, **kwargs)


def test_scale_and_format_names_are_case_insensitive():
    assert Time("2024", scale="TAI").scale == "tai"
    assert Time(2460310.5, format="JD") == Time("2024")


def test_now_is_close_to_the_system_clock():
    before = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
    t = Time.now()
    assert abs((t.jd - jd_of_naive(before)) * 86400) < 5.0
