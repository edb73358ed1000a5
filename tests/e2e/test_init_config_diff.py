"""init on and off a terminal, and config-diff on prepared projects."""

from __future__ import annotations

import os
import pty
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest
import yaml

from conftest import TOLVO, run_tolvo

ALL_PROMPTS = ["Project name: ", "Description: ", "Author name: ", "Author email: ",
               "License spdx identifier: "]


def run_on_pty(*args: str, cwd: Path, answers: list[str], end_input: bool = False,
               timeout: float = 30) -> subprocess.CompletedProcess[str]:
    """Runs tolvo with standard input on a pseudo-terminal fed `answers`, one line
    each (then end of input when asked); standard output and error are captured."""
    master, slave = pty.openpty()
    try:
        proc = subprocess.Popen([str(TOLVO), *args], cwd=cwd, stdin=slave,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        os.close(slave)
        slave = -1
        # The terminal keeps the typed lines until the program reads them.
        for answer in answers:
            os.write(master, (answer + "\n").encode())
        if end_input:
            os.write(master, b"\x04")
        out, err = proc.communicate(timeout=timeout)
    finally:
        if slave >= 0:
            os.close(slave)
        os.close(master)
    return subprocess.CompletedProcess(proc.args, proc.returncode, out, err)


def tree(root: Path) -> list[str]:
    return sorted(str(p.relative_to(root)) for p in root.rglob("*"))


def init_project(root: Path, name: str = "demo_pkg") -> None:
    result = run_on_pty("init", "--name", name, "--description", "A demo", "--author-name",
                        "Ann Author", "--author-email", "ann@example.org", cwd=root,
                        answers=["MIT"])
    assert result.returncode == 0, result.stderr


@pytest.mark.usefixtures("tolvo_bin")
class TestInit:
    def test_prompts_only_for_values_no_option_gives(self, tmp_path: Path) -> None:
        result = run_on_pty("init", "--name", "demo", "--author-email", "a@example.org",
                            cwd=tmp_path, answers=["My description", "Ann", "MIT"])
        assert result.returncode == 0, result.stderr
        assert result.stdout == "Description: Author name: License spdx identifier: "
        pyproject = (tmp_path / "pyproject.toml").read_text()
        for value in ['name = "demo"', 'description = "My description"', '"Ann"',
                      '"a@example.org"', 'license = "MIT"', 'requires-python = ">=3.11"']:
            assert value in pyproject
        assert (tmp_path / "demo" / "__init__.py").read_bytes() == b""
        assert "demo" in (tmp_path / ".github" / "workflows" / "build.yml").read_text()

    def test_every_prompt_in_order_with_no_options(self, tmp_path: Path) -> None:
        result = run_on_pty("init", cwd=tmp_path,
                            answers=["my-project", "D", "Ann", "a@example.org", "MIT"])
        assert result.returncode == 0, result.stderr
        assert result.stdout == "".join(ALL_PROMPTS)
        # The dash is kept: the directory is named exactly as typed.
        assert (tmp_path / "my-project" / "__init__.py").is_file()

    def test_empty_option_counts_as_not_given_and_empty_answer_is_kept(
            self, tmp_path: Path) -> None:
        result = run_on_pty("init", "--name", "", "--description", "", cwd=tmp_path,
                            answers=["demo", "", "Ann", "a@example.org", "MIT"])
        assert result.returncode == 0, result.stderr
        assert result.stdout == "".join(ALL_PROMPTS)
        assert 'description = ""' in (tmp_path / "pyproject.toml").read_text()

    def test_without_terminal_prints_usage_and_writes_nothing(self, tmp_path: Path) -> None:
        result = run_tolvo("init", "--name", "demo", "--description", "D", "--author-name",
                           "Ann", "--author-email", "a@example.org", cwd=tmp_path)
        assert result.returncode == 1
        assert result.stdout.startswith("usage:")
        assert result.stdout.endswith("\n") and result.stdout.count("\n") >= 1
        assert tree(tmp_path) == []

    def test_end_of_input_at_prompt_is_an_error(self, tmp_path: Path) -> None:
        result = run_on_pty("init", cwd=tmp_path, answers=["demo", "D"], end_input=True)
        assert result.returncode == 1
        assert "tolvo: error:" in result.stderr
        assert tree(tmp_path) == []

    @pytest.mark.parametrize("name", ["", "/tmp/absolute-demo", "..", "../outside", "a/../b",
                                      "a/..", 'A "Quoted" Name', "it's"])
    def test_unsafe_project_name_is_refused_before_writing(self, tmp_path: Path,
                                                           name: str) -> None:
        work = tmp_path / "work"
        work.mkdir()
        result = run_on_pty("init", cwd=work, answers=[name, "D", "Ann", "a@example.org", "MIT"])
        assert result.returncode == 1
        assert "project name" in result.stderr
        assert tree(tmp_path) == ["work"]
        assert not Path("/tmp/absolute-demo").exists()

    def test_values_read_back_as_typed(self, tmp_path: Path) -> None:
        name = "a: b #c"
        typed = {"description": 'C:\\temp "x"\nrequires-python = "<3"\n[injected]',
                 "author_name": 'A "Quoted" Name', "author_email": "a\\b@example.org"}
        result = run_on_pty("init", "--name", name, "--description", typed["description"],
                            "--author-name", typed["author_name"], "--author-email",
                            typed["author_email"], cwd=tmp_path, answers=["MIT"])
        assert result.returncode == 0, result.stderr
        project = tomllib.loads((tmp_path / "pyproject.toml").read_text())["project"]
        assert (project["name"], project["description"], project["requires-python"]) == (
            name, typed["description"], ">=3.11")
        assert project["authors"] == [{"name": typed["author_name"], "email": typed["author_email"]}]
        workflow = yaml.safe_load((tmp_path / ".github" / "workflows" / "build.yml").read_text())
        assert workflow["jobs"]["build"]["name"] == f"Test, lint and build {name}"
        assert workflow["jobs"]["build"]["steps"][-1]["with"]["name"] == f"{name}-dist"
        assert run_tolvo("config-diff", cwd=tmp_path).returncode == 0

    def test_nested_name_gives_nested_directories(self, tmp_path: Path) -> None:
        init_project(tmp_path, "org/pkg")
        assert (tmp_path / "org" / "pkg" / "__init__.py").is_file()

    def test_second_run_changes_nothing(self, tmp_path: Path) -> None:
        init_project(tmp_path)
        before = {p: (p.read_bytes(), p.stat().st_mtime_ns)
                  for p in tmp_path.rglob("*") if p.is_file()}
        result = run_on_pty("init", "--name", "demo_pkg", cwd=tmp_path,
                            answers=["Other", "Bob", "b@example.org", "GPL-3.0-only"])
        assert result.returncode == 0, result.stderr
        after = {p: (p.read_bytes(), p.stat().st_mtime_ns)
                 for p in tmp_path.rglob("*") if p.is_file()}
        assert after == before

    def test_existing_pyproject_is_kept_and_the_rest_added(self, tmp_path: Path) -> None:
        (tmp_path / "pyproject.toml").write_bytes(b"not even toml {\n")
        init_project(tmp_path)
        assert (tmp_path / "pyproject.toml").read_bytes() == b"not even toml {\n"
        assert (tmp_path / "demo_pkg" / "__init__.py").is_file()
        assert (tmp_path / ".github" / "workflows" / "build.yml").is_file()


def edit_pyproject(root: Path, old: str, new: str) -> None:
    path = root / "pyproject.toml"
    text = path.read_text()
    assert old in text, old
    path.write_text(text.replace(old, new))


@pytest.mark.usefixtures("tolvo_bin")
class TestConfigDiff:
    def test_fresh_scaffold_matches(self, tmp_path: Path) -> None:
        init_project(tmp_path)
        result = run_tolvo("config-diff", cwd=tmp_path)
        assert (result.returncode, result.stdout) == (0, "")

    def test_missing_requires_python_and_ruff_entry_count_two(self, tmp_path: Path) -> None:
        init_project(tmp_path)
        edit_pyproject(tmp_path, 'requires-python = ">=3.11"\n', "")
        edit_pyproject(tmp_path, 'exclude = [".venv", ".git", "build", "dist", "wheelhouse", '
                       '"*.egg-info"]', 'exclude = ["build"]')
        result = run_tolvo("config-diff", cwd=tmp_path)
        assert result.stdout.splitlines() == [
            "Error: 'pyproject.toml' does not specify a 'requires-python' value.",
            "tool.ruff.exclude: expected ['.venv', '.git', 'build', 'dist', 'wheelhouse', "
            "'*.egg-info'], got ['build']",
        ]
        assert result.returncode == 2

    def test_missing_test_group_then_build_requirement_counts_one(self, tmp_path: Path) -> None:
        init_project(tmp_path)
        edit_pyproject(tmp_path, 'test = ["pytest>=8"]', 'dev = ["pytest>=8"]')
        edit_pyproject(tmp_path, 'requires = ["setuptools>=77"]', 'requires = ["flit_core"]')
        edit_pyproject(tmp_path, 'build-backend = "setuptools.build_meta"',
                       'build-backend = "flit_core.buildapi"')
        result = run_tolvo("config-diff", cwd=tmp_path / "demo_pkg")
        lines = result.stdout.splitlines()
        assert lines[0] == "Error: 'test' optional dependency group is missing."
        assert lines[1].startswith("build-system.requires: missing coverage for setuptools")
        assert lines[2] == ("build-system.build-backend: expected setuptools.build_meta, "
                            "got flit_core.buildapi")
        assert len(lines) == 3
        assert result.returncode == 1

    def test_pytest_only_on_linux_is_not_enough(self, tmp_path: Path) -> None:
        init_project(tmp_path)
        edit_pyproject(tmp_path, 'test = ["pytest>=8"]',
                       "test = [\"pytest; sys_platform == 'linux'\"]")
        result = run_tolvo("config-diff", cwd=tmp_path)
        assert result.stdout == "Error: pytest is not installed in the 'test' extras group.\n"
        assert result.returncode == 1

    def test_no_tool_table_is_an_error_after_earlier_lines(self, tmp_path: Path) -> None:
        (tmp_path / "pyproject.toml").write_text(
            '[project]\nname = "p"\nversion = "1"\n'
            '[build-system]\nrequires = ["setuptools>=77"]\nbuild-backend = "other"\n')
        result = run_tolvo("config-diff", cwd=tmp_path)
        assert result.returncode == 1
        assert result.stdout.splitlines() == [
            "Error: 'pyproject.toml' does not specify a 'requires-python' value.",
            "build-system.build-backend: expected setuptools.build_meta, got other",
        ]
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
