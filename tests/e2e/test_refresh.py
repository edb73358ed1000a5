"""The when-needed refresh, dependency groups and pytest arguments, against
the fake interpreter and pip, which keep an environment's pyvenv.cfg and
dist-info folders as the real ones do and answer tolvo's questions about
the interpreter (fakes/fakeenv.py)."""

from __future__ import annotations

import os
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path
from typing import Callable

import pytest

from conftest import TOLVO, FakeProject, run_tolvo
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
UPGRADE = ".venv/bin/python -m pip install --upgrade pip"
FACTS = ".venv/bin/python -c"
TEST_TOOLS = ".venv/bin/python -m pip install -e .[test]"
PYTEST = ".venv/bin/python -um pytest -vv tests/"


# Time stamps tell an edit only once their clock has moved on: tolvo records
# no fingerprint of a file changed less than a tick before its walk.
SETTLE = 0.06
SPEEDUPS = "src/demo/_speedups.c"


@pytest.fixture
def project(fake_project: FakeProject) -> FakeProject:
    fake_project.env["FAKE_ALSO"] = "pytest"  # what the test extra brings in
    fake_project.write("tests/test_demo.py", "def test_demo():\n    pass\n")
    fake_project.env["HOME"] = str(fake_project.root / "home")
    fake_project.write(SPEEDUPS, "int speed(void) { return 1; }\n")
    time.sleep(SETTLE)
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


def failed_install_after_an_edit(project: FakeProject) -> None:
    edit(project.dir / SPEEDUPS, "return 1", "return 2")
    result = project.run("test", FAKE_TEST_TOOLS_RC="1")
    assert result.returncode == 1, result.stderr


def interrupted_install_after_an_edit(project: FakeProject) -> None:
    edit(project.dir / SPEEDUPS, "return 1", "return 2")
    proc = subprocess.Popen([str(TOLVO), "test"], cwd=project.dir, env={**project.env, "FAKE_TEST_TOOLS_HANG": "1"},
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    while not any(call.hang for call in project.calls()) and time.monotonic() < deadline:
        time.sleep(0.05)
    proc.send_signal(signal.SIGTERM)
    assert proc.wait(timeout=60) == 143


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
    pytest.param(lambda p: edit(p.dir / SPEEDUPS, "return 1", "return 2"), [TEST_TOOLS, FACTS], id="native-source"),
    pytest.param(lambda p: p.write("src/demo/_speedups.h", "int speed(void);\n"), [TEST_TOOLS, FACTS],
                 id="native-header"),
    pytest.param(lambda p: p.env.update(PYTHONPATH=str(p.root)), [UPGRADE, FACTS, TEST_TOOLS, FACTS], id="pythonpath"),
    pytest.param(lambda p: (p.root / "home" / ".local" / "lib" / "python3.11" / "site-packages").mkdir(parents=True),
                 [TEST_TOOLS, FACTS], id="user-site"),
    pytest.param(failed_install_after_an_edit, [TEST_TOOLS, FACTS], id="failed-install"),
    pytest.param(interrupted_install_after_an_edit, [TEST_TOOLS, FACTS], id="interrupted-install"),
    # The same bytes in a new file behind .venv/bin/python, pyvenv.cfg untouched: an upgrade in place.
    pytest.param(lambda p: shutil.copy2(p.bin / "python", p.bin / "python.new") and
                 (p.bin / "python.new").replace(p.bin / "python"), [UPGRADE, FACTS, TEST_TOOLS, FACTS],
                 id="interpreter-file"),
])
def test_a_change_makes_pip_run_again(project: FakeProject, change: Callable[[FakeProject], object],
                                      expected: list[str]) -> None:
    assert tolvo(project, "test")[0].returncode == 0
    change(project)
    time.sleep(SETTLE)
    result, calls = tolvo(project, "test")
    assert result.returncode == 0, result.stderr
    assert calls == [*expected, PYTEST]
    assert tolvo(project, "test")[1] == [PYTEST]


def test_default_mode_runs_every_step_and_writes_nothing(project: FakeProject) -> None:
    result, calls = tolvo(project, "--refresh", "always", "test")
    assert result.returncode == 0, result.stderr
    assert calls == [creation(project), ENSUREPIP, UPGRADE, TEST_TOOLS, PYTEST]
    venv = Path(project.venv)
    assert not any(path.name.startswith("tolvo-refresh-record") for path in venv.iterdir())
    tolvo(project, "test")
    record = {path: path.read_bytes() for path in venv.iterdir() if path.name.startswith("tolvo-refresh-record")}
    assert record
    result, calls = tolvo(project, "--refresh=always", "test")
    assert calls == [ENSUREPIP, UPGRADE, TEST_TOOLS, PYTEST]
    assert "up to date" not in result.stdout
    assert record == {path: path.read_bytes() for path in venv.iterdir() if path.name.startswith("tolvo-refresh-record")}


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
    assert ".venv/bin/python -m pip install --quiet " + install in calls, result.stderr


def test_test_tools_come_from_the_test_group_without_a_test_extra(project: FakeProject) -> None:
    project.write("pyproject.toml", PYPROJECT.replace('test = ["pytest>=8"]\n', ""))
    result, calls = tolvo(project, "test", "tests/unit")
    assert result.returncode == 0, result.stderr
    from_group = ".venv/bin/python -m pip install -e . --group test"
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


NATIVE_PYPROJECT = """[build-system]
requires = ["setuptools>=64"]
build-backend = "setuptools.build_meta"

[project]
name = "speedy"
version = "0.3"
[project.optional-dependencies]
test = ["pytest"]

[tool.setuptools]
package-dir = {"" = "src"}
packages = ["speedy"]

[tool.tolvo]
refresh = "when-needed"
"""

NATIVE_SETUP = """from setuptools import Extension, setup

setup(ext_modules=[Extension("speedy._native", ["src/speedy/_native.c"])])
"""

NATIVE_SOURCE = """#include <Python.h>

static PyObject *value(PyObject *self, PyObject *args) { return PyLong_FromLong(1); }

static PyMethodDef methods[] = {{"value", value, METH_NOARGS, NULL}, {NULL, NULL, 0, NULL}};
static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "_native", NULL, -1, methods};

PyMODINIT_FUNC PyInit__native(void) { return PyModule_Create(&module); }
"""


@pytest.mark.real
def test_real_editable_c_extension_is_rebuilt_when_its_source_changes(tmp_path: Path) -> None:
    if shutil.which("python") is None or shutil.which("gcc") is None:
        pytest.skip("needs 'python' and gcc on PATH")
    work = tmp_path / "speedy"
    (work / "src" / "speedy").mkdir(parents=True)
    (work / "src" / "speedy" / "__init__.py").write_text("")
    (work / "src" / "speedy" / "_native.c").write_text(NATIVE_SOURCE)
    (work / "tests").mkdir()
    (work / "tests" / "test_native.py").write_text(
        "import os\n\nfrom speedy import _native\n\n\ndef test_value():\n"
        "    assert _native.value() == int(os.environ['EXPECTED'])\n")
    (work / "setup.py").write_text(NATIVE_SETUP)
    (work / "pyproject.toml").write_text(NATIVE_PYPROJECT)
    result = run_tolvo("test", cwd=work, env=dict(os.environ, EXPECTED="1"), timeout=900)
    assert result.returncode == 0, result.stdout + result.stderr
    source = work / "src" / "speedy" / "_native.c"
    source.write_text(NATIVE_SOURCE.replace("PyLong_FromLong(1)", "PyLong_FromLong(2)"))
    time.sleep(SETTLE)
    result = run_tolvo("test", cwd=work, env=dict(os.environ, EXPECTED="2"), timeout=900)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Installing test tools...\n" in result.stdout
    # The rebuild touched nothing the judgement looks at: in sync again.
    result = run_tolvo("test", cwd=work, env=dict(os.environ, EXPECTED="2"), timeout=900)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.startswith(UP_TO_DATE)


SCM_PYPROJECT = """[build-system]
requires = ["setuptools>=64", "setuptools-scm>=8"]
build-backend = "setuptools.build_meta"

[project]
name = "scmproj"
dynamic = ["version"]
dependencies = []
[project.optional-dependencies]
test = ["pytest"]

[tool.setuptools]
packages = ["scmproj"]

[tool.setuptools_scm]

[tool.tolvo]
refresh = "when-needed"
"""


@pytest.mark.real
def test_real_version_from_git_follows_head(tmp_path: Path) -> None:
    if shutil.which("python") is None or shutil.which("git") is None:
        pytest.skip("needs 'python' and git on PATH")
    work = tmp_path / "scmproj"
    (work / "scmproj").mkdir(parents=True)
    (work / "scmproj" / "__init__.py").write_text("")
    (work / "tests").mkdir()
    # What the installed metadata says, as the tests see it.
    (work / "tests" / "test_version.py").write_text(
        "from importlib.metadata import version\nfrom pathlib import Path\n\n\ndef test_version():\n"
        "    Path('seen').write_text(version('scmproj'))\n")
    (work / ".gitignore").write_text(".venv/\nbuild/\n*.egg-info/\n__pycache__/\nseen\n")
    (work / "pyproject.toml").write_text(SCM_PYPROJECT)

    def git(*args: str) -> str:
        return subprocess.run(["git", "-c", "user.name=t", "-c", "user.email=t@example.invalid", *args], cwd=work,
                              check=True, capture_output=True, text=True).stdout.strip()

    def test_run() -> tuple[str, str]:
        result = run_tolvo("test", cwd=work, timeout=900)
        assert result.returncode == 0, result.stdout + result.stderr
        return result.stdout, (work / "seen").read_text()

    git("init", "-q", "-b", "main")
    git("add", ".")
    git("commit", "-q", "-m", "one")
    _, seen = test_run()
    assert "+g" + git("rev-parse", "--short", "HEAD") in seen
    git("pack-refs", "--all")  # the branch is now a packed ref, HEAD unchanged
    out, seen_again = test_run()
    assert out.startswith(UP_TO_DATE)
    assert seen_again == seen
    git("commit", "-q", "--allow-empty", "-m", "two")
    out, seen = test_run()
    assert "Installing test tools...\n" in out
    assert "+g" + git("rev-parse", "--short", "HEAD") in seen


@pytest.mark.parametrize(("settings", "source"), [
    ('[tool.hatch.version]\npath = "src/demo/__about__.py"\n', "src/demo/__about__.py"),
    ('[tool.setuptools.dynamic]\nversion = {attr = "demo.__version__"}\n', "src/demo/__init__.py"),
])
def test_a_dynamic_version_follows_the_file_it_is_read_from(project: FakeProject, settings: str, source: str) -> None:
    project.write("pyproject.toml", PYPROJECT.replace('version = "1.0"', 'dynamic = ["version"]') + settings)
    project.write(source, '__version__ = "1.0"\n')
    project.write("README.md", "# demo\n")
    assert tolvo(project, "test")[0].returncode == 0
    project.write("README.md", "# demo, described\n")
    assert tolvo(project, "test")[1] == [PYTEST]
    project.write(source, '__version__ = "1.1"\n')
    assert tolvo(project, "test")[1] == [TEST_TOOLS, FACTS, PYTEST]
