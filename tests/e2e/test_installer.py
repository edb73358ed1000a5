"""The installer setting: pip (the default) or uv, chosen in pyproject.toml
or for one run with --installer; against the fake uv on PATH (fakes/uv) and,
once, against the real uv."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import TOLVO, FakeProject, run_tolvo
from test_venv_commands import PYPROJECT as BASE_PYPROJECT
from test_venv_commands import REAL_PYPROJECT, make_real_project

PYPROJECT = BASE_PYPROJECT + '[dependency-groups]\ndocs = ["sphinx"]\n'

PIP_INSTALL = ".venv/bin/python -m pip install "
PIP_ONLY = (".venv/bin/python -um ensurepip", PIP_INSTALL + "--upgrade pip")
PIP_ACTIONS = ("Ensuring pip is installed...\n", "Upgrading pip...\n")


def choose(project: FakeProject, setting: str | None, option: str | None) -> list[str]:
    """Writes the setting into the project; the options that go before the command."""
    if setting is not None:
        project.write("pyproject.toml", PYPROJECT + f'[tool.tolvo]\ninstaller = "{setting}"\n')
    return [] if option is None else ["--installer", option]


def as_uv(project: FakeProject, pip_lines: list[str]) -> list[str]:
    """What uv runs where pip ran: its own creation, no pip steps, the same targets."""
    venv = project.venv
    uv_lines = []
    for line in pip_lines:
        if line in PIP_ONLY:
            continue
        if line.startswith("python -m venv "):
            uv_lines.append(f"uv venv --seed --allow-existing --python {project.bin}/python --system-site-packages "
                            f"{venv}")
        elif line.startswith(PIP_INSTALL):
            uv_lines.append(f"uv pip install --python {venv}/bin/python " + line[len(PIP_INSTALL):])
        else:
            uv_lines.append(line)
    return uv_lines


@pytest.mark.parametrize(("setting", "option", "chosen"), [
    (None, None, "pip"), ("pip", None, "pip"), (None, "pip", "pip"), ("uv", "pip", "pip"),
    ("uv", None, "uv"), (None, "uv", "uv"), ("pip", "uv", "uv"),
])
def test_the_option_overrides_the_setting_and_pip_is_unchanged(fake_project: FakeProject, setting: str | None,
                                                               option: str | None, chosen: str) -> None:
    result = fake_project.run(*choose(fake_project, setting, option), "requirements", "dev", "docs")
    assert result.returncode == 0, result.stderr
    pip_lines = [f"python -m venv --system-site-packages --upgrade {fake_project.venv}", *PIP_ONLY,
                 PIP_INSTALL + "--quiet --editable .[dev] --group docs"]
    pip_out = "Creating virtual environment...\n" + "".join(PIP_ACTIONS) + "Installing requirements...\n"
    if chosen == "pip":
        assert (fake_project.lines(), result.stdout, result.stderr) == (pip_lines, pip_out, "")
    else:
        expected_out = pip_out.replace("".join(PIP_ACTIONS), "")
        assert (fake_project.lines(), result.stdout, result.stderr) == (as_uv(fake_project, pip_lines),
                                                                        expected_out, "")


@pytest.mark.parametrize("args", [["test"], ["build", "--sdist"], ["lint"], ["status"], ["requirements", "test"]])
@pytest.mark.parametrize("venv", ["none", "incomplete"])
def test_uv_installs_what_pip_would(fake_project: FakeProject, tmp_path: Path, args: list[str], venv: str) -> None:
    under_pip = FakeProject(tmp_path / "pip", PYPROJECT)
    for project in (fake_project, under_pip):
        if venv == "incomplete":
            project.fake_venv(pip=False)
    expected = under_pip.run(*args)
    assert expected.returncode == 0, expected.stderr
    result = fake_project.run("--installer", "uv", *args)
    assert result.returncode == 0, result.stderr
    assert result.stdout == expected.stdout.replace("".join(PIP_ACTIONS), "")
    lines = as_uv(fake_project, [line.replace(under_pip.venv, fake_project.venv) for line in under_pip.lines()])
    # The lint checks run at once, in any order, after the install steps.
    steps = next((at for at, line in enumerate(lines) if not line.startswith(("uv ", "python "))), len(lines))
    assert fake_project.lines()[:steps] == lines[:steps]
    assert sorted(fake_project.lines()[steps:]) == sorted(lines[steps:])


def test_when_needed_skips_every_step_on_an_environment_uv_made(fake_project: FakeProject) -> None:
    fake_project.write("pyproject.toml", PYPROJECT + '[tool.tolvo]\nrefresh = "when-needed"\ninstaller = "uv"\n')
    fake_project.write("tests/test_demo.py", "def test_demo():\n    pass\n")
    first = fake_project.run("test", FAKE_ALSO="pytest")
    assert first.returncode == 0, first.stderr
    fake_project.log.unlink()
    second = fake_project.run("test", FAKE_ALSO="pytest")
    assert (second.returncode, second.stdout) == (0, "Installing test tools... up to date\ntests ran\n")
    assert fake_project.lines() == [".venv/bin/python -um pytest -vv tests/"]


def test_uv_beside_tolvo_is_found_when_not_on_path(fake_project: FakeProject, tmp_path: Path) -> None:
    own, path = tmp_path / "installed", tmp_path / "path"
    own.mkdir()
    path.mkdir()
    # As an install of tolvo with its uv extra lays them out: both in one scripts directory.
    (own / "tolvo").write_bytes(TOLVO.read_bytes())
    (own / "tolvo").chmod(0o755)
    (own / "uv").symlink_to(fake_project.bin / "uv")
    for program in ("python", "docker"):
        (path / program).symlink_to(fake_project.bin / program)
    result = subprocess.run([str(own / "tolvo"), "--installer", "uv", "requirements"], cwd=fake_project.dir,
                            env={**fake_project.env, "PATH": str(path)}, capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert fake_project.calls()[0].argv[:2] == [str(own / "uv"), "venv"]


# ---- the real uv ------------------------------------------------------------------

@pytest.fixture(scope="session")
def real_uv(tmp_path_factory: pytest.TempPathFactory) -> Path:
    """A directory holding only uv, installed from the package index into a
    throwaway environment."""
    root = tmp_path_factory.mktemp("uv")
    subprocess.run([sys.executable, "-m", "venv", str(root / "env")], check=True)
    subprocess.run([str(root / "env" / "bin" / "python"), "-m", "pip", "install", "--quiet",
                    "--disable-pip-version-check", "uv"], check=True, timeout=600)
    (root / "bin").mkdir()
    (root / "bin" / "uv").symlink_to(root / "env" / "bin" / "uv")
    return root / "bin"


@pytest.mark.real
def test_real_uv_cold_then_in_sync(tmp_path: Path, real_uv: Path) -> None:
    work = make_real_project(tmp_path)
    (work / "pyproject.toml").write_text(REAL_PYPROJECT + '\n[tool.tolvo]\nrefresh = "when-needed"\n')
    env = dict(os.environ, PATH=f"{real_uv}:{os.environ['PATH']}")
    result = run_tolvo("--installer", "uv", "test", cwd=work, env=env, timeout=900)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.startswith("Creating virtual environment...\nInstalling test tools...\n")
    assert "test_answer PASSED" in result.stdout
    # What the when-needed judgement reads: uv's record of the editable install.
    direct_url = list((work / ".venv" / "lib").glob("python*/site-packages/tinyproj-0.1.dist-info/direct_url.json"))
    assert len(direct_url) == 1 and '"editable":true' in direct_url[0].read_text().replace(" ", "")
    assert (work / ".venv" / "bin" / "pip").exists()
    result = run_tolvo("--installer", "uv", "test", cwd=work, env=env, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.startswith("Installing test tools... up to date\n")
    assert "test_answer PASSED" in result.stdout
