"""Type stub of the ``TLE`` record: both lines of a two-line element set, the satellite
number and the epoch read from line 1."""

from typing import NoReturn

from typing_extensions import Self, disjoint_base

from orbalis.time.time import Time

@disjoint_base
class TLE:
    # Construction takes exactly str lines (a str subclass is refused); strict_validation is
    # truth-tested and otherwise ignored.
    def __new__(cls, line1: str, line2: str, strict_validation: object = ...) -> Self: ...
    @property
    def line1(self) -> str:
        """TLE.line1: str"""
    @property
    def line2(self) -> str:
        """TLE.line2: str"""
    @property
    def satno(self) -> int | str:
        """TLE.satno: int | str"""
    @property
    def epoch(self) -> Time: ...
    def __reduce__(self) -> NoReturn: ...
    def __setstate__(self, state: object, /) -> NoReturn: ...
