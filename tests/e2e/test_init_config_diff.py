"""init on and off a terminal, and config-diff on prepared projects."""

from __future__ import annotations

import subprocess
import sys
import tomllib
from pathlib import Path

import pytest
import yaml

from conftest import Outcome, run_on_pty, run_tolvo

ALL_PROMPTS = ["Project name: ", "Description: ", "Author name: ", "Author email: ",
               "License spdx identifier: "]


def init_on_pty(*options: str, cwd: Path, answers: list[str]) -> Outcome:
    """Runs init with standard input on a pseudo-terminal where `answers`
    were typed, one line each; its output is captured."""
    return run_on_pty(["init", *options], cwd, typed="".join(answer + "\n" for answer in answers),
                      stdout_on_pty=False)


def tree(root: Path) -> list[str]:
    return sorted(str(p.relative_to(root)) for p in root.rglob("*"))


def init_project(root: Path, name: str = "demo_pkg") -> None:
    result = init_on_pty("--name", name, "--description", "A demo", "--author-name", "Ann Author",
                         "--author-email", "ann@example.org", cwd=root, answers=["MIT"])
    assert result.returncode == 0, result.err


@pytest.mark.usefixtures("tolvo_bin")
class TestInit:
    @pytest.mark.parametrize(
        ("options", "answers", "prompts", "package", "values"),
        [(["--name", "demo", "--author-email", "a@example.org"], ["My description", "Ann", "MIT"],
          [ALL_PROMPTS[1], ALL_PROMPTS[2], ALL_PROMPTS[4]], "demo",
          ['name = "demo"', 'description = "My description"', '"Ann"', '"a@example.org"', 'license = "MIT"',
           'requires-python = ">=3.11"']),
         # The dash is kept: the directory is named exactly as typed.
         ([], ["my-project", "D", "Ann", "a@example.org", "MIT"], ALL_PROMPTS, "my-project",
          ['name = "my-project"']),
         # An empty option counts as not given; an empty answer is kept.
         (["--name", "", "--description", ""], ["demo", "", "Ann", "a@example.org", "MIT"], ALL_PROMPTS, "demo",
          ['description = ""'])],
    )
    def test_prompts_only_for_values_no_option_gives(self, tmp_path: Path, options: list[str], answers: list[str],
                                                     prompts: list[str], package: str, values: list[str]) -> None:
        result = init_on_pty(*options, cwd=tmp_path, answers=answers)
        assert result.returncode == 0, result.err
        assert result.out == "".join(prompts)
        pyproject = (tmp_path / "pyproject.toml").read_text()
        for value in values:
            assert value in pyproject
        assert (tmp_path / package / "__init__.py").read_bytes() == b""
        assert package in (tmp_path / ".github" / "workflows" / "build.yml").read_text()

    @pytest.mark.parametrize("name", ["", "/tmp/absolute-demo", "..", "../outside", "a/../b",
                                      "a/..", 'A "Quoted" Name', "it's"])
    def test_unsafe_project_name_is_refused_before_writing(self, tmp_path: Path,
                                                           name: str) -> None:
        work = tmp_path / "work"
        work.mkdir()
        result = init_on_pty(cwd=work, answers=[name, "D", "Ann", "a@example.org", "MIT"])
        assert result.returncode == 1
        assert "project name" in result.err
        assert tree(tmp_path) == ["work"]
        assert not Path("/tmp/absolute-demo").exists()

    def test_values_read_back_as_typed(self, tmp_path: Path) -> None:
        name = "a: b #c"
        typed = {"description": 'C:\\temp "x"\nrequires-python = "<3"\n[injected]',
                 "author_name": 'A "Quoted" Name', "author_email": "a\\b@example.org"}
        result = init_on_pty("--name", name, "--description", typed["description"], "--author-name",
                             typed["author_name"], "--author-email", typed["author_email"], cwd=tmp_path,
                             answers=["MIT"])
        assert result.returncode == 0, result.err
        project = tomllib.loads((tmp_path / "pyproject.toml").read_text())["project"]
        assert (project["name"], project["description"], project["requires-python"]) == (
            name, typed["description"], ">=3.11")
        assert project["authors"] == [{"name": typed["author_name"], "email": typed["author_email"]}]
        workflow = yaml.safe_load((tmp_path / ".github" / "workflows" / "build.yml").read_text())
        assert workflow["jobs"]["build"]["name"] == f"Test, lint and build {name}"
        assert workflow["jobs"]["build"]["steps"][-1]["with"]["name"] == f"{name}-dist"
        assert run_tolvo("config-diff", cwd=tmp_path).returncode == 0

    @pytest.mark.parametrize("license_value", ['Apache-2.0 OR "MIT"', None])
    def test_all_five_options_need_no_terminal(self, tmp_path: Path, license_value: str | None) -> None:
        options = ["--name", "my-pkg", "--description", "D", "--author-name", "Ann", "--author-email", "a@example.org"]
        if license_value is not None:
            options += ["--license", license_value]
        result = run_tolvo("init", *options, cwd=tmp_path)
        if license_value is None:
            # Without a terminal a missing value still ends with the usage line, writing nothing.
            assert (result.returncode, tree(tmp_path)) == (1, [])
            assert result.stdout.startswith("usage: tolvo")
            return
        assert result.returncode == 0, result.stderr
        assert (result.stdout, result.stderr) == ("", "")
        assert tree(tmp_path) == [".github", ".github/workflows", ".github/workflows/build.yml", "my-pkg",
                                  "my-pkg/__init__.py", "pyproject.toml", "tests", "tests/test_my_pkg.py"]
        pyproject = tomllib.loads((tmp_path / "pyproject.toml").read_text())
        assert pyproject["project"]["license"] == license_value
        assert pyproject["tool"]["tolvo"] == {"refresh": "when-needed", "system-site-packages": False}
        # The first test imports the package by its name, dash and all.
        assert 'importlib.import_module("my-pkg")' in (tmp_path / "tests" / "test_my_pkg.py").read_text()

    def test_nested_name_gives_nested_directories(self, tmp_path: Path) -> None:
        init_project(tmp_path, "org/pkg")
        assert (tmp_path / "org" / "pkg" / "__init__.py").is_file()

    def test_second_run_changes_nothing(self, tmp_path: Path) -> None:
        init_project(tmp_path)
        before = {p: (p.read_bytes(), p.stat().st_mtime_ns)
                  for p in tmp_path.rglob("*") if p.is_file()}
        result = init_on_pty("--name", "demo_pkg", cwd=tmp_path,
                             answers=["Other", "Bob", "b@example.org", "GPL-3.0-only"])
        assert result.returncode == 0, result.err
        after = {p: (p.read_bytes(), p.stat().st_mtime_ns)
                 for p in tmp_path.rglob("*") if p.is_file()}
        assert after == before

    def test_existing_pyproject_is_kept_and_the_rest_added(self, tmp_path: Path) -> None:
        (tmp_path / "pyproject.toml").write_bytes(b"not even toml {\n")
        # A project with tests of its own gets no first test.
        (tmp_path / "tests").mkdir()
        init_project(tmp_path)
        assert (tmp_path / "pyproject.toml").read_bytes() == b"not even toml {\n"
        assert list((tmp_path / "tests").iterdir()) == []
        assert (tmp_path / "demo_pkg" / "__init__.py").is_file()
        assert (tmp_path / ".github" / "workflows" / "build.yml").is_file()


TEST_EXTRA = '[project.optional-dependencies]\ntest = ["pytest>=8"]'
RUFF_EXCLUDE = 'exclude = [".venv", ".git", "build", "dist", "wheelhouse", "*.egg-info"]'
NO_REQUIRES_PYTHON = "Error: 'pyproject.toml' does not specify a 'requires-python' value."


@pytest.mark.usefixtures("tolvo_bin")
class TestConfigDiff:
    @pytest.mark.parametrize(
        ("edits", "where", "status", "lines"),
        [([], ".", 0, []),
         # Errors and differences count alike.
         ([('requires-python = ">=3.11"\n', ""), (RUFF_EXCLUDE, 'exclude = ["build"]')], ".", 2,
          [NO_REQUIRES_PYTHON,
           "tool.ruff.exclude: expected ['.venv', '.git', 'build', 'dist', 'wheelhouse', '*.egg-info'], "
           "got ['build']"]),
         # From a subdirectory: pyproject.toml is found in a parent.
         ([('test = ["pytest>=8"]', 'dev = ["pytest>=8"]'),
           ('requires = ["setuptools>=77"]', 'requires = ["flit_core"]'),
           ('build-backend = "setuptools.build_meta"', 'build-backend = "flit_core.buildapi"')], "demo_pkg", 1,
          ["Error: 'test' optional dependency group is missing.",
           "build-system.requires: missing coverage for setuptools>=77",
           "build-system.build-backend: expected setuptools.build_meta, got flit_core.buildapi"]),
         ([('test = ["pytest>=8"]', "test = [\"pytest; sys_platform == 'linux'\"]")], ".", 1,
          ["Error: pytest is not installed in the 'test' extras group."]),
         # The tests' dependencies as a dependency group, pytest through an include, as flit
         # and hatchling projects declare them.
         ([(TEST_EXTRA, '[dependency-groups]\ntest = [{include-group = "tools"}, "coverage"]\ntools = ["pytest"]')],
          ".", 0, []),
         ([(TEST_EXTRA, '[dependency-groups]\ntest = ["coverage"]')], ".", 1,
          ["Error: pytest is not installed in the 'test' dependency group."])],
        ids=["fresh-scaffold", "two-differences", "missing-test-group", "pytest-only-on-linux", "test-dependency-group",
             "dependency-group-without-pytest"],
    )
    def test_edited_scaffold(self, tmp_path: Path, edits: list[tuple[str, str]], where: str, status: int,
                             lines: list[str]) -> None:
        init_project(tmp_path)
        pyproject = tmp_path / "pyproject.toml"
        text = pyproject.read_text()
        for old, new in edits:
            assert old in text, old
            text = text.replace(old, new)
        pyproject.write_text(text)
        result = run_tolvo("config-diff", cwd=tmp_path / where)
        assert (result.returncode, result.stdout.splitlines()) == (status, lines)

    def test_no_tool_table_is_an_error_after_earlier_lines(self, tmp_path: Path) -> None:
        (tmp_path / "pyproject.toml").write_text(
            '[project]\nname = "p"\nversion = "1"\n'
            '[build-system]\nrequires = ["setuptools>=77"]\nbuild-backend = "other"\n')
        result = run_tolvo("config-diff", cwd=tmp_path)
        assert result.returncode == 1
        assert result.stdout.splitlines() == [
            NO_REQUIRES_PYTHON, "build-system.build-backend: expected setuptools.build_meta, got other"]
        assert "tool" in result.stderr


@pytest.mark.real
@pytest.mark.usefixtures("tolvo_bin")
def test_scaffold_builds_and_validates(tmp_path: Path) -> None:
    init_project(tmp_path)
    # The tools run as modules of this interpreter, where tests/requirements.txt
    # installs them, whatever PATH holds; from the project, since a "build"
    # directory in the working directory would hide the build package.
    checks = [
        [sys.executable, "-m", "build", "--outdir", str(tmp_path / "dist"), str(tmp_path)],
        [sys.executable, "-m", "validate_pyproject", str(tmp_path / "pyproject.toml")],
        [sys.executable, "-m", "check_jsonschema", "--builtin-schema", "vendor.github-workflows",
         str(tmp_path / ".github" / "workflows" / "build.yml")],
    ]
    for check in checks:
        result = subprocess.run(check, cwd=tmp_path, capture_output=True, text=True, timeout=600)
        assert result.returncode == 0, result.stdout + result.stderr
    assert sorted(p.name for p in (tmp_path / "dist").iterdir()) == [
        "demo_pkg-0.1.0-py3-none-any.whl", "demo_pkg-0.1.0.tar.gz"]
    result = run_tolvo("config-diff", cwd=tmp_path)
    assert (result.returncode, result.stdout) == (0, "")
