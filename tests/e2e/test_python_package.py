"""The wheel: `tolvo` on PATH is the native executable, and `python -m tolvo`
behaves exactly like it (version, streams, exit status)."""

from __future__ import annotations

import os
import subprocess
import sys
import sysconfig
import tomllib
import venv
from pathlib import Path

import pytest

from conftest import SOURCE_DIR

PROJECT_VERSION = tomllib.loads((SOURCE_DIR / "pyproject.toml").read_text())["project"]["version"]


@pytest.fixture(scope="module")
def wheel(tmp_path_factory) -> Path:
    out = tmp_path_factory.mktemp("wheel")
    subprocess.run([sys.executable, "-m", "pip", "wheel", "--quiet", "--disable-pip-version-check", "--no-deps",
                    "--wheel-dir", out, str(SOURCE_DIR)], check=True, timeout=900)
    return next(out.glob("tolvo-*.whl"))


def _pip_install(*args) -> None:
    subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--disable-pip-version-check", *args],
                   check=True, timeout=300)


@pytest.fixture(scope="module")
def installed(tmp_path_factory, wheel) -> Path:
    env_dir = tmp_path_factory.mktemp("wheel-env") / "env"
    venv.create(env_dir, with_pip=True)
    subprocess.run([env_dir / "bin" / "python", "-m", "pip", "install", "--quiet", "--disable-pip-version-check",
                    wheel], check=True, timeout=300)
    return env_dir


@pytest.fixture(scope="module")
def target(tmp_path_factory, wheel) -> Path:
    """pip install --target: the package in DIR, the executable in DIR/bin."""
    directory = tmp_path_factory.mktemp("target")
    _pip_install("--target", directory, wheel)
    return directory


def _run(cmd, **kwargs) -> subprocess.CompletedProcess[str]:
    return subprocess.run(cmd, capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=60, **kwargs)


def test_tolvo_on_path_is_the_native_executable(installed):
    exe = installed / "bin" / "tolvo"
    assert exe.read_bytes()[:4] == b"\x7fELF"


@pytest.mark.parametrize("launcher", ["exe", "module"])
def test_version_is_stamped(installed, launcher):
    cmd = [installed / "bin" / "tolvo"] if launcher == "exe" else [installed / "bin" / "python", "-m", "tolvo"]
    result = _run([*cmd, "--version"])
    assert (result.returncode, result.stdout, result.stderr) == (0, f"tolvo {PROJECT_VERSION}\n", "")


def test_module_passes_streams_and_status_through(installed, tmp_path):
    native = _run([installed / "bin" / "tolvo", "--no-such-option"], cwd=tmp_path)
    module = _run([installed / "bin" / "python", "-m", "tolvo", "--no-such-option"], cwd=tmp_path)
    assert native.returncode == 2
    assert (module.returncode, module.stdout, module.stderr) == (native.returncode, native.stdout, native.stderr)


def test_package_version_comes_from_metadata(installed):
    result = _run([installed / "bin" / "python", "-c", "import tolvo; print(tolvo.__version__)"])
    assert result.stdout.strip() == PROJECT_VERSION


def test_launcher_says_where_it_looked_when_the_executable_is_gone(installed, tmp_path):
    # A copy of the package alone, without the executable anywhere it looks.
    package = tmp_path / "site" / "tolvo"
    package.mkdir(parents=True)
    for name in ("__init__.py", "__main__.py", "_find_tolvo.py"):
        (package / name).write_text((SOURCE_DIR / "python" / "tolvo" / name).read_text())
    bare = tmp_path / "bare"
    venv.create(bare, with_pip=False)
    base_scripts = Path(sysconfig.get_path("scripts", vars={"base": sys.base_prefix, "platbase": sys.base_exec_prefix}))
    if (base_scripts / "tolvo").exists():
        pytest.skip("the base interpreter has tolvo installed")
    env = {**os.environ, "PYTHONPATH": str(tmp_path / "site")}
    result = _run([bare / "bin" / "python", "-m", "tolvo", "--version"], env=env, cwd=tmp_path)
    assert result.returncode == 1
    assert "the tolvo executable was not found; looked at:" in result.stderr


def test_launcher_finds_a_target_install_and_lint_finds_the_same_tolvo(target, fake_project):
    # PATH holds only the fakes: neither target/bin nor any other tolvo is on it.
    (fake_project.bin / "tolvo").unlink()
    fake_project.write("pyproject.toml", '[project]\nname = "p"\nversion = "1"\n')
    env = {**fake_project.env, "PYTHONPATH": str(target)}
    result = _run([sys.executable, "-m", "tolvo", "lint"], env=env, cwd=fake_project.dir)
    assert "cannot run 'tolvo'" not in result.stderr
    # The fifth check was the installed executable's own config-diff.
    assert "\ntolvo: FAIL (1)\n" in result.stdout, result.stdout + result.stderr
    assert "Error: 'pyproject.toml' does not specify a 'requires-python' value." in result.stdout
