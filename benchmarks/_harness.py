"""Timing helpers shared by the benchmark scripts: best-of-N wall time per item."""

from __future__ import annotations

import time
import timeit


def ns_per_item(func, n_items: int, repeat: int = 5, min_time: float = 0.2) -> float:
    """Best time of `repeat` rounds, in ns per item; a round loops `func` for >= min_time."""
    func()  # warm-up
    best = float("inf")
    for _ in range(repeat):
        loops, start = 0, time.perf_counter()
        while True:
            func()
            loops += 1
            elapsed = time.perf_counter() - start
            if elapsed >= min_time:
                break
        best = min(best, elapsed / loops)
    return best * 1e9 / n_items


def ns_per_call(stmt: str, namespace: dict, repeat: int = 7, min_time: float = 0.05) -> float:
    """Best time of `repeat` rounds of the statement `stmt` (names from `namespace`), in ns
    per execution. Unlike ns_per_item, no Python function wraps the call, so a single fast
    call is timed without a lambda's own cost (about 30 ns)."""
    timer = timeit.Timer(stmt, globals=namespace)
    number, _ = timer.autorange()
    number = max(1, int(number * min_time / 0.2))
    return min(timer.repeat(repeat, number)) * 1e9 / number


def print_table(
    title: str,
    rows: list[tuple[str, float | None]],
    reference: str,
    unit: str = "ns/item",
    label_width: int = 44,
) -> None:
    """Prints `rows` (label, time per item in `unit`) with each row's ratio to the row named
    `reference`."""
    ref = dict(rows)[reference]
    print(f"\n{title}")
    print(f"{'':{label_width}s} {unit:>12s} {'vs ' + reference:>22s}")
    for label, value in rows:
        if value is None:
            print(f"{label:{label_width}s} {'n/a':>12s}")
        else:
            print(f"{label:{label_width}s} {value:12.2f} {value / ref:21.2f}x")
