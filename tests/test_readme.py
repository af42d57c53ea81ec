"""Every Python code block of the README runs, and passes ``mypy --strict``.

Each block runs on its own, in a fresh namespace, so that each can be copied alone.  A block
whose first line is ``# not run`` is skipped (shell sessions are ``console`` blocks and are
never run).
"""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

README = Path(__file__).resolve().parent.parent / "README.md"
BLOCK = re.compile(r"^```python\n(.*?)^```", re.S | re.M)


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
