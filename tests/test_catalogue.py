"""Tests of load_tles: catalogue layouts, sources, the checks on each set, resynchronisation.

The real sets are the published verification sets shipped with the ``sgp4`` package (the
three that carry deliberately wrong checksums left out) and a few published sets written
here; checksums are cross-checked against ``sgp4.io.compute_checksum``.
"""

import importlib.resources
import io
import pathlib
import random
import warnings

import pytest

from orbalis.propagators.analytical.sgp4 import TLEFormatWarning, load_tles
from orbalis.propagators.analytical.sgp4.tle import TLE

WRITTEN = [
    (
        "ISS (ZARYA)",
        "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
        "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
    ),
    (
        "SL-6 R/B(2)",
        "1 16925U 86065D   06151.67415771  .02550794 -30915-6  18784-3 0  4486",
        "2 16925  62.0906 295.0239 5596327 245.1593  47.9690  4.88511875148616",
    ),
    (
        "SPACETRACK 3 SGP TEST",
        "1 88888U          80275.98708465  .00073094  13844-3  66816-4 0    87",
        "2 88888  72.8435 115.9689 0086731  52.6988 110.5714 16.05824518  1058",
    ),
    (
        "SPACETRACK 3 DEEP",
        "1 11801U          80230.29629788  .01431103  00000-0  14311-1      13",
        "2 11801  46.7916 230.4354 7318036  47.4722  10.4117  2.28537848    13",
    ),
]


def _verification_sets():
    """Well-formed sets of the sgp4 package's verification file (line 2 cut to 69 columns)."""
    try:
        text = (importlib.resources.files("sgp4") / "SGP4-VER.TLE").read_text()
    except (ModuleNotFoundError, FileNotFoundError):
        return []
    data = [line for line in text.splitlines() if line[:2] in ("1 ", "2 ")]
    bad_checksums = {"33333", "33334", "33335"}  # error-code cases, checksums left wrong
    return [
        (None, l1.rstrip(), l2[:69])
        for l1, l2 in zip(data[0::2], data[1::2], strict=True)
        if l1[2:7] not in bad_checksums
    ]


REAL = WRITTEN + _verification_sets()


def catalogue_text(sets, *, names=True, newline="\n", blank="", trailing="", zero=False):
    out = []
    for name, l1, l2 in sets:
        if names and name is not None:
            out.append(("0 " if zero else "") + name + trailing)
        out += [l1 + trailing, l2 + trailing]
        if blank is not None and blank != "":
            out.append(blank)
    return newline.join(out) + newline


def summary(result):
    return [(name, tle.line1, tle.line2) for name, tle in result]


def expected(sets, names=True):
    return [(name if names else None, l1, l2) for name, l1, l2 in sets]


def load_quietly(source, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a well-formed catalogue warns about nothing
        return load_tles(source, **kwargs)


# -- layouts and sources ------------------------------------------------------------------


@pytest.mark.parametrize(
    "kwargs",
    [
        {"names": False},
        {},
        {"zero": True},
        {"blank": "   "},
        {"blank": "", "trailing": "    "},
        {"newline": "\r\n"},
        {"newline": "\r\n", "trailing": " \t", "zero": True, "blank": ""},
    ],
    ids=["two-line", "three-line", "zero-names", "blank-lines", "trailing-blanks", "crlf", "all"],
)
def test_layouts(kwargs):
    assert len(REAL) > 20
    text = catalogue_text(REAL, **kwargs)
    result = load_quietly(io.StringIO(text))
    assert summary(result) == expected(REAL, kwargs.get("names", True))
    for (_, tle), (_, l1, l2) in zip(result, REAL, strict=True):
        assert (
            type(tle) is TLE and tle.epoch == TLE(l1, l2).epoch and tle.satno == TLE(l1, l2).satno
        )


def test_mixed_two_and_three_line_sets():
    sets = [(name if i % 3 else None, l1, l2) for i, (name, l1, l2) in enumerate(REAL)]
    assert summary(load_quietly(catalogue_text(sets).splitlines())) == sets


@pytest.mark.parametrize(
    "make",
    [
        lambda path: str(path),
        lambda path: path,
        lambda path: open(path, encoding="ascii"),  # noqa: SIM115 - the test closes it
        lambda path: io.StringIO(path.read_text()),
        lambda path: path.read_text().splitlines(),
        lambda path: path.read_text().splitlines(keepends=True),
        lambda path: (line for line in path.read_text().splitlines()),
    ],
    ids=["str", "pathlike", "text-file", "stringio", "lines", "lines-with-ends", "generator"],
)
def test_sources(make, tmp_path):
    path = tmp_path / "catalogue.tle"
    path.write_bytes(catalogue_text(WRITTEN, newline="\r\n").encode("ascii"))
    source = make(path)
    try:
        assert summary(load_quietly(source)) == expected(WRITTEN)
    finally:
        if hasattr(source, "close"):
            source.close()


@pytest.mark.parametrize(
    "source, error, match",
    [
        (catalogue_text(WRITTEN[:1]), OSError, None),  # a str is always a file name
        (b"1 25544U", TypeError, "bytes"),
        (42, TypeError, "int"),
        ([b"1 25544U"], TypeError, "line 1 is a bytes"),
        (["ISS", None], TypeError, "line 2 is a NoneType"),
        (io.BytesIO(b"1 25544U\n"), TypeError, "text mode"),
    ],
    ids=["text-as-str", "bytes", "int", "bytes-lines", "none-line", "binary-file"],
)
def test_bad_sources(source, error, match):
    with pytest.raises(error, match=match):
        load_tles(source)


def test_empty_sources():
    assert load_quietly([]) == [] and load_quietly(io.StringIO("\n \n\r\n")) == []


# -- checks on each set -------------------------------------------------------------------

ISS1, ISS2 = WRITTEN[0][1:]


def replace(line, column, text):
    """line with `text` written from 1-based `column`."""
    return line[: column - 1] + text + line[column - 1 + len(text) :]


def with_checksum(line):
    from sgp4.io import compute_checksum

    return line[:68] + str(compute_checksum(line))


# (lines of the bad set, reason expected in the message); the set sits between good sets
BAD_SETS = {
    "checksum": ([ISS1[:68] + "0", ISS2], "line 1 checksum is 0, but its columns 1-68 sum to 7"),
    "checksum-2": ([ISS1, ISS2[:68] + "1"], "line 2 checksum is 1"),
    "satnum": ([ISS1, with_checksum(replace(ISS2, 3, "25545"))], "satellite numbers differ"),
    "short": ([ISS1[:60], ISS2], "line 1 has 60 characters, not 69"),
    "long": ([ISS1, ISS2 + "0"], "line 2 has 70 characters, not 69"),
    "layout": ([with_checksum(replace(ISS1, 24, ",")), ISS2], "column 24 of line 1 (epoch)"),
    "layout-2": (
        [ISS1, with_checksum(replace(ISS2, 27, "x"))],
        "column 27 of line 2 (eccentricity)",
    ),
    "separator": ([ISS1, with_checksum(replace(ISS2, 17, "0"))], "column 17 of line 2 (separator)"),
    "non-ascii": ([ISS1, with_checksum(replace(ISS2, 9, "\u00e9"))], "column 9 of line 2"),
    "no-line-2": ([ISS1], "line 1 at line 6 is not followed by a line 2"),
    "no-line-1": ([ISS2], "line 2 at line 6 has no line 1 before it"),
    "line-number": (["3" + ISS1[1:], ISS2], "line 2 at line 7 has no line 1 before it"),
    "swapped": ([ISS2, ISS1], "line 2 at line 6 has no line 1 before it"),
    "name-only": ([], "name line 'BROKEN' is not followed by a line 1"),
}


@pytest.mark.parametrize("case", list(BAD_SETS), ids=list(BAD_SETS))
def test_malformed_sets_are_skipped_and_good_ones_kept(case):
    bad_lines, reason = BAD_SETS[case]
    before, after = WRITTEN[1:2], WRITTEN[2:]
    # lines: 1-3 the first good set, 4 blank, 5 the bad set's name, then its lines
    lines = catalogue_text(before).splitlines() + ["", "BROKEN", *bad_lines]
    lines += catalogue_text(after).splitlines()
    with pytest.warns(TLEFormatWarning) as caught:
        result = load_tles(lines)
    assert summary(result) == expected(before + after)
    messages = [str(w.message) for w in caught]
    assert messages[0].startswith("TLE set at line 5: ") and any(reason in m for m in messages)
    assert all(m.endswith("; skipped") for m in messages)
    with pytest.raises(ValueError, match="^TLE set at line 5: ") as info:
        load_tles(lines, strict=True)
    assert str(info.value) + "; skipped" == messages[0]


def test_warning_category_and_location():
    assert issubclass(TLEFormatWarning, UserWarning) and TLEFormatWarning.__doc__
    with pytest.warns(TLEFormatWarning) as caught:
        load_tles([ISS1])
    assert caught[0].filename == __file__  # attributed to the caller of load_tles


def test_trailing_name_and_every_other_set_bad():
    # resynchronisation: alternate good and corrupted sets, then a dangling name
    sets, lines = [], []
    for i, (name, l1, l2) in enumerate(REAL):
        if i % 2:
            lines += [name or "X", l1[:68] + str((int(l1[68]) + 1) % 10), l2]
        else:
            lines += [name or "X", l1, l2]
            sets.append((name or "X", l1, l2))
    lines.append("DANGLING")
    with pytest.warns(TLEFormatWarning) as caught:
        result = load_tles(lines)
    assert summary(result) == sets
    assert len(caught) == len(REAL) // 2 + 1 and "'DANGLING'" in str(caught[-1].message)


def test_checksum_against_sgp4():
    from sgp4.io import compute_checksum

    rng = random.Random(5)
    accepted = refused = 0
    for _, l1, l2 in REAL:
        for which, line in enumerate((l1, l2)):
            for _ in range(10):
                column = rng.randrange(2, 69)
                if not line[column].isdigit():
                    continue  # a digit for a digit keeps the column layout
                mutated = line[:column] + rng.choice("0123456789") + line[column + 1 :]
                pair = [mutated, l2] if which == 0 else [l1, mutated]
                if mutated[2:7] != pair[1 - which][2:7]:
                    continue  # the satellite number changed: another check
                if compute_checksum(mutated) == int(mutated[68]):
                    accepted += 1
                    assert len(load_quietly(pair)) == 1
                else:
                    refused += 1
                    with pytest.raises(ValueError, match=f"line {which + 1} checksum"):
                        load_tles(pair, strict=True)
    assert accepted > 20 and refused > 200, (accepted, refused)


def test_satellite_numbers_padded_differently_are_the_same():
    line1 = with_checksum(replace(ISS1, 3, "00005"))
    line2 = with_checksum(replace(ISS2, 3, "    5"))
    [(_, tle)] = load_quietly([line1, line2])
    assert tle.satno == 5
    with pytest.raises(ValueError, match="satellite numbers differ: '00005' on line 1, '6'"):
        load_tles([line1, with_checksum(replace(ISS2, 3, "    6"))], strict=True)


def test_names_keep_their_text(tmp_path):
    path = pathlib.Path(tmp_path) / "names.tle"
    path.write_text(
        f"0 ISS (ZARYA)  \n{ISS1}\n{ISS2}\n  STARLINK-1007 \n{ISS1}\n{ISS2}\n0\n{ISS1}\n{ISS2}\n"
    )
    assert [name for name, _ in load_quietly(path)] == ["ISS (ZARYA)", "STARLINK-1007", "0"]


def test_undecodable_bytes_cost_only_their_set(tmp_path):
    # a name in Latin-1 is kept (with a replacement character); a data line with such a byte
    # is malformed, and the sets around it load
    path = tmp_path / "latin1.tle"
    bad2 = ISS2[:10].encode() + b"\xe9" + ISS2[11:].encode()
    path.write_bytes(
        b"SAT\xe9LLITE\n" + ISS1.encode() + b"\n" + ISS2.encode() + b"\n"
        + ISS1.encode() + b"\n" + bad2 + b"\n" + ISS1.encode() + b"\n" + ISS2.encode() + b"\n"
    )  # fmt: skip
    with pytest.warns(TLEFormatWarning, match="line 4: column 11 of line 2"):
        result = load_tles(path)
    assert [name for name, _ in result] == ["SAT\ufffdLLITE", None]
