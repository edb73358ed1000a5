"""test on projects laid out as published ones are: test tools in a test
extra, in a tests, testing or dev dependency group, or where test-groups
says; tests in tests/ or in testing/ named by pytest's own testpaths; and
the isolated environment of system-site-packages = false. Against the fake
interpreter and pip, and, for what pytest collects, against the host's
real pytest."""

from __future__ import annotations

import os
import re
import subprocess
import sys

import pytest

from conftest import FakeProject

HEAD = '[project]\nname = "demo"\nversion = "1.0"\ndependencies = []\n'
WHEN_NEEDED = '[tool.tolvo]\nrefresh = "when-needed"\n'
TESTPATHS = '[tool.pytest.ini_options]\ntestpaths = ["testing"]\n'
A_TEST = "def test_it():\n    pass\n"
PYTEST = ".venv/bin/python -um pytest -vv"
UPGRADE = ".venv/bin/python -m pip install --upgrade pip"
FACTS = ".venv/bin/python -c"


def calls_of(project: FakeProject, *args: str, **env: str) -> list[str]:
    """The calls of one run, which must succeed, the facts script shown as "-c"."""
    project.log.unlink(missing_ok=True)
    result = project.run(*args, **env)
    assert result.returncode == 0, result.stderr
    return [re.sub(r" -c .*", " -c", line, flags=re.S) for line in project.lines()]


# Each row: the project's files, the install of its test tools, where pytest
# looks, and whether the next run finds them all installed (the refresh
# judges exactly what was installed).
LAYOUTS = [
    pytest.param({"pyproject.toml": HEAD + '[project.optional-dependencies]\ntest = ["pytest>=8"]\n'
                  '[dependency-groups]\ntests = ["pytest"]\n' + WHEN_NEEDED, "tests/test_demo.py": A_TEST},
                 "-e .[test]", " tests/", True, id="test-extra"),
    pytest.param({"pyproject.toml": HEAD + '[dependency-groups]\ndev = ["ruff"]\ntests = ["pytest>=8"]\n' + TESTPATHS
                  + WHEN_NEEDED, "testing/test_demo.py": A_TEST},
                 "-e . --group tests", "", True, id="tests-group-testpaths"),
    pytest.param({"pyproject.toml": HEAD + '[dependency-groups]\ntesting = ["pytest"]\n' + WHEN_NEEDED,
                  "tox.ini": "[pytest]\ntestpaths = testing\n", "testing/test_demo.py": A_TEST},
                 "-e . --group testing", "", True, id="testing-group-tox-ini"),
    pytest.param({"pyproject.toml": HEAD + '[dependency-groups]\ndocs = ["sphinx"]\ndev = ["pytest"]\n' + WHEN_NEEDED,
                  "tests/test_demo.py": A_TEST},
                 "-e . --group dev", " tests/", True, id="dev-group"),
    pytest.param({"pyproject.toml": HEAD + '[project.optional-dependencies]\ntest = ["nose"]\ncov = ["pytest-cov"]\n'
                  '[dependency-groups]\ntests = ["pytest"]\n' + WHEN_NEEDED + 'test-groups = ["cov", "tests"]\n',
                  "tests/test_demo.py": A_TEST},
                 "-e .[cov] --group tests", " tests/", True, id="test-groups-setting"),
    # The group asks for more than the install brought: judged as installed, not as named.
    pytest.param({"pyproject.toml": HEAD + '[dependency-groups]\ntests = ["pytest", "hypothesis"]\n' + WHEN_NEEDED,
                  "tests/test_demo.py": A_TEST},
                 "-e . --group tests", " tests/", False, id="group-not-satisfied"),
    pytest.param({"pyproject.toml": HEAD + WHEN_NEEDED, "tests/test_demo.py": A_TEST},
                 "-e .[test]", " tests/", False, id="nothing-declared"),
    pytest.param({"setup.py": "from setuptools import setup\nsetup()\n", "testing/test_demo.py": A_TEST},
                 "-e .[test]", "", False, id="setup-py-only"),
    pytest.param({"setup.py": "from setuptools import setup\nsetup()\n", "tests/test_demo.py": A_TEST,
                  "pyproject.toml": '[build-system]\nrequires = ["setuptools"]\n'},
                 "-e .[test]", " tests/", False, id="setup-py-with-build-system"),
]


@pytest.mark.parametrize(("files", "install", "where", "in_sync"), LAYOUTS)
def test_test_tools_and_paths_as_the_project_declares_them(fake_project: FakeProject, files: dict[str, str],
                                                           install: str, where: str, in_sync: bool) -> None:
    for name, text in files.items():
        fake_project.write(name, text)
    also = {"FAKE_ALSO": "pytest pytest-cov"}
    calls = calls_of(fake_project, "test", **also)
    assert [call for call in calls if " -e " in call] == [f".venv/bin/python -m pip install {install}"]
    assert calls[-1] == PYTEST + where
    again = calls_of(fake_project, "test", **also)
    assert (again == [PYTEST + where]) == in_sync, again


ISOLATED = HEAD + '[dependency-groups]\ntests = ["pytest"]\n' + WHEN_NEEDED + "system-site-packages = false\n"
TEST_TOOLS = ".venv/bin/python -m pip install -e . --group tests"


def system_site(project: FakeProject) -> list[str]:
    return [line for line in (project.dir / ".venv" / "pyvenv.cfg").read_text().splitlines()
            if line.startswith("include-system-site-packages")]


def test_system_site_packages_setting_makes_and_changes_the_environment(fake_project: FakeProject) -> None:
    fake_project.env["FAKE_ALSO"] = "pytest"
    fake_project.write("tests/test_demo.py", A_TEST)
    fake_project.write("pyproject.toml", ISOLATED)
    assert calls_of(fake_project, "test")[0] == f"python -m venv --upgrade {fake_project.venv}"
    assert system_site(fake_project) == ["include-system-site-packages = false"]
    assert calls_of(fake_project, "test") == [PYTEST + " tests/"]
    # Back to the default: the environment follows, and nothing judged of
    # it under the old setting counts (pip is upgraded again, which an edit
    # of pyproject.toml alone does not bring about).
    fake_project.write("pyproject.toml", ISOLATED.replace("system-site-packages = false\n", ""))
    assert calls_of(fake_project, "test") == [UPGRADE, FACTS, TEST_TOOLS, FACTS, PYTEST + " tests/"]
    assert system_site(fake_project) == ["include-system-site-packages = true"]
    assert calls_of(fake_project, "test") == [PYTEST + " tests/"]
    fake_project.write("pyproject.toml", ISOLATED)
    assert calls_of(fake_project, "test") == [UPGRADE, FACTS, TEST_TOOLS, FACTS, PYTEST + " tests/"]
    assert system_site(fake_project) == ["include-system-site-packages = false"]


# Where published projects name their tests in pytest's own configuration;
# a stray test file outside testing/ shows that the configuration was read.
PYTEST_CONFIGS = [
    pytest.param("pyproject.toml", HEAD + '[dependency-groups]\ntests = ["pytest"]\n' + TESTPATHS, id="pyproject"),
    pytest.param("tox.ini", "[tox]\nenv_list = py3\n[pytest]\ntestpaths = testing\n", id="tox-ini"),
]


@pytest.mark.real
@pytest.mark.parametrize(("config", "text"), PYTEST_CONFIGS)
def test_real_pytest_collects_the_configured_tests_from_the_arguments_given(fake_project: FakeProject, config: str,
                                                                            text: str) -> None:
    fake_project.write("pyproject.toml", HEAD + '[dependency-groups]\ntests = ["pytest"]\n')
    fake_project.write(config, text)
    fake_project.write("demo/__init__.py")
    fake_project.write("testing/test_parser.py", "def test_parse():\n    pass\n\n\ndef test_reject():\n    pass\n")
    fake_project.write("tools/test_release.py", "def test_stray():\n    raise AssertionError\n")
    result = fake_project.run("test")
    assert result.returncode == 0, result.stderr
    argv = next(call.argv for call in fake_project.calls() if call.role == "pytest")
    assert argv[1:4] == ["-um", "pytest", "-vv"]
    env = {name: value for name, value in os.environ.items() if not name.startswith("PYTEST_")}
    collected = subprocess.run([sys.executable, "-m", "pytest", "-p", "no:cacheprovider", "--collect-only", "-q",
                                *argv[4:]], cwd=fake_project.dir, env=env, capture_output=True, text=True,
                               timeout=120)
    assert collected.returncode == 0, collected.stdout + collected.stderr
    assert [line for line in collected.stdout.splitlines() if "::" in line] == [
        "testing/test_parser.py::test_parse", "testing/test_parser.py::test_reject"]
