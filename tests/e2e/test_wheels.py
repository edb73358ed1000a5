"""Container wheel builds and tests from the command line, against a fake
`docker` that records every call and a fake `python` that makes a venv."""

from __future__ import annotations

import json
import os
import sys
from pathlib import Path

import pytest

from conftest import run_tolvo

# The build and test handlers call these operations once they are wired.

FAKE_DOCKER = f"""#!{sys.executable}
import json, os, sys
args = sys.argv[1:]
with open(os.environ["FAKE_DOCKER_LOG"], "a") as log:
    log.write(json.dumps(args) + "\\n")
if args == ["--version"]:
    sys.exit(int(os.environ.get("FAKE_DOCKER_VERSION_STATUS", "0")))
# Output goes to the terminal the tool hands on, so its order is visible.
print("DOCKER " + " ".join(args[:3]), flush=True)
fail_on = os.environ.get("FAKE_DOCKER_FAIL_ON")
if fail_on and fail_on in args:
    sys.exit(int(os.environ.get("FAKE_DOCKER_STATUS", "3")))
"""

FAKE_PYTHON = """#!/bin/sh
if [ "$1" = "-m" ] && [ "$2" = "venv" ]; then
  for last; do :; done
  mkdir -p "$last/bin"
  printf '#!/bin/sh\\nexit 0\\n' > "$last/bin/python"
  printf '#!/bin/sh\\nexit 0\\n' > "$last/bin/pip"
  chmod +x "$last/bin/python" "$last/bin/pip"
fi
exit 0
"""

PYPROJECT = """[project]
name = "mypkg"
version = "1.0"
requires-python = ">=3.11"

[project.optional-dependencies]
test = ["pytest"]
"""

MUSL_RUST = "apk add --no-cache gcc musl-dev python3-dev libffi-dev openssl-dev cargo pkgconfig;"
GLIBC_RUST = 'apt-get update;DEBIAN_FRONTEND="noninteractive" apt-get install -y rustc cargo;'
GIT = "apk add --no-cache git;"
BINFMT = ["run", "--privileged", "--rm", "tonistiigi/binfmt", "--install", "all"]


class Project:
    def __init__(self, root: Path) -> None:
        self.dir = root / "project"
        self.dir.mkdir()
        (self.dir / "pyproject.toml").write_text(PYPROJECT)
        (self.dir / "tests").mkdir()
        bin_dir = root / "bin"
        bin_dir.mkdir()
        for name, text in (("docker", FAKE_DOCKER), ("python", FAKE_PYTHON)):
            (bin_dir / name).write_text(text)
            (bin_dir / name).chmod(0o755)
        self.log = root / "docker.log"
        self.env = dict(os.environ)
        self.env["PATH"] = f"{bin_dir}{os.pathsep}{self.env.get('PATH', '')}"
        self.env["FAKE_DOCKER_LOG"] = str(self.log)

    def wheel(self, relative: str) -> None:
        path = self.dir / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text("")

    def run(self, *args: str, **extra_env: str):
        return run_tolvo(*args, cwd=self.dir, env={**self.env, **extra_env})

    def calls(self) -> list[list[str]]:
        if not self.log.exists():
            return []
        return [json.loads(line) for line in self.log.read_text().splitlines()]

    @property
    def mount(self) -> str:
        return f"{self.dir.resolve()}:/src"


@pytest.fixture
def project(tmp_path: Path) -> Project:
    return Project(tmp_path)


def expected_build_script(native: bool, arch: str, tag: str, setup: str = "") -> str:
    flags = "" if native else "--config-setting=build_with_nuitka=false"
    return (
        f'\nset -e\nmanylinux-interpreters ensure "{tag}"\nPATH="/opt/python/{tag}/bin:$PATH"\ncd /src\n{setup}\n'
        f"rm -rf build/\npython -m pip install --upgrade build\npython -m build --wheel {flags}\n"
        + (f"auditwheel repair dist/*_{arch}.whl\n" if native else "\n")
        + "owner=$(stat -c '%u:%g' .)\n"
        + (f"rm -f dist/*_{arch}.whl\nmv wheelhouse/* dist/\n" if native else "\n\n")
        + 'for entry in dist/ *.egg-info/ build/; do if [ -e "$entry" ]; then chown -R "$owner" "$entry"; fi; done\n'
        + "rm -rf wheelhouse/\n"
    )


def expected_test_script(line1: str, wheel: str, setup: str = "") -> str:
    return (
        f'{line1}\nset -e\ncd /src\n{setup}\npip install --root-user-action=ignore "{wheel}"[test]\n'
        "git config --global user.email 'test@example.invalid'\n"
        'git config --global user.name "Test Runner"\ngit config --global init.defaultBranch trunk\n'
        "mkdir -p /tmp/test\ncd /tmp/test;\ncp -r /src/tests .\npython -m pytest -vv tests\n"
    )


# ---- build ------------------------------------------------------------------

@pytest.mark.parametrize(
    ("options", "native", "arch", "libc", "image", "tag", "setup"),
    [
        ([], False, "x86_64", "glibc", "manylinux_2_34_x86_64", "cp311-cp311", ""),
        (["--native-wheel", "--arch", "aarch64", "--libc", "musl"], True, "aarch64", "musl",
         "musllinux_1_2_aarch64", "cp311-cp311", ""),
        (["--native-wheel", "--arch", "armv7l", "--python", "3.12"], True, "armv7l", "glibc",
         "manylinux_2_35_armv7l", "cp312-cp312", ""),
        (["--arch", "riscv64", "--setup", "apt-get install -y libfoo-dev\necho done"], False, "riscv64", "glibc",
         "manylinux_2_39_riscv64", "cp311-cp311", "apt-get install -y libfoo-dev\necho done"),
    ],
)
def test_build_runs_the_build_container(project, options, native, arch, libc, image, tag, setup):
    wheel_option = [] if "--native-wheel" in options else ["--wheel"]
    result = project.run("build", *wheel_option, *options)
    assert result.returncode == 0, result.stderr
    python = "3.12" if "3.12" in options else "3.11"
    building = f"Building manylinux wheel for {arch} ({libc}) with Python {python}..."
    build_call = ["run", "--rm", "-v", project.mount, f"quay.io/pypa/{image}:latest", "/bin/bash", "-ec",
                  expected_build_script(native, arch, tag, setup)]
    docker_calls = [call for call in project.calls() if call != ["--version"]]
    expected = ([BINFMT] if arch != "x86_64" else []) + [build_call]
    assert docker_calls == expected
    out = result.stdout
    assert out.index(building) < out.index("DOCKER run")
    assert out.rstrip().endswith(f"Manylinux wheel built for {arch}")


def test_build_without_docker(project):
    result = project.run("build", "--wheel", FAKE_DOCKER_VERSION_STATUS="1")
    assert result.returncode == 1
    assert "Error: Docker is not available" in result.stderr
    assert project.calls() == [["--version"]]
    assert "Building" not in result.stdout


def test_failed_registration_starts_no_build(project):
    result = project.run("build", "--native-wheel", "--arch", "s390x", FAKE_DOCKER_FAIL_ON="--privileged",
                         FAKE_DOCKER_STATUS="5")
    assert result.returncode == 1
    assert "tonistiigi/binfmt" in result.stderr and "5" in result.stderr
    assert [call for call in project.calls() if call != ["--version"]] == [BINFMT]
    assert "Manylinux wheel built" not in result.stdout


# ---- test --wheel -------------------------------------------------------------

@pytest.mark.parametrize(
    ("options", "arch", "image", "platform", "line1"),
    [
        ([], "x86_64", "python:3.11", "linux/x86_64", ""),
        (["--arch", "aarch64", "--libc", "musl", "--python", "3.12"], "aarch64", "python:3.12-alpine",
         "linux/aarch64", GIT),
        (["--arch", "i686"], "i686", "python:3.11", "linux/386", GLIBC_RUST),
        (["--arch", "s390x", "--libc", "musl"], "s390x", "python:3.11-alpine", "linux/s390x", MUSL_RUST + GIT),
        (["--arch", "armv7l"], "armv7l", "python:3.11", "linux/arm/v7", ""),
        (["--arch", "ppc64le", "--libc", "musl"], "ppc64le", "python:3.11-alpine", "linux/ppc64le", MUSL_RUST + GIT),
        (["--arch", "riscv64", "--python", "3.12"], "riscv64", "python:3.12", "linux/riscv64", GLIBC_RUST),
    ],
)
def test_wheel_test_runs_the_test_container(project, options, arch, image, platform, line1):
    wheel = f"dist/mypkg-1.0-cp311-cp311-manylinux_2_34_{arch}.whl"
    project.wheel(wheel)
    result = project.run("test", "--wheel", *options)
    assert result.returncode == 0, result.stderr
    test_call = ["run", "--rm", "--volume", project.mount, f"--platform={platform}", image, "/bin/sh", "-ec",
                 expected_test_script(line1, wheel)]
    docker_calls = [call for call in project.calls() if call != ["--version"]]
    assert docker_calls == ([BINFMT] if arch != "x86_64" else []) + [test_call]
    out = result.stdout
    testing = f"Testing wheel {wheel} on {image}..."
    if arch != "x86_64":
        assert out.index("DOCKER run --privileged") < out.index(testing)
    assert out.index(testing) < out.index("DOCKER run --rm --volume")
    assert out.rstrip().endswith("Wheel tests passed")
    assert not (project.dir / ".venv").exists()


def test_wheel_search_prefers_wheelhouse_and_pure_fallback(project):
    project.wheel("wheelhouse/mypkg-1.0-cp311-cp311-manylinux_2_34_aarch64.whl")
    project.wheel("dist/mypkg-1.0-cp311-cp311-manylinux_2_34_x86_64.whl")
    result = project.run("test", "--wheel")
    assert result.returncode == 0, result.stderr
    assert "Testing wheel wheelhouse/mypkg-1.0-cp311-cp311-manylinux_2_34_aarch64.whl on python:3.11..." in result.stdout


def test_setup_and_quoted_wheel_name(project):
    wheel = 'dist/my $pkg"`x`.whl'
    project.wheel(wheel)
    result = project.run("test", "--wheel", "--setup", "apt-get update")
    assert result.returncode == 0, result.stderr
    script = project.calls()[-1][-1]
    assert script == expected_test_script("", 'dist/my \\$pkg\\"\\`x\\`.whl', "apt-get update")


def test_no_wheel_found(project):
    (project.dir / "dist").mkdir()
    result = project.run("test", "--wheel", "--arch", "riscv64")
    assert result.returncode == 1
    assert "Error: No wheel found for architecture riscv64" in result.stderr
    assert project.calls() == [["--version"]]


def test_riscv64_glibc_311_is_skipped_with_warning(project):
    project.wheel("dist/mypkg-1.0-py3-none-any.whl")
    result = project.run("test", "--wheel", "--arch", "riscv64")
    assert result.returncode == 0
    assert ("WARNING: python image does not support cp311-manylinux_2_39_riscv64, exiting without error"
            in result.stderr)
    assert project.calls() == [["--version"]]


def test_wheel_test_without_docker(project):
    project.wheel("dist/mypkg-1.0-py3-none-any.whl")
    result = project.run("test", "--wheel", FAKE_DOCKER_VERSION_STATUS="127")
    assert result.returncode == 1
    assert "Error: Docker is not available" in result.stderr
    assert project.calls() == [["--version"]]


def test_failing_tests_end_with_status_one(project):
    project.wheel("dist/mypkg-1.0-py3-none-any.whl")
    result = project.run("test", "--wheel", FAKE_DOCKER_FAIL_ON="--volume", FAKE_DOCKER_STATUS="2")
    assert result.returncode == 1
    assert "Wheel tests passed" not in result.stdout
    assert "'--volume'" in result.stderr and "2" in result.stderr
