"""The requirements, test and status commands against stand-in interpreters
(argument lists and order) and, once, against a real Python and PyPI."""

from __future__ import annotations

import os
import re
import shutil
import stat
import sys
from pathlib import Path

import pytest

from conftest import TOLVO, run_tolvo

FAKE = r"""#!/bin/sh
printf '%s' "$(basename "$0")" >> "$FAKE_LOG"
for a in "$@"; do printf ' %s' "$a" >> "$FAKE_LOG"; done
printf '\n' >> "$FAKE_LOG"
case " $FAKE_FAIL " in *" $(basename "$0")$1 "*|*" $(basename "$0") "*)
  echo "captured out"; echo "captured err" >&2; exit 3;; esac
if [ "$1" = "-m" ] && [ "$2" = "venv" ]; then
  for last in "$@"; do :; done
  mkdir -p "$last/bin"; cp "$0" "$last/bin/python"; cp "$0" "$last/bin/pip"
fi
if [ "$2" = "pytest" ] && [ -n "$FAKE_PYTEST_SIGNAL" ]; then kill -"$FAKE_PYTEST_SIGNAL" $$; fi
if [ "$2" = "pytest" ]; then echo "tests ran"; exit "${FAKE_PYTEST_RC:-0}"; fi
exit 0
"""

PYPROJECT = """[project]
name = "demo"
version = "1.0"
[project.optional-dependencies]
test = ["pytest"]
dev = ["ruff"]
"""


@pytest.fixture
def project(tmp_path: Path) -> dict:
    fakebin = tmp_path / "fakebin"
    fakebin.mkdir()
    python = fakebin / "python"
    python.write_text(FAKE)
    python.chmod(stat.S_IRWXU)
    work = tmp_path / "demo"
    work.mkdir()
    (work / "pyproject.toml").write_text(PYPROJECT)
    log = tmp_path / "log"
    env = dict(os.environ, PATH=f"{fakebin}:{os.environ['PATH']}", FAKE_LOG=str(log))
    env.pop("FAKE_FAIL", None)
    return {"dir": work, "env": env, "log": log, "venv": str(work.resolve() / ".venv")}


def calls(project: dict) -> list[str]:
    return project["log"].read_text().splitlines() if project["log"].exists() else []


def setup_calls(venv: str) -> list[str]:
    return [f"python -m venv --system-site-packages --upgrade {venv}", "python -um ensurepip", "pip install --upgrade pip"]


@pytest.mark.parametrize(
    ("extras", "target"),
    [([], "."), (["test"], ".[test]"), (["dev", "test"], ".[dev,test]"), (["test", "test"], ".[test,test]")],
)
def test_requirements_installs_the_named_extras(project: dict, extras: list[str], target: str) -> None:
    result = run_tolvo("requirements", *extras, cwd=project["dir"], env=project["env"])
    assert result.returncode == 0, result.stderr
    assert calls(project) == [*setup_calls(project["venv"]), f"pip install --quiet --editable {target}"]
    assert result.stdout == ("Creating virtual environment...\nEnsuring pip is installed...\n"
                             "Upgrading pip...\nInstalling requirements...\n")


@pytest.mark.parametrize("extras", [["web", "dev"], ["Test"]])
def test_unknown_extra_installs_nothing(project: dict, extras: list[str]) -> None:
    result = run_tolvo("requirements", *extras, cwd=project["dir"], env=project["env"])
    assert result.returncode == 1
    assert f"Unknown extra '{extras[0]}'. Available: dev, test" in result.stderr
    assert calls(project) == []
    assert not (project["dir"] / ".venv").exists()


def test_failing_quiet_step_shows_its_output_and_stops(project: dict) -> None:
    env = dict(project["env"], FAKE_FAIL="python-um")
    result = run_tolvo("requirements", cwd=project["dir"], env=env)
    assert result.returncode == 1
    assert "captured out\n" in result.stdout
    assert "captured err\n" in result.stderr
    assert "Upgrading pip" not in result.stdout
    assert calls(project) == setup_calls(project["venv"])[:2]


def test_incomplete_venv_is_created_again(project: dict) -> None:
    (project["dir"] / ".venv" / "bin").mkdir(parents=True)
    result = run_tolvo("requirements", cwd=project["dir"], env=project["env"])
    assert result.returncode == 0, result.stderr
    assert calls(project)[0] == setup_calls(project["venv"])[0]


def test_venv_symlink_points_into_its_target(project: dict, tmp_path: Path) -> None:
    target = tmp_path / "elsewhere"
    target.mkdir()
    (project["dir"] / ".venv").symlink_to(target)
    result = run_tolvo("requirements", cwd=project["dir"], env=project["env"])
    assert result.returncode == 0, result.stderr
    assert calls(project) == [*setup_calls(str(target.resolve())), "pip install --quiet --editable ."]
    assert (target / "bin" / "pip").exists()


@pytest.mark.parametrize(("rc", "args"), [(0, []), (1, []), (5, ["tests/unit"])])
def test_test_runs_pytest_and_returns_its_code(project: dict, rc: int, args: list[str]) -> None:
    env = dict(project["env"], FAKE_PYTEST_RC=str(rc))
    result = run_tolvo("test", *args, cwd=project["dir"], env=env)
    assert result.returncode == rc, result.stderr
    path = args[0] if args else "tests/"
    assert calls(project) == [*setup_calls(project["venv"]), "pip install -e .[test]", f"python -um pytest -vv {path}"]
    assert "tests ran\n" in result.stdout


@pytest.mark.parametrize(("signal", "status"), [("TERM", 143), ("KILL", 137)])
def test_test_killed_by_a_signal_ends_like_a_shell_reports_it(project: dict, signal: str, status: int) -> None:
    env = dict(project["env"], FAKE_PYTEST_SIGNAL=signal)
    result = run_tolvo("test", cwd=project["dir"], env=env)
    assert result.returncode == status, result.stderr


def test_test_with_wheel_leaves_the_venv_alone(project: dict) -> None:
    result = run_tolvo("test", "--wheel", cwd=project["dir"], env=project["env"])
    assert result.returncode == 1
    assert calls(project) == []
    assert not (project["dir"] / ".venv").exists()


def test_status_reports_project_docker_and_venv(project: dict) -> None:
    result = run_tolvo("status", cwd=project["dir"], env=project["env"])
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[:3] == ["Creating virtual environment...", "Ensuring pip is installed...", "Upgrading pip..."]
    docker = "installed" if shutil.which("docker", path=project["env"]["PATH"]) else "missing"
    assert lines[3:] == ["Project: demo-1.0", f"Docker: {docker}", "Venv: installed"]


def test_status_without_docker_says_missing(project: dict, tmp_path: Path) -> None:
    sh = tmp_path / "shbin"
    sh.mkdir()
    for tool in ("sh", "basename", "mkdir", "cp", "printf"):
        found = shutil.which(tool)
        if found:
            (sh / tool).symlink_to(found)
    env = dict(project["env"], PATH=f"{tmp_path / 'fakebin'}:{sh}")
    result = run_tolvo("status", cwd=project["dir"], env=env)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[-2:] == ["Docker: missing", "Venv: installed"]


def test_status_without_pyproject_prints_nothing(project: dict) -> None:
    (project["dir"] / "pyproject.toml").unlink()
    result = run_tolvo("status", cwd=project["dir"], env=project["env"])
    assert result.returncode == 1
    assert result.stdout == ""
    assert "pyproject.toml not found" in result.stderr


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


def run_on_pty(args: list[str], cwd: Path, env: dict) -> tuple[int, bytes]:
    """Runs the executable with its standard output on a pseudo-terminal."""
    import subprocess

    primary, secondary = os.openpty()
    with subprocess.Popen([str(TOLVO), *args], cwd=cwd, env=env, stdout=secondary,
                          stderr=subprocess.PIPE, stdin=subprocess.DEVNULL) as child:
        os.close(secondary)
        shown = b""
        while True:
            try:
                chunk = os.read(primary, 4096)
            except OSError:
                break
            if not chunk:
                break
            shown += chunk
        child.wait(timeout=60)
    os.close(primary)
    return child.returncode, shown


def test_spinner_on_a_terminal_blanks_each_step(project: dict) -> None:
    (project["dir"] / ".venv" / "bin").mkdir(parents=True)
    for name in ("python", "pip"):
        fake = project["dir"] / ".venv" / "bin" / name
        fake.write_text(FAKE)
        fake.chmod(stat.S_IRWXU)
    rc, shown = run_on_pty(["requirements"], project["dir"], project["env"])
    assert rc == 0
    # A loaded machine may redraw once or twice; each step must still end blanked.
    frames = "⠋⠙⠹⠸⠼⠴⠦⠧⠇⠏"
    pattern = "".join(
        f"{re.escape(action)}: \\[⠋\\](?:\\r{re.escape(action)}: \\[[{frames}]\\])*\\r {{{len(action) + 5}}}\\r"
        for action in ("Ensuring pip is installed", "Upgrading pip", "Installing requirements")
    )
    assert re.fullmatch(pattern, shown.decode()), shown
