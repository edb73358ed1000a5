"""The requirements, test and status commands against the fake interpreters
(argument lists and order) and, once, against a real Python and PyPI."""

from __future__ import annotations

import re
import shutil
from pathlib import Path

import pytest

from conftest import FakeProject, run_on_pty, run_tolvo

PYPROJECT = """[project]
name = "demo"
version = "1.0"
[project.optional-dependencies]
test = ["pytest"]
dev = ["ruff"]
"""


def setup_lines(venv: str, bin_dir: str = ".venv/bin") -> list[str]:
    return [f"python -m venv --system-site-packages --upgrade {venv}", f"{bin_dir}/python -um ensurepip",
            f"{bin_dir}/python -m pip install --upgrade pip"]


@pytest.mark.parametrize(
    ("extras", "target"),
    [([], "."), (["test"], ".[test]"), (["dev", "test"], ".[dev,test]"), (["test", "test"], ".[test,test]")],
)
def test_requirements_installs_the_named_extras(fake_project: FakeProject, extras: list[str], target: str) -> None:
    result = fake_project.run("requirements", *extras)
    assert result.returncode == 0, result.stderr
    assert fake_project.lines() == [*setup_lines(fake_project.venv),
                                    f".venv/bin/python -m pip install --quiet --editable {target}"]
    assert result.stdout == ("Creating virtual environment...\nEnsuring pip is installed...\n"
                             "Upgrading pip...\nInstalling requirements...\n")


@pytest.mark.parametrize(("venv", "created"), [("incomplete", True), ("complete", False)])
def test_venv_is_created_unless_complete(fake_project: FakeProject, venv: str, created: bool) -> None:
    fake_project.fake_venv(pip=venv == "complete")
    result = fake_project.run("requirements")
    assert result.returncode == 0, result.stderr
    setup = setup_lines(fake_project.venv)
    assert fake_project.lines() == [*(setup if created else setup[1:]),
                                    ".venv/bin/python -m pip install --quiet --editable ."]


def test_failing_quiet_step_shows_its_output_and_stops(fake_project: FakeProject) -> None:
    result = fake_project.run("requirements", FAKE_ENSUREPIP_RC="3", FAKE_ENSUREPIP_OUT="captured out\n",
                              FAKE_ENSUREPIP_ERR="captured err\n")
    assert result.returncode == 1
    assert "captured out\n" in result.stdout
    assert "captured err\n" in result.stderr
    assert "Upgrading pip" not in result.stdout
    assert fake_project.lines() == setup_lines(fake_project.venv)[:2]


def test_venv_symlink_points_into_its_target(fake_project: FakeProject, tmp_path: Path) -> None:
    target = tmp_path / "elsewhere"
    target.mkdir()
    (fake_project.dir / ".venv").symlink_to(target)
    result = fake_project.run("requirements")
    assert result.returncode == 0, result.stderr
    resolved = target.resolve()
    assert fake_project.lines() == [*setup_lines(str(resolved), f"{resolved}/bin"),
                                    f"{resolved}/bin/python -m pip install --quiet --editable ."]


# Without a path and without tests/, pytest's own configuration decides.
@pytest.mark.parametrize(("rc", "args", "tests_dir", "pytest"), [
    (0, [], True, "pytest -vv tests/"), (1, [], False, "pytest -vv"),
    (5, ["tests/unit"], False, "pytest -vv tests/unit"),
])
def test_test_runs_pytest_and_returns_its_code(fake_project: FakeProject, rc: int, args: list[str], tests_dir: bool,
                                               pytest: str) -> None:
    if tests_dir:
        fake_project.write("tests/test_demo.py", "def test_demo():\n    pass\n")
    result = fake_project.run("test", *args, FAKE_PYTEST_RC=str(rc))
    assert result.returncode == rc, result.stderr
    assert fake_project.lines() == [*setup_lines(fake_project.venv), ".venv/bin/python -m pip install -e .[test]",
                                    f".venv/bin/python -um {pytest}"]
    assert "tests ran\n" in result.stdout


@pytest.mark.parametrize(("signal", "status"), [("TERM", 143), ("KILL", 137), ("SEGV", 139)])
def test_test_killed_by_a_signal_ends_like_a_shell_reports_it(fake_project: FakeProject, signal: str,
                                                              status: int) -> None:
    result = fake_project.run("test", FAKE_PYTEST_SIGNAL=signal)
    assert (result.returncode, result.stderr) == (status, "")


@pytest.mark.parametrize("docker", ["installed", "missing"])
def test_status_reports_project_docker_and_venv(fake_project: FakeProject, docker: str) -> None:
    if docker == "missing":
        (fake_project.bin / "docker").unlink()
    result = fake_project.run("status")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["Creating virtual environment...", "Ensuring pip is installed...",
                                          "Upgrading pip...", "Project: demo-1.0", f"Docker: {docker}",
                                          "Venv: installed"]


REAL_PYPROJECT = """[build-system]
requires = ["setuptools>=61"]
build-backend = "setuptools.build_meta"

[project]
name = "tinyproj"
version = "0.1"
[project.optional-dependencies]
test = ["pytest"]

[tool.setuptools]
packages = ["tinyproj"]
"""


def make_real_project(tmp_path: Path) -> Path:
    """A tiny setuptools project with one passing test, for the real runs."""
    if shutil.which("python") is None:
        pytest.skip("no 'python' on PATH")
    work = tmp_path / "tinyproj"
    (work / "tinyproj").mkdir(parents=True)
    (work / "tinyproj" / "__init__.py").write_text("def answer():\n    return 42\n")
    (work / "tests").mkdir()
    (work / "tests" / "test_answer.py").write_text("from tinyproj import answer\n\ndef test_answer():\n"
                                                   "    assert answer() == 42\n")
    (work / "pyproject.toml").write_text(REAL_PYPROJECT)
    return work


@pytest.mark.real
def test_real_project_round_trip(tmp_path: Path) -> None:
    work = make_real_project(tmp_path)
    result = run_tolvo("requirements", "test", cwd=work, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    result = run_tolvo("test", cwd=work, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "test_answer PASSED" in result.stdout
    (work / "tests" / "test_fail.py").write_text("def test_fail():\n    assert False\n")
    result = run_tolvo("test", cwd=work, timeout=600)
    assert result.returncode == 1
    result = run_tolvo("status", cwd=work, timeout=600)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[-3] == "Project: tinyproj-0.1"
    assert lines[-2] in ("Docker: installed", "Docker: missing")
    assert lines[-1] == "Venv: installed"


def test_spinner_on_a_terminal_blanks_each_step(fake_project: FakeProject) -> None:
    fake_project.fake_venv()
    shown = run_on_pty(["requirements"], fake_project.dir, fake_project.env, stdin_on_pty=False)
    assert shown.returncode == 0
    # A loaded machine may redraw once or twice; each step must still end blanked.
    frames = "⠋⠙⠹⠸⠼⠴⠦⠧⠇⠏"
    pattern = "".join(
        f"{re.escape(action)}: \\[⠋\\](?:\\r{re.escape(action)}: \\[[{frames}]\\])*\\r {{{len(action) + 5}}}\\r"
        for action in ("Ensuring pip is installed", "Upgrading pip", "Installing requirements")
    )
    assert re.fullmatch(pattern, shown.text), shown.shown
