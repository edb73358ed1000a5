"""The when-needed refresh, dependency groups and pytest arguments, against
the fake interpreter and pip, which keep an environment's pyvenv.cfg and
dist-info folders as the real ones do and answer tolvo's questions about
the interpreter (fakes/fakeenv.py)."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
from pathlib import Path
from typing import Callable

import pytest

from conftest import FakeProject, run_tolvo
from test_venv_commands import REAL_PYPROJECT, make_real_project

PYPROJECT = """[project]
name = "demo"
version = "1.0"
dependencies = []
[project.optional-dependencies]
test = ["pytest>=8"]
dev = ["ruff"]
[dependency-groups]
lint = ["ruff"]
Test = [{include-group = "lint"}]
[tool.tolvo]
refresh = "when-needed"
"""

UP_TO_DATE = "Ensuring pip is installed... up to date\nUpgrading pip... up to date\nInstalling test tools... up to date\n"
ENSUREPIP = ".venv/bin/python -um ensurepip"
UPGRADE = ".venv/bin/pip install --upgrade pip"
FACTS = ".venv/bin/python -c"
TEST_TOOLS = ".venv/bin/pip install -e .[test]"
PYTEST = ".venv/bin/python -um pytest -vv tests/"


@pytest.fixture
def project(fake_project: FakeProject) -> FakeProject:
    fake_project.env["FAKE_ALSO"] = "pytest"  # what the test extra brings in
    return fake_project


def tolvo(project: FakeProject, *args: str, **env: str) -> tuple[subprocess.CompletedProcess[str], list[str]]:
    """Runs tolvo in the project: its result and the calls it made, the
    interpreter's facts script shown as "-c" alone."""
    project.log.unlink(missing_ok=True)
    result = project.run(*args, **env)
    return result, [re.sub(r" -c .*", " -c", line, flags=re.S) for line in project.lines()]


def site(project: FakeProject) -> Path:
    return project.dir / ".venv" / "lib" / "python3.11" / "site-packages"


def creation(project: FakeProject) -> str:
    return f"python -m venv --system-site-packages --upgrade {project.venv}"


def test_in_sync_starts_pytest_without_any_other_process(project: FakeProject) -> None:
    result, calls = tolvo(project, "test")
    assert result.returncode == 0, result.stderr
    assert calls == [creation(project), UPGRADE, FACTS, TEST_TOOLS, FACTS, PYTEST]
    assert result.stdout.startswith("Creating virtual environment...\nEnsuring pip is installed... up to date\n"
                                    "Upgrading pip...\nInstalling test tools...\n")
    result, calls = tolvo(project, "test", "--", "-k", "name", "-x")
    assert result.returncode == 0, result.stderr
    assert calls == [PYTEST + " -k name -x"]
    assert result.stdout == UP_TO_DATE + "tests ran\n"


def edit(path: Path, old: str, new: str) -> None:
    path.write_text(path.read_text().replace(old, new))


@pytest.mark.parametrize(("change", "expected"), [
    pytest.param(lambda p: p.write("pyproject.toml", PYPROJECT + "# edited\n"), [TEST_TOOLS, FACTS], id="pyproject"),
    pytest.param(lambda p: shutil.rmtree(next(site(p).glob("pytest-*.dist-info"))), [TEST_TOOLS, FACTS],
                 id="dependency"),
    pytest.param(lambda p: edit(site(p) / "demo-1.0.dist-info" / "METADATA", "Version: 1.0", "Version: 0.9"),
                 [TEST_TOOLS, FACTS], id="project-version"),
    pytest.param(lambda p: p.write(".venv/pyvenv.cfg", "home = /elsewhere\nversion = 3.12.1\n"),
                 [UPGRADE, FACTS, TEST_TOOLS, FACTS], id="interpreter"),
    pytest.param(lambda p: (next(site(p).glob("pip-*.dist-info")) / "METADATA").unlink(), [ENSUREPIP, UPGRADE, FACTS],
                 id="pip"),
    # The same bytes in a new file behind .venv/bin/python, pyvenv.cfg untouched: an upgrade in place.
    pytest.param(lambda p: shutil.copy2(p.bin / "python", p.bin / "python.new") and
                 (p.bin / "python.new").replace(p.bin / "python"), [UPGRADE, FACTS, TEST_TOOLS, FACTS],
                 id="interpreter-file"),
])
def test_a_change_makes_pip_run_again(project: FakeProject, change: Callable[[FakeProject], object],
                                      expected: list[str]) -> None:
    assert tolvo(project, "test")[0].returncode == 0
    change(project)
    result, calls = tolvo(project, "test")
    assert result.returncode == 0, result.stderr
    assert calls == [*expected, PYTEST]
    assert tolvo(project, "test")[1] == [PYTEST]


def test_default_mode_runs_every_step_and_writes_nothing(project: FakeProject) -> None:
    result, calls = tolvo(project, "--refresh", "always", "test")
    assert result.returncode == 0, result.stderr
    assert calls == [creation(project), ENSUREPIP, UPGRADE, TEST_TOOLS, PYTEST]
    venv = Path(project.venv)
    assert not any(path.name.startswith("tolvo") for path in venv.iterdir())
    tolvo(project, "test")
    record = {path: path.read_bytes() for path in venv.iterdir() if path.name.startswith("tolvo")}
    assert record
    result, calls = tolvo(project, "--refresh=always", "test")
    assert calls == [ENSUREPIP, UPGRADE, TEST_TOOLS, PYTEST]
    assert "up to date" not in result.stdout
    assert record == {path: path.read_bytes() for path in venv.iterdir() if path.name.startswith("tolvo")}


@pytest.mark.parametrize(("args", "setting", "status", "message"), [
    (["--refresh", "sometimes", "test"], None, 2, "argument --refresh: invalid choice: 'sometimes'"),
    (["test"], '"sometimes"', 1, "tool.tolvo.refresh': unknown refresh mode 'sometimes'"),
    (["status"], "true", 1, "tool.tolvo.refresh"),
])
def test_a_wrong_refresh_value_is_refused(project: FakeProject, args: list[str], setting: str | None, status: int,
                                          message: str) -> None:
    if setting is not None:
        project.write("pyproject.toml", PYPROJECT.replace('"when-needed"', setting))
    result, calls = tolvo(project, *args)
    assert result.returncode == status
    assert message in result.stderr
    assert calls == []


@pytest.mark.parametrize(("args", "install"), [
    (["requirements", "lint"], "--editable . --group lint"),
    (["requirements", "dev", "test", "LINT", "test"], "--editable .[dev,test,test] --group LINT"),
    (["lint"], "--editable .[test,dev] --group lint --group Test"),
])
def test_dependency_groups_join_the_editable_install(project: FakeProject, args: list[str], install: str) -> None:
    result, calls = tolvo(project, "--refresh", "always", *args)
    assert ".venv/bin/pip install --quiet " + install in calls, result.stderr


def test_test_tools_come_from_the_test_group_without_a_test_extra(project: FakeProject) -> None:
    project.write("pyproject.toml", PYPROJECT.replace('test = ["pytest>=8"]\n', ""))
    result, calls = tolvo(project, "test", "tests/unit")
    assert result.returncode == 0, result.stderr
    from_group = ".venv/bin/pip install -e . --group test"
    assert from_group in calls
    assert calls[-1] == ".venv/bin/python -um pytest -vv tests/unit"
    # The group includes lint, whose ruff the fake pip did not install.
    assert from_group in tolvo(project, "test", FAKE_ALSO="ruff")[1]
    assert tolvo(project, "test")[1] == [PYTEST]


def test_an_unknown_name_lists_extras_and_groups(project: FakeProject) -> None:
    result, calls = tolvo(project, "requirements", "docs")
    assert result.returncode == 1
    assert "Unknown extra or dependency group 'docs'. Extras: dev, test. Dependency groups: Test, lint" in result.stderr
    assert calls == []


@pytest.mark.parametrize(("installed", "shown"), [("2.5.dev1", "Project: demo-2.5.dev1"),
                                                  (None, "Project: demo-dynamic")])
def test_status_reports_a_dynamic_version(project: FakeProject, installed: str | None, shown: str) -> None:
    project.write("pyproject.toml", PYPROJECT.replace('version = "1.0"', 'dynamic = ["version"]'))
    if installed:
        assert tolvo(project, "requirements", FAKE_VERSION=installed)[0].returncode == 0
    result, _ = tolvo(project, "status")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[-3] == shown
    project.write("pyproject.toml", PYPROJECT.replace('version = "1.0"\n', ""))
    result, _ = tolvo(project, "status")
    assert result.returncode == 1
    assert "missing key 'version'" in result.stderr


REAL_WHEN_NEEDED = REAL_PYPROJECT + '\n[tool.tolvo]\nrefresh = "when-needed"\n'

OFFLINE = {"PIP_INDEX_URL": "http://127.0.0.1:9/simple", "PIP_RETRIES": "0", "PIP_TIMEOUT": "1"}


@pytest.mark.real
def test_real_pip_in_sync_offline_then_a_changed_dependency(tmp_path: Path) -> None:
    work = make_real_project(tmp_path)
    (work / "pyproject.toml").write_text(REAL_WHEN_NEEDED)
    result = run_tolvo("test", cwd=work, timeout=900)
    assert result.returncode == 0, result.stdout + result.stderr
    offline = dict(os.environ, **OFFLINE)
    result = run_tolvo("test", cwd=work, env=offline, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.startswith(UP_TO_DATE)
    assert "test_answer PASSED" in result.stdout
    (work / "pyproject.toml").write_text(REAL_WHEN_NEEDED.replace('version = "0.1"\n', 'version = "0.1"\n'
                                                                  'dependencies = ["packaging"]\n'))
    result = run_tolvo("test", cwd=work, env=offline, timeout=300)
    # The changed project is installed again: with no index, that fails
    # unless pip finds the build back end elsewhere (find-links, a cache).
    assert "Installing test tools...\n" in result.stdout
    assert result.returncode == 1 or "test_answer PASSED" in result.stdout
