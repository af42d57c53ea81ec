"""Shared fixtures and helpers for the orbalis test suite.

Helpers that test modules import live in ``orbalis._testing`` (``same_bits``, ``ArrayLike``,
``print_outcomes``, ``labelled_lines``); this file holds what pytest itself calls: the
subprocess fixture and the naming of parametrized cases.
"""

import linecache
import os
import re
import subprocess
import sys
import textwrap

import pytest

ID_WIDTH = 60  # longest case id derived from source text


def run_python(code, *flags, check=True, timeout=120):
    """Runs `code` in a fresh interpreter (with interpreter `flags` such as -O); returns the
    completed process. The child inherits this environment, so under a sanitizer run it is
    sanitized too."""
    env = dict(os.environ)
    env.pop("PYTHONOPTIMIZE", None)
    proc = subprocess.run(
        [sys.executable, *flags, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env=env,
        timeout=timeout,
    )
    if check and proc.returncode != 0:
        raise AssertionError(
            f"subprocess failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr}"
        )
    return proc


@pytest.fixture
def python_subprocess():
    return run_python


def _source_of_lambda(fn):
    """The source text of a lambda's body, from its code positions; None when unavailable."""
    code = fn.__code__
    spans = [p for p in code.co_positions() if None not in p and p[0] >= code.co_firstlineno]
    if not spans:
        return None
    first = min((p[0], p[2]) for p in spans)
    last = max((p[1], p[3]) for p in spans)
    lines = [linecache.getline(code.co_filename, n) for n in range(first[0], last[0] + 1)]
    if not all(lines):
        return None
    lines[-1] = lines[-1][: last[1]]
    lines[0] = lines[0][first[1] :]
    text = " ".join(line.strip() for line in lines)
    return re.sub(r"^\(?lambda[^:]*:\s*", "", text)


def pytest_make_parametrize_id(config, val, argname):
    """Names a case by what it does: a lambda by its body's source, an exception class by its
    name. Every other value keeps pytest's own id."""
    if isinstance(val, type) and issubclass(val, BaseException):
        return val.__name__
    if callable(val) and getattr(val, "__name__", None) == "<lambda>":
        text = _source_of_lambda(val)
        if text:
            return text if len(text) <= ID_WIDTH else text[: ID_WIDTH - 3] + "..."
    return None


def pytest_terminal_summary(terminalreporter):
    """Lists the case counts that tests recorded as a "fuzz cases" property."""
    rows = [
        (report.nodeid, value)
        for key in ("passed", "failed")
        for report in terminalreporter.stats.get(key, [])
        if report.when == "call"
        for name, value in report.user_properties
        if name == "fuzz cases"
    ]
    if rows:
        terminalreporter.write_sep("-", "fuzz cases run")
        for nodeid, value in rows:
            terminalreporter.write_line(f"{nodeid}: {value}")
