"""The lint command with the real linters from PyPI, on a project just made by
init and on the same project with planted faults."""

from __future__ import annotations

import os
import re
import shutil
from pathlib import Path

import pytest

from conftest import TOLVO, run_tolvo
from test_init_config_diff import init_project

RESULT_LINE = re.compile(r"^(ruff|basedpyright|dodgy|pyroma|tolvo): (PASS|FAIL \(\d+\))$")

BAD_MODULE = 'import os\n\n\ndef half(value: int) -> str:\n    return value / 2\n'


def result_lines(output: str) -> list[str]:
    return [line for line in output.splitlines() if RESULT_LINE.match(line)]


@pytest.mark.real
@pytest.mark.usefixtures("tolvo_bin")
def test_real_linters_on_a_fresh_scaffold_and_planted_faults(tmp_path: Path) -> None:
    base_python = shutil.which("python")
    if base_python is None:
        pytest.skip("no 'python' on PATH")
    # The config-diff check starts "tolvo" from PATH: the build under test.
    tools = tmp_path / "bin"
    tools.mkdir()
    (tools / "tolvo").symlink_to(TOLVO)
    env = dict(os.environ, PATH=f"{tools}:{os.environ['PATH']}")
    project = tmp_path / "demo"
    project.mkdir()
    init_project(project)

    fresh = run_tolvo("lint", cwd=project, env=env, timeout=900)
    assert fresh.returncode == 0, fresh.stdout + fresh.stderr
    assert result_lines(fresh.stdout) == [
        "ruff: PASS", "basedpyright: PASS", "dodgy: PASS", "pyroma: PASS", "tolvo: PASS"]
    assert "failed" not in fresh.stdout
    # The scaffold's first test passes in the environment lint left.
    tested = run_tolvo("test", cwd=project, env=env, timeout=900)
    assert tested.returncode == 0, tested.stdout + tested.stderr
    assert "1 passed" in tested.stdout

    # An unused import and a wrong return type, and a ruff exclude list that
    # lost an entry of the template's. The project asks ruff to fix what it
    # can, which lint without --fix must not do.
    bad = project / "demo_pkg" / "bad.py"
    bad.write_text(BAD_MODULE)
    pyproject = project / "pyproject.toml"
    pyproject.write_text(pyproject.read_text().replace(', "wheelhouse", "*.egg-info"]', ', "*.egg-info"]')
                         .replace("[tool.ruff]\n", "[tool.ruff]\nfix = true\n"))
    planted = run_tolvo("lint", cwd=project, env=env, timeout=900)
    assert bad.read_bytes() == BAD_MODULE.encode()
    assert planted.returncode == 3, planted.stdout + planted.stderr
    assert result_lines(planted.stdout) == [
        "ruff: FAIL (1)", "basedpyright: FAIL (1)", "dodgy: PASS", "pyroma: PASS", "tolvo: FAIL (1)"]
    assert planted.stdout.endswith("3 failed\n")
    assert "F401" in planted.stdout and "bad.py" in planted.stdout
    assert "reportReturnType" in planted.stdout
    assert "tool.ruff.exclude: expected" in planted.stdout
