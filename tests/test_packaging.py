"""The source distribution: what it holds, and that it builds and installs on its own.

The build runs without network access: it uses this environment's build tools
(``--no-isolation``) and installs into a fresh virtual environment that reads its
dependencies from this one.
"""

import os
import subprocess
import sys
import tarfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent

pytestmark = pytest.mark.skipif(
    os.environ.get("ORBALIS_SKIP_PACKAGING") == "1" or not (ROOT / "pyproject.toml").exists(),
    reason="packaging checks are skipped in this run",
)


def run(*args, **kwargs):
    proc = subprocess.run(args, capture_output=True, text=True, timeout=900, **kwargs)
    if proc.returncode != 0:
        raise AssertionError(f"{args} failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr}")
    return proc


@pytest.fixture(scope="module")
def sdist(tmp_path_factory):
    pytest.importorskip("build")
    out = tmp_path_factory.mktemp("dist")
    run(sys.executable, "-m", "build", "--sdist", "--no-isolation", "--outdir", str(out), str(ROOT))
    (path,) = out.glob("orbalis-*.tar.gz")
    return path


def test_sdist_holds_the_sources_and_the_licence(sdist):
    with tarfile.open(sdist) as tar:
        names = {n.split("/", 1)[1] for n in tar.getnames() if "/" in n}
    for required in (
        "LICENSE",
        "README.md",
        "pyproject.toml",
        "CMakeLists.txt",
        "src/orbalis/__init__.py",
        "src/orbalis/_native/pyref.hpp",
    ):
        assert required in names, required
    assert not [n for n in names if n.endswith(".so") or n.startswith((".venv", "build/"))]


def test_sdist_installs_into_a_fresh_environment(sdist, tmp_path):
    env_dir = tmp_path / "venv"
    run(sys.executable, "-m", "venv", str(env_dir))
    python = env_dir / "bin" / "python"
    site = run(str(python), "-c", "import sysconfig; print(sysconfig.get_paths()['purelib'])")
    # dependencies and build tools come from this environment, after the fresh one's own
    parents = [p for p in sys.path if p.endswith("-packages") and Path(p).is_dir()]
    (Path(site.stdout.strip()) / "zz_parent.pth").write_text("\n".join(parents) + "\n")
    run(str(python), "-m", "pip", "install", "--no-build-isolation", "--no-deps", "-q", str(sdist))
    code = (
        "import orbalis, pathlib, sys, importlib.metadata as md; "
        "print(pathlib.Path(orbalis.__file__).is_relative_to(pathlib.Path(sys.argv[1]))); "
        "print(md.version('orbalis') == orbalis.__version__); "
        "print(any(p.name == 'LICENSE' for p in md.files('orbalis')))"
    )
    check = run(str(python), "-c", code, str(env_dir))
    assert check.stdout.split() == ["True", "True", "True"]
    demo = run(str(env_dir / "bin" / "orbalis"), "demo")
    assert "== WGS-84 ellipsoid" in demo.stdout
