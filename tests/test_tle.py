"""Tests of the TLE record: stored lines, satellite number and epoch read from line 1.

Epochs are checked against a hand computation from the calendar (Julian date of 1 January
from the proleptic Gregorian day count) and against the ``sgp4`` package; field conversions
against the C library's own ``strtol``/``strtod`` called through ctypes in the "C" locale.
"""

from __future__ import annotations

import copy
import ctypes
import datetime
import gc
import locale
import math
import pickle
import subprocess
import sys
import tempfile
import textwrap
import weakref

import pytest

from orbalis.propagators.analytical.sgp4 import tle as tle_module
from orbalis.time.time import Time

TLE = tle_module.TLE

NO_REDUCE = "no default __reduce__ due to non-trivial __cinit__"

# Published element sets: (name, line 1, line 2, catalogue number, year, day of year).
PUBLISHED = [
    (
        "ISS (ZARYA)",
        "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
        "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
        25544,
        2008,
        264.51782528,
    ),
    (
        "VANGUARD 1",
        "1 00005U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753",
        "2 00005  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667",
        5,
        2000,
        179.78495062,
    ),
    (
        "HST",
        "1 20580U 90037B   19263.46355213  .00000690  00000-0  24658-4 0  9994",
        "2 20580  28.4706 242.9488 0002611 262.7226 223.1508 15.09593453420541",
        20580,
        2019,
        263.46355213,
    ),
    (
        "NOAA 19",
        "1 33591U 09005A   22001.51347815  .00000093  00000+0  75169-4 0  9993",
        "2 33591  99.1567  28.6359 0013776 135.9423 224.2841 14.12550095666128",
        33591,
        2022,
        1.51347815,
    ),
    (
        "MOLNIYA 2-14",
        "1 08195U 75081A   06176.33215444  .00000099  00000-0  11873-3 0   813",
        "2 08195  64.1586 279.0717 6877146 264.7651  20.2257  2.00491383225656",
        8195,
        2006,
        176.33215444,
    ),
    (
        "NAVSTAR 53 (GPS)",
        "1 28129U 03058A   06175.57071136 -.00000104  00000-0  10000-3 0   459",
        "2 28129  54.7298 324.8098 0048506 266.2640  93.1663  2.00562768 18443",
        28129,
        2006,
        175.57071136,
    ),
    (
        "EUTELSAT 1-F1 (GEO)",
        "1 14128U 83058A   06176.02844893 -.00000158  00000-0  10000-3 0  9627",
        "2 14128   0.0645 250.9695 0008000  34.4484 145.5470  1.00272835 84734",
        14128,
        2006,
        176.02844893,
    ),
    (
        "GOES 16 (GEO)",
        "1 41866U 16071A   21001.50000000 -.00000097  00000-0  00000-0 0  9993",
        "2 41866   0.0271 276.8240 0001199 263.8373 211.2546  1.00272136 15314",
        41866,
        2021,
        1.5,
    ),
    (
        "SPACETRACK REPORT 3",
        "1 88888U          80275.98708465  .00073094  13844-3  66816-4 0    87",
        "2 88888  72.8435 115.9689 0086731  52.6988 110.5714 16.05824518  1058",
        88888,
        1980,
        275.98708465,
    ),
    (
        "HOOTS DEEP SPACE",
        "1 11801U          80230.29629788  .01431103  00000-0  14311-1      13",
        "2 11801  46.7916 230.4354 7318036  47.4722  10.4117  2.28537848    13",
        11801,
        1980,
        230.29629788,
    ),
    (
        "DELTA 1 DEB",
        "1 06251U 62025E   06176.82412014  .00008885  00000-0  12808-3 0  3985",
        "2 06251  58.0579  54.0425 0030035 139.1568 221.1854 15.56387291  6774",
        6251,
        2006,
        176.82412014,
    ),
    (
        "CBERS 2",
        "1 28057U 03049A   06177.78615833  .00000060  00000-0  35940-4 0  1836",
        "2 28057  98.4283 247.6961 0000884  88.1964 271.9322 14.35478080140550",
        28057,
        2006,
        177.78615833,
    ),
    (
        "SL-6 R/B(2)",
        "1 16925U 86065D   06151.67415771  .02550794 -30915-6  18784-3 0  4486",
        "2 16925  62.0906 295.0239 5596327 245.1593  47.9690  4.88511875148616",
        16925,
        2006,
        151.67415771,
    ),
    (
        "SL-14 R/B (1970)",
        "1 04632U 70093B   04031.91070959 -.00000084  00000-0  10000-3 0  9955",
        "2 04632  11.4628 273.1101 1450506 207.6000 143.9350  1.20231981 44145",
        4632,
        2004,
        31.91070959,
    ),
]
PUBLISHED_IDS = [entry[0] for entry in PUBLISHED]
ISS1, ISS2 = PUBLISHED[0][1], PUBLISHED[0][2]


def jd_of_new_year(year: int) -> float:
    """Julian date of 00:00 on 1 January, from the day count of the proleptic calendar."""
    return 2440587.5 + (datetime.date(year, 1, 1) - datetime.date(1970, 1, 1)).days


def expected_jd(year: int, day: float) -> float:
    return (jd_of_new_year(year) - 1.0) + day


def line1_with(satno: str = "25544", year: str = "08", day: str = "264.51782528") -> str:
    assert len(satno) == 5 and len(year) == 2 and len(day) == 12
    return f"1 {satno}U 98067A   {year}{day} -.00002182  00000-0 -11606-4 0  2927"


# The C library's own conversions, the reference for the year and day fields.
_libc = ctypes.CDLL(None)
_libc.strtod.restype = ctypes.c_double
_libc.strtod.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_char_p)]
_libc.strtol.restype = ctypes.c_long
_libc.strtol.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_char_p), ctypes.c_int]


@pytest.fixture(scope="module")
def c_numeric_locale():
    if locale.setlocale(locale.LC_NUMERIC) not in ("C", "POSIX"):
        pytest.skip("the reference conversions need LC_NUMERIC=C in the test process")


def run_python(code: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=120,
        cwd=tempfile.gettempdir(),
    )


# -- published sets ---------------------------------------------------------------------


@pytest.mark.parametrize("name, line1, line2, satno, year, day", PUBLISHED, ids=PUBLISHED_IDS)
def test_published_sets(name, line1, line2, satno, year, day):
    record = TLE(line1, line2)
    assert record.line1 == line1 and record.line2 == line2
    assert record.satno == satno and type(record.satno) is int
    assert isinstance(record.epoch, Time)
    assert record.epoch.jd == expected_jd(year, day)


@pytest.mark.parametrize("name, line1, line2, satno, year, day", PUBLISHED, ids=PUBLISHED_IDS)
def test_published_epochs_match_sgp4(name, line1, line2, satno, year, day):
    api = pytest.importorskip("sgp4.api")
    sat = api.Satrec.twoline2rv(line1, line2)
    assert sat.satnum == satno
    assert abs(TLE(line1, line2).epoch.jd - (sat.jdsatepoch + sat.jdsatepochF)) < 1e-8


def test_alpha5_number_matches_sgp4():
    api = pytest.importorskip("sgp4.api")
    line1, line2 = ISS1.replace("25544", "A1234"), ISS2.replace("25544", "A1234")
    sat = api.Satrec.twoline2rv(line1, line2)
    record = TLE(line1, line2)
    assert record.satno == sat.satnum_str == "A1234"
    assert abs(record.epoch.jd - (sat.jdsatepoch + sat.jdsatepochF)) < 1e-8


# -- text handling ----------------------------------------------------------------------


def test_blanks_are_stripped_before_columns_apply():
    record = TLE("   \t" + ISS1 + "  \r\n", "\n" + ISS2 + " ")
    assert record.line1 == ISS1 and record.line2 == ISS2
    assert record.satno == 25544
    assert record.epoch.jd == expected_jd(2008, 264.51782528)


def test_each_ascii_character_is_stripped_as_str_strip_does():
    # Python's strip() also removes the separators U+001C..U+001F; nothing else in ASCII.
    for code in range(1, 128):
        ch = chr(code)
        text = ch + "1 00005" + ch
        assert TLE(text, ch).line1 == text.strip().upper(), repr(ch)


def test_lower_case_is_stored_upper_case():
    record = TLE(line1_with(satno="a1234").lower(), ISS2.lower())
    assert record.line1 == line1_with(satno="A1234")
    assert record.line2 == ISS2
    assert record.satno == "A1234"


@pytest.mark.parametrize(
    "line1, line2",
    [
        ("1 25544U é", ISS2),
        (ISS1, "2 25544 ü"),
        (ISS1 + " " * 20 + "€", ISS2),  # past the 69 stored characters: still refused
        ("\u00e9" * 3, None),  # line 2 of the wrong type: the type check comes first
    ],
)
def test_non_ascii_text_is_refused(line1, line2):
    exc = TypeError if line2 is None else UnicodeEncodeError
    with pytest.raises(exc):
        TLE(line1, line2)


def test_non_ascii_error_names_line1_before_line2():
    with pytest.raises(UnicodeEncodeError) as info:
        TLE("1 é", "2 ü")
    assert info.value.object == "1 É"


def test_text_that_becomes_ascii_when_upper_cased_is_accepted():
    # U+0131 upper-cases to "I", U+00DF to "SS" and U+FB01 to "FI"; U+3000 is a blank.
    record = TLE("\u3000\u0131\u00df\ufb01 x\u3000", "\u00a0y")
    assert record.line1 == "ISSFI X"
    assert record.line2 == "Y"


@pytest.mark.parametrize("extra", [0, 1, 11, 100])
def test_long_lines_are_cut_to_69_characters(extra):
    line1 = (ISS1 + "0123456789ABC")[: 69 + extra]
    line2 = (ISS2 + "XYZ" * 40)[: 69 + extra]
    record = TLE(line1, line2)
    assert record.line1 == line1[:69] and record.line2 == line2[:69]
    assert record.epoch.jd == expected_jd(2008, 264.51782528)


def test_copy_stops_at_nul():
    record = TLE("1 255\x0044U 98067A   08264.51782528", "2 25544\x00 tail")
    assert record.line1 == "1 255" and record.line2 == "2 25544"
    assert record.satno == 255
    assert record.epoch.jd == expected_jd(2000, 0.0)


def test_lines_are_new_str_objects_on_each_read():
    record = TLE(ISS1, ISS2)
    assert record.line1 == record.line1 and type(record.line1) is str
    assert record.epoch is record.epoch


# -- satellite number -------------------------------------------------------------------


@pytest.mark.parametrize(
    "field, expected",
    [
        ("00005", 5),
        ("    5", 5),
        ("25544", 25544),
        ("99999", 99999),
        ("-0001", -1),
        ("+1234", 1234),
        ("1_234", 1234),
        ("A1234", "A1234"),
        ("T0001", "T0001"),
        ("Z9999", "Z9999"),
        ("12 34", "12 34"),
        ("     ", ""),
        (" 0X1F", "0X1F"),
    ],
)
def test_satno_field(field, expected):
    satno = TLE(line1_with(satno=field), ISS2).satno
    assert satno == expected and type(satno) is type(expected)


@pytest.mark.parametrize(
    "line1, expected", [("", ""), ("1", ""), ("1 ", ""), ("1 12", 12), ("1 123456789", 12345)]
)
def test_satno_of_short_lines(line1, expected):
    assert TLE(line1, "").satno == expected


# -- epoch fields -----------------------------------------------------------------------


@pytest.mark.parametrize(
    "field, year",
    [
        ("57", 1957),
        ("56", 2056),
        ("00", 2000),
        ("99", 1999),
        ("08", 2008),
        (" 5", 2005),
        ("+5", 2005),
        ("-5", 1995),
        ("5X", 2005),
        ("X5", 2000),
        ("  ", 2000),
    ],
)
def test_year_field(field, year, c_numeric_locale):
    yy = _libc.strtol(field.encode(), None, 10)
    assert year == (2000 + yy if yy <= 56 else 1900 + yy)
    assert TLE(line1_with(year=field), ISS2).epoch.jd == expected_jd(year, 264.51782528)


@pytest.mark.parametrize(
    "field",
    [
        "264.51782528",
        "001.00000000",
        "001.50000000",
        "366.99999999",
        "  1.5       ",
        "+1.5        ",
        "-1.5        ",
        "1.5E1       ",
        "1E2         ",
        "0X1P4       ",
        ".5          ",
        "1.5.3       ",
        "1 5         ",
        "1,5         ",
        "ABC         ",
        "            ",
        "000000000000",
        "1.23456789012",
    ],
)
def test_day_field(field, c_numeric_locale):
    field = field[:12]
    day = _libc.strtod(field.encode(), None)
    assert TLE(line1_with(day=field), ISS2).epoch.jd == expected_jd(2008, day)


@pytest.mark.parametrize("field", ["INF         ", "-INFINITY   ", "NAN         ", "1E400       "])
def test_non_finite_day_gives_what_time_gives_for_that_julian_date(field, c_numeric_locale):
    # The field converts to a non-finite day; whatever Time makes of the resulting Julian
    # date (an epoch or an error) is what the record gives.
    day = _libc.strtod(field.encode(), None)
    assert not math.isfinite(day)

    def outcome(make):
        try:
            jd = make().jd
        except Exception as exc:  # noqa: BLE001 - the kind of failure is compared
            return type(exc)
        return "nan" if math.isnan(jd) else jd

    expected = outcome(lambda: Time(expected_jd(2008, day), format="jd"))
    assert outcome(lambda: TLE(line1_with(day=field), ISS2).epoch) == expected


def test_day_one_is_new_year_midnight_and_one_and_a_half_is_noon():
    midnight = TLE(line1_with(year="24", day="001.00000000"), ISS2).epoch
    noon = TLE(line1_with(year="24", day="001.50000000"), ISS2).epoch
    assert midnight.jd == 2460310.5
    assert noon.jd == 2460311.0


@pytest.mark.parametrize("line1", ["", "1 25544U", "1 25544U 98067A   ", "1 25544U 98067A   0"])
def test_short_line1_gives_the_day_before_2000(line1):
    # An empty or one-digit year field reads as 0 (2000 or 2000 + digit); no day reads 0.0.
    year = 2000 if len(line1) < 19 else 2000 + int(line1[18])
    assert TLE(line1, "").epoch.jd == expected_jd(year, 0.0)


def test_empty_day_field_gives_day_zero():
    assert TLE("1 25544U 98067A   08", "").epoch.jd == jd_of_new_year(2008) - 1.0


# -- arguments --------------------------------------------------------------------------


@pytest.mark.parametrize("flag", [False, True, 0, 1, None, "", "yes", [], [0]])
def test_strict_validation_has_no_effect(flag):
    plain = TLE(ISS1, ISS2)
    for record in (TLE(ISS1, ISS2, flag), TLE(ISS1, ISS2, strict_validation=flag)):
        assert (record.line1, record.line2, record.satno) == (plain.line1, plain.line2, plain.satno)
        assert record.epoch.jd == plain.epoch.jd


class TruthError(Exception):
    pass


class NoTruth:
    def __bool__(self):
        raise TruthError("no truth value")


def test_failing_truth_test_fails_construction_before_type_checks():
    with pytest.raises(TruthError):
        TLE(ISS1, ISS2, NoTruth())
    with pytest.raises(TruthError):
        TLE(None, 5, strict_validation=NoTruth())


def test_keyword_arguments():
    record = TLE(line2=ISS2, line1=ISS1)
    assert record.line1 == ISS1 and record.line2 == ISS2
    assert TLE(ISS1, line2=ISS2, strict_validation=True).satno == 25544


class StrSubclass(str):
    pass


@pytest.mark.parametrize(
    "line1, line2, name",
    [
        (None, ISS2, "line1"),
        (ISS2, None, "line2"),
        (None, None, "line1"),
        (ISS1.encode(), ISS2, "line1"),
        (ISS1, bytearray(b"2"), "line2"),
        (StrSubclass(ISS1), ISS2, "line1"),
        (ISS1, StrSubclass(ISS2), "line2"),
        (25544, ISS2, "line1"),
        (ISS1, ["2"], "line2"),
    ],
)
def test_lines_must_be_exact_str(line1, line2, name):
    with pytest.raises(TypeError, match=f"'{name}'"):
        TLE(line1, line2)


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {}),
        ((ISS1,), {}),
        ((ISS1, ISS2, True, 4), {}),
        ((ISS1, ISS2), {"strict": True}),
        ((ISS1, ISS2), {"line1": ISS1}),
        ((ISS1,), {"line3": ISS2}),
        ((), {"line2": ISS2}),
    ],
)
def test_wrong_arguments(args, kwargs):
    with pytest.raises(TypeError):
        TLE(*args, **kwargs)


# -- type behaviour ---------------------------------------------------------------------


def test_type_identity_and_module_contents():
    assert TLE.__module__ == "orbalis.propagators.analytical.sgp4.tle"
    assert TLE.__qualname__ == "TLE"
    assert TLE.__doc__ is None
    assert [name for name in dir(tle_module) if not name.startswith("__")] == ["TLE"]
    assert TLE.line1.__doc__ == "TLE.line1: str"
    assert TLE.line2.__doc__ == "TLE.line2: str"
    assert TLE.satno.__doc__ == "TLE.satno: int | str"


@pytest.mark.parametrize("name", ["line1", "line2", "satno", "epoch"])
def test_attributes_are_read_only(name):
    record = TLE(ISS1, ISS2)
    before = getattr(record, name)
    with pytest.raises(AttributeError):
        setattr(record, name, before)
    with pytest.raises(AttributeError):
        delattr(record, name)
    assert getattr(record, name) == before


def test_no_instance_dict_and_no_weak_references():
    record = TLE(ISS1, ISS2)
    assert not hasattr(record, "__dict__")
    with pytest.raises(AttributeError):
        record.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(record)


def test_identity_equality_hash_and_repr():
    a, b = TLE(ISS1, ISS2), TLE(ISS1, ISS2)
    assert a == a and a != b
    assert hash(a) == object.__hash__(a)
    assert repr(a) == object.__repr__(a)
    assert repr(a).startswith("<orbalis.propagators.analytical.sgp4.tle.TLE object at 0x")


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickling_is_refused(protocol):
    with pytest.raises(TypeError, match=f"^{NO_REDUCE}$"):
        pickle.dumps(TLE(ISS1, ISS2), protocol)


@pytest.mark.parametrize(
    "operation",
    [
        copy.copy,
        copy.deepcopy,
        lambda r: r.__reduce__(),
        lambda r: r.__reduce_ex__(2),
        lambda r: r.__setstate__(None),
        lambda r: r.__setstate__((1, 2)),
    ],
)
def test_copying_is_refused(operation):
    with pytest.raises(TypeError, match=f"^{NO_REDUCE}$"):
        operation(TLE(ISS1, ISS2))


def test_setstate_takes_exactly_one_argument():
    record = TLE(ISS1, ISS2)
    for args in [(), (1, 2)]:
        with pytest.raises(TypeError) as info:
            record.__setstate__(*args)
        assert str(info.value) != NO_REDUCE


class NamedTLE(TLE):
    def __init__(self, line1, line2, strict_validation=False):
        self.name = "ISS"


class SlottedTLE(TLE):
    __slots__ = ()


class NotedTLE(TLE):
    __slots__ = ("note",)

    def __new__(cls, line1, line2, note):
        self = super().__new__(cls, line1.strip(), line2=line2)
        self.note = note
        return self


def test_subclasses():
    named = NamedTLE(ISS1, ISS2)
    assert isinstance(named, TLE) and named.name == "ISS"
    assert named.satno == 25544 and named.epoch.jd == expected_jd(2008, 264.51782528)
    slotted = SlottedTLE(ISS1, line2=ISS2)
    assert type(slotted) is SlottedTLE and slotted.line2 == ISS2
    with pytest.raises(TypeError):
        SlottedTLE(StrSubclass(ISS1), ISS2)
    with pytest.raises(TypeError, match=NO_REDUCE):
        pickle.dumps(named)
    noted = NotedTLE(ISS1, ISS2, note="zarya")
    assert noted.note == "zarya" and noted.satno == 25544
    direct = TLE.__new__(TLE, ISS1, ISS2)
    assert type(direct) is TLE and direct.line1 == ISS1


def test_garbage_collection():
    record = TLE(ISS1, ISS2)
    assert gc.is_tracked(record)
    referents = gc.get_referents(record)
    assert any(obj is record.epoch for obj in referents) and TLE in referents

    cyclic = NamedTLE(ISS1, ISS2)
    cyclic.me = cyclic
    alive = weakref.ref(cyclic)
    del cyclic
    gc.collect()
    assert alive() is None


# -- process-level behaviour, in subprocesses --------------------------------------------


def test_second_initialisation_is_refused():
    result = run_python("""
        import sys
        import orbalis.propagators.analytical.sgp4.tle as first
        del sys.modules["orbalis.propagators.analytical.sgp4.tle"]
        try:
            import orbalis.propagators.analytical.sgp4.tle
        except RuntimeError as exc:
            print("refused:", exc)
        record = first.TLE("1 00005U 58002B   00179.78495062", "2")
        print(record.satno)
    """)
    assert result.returncode == 0, result.stderr
    assert "refused: Module 'orbalis.propagators.analytical.sgp4.tle' has already" in result.stdout
    assert result.stdout.splitlines()[-1] == "5"


FAKE_TIME_PRELUDE = """
    import sys, types
    fake = types.ModuleType("orbalis.time.time")
    sys.modules["orbalis.time.time"] = fake
"""


@pytest.mark.parametrize(
    "definition, error",
    [
        ("fake.Time = 42", "TypeError: orbalis.time.time.Time is not a type object"),
        ("fake.Time = lambda *a, **k: None", "TypeError: orbalis.time.time.Time is not a type"),
        ("pass", "ImportError: cannot import name 'Time' from 'orbalis.time.time'"),
        ("sys.modules['orbalis.time.time'] = None", "ModuleNotFoundError"),
        ("sys.modules['numpy'] = None", "ModuleNotFoundError: import of numpy halted"),
    ],
)
def test_import_fails_without_a_time_type(definition, error):
    result = run_python(
        FAKE_TIME_PRELUDE
        + f"""
    {definition}
    import orbalis.propagators.analytical.sgp4.tle
    """
    )
    assert result.returncode != 0
    assert error in result.stderr


def test_calls_made_on_the_time_type():
    # A recording stand-in shows the exact protocol: Time(year text), .jd, then
    # (jd - 1.0) + day through the operands' own number methods, then Time(sum, format="jd").
    result = run_python(
        FAKE_TIME_PRELUDE
        + """
    log = []
    class Sum:
        pass
    class DayZero:
        def __add__(self, other):
            log.append(("add", type(other).__name__, other))
            return Sum()
    class JD:
        def __sub__(self, other):
            log.append(("sub", type(other).__name__, other))
            return DayZero()
    class Time:
        live = 0
        def __init__(self, *args, **kwargs):
            log.append(("Time", tuple(type(a).__name__ if isinstance(a, Sum) else a
                                      for a in args), kwargs))
        def __new__(cls, *args, **kwargs):
            Time.live += 1
            return super().__new__(cls)
        def __del__(self):
            Time.live -= 1
        @property
        def jd(self):
            log.append("jd")
            return JD()
    fake.Time = Time
    from orbalis.propagators.analytical.sgp4.tle import TLE
    record = TLE("1 25544U 98067A   24001.50000000", "2")
    for entry in log:
        print(entry)
    print(type(record.epoch) is Time, record.epoch is record.epoch)
    del record, entry
    print("live", Time.live)
    log.clear()
    TLE("", "")
    print(log[0], log[3][2])
    """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "('Time', ('2024',), {})",
        "jd",
        "('sub', 'float', 1.0)",
        "('add', 'float', 1.5)",
        "('Time', ('Sum',), {'format': 'jd'})",
        "True True",
        "live 0",
        "('Time', ('2000',), {}) 0.0",
    ]


@pytest.mark.parametrize("failing", ["year", "jd", "julian"])
def test_time_errors_propagate(failing):
    result = run_python(
        FAKE_TIME_PRELUDE
        + f"""
    import traceback
    class Failure(Exception):
        pass
    class Time:
        live = 0
        def __init__(self, value, format=None):
            if format is None and {failing!r} == "year":
                raise Failure("year")
            if format == "jd" and {failing!r} == "julian":
                raise Failure("julian")
        def __new__(cls, *args, **kwargs):
            Time.live += 1
            return super().__new__(cls)
        def __del__(self):
            Time.live -= 1
        @property
        def jd(self):
            if {failing!r} == "jd":
                raise Failure("jd")
            return 2460310.5
    fake.Time = Time
    from orbalis.propagators.analytical.sgp4.tle import TLE
    try:
        TLE("1 25544U 98067A   24001.50000000", "2")
    except Failure as exc:
        print("raised", exc)
        print("parse_line1" in "".join(traceback.format_tb(exc.__traceback__)))
    import gc; gc.collect()
    print("live", Time.live)
    """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [f"raised {failing}", "True", "live 0"]


def comma_decimal_locale() -> str | None:
    try:
        names = subprocess.run(
            ["locale", "-a"], capture_output=True, text=True, timeout=30
        ).stdout.split()
    except (OSError, subprocess.SubprocessError):
        return None
    for wanted in ("de_DE", "fr_FR", "it_IT", "es_ES", "nl_NL", "pt_BR", "ru_RU"):
        for name in names:
            if name.startswith(wanted) and name.lower().endswith(("utf8", "utf-8")):
                return name
    return None


def test_fields_are_read_the_same_under_a_comma_decimal_locale():
    name = comma_decimal_locale()
    if name is None:
        pytest.skip("no comma-decimal locale installed")
    result = run_python(f"""
    import ctypes, locale
    locale.setlocale(locale.LC_ALL, {name!r})
    libc = ctypes.CDLL(None)
    libc.strtod.restype = ctypes.c_double
    libc.strtod.argtypes = [ctypes.c_char_p, ctypes.c_void_p]
    print(libc.strtod(b"1.5", None), libc.strtod(b"1,5", None))
    from orbalis.propagators.analytical.sgp4.tle import TLE
    for day in ("001.50000000", "001,50000000", " +1.5E0     "):
        print(repr(TLE("1 25544U 98067A   24" + day, "2").epoch.jd))
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["1.0 1.5", "2460311.0", "2460310.5", "2460311.0"]
