"""The when-needed refresh, dependency groups and pytest arguments, against
a stand-in interpreter and pip that behave enough like the real ones to be
judged: the environment they make has a pyvenv.cfg and a site-packages, pip
writes dist-info folders, and `python -c` reports the interpreter's facts."""

from __future__ import annotations

import os
import stat
from pathlib import Path

import pytest

from conftest import run_tolvo
from test_venv_commands import REAL_PYPROJECT, make_real_project

FAKE = r"""#!/bin/sh
me=$(basename "$0")
if [ "$1" = "-c" ]; then echo "$me -c" >> "$FAKE_LOG"; else
  printf '%s' "$me" >> "$FAKE_LOG"; for a in "$@"; do printf ' %s' "$a" >> "$FAKE_LOG"; done; printf '\n' >> "$FAKE_LOG"
fi
venv=$(cd "$(dirname "$0")/.." && pwd)
site="$venv/lib/python3.11/site-packages"
dist() {  # name version [direct_url.json]; replaces any other version
  rm -rf "$site/$1"-*.dist-info; mkdir -p "$site/$1-$2.dist-info"
  printf 'Metadata-Version: 2.1\nName: %s\nVersion: %s\n\n' "$1" "$2" > "$site/$1-$2.dist-info/METADATA"
  if [ -n "$3" ]; then printf '%s' "$3" > "$site/$1-$2.dist-info/direct_url.json"; fi
}
if [ "$1" = "-m" ] && [ "$2" = "venv" ]; then
  for last in "$@"; do :; done
  mkdir -p "$last/bin" "$last/lib/python3.11/site-packages"; cp "$0" "$last/bin/python"; cp "$0" "$last/bin/pip"
  printf 'home = /fake\nversion = %s\n' "${FAKE_PY_VERSION:-3.11.7}" > "$last/pyvenv.cfg"
  site="$last/lib/python3.11/site-packages"; dist pip 25.2; exit 0
fi
if [ "$1" = "-c" ]; then
  printf 'marker implementation_name cpython\000marker implementation_version 3.11.7\000marker os_name posix\000'
  printf 'marker platform_machine x86_64\000marker platform_python_implementation CPython\000'
  printf 'marker platform_release 6.1\000marker platform_system Linux\000marker platform_version 1\000'
  printf 'marker python_full_version 3.11.7\000marker python_version 3.11\000marker sys_platform linux\000'
  printf 'site %s' "$site"; exit 0
fi
if [ "$me" = "pip" ] && [ "$1" = "install" ]; then
  shift; editable=
  for a in "$@"; do
    case "$a" in
      -e|--editable) editable=1;;
      -*|.|.\[*) ;;
      *) [ -z "$editable" ] && dist "$a" 1.0;;
    esac
  done
  if [ -n "$editable" ]; then
    dist "${FAKE_PROJECT:-demo}" "${FAKE_VERSION:-1.0}" "{\"url\": \"file://$PWD\", \"dir_info\": {\"editable\": true}}"
    for name in $FAKE_ALSO; do dist "$name" 8.0; done
  fi
  exit 0
fi
if [ "$2" = "pytest" ]; then echo "tests ran"; exit 0; fi
exit 0
"""

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


@pytest.fixture
def project(tmp_path: Path) -> dict:
    fakebin = tmp_path / "fakebin"
    fakebin.mkdir()
    (fakebin / "python").write_text(FAKE)
    (fakebin / "python").chmod(stat.S_IRWXU)
    work = tmp_path / "demo"
    work.mkdir()
    (work / "pyproject.toml").write_text(PYPROJECT)
    env = dict(os.environ, PATH=f"{fakebin}:{os.environ['PATH']}", FAKE_LOG=str(tmp_path / "log"), FAKE_ALSO="pytest")
    for name in ("FAKE_PROJECT", "FAKE_VERSION", "FAKE_PY_VERSION"):
        env.pop(name, None)
    return {"dir": work, "env": env, "log": tmp_path / "log", "venv": work.resolve() / ".venv"}


def tolvo(project: dict, *args: str, **env: str):
    """Runs tolvo in the project and returns its result and the calls it made."""
    project["log"].unlink(missing_ok=True)
    result = run_tolvo(*args, cwd=project["dir"], env=dict(project["env"], **env))
    calls = project["log"].read_text().splitlines() if project["log"].exists() else []
    return result, calls


def site(project: dict) -> Path:
    return project["venv"] / "lib" / "python3.11" / "site-packages"


def test_in_sync_starts_pytest_without_any_other_process(project: dict) -> None:
    result, calls = tolvo(project, "test")
    assert result.returncode == 0, result.stderr
    venv = project["venv"]
    assert calls == [f"python -m venv --system-site-packages --upgrade {venv}", "pip install --upgrade pip",
                     "python -c", "pip install -e .[test]", "python -c", "python -um pytest -vv tests/"]
    assert result.stdout.startswith("Creating virtual environment...\nEnsuring pip is installed... up to date\n"
                                    "Upgrading pip...\nInstalling test tools...\n")
    result, calls = tolvo(project, "test", "--", "-k", "name", "-x")
    assert result.returncode == 0, result.stderr
    assert calls == ["python -um pytest -vv tests/ -k name -x"]
    assert result.stdout == UP_TO_DATE + "tests ran\n"


@pytest.mark.parametrize(("change", "expected"), [
    ("pyproject", ["pip install -e .[test]", "python -c"]),
    ("dependency", ["pip install -e .[test]", "python -c"]),
    ("project version", ["pip install -e .[test]", "python -c"]),
    ("interpreter", ["pip install --upgrade pip", "python -c", "pip install -e .[test]", "python -c"]),
    ("pip", ["python -um ensurepip", "pip install --upgrade pip", "python -c"]),
])
def test_a_change_makes_pip_run_again(project: dict, change: str, expected: list[str]) -> None:
    assert tolvo(project, "test")[0].returncode == 0
    if change == "pyproject":
        (project["dir"] / "pyproject.toml").write_text(PYPROJECT + "# edited\n")
    elif change == "dependency":
        for folder in site(project).glob("pytest-*.dist-info"):
            (folder / "METADATA").unlink()
            folder.rmdir()
    elif change == "project version":
        metadata = site(project) / "demo-1.0.dist-info" / "METADATA"
        metadata.write_text(metadata.read_text().replace("Version: 1.0", "Version: 0.9"))
    elif change == "interpreter":
        (project["venv"] / "pyvenv.cfg").write_text("home = /elsewhere\nversion = 3.12.1\n")
    elif change == "pip":
        for folder in site(project).glob("pip-*.dist-info"):
            (folder / "METADATA").unlink()
    result, calls = tolvo(project, "test")
    assert result.returncode == 0, result.stderr
    assert calls == [*expected, "python -um pytest -vv tests/"]
    _, calls = tolvo(project, "test")
    assert calls == ["python -um pytest -vv tests/"]


def test_default_mode_runs_every_step_and_writes_nothing(project: dict) -> None:
    result, calls = tolvo(project, "--refresh", "always", "test")
    assert result.returncode == 0, result.stderr
    venv = project["venv"]
    assert calls == [f"python -m venv --system-site-packages --upgrade {venv}", "python -um ensurepip",
                     "pip install --upgrade pip", "pip install -e .[test]", "python -um pytest -vv tests/"]
    assert not any(path.name.startswith("tolvo") for path in venv.iterdir())
    tolvo(project, "test")
    record = {path: path.read_bytes() for path in venv.iterdir() if path.name.startswith("tolvo")}
    assert record
    result, calls = tolvo(project, "--refresh=always", "test")
    assert calls == ["python -um ensurepip", "pip install --upgrade pip", "pip install -e .[test]",
                     "python -um pytest -vv tests/"]
    assert "up to date" not in result.stdout
    assert record == {path: path.read_bytes() for path in venv.iterdir() if path.name.startswith("tolvo")}


@pytest.mark.parametrize(("args", "setting", "status", "message"), [
    (["--refresh", "sometimes", "test"], None, 2, "argument --refresh: invalid choice: 'sometimes'"),
    (["test"], '"sometimes"', 1, "tool.tolvo.refresh': unknown refresh mode 'sometimes'"),
    (["status"], "true", 1, "tool.tolvo.refresh"),
])
def test_a_wrong_refresh_value_is_refused(project: dict, args: list[str], setting: str | None, status: int,
                                          message: str) -> None:
    if setting is not None:
        (project["dir"] / "pyproject.toml").write_text(PYPROJECT.replace('"when-needed"', setting))
    result, calls = tolvo(project, *args)
    assert result.returncode == status
    assert message in result.stderr
    assert calls == []


@pytest.mark.parametrize(("args", "install"), [
    (["requirements", "lint"], "pip install --quiet --editable . --group lint"),
    (["requirements", "dev", "test", "LINT", "test"], "pip install --quiet --editable .[dev,test,test] --group LINT"),
    (["lint"], "pip install --quiet --editable .[test,dev] --group lint --group Test"),
])
def test_dependency_groups_join_the_editable_install(project: dict, args: list[str], install: str) -> None:
    result, calls = tolvo(project, "--refresh", "always", *args)
    assert install in calls, result.stderr


def test_test_tools_come_from_the_test_group_without_a_test_extra(project: dict) -> None:
    (project["dir"] / "pyproject.toml").write_text(PYPROJECT.replace('test = ["pytest>=8"]\n', ""))
    result, calls = tolvo(project, "test", "tests/unit")
    assert result.returncode == 0, result.stderr
    assert "pip install -e . --group test" in calls
    assert calls[-1] == "python -um pytest -vv tests/unit"
    # The group includes lint, whose ruff the stand-in pip did not install.
    assert "pip install -e . --group test" in tolvo(project, "test", FAKE_ALSO="ruff")[1]
    assert tolvo(project, "test")[1] == ["python -um pytest -vv tests/"]


def test_an_unknown_name_lists_extras_and_groups(project: dict) -> None:
    result, calls = tolvo(project, "requirements", "docs")
    assert result.returncode == 1
    assert "Unknown extra or dependency group 'docs'. Extras: dev, test. Dependency groups: Test, lint" in result.stderr
    assert calls == []


@pytest.mark.parametrize(("version", "installed", "shown"), [
    ('dynamic = ["version"]', "2.5.dev1", "Project: demo-2.5.dev1"),
    ('dynamic = ["version"]', None, "Project: demo-dynamic"),
])
def test_status_reports_a_dynamic_version(project: dict, version: str, installed: str | None, shown: str) -> None:
    (project["dir"] / "pyproject.toml").write_text(PYPROJECT.replace('version = "1.0"', version))
    if installed:
        assert tolvo(project, "requirements", FAKE_VERSION=installed)[0].returncode == 0
    result, _ = tolvo(project, "status")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[-3] == shown
    (project["dir"] / "pyproject.toml").write_text(PYPROJECT.replace('version = "1.0"\n', ""))
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
