"""Every code block of the README runs: Python blocks (which also pass ``mypy --strict``)
and the ``$ orbalis ...`` command lines of console blocks.

Each Python block runs on its own, in a fresh namespace, so that each can be copied alone.  A
block whose first line is ``# not run`` is skipped.  Command lines run in a folder holding the
files they name (a small catalogue, points and sites); the Quick start commands, which build
the package itself, are what CI runs.
"""

import os
import re
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

README = Path(__file__).resolve().parent.parent / "README.md"
BLOCK = re.compile(r"^```python\n(.*?)^```", re.S | re.M)
CONSOLE = re.compile(r"^```console\n(.*?)^```", re.S | re.M)
FILES = {
    "stations.txt": "ISS (ZARYA)\n"
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927\n"
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537\n",
    "points.csv": "x,y,z\n4201000,168000,4780000\n6378137,0,0\n",
    "sites.csv": "name,lat,lon,alt\nParis,0.8527,0.04105,35\n",
}


def blocks():
    if not README.exists():
        return []
    text = README.read_text()
    found = []
    for m in BLOCK.finditer(text):
        line = text.count("\n", 0, m.start()) + 2
        code = m.group(1)
        if not code.startswith("# not run"):
            found.append(pytest.param(code, id=f"line-{line}"))
    return found


def commands():
    """The `$ orbalis ...` lines of the console blocks, continuation lines joined."""
    text = README.read_text() if README.exists() else ""
    found = []
    for m in CONSOLE.finditer(text):
        body = m.group(1).replace("\\\n", " ")
        for line in body.splitlines():
            if line.startswith("$ orbalis"):
                command = line[2:].split("  #")[0].strip()
                found.append(pytest.param(command, id=command[:60]))
    return found


@pytest.mark.parametrize("command", commands())
def test_readme_command_runs(command, tmp_path):
    for name, text in FILES.items():
        (tmp_path / name).write_text(text)
    words = shlex.split(command)
    target = None
    if ">" in words:
        target = tmp_path / words[words.index(">") + 1]
        words = words[: words.index(">")]
    proc = subprocess.run(
        [sys.executable, "-m", *words], cwd=tmp_path, capture_output=True, text=True, timeout=300
    )
    assert proc.returncode == 0, proc.stdout + proc.stderr
    assert proc.stdout or target is not None
    if target is not None:
        target.write_text(proc.stdout)


@pytest.mark.parametrize("code", blocks())
def test_readme_block_runs(code, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # blocks that write files write them here
    exec(compile(code, str(README), "exec"), {"__name__": "readme"})


def test_readme_blocks_pass_mypy_strict(tmp_path):
    pytest.importorskip("mypy")
    codes = [p.values[0] for p in blocks()]
    if not codes:
        pytest.skip("no Python blocks")
    files = []
    for i, code in enumerate(codes):
        path = tmp_path / f"readme_block_{i}.py"
        path.write_text(code)
        files.append(str(path))
    # dask and distributed are partly untyped: calling them is their concern, not the README's
    untyped = ["--untyped-calls-exclude=dask", "--untyped-calls-exclude=distributed"]
    # mypy loads none of the package's extensions: it runs without the sanitizer runtimes
    # that the sanitized run of the suite preloads
    sanitizers = ("LD_PRELOAD", "PYTHONMALLOC", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS")
    env = {k: v for k, v in os.environ.items() if k not in sanitizers}
    proc = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--no-incremental",
            *untyped,
            "--cache-dir",
            str(tmp_path / ".mypy_cache"),
            *files,
        ],
        capture_output=True,
        text=True,
        env=env,
        timeout=600,
    )
    assert proc.returncode == 0, proc.stdout + proc.stderr
