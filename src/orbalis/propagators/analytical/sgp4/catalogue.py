"""Reading TLE catalogues: ``load_tles`` and the warning category ``TLEFormatWarning``.

A catalogue is a text of two-line sets, each optionally preceded by a name line (the
three-line form, where the name may carry a leading "0 "). Blank lines, trailing blanks and
CRLF line ends are accepted. Every set is checked before it becomes a ``TLE``: line numbers 1
and 2, the same satellite number on both lines, the modulo-10 checksum of each line and the
column layout of the published format. A malformed set is skipped with a warning naming its
line number and the reason (or, with ``strict=True``, raises ValueError), and reading picks up
again at the next line that can start a set, so a bad set never costs the good ones after it.
"""

from __future__ import annotations

import os
import re
import warnings
from collections.abc import Iterable

import numpy as np

from .tle import TLE

__all__ = ["TLEFormatWarning", "load_tles"]


class TLEFormatWarning(UserWarning):
    """A malformed set in a TLE catalogue, skipped by ``load_tles``; the message names the
    line where the set starts and what is wrong with it."""


# The column layout of each line, one character per column (69 columns). Literal characters
# stand for themselves; the letters are the classes below. The numeric fields allow blanks
# where the published format pads with them (leading digits, an omitted ephemeris type).
_CLASSES = {
    "n": "0-9A-Z ",  # satellite number, Alpha-5 included
    "c": "A-Z ",  # classification
    "i": "0-9A-Z ",  # international designator
    "d": "0-9",  # digit
    "b": "0-9 ",  # digit or leading blank
    "s": "+\\- ",  # sign, or a blank for +
    "k": "0-9",  # checksum
}
_LAYOUT = {
    "1": "1 nnnnnc iiiiiiii bbbbb.dddddddd s.dddddddd sbbbbbsb sbbbbbsb b bbbbk",
    "2": "2 nnnnn bbb.dddd bbb.dddd ddddddd bbb.dddd bbb.dddd bb.ddddddddbbbbbk",
}
_LINE_CHARS = 69
_FIELD_NAMES = {
    "1": [(2, "satellite number"), (7, "classification"), (9, "international designator"),
          (18, "epoch"), (33, "first derivative of mean motion"),
          (44, "second derivative of mean motion"), (53, "drag term"),
          (62, "ephemeris type"), (64, "element set number"), (68, "checksum")],
    "2": [(2, "satellite number"), (8, "inclination"), (17, "right ascension of the node"),
          (26, "eccentricity"), (34, "argument of perigee"), (43, "mean anomaly"),
          (52, "mean motion"), (63, "revolution number"), (68, "checksum")],
}  # fmt: skip


def _layout_regex(layout):
    parts = []
    for ch in layout:
        parts.append(f"[{_CLASSES[ch]}]" if ch in _CLASSES else re.escape(ch))
    return re.compile("".join(parts), re.ASCII)


_LAYOUT_RE = {number: _layout_regex(layout) for number, layout in _LAYOUT.items()}
# Both lines of a set at once, line 2 repeating the satellite number of line 1: the test
# every well-formed set passes in one call; a set that fails is then diagnosed line by line.
_PAIR_RE = re.compile(
    _LAYOUT_RE["1"].pattern.replace("[0-9A-Z ]" * 5, "([0-9A-Z ]{5})", 1)
    + _LAYOUT_RE["2"].pattern.replace("[0-9A-Z ]" * 5, "\\1", 1),
    re.ASCII,
)

# How a catalogue's lines, coded 1, 2 or n (a name), cut into sets: an optional name, line 1
# and line 2; else a name with a line 1 or a line 2 alone, each a fault; else a lone name.
_CUT_RE = re.compile("(n?)(12|1|2)|n")

# Checksum: digits count their value, a minus sign counts 1, everything else 0.
_CHECKSUM_VALUES = np.zeros(256, dtype=np.int64)
_CHECKSUM_VALUES[ord("0") : ord("9") + 1] = np.arange(10)
_CHECKSUM_VALUES[ord("-")] = 1


def _field_at(number, index):
    """The name of the field of line `number` that holds 0-based column `index`."""
    name = "separator"
    for start, field in _FIELD_NAMES[number]:
        if index >= start:
            name = field
    return name


def _layout_fault(number, line):
    """Why `line` (line `number`, "1" or "2") breaks the column layout, or None if it keeps it."""
    if len(line) != _LINE_CHARS:
        return f"line {number} has {len(line)} characters, not {_LINE_CHARS}"
    if _LAYOUT_RE[number].fullmatch(line):
        return None
    layout = _LAYOUT[number]
    for index, (ch, want) in enumerate(zip(line, layout, strict=True)):
        allowed = _CLASSES.get(want)
        ok = (ch == want) if allowed is None else bool(re.fullmatch(f"[{allowed}]", ch, re.ASCII))
        if not ok:
            field = _field_at(number, index) if want != " " else "separator"
            expected = repr(want) if allowed is None else f"one of [{allowed.replace(chr(92), '')}]"
            return f"column {index + 1} of line {number} ({field}) is {ch!r}, expected {expected}"
    return f"line {number} breaks the column layout"  # not reached: some column differs


def _checksum_sums(lines):
    """Modulo-10 checksums of columns 1-68 of equal-length ASCII lines, as an int array."""
    if not lines:
        return np.zeros(0, dtype=np.int64)
    codes = np.frombuffer("".join(lines).encode("ascii"), dtype=np.uint8)
    codes = codes.reshape(len(lines), _LINE_CHARS)
    return _CHECKSUM_VALUES[codes[:, :68]].sum(axis=1) % 10


def _checksum_fault(number, line, total):
    stated = int(line[68])
    if total != stated:
        return f"line {number} checksum is {stated}, but its columns 1-68 sum to {total} (mod 10)"
    return None


def _layout_or_number_fault(line1, line2):
    """Why a pair that failed the one-call test is malformed (layout or satellite numbers), or
    None when it is not (the checksums are still to be checked)."""
    for number, line in (("1", line1), ("2", line2)):
        fault = _layout_fault(number, line)
        if fault:
            return fault
    first, second = line1[2:7].strip(), line2[2:7].strip()
    if (first.lstrip("0") or "0") == (second.lstrip("0") or "0"):
        return None  # the same number padded differently ("00005" and "    5")
    return f"satellite numbers differ: {first!r} on line 1, {second!r} on line 2"


def _set_faults(lines1, lines2):
    """The fault of each set (lines1[k], lines2[k]), or None for a well-formed set."""
    faults = [None] * len(lines1)
    keep = []
    match = _PAIR_RE.fullmatch
    for k, (line1, line2) in enumerate(zip(lines1, lines2, strict=True)):
        if len(line1) == _LINE_CHARS and match(line1 + line2) is not None:
            keep.append(k)
        else:
            faults[k] = _layout_or_number_fault(line1, line2)
            if faults[k] is None:
                keep.append(k)
    sums1 = _checksum_sums([lines1[k] for k in keep]).tolist()
    sums2 = _checksum_sums([lines2[k] for k in keep]).tolist()
    for k, total1, total2 in zip(keep, sums1, sums2, strict=True):
        faults[k] = _checksum_fault("1", lines1[k], total1) or _checksum_fault(
            "2", lines2[k], total2
        )
    return faults


def _lines_of(source):
    """An iterator of str lines of `source`, and a callable that closes what was opened."""
    if isinstance(source, (str, os.PathLike)):
        handle = open(source, encoding="utf-8", errors="replace")  # noqa: SIM115 - closed below
        return handle, handle.close
    if isinstance(source, (bytes, bytearray, memoryview)):
        raise TypeError(
            f"load_tles: cannot read {type(source).__name__}; pass a path (str or os.PathLike), "
            "a text file, or an iterable of str lines"
        )
    if not isinstance(source, Iterable):
        raise TypeError(
            f"load_tles: source must be a path, a text file or an iterable of lines, "
            f"not {type(source).__name__}"
        )
    return iter(source), lambda: None


def _stripped_lines(lines):
    """Every line of `lines` stripped of surrounding blanks (numbering is the list index + 1)."""
    lines = list(lines)
    if not all(type(line) is str for line in lines):
        for lineno, line in enumerate(lines, 1):
            if not isinstance(line, str):
                raise TypeError(
                    f"load_tles: line {lineno} is a {type(line).__name__}, not a str "
                    "(open files in text mode)"
                )
    return list(map(str.strip, lines))


def _cut(codes, numbers, lines):
    """The entries of a catalogue whose coded lines are `codes`: where each starts, its name,
    and the index of its set in the returned line-1 and line-2 lists or its fault (parallel
    lists rather than a tuple per entry: fewer objects for the garbage collector)."""
    starts, names, found = [], [], []
    lines1, lines2 = [], []
    for m in _CUT_RE.finditer(codes):
        p, named, kind = m.start(), m.group(1), m.group(2)
        starts.append(numbers[p])
        name = None
        if named or kind is None:
            name = lines[p][2:].strip() if lines[p][:2] == "0 " else lines[p]
            p += 1
        if kind == "12":
            found.append(len(lines1))
            lines1.append(lines[p])
            lines2.append(lines[p + 1])
        elif kind == "1":
            found.append(f"line 1 at line {numbers[p]} is not followed by a line 2")
        elif kind == "2":
            found.append(f"line 2 at line {numbers[p]} has no line 1 before it")
        else:
            found.append(f"name line {name!r} is not followed by a line 1")
        names.append(name if kind == "12" else None)
    return starts, names, found, lines1, lines2


def load_tles(source, *, strict=False) -> list[tuple[str | None, TLE]]:
    """load_tles(source, *, strict=False) -> list[tuple[str | None, TLE]]

    Read a TLE catalogue. ``source`` is a path (a str is always a file name, read as UTF-8),
    an open text file (or ``io.StringIO``), or an iterable of str lines. Two-line and
    three-line sets may be mixed; the name is the line before a set that starts with neither
    "1 " nor "2 " (a leading "0 " removed), or None for a two-line set. Blank lines, trailing
    blanks and CRLF line ends are accepted.

    Each set must have line numbers 1 and 2, the same satellite number on both lines, the
    modulo-10 checksum on each line (digits count their value, "-" counts 1) and the column
    layout of the published format, 69 columns per line. A set that fails is skipped with a
    ``TLEFormatWarning`` naming the line where it starts and the reason; with
    ``strict=True`` a ValueError with the same message is raised instead. Reading goes on at
    the next line that can start a set, so good sets after a bad one are kept.

    Returns the sets in file order as (name, TLE) pairs.
    """
    lines, close = _lines_of(source)
    try:
        text = _stripped_lines(lines)
    finally:
        close()

    # Pass 1: cut the lines into candidate sets and structural faults, in file order. Each
    # non-blank line becomes one code letter ("1 " -> 1, "2 " -> 2, anything else a name n),
    # and one regular expression over the codes cuts them the way a reader would: an
    # optional name, then line 1 and line 2; whatever does not fit is a fault of its own,
    # and the cut resumes right after it, so a good set is never swallowed by a bad one.
    numbers = [i for i, line in enumerate(text, 1) if line]
    lines = [text[i - 1] for i in numbers]
    codes = "".join(["1" if s[:2] == "1 " else "2" if s[:2] == "2 " else "n" for s in lines])
    size = 3 if codes[:1] == "n" else 2
    if codes == ("n12" if size == 3 else "12") * (len(codes) // size):
        # The usual catalogue, every set alike: the same cut, made by slicing.
        starts, found = numbers[::size], list(range(len(codes) // size))
        names = [None] * len(found)
        if size == 3:
            names = [s[2:].strip() if s[:2] == "0 " else s for s in lines[::3]]
        lines1, lines2 = lines[size - 2 :: size], lines[size - 1 :: size]
    else:
        starts, names, found, lines1, lines2 = _cut(codes, numbers, lines)

    # Pass 2: check every candidate set (layout in one call per set, checksums in bulk).
    faults = _set_faults(lines1, lines2)

    # Pass 3: report and build, in file order.
    if len(found) == len(lines1) and not any(faults):
        return list(zip(names, map(TLE, lines1, lines2), strict=True))
    result = []
    for start, name, what in zip(starts, names, found, strict=True):
        fault = faults[what] if type(what) is int else what
        if fault is None:
            result.append((name, TLE(lines1[what], lines2[what])))
            continue
        message = f"TLE set at line {start}: {fault}"
        if strict:
            raise ValueError(message)
        warnings.warn(message + "; skipped", TLEFormatWarning, stacklevel=2)
    return result
