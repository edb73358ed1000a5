"""A catalogue of bad inputs, one table row each, run against the executable.

Every row runs tolvo once in a fresh sandbox (a project, a sentinel
directory outside it and the fake programs) and checks the exit
status, that standard error carries exactly one clear message naming the
problem, that nothing crashed, and that the sandbox is unchanged byte for
byte outside the paths the command may change."""

from __future__ import annotations

import fnmatch
import hashlib
import os
import shutil
import stat
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable

import pytest

from conftest import TOLVO, FakeProject, Outcome, fake_settings, run_on_pty

RUN_TIMEOUT = 120
NOBODY = 65534
HUGE = 20 * 1024 * 1024
MIB5 = 5 * 1024 * 1024
FLOOD = f"err:{MIB5},out:{HUGE},err:{MIB5}"  # stderr first: both pipes must be drained at once

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

class Sandbox(FakeProject):
    def __init__(self, root: Path, interpreter: str) -> None:
        super().__init__(root, None, interpreter)
        self.outside = root / "outside"
        (self.outside / "pkg" / "__pycache__").mkdir(parents=True)
        (self.outside / "sentinel.txt").write_text("keep\n")
        (self.outside / "keep.pyc").write_bytes(b"\x00bytecode")
        (self.outside / "pkg" / "__pycache__" / "m.cpython-311.pyc").write_bytes(b"\x00cache")

    def link(self, relative: str, target: str | Path) -> None:
        path = self.dir / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.symlink_to(target)


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
    if answers:
        typed = "".join(answer if answer == "\x04" else answer + "\n" for answer in answers)
        return run_on_pty(args, cwd, env, typed=typed, stdout_on_pty=False, preexec_fn=preexec, timeout=RUN_TIMEOUT)
    done = subprocess.run([str(TOLVO), *args], cwd=cwd, env=env, capture_output=True, stdin=subprocess.DEVNULL,
                          timeout=RUN_TIMEOUT, preexec_fn=preexec)
    return Outcome(done.returncode, done.stdout, done.stderr)


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
    env: dict[str, str] = field(default_factory=dict)
    path: str = "fakes"
    stdin: str = "devnull"  # or "closed"; typed `answers` put it on a terminal
    answers: tuple[str, ...] = ()
    unprivileged: bool = False
    check: Callable[[Sandbox, Outcome], None] | None = None
    stdout_has: str = ""

    def __str__(self) -> str:
        return self.id


LOGS = ("calls.jsonl",)
VENV = ("project/.venv", "project/.venv/*", *LOGS)
# The lock that keeps a second tolvo out of .venv is taken before its first step.
LOCK = ("project/.venv", "project/.venv/tolvo.lock", *LOGS)
INIT = ("project/pyproject.toml", "project/demo", "project/demo/*", "project/.github", "project/.github/*",
        "project/tests", "project/tests/*")
INIT_ANSWERS = ("demo", "A demo", "Ann", "ann@example.org", "MIT")

# ---- the table -----------------------------------------------------------------

def usage(case_id: str, args: tuple[str, ...], message: str, **extra) -> Case:
    return Case(case_id, args, 2, "usage", message, **extra)


def choices(*names: str) -> str:
    return "(choose from " + ", ".join(f"'{name}'" for name in names) + ")"


COMMANDS = choices("requirements", "test", "build", "clean", "lint", "status", "config-diff", "init")
LIBCS = choices("glibc", "musl")

# The message is the last line of the usage error, in full.
COMMAND_LINE = [
    usage("no-arguments", (), "tolvo: error: the following arguments are required: command"),
    usage("unknown-command", ("deploy",), f"tolvo: error: argument command: invalid choice: 'deploy' {COMMANDS}"),
    usage("command-abbreviated", ("stat",), f"tolvo: error: argument command: invalid choice: 'stat' {COMMANDS}"),
    usage("command-wrong-case", ("Status",), f"tolvo: error: argument command: invalid choice: 'Status' {COMMANDS}"),
    usage("unknown-top-level-option", ("--verbose", "status"), "tolvo: error: unrecognized arguments: --verbose"),
    usage("unknown-short-option", ("-x", "status"), "tolvo: error: unrecognized arguments: -x"),
    usage("unknown-command-option", ("clean", "--force"), "tolvo clean: error: unrecognized arguments: --force"),
    usage("top-level-option-after-command", ("status", "-C", "x"),
          "tolvo status: error: unrecognized arguments: -C x"),
    usage("directory-without-value", ("-C",), "tolvo: error: argument -C/--directory: expected one argument"),
    usage("directory-value-is-an-option", ("--directory", "--version"),
          "tolvo: error: argument -C/--directory: expected one argument"),
    usage("arch-without-value", ("test", "--arch"), "tolvo test: error: argument --arch: expected one argument"),
    usage("python-value-is-an-option", ("build", "--python", "--wheel"),
          "tolvo build: error: argument --python: expected one argument"),
    usage("init-name-without-value", ("init", "--name"), "tolvo init: error: argument --name: expected one argument"),
    usage("test-bad-libc", ("test", "--libc", "bionic"),
          f"tolvo test: error: argument --libc: invalid choice: 'bionic' {LIBCS}"),
    usage("build-bad-libc-attached", ("build", "--libc=uclibc"),
          f"tolvo build: error: argument --libc: invalid choice: 'uclibc' {LIBCS}"),
    usage("ambiguous-build-option", ("build", "--s"),
          "tolvo build: error: ambiguous option: --s could match --sdist, --setup"),
    usage("ambiguous-init-option", ("init", "--author", "x"),
          "tolvo init: error: ambiguous option: --author could match --author-name, --author-email"),
    usage("flag-with-value", ("build", "--sdist=yes"),
          "tolvo build: error: argument --sdist: ignored explicit argument 'yes'"),
    usage("surplus-test-path", ("test", "one", "two"), "tolvo test: error: unrecognized arguments: two"),
    usage("positional-to-status", ("status", "extra"), "tolvo status: error: unrecognized arguments: extra"),
    usage("lint-misspelt-fix", ("lint", "--fox"), "tolvo lint: error: unrecognized arguments: --fox"),
    usage("unknown-installer", ("--installer", "conda", "test"),
          "tolvo: error: argument --installer: invalid choice: 'conda' (choose from 'pip', 'uv')"),
]


def _nothing_printed(s: Sandbox, outcome: Outcome) -> None:
    assert outcome.stdout == b""


def _dist_and_cache(s: Sandbox) -> None:
    s.write("dist/x-0.1.tar.gz", "old")
    s.write("pkg/__pycache__/m.pyc", "cache")


DIRECTORY = [
    Case("directory-missing", ("-C", "nowhere", "clean"), 1, "error",
         "cannot change to directory 'nowhere': No such file or directory", setup=_dist_and_cache,
         check=_nothing_printed),
    Case("directory-is-a-file", ("--directory=plain", "clean"), 1, "error",
         "cannot change to directory 'plain': Not a directory", setup=lambda s: s.write("plain", "x"),
         check=_nothing_printed),
    Case("directory-dangling-link", ("-C", "gone", "clean"), 1, "error", "cannot change to directory 'gone'",
         setup=lambda s: s.link("gone", s.root / "nothing-here")),
    Case("directory-not-searchable", ("-C", "locked", "clean"), 1, "error", "'locked': Permission denied",
         setup=lambda s: (s.write("locked/dist/x", "x"), (s.dir / "locked").chmod(0o600)),
         unprivileged=True),
]


def _pyproject_directory(s: Sandbox) -> None:
    (s.dir / "pyproject.toml").mkdir()


def _dangling_pyproject(s: Sandbox) -> None:
    s.link("pyproject.toml", s.outside / "absent.toml")


def _unreadable_pyproject(s: Sandbox) -> None:
    (s.dir / "pyproject.toml").chmod(0)


def _deep(depth: int) -> str:
    return "x = " + "[" * depth + "]" * depth + "\n"


_TOO_MANY_PARTS = "too deep to read: a dotted key or table header of more than 64 parts"
_TOO_DEEP = "too deep to read: arrays and inline tables nested more than 32 deep"
_DEEP_MARKER = "(" * 20000 + "python_version >= '3'" + ")" * 20000


PYPROJECT_FILE = [
    Case("pyproject-missing", ("status",), 1, "error", "pyproject.toml not found", pyproject=None,
         check=_nothing_printed),
    Case("pyproject-is-a-directory", ("status",), 1, "error", "pyproject.toml': Is a directory", pyproject=None,
         setup=_pyproject_directory),
    Case("pyproject-dangling-link", ("config-diff",), 1, "error", "pyproject.toml not found", pyproject=None,
         setup=_dangling_pyproject),
    Case("pyproject-unreadable", ("status",), 1, "error", "pyproject.toml': Permission denied",
         setup=_unreadable_pyproject, unprivileged=True),
    Case("pyproject-a-fifo", ("status",), 1, "error", "pyproject.toml': not a regular file", pyproject=None,
         setup=lambda s: os.mkfifo(s.dir / "pyproject.toml")),
    Case("pyproject-links-to-a-device", ("config-diff",), 1, "error", "pyproject.toml': not a regular file",
         pyproject=None, setup=lambda s: s.link("pyproject.toml", "/dev/zero")),
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
    Case("toml-deeply-nested-arrays", ("status",), 1, "error", _TOO_DEEP + " (line 4, column 37)",
         pyproject='[project]\nname = "a"\nversion = "1"\n' + _deep(100000)),
    Case("toml-deeply-nested-tables", ("status",), 1, "error", _TOO_DEEP,
         pyproject='[project]\nname = "a"\nversion = "1"\n' + "y = " + "{a = " * 100000 + "1" + "}" * 100000 + "\n"),
    # Shapes that once overflowed the stack: refused by the limits that
    # keep the tree shallow enough for toml++ and tolvo's own walks.
    Case("toml-dotted-key-of-300000-parts", ("config-diff",), 1, "error", _TOO_MANY_PARTS,
         pyproject=GOOD + "k" + ".k" * 299999 + " = 1\n"),
    Case("toml-table-header-of-300000-parts", ("status",), 1, "error", _TOO_MANY_PARTS,
         pyproject=GOOD + "[[k" + ".k" * 299999 + "]]\n"),
    Case("name-a-table-30000-deep", ("status",), 1, "error", _TOO_MANY_PARTS,
         pyproject='[project]\nversion = "1"\nname' + ".a" * 30000 + " = 1\n"),
    Case("toml-long-dotted-keys-in-nested-inline-tables", ("status",), 1, "error", _TOO_MANY_PARTS,
         pyproject=GOOD + "x = " + ("{" + "a." * 699 + "a = ") * 250 + "1" + "}" * 250 + "\n"),
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
    Case("test-without-project", ("test",), 1, "error", "no pyproject.toml, setup.py or setup.cfg", pyproject=None),
    Case("test-groups-unknown-name", ("test",), 1, "error", "Unknown extra 'tests'. Available: dev, test",
         pyproject=GOOD + '[tool.tolvo]\ntest-groups = ["test", "tests"]\n'),
    Case("test-groups-a-string", ("test",), 1, "error", "'tool.tolvo.test-groups' is not an array: 'tests'",
         pyproject=GOOD + '[tool.tolvo]\ntest-groups = "tests"\n'),
    Case("system-site-packages-a-string", ("requirements",), 1, "error",
         "'tool.tolvo.system-site-packages' is not a boolean: 'false'",
         pyproject=GOOD + '[tool.tolvo]\nsystem-site-packages = "false"\n'),
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
    Case("requires-a-string", ("config-diff",), 1, "error",
         "'build-system.requires' is not an array: 'setuptools>=77'",
         pyproject=variant('requires = ["setuptools>=77"]', 'requires = "setuptools>=77"')),
    Case("requirement-malformed", ("config-diff",), 1, "error", "setuptools>==",
         pyproject=variant('requires = ["setuptools>=77"]', 'requires = ["setuptools>=="]')),
    Case("marker-malformed", ("config-diff",), 1, "error", "python_version",
         pyproject=variant('test = ["pytest>=8"]', "test = [\"pytest; python_version >> '3'\"]")),
    Case("marker-nested-20000-deep-in-test-group", ("config-diff",), 1, "error",
         "parentheses nested more than 100 deep",
         pyproject=variant('test = ["pytest>=8"]', f'test = ["pytest; {_DEEP_MARKER}"]')),
    Case("marker-nested-20000-deep-in-build-requirements", ("config-diff",), 1, "error",
         "parentheses nested more than 100 deep",
         pyproject=variant('requires = ["setuptools>=77"]', f'requires = ["setuptools>=77; {_DEEP_MARKER}"]')),
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


def _wheel(s: Sandbox) -> None:
    s.write("dist/demo-1.0-py3-none-any.whl", "")


def _huge_output_shown(s: Sandbox, outcome: Outcome) -> None:
    # Every byte of both streams arrives, in one piece each.
    assert b"o" * HUGE in outcome.stdout
    assert outcome.stderr.count(b"e" * MIB5) == 2


def _binary_output_shown(s: Sandbox, outcome: Outcome) -> None:
    assert b"out \xff\xfe end\n" in outcome.stdout
    assert b"err \x80\xc1 end\n" in outcome.stderr


def _captured_output_shown(s: Sandbox, outcome: Outcome) -> None:
    assert b"captured out\n" in outcome.stdout
    assert b"captured err\n" in outcome.stderr


def _not_run(*roles: str) -> Callable[[Sandbox, Outcome], None]:
    def check(s: Sandbox, outcome: Outcome) -> None:
        assert [call.argv for call in s.calls() if call.role in roles] == []

    return check


CONTAINERS = ("binfmt", "container")
CAPTURED = {"OUT": "captured out\n", "ERR": "captured err\n"}


PROGRAMS_AND_CHILDREN = [
    Case("no-python-on-path", ("requirements",), 1, "error", "cannot run 'python'", path="empty", may_change=LOCK),
    Case("python-not-executable", ("status",), 1, "error", "'python': Permission denied",
         setup=lambda s: (s.bin / "python").chmod(0o644), may_change=LOCK),
    Case("venv-without-pip", ("requirements",), 1, "error", ".venv/bin/python -m pip install --upgrade pip",
         env={"FAKE_VENV_NO_PIP": "1"}, may_change=VENV),
    Case("venv-pip-removed", ("lint",), 1, "error", ".venv/bin/python -m pip install --upgrade pip",
         setup=lambda s: s.fake_venv(pip=False), env={"FAKE_VENV_NO_PIP": "1"}, may_change=VENV),
    Case("no-docker-for-wheel-test", ("test", "--wheel"), 1, "plain", "Error: Docker is not available",
         path="empty", setup=_wheel),
    Case("docker-not-executable", ("test", "--wheel"), 1, "error", "'docker': Permission denied",
         setup=lambda s: (_wheel(s), (s.bin / "docker").chmod(0o644))),
    Case("venv-symlink-loop", ("requirements",), 1, "error", ".venv", setup=lambda s: s.link(".venv", ".venv")),
    Case("lint-without-pyproject", ("lint",), 1, "error", "pyproject.toml not found", pyproject=None,
         may_change=VENV),
    Case("config-diff-without-pyproject", ("config-diff",), 1, "error", "pyproject.toml not found", pyproject=None),
    Case("linter-huge-output", ("lint",), 1, "quiet", stdout_has="ruff: FAIL (3)\n", may_change=VENV,
         env=fake_settings("ruff", FLOOD=FLOOD, RC="3"), check=_huge_output_shown),
    Case("linter-killed", ("lint",), 1, "quiet", stdout_has="dodgy: FAIL (-9)\n", may_change=VENV,
         env=fake_settings("dodgy", SIGNAL="KILL")),
    Case("failing-install-step", ("requirements",), 1, "error", "failed with exit status 3",
         env=fake_settings("install", RC="3", **CAPTURED), may_change=VENV, check=_captured_output_shown),
    Case("failing-uv-install-step", ("--installer", "uv", "requirements"), 1, "error", "failed with exit status 3",
         env=fake_settings("install", RC="3", **CAPTURED), may_change=VENV, check=_captured_output_shown),
    Case("uv-missing", ("--installer", "uv", "test"), 1, "plain",
         "Error: uv not found on PATH or beside tolvo; install it with 'pip install \"tolvo[uv]\"' or 'pip install uv'",
         setup=lambda s: (s.bin / "uv").unlink()),
    Case("installer-setting-unknown", ("requirements",), 1, "error",
         "pyproject.toml: 'tool.tolvo.installer': unknown installer 'conda' (expected 'pip' or 'uv')",
         pyproject=GOOD + '[tool.tolvo]\ninstaller = "conda"\n'),
    Case("install-step-killed", ("requirements", "dev"), 1, "error", "died with signal 9",
         env=fake_settings("install", SIGNAL="KILL"), may_change=VENV),
    Case("huge-output-of-failing-step", ("requirements",), 1, "error", "failed with exit status 3",
         env=fake_settings("ensurepip", FLOOD=FLOOD, RC="3"), may_change=VENV, check=_huge_output_shown),
    Case("non-utf8-output-of-failing-step", ("build",), 1, "error", "failed with exit status 3",
         env=fake_settings("build-tools", OUT="out \udcff\udcfe end", ERR="err \udc80\udcc1 end", RC="3"),
         may_change=VENV, check=_binary_output_shown),
    Case("pytest-huge-failing-output", ("test",), 7, "quiet", env=fake_settings("pytest", FLOOD=FLOOD, RC="7"),
         may_change=VENV, check=_huge_output_shown),
    Case("build-container-killed", ("build", "--wheel"), 1, "error", "died with signal 11",
         env=fake_settings("container", SIGNAL="SEGV"), may_change=VENV),
    Case("dist-a-file-for-wheel-test", ("test", "--wheel"), 1, "plain", "Error: No wheel found for architecture x86_64",
         setup=lambda s: s.write("dist", "not a directory"), may_change=LOGS, check=_not_run(*CONTAINERS)),
]


def _outside_link(name: str) -> Callable[[Sandbox], None]:
    def setup(s: Sandbox) -> None:
        s.write("dist/x-0.1.tar.gz", "old")
        s.link(name, s.outside)

    return setup


def _read_only_project(s: Sandbox) -> None:
    s.write("build/lib/a.py", "x")
    s.dir.chmod(0o555)


def _read_only_with_venv(s: Sandbox) -> None:
    s.fake_venv()
    s.dir.chmod(0o555)


def _link_inside_tree(s: Sandbox) -> None:
    s.write("pkg/mod.py", "x")
    s.link("pkg/elsewhere", s.outside)


DEEP = 600


def _deep_tree(s: Sandbox) -> None:
    s.write("deep/" + "d/" * DEEP + "__pycache__/m.pyc", "x")
    s.write("deep/" + "d/" * DEEP + "old.pyc", "x")


def _deep_tree_cleaned(s: Sandbox, outcome: Outcome) -> None:
    bottom = s.dir / "deep" / Path(*["d"] * DEEP)
    assert bottom.is_dir() and list(bottom.iterdir()) == []


def _sentinel_kept(s: Sandbox, outcome: Outcome) -> None:
    assert (s.outside / "sentinel.txt").read_text() == "keep\n"


CLEAN_AND_BUILD = [
    Case("clean-build-links-outside", ("clean",), 1, "error", "cannot remove 'build': Not a directory",
         setup=_outside_link("build"), check=_sentinel_kept),
    Case("clean-dist-links-outside", ("clean",), 1, "error", "cannot remove 'dist': Not a directory",
         setup=lambda s: (s.write("build/a", "x"), s.link("dist", s.outside), s.write(".venv/bin/python", "x")),
         may_change=("project/build", "project/build/*"), check=_sentinel_kept),  # .venv, after dist, stays
    Case("clean-venv-links-outside", ("clean",), 1, "error", "cannot remove '.venv': Not a directory",
         setup=_outside_link(".venv"), may_change=("project/dist", "project/dist/*")),
    Case("clean-egg-info-links-outside", ("clean",), 1, "error", "cannot remove 'demo.egg-info': Not a directory",
         setup=_outside_link("demo.egg-info"), may_change=("project/dist", "project/dist/*")),
    Case("clean-pycache-links-outside", ("clean",), 1, "error", "cannot remove 'pkg/__pycache__'",
         setup=lambda s: s.link("pkg/__pycache__", s.outside / "pkg" / "__pycache__")),
    Case("clean-does-not-follow-links", ("clean",), 0, "quiet", stdout_has="Clean complete",
         setup=_link_inside_tree),
    Case("clean-deep-tree", ("clean",), 0, "quiet", stdout_has="Clean complete", setup=_deep_tree,
         may_change=("project/deep/*__pycache__*", "project/deep/*.pyc"), check=_deep_tree_cleaned),
    Case("clean-dist-a-file", ("clean",), 1, "error", "cannot remove 'dist': Not a directory",
         setup=lambda s: s.write("dist", "file")),
    Case("clean-pyc-a-directory", ("clean",), 1, "error", "cannot remove 'pkg/odd.pyc'",
         setup=lambda s: s.write("pkg/odd.pyc/inner", "x")),
    Case("clean-pycache-a-file", ("clean",), 0, "quiet", stdout_has="Clean complete",
         setup=lambda s: s.write("pkg/__pycache__", "not a cache")),
    # What lies below an entry goes before the entry itself fails to go.
    Case("clean-read-only-project", ("clean",), 1, "error", "cannot remove 'build': Permission denied",
         setup=_read_only_project, unprivileged=True, may_change=("project/build/*",)),
    Case("sdist-dist-a-file", ("build", "--sdist"), 1, "error", "'dist': Not a directory",
         setup=lambda s: s.write("dist", "file"), may_change=VENV, check=_not_run("build")),
    Case("sdist-dist-dangling-link", ("build", "--sdist"), 1, "error", "'dist'",
         setup=lambda s: s.link("dist", s.outside / "absent"), may_change=VENV),
    Case("sdist-read-only-project", ("build", "--sdist"), 1, "error", "'dist': Permission denied",
         setup=_read_only_with_venv, unprivileged=True, may_change=LOCK),
]


INIT_CASES = [
    Case("init-stdin-devnull", ("init", "--name", "demo"), 1, "quiet", stdout_has="usage: tolvo"),
    Case("init-stdin-closed", ("init", "--name", "demo"), 1, "quiet", stdout_has="usage: tolvo", stdin="closed"),
    Case("init-end-of-input", ("init",), 1, "error", "end of input", answers=("demo", "\x04")),
    Case("init-name-with-a-line-break", ("init", "--name=de\nmo"), 1, "error", "contains a control character",
         answers=INIT_ANSWERS[1:]),
    Case("init-read-only-directory", ("init",), 1, "error", "Permission denied", pyproject=None,
         answers=INIT_ANSWERS, setup=lambda s: s.dir.chmod(0o555), unprivileged=True),
    Case("init-pyproject-dangling-link", ("init",), 0, "quiet", pyproject=None, answers=INIT_ANSWERS,
         setup=lambda s: s.link("pyproject.toml", s.outside / "created.toml"), may_change=INIT),
    Case("init-package-links-outside", ("init",), 1, "error", "'demo'", pyproject=None,
         answers=INIT_ANSWERS, setup=lambda s: s.link("demo", s.outside), may_change=INIT),
    Case("init-github-links-outside", ("init",), 1, "error", "'.github'", pyproject=None,
         answers=INIT_ANSWERS, setup=lambda s: s.link(".github", s.outside), may_change=INIT),
    Case("init-workflow-dangling-link", ("init",), 0, "quiet", pyproject=None, answers=INIT_ANSWERS,
         setup=lambda s: s.link(".github/workflows/build.yml", s.outside / "build.yml"), may_change=INIT),
    Case("init-package-is-a-file", ("init",), 1, "error", "'demo'", pyproject=None,
         answers=INIT_ANSWERS, setup=lambda s: s.write("demo", "a file"), may_change=INIT),
]


def _metachar_wheel(name: str) -> Callable[[Sandbox], None]:
    return lambda s: s.write(f"dist/{name}", "")


def _wheel_named_in_one_argument(name: str) -> Callable[[Sandbox, Outcome], None]:
    def check(s: Sandbox, outcome: Outcome) -> None:
        runs = [call.argv[1:] for call in s.calls() if call.role in CONTAINERS]
        assert len(runs) == 1 and runs[0][:2] == ["run", "--rm"]
        script = runs[0][-1]
        escaped = "".join("\\" + c if c in '\\"$`' else c for c in f"dist/{name}")
        assert f'pip install --root-user-action=ignore "{escaped}"[test]\n' in script
        assert f"Testing wheel dist/{name} on python:3.11..." in outcome.out

    return check


def _setup_kept_for_container(s: Sandbox, outcome: Outcome) -> None:
    runs = [call.argv[1:] for call in s.calls() if call.role in CONTAINERS]
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
         setup=_wheel, may_change=VENV if command[0] == "build" else LOGS, check=_not_run("docker-version", *CONTAINERS))
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
def nobody_interpreter(tolvo_bin: Path) -> str | None:
    """A Python the unprivileged user can run the fakes with (this one may
    live in a home it cannot enter), provided it can run tolvo at all."""
    def runs(*command: str) -> bool:
        try:
            return subprocess.run(command, capture_output=True, timeout=RUN_TIMEOUT, preexec_fn=drop_privileges,
                                  cwd="/").returncode == 0
        except OSError:
            return False

    if not runs(str(tolvo_bin), "--version"):
        return None
    return next((python for python in (sys.executable, "/usr/bin/python3") if runs(python, "-S", "-c", "")), None)


@pytest.fixture
def sandbox(case: Case, tmp_path: Path, request: pytest.FixtureRequest):
    if not must_drop_privileges(case):
        yield Sandbox(tmp_path, sys.executable)
        return
    interpreter = request.getfixturevalue("nobody_interpreter")
    if interpreter is None:
        pytest.skip("the unprivileged user cannot run the executable or a Python")
    # A directory of its own that the unprivileged user can reach.
    root = Path(tempfile.mkdtemp(prefix="tolvo-bad-input-"))
    root.chmod(0o755)
    try:
        yield Sandbox(root / "s", interpreter)
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
        assert [line for line in lines if ": error: " in line] == [case.message]
        assert lines[-1] == case.message
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
        s.write("pyproject.toml", case.pyproject)
    if case.setup is not None:
        case.setup(s)
    if case.id == "pyproject-missing" and any((p / "pyproject.toml").exists() for p in s.root.parents):
        pytest.skip("a pyproject.toml stands above the sandbox")
    if must_drop_privileges(case):
        _chown_tree(s.root)
    env = {**s.env, **case.env}
    if case.path == "empty":
        env["PATH"] = str(s.root / "empty")
        (s.root / "empty").mkdir()
    before = snapshot(s.root)
    outcome = run_case([*case.args], s.dir, env, case.stdin, case.answers, must_drop_privileges(case))

    # No crash, whatever the status.
    for sign in CRASH_SIGNS:
        assert sign not in outcome.err, outcome.err[-2000:]
    assert outcome.returncode == case.status, outcome.err[-2000:]
    _assert_report(case, outcome)
    if case.stdout_has:
        assert case.stdout_has in outcome.out
    if case.check is not None:
        case.check(s, outcome)
    after = snapshot(s.root)
    assert unexpected_changes(before, after, case.may_change) == []
