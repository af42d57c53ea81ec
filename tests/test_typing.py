"""The type stubs of the installed package: they match the run-time objects (``mypy.stubtest``),
they pass ``mypy --strict`` themselves, and a typed tour of the public API
(``typing_usage.py``) passes ``mypy --strict`` and runs, its ``assert_type`` calls checking the
run-time types too.  Skipped when mypy is not installed."""

import importlib.machinery
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import orbalis

pytest.importorskip("mypy")

HERE = Path(__file__).resolve().parent
PACKAGE = Path(orbalis.__file__).resolve().parent
ALLOWLIST = HERE / "stubtest_allowlist.txt"
USAGE = HERE / "typing_usage.py"

# Third-party modules without type information that internal (untyped) code of the package
# imports; stubtest builds the whole package, so it must not stop at them.
MYPY_CONFIG = """\
[mypy]
[mypy-tqdm.*,erfa.*,astropy_iers_data.*,mpmath.*]
ignore_missing_imports = True
"""


# The sanitized run of the suite preloads the sanitizer runtimes into every process. mypy never
# loads the package's extensions, so it runs without them (faster, and none of its own
# allocations reach the leak report); stubtest imports the extensions, which then need the
# runtimes, and compares nothing that depends on how they were built, so it runs in the plain
# run only.
SANITIZER_ENV = ("LD_PRELOAD", "PYTHONMALLOC", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS")
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


def run(*args, cwd, sanitizers=True):
    env = dict(os.environ)
    env.pop("MYPYPATH", None)  # the installed package alone is checked
    if not sanitizers:
        for name in SANITIZER_ENV:
            env.pop(name, None)
    return subprocess.run(
        [sys.executable, *args], capture_output=True, text=True, cwd=cwd, env=env, timeout=300
    )


def installed_stubs():
    """`-m module` arguments for every installed stub. Naming modules rather than files keeps
    mypy from taking site-packages for a source folder (where its typing_extensions would
    shadow the library's)."""
    args = []
    for path in sorted(PACKAGE.rglob("*.pyi")):
        parts = path.relative_to(PACKAGE.parent).with_suffix("").parts
        if parts[-1] == "__init__":
            parts = parts[:-1]
        args += ["-m", ".".join(parts)]
    return args


def test_package_is_marked_typed():
    assert (PACKAGE / "py.typed").is_file()


def test_every_native_module_has_a_stub():
    suffixes = tuple(importlib.machinery.EXTENSION_SUFFIXES)
    missing = []
    for path in PACKAGE.rglob("*"):
        name = path.name
        if not name.endswith(suffixes) or "_testing" in path.relative_to(PACKAGE).parts:
            continue
        stem = name.split(".", 1)[0]
        if not (path.parent / f"{stem}.pyi").is_file():
            missing.append(str(path.relative_to(PACKAGE)))
    assert missing == []


@pytest.mark.skipif(SANITIZED, reason="compares the stubs only; run without the sanitizers")
def test_stubs_match_the_runtime(tmp_path):
    config = tmp_path / "mypy.ini"
    config.write_text(MYPY_CONFIG)
    proc = run(
        "-m", "mypy.stubtest", "orbalis",
        "--mypy-config-file", str(config),
        "--allowlist", str(ALLOWLIST),
        cwd=tmp_path,
    )  # fmt: skip
    assert proc.returncode == 0, proc.stdout + proc.stderr


@pytest.fixture(scope="module")
def usage_copy(tmp_path_factory):
    # checked and run from a directory of its own, so that only the installed package is seen
    where = tmp_path_factory.mktemp("typing_usage")
    shutil.copy(USAGE, where / USAGE.name)
    return where


def test_stubs_and_usage_pass_mypy_strict(usage_copy):
    proc = run(
        "-m", "mypy", "--strict", "--no-incremental", "--config-file", "",
        "--cache-dir", str(usage_copy / ".mypy_cache"),
        "-m", USAGE.stem, *installed_stubs(),
        cwd=usage_copy, sanitizers=False,
    )  # fmt: skip
    assert proc.returncode == 0, proc.stdout + proc.stderr


def test_usage_runs_with_the_types_it_asserts(usage_copy):
    proc = run("-W", "error", USAGE.name, cwd=usage_copy)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    assert proc.stdout.strip() == "ok"
