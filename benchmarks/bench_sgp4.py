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
from _harness import ns_per_item, print_table

from orbalis.propagators.analytical.sgp4 import SGP4, propagate_catalogue
from orbalis.propagators.analytical.sgp4.tle import TLE
from orbalis.time.time import Time

PUBLISHED = [
    (
        "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
        "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
    ),
    (
        "1 00005U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753",
        "2 00005  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667",
    ),
    (
        "1 20580U 90037B   19263.46355213  .00000690  00000-0  24658-4 0  9994",
        "2 20580  28.4706 242.9488 0002611 262.7226 223.1508 15.09593453420541",
    ),
    (
        "1 33591U 09005A   22001.51347815  .00000093  00000+0  75169-4 0  9993",
        "2 33591  99.1567  28.6359 0013776 135.9423 224.2841 14.12550095666128",
    ),
    (
        "1 08195U 75081A   06176.33215444  .00000099  00000-0  11873-3 0   813",
        "2 08195  64.1586 279.0717 6877146 264.7651  20.2257  2.00491383225656",
    ),
    (
        "1 28129U 03058A   06175.57071136 -.00000104  00000-0  10000-3 0   459",
        "2 28129  54.7298 324.8098 0048506 266.2640  93.1663  2.00562768 18443",
    ),
    (
        "1 41866U 16071A   21001.50000000 -.00000097  00000-0  00000-0 0  9993",
        "2 41866   0.0271 276.8240 0001199 263.8373 211.2546  1.00272136 15314",
    ),
    (
        "1 06251U 62025E   06176.82412014  .00008885  00000-0  12808-3 0  3985",
        "2 06251  58.0579  54.0425 0030035 139.1568 221.1854 15.56387291  6774",
    ),
    (
        "1 28057U 03049A   06177.78615833  .00000060  00000-0  35940-4 0  1836",
        "2 28057  98.4283 247.6961 0000884  88.1964 271.9322 14.35478080140550",
    ),
]


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
