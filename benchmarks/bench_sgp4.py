"""SGP4 propagation: orbalis ``propagate_catalogue`` and ``SGP4.propagate`` against ``sgp4``.

Every comparison is measured in the same run on the same element sets and epochs:

- a catalogue of ``count`` sets (published sets repeated, each copy with its own catalogue
  number and an epoch in the first days of 2022) times 1,440 epochs at one-minute steps,
  propagated by ``propagate_catalogue`` on one and on two threads and by ``sgp4``'s
  ``SatrecArray.sgp4(jd, fr)``;
- one satellite over 100,000 epochs with ``SGP4.propagate`` (a ``StateVector`` in TEME),
  against the catalogue path's time per epoch;
- ``SGP4(tle)`` construction against ``Satrec.twoline2rv``.

The machine these run on may be shared: figures are best-of-N wall times and can be noisy.

Run: python benchmarks/bench_sgp4.py [count]
"""

from __future__ import annotations

import sys

import numpy as np
from _catalogue import PUBLISHED
from _harness import ns_per_item, print_table

from orbalis.propagators.analytical.sgp4 import SGP4, propagate_catalogue
from orbalis.propagators.analytical.sgp4.tle import TLE
from orbalis.time.time import Time


def catalogue(count: int) -> list[tuple[str, str]]:
    """`count` sets: published sets with catalogue numbers 1..count, epochs in 2022 days 1-3."""
    sets = []
    for i in range(count):
        line1, line2 = PUBLISHED[i % len(PUBLISHED)]
        satno = f"{i + 1:05d}"
        day = 1.0 + (i * 0.012345678901) % 2.0
        sets.append(
            (
                f"{line1[:2]}{satno}{line1[7:18]}22{day:012.8f}{line1[32:]}",
                f"{line2[:2]}{satno}{line2[7:]}",
            )
        )
    return sets


def main() -> None:
    from sgp4.api import Satrec, SatrecArray

    count = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    n_epochs = 1440
    sets = catalogue(count)
    tles = [TLE(a, b) for a, b in sets]
    sats = [SGP4(t) for t in tles]
    satrecs = SatrecArray([Satrec.twoline2rv(a, b) for a, b in sets])

    jd = np.full(n_epochs, 2459582.5)  # 2022-01-04 00:00 UTC
    fr = np.arange(n_epochs) / 1440.0
    time = Time(jd, fr, format="jd")
    items = count * n_epochs

    def ours(threads):
        return lambda: propagate_catalogue(sats, time, threads=threads)

    rows = [
        ("sgp4 SatrecArray.sgp4(jd, fr)", ns_per_item(lambda: satrecs.sgp4(jd, fr), items, 3)),
        ("orbalis propagate_catalogue, 1 thread", ns_per_item(ours(1), items, 3)),
        ("orbalis propagate_catalogue, 2 threads", ns_per_item(ours(2), items, 3)),
    ]
    print_table(
        f"{count} sets x {n_epochs} epochs (ns per satellite-epoch)",
        rows,
        "sgp4 SatrecArray.sgp4(jd, fr)",
    )
    ref = rows[0][1]
    print(f"speed-up: 1 thread {ref / rows[1][1]:.2f}x, 2 threads {ref / rows[2][1]:.2f}x")

    # one satellite, many epochs: the StateVector path against the catalogue path
    n = 100_000
    one = sats[0]
    t1 = Time(np.full(n, 2459582.5), np.arange(n) / 86400.0, format="jd")
    rows = [
        (
            "propagate_catalogue([sat], time, threads=1)",
            ns_per_item(lambda: propagate_catalogue([one], t1, threads=1), n, 3),
        ),
        ("SGP4.propagate(time)", ns_per_item(lambda: one.propagate(t1), n, 3)),
    ]
    print_table(
        f"one satellite x {n} epochs (ns per epoch)",
        rows,
        "propagate_catalogue([sat], time, threads=1)",
    )

    line1, line2 = sets[0]
    tle = tles[0]
    rows = [
        ("sgp4 Satrec.twoline2rv", ns_per_item(lambda: Satrec.twoline2rv(line1, line2), 1) / 1e3),
        ("orbalis SGP4(tle)", ns_per_item(lambda: SGP4(tle), 1) / 1e3),
    ]
    print_table("construction (µs per set)", rows, "sgp4 Satrec.twoline2rv", unit="µs")


if __name__ == "__main__":
    main()
