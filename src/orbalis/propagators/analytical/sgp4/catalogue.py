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

# Checksum: digits count their value, a minus sign counts 1, everything else 0.
_CHECKSUM_VALUES = bytearray(256)
for _digit in range(10):
    _CHECKSUM_VALUES[ord("0") + _digit] = _digit
_CHECKSUM_VALUES[ord("-")] = 1
_CHECKSUM_VALUES = bytes(_CHECKSUM_VALUES)


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


def _checksum_fault(number, line):
    total = sum(line[:68].encode("ascii").translate(_CHECKSUM_VALUES)) % 10
    stated = int(line[68])
    if total != stated:
        return f"line {number} checksum is {stated}, but its columns 1-68 sum to {total} (mod 10)"
    return None


def _set_fault(line1, line2):
    """Why the pair is not a well-formed set, or None."""
    for number, line in (("1", line1), ("2", line2)):
        fault = _layout_fault(number, line) or _checksum_fault(number, line)
        if fault:
            return fault
    if line1[2:7] != line2[2:7]:
        return (
            f"satellite numbers differ: {line1[2:7].strip()!r} on line 1, "
            f"{line2[2:7].strip()!r} on line 2"
        )
    return None


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


def _records(lines):
    """(line number, stripped text) of each non-blank line, numbering every line from 1."""
    out = []
    for lineno, line in enumerate(lines, 1):
        if not isinstance(line, str):
            raise TypeError(
                f"load_tles: line {lineno} is a {type(line).__name__}, not a str "
                "(open files in text mode)"
            )
        text = line.strip()
        if text:
            out.append((lineno, text))
    return out


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
        records = _records(lines)
    finally:
        close()

    def reject(lineno, reason):
        message = f"TLE set at line {lineno}: {reason}"
        if strict:
            raise ValueError(message)
        warnings.warn(message + "; skipped", TLEFormatWarning, stacklevel=3)

    result = []
    name = None  # (line number, name) of a name line waiting for its set
    i, n = 0, len(records)
    while i < n:
        lineno, text = records[i]
        head = text[:2]
        if head == "1 ":
            start = name[0] if name else lineno
            if i + 1 < n and records[i + 1][1][:2] == "2 ":
                line2 = records[i + 1][1]
                fault = _set_fault(text, line2)
                if fault is None:
                    result.append((name[1] if name else None, TLE(text, line2)))
                else:
                    reject(start, fault)
                i += 2
            else:
                # the next line can start a set of its own: read on from there
                reject(start, f"line 1 at line {lineno} is not followed by a line 2")
                i += 1
            name = None
        elif head == "2 ":
            start = name[0] if name else lineno
            reject(start, f"line 2 at line {lineno} has no line 1 before it")
            name = None
            i += 1
        else:
            if name is not None:
                reject(name[0], f"name line {name[1]!r} is not followed by a line 1")
            name = (lineno, text[2:].strip() if text[:2] == "0 " else text)
            i += 1
    if name is not None:
        reject(name[0], f"name line {name[1]!r} is not followed by a line 1")
    return result
