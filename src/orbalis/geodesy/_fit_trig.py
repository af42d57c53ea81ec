"""Derives the constants of trig.hpp: polynomial coefficients and the bits of 2/pi and pi/2.

Run by hand (``python -m orbalis.geodesy._fit_trig``) with mpmath installed; it prints C++
declarations. Each polynomial interpolates its target at Chebyshev nodes of the reduced
interval with 60 significant digits, which comes within a small factor of the minimax
polynomial of the same degree, then is rounded to doubles. The printed maximum error is
measured on a dense grid against the same high-precision target.
"""

from __future__ import annotations

import mpmath as mp

mp.mp.dps = 60


def _fit(target, z_max, n):
    nodes = [z_max * (1 - mp.cos(mp.pi * (k + mp.mpf(0.5)) / n)) / 2 for k in range(n)]
    rows = [[z**j for j in range(n)] for z in nodes]
    coeffs = mp.lu_solve(mp.matrix(rows), mp.matrix([target(z) for z in nodes]))
    coeffs = [float(c) for c in coeffs]
    worst = max(
        abs(sum(c * mp.mpf(z) ** j for j, c in enumerate(coeffs)) - target(z))
        for z in mp.linspace(z_max / 4000, z_max, 4000)
    )
    return coeffs, worst


def _sin_tail(z):  # (sin x - x) / x^3 with z = x^2
    x = mp.sqrt(z)
    return (mp.sin(x) - x) / (x * z)


def _cos_tail(z):  # (cos x - 1 + x^2/2) / x^4
    return (mp.cos(mp.sqrt(z)) - 1 + z / 2) / (z * z)


def _atan_tail(z):  # (atan u - u) / u^3 with z = u^2
    u = mp.sqrt(z)
    return (mp.atan(u) - u) / (u * z)


def _split(value, bits):
    """Leading `bits` bits of `value` as a double, and the remainder."""
    e = mp.floor(mp.log(abs(value), 2)) + 1
    head = mp.floor(value * mp.mpf(2) ** (bits - e)) / mp.mpf(2) ** (bits - e)
    return head, value - head


def main():
    for name, target, z_max, n in (
        ("kSinTail", _sin_tail, (mp.pi / 4) ** 2, 7),
        ("kCosTail", _cos_tail, (mp.pi / 4) ** 2, 7),
        ("kAtanTail", _atan_tail, mp.mpf(7) / 16 * mp.mpf(7) / 16, 12),
    ):
        coeffs, worst = _fit(target, z_max, n)
        body = ", ".join(f"{c!r}" for c in coeffs)
        print(
            f"// max |error| {float(worst):.2e}\ninline constexpr double {name}[{n}] = {{{body}}};"
        )
    p1, rest = _split(mp.pi / 2, 33)
    p2, rest = _split(rest, 33)
    print(f"pio2 pieces: {float(p1)!r} {float(p2)!r} {float(rest)!r}")
    hi = float(mp.pi / 2)
    print(f"pio2 hi/lo: {hi!r} {float(mp.pi / 2 - hi)!r}")
    for label, v in (("atan(1/2)", mp.atan(0.5)), ("pi/4", mp.pi / 4)):
        for k_label, k in (("", 0), ("pi/2-", mp.pi / 2), ("pi/2+", mp.pi / 2), ("pi-", mp.pi)):
            val = v if k_label == "" else (k - v if k_label.endswith("-") else k + v)
            h = float(val)
            print(f"{k_label}{label}: {h!r} {float(val - h)!r}")
    for k_label, val in (("pi/2", mp.pi / 2), ("pi", mp.pi)):
        h = float(val)
        print(f"{k_label}: {h!r} {float(val - h)!r}")
    words = []
    two_over_pi = 2 / mp.pi
    mp.mp.dps = 400
    two_over_pi = 2 / mp.pi
    frac = two_over_pi
    for _ in range(20):
        frac *= mp.mpf(2) ** 64
        word = int(mp.floor(frac))
        frac -= word
        words.append(word)
    print("kTwoOverPiBits = {" + ", ".join(f"0x{w:016x}" for w in words) + "}")


if __name__ == "__main__":
    main()
