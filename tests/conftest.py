"""Shared fixtures and helpers for the orbalis test suite."""

import os
import subprocess
import sys
import textwrap

import pytest


def run_python(code, *flags, check=True):
    """Runs `code` in a fresh interpreter (with interpreter `flags` such as -O); returns stdout."""
    env = dict(os.environ)
    env.pop("PYTHONOPTIMIZE", None)
    proc = subprocess.run(
        [sys.executable, *flags, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env=env,
        timeout=120,
    )
    if check and proc.returncode != 0:
        raise AssertionError(
            f"subprocess failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr}"
        )
    return proc


@pytest.fixture
def python_subprocess():
    return run_python
