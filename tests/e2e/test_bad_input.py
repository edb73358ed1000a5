"""A catalogue of bad inputs, one table row each, run against the executable.

Every row runs tolvo once in a fresh sandbox (a project, a sentinel
directory outside it and a directory of fake programs) and checks the exit
status, that standard error carries exactly one clear message naming the
problem, that nothing crashed, and that the sandbox is unchanged byte for
byte outside the paths the command may change."""

from __future__ import annotations

import fnmatch
import hashlib
import os
import pty
import shutil
import signal
import stat
import subprocess
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

import pytest

from conftest import TOLVO

RUN_TIMEOUT = 120
NOBODY = 65534
HUGE = 20 * 1024 * 1024

# One fake for every outside program: the base and the environment's python
# and pip, docker and tolvo. It logs each call, lays out a venv for
# "-m venv", and misbehaves when FAKE_FAIL_MATCH (a shell pattern) matches
# "<name> <args>": FAKE_FAIL_SIGNAL kills it, FAKE_FAIL_OUTPUT chooses what it
# writes first ("huge", "binary" or two short lines), FAKE_FAIL_RC is its status.
FAKE = r"""#!/bin/sh
PATH=/usr/bin:/bin
name=$(basename "$0")
line="$name $*"
printf '%s\n' "$line" >> "$FAKE_LOG"
if [ "$name" = docker ]; then
  for a in "$@"; do printf '%s\0' "$a" >> "$FAKE_DOCKER_ARGV"; done
  printf '\036\0' >> "$FAKE_DOCKER_ARGV"
  if [ "$1" = --version ]; then exit "${FAKE_DOCKER_VERSION_RC:-0}"; fi
fi
if [ -n "$FAKE_FAIL_MATCH" ]; then
  case "$line" in $FAKE_FAIL_MATCH)
    case "$FAKE_FAIL_OUTPUT" in
      huge)
        head -c 5242880 /dev/zero | tr '\0' e >&2
        head -c 20971520 /dev/zero | tr '\0' o
        head -c 5242880 /dev/zero | tr '\0' e >&2;;
      binary) printf 'out \377\376 end' ; printf 'err \200\301 end' >&2;;
      *) echo "captured out"; echo "captured err" >&2;;
    esac
    if [ -n "$FAKE_FAIL_SIGNAL" ]; then kill -"$FAKE_FAIL_SIGNAL" $$; sleep 5; fi
    exit "${FAKE_FAIL_RC:-3}";;
  esac
fi
if [ "$name" = python ] && [ "$1" = -m ] && [ "$2" = venv ]; then
  for last in "$@"; do :; done
  mkdir -p "$last/bin" && cp "$0" "$last/bin/python"
  if [ -z "$FAKE_NO_PIP" ]; then cp "$0" "$last/bin/pip"; fi
fi
if [ "$name" = python ] && [ "$*" = "-um build --sdist" ]; then
  echo archive > dist/x-0.1.tar.gz
fi
exit 0
"""

PROGRAMS = ("python", "docker", "tolvo")

GOOD = """\
[build-system]
requires = ["setuptools>=77"]
build-backend = "setuptools.build_meta"

[project]
name = "demo"
version = "1.0"
requires-python = ">=3.11"

[project.optional-dependencies]
test = ["pytest>=8"]
dev = ["ruff"]

[tool.ruff]
exclude = [".venv", ".git", "build", "dist", "wheelhouse", "*.egg-info"]

[tool.pyright]
exclude = [".venv", ".git", "build", "dist", "wheelhouse", "**/__pycache__"]
"""


def variant(old: str, new: str) -> str:
    """GOOD with one passage replaced; the passage must be there."""
    assert old in GOOD, old
    return GOOD.replace(old, new, 1)


# ---- the sandbox and its snapshot --------------------------------------------

class Sandbox:
    def __init__(self, root: Path) -> None:
        self.root = root
        self.project = root / "project"
        self.outside = root / "outside"
        self.tools = root / "tools"
        self.bin = self.tools / "bin"
        self.empty_bin = self.tools / "empty"
        self.log = self.tools / "log"
        self.docker_argv = self.tools / "docker-argv"
        for directory in (self.project, self.outside / "pkg" / "__pycache__", self.bin, self.empty_bin):
            directory.mkdir(parents=True)
        (self.outside / "sentinel.txt").write_text("keep\n")
        (self.outside / "keep.pyc").write_bytes(b"\x00bytecode")
        (self.outside / "pkg" / "__pycache__" / "m.cpython-311.pyc").write_bytes(b"\x00cache")
        for program in PROGRAMS:
            (self.bin / program).write_text(FAKE)
            (self.bin / program).chmod(0o755)

    def write(self, relative: str, content: str | bytes) -> Path:
        path = self.root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(content, bytes):
            path.write_bytes(content)
        else:
            path.write_text(content)
        return path

    def link(self, relative: str, target: str | Path) -> None:
        path = self.root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.symlink_to(target)

    def fake_venv(self, pip: bool = True) -> None:
        for program in ("python", "pip") if pip else ("python",):
            path = self.write(f"project/.venv/bin/{program}", FAKE)
            path.chmod(0o755)

    def calls(self) -> list[str]:
        return self.log.read_text().splitlines() if self.log.exists() else []

    def docker_calls(self) -> list[list[str]]:
        if not self.docker_argv.exists():
            return []
        records = self.docker_argv.read_bytes().split(b"\x1e\x00")
        return [[arg.decode("utf-8", "surrogateescape") for arg in record.split(b"\x00")[:-1]]
                for record in records[:-1]]


def snapshot(root: Path) -> dict[str, tuple]:
    """Every entry below `root`, links not followed: kind, mode, owner and
    content (a digest) or link target."""
    entries: dict[str, tuple] = {}
    for directory, names, files in os.walk(root):
        for name in names + files:
            path = Path(directory) / name
            info = path.lstat()
            kind = stat.S_IFMT(info.st_mode)
            if stat.S_ISLNK(info.st_mode):
                payload = os.readlink(path)
            elif stat.S_ISREG(info.st_mode):
                payload = hashlib.sha256(path.read_bytes()).hexdigest()
            else:
                payload = None
            entries[str(path.relative_to(root))] = (kind, stat.S_IMODE(info.st_mode), info.st_uid, info.st_gid,
                                                    payload)
    return entries


def unexpected_changes(before: dict, after: dict, allowed: tuple[str, ...]) -> list[str]:
    changed = sorted(path for path in before.keys() | after.keys() if before.get(path) != after.get(path))
    return [f"{path}: {before.get(path)} -> {after.get(path)}" for path in changed
            if not any(fnmatch.fnmatchcase(path, pattern) for pattern in allowed)]


# ---- running -----------------------------------------------------------------

@dataclass
class Outcome:
    returncode: int
    stdout: bytes
    stderr: bytes

    @property
    def err(self) -> str:
        return self.stderr.decode("utf-8", "surrogateescape")

    @property
    def out(self) -> str:
        return self.stdout.decode("utf-8", "surrogateescape")


def drop_privileges() -> None:
    os.setgroups([])
    os.setgid(NOBODY)
    os.setuid(NOBODY)


def child_preparation(drop: bool, close_input: bool) -> Callable[[], None] | None:
    """What the child does before exec: become nobody, close standard input."""
    if not drop and not close_input:
        return None

    def prepare() -> None:
        if drop:
            drop_privileges()
        if close_input:
            os.close(0)

    return prepare


def run_case(args: list[str], cwd: Path, env: dict[str, str], stdin: str, answers: tuple[str, ...],
             drop: bool) -> Outcome:
    preexec = child_preparation(drop, stdin == "closed")
    if stdin != "pty":
        try:
            done = subprocess.run([str(TOLVO), *args], cwd=cwd, env=env, capture_output=True,
                                  stdin=subprocess.DEVNULL, timeout=RUN_TIMEOUT, preexec_fn=preexec)
        except subprocess.TimeoutExpired as expired:
            pytest.fail(f"no end within {RUN_TIMEOUT} s: {expired}")
        return Outcome(done.returncode, done.stdout, done.stderr)

    primary, secondary = pty.openpty()
    try:
        child = subprocess.Popen([str(TOLVO), *args], cwd=cwd, env=env, stdin=secondary, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, preexec_fn=preexec)
    finally:
        os.close(secondary)
    try:
        # The terminal keeps typed lines until they are read; Ctrl-D on an
        # empty line is the end of input.
        for answer in answers:
            os.write(primary, answer.encode() + (b"" if answer == "\x04" else b"\n"))
        try:
            out, err = child.communicate(timeout=RUN_TIMEOUT)
        except subprocess.TimeoutExpired:
            child.kill()
            child.communicate()
            pytest.fail(f"no end within {RUN_TIMEOUT} s on a terminal")
    finally:
        os.close(primary)
    return Outcome(child.returncode, out, err)


CRASH_SIGNS = ("terminate called", "Sanitizer", "runtime error:", "Segmentation fault", "core dumped",
               "std::bad_alloc", "Aborted")


@dataclass(frozen=True)
class Case:
    id: str
    args: tuple[str, ...]
    status: int
    # "usage": usage text and one parser error line; "error": one
    # "tolvo: error:" line; "plain": one "Error: " line of its own; "quiet":
    # no error line at all (a trap that must be passed without harm).
    report: str
    message: str = ""
    pyproject: str | bytes | None = GOOD
    setup: Callable[[Sandbox], None] | None = None
    may_change: tuple[str, ...] = ()
    env: tuple[tuple[str, str], ...] = ()
    path: str = "fakes"
    stdin: str = "devnull"
    answers: tuple[str, ...] = ()
    unprivileged: bool = False
    cwd: str = "project"
    check: Callable[[Sandbox, Outcome], None] | None = None
    stdout_has: str = ""

    def __str__(self) -> str:
        return self.id


VENV = ("project/.venv", "project/.venv/*", "tools/log", "tools/docker-argv")
LOGS = ("tools/log", "tools/docker-argv")
INIT = ("project/pyproject.toml", "project/demo", "project/demo/*", "project/.github", "project/.github/*")
INIT_ANSWERS = ("demo", "A demo", "Ann", "ann@example.org", "MIT")

# ---- the table -----------------------------------------------------------------

def usage(case_id: str, args: tuple[str, ...], message: str, **extra) -> Case:
    return Case(case_id, args, 2, "usage", message, **extra)


COMMAND_LINE = [
    usage("no-arguments", (), "tolvo: error: the following arguments are required: command"),
    usage("unknown-command", ("deploy",), "invalid choice: 'deploy'"),
    usage("command-abbreviated", ("stat",), "invalid choice: 'stat'"),
    usage("command-wrong-case", ("Status",), "invalid choice: 'Status'"),
    usage("unknown-top-level-option", ("--verbose", "status"), "unrecognized arguments: --verbose"),
    usage("unknown-short-option", ("-x", "status"), "unrecognized arguments: -x"),
    usage("unknown-command-option", ("clean", "--force"), "tolvo clean: error: unrecognized arguments: --force"),
    usage("top-level-option-after-command", ("status", "-C", "x"), "tolvo status: error: unrecognized arguments"),
    usage("directory-without-value", ("-C",), "argument -C/--directory: expected one argument"),
    usage("directory-value-is-an-option", ("--directory", "--version"),
          "argument -C/--directory: expected one argument"),
    usage("arch-without-value", ("test", "--arch"), "tolvo test: error: argument --arch: expected one argument"),
    usage("python-value-is-an-option", ("build", "--python", "--wheel"), "argument --python: expected one argument"),
    usage("init-name-without-value", ("init", "--name"), "argument --name: expected one argument"),
    usage("test-bad-libc", ("test", "--libc", "bionic"), "argument --libc: invalid choice: 'bionic'"),
    usage("build-bad-libc-attached", ("build", "--libc=uclibc"), "argument --libc: invalid choice: 'uclibc'"),
    usage("ambiguous-build-option", ("build", "--s"), "ambiguous option: --s could match --sdist, --setup"),
    usage("ambiguous-init-option", ("init", "--author", "x"), "ambiguous option: --author could match"),
    usage("flag-with-value", ("build", "--sdist=yes"), "argument --sdist: ignored explicit argument 'yes'"),
    usage("surplus-test-path", ("test", "one", "two"), "tolvo test: error: unrecognized arguments: two"),
    usage("positional-to-status", ("status", "extra"), "tolvo status: error: unrecognized arguments: extra"),
    usage("lint-misspelt-fix", ("lint", "--fox"), "tolvo lint: error: unrecognized arguments: --fox"),
]


def _dist_and_cache(s: Sandbox) -> None:
    s.write("project/dist/x-0.1.tar.gz", "old")
    s.write("project/pkg/__pycache__/m.pyc", "cache")


DIRECTORY = [
    Case("directory-missing", ("-C", "nowhere", "clean"), 1, "error", "cannot change to directory 'nowhere'",
         setup=_dist_and_cache),
    Case("directory-is-a-file", ("--directory=plain", "clean"), 1, "error", "'plain': Not a directory",
         setup=lambda s: s.write("project/plain", "x")),
    Case("directory-dangling-link", ("-C", "gone", "clean"), 1, "error", "cannot change to directory 'gone'",
         setup=lambda s: s.link("project/gone", s.root / "nothing-here")),
    Case("directory-not-searchable", ("-C", "locked", "clean"), 1, "error", "'locked': Permission denied",
         setup=lambda s: (s.write("project/locked/dist/x", "x"), (s.project / "locked").chmod(0o600)),
         unprivileged=True),
]


def _pyproject_directory(s: Sandbox) -> None:
    (s.project / "pyproject.toml").mkdir()


def _dangling_pyproject(s: Sandbox) -> None:
    s.link("project/pyproject.toml", s.outside / "absent.toml")


def _unreadable_pyproject(s: Sandbox) -> None:
    (s.project / "pyproject.toml").chmod(0)


def _deep(depth: int) -> str:
    return "x = " + "[" * depth + "]" * depth + "\n"


PYPROJECT_FILE = [
    Case("pyproject-missing", ("status",), 1, "error", "pyproject.toml not found", pyproject=None),
    Case("pyproject-is-a-directory", ("status",), 1, "error", "pyproject.toml': Is a directory", pyproject=None,
         setup=_pyproject_directory),
    Case("pyproject-dangling-link", ("config-diff",), 1, "error", "pyproject.toml not found", pyproject=None,
         setup=_dangling_pyproject),
    Case("pyproject-unreadable", ("status",), 1, "error", "pyproject.toml': Permission denied",
         setup=_unreadable_pyproject, unprivileged=True),
    Case("pyproject-a-fifo", ("status",), 1, "error", "pyproject.toml': not a regular file", pyproject=None,
         setup=lambda s: os.mkfifo(s.project / "pyproject.toml")),
    Case("pyproject-links-to-a-device", ("config-diff",), 1, "error", "pyproject.toml': not a regular file",
         pyproject=None, setup=lambda s: s.link("project/pyproject.toml", "/dev/zero")),
    Case("toml-unterminated-string", ("status",), 1, "error", "invalid TOML",
         pyproject='[project]\nname = "demo\nversion = "1"\n'),
    Case("toml-not-utf8", ("status",), 1, "error", "invalid TOML",
         pyproject=b'[project]\nname = "d\xffmo"\nversion = "1"\n'),
    Case("toml-nul-byte", ("status",), 1, "error", "invalid TOML",
         pyproject=b'[project]\nname = "demo"\x00\nversion = "1"\n'),
    Case("toml-duplicate-key", ("status",), 1, "error", "invalid TOML",
         pyproject='[project]\nname = "a"\nname = "b"\nversion = "1"\n'),
    Case("toml-table-defined-twice", ("requirements",), 1, "error", "invalid TOML",
         pyproject='[project]\nname = "a"\n[project]\nversion = "1"\n'),
    Case("toml-deeply-nested-arrays", ("status",), 1, "error", "invalid TOML",
         pyproject='[project]\nname = "a"\nversion = "1"\n' + _deep(100000)),
    Case("toml-deeply-nested-tables", ("status",), 1, "error", "invalid TOML",
         pyproject='[project]\nname = "a"\nversion = "1"\n' + "y = " + "{a = " * 100000 + "1" + "}" * 100000 + "\n"),
    # status reads the keys only after obtaining the environment.
    Case("toml-empty-file", ("status",), 1, "error", "missing key 'project'", pyproject="", may_change=VENV),
]

PROJECT_KEYS = [
    Case("project-not-a-table", ("status",), 1, "error", "pyproject.toml: 'project': cannot look up 'name' in 1",
         pyproject='project = 1\n', may_change=VENV),
    Case("project-array-of-tables", ("requirements", "test"), 1, "error", "optional-dependencies",
         pyproject='[[project]]\nname = "demo"\n'),
    Case("name-missing", ("status",), 1, "error", "missing key 'name'", pyproject='[project]\nversion = "1"\n',
         may_change=VENV),
    Case("name-not-a-string", ("status",), 1, "error", "pyproject.toml: 'project.name' is not a string: 5",
         pyproject='[project]\nname = 5\nversion = "1"\n', may_change=VENV),
    Case("version-missing", ("status",), 1, "error", "missing key 'version'", pyproject='[project]\nname = "demo"\n',
         may_change=VENV),
    Case("version-an-integer", ("status",), 1, "error", "'project.version' is not a string: 1",
         pyproject='[project]\nname = "demo"\nversion = 1\n', may_change=VENV),
    Case("version-a-date", ("status",), 1, "error", "'project.version' is not a string: 2024-01-01",
         pyproject='[project]\nname = "demo"\nversion = 2024-01-01\n', may_change=VENV),
    Case("optional-dependencies-an-array", ("requirements", "test"), 1, "error",
         "'project.optional-dependencies' is not a table: ['pytest']",
         pyproject='[project]\nname = "demo"\noptional-dependencies = ["pytest"]\n'),
    Case("extra-group-a-string", ("requirements", "test"), 1, "error",
         "'project.optional-dependencies.test' is not an array: 'pytest'",
         pyproject='[project]\nname = "demo"\n[project.optional-dependencies]\ntest = "pytest"\n'),
    Case("extra-not-utf8", ("requirements", "t\udcffst"), 1, "error", "Unknown extra 't"),
    Case("unknown-extra", ("requirements", "web", "dev"), 1, "error",
         "Unknown extra 'web'. Available: dev, test"),
    Case("extra-in-other-case", ("requirements", "Test"), 1, "error", "Unknown extra 'Test'"),
    Case("extra-without-groups", ("requirements", "test"), 1, "error", "Unknown extra 'test'. Available: ",
         pyproject='[project]\nname = "demo"\nversion = "1"\n'),
    Case("requires-python-an-integer", ("config-diff",), 1, "error", "'project.requires-python' is not a string: 311",
         pyproject=variant('requires-python = ">=3.11"', "requires-python = 311")),
    Case("requires-python-malformed", ("config-diff",), 1, "error", ">=three",
         pyproject=variant('requires-python = ">=3.11"', 'requires-python = ">=three"')
         .replace('test = ["pytest>=8"]', "test = [\"pytest; sys_platform == 'linux'\"]")),
    Case("project-a-string-for-config-diff", ("config-diff",), 1, "error", "'project' is not a table: 'x'",
         pyproject=GOOD.replace("[project]\nname", "[other]\nname").replace(
             "[project.optional-dependencies]", "[x]").replace("[build-system]", 'project = "x"\n[build-system]')),
]

BUILD_SYSTEM_AND_TOOLS = [
    Case("build-system-missing", ("config-diff",), 1, "error", "'build-system'",
         pyproject=variant('[build-system]\nrequires = ["setuptools>=77"]\nbuild-backend = "setuptools.build_meta"\n',
                           "")),
    Case("build-system-a-string", ("config-diff",), 1, "error", "'build-system': cannot look up 'requires'",
         pyproject=variant('[build-system]\nrequires = ["setuptools>=77"]\nbuild-backend = "setuptools.build_meta"\n',
                           'build-system = "setuptools"\n')),
    Case("requires-a-string", ("config-diff",), 1, "error",
         "'build-system.requires' is not an array: 'setuptools>=77'",
         pyproject=variant('requires = ["setuptools>=77"]', 'requires = "setuptools>=77"')),
    Case("requires-missing", ("config-diff",), 1, "error", "'requires'",
         pyproject=variant('requires = ["setuptools>=77"]\n', "")),
    Case("build-backend-an-integer", ("config-diff",), 1, "error", "'build-system.build-backend' is not a string: 7",
         pyproject=variant('build-backend = "setuptools.build_meta"', "build-backend = 7")),
    Case("build-backend-missing", ("config-diff",), 1, "error", "'build-backend'",
         pyproject=variant('build-backend = "setuptools.build_meta"\n', "")),
    Case("tool-missing", ("config-diff",), 1, "error", "'tool'",
         pyproject=GOOD[:GOOD.index("[tool.ruff]")]),
    Case("tool-an-integer", ("config-diff",), 1, "error", "'tool': cannot look up 'pyright' in 3",
         pyproject="tool = 3\n" + GOOD[:GOOD.index("[tool.ruff]")]),
    Case("tool-ruff-a-string", ("config-diff",), 1, "error", "'tool.ruff' is not a table: 'fast'",
         pyproject=GOOD[:GOOD.index("[tool.ruff]")] + '[tool]\nruff = "fast"\n'),
    Case("pyright-exclude-a-string", ("config-diff",), 1, "error", "'tool.pyright.exclude' is not an array: '.venv'",
         pyproject=variant('exclude = [".venv", ".git", "build", "dist", "wheelhouse", "**/__pycache__"]',
                           'exclude = ".venv"')),
    Case("requirement-malformed", ("config-diff",), 1, "error", "setuptools>==",
         pyproject=variant('requires = ["setuptools>=77"]', 'requires = ["setuptools>=="]')),
    Case("requirement-unclosed-extras", ("config-diff",), 1, "error", "pytest[",
         pyproject=variant('test = ["pytest>=8"]', 'test = ["pytest[cov"]')),
    Case("marker-malformed", ("config-diff",), 1, "error", "python_version",
         pyproject=variant('test = ["pytest>=8"]', "test = [\"pytest; python_version >> '3'\"]")),
    Case("wildcard-pin-against-lower-bound", ("config-diff",), 1, "error", "70.*",
         pyproject=variant('requires = ["setuptools>=77"]', 'requires = ["setuptools==70.*"]')),
    Case("requirement-an-inline-table", ("config-diff",), 1, "error", "Invalid requirement: '{'a': 1}'",
         pyproject=variant('test = ["pytest>=8"]', "test = [{a = 1}]")),
    # Items are not type-checked: 42 reads as a distribution named "42",
    # which leaves the template's requirement uncovered.
    Case("requirement-an-integer", ("config-diff",), 1, "quiet",
         stdout_has="build-system.requires: missing coverage for setuptools>=77",
         pyproject=variant('requires = ["setuptools>=77"]', "requires = [42]")),
]


def _not_executable_python(s: Sandbox) -> None:
    (s.bin / "python").chmod(0o644)


def _not_executable_docker(s: Sandbox) -> None:
    (s.bin / "docker").chmod(0o644)
    s.write("project/dist/demo-1.0-py3-none-any.whl", "")


def _wheel(s: Sandbox) -> None:
    s.write("project/dist/demo-1.0-py3-none-any.whl", "")


def _huge_output_shown(s: Sandbox, outcome: Outcome) -> None:
    # Every byte of both streams arrives, in one piece each.
    assert b"o" * HUGE in outcome.stdout
    assert outcome.stderr.count(b"e" * 5242880) == 2


def _binary_output_shown(s: Sandbox, outcome: Outcome) -> None:
    assert b"out \xff\xfe end\n" in outcome.stdout
    assert b"err \x80\xc1 end\n" in outcome.stderr


def _captured_output_shown(s: Sandbox, outcome: Outcome) -> None:
    assert b"captured out\n" in outcome.stdout
    assert b"captured err\n" in outcome.stderr


def _docker_not_run(s: Sandbox, outcome: Outcome) -> None:
    assert [call for call in s.docker_calls() if call != ["--version"]] == []


def _no_docker_call(s: Sandbox, outcome: Outcome) -> None:
    assert s.docker_calls() == []


PROGRAMS_AND_CHILDREN = [
    Case("no-python-on-path", ("requirements",), 1, "error", "cannot run 'python'", path="empty"),
    Case("python-not-executable", ("status",), 1, "error", "'python': Permission denied",
         setup=_not_executable_python),
    Case("venv-without-pip", ("requirements",), 1, "error", ".venv/bin/pip", env=(("FAKE_NO_PIP", "1"),),
         may_change=VENV),
    Case("venv-pip-removed", ("lint",), 1, "error", ".venv/bin/pip", setup=lambda s: s.fake_venv(pip=False),
         env=(("FAKE_NO_PIP", "1"),), may_change=VENV),
    Case("no-docker-for-wheel-test", ("test", "--wheel"), 1, "plain", "Error: Docker is not available",
         path="empty", setup=_wheel),
    Case("docker-not-executable", ("test", "--wheel"), 1, "error", "'docker': Permission denied",
         setup=_not_executable_docker, may_change=LOGS),
    Case("docker-version-fails-for-build", ("build", "--wheel"), 1, "plain", "Error: Docker is not available",
         env=(("FAKE_DOCKER_VERSION_RC", "1"),), may_change=VENV, check=_docker_not_run),
    Case("venv-symlink-loop", ("requirements",), 1, "error", ".venv", setup=lambda s: s.link("project/.venv", ".venv")),
    Case("lint-without-pyproject", ("lint",), 1, "error", "pyproject.toml not found", pyproject=None,
         may_change=VENV),
    Case("config-diff-without-pyproject", ("config-diff",), 1, "error", "pyproject.toml not found", pyproject=None),
    Case("linter-huge-output", ("lint",), 1, "quiet", stdout_has="ruff: FAIL (3)\n", may_change=VENV,
         env=(("FAKE_FAIL_MATCH", "python -um ruff*"), ("FAKE_FAIL_OUTPUT", "huge")), check=_huge_output_shown),
    Case("linter-killed", ("lint",), 1, "quiet", stdout_has="dodgy: FAIL (-9)\n", may_change=VENV,
         env=(("FAKE_FAIL_MATCH", "python -um dodgy*"), ("FAKE_FAIL_SIGNAL", "KILL"))),
    Case("no-tolvo-for-lint", ("lint",), 1, "error", "cannot run 'tolvo'",
         setup=lambda s: (s.bin / "tolvo").unlink(), may_change=VENV),
    Case("failing-install-step", ("requirements",), 1, "error", "returned non-zero exit status 3",
         env=(("FAKE_FAIL_MATCH", "pip install --quiet*"),), may_change=VENV, check=_captured_output_shown),
    Case("install-step-killed", ("requirements", "dev"), 1, "error", "died with signal 9",
         env=(("FAKE_FAIL_MATCH", "pip install --quiet*"), ("FAKE_FAIL_SIGNAL", "KILL")), may_change=VENV),
    Case("huge-output-of-failing-step", ("requirements",), 1, "error", "returned non-zero exit status 3",
         env=(("FAKE_FAIL_MATCH", "python -um ensurepip"), ("FAKE_FAIL_OUTPUT", "huge")), may_change=VENV,
         check=_huge_output_shown),
    Case("non-utf8-output-of-failing-step", ("build",), 1, "error", "returned non-zero exit status 3",
         env=(("FAKE_FAIL_MATCH", "pip install build wheel"), ("FAKE_FAIL_OUTPUT", "binary")), may_change=VENV,
         check=_binary_output_shown),
    Case("pytest-killed-by-sigkill", ("test",), 128 + signal.SIGKILL, "quiet",
         env=(("FAKE_FAIL_MATCH", "python -um pytest*"), ("FAKE_FAIL_SIGNAL", "KILL")), may_change=VENV),
    Case("pytest-killed-by-sigsegv", ("test",), 128 + signal.SIGSEGV, "quiet",
         env=(("FAKE_FAIL_MATCH", "python -um pytest*"), ("FAKE_FAIL_SIGNAL", "SEGV")), may_change=VENV),
    Case("pytest-huge-failing-output", ("test",), 7, "quiet",
         env=(("FAKE_FAIL_MATCH", "python -um pytest*"), ("FAKE_FAIL_OUTPUT", "huge"), ("FAKE_FAIL_RC", "7")),
         may_change=VENV, check=_huge_output_shown),
    Case("sdist-front-end-fails", ("build", "--sdist"), 1, "error", "sdist build failed",
         env=(("FAKE_FAIL_MATCH", "python -um build --sdist"),), may_change=VENV + ("project/dist",)),
    Case("test-container-fails", ("test", "--wheel"), 1, "error", "returned non-zero exit status 2",
         setup=_wheel, env=(("FAKE_FAIL_MATCH", "docker run*"), ("FAKE_FAIL_RC", "2")), may_change=LOGS),
    Case("build-container-killed", ("build", "--wheel"), 1, "error", "died with signal 11",
         env=(("FAKE_FAIL_MATCH", "docker run*"), ("FAKE_FAIL_SIGNAL", "SEGV")), may_change=VENV),
    Case("no-wheel-found", ("test", "--wheel", "--arch", "aarch64"), 1, "error",
         "No wheel found for architecture aarch64", may_change=LOGS, check=_docker_not_run),
    Case("dist-a-file-for-wheel-test", ("test", "--wheel"), 1, "error", "No wheel found for architecture x86_64",
         setup=lambda s: s.write("project/dist", "not a directory"), may_change=LOGS, check=_docker_not_run),
]


def _outside_link(name: str) -> Callable[[Sandbox], None]:
    def setup(s: Sandbox) -> None:
        s.write("project/dist/x-0.1.tar.gz", "old")
        s.link(f"project/{name}", s.outside)

    return setup


def _read_only_project(s: Sandbox) -> None:
    s.write("project/build/lib/a.py", "x")
    s.project.chmod(0o555)


def _read_only_with_venv(s: Sandbox) -> None:
    s.fake_venv()
    s.project.chmod(0o555)


def _link_inside_tree(s: Sandbox) -> None:
    s.write("project/pkg/mod.py", "x")
    s.link("project/pkg/elsewhere", s.outside)


DEEP = 600


def _deep_tree(s: Sandbox) -> None:
    s.write("project/deep/" + "d/" * DEEP + "__pycache__/m.pyc", "x")
    s.write("project/deep/" + "d/" * DEEP + "old.pyc", "x")


def _deep_tree_cleaned(s: Sandbox, outcome: Outcome) -> None:
    bottom = s.project / "deep" / Path(*["d"] * DEEP)
    assert bottom.is_dir() and list(bottom.iterdir()) == []


def _sentinel_kept(s: Sandbox, outcome: Outcome) -> None:
    assert (s.outside / "sentinel.txt").read_text() == "keep\n"


CLEAN_AND_BUILD = [
    Case("clean-build-links-outside", ("clean",), 1, "error", "cannot remove 'build': Not a directory",
         setup=_outside_link("build"), check=_sentinel_kept),
    Case("clean-dist-links-outside", ("clean",), 1, "error", "cannot remove 'dist': Not a directory",
         setup=lambda s: (s.write("project/build/a", "x"), s.link("project/dist", s.outside)),
         may_change=("project/build", "project/build/*"), check=_sentinel_kept),
    Case("clean-venv-links-outside", ("clean",), 1, "error", "cannot remove '.venv': Not a directory",
         setup=_outside_link(".venv"), may_change=("project/dist", "project/dist/*")),
    Case("clean-egg-info-links-outside", ("clean",), 1, "error", "cannot remove 'demo.egg-info': Not a directory",
         setup=_outside_link("demo.egg-info"), may_change=("project/dist", "project/dist/*")),
    Case("clean-pycache-links-outside", ("clean",), 1, "error", "cannot remove 'pkg/__pycache__'",
         setup=lambda s: s.link("project/pkg/__pycache__", s.outside / "pkg" / "__pycache__")),
    Case("clean-does-not-follow-links", ("clean",), 0, "quiet", stdout_has="Clean complete",
         setup=_link_inside_tree),
    Case("clean-deep-tree", ("clean",), 0, "quiet", stdout_has="Clean complete", setup=_deep_tree,
         may_change=("project/deep/*__pycache__*", "project/deep/*.pyc"), check=_deep_tree_cleaned),
    Case("clean-dist-a-file", ("clean",), 1, "error", "cannot remove 'dist': Not a directory",
         setup=lambda s: s.write("project/dist", "file")),
    Case("clean-pyc-a-directory", ("clean",), 1, "error", "cannot remove 'pkg/odd.pyc'",
         setup=lambda s: s.write("project/pkg/odd.pyc/inner", "x")),
    Case("clean-pycache-a-file", ("clean",), 0, "quiet", stdout_has="Clean complete",
         setup=lambda s: s.write("project/pkg/__pycache__", "not a cache")),
    # What lies below an entry goes before the entry itself fails to go.
    Case("clean-read-only-project", ("clean",), 1, "error", "cannot remove 'build': Permission denied",
         setup=_read_only_project, unprivileged=True, may_change=("project/build/*",)),
    Case("sdist-dist-a-file", ("build", "--sdist"), 1, "error", "'dist': Not a directory",
         setup=lambda s: s.write("project/dist", "file"), may_change=VENV),
    Case("sdist-dist-dangling-link", ("build", "--sdist"), 1, "error", "'dist'",
         setup=lambda s: s.link("project/dist", s.outside / "absent"), may_change=VENV),
    Case("sdist-read-only-project", ("build", "--sdist"), 1, "error", "'dist': Permission denied",
         setup=_read_only_with_venv, unprivileged=True, may_change=LOGS),
]


def _init_link(name: str, target: Callable[[Sandbox], Path]) -> Callable[[Sandbox], None]:
    return lambda s: s.link(f"project/{name}", target(s))


INIT_CASES = [
    Case("init-stdin-devnull", ("init", "--name", "demo"), 1, "quiet", stdout_has="usage: tolvo"),
    Case("init-stdin-closed", ("init", "--name", "demo"), 1, "quiet", stdout_has="usage: tolvo", stdin="closed"),
    Case("init-end-of-input", ("init",), 1, "error", "end of input", stdin="pty", answers=("demo", "\x04")),
    Case("init-absolute-name", ("init", "--name=/tmp/tolvo-bad-input-abs"), 1, "error", "absolute path",
         stdin="pty", answers=INIT_ANSWERS[1:]),
    Case("init-read-only-directory", ("init",), 1, "error", "Permission denied", pyproject=None, stdin="pty",
         answers=INIT_ANSWERS, setup=lambda s: s.project.chmod(0o555), unprivileged=True),
    Case("init-pyproject-dangling-link", ("init",), 0, "quiet", pyproject=None, stdin="pty", answers=INIT_ANSWERS,
         setup=_init_link("pyproject.toml", lambda s: s.outside / "created.toml"), may_change=INIT),
    Case("init-package-links-outside", ("init",), 1, "error", "'demo'", pyproject=None, stdin="pty",
         answers=INIT_ANSWERS, setup=_init_link("demo", lambda s: s.outside), may_change=INIT),
    Case("init-github-links-outside", ("init",), 1, "error", "'.github'", pyproject=None, stdin="pty",
         answers=INIT_ANSWERS, setup=_init_link(".github", lambda s: s.outside), may_change=INIT),
    Case("init-workflow-dangling-link", ("init",), 0, "quiet", pyproject=None, stdin="pty", answers=INIT_ANSWERS,
         setup=_init_link(".github/workflows/build.yml", lambda s: s.outside / "build.yml"), may_change=INIT),
    Case("init-package-is-a-file", ("init",), 1, "error", "'demo'", pyproject=None, stdin="pty",
         answers=INIT_ANSWERS, setup=lambda s: s.write("project/demo", "a file"), may_change=INIT),
]


def _metachar_wheel(name: str) -> Callable[[Sandbox], None]:
    return lambda s: s.write(f"project/dist/{name}", "")


def _wheel_named_in_one_argument(name: str) -> Callable[[Sandbox, Outcome], None]:
    def check(s: Sandbox, outcome: Outcome) -> None:
        runs = [call for call in s.docker_calls() if call != ["--version"]]
        assert len(runs) == 1 and runs[0][:2] == ["run", "--rm"]
        script = runs[0][-1]
        escaped = "".join("\\" + c if c in '\\"$`' else c for c in f"dist/{name}")
        assert f'pip install --root-user-action=ignore "{escaped}"[test]\n' in script
        assert f"Testing wheel dist/{name} on python:3.11..." in outcome.out

    return check


def _setup_kept_for_container(s: Sandbox, outcome: Outcome) -> None:
    runs = [call for call in s.docker_calls() if call != ["--version"]]
    assert "touch ../pwned; $(touch ../pwned2)\n" in runs[-1][-1]


WHEELS = [
    Case(f"wheel-name-{label}", ("test", "--wheel"), 0, "quiet", setup=_metachar_wheel(name), may_change=LOGS,
         check=_wheel_named_in_one_argument(name), stdout_has="Wheel tests passed")
    for label, name in (("semicolon", "x;touch pwned.whl"), ("command-substitution", "$(touch pwned).whl"),
                        ("backticks", "`touch pwned`.whl"), ("quotes-and-backslash", 'a"b\\c\'d.whl'))
] + [
    Case("setup-text-stays-in-the-container", ("test", "--wheel", "--setup", "touch ../pwned; $(touch ../pwned2)"), 0,
         "quiet", setup=_wheel, may_change=LOGS, check=_setup_kept_for_container),
] + [
    # Both values are written into the build script; a refused one stops
    # the command before Docker is even asked for its version.
    Case(f"{command[0]}-{label}", (*command, option, value), 1, "error", f"invalid {option} value '{value}'",
         setup=_wheel, may_change=VENV if command[0] == "build" else LOGS, check=_no_docker_call)
    for command in (("build", "--native-wheel"), ("test", "--wheel"))
    for label, option, value in (("arch-with-metacharacters", "--arch", "x86_64;touch pwned"),
                                 ("python-command-substitution", "--python", "3.11$(touch /src/PWNED)"),
                                 ("python-breaking-the-quotes", "--python", '3.11" && touch /src/PWNED && "'),
                                 ("python-not-a-version", "--python", "3.11-slim"))
]

CASES = COMMAND_LINE + DIRECTORY + PYPROJECT_FILE + PROJECT_KEYS + BUILD_SYSTEM_AND_TOOLS + PROGRAMS_AND_CHILDREN \
    + CLEAN_AND_BUILD + INIT_CASES + WHEELS


# ---- the one test ----------------------------------------------------------------

def must_drop_privileges(case: Case) -> bool:
    # Root passes every permission check, so such rows run as nobody; an
    # ordinary user meets them as it is.
    return case.unprivileged and os.geteuid() == 0


@pytest.fixture(scope="session")
def nobody_can_run_tolvo(tolvo_bin: Path) -> bool:
    if os.geteuid() != 0:
        return True
    try:
        probe = subprocess.run([str(tolvo_bin), "--version"], capture_output=True, timeout=RUN_TIMEOUT,
                               preexec_fn=drop_privileges, cwd="/")
    except OSError:
        return False
    return probe.returncode == 0


@pytest.fixture
def sandbox(case: Case, tmp_path: Path, nobody_can_run_tolvo: bool):
    if not must_drop_privileges(case):
        yield Sandbox(tmp_path)
        return
    if not nobody_can_run_tolvo:
        pytest.skip("the unprivileged user cannot run the executable")
    # A directory of its own that the unprivileged user can reach.
    root = Path(tempfile.mkdtemp(prefix="tolvo-bad-input-"))
    root.chmod(0o755)
    try:
        yield Sandbox(root / "s")
    finally:
        for directory, names, _ in os.walk(root):
            for name in names:
                path = Path(directory) / name
                if not path.is_symlink():
                    path.chmod(0o755)
        shutil.rmtree(root)


def _chown_tree(root: Path) -> None:
    os.lchown(root, NOBODY, NOBODY)
    for directory, names, files in os.walk(root):
        for name in names + files:
            os.lchown(Path(directory) / name, NOBODY, NOBODY)


def _assert_report(case: Case, outcome: Outcome) -> None:
    lines = outcome.err.splitlines()
    if case.report == "usage":
        assert outcome.stdout == b""
        assert lines and lines[0].startswith("usage: tolvo")
        errors = [line for line in lines if ": error: " in line]
        assert errors == [lines[-1]]
        assert case.message in lines[-1]
    elif case.report == "error":
        errors = [line for line in lines if line.startswith("tolvo: error:")]
        assert len(errors) == 1, outcome.err[-2000:]
        assert case.message in errors[0]
        assert not any(line.startswith("Error:") for line in lines)
    elif case.report == "plain":
        errors = [line for line in lines if line.startswith(("Error:", "tolvo: error:"))]
        assert errors == [case.message]
    else:
        assert not any(line.startswith(("Error:", "tolvo: error:", "usage:")) for line in lines), outcome.err[-2000:]


@pytest.mark.usefixtures("tolvo_bin")
@pytest.mark.parametrize("case", CASES, ids=str)
def test_bad_input(case: Case, sandbox: Sandbox) -> None:
    s = sandbox
    if case.pyproject is not None:
        s.write("project/pyproject.toml", case.pyproject)
    if case.setup is not None:
        case.setup(s)
    if case.id == "pyproject-missing" and any((p / "pyproject.toml").exists() for p in s.root.parents):
        pytest.skip("a pyproject.toml stands above the sandbox")
    if must_drop_privileges(case):
        _chown_tree(s.root)
    bin_dir = s.empty_bin if case.path == "empty" else s.bin
    # Only the fakes: an outside program must never be found elsewhere on
    # the machine (a real docker, say), whatever is installed.
    env = {"PATH": str(bin_dir), "FAKE_LOG": str(s.log), "FAKE_DOCKER_ARGV": str(s.docker_argv), "LC_ALL": "C.UTF-8",
           **dict(case.env)}
    before = snapshot(s.root)
    started = time.monotonic()
    outcome = run_case([*case.args], s.root / case.cwd, env, case.stdin, case.answers, must_drop_privileges(case))
    elapsed = time.monotonic() - started

    # No crash, whatever the status.
    assert outcome.returncode >= 0, f"ended by signal {-outcome.returncode}"
    if case.status not in (128 + signal.SIGSEGV, 128 + signal.SIGABRT):
        assert outcome.returncode not in (128 + signal.SIGSEGV, 128 + signal.SIGABRT)
    for sign in CRASH_SIGNS:
        assert sign not in outcome.err, outcome.err[-2000:]
    assert (outcome.returncode, elapsed < RUN_TIMEOUT) == (case.status, True), outcome.err[-2000:]
    _assert_report(case, outcome)
    if case.stdout_has:
        assert case.stdout_has in outcome.out
    if case.check is not None:
        case.check(s, outcome)
    after = snapshot(s.root)
    assert unexpected_changes(before, after, case.may_change) == []
