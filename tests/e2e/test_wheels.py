"""Container wheel builds and tests from the command line, against the fake
`docker`, which records every call."""

from __future__ import annotations

import platform

import pytest

from conftest import FakeProject

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
VERSION = ["--version"]
BINFMT = ["run", "--privileged", "--rm", "tonistiigi/binfmt", "--install", "all"]
# Containers of the host's own architecture run without emulation.
HOST = {"arm64": "aarch64", "amd64": "x86_64"}.get(platform.machine(), platform.machine())


def docker_calls(project: FakeProject) -> list[list[str]]:
    return [call.argv[1:] for call in project.calls() if call.role in ("docker-version", "binfmt", "container")]


def mount(project: FakeProject) -> str:
    return f"{project.dir.resolve()}:/src"


def expected_build_script(native: bool, arch: str, tag: str, setup: str = "") -> str:
    flags = "" if native else "--config-setting=build_with_nuitka=false"
    return (
        f'\nset -e\nmanylinux-interpreters ensure "{tag}"\nPATH="/opt/python/{tag}/bin:$PATH"\ncd /src\n{setup}\n'
        f"rm -rf build/\npython -m pip install --upgrade build\npython -m build --wheel {flags}\n"
        + (f"auditwheel repair dist/*_{arch}.whl\n" if native else "\n")
        + "owner=$(stat -c '%u:%g' .)\n"
        + (f"rm -f dist/*_{arch}.whl\nmv wheelhouse/* dist/\n" if native else "\n\n")
        + 'for entry in dist/ *.egg-info/ build/ target/; do if [ -e "$entry" ]; then chown -R "$owner" "$entry"; fi; done\n'
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
def test_build_runs_the_build_container(fake_project: FakeProject, options, native, arch, libc, image, tag, setup):
    wheel_option = [] if "--native-wheel" in options else ["--wheel"]
    result = fake_project.run("build", *wheel_option, *options)
    assert result.returncode == 0, result.stderr
    python = "3.12" if "3.12" in options else "3.11"
    building = f"Building manylinux wheel for {arch} ({libc}) with Python {python}..."
    build_call = ["run", "--rm", "-v", mount(fake_project), f"quay.io/pypa/{image}:latest", "/bin/bash", "-ec",
                  expected_build_script(native, arch, tag, setup)]
    assert docker_calls(fake_project) == [VERSION] + ([BINFMT] if arch != HOST else []) + [build_call]
    out = result.stdout
    assert out.index(building) < out.index("DOCKER run")
    assert out.rstrip().endswith(f"Manylinux wheel built for {arch}")


@pytest.mark.parametrize("command", ["build", "test"])
def test_without_docker_nothing_is_built_or_tested(fake_project: FakeProject, command: str) -> None:
    fake_project.write("dist/mypkg-1.0-py3-none-any.whl")
    result = fake_project.run(command, "--wheel", FAKE_DOCKER_VERSION_RC="127")
    assert result.returncode == 1
    assert "Error: Docker is not available" in result.stderr
    assert docker_calls(fake_project) == [VERSION]
    assert "Building" not in result.stdout and "Testing" not in result.stdout


def test_failed_registration_starts_no_build(fake_project: FakeProject) -> None:
    result = fake_project.run("build", "--native-wheel", "--arch", "s390x", FAKE_BINFMT_RC="5")
    assert result.returncode == 1
    assert "tonistiigi/binfmt" in result.stderr and "5" in result.stderr
    assert docker_calls(fake_project) == [VERSION, BINFMT]
    assert "Manylinux wheel built" not in result.stdout


@pytest.mark.parametrize(
    ("command", "option", "value"),
    [("build", "--arch", "x86_64;id"), ("build", "--python", "3.11 && id"), ("test", "--arch", "$(id)")],
)
def test_unsafe_target_values_are_refused_before_anything_runs(
        fake_project: FakeProject, command: str, option: str, value: str) -> None:
    # Both values are written into the container's script as they stand.
    result = fake_project.run(command, "--wheel", option, value)
    assert result.returncode == 1
    assert result.stderr.startswith(f"tolvo: error: invalid {option} value '{value}'")
    assert fake_project.calls() == []


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
def test_wheel_test_runs_the_test_container(fake_project: FakeProject, options, arch, image, platform, line1):
    wheel = f"dist/mypkg-1.0-cp311-cp311-manylinux_2_34_{arch}.whl"
    fake_project.write(wheel)
    result = fake_project.run("test", "--wheel", *options)
    assert result.returncode == 0, result.stderr
    test_call = ["run", "--rm", "--volume", mount(fake_project), f"--platform={platform}", image, "/bin/sh", "-ec",
                 expected_test_script(line1, wheel)]
    assert docker_calls(fake_project) == [VERSION] + ([BINFMT] if arch != HOST else []) + [test_call]
    out = result.stdout
    testing = f"Testing wheel {wheel} on {image}..."
    if arch != HOST:
        assert out.index("DOCKER run --privileged") < out.index(testing)
    assert out.index(testing) < out.index("DOCKER run --rm --volume")
    assert out.rstrip().endswith("Wheel tests passed")
    assert not (fake_project.dir / ".venv").exists()


def test_wheel_search_prefers_wheelhouse_and_pure_fallback(fake_project: FakeProject) -> None:
    fake_project.write("wheelhouse/mypkg-1.0-cp311-cp311-manylinux_2_34_aarch64.whl")
    fake_project.write("dist/mypkg-1.0-cp311-cp311-manylinux_2_34_x86_64.whl")
    result = fake_project.run("test", "--wheel")
    assert result.returncode == 0, result.stderr
    assert "Testing wheel wheelhouse/mypkg-1.0-cp311-cp311-manylinux_2_34_aarch64.whl on python:3.11..." in result.stdout


def test_setup_and_quoted_wheel_name(fake_project: FakeProject) -> None:
    wheel = 'dist/my $pkg"`x`.whl'
    fake_project.write(wheel)
    result = fake_project.run("test", "--wheel", "--setup", "apt-get update")
    assert result.returncode == 0, result.stderr
    script = docker_calls(fake_project)[-1][-1]
    assert script == expected_test_script("", 'dist/my \\$pkg\\"\\`x\\`.whl', "apt-get update")


@pytest.mark.parametrize(
    ("version", "wheels", "chosen", "why"),
    [
        ('version = "1.0"', ["mypkg-0.9-py3-none-any.whl", "mypkg-1.0-py3-none-any.whl"],
         "mypkg-1.0-py3-none-any.whl", None),
        ('version = "1.0"', ["mypkg-0.9-py3-none-any.whl", "mypkg-1.1-py3-none-any.whl"], None,
         "none of the wheels in dist/ is a wheel of mypkg 1.0"),
        ('dynamic = ["version"]', ["mypkg-1.0-py3-none-any.whl", "mypkg-1.1-py3-none-any.whl"], None,
         "the version of mypkg is dynamic and the wheels in dist/ are of several versions"),
    ],
)
def test_stale_wheels_beside_the_current_one(fake_project: FakeProject, version, wheels, chosen, why) -> None:
    fake_project.write("pyproject.toml", PYPROJECT.replace('version = "1.0"', version))
    for wheel in wheels:
        fake_project.write(f"dist/{wheel}")
    result = fake_project.run("test", "--wheel")
    if chosen:
        assert result.returncode == 0, result.stderr
        assert f"Testing wheel dist/{chosen} on python:3.11..." in result.stdout
        return
    assert result.returncode == 1
    listed = "".join(f"  dist/{wheel}\n" for wheel in sorted(wheels))
    assert result.stderr.startswith(f"tolvo: error: {why}")
    assert result.stderr.endswith(f":\n{listed}Remove the stale wheels and run again.\n")
    assert docker_calls(fake_project) == [VERSION]


def test_path_and_arguments_reach_pytest_in_the_container(fake_project: FakeProject) -> None:
    wheel = "dist/mypkg-1.0-py3-none-any.whl"
    fake_project.write(wheel)
    result = fake_project.run("test", "--wheel", f"{fake_project.dir}/tests/unit/test_a.py::test_b", "--",
                              "-k", "a and not b", "it's", "$(touch PWNED)")
    assert result.returncode == 0, result.stderr
    script = docker_calls(fake_project)[-1][-1]
    assert script == expected_test_script("", wheel).replace(
        "python -m pytest -vv tests\n",
        "python -m pytest -vv tests/unit/test_a.py::test_b -k 'a and not b' 'it'\"'\"'s' '$(touch PWNED)'\n")


@pytest.mark.parametrize("path", ["testing/", "src/mypkg", ".", "tests/../..", "/elsewhere/tests"])
def test_path_outside_the_copied_tests_is_a_usage_error(fake_project: FakeProject, path: str) -> None:
    # Only tests/ is copied into the container: anything else would run
    # other tests than those asked for, or the sources instead of the wheel.
    fake_project.write("dist/mypkg-1.0-py3-none-any.whl")
    result = fake_project.run("test", "--wheel", path, "--", "-x")
    assert result.returncode == 2
    assert result.stderr.startswith("usage: tolvo test ")
    assert result.stderr.endswith("tolvo test: error: argument path: with --wheel the tests run from a copy of "
                                  f"tests/, so PATH must lie inside it: '{path}'\n")
    assert fake_project.calls() == []


def test_no_wheel_found(fake_project: FakeProject) -> None:
    (fake_project.dir / "dist").mkdir()
    result = fake_project.run("test", "--wheel", "--arch", "riscv64")
    assert result.returncode == 1
    assert result.stderr == "Error: No wheel found for architecture riscv64\n"
    assert docker_calls(fake_project) == [VERSION]


def test_riscv64_glibc_311_is_skipped_with_warning(fake_project: FakeProject) -> None:
    fake_project.write("dist/mypkg-1.0-py3-none-any.whl")
    result = fake_project.run("test", "--wheel", "--arch", "riscv64")
    assert result.returncode == 0
    assert ("WARNING: python image does not support cp311-manylinux_2_39_riscv64, exiting without error"
            in result.stderr)
    assert docker_calls(fake_project) == [VERSION]


def test_failing_tests_end_with_status_one(fake_project: FakeProject) -> None:
    fake_project.write("dist/mypkg-1.0-py3-none-any.whl")
    result = fake_project.run("test", "--wheel", FAKE_CONTAINER_RC="2")
    assert result.returncode == 1
    assert "Wheel tests passed" not in result.stdout
    # The command as a shell shows it, the script by its first line and line count.
    assert result.stderr.startswith("tolvo: error: command failed with exit status 2: docker run --rm --volume ")
    assert result.stderr.endswith(" /bin/sh -ec 'set -e'... (12 lines)\n")
