"""Real environments where the project's path is not the one its files
name: a project copied with its .venv, and a directory whose name holds
shell syntax. tolvo must touch nothing outside the project and run nothing
that its path holds."""

from __future__ import annotations

import json
import subprocess
from pathlib import Path

import pytest

from conftest import run_tolvo
from test_bad_input import snapshot
from test_venv_commands import make_real_project


def editable_url(project: Path) -> str:
    """Where the environment's editable install of the project points."""
    found = list((project / ".venv" / "lib").glob("python*/site-packages/tinyproj-*.dist-info/direct_url.json"))
    assert len(found) == 1, found
    return json.loads(found[0].read_text())["url"]


@pytest.mark.real
def test_a_copied_project_leaves_the_original_byte_for_byte(tmp_path: Path) -> None:
    original = make_real_project(tmp_path)
    result = run_tolvo("requirements", "test", cwd=original, timeout=900)
    assert result.returncode == 0, result.stdout + result.stderr
    copy = tmp_path / "copy"
    # The copy's pip script still starts the original's interpreter.
    subprocess.run(["cp", "-a", str(original), str(copy)], check=True)
    before = snapshot(original)
    (copy / "pyproject.toml").write_text((copy / "pyproject.toml").read_text().replace('"0.1"', '"0.2"'))
    for args in (["build"], ["requirements", "test"], ["test"]):
        result = run_tolvo(*args, cwd=copy, timeout=900)
        assert result.returncode == 0, result.stdout + result.stderr
    assert "test_answer PASSED" in result.stdout
    assert snapshot(original) == before
    assert editable_url(copy) == copy.resolve().as_uri()
    assert editable_url(original) == original.resolve().as_uri()


ODD_NAME = 'my proj $(touch MARK) `touch MARK` "q"'


@pytest.mark.real
def test_shell_syntax_in_the_project_directory_never_runs(tmp_path: Path) -> None:
    project = make_real_project(tmp_path).rename(tmp_path / ODD_NAME)
    for args in (["requirements", "test"], ["test"]):
        result = run_tolvo(*args, cwd=project, timeout=900)
        assert result.returncode == 0, result.stdout + result.stderr
    assert "test_answer PASSED" in result.stdout
    assert list(tmp_path.rglob("MARK")) == []
    assert editable_url(project) == project.resolve().as_uri()
