"""The build and clean commands, run against fake interpreters that log
their argument lists, plus one real source build."""

from __future__ import annotations

import os
import shutil
import stat
import subprocess
import sys
import tarfile
from pathlib import Path

import pytest

from conftest import SOURCE_DIR, run_tolvo

# Stands in for the system `python`: "-m venv ... X" lays out X/bin/python
# and X/bin/pip, themselves logging fakes. The environment's python builds
# dist/x.tar.gz for "-um build --sdist", or exits with FAKE_SDIST_STATUS.
# FAKE_DROP_PIP makes pip delete itself while installing the build tools.
FAKE_PYTHON = r"""#!/bin/sh
echo "python $*" >> "$FAKE_LOG"
if [ "$1" = -m ] && [ "$2" = venv ]; then
  for last; do :; done
  mkdir -p "$last/bin"
  cp "$FAKE_DIR/venv-python" "$last/bin/python"
  cp "$FAKE_DIR/venv-pip" "$last/bin/pip"
fi
exit 0
"""

FAKE_VENV_PYTHON = r"""#!/bin/sh
echo "venv-python $*" >> "$FAKE_LOG"
if [ "$*" = "-um build --sdist" ]; then
  echo "front end output"
  if [ -n "$FAKE_SDIST_STATUS" ]; then
    exit "$FAKE_SDIST_STATUS"
  fi
  echo archive > dist/x-0.1.tar.gz
fi
exit 0
"""

FAKE_VENV_PIP = r"""#!/bin/sh
echo "venv-pip $*" >> "$FAKE_LOG"
if [ -n "$FAKE_DROP_PIP" ] && [ "$*" = "install build wheel" ]; then
  rm -f "$0"
fi
exit 0
"""


@pytest.fixture
def fake(tmp_path):
    fakes = tmp_path / "fakes"
    fakes.mkdir()
    for name, text in (("python", FAKE_PYTHON), ("venv-python", FAKE_VENV_PYTHON), ("venv-pip", FAKE_VENV_PIP)):
        path = fakes / name
        path.write_text(text)
        path.chmod(path.stat().st_mode | stat.S_IXUSR)
    project = tmp_path / "project"
    project.mkdir()
    log = tmp_path / "log"
    env = dict(os.environ, PATH=f"{fakes}:{os.environ['PATH']}", FAKE_LOG=str(log), FAKE_DIR=str(fakes))
    env.pop("FAKE_SDIST_STATUS", None)
    env.pop("FAKE_DROP_PIP", None)

    class Fake:
        pass

    f = Fake()
    f.project, f.env, f.log = project, env, log
    f.venv = str(project.resolve() / ".venv")
    f.calls = lambda: log.read_text().splitlines() if log.exists() else []
    return f


def venv_setup_calls(venv: str) -> list[str]:
    return [
        f"python -m venv --system-site-packages --upgrade {venv}",
        "venv-python -um ensurepip",
        "venv-pip install --upgrade pip",
        "venv-pip install build wheel",
    ]


def test_sdist_builds_into_dist_after_the_build_tools(fake):
    (fake.project / "dist").mkdir()
    (fake.project / "dist" / "old-0.0.tar.gz").write_text("old")
    result = run_tolvo("build", "--sdist", cwd=fake.project, env=fake.env)
    assert result.returncode == 0, result.stderr
    assert fake.calls() == venv_setup_calls(fake.venv) + ["venv-python -um build --sdist"]
    assert result.stdout.endswith("Building sdist...\nfront end output\nsdist built successfully\n")
    assert sorted(p.name for p in (fake.project / "dist").iterdir()) == ["old-0.0.tar.gz", "x-0.1.tar.gz"]


@pytest.mark.parametrize("status", ["1", "2"])
def test_failed_sdist_build_ends_with_status_one(fake, status):
    (fake.project / "dist").mkdir()
    (fake.project / "dist" / "old-0.0.tar.gz").write_text("old")
    fake.env["FAKE_SDIST_STATUS"] = status
    result = run_tolvo("build", "--sdist", cwd=fake.project, env=fake.env)
    assert result.returncode == 1
    assert "Building sdist...\nfront end output\n" in result.stdout
    assert "sdist built successfully" not in result.stdout
    assert result.stderr.rstrip().endswith("sdist build failed")
    assert [p.name for p in (fake.project / "dist").iterdir()] == ["old-0.0.tar.gz"]


def test_build_without_flags_only_ensures_the_build_tools(fake):
    result = run_tolvo("build", cwd=fake.project, env=fake.env)
    assert result.returncode == 0, result.stderr
    assert fake.calls() == venv_setup_calls(fake.venv)
    assert "sdist" not in result.stdout
    assert not (fake.project / "dist").exists()


def test_sdist_without_an_environment_reports_and_creates_nothing(fake):
    # The environment loses its pip after the build tools are installed, so
    # the source build finds no complete environment.
    fake.env["FAKE_DROP_PIP"] = "1"
    result = run_tolvo("build", "--sdist", cwd=fake.project, env=fake.env)
    assert result.returncode == 1
    assert result.stderr == "Error: Virtual environment not found. Run 'tolvo requirements' first.\n"
    assert "Building sdist" not in result.stdout
    assert fake.calls() == venv_setup_calls(fake.venv)
    assert not (fake.project / "dist").exists()


def test_dist_that_is_a_file_fails_the_sdist_build(fake):
    (fake.project / "dist").write_text("not a directory")
    result = run_tolvo("build", "--sdist", cwd=fake.project, env=fake.env)
    assert result.returncode == 1
    assert "Not a directory" in result.stderr
    assert "venv-python -um build --sdist" not in fake.calls()


def tree(root: Path) -> set[str]:
    return {str(p.relative_to(root)) for p in root.rglob("*")}


def test_clean_removes_artefacts_and_reports(tmp_path):
    for name in ("build/lib/a.py", "dist/x.tar.gz", ".venv/bin/python", "wheelhouse/w.whl",
                 "demo.egg-info/PKG-INFO", "src/x.egg-info/PKG-INFO", ".cache.egg-info/k",
                 "pkg/sub/__pycache__/m.pyc", ".git/__pycache__/n.pyc", "pkg/legacy.pyc", "pkg/mod.py"):
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text("x")
    result = run_tolvo("clean", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "Cleaning build artifacts...\nClean complete\n"
    assert tree(tmp_path) == {"src", "src/x.egg-info", "src/x.egg-info/PKG-INFO", ".cache.egg-info",
                              ".cache.egg-info/k", "pkg", "pkg/sub", "pkg/mod.py", ".git"}
    again = run_tolvo("clean", cwd=tmp_path)
    assert again.stdout == "Cleaning build artifacts...\nClean complete\n"


def test_clean_refuses_a_dist_link_and_keeps_its_target(tmp_path):
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "sentinel").write_text("keep")
    project = tmp_path / "project"
    (project / "build").mkdir(parents=True)
    (project / ".venv").mkdir()
    (project / "dist").symlink_to(outside)
    result = run_tolvo("clean", cwd=project)
    assert result.returncode == 1
    assert result.stdout == "Cleaning build artifacts...\n"
    assert result.stderr.rstrip().endswith("cannot remove 'dist': Not a directory")
    assert (outside / "sentinel").read_text() == "keep"
    assert tree(project) == {"dist", ".venv"}


def test_clean_in_a_missing_directory_removes_nothing(tmp_path):
    (tmp_path / "dist").mkdir()
    (tmp_path / "__pycache__").mkdir()
    result = run_tolvo("-C", "nonexistent", "clean", cwd=tmp_path)
    assert result.returncode == 1
    assert "Cleaning" not in result.stdout
    assert tree(tmp_path) == {"dist", "__pycache__"}


@pytest.mark.real
def test_real_sdist_of_the_demo_installs(tmp_path):
    project = tmp_path / "demo"
    shutil.copytree(SOURCE_DIR / "examples" / "demo", project)
    result = run_tolvo("-C", str(project), "build", "--sdist", timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "sdist built successfully" in result.stdout
    archives = list((project / "dist").glob("*.tar.gz"))
    assert [a.name for a in archives] == ["demo-0.1.0.tar.gz"]
    with tarfile.open(archives[0]) as archive:
        assert "demo-0.1.0/demo/__init__.py" in archive.getnames()
    check = tmp_path / "check"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(check)], check=True)
    subprocess.run([str(check / "bin" / "pip"), "install", "--no-deps", str(archives[0])],
                   check=True, capture_output=True, timeout=600)
    imported = subprocess.run([str(check / "bin" / "python"), "-c", "import demo; print(demo.__file__)"],
                              cwd=tmp_path, capture_output=True, text=True, check=True)
    assert str(check) in imported.stdout
