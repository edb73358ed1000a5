"""Container wheel builds and tests against a real Docker engine, with the
local stand-in images of tests/containers under the references tolvo uses,
on the sample projects of tests/containers/projects.

tolvo runs as a user other than root (run as root, the tests switch to
nobody in the engine's group), in a project that user owns, with a fake
`python` for the host side (the venv plays no part in a container build):
everything the build leaves in the project must belong to that user,
although the containers run as root.

Run with -m engine. The engine is started when none answers and stopped
again; where none can start, the tests are skipped with the reason."""

from __future__ import annotations

import grp
import os
import shutil
import sys
import tempfile
from pathlib import Path

import pytest

from conftest import SOURCE_DIR, FakeProject, run_tolvo

sys.path.insert(0, str(SOURCE_DIR / "tests" / "containers"))
import standins  # noqa: E402

pytestmark = pytest.mark.engine

AS_ROOT = os.geteuid() == 0
# The project's owner and tolvo's user and group.
OWNER = (65534, 65534) if AS_ROOT else (os.getuid(), os.getgid())
BUILD_TIMEOUT = 1200
AARCH64_HANDLER = Path("/proc/sys/fs/binfmt_misc/qemu-aarch64")
# The system's own Python, which any user can run (ours may live under /root).
NOBODYS_PYTHON = "/usr/bin/python3"

SETUPTOOLS_PURE = """[build-system]
requires = ["setuptools>=61"]
build-backend = "setuptools.build_meta"

[project]
name = "purepkg"
version = "1.0"

[project.optional-dependencies]
test = ["pytest"]

[tool.setuptools]
packages = ["purepkg"]
"""

FAILING_TEST = "def test_fails():\n    assert 1 == 2\n"


@pytest.fixture(scope="session")
def engine():
    try:
        started = standins.start_engine()
    except standins.EngineUnavailable as error:
        pytest.skip(f"no container engine: {error}")
    try:
        standins.build_images()
        yield
    finally:
        if started:
            standins.stop_engine()


def engine_groups() -> list[int]:
    """The group that may use the engine's socket, when there is one."""
    try:
        return [grp.getgrnam("docker").gr_gid]
    except KeyError:
        return []


class Project:
    """A copy of a sample project owned by OWNER, and tolvo run as OWNER
    (in the engine's group) with a fake `python` and the real `docker` on
    PATH."""

    def __init__(self, root: Path, sample: str) -> None:
        # The shared fakes, run by a Python the project's owner can run; the
        # real docker client instead of the fake one.
        fake = FakeProject(root, None, interpreter=NOBODYS_PYTHON if AS_ROOT else sys.executable)
        (fake.bin / "docker").unlink()
        self.dir = fake.dir
        shutil.copytree(standins.PROJECTS / sample, self.dir, dirs_exist_ok=True)
        for directory, names, files in os.walk(root):
            for name in [".", *names, *files]:
                os.lchown(Path(directory, name), *OWNER)
        self.env = {**fake.env, "PATH": f"{fake.bin}:{os.environ.get('PATH', '/usr/bin:/bin')}", "HOME": str(root)}
        if os.environ.get("DOCKER_HOST"):
            self.env["DOCKER_HOST"] = os.environ["DOCKER_HOST"]

    def write(self, relative: str, text: str) -> None:
        path = self.dir / relative
        path.write_text(text)
        os.lchown(path, *OWNER)

    def run(self, *args: str):
        user = {"user": OWNER[0], "group": OWNER[1], "extra_groups": engine_groups()} if AS_ROOT else {}
        result = run_tolvo(*args, cwd=self.dir, env=self.env, timeout=BUILD_TIMEOUT, **user)
        # Shown when the test fails.
        print(result.stdout[-6000:], result.stderr[-6000:], sep="\n")
        return result

    def listing(self, relative: str = ".") -> list[str]:
        return sorted(path.name for path in (self.dir / relative).iterdir())

    def not_owned(self) -> list[str]:
        """Everything in the project that does not belong to OWNER."""
        strays = []
        for directory, names, files in os.walk(self.dir):
            for name in names + files:
                info = Path(directory, name).lstat()
                if (info.st_uid, info.st_gid) != OWNER:
                    strays.append(f"{Path(directory, name).relative_to(self.dir)} ({info.st_uid}:{info.st_gid})")
        return strays


def assert_only_repaired_wheel(project: Project, arch: str) -> None:
    """dist/ holds the one wheel auditwheel made (which also names the older
    policies the wheel meets), not the platform wheel it was made from."""
    wheels = project.listing("dist")
    assert len(wheels) == 1, wheels
    name, version, python, abi, platforms = wheels[0].removesuffix(".whl").split("-")
    assert (name, version, python, abi) == ("nativepkg", "1.0", "cp311", "cp311")
    assert f"manylinux_2_34_{arch}" in platforms.split(".")
    assert "wheelhouse" not in project.listing()


@pytest.fixture
def sandbox(engine):
    root = Path(tempfile.mkdtemp(prefix="tolvo-engine-"))
    root.chmod(0o755)
    try:
        yield root
    finally:
        shutil.rmtree(root)


@pytest.mark.parametrize(("pyproject", "leftovers"), [(None, []), (SETUPTOOLS_PURE, ["build", "purepkg.egg-info"])],
                         ids=["hatchling", "setuptools"])
def test_pure_wheel_built_and_tested(sandbox, pyproject, leftovers):
    project = Project(sandbox, "pure")
    if pyproject is not None:
        project.write("pyproject.toml", pyproject)
    result = project.run("build", "--wheel")
    assert result.returncode == 0
    assert result.stdout.rstrip().endswith("Manylinux wheel built for x86_64")
    wheels = project.listing("dist")
    assert len(wheels) == 1 and wheels[0].startswith("purepkg-1.0-") and wheels[0].endswith("-none-any.whl")
    assert project.listing() == sorted([".venv", "dist", "purepkg", "pyproject.toml", "tests", *leftovers])
    assert project.not_owned() == []

    result = project.run("test", "--wheel")
    assert result.returncode == 0
    assert "test_answer PASSED" in result.stdout
    assert result.stdout.rstrip().endswith("Wheel tests passed")

    project.write("tests/test_fails.py", FAILING_TEST)
    result = project.run("test", "--wheel")
    assert result.returncode == 1
    assert "test_fails FAILED" in result.stdout
    assert "Wheel tests passed" not in result.stdout
    assert "command failed with exit status 1: docker run" in result.stderr
    assert project.not_owned() == []


def test_native_wheel_with_setup(sandbox):
    project = Project(sandbox, "native")
    result = project.run("build", "--native-wheel", "--setup", standins.NATIVE_SETUP)
    assert result.returncode == 0
    assert_only_repaired_wheel(project, "x86_64")
    assert project.not_owned() == []

    # The value comes from the header that only the setup script wrote.
    result = project.run("test", "--wheel")
    assert result.returncode == 0
    assert "test_answer_from_the_setup_header PASSED" in result.stdout
    assert "test_runs_on[x86_64] PASSED" in result.stdout
    assert "Wheel tests passed" in result.stdout


@pytest.fixture
def aarch64_handler_removed(engine):
    """The host without the aarch64 handler (where we may remove it), so
    that tolvo's registration step must put it back; put back here when the
    test did not."""
    if AARCH64_HANDLER.exists() and AS_ROOT:
        AARCH64_HANDLER.write_text("-1")
    yield
    if not AARCH64_HANDLER.exists():
        standins.ensure_host_emulation("aarch64")


@pytest.fixture
def aarch64_python_image(engine):
    standins.use_python_image("aarch64")
    yield
    standins.use_python_image("x86_64")


def test_aarch64_under_emulation(sandbox, aarch64_handler_removed, aarch64_python_image):
    project = Project(sandbox, "native")
    result = project.run("build", "--native-wheel", "--arch", "aarch64", "--setup", standins.NATIVE_SETUP)
    assert result.returncode == 0
    flags = [line for line in AARCH64_HANDLER.read_text().splitlines() if line.startswith("flags:")]
    assert flags and "F" in flags[0]
    assert_only_repaired_wheel(project, "aarch64")
    assert project.not_owned() == []

    result = project.run("test", "--wheel", "--arch", "aarch64")
    assert result.returncode == 0
    assert "test_answer_from_the_setup_header PASSED" in result.stdout
    assert "test_runs_on[aarch64] PASSED" in result.stdout
    assert "Wheel tests passed" in result.stdout
