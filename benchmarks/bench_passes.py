"""Pass prediction: orbalis ``find_passes`` against skyfield's ``find_events``.

Two workloads, both libraries in the same run, with the same threshold (0 degrees):

1. a week of ISS passes seen from Paris;
2. every pass of 1,000 satellites over one day seen from Paris.  The catalogue is made
   from published element sets (low orbits, eccentric, GPS, geostationary) by spreading
   their node and mean anomaly and giving them one common epoch.  skyfield runs on a
   sample of it (every tenth satellite) and its time is scaled to the 1,000.

orbalis is given the TLE records and propagates them with its own SGP4 (the construction
of each propagator is part of the time); skyfield propagates with the ``sgp4`` package.
Times are best-of-N wall times on one core (orbalis starts no threads); the processor time
of the orbalis runs is shown beside them, since on a shared machine the wall time also
counts other processes.

Run: python benchmarks/bench_passes.py [satellites]
"""

from __future__ import annotations

import math
import sys
import time

from skyfield.api import EarthSatellite, load, wgs84

from orbalis.observation import find_passes
from orbalis.propagators.analytical.sgp4.tle import TLE
from orbalis.time.time import Time

PARIS = (48.8566, 2.3522, 35.0)
ISS = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)
# (line 1, line 2, share of the catalogue)
BASE = [
    (ISS[0], ISS[1], 0.25),
    (
        "1 20580U 90037B   19263.46355213  .00000690  00000-0  24658-4 0  9994",
        "2 20580  28.4706 242.9488 0002611 262.7226 223.1508 15.09593453420541",
        0.15,
    ),
    (
        "1 33591U 09005A   22001.51347815  .00000093  00000+0  75169-4 0  9997",
        "2 33591  99.1567  28.6359 0013776 135.9423 224.2841 14.12550095666120",
        0.25,
    ),
    (
        "1 06251U 62025E   06176.82412014  .00008885  00000-0  12808-3 0  3985",
        "2 06251  58.0579  54.0425 0030035 139.1568 221.1854 15.56387291  6774",
        0.1,
    ),
    (
        "1 00005U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753",
        "2 00005  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667",
        0.05,
    ),
    (
        "1 28129U 03058A   06175.57071136 -.00000104  00000-0  10000-3 0   459",
        "2 28129  54.7298 324.8098 0048506 266.2640  93.1663  2.00562768 18443",
        0.1,
    ),
    (
        "1 41866U 16071A   21001.50000000 -.00000097  00000-0  00000-0 0  9996",
        "2 41866   0.0271 276.8240 0001199 263.8373  25.0500  1.00272136 15312",
        0.1,
    ),
]
EPOCH_FIELD = "22001.50000000"  # 2022-01-01 12:00 UTC, the catalogue's common epoch


def with_checksum(line):
    body = line[:68]
    return body + str(sum(int(c) if c.isdigit() else c == "-" for c in body) % 10)


def catalogue(count):
    """count element sets: the base sets in their shares, node and mean anomaly spread."""
    out = []
    for line1, line2, share in BASE:
        n = max(1, round(share * count))
        for k in range(n):
            raan = (float(line2[17:25]) + 360.0 * k / n) % 360.0
            anomaly = (float(line2[43:51]) + 137.50776 * k) % 360.0
            l1 = line1[:18] + EPOCH_FIELD + line1[32:]
            l2 = f"{line2[:17]}{raan:8.4f}{line2[25:43]}{anomaly:8.4f}{line2[51:]}"
            out.append((with_checksum(l1), with_checksum(l2)))
    return out[:count]


def best_of(func, repeat):
    """Best wall time and best processor time of `repeat` runs, and the last result."""
    best = best_cpu = math.inf
    for _ in range(repeat):
        t0, c0 = time.perf_counter(), time.process_time()
        result = func()
        best = min(best, time.perf_counter() - t0)
        best_cpu = min(best_cpu, time.process_time() - c0)
    return best, best_cpu, result


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    ts = load.timescale(builtin=True)
    lat, lon, alt = PARIS
    station = (math.radians(lat), math.radians(lon), alt)
    topos = wgs84.latlon(lat, lon, alt)

    # 1. a week of ISS passes
    start, stop = Time("2008-09-20"), Time("2008-09-27")
    t0, t1 = ts.utc(2008, 9, 20), ts.utc(2008, 9, 27)
    iss = TLE(*ISS)
    ours, ours_cpu, passes = best_of(lambda: find_passes(iss, *station, start, stop), 7)
    sky_iss = EarthSatellite(*ISS, ts=ts)
    theirs, _, (_, events) = best_of(lambda: sky_iss.find_events(topos, t0, t1), 3)
    print("\nA week of ISS passes over Paris")
    print(f"{'':34s} {'ms':>10s} {'cpu ms':>8s} {'passes':>8s}")
    print(f"{'orbalis find_passes':34s} {ours * 1e3:10.1f} {ours_cpu * 1e3:8.1f} {len(passes):8d}")
    print(
        f"{'skyfield find_events':34s} {theirs * 1e3:10.1f} {'':8s} {int((events == 0).sum()):8d}"
    )
    print(f"{'ratio skyfield / orbalis':34s} {theirs / ours:10.1f}")

    # 2. a day of passes of a catalogue
    sets = catalogue(count)
    start, stop = Time("2022-01-01T12:00:00"), Time("2022-01-02T12:00:00")
    t0, t1 = ts.utc(2022, 1, 1, 12), ts.utc(2022, 1, 2, 12)

    def run_ours():
        n = 0
        for line1, line2 in sets:
            found = find_passes(TLE(line1, line2), *station, start, stop)
            n += sum(p.rise is not None for p in found)
        return n

    sample = sets[::10]

    def run_theirs():
        n = 0
        for line1, line2 in sample:
            _, ev = EarthSatellite(line1, line2, ts=ts).find_events(topos, t0, t1)
            n += int((ev == 0).sum())  # rises
        return n

    ours, ours_cpu, n_ours = best_of(run_ours, 3)
    theirs, _, n_theirs = best_of(run_theirs, 1)
    scaled = theirs * len(sets) / len(sample)
    print(f"\nA day of passes over Paris, {len(sets)} satellites")
    print(f"{'':34s} {'s':>10s} {'cpu s':>8s} {'rises':>8s}")
    print(f"{'orbalis find_passes':34s} {ours:10.2f} {ours_cpu:8.2f} {n_ours:8d}")
    print(
        f"{'skyfield find_events (scaled)':34s} {scaled:10.2f} {'':8s} {n_theirs:8d}"
        f"   ({len(sample)} satellites: {theirs:.2f} s)"
    )
    print(f"{'ratio skyfield / orbalis':34s} {scaled / ours:10.1f}")
    print(f"{'orbalis per satellite':34s} {ours / len(sets) * 1e3:10.2f} ms")


if __name__ == "__main__":
    main()
