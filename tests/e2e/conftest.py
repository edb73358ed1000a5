"""Shared fixtures of the end-to-end suite: the executable under test, small
temporary projects with fake programs (fakes/) on PATH, and a
pseudo-terminal to run it on."""

from __future__ import annotations

import fcntl
import json
import os
import pty
import py_compile
import selectors
import signal
import subprocess
import sys
import termios
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable, Sequence

import pytest

SOURCE_DIR = Path(os.environ.get("TOLVO_SOURCE_DIR", Path(__file__).resolve().parents[2]))
FAKES = Path(__file__).resolve().parent / "fakes"


def _find_tolvo() -> Path:
    configured = os.environ.get("TOLVO")
    if configured:
        return Path(configured)
    return SOURCE_DIR / "build" / "tolvo"


TOLVO = _find_tolvo()

# A suite started in the background by a shell without job control inherits
# SIGINT and SIGQUIT ignored, and tolvo rightly keeps an ignored signal
# ignored; the interruption tests need the defaults in what they start.
for _number in (signal.SIGINT, signal.SIGQUIT):
    if signal.getsignal(_number) == signal.SIG_IGN:
        signal.signal(_number, signal.SIG_DFL)


@pytest.fixture(scope="session")
def tolvo_bin() -> Path:
    if not TOLVO.is_file():
        pytest.fail(f"tolvo executable not found at {TOLVO}; build it or set TOLVO")
    return TOLVO


def run_tolvo(*args: str, cwd: Path | str | None = None, env: dict[str, str] | None = None,
              timeout: float = 60, **popen: Any) -> subprocess.CompletedProcess[str]:
    """Runs the executable with captured text output; `popen` goes to
    subprocess.run as it is (user, group, extra_groups...)."""
    return subprocess.run([str(TOLVO), *args], cwd=cwd, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=timeout, **popen)


# ---- projects with fake programs ------------------------------------------------

@dataclass
class Call:
    """One start of a fake program, as it recorded itself."""
    argv: list[str]
    role: str
    pid: int
    start_time: str
    inherited: list
    hang: bool
    pythonpath: str | None
    start: float
    end: float | None = None

    def is_running(self) -> bool:
        """Whether the process still exists (a zombie counts); another one
        that reuses the pid does not."""
        try:
            stat = Path(f"/proc/{self.pid}/stat").read_text()
        except OSError:
            return False
        return stat.rsplit(")", 1)[1].split()[19] == self.start_time


def read_calls(log: Path) -> list[Call]:
    calls: dict[int, Call] = {}
    text = log.read_text() if log.exists() else ""
    for line in text.splitlines(keepends=True):
        if not line.endswith("\n"):
            break  # still being written
        record = json.loads(line)
        if "end" in record:
            calls[record["pid"]].end = record["end"]
        else:
            calls[record["pid"]] = Call(**record)
    return list(calls.values())


def assert_no_leftovers(calls: list[Call], roles: set[str]) -> None:
    """Every role in `roles` was started, and no fake still runs or inherited
    a descriptor beyond the standard three."""
    assert roles <= {call.role for call in calls}
    for call in calls:
        assert not call.is_running(), call
        assert call.inherited == [], call


def fake_settings(role: str, **settings: str) -> dict[str, str]:
    """The variables that make the fakes in `role` act as `settings` say
    (see fakes/fakelib.py): fake_settings("ruff", RC="3")."""
    prefix = "FAKE_" + role.upper().replace("-", "_") + "_"
    return {prefix + what: value for what, value in settings.items()}


# The sanitizer stages hand their options (report files) to the executable
# through these; every other variable stays out of the tests' environment.
PASSED_THROUGH = ("ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS")


class FakeProject:
    """A project directory beside copies of the fake programs, whose
    directory is all of PATH: nothing installed on the machine is found.
    Options of the fakes go into `env` or as keywords to `run`."""

    def __init__(self, root: Path, pyproject: str | None, interpreter: str = sys.executable) -> None:
        self.root = root
        self.dir = root / "project"
        self.bin = root / "bin"
        self.log = root / "calls.jsonl"
        self.dir.mkdir(parents=True)
        self.bin.mkdir()
        # Copies, so that a test may change or remove one; each runs with the
        # given interpreter, whatever python PATH would find.
        for source in FAKES.iterdir():
            if source.is_file():
                text = source.read_text()
                if text.startswith("#!"):
                    text = f"#!{interpreter} -SB\n" + text.split("\n", 1)[1]
                (self.bin / source.name).write_text(text)
                (self.bin / source.name).chmod(source.stat().st_mode & 0o777)
        for module in self.bin.glob("*.py"):
            py_compile.compile(str(module))  # once here, not at every start of a fake
        if pyproject is not None:
            self.write("pyproject.toml", pyproject)
        self.env = {"PATH": str(self.bin), "FAKE_LOG": str(self.log), "LC_ALL": "C.UTF-8",
                    **{name: os.environ[name] for name in PASSED_THROUGH if name in os.environ}}

    @property
    def venv(self) -> str:
        """The environment directory as tolvo names it: absolute, links resolved."""
        return str(self.dir.resolve() / ".venv")

    def write(self, relative: str, content: str | bytes = "") -> Path:
        path = self.dir / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(content, bytes):
            path.write_bytes(content)
        else:
            path.write_text(content)
        return path

    def fake_venv(self, pip: bool = True) -> None:
        """A complete environment as the default refresh sees it: the links the
        fake "python -m venv" lays out, without its pyvenv.cfg and
        site-packages, so that pip installs nothing in it."""
        (self.dir / ".venv" / "bin").mkdir(parents=True)
        for tool in ("python", "pip") if pip else ("python",):
            (self.dir / ".venv" / "bin" / tool).symlink_to(self.bin / tool)

    def run(self, *args: str, timeout: float = 60, **env: str) -> subprocess.CompletedProcess[str]:
        return run_tolvo(*args, cwd=self.dir, env={**self.env, **env}, timeout=timeout)

    def calls(self) -> list[Call]:
        return read_calls(self.log)

    def lines(self) -> list[str]:
        """The calls as command lines, programs on PATH by their name and those
        in the project by their relative path."""
        lines = []
        for call in self.calls():
            program = Path(call.argv[0])
            if program.parent == self.bin:
                program = Path(program.name)
            elif program.is_relative_to(self.dir.resolve()):
                program = program.relative_to(self.dir.resolve())
            lines.append(" ".join([str(program), *call.argv[1:]]))
        return lines


@pytest.fixture
def fake_project(tmp_path: Path, tolvo_bin: Path, request: pytest.FixtureRequest) -> FakeProject:
    """A FakeProject with the PYPROJECT of the test's module, if it has one."""
    return FakeProject(tmp_path, getattr(request.module, "PYPROJECT", None))


# ---- the pseudo-terminal ----------------------------------------------------------

@dataclass
class Outcome:
    returncode: int
    stdout: bytes  # when standard output was not the terminal
    stderr: bytes
    shown: bytes = b""  # what the terminal showed: echoed input and output

    @property
    def out(self) -> str:
        return self.stdout.decode("utf-8", "surrogateescape")

    @property
    def err(self) -> str:
        return self.stderr.decode("utf-8", "surrogateescape")

    @property
    def text(self) -> str:
        """What the terminal showed, its line ends read as "\\n"."""
        return self.shown.decode().replace("\r\n", "\n")


def run_on_pty(args: Sequence[str], cwd: Path, env: dict[str, str] | None = None, *, typed: str = "",
               stdin_on_pty: bool = True, stdout_on_pty: bool = True, controlling: bool = False,
               preexec_fn: Callable[[], None] | None = None,
               while_running: Callable[[int, bytes, int], None] | None = None,
               timeout: float = 60) -> Outcome:
    """Runs tolvo with standard input, output or both on a pseudo-terminal
    and standard error on a pipe. `typed` waits in the terminal until read
    ("\\x04" at the start of a line is the end of input). `controlling`
    makes the terminal the controlling one of a new session, so that Ctrl-C
    typed there interrupts. Until every stream has ended, `while_running` is
    called again and again with the terminal, what it showed so far and the
    pid of tolvo. The terminal is an xterm unless `env` names a TERM."""
    primary, secondary = pty.openpty()
    if env is not None and "TERM" not in env:
        env = {**env, "TERM": "xterm"}

    def prepare() -> None:
        if controlling:
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)  # after setsid, by start_new_session
        if preexec_fn is not None:
            preexec_fn()

    try:
        proc = subprocess.Popen([str(TOLVO), *args], cwd=cwd, env=env,
                                stdin=secondary if stdin_on_pty else subprocess.DEVNULL,
                                stdout=secondary if stdout_on_pty else subprocess.PIPE,
                                stderr=subprocess.PIPE, start_new_session=controlling,
                                preexec_fn=prepare if controlling or preexec_fn else None)
    finally:
        os.close(secondary)
    received = {primary: bytearray(), "stdout": bytearray(), "stderr": bytearray()}
    deadline = time.monotonic() + timeout
    try:
        os.write(primary, typed.encode())
        with selectors.DefaultSelector() as selector:
            selector.register(primary, selectors.EVENT_READ, primary)
            for name in ("stdout", "stderr"):
                if getattr(proc, name) is not None:
                    selector.register(getattr(proc, name), selectors.EVENT_READ, name)
            while selector.get_map():
                if while_running is not None:
                    while_running(primary, bytes(received[primary]), proc.pid)
                if time.monotonic() > deadline:
                    pytest.fail(f"tolvo did not end within {timeout} s; shown: {bytes(received[primary])!r}")
                for key, _ in selector.select(0.05):
                    try:
                        data = os.read(key.fd, 65536)
                    except OSError:  # EIO: every holder of the terminal has gone
                        data = b""
                    if data:
                        received[key.data] += data
                    else:
                        selector.unregister(key.fileobj)
        returncode = proc.wait(timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        os.close(primary)
        for stream in (proc.stdout, proc.stderr):
            if stream is not None:
                stream.close()
    return Outcome(returncode, bytes(received["stdout"]), bytes(received["stderr"]), bytes(received[primary]))
