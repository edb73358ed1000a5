"""The build and clean commands, the build run against the fake
interpreters, plus one real source build."""

from __future__ import annotations

import shutil
import subprocess
import sys
import tarfile
from pathlib import Path

import pytest

from conftest import SOURCE_DIR, FakeProject, run_tolvo


def build_tool_lines(venv: str) -> list[str]:
    return [
        f"python -m venv --system-site-packages --upgrade {venv}",
        ".venv/bin/python -um ensurepip",
        ".venv/bin/python -m pip install --upgrade pip",
        ".venv/bin/python -m pip install build wheel",
    ]


def test_sdist_builds_into_dist_after_the_build_tools(fake_project: FakeProject) -> None:
    fake_project.write("dist/old-0.0.tar.gz", "old")
    result = fake_project.run("build", "--sdist")
    assert result.returncode == 0, result.stderr
    assert fake_project.lines() == build_tool_lines(fake_project.venv) + [".venv/bin/python -um build --sdist"]
    assert result.stdout.endswith("Building sdist...\nfront end output\nsdist built successfully\n")
    assert sorted(p.name for p in (fake_project.dir / "dist").iterdir()) == ["old-0.0.tar.gz", "x-0.1.tar.gz"]


@pytest.mark.parametrize("status", ["1", "2"])
def test_failed_sdist_build_ends_with_status_one(fake_project: FakeProject, status: str) -> None:
    fake_project.write("dist/old-0.0.tar.gz", "old")
    result = fake_project.run("build", "--sdist", FAKE_BUILD_RC=status)
    assert result.returncode == 1
    assert "Building sdist...\nfront end output\n" in result.stdout
    assert "sdist built successfully" not in result.stdout
    assert result.stderr == "tolvo: error: sdist build failed\n"
    assert [p.name for p in (fake_project.dir / "dist").iterdir()] == ["old-0.0.tar.gz"]


def test_build_without_flags_only_ensures_the_build_tools(fake_project: FakeProject) -> None:
    result = fake_project.run("build")
    assert result.returncode == 0, result.stderr
    assert fake_project.lines() == build_tool_lines(fake_project.venv)
    assert "sdist" not in result.stdout
    assert not (fake_project.dir / "dist").exists()


def test_sdist_without_an_environment_reports_and_creates_nothing(fake_project: FakeProject) -> None:
    # The environment loses its interpreter as the build tools are installed
    # (pip runs as its module), so the source build finds no complete environment.
    result = fake_project.run("build", "--sdist", FAKE_BUILD_TOOLS_REMOVE_SELF="1")
    assert result.returncode == 1
    assert result.stderr == "Error: Virtual environment not found. Run 'tolvo requirements' first.\n"
    assert "Building sdist" not in result.stdout
    assert fake_project.lines() == build_tool_lines(fake_project.venv)
    assert not (fake_project.dir / "dist").exists()


def tree(root: Path) -> set[str]:
    return {str(p.relative_to(root)) for p in root.rglob("*")}


def test_clean_removes_artefacts_and_reports(tmp_path: Path) -> None:
    project = tmp_path / "project"
    for name in ("build/lib/a.py", "dist/x.tar.gz", ".venv/bin/python", "wheelhouse/w.whl",
                 "demo.egg-info/PKG-INFO", "src/x.egg-info/PKG-INFO", ".cache.egg-info/k",
                 "pkg/sub/__pycache__/m.pyc", ".git/__pycache__/n.pyc", "pkg/legacy.pyc", "pkg/mod.py"):
        (project / name).parent.mkdir(parents=True, exist_ok=True)
        (project / name).write_text("x")
    (tmp_path / "dist").mkdir()  # beside the project that -C names: kept
    for _ in range(2):
        result = run_tolvo("-C", "project", "clean", cwd=tmp_path)
        assert result.returncode == 0, result.stderr
        assert result.stdout == "Cleaning build artifacts...\nClean complete\n"
        assert tree(project) == {"src", "src/x.egg-info", "src/x.egg-info/PKG-INFO", ".cache.egg-info",
                                 ".cache.egg-info/k", "pkg", "pkg/sub", "pkg/mod.py", ".git"}
    assert (tmp_path / "dist").is_dir()


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
