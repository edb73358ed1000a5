"""Interruption and resource hygiene: tolvo on a pseudo-terminal with fake
children that record themselves and sleep, stopped by Ctrl-C (SIGINT to the
terminal's foreground group) or SIGTERM (to tolvo alone). tolvo must end
with 128 + the signal only after its children have, leave the terminal
tidy, and leave no process or open descriptor behind after any command."""

from __future__ import annotations

import fcntl
import json
import os
import pty
import re
import select
import signal
import subprocess
import sys
import termios
import textwrap
import time
from pathlib import Path

import pytest

from conftest import TOLVO, run_tolvo

LINT_LABELS = ["ruff", "basedpyright", "dodgy", "pyroma", "tolvo"]
FRAMES = "\u280b\u2819\u2839\u2838\u283c\u2834\u2826\u2827\u2807\u280f"
CURSOR_UP = "\x1b[1A"

# One program plays the base python, the environment's python and pip, and
# the "tolvo" of the config-diff check. Every start is recorded with the
# descriptors it inherited beyond 0, 1 and 2; the roles named in FAKE_HANG
# write something and then sleep until a signal ends them, those named in
# FAKE_FAIL exit with 3.
FAKE = textwrap.dedent(
    """\
    #!{python} -S
    import os
    inherited = []
    for entry in os.listdir("/proc/self/fd"):
        if int(entry) > 2:
            try:
                inherited.append([int(entry), os.readlink("/proc/self/fd/" + entry)])
            except OSError:
                pass  # the descriptor of the listing itself, closed again
    import json, signal, sys, time
    name = os.path.basename(sys.argv[0])
    args = sys.argv[1:]
    if name == "python" and args[:2] == ["-m", "venv"]:
        role = "venv"
    elif name == "python" and args[:1] == ["-um"]:
        role = args[1]
    elif name == "pip":
        role = {{"--upgrade": "upgrade-pip", "--quiet": "install", "-e": "test-tools"}}.get(args[1], "lint-tools")
    else:
        role = name
    hang = role in os.environ.get("FAKE_HANG", "").split(",")
    with open("/proc/self/stat") as stat:
        start_time = stat.read().rsplit(")", 1)[1].split()[19]
    record = {{"pid": os.getpid(), "start_time": start_time, "role": role, "inherited": inherited, "hang": hang}}
    log = os.path.join(os.environ["FAKE_LOG_DIR"], str(os.getpid()))
    with open(log + ".tmp", "w") as out:
        json.dump(record, out)
    os.rename(log + ".tmp", log + ".json")
    if role == "venv":
        bin_dir = os.path.join(args[-1], "bin")
        os.makedirs(bin_dir, exist_ok=True)
        for tool in ("python", "pip"):
            with open(__file__) as src, open(os.path.join(bin_dir, tool), "w") as dst:
                dst.write(src.read())
            os.chmod(os.path.join(bin_dir, tool), 0o755)
    if hang:
        if os.environ.get("FAKE_IGNORE_SIGNALS"):
            signal.signal(signal.SIGINT, signal.SIG_IGN)
            signal.signal(signal.SIGTERM, signal.SIG_IGN)
        print("captured out", flush=True)
        print("captured err", file=sys.stderr, flush=True)
        try:
            time.sleep(120)
        except KeyboardInterrupt:
            sys.exit(2)  # as pytest ends on Ctrl-C
    if role in os.environ.get("FAKE_FAIL", "").split(","):
        sys.exit(3)
    if role == "pytest":
        print("tests ran")
    sys.exit(0)
    """
).format(python=sys.executable)

PYPROJECT = '[project]\nname = "demo"\nversion = "1.0"\n[project.optional-dependencies]\ntest = ["pytest"]\n'


@pytest.fixture
def project(tmp_path: Path, tolvo_bin: Path) -> Path:
    fake_bin = tmp_path / "bin"
    fake_bin.mkdir()
    for name in ("python", "tolvo"):
        (fake_bin / name).write_text(FAKE)
        (fake_bin / name).chmod(0o755)
    (tmp_path / "logs").mkdir()
    work = tmp_path / "work"
    work.mkdir()
    (work / "pyproject.toml").write_text(PYPROJECT)
    return work


def fake_env(project: Path, **extra: str) -> dict[str, str]:
    env = {"PATH": str(project.parent / "bin"), "FAKE_LOG_DIR": str(project.parent / "logs"), "LANG": "C.UTF-8"}
    env.update(extra)
    return env


def records(project: Path) -> list[dict]:
    return [json.loads(path.read_text()) for path in sorted((project.parent / "logs").glob("*.json"))]


def is_running(record: dict) -> bool:
    """Whether the recorded process still exists (a zombie counts); a
    different process that reuses the pid does not."""
    try:
        stat = Path(f"/proc/{record['pid']}/stat").read_text()
    except OSError:
        return False
    return stat.rsplit(")", 1)[1].split()[19] == record["start_time"]


def assert_hygienic(project: Path, expected_roles: set[str]) -> None:
    started = records(project)
    assert expected_roles <= {record["role"] for record in started}
    for record in started:
        assert not is_running(record), record
        assert record["inherited"] == [], record


def take_terminal() -> None:
    # In the child, after setsid: the pty becomes its controlling terminal
    # and its process group the foreground group.
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


def run_interrupted(args: list[str], project: Path, env: dict[str, str], hanging: int,
                    how: str, prompt: bytes | None = None) -> tuple[int, str, str]:
    """Runs tolvo on a pty, waits until `hanging` fakes sleep (or `prompt`
    is shown), stops it `how`, and returns its status, what the terminal
    showed and stderr."""
    master, slave = pty.openpty()
    attributes = termios.tcgetattr(slave)
    attributes[3] |= termios.ISIG
    termios.tcsetattr(slave, termios.TCSANOW, attributes)
    proc = subprocess.Popen([str(TOLVO), *args], cwd=project, env=env, stdin=slave, stdout=slave,
                            stderr=subprocess.PIPE, start_new_session=True, preexec_fn=take_terminal)
    os.close(slave)
    shown = bytearray()
    sent = False
    deadline = time.monotonic() + 60
    try:
        while time.monotonic() < deadline:
            if prompt is not None:
                ready_to_stop = shown.endswith(prompt)
            else:
                ready_to_stop = sum(record["hang"] for record in records(project)) >= hanging
            if not sent and ready_to_stop:
                time.sleep(0.2)  # let the display draw at least once more
                if how == "ctrl-c":
                    os.write(master, b"\x03")
                elif how == "killpg":
                    os.killpg(os.tcgetpgrp(master), signal.SIGINT)
                else:
                    os.kill(proc.pid, signal.SIGTERM)
                sent = True
            ready, _, _ = select.select([master], [], [], 0.05)
            if ready:
                try:
                    data = os.read(master, 65536)
                except OSError:  # EIO: every holder of the terminal has gone
                    break
                if not data:
                    break
                shown += data
        else:
            pytest.fail(f"tolvo did not end; shown so far: {bytes(shown)!r}")
        status = proc.wait(timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        os.close(master)
    assert sent, "the fakes never started sleeping"
    stderr = proc.stderr.read().decode()
    proc.stderr.close()
    # The terminal echoes Ctrl-C as "^C" wherever the cursor stands.
    return status, bytes(shown).decode().replace("\r\n", "\n").replace("^C", ""), stderr


HOW = [("ctrl-c", 130), ("killpg", 130), ("sigterm", 143)]


@pytest.mark.parametrize(("how", "status"), HOW)
def test_interrupted_quiet_step_blanks_the_spinner_and_shows_no_failure(project: Path, how: str,
                                                                        status: int) -> None:
    env = fake_env(project, FAKE_HANG="install")
    code, shown, err = run_interrupted(["requirements"], project, env, 1, how)
    assert code == status, (shown, err)
    blank = "\r" + " " * len("Installing requirements: [x]") + "\r"
    assert "Installing requirements: [" + FRAMES[0] + "]" in shown
    assert shown.endswith(blank), repr(shown)
    # Interruption is no failure: the captured output stays unseen.
    assert "captured" not in shown
    assert err == ""
    assert_hygienic(project, {"venv", "ensurepip", "upgrade-pip", "install"})


@pytest.mark.parametrize(("how", "status"), HOW)
def test_interrupted_test_run_ends_with_the_signal_not_the_runners_code(project: Path, how: str,
                                                                        status: int) -> None:
    env = fake_env(project, FAKE_HANG="pytest")
    code, shown, err = run_interrupted(["test"], project, env, 1, how)
    # The fake runner ends with 2 on Ctrl-C, as pytest does; tolvo reports the interruption.
    assert code == status, (shown, err)
    assert "captured out\n" in shown
    assert "tolvo: error" not in err
    assert_hygienic(project, {"test-tools", "pytest"})


LINE = r"[a-z]+: (?:\[[" + FRAMES + r"]\]|PASS|FAIL \(-?\d+\))\n"


@pytest.mark.parametrize(("how", "status"), HOW)
def test_interrupted_lint_leaves_the_cursor_below_the_display(project: Path, how: str, status: int) -> None:
    env = fake_env(project, FAKE_HANG=",".join(LINT_LABELS))
    code, shown, err = run_interrupted(["lint"], project, env, 5, how)
    assert code == status, (shown, err)
    # The last drawing stands, followed by nothing, or by the cursor moved
    # up over it and down again below it.
    assert re.search("(?:" + LINE + "){5}(?:" + re.escape(CURSOR_UP * 5) + "\n{5})?$", shown), repr(shown[-400:])
    assert "failed" not in shown
    assert err == ""
    assert_hygienic(project, set(LINT_LABELS))


@pytest.mark.parametrize(("args", "hang", "hanging"), [(["requirements"], "install", 1),
                                                      (["lint"], ",".join(LINT_LABELS), 5)])
def test_children_ignoring_the_signal_are_killed_after_a_grace_period(project: Path, args: list[str], hang: str,
                                                                      hanging: int) -> None:
    env = fake_env(project, FAKE_HANG=hang, FAKE_IGNORE_SIGNALS="1")
    code, shown, err = run_interrupted(args, project, env, hanging, "sigterm")
    assert code == 143, (shown, err)
    assert_hygienic(project, set(hang.split(",")))


def test_sigterm_on_a_pipe_stops_every_lint_check(project: Path) -> None:
    env = fake_env(project, FAKE_HANG=",".join(LINT_LABELS))
    proc = subprocess.Popen([str(TOLVO), "lint"], cwd=project, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    while sum(record["hang"] for record in records(project)) < 5 and time.monotonic() < deadline:
        time.sleep(0.05)
    proc.send_signal(signal.SIGTERM)
    out, err = proc.communicate(timeout=60)
    assert proc.returncode == 143, (out, err)
    assert out.decode().endswith("Running linters...\n")
    assert err == b""
    assert_hygienic(project, set(LINT_LABELS))


@pytest.mark.parametrize(
    ("args", "extra", "status", "roles"),
    [
        (["requirements", "test"], {}, 0, {"venv", "ensurepip", "upgrade-pip", "install"}),
        (["requirements"], {"FAKE_FAIL": "install"}, 1, {"install"}),
        (["test"], {}, 0, {"test-tools", "pytest"}),
        (["test"], {"FAKE_FAIL": "pytest"}, 3, {"pytest"}),
        (["status"], {}, 0, {"ensurepip", "upgrade-pip"}),
        (["lint"], {}, 0, {"lint-tools", "install", *LINT_LABELS}),
        (["lint"], {"FAKE_FAIL": "ruff,dodgy,tolvo"}, 3, set(LINT_LABELS)),
    ],
)
def test_no_process_or_descriptor_outlives_a_command(project: Path, args: list[str], extra: dict[str, str],
                                                     status: int, roles: set[str]) -> None:
    result = run_tolvo(*args, cwd=project, env=fake_env(project, **extra))
    assert result.returncode == status, result.stdout + result.stderr
    assert_hygienic(project, roles)


def test_no_process_outlives_a_lint_check_that_cannot_start(project: Path) -> None:
    (project.parent / "bin" / "tolvo").unlink()
    result = run_tolvo("lint", cwd=project, env=fake_env(project))
    assert result.returncode == 1
    assert "cannot run 'tolvo'" in result.stderr
    assert_hygienic(project, set(LINT_LABELS[:4]))


@pytest.mark.parametrize(("how", "status"), [("ctrl-c", 130), ("sigterm", 143)])
def test_interruption_at_a_prompt_ends_at_once_and_writes_nothing(tmp_path: Path, tolvo_bin: Path, how: str,
                                                                  status: int) -> None:
    code, shown, err = run_interrupted(["init"], tmp_path, dict(os.environ), 0, how, prompt=b"Project name: ")
    assert code == status, (shown, err)
    assert err == ""
    assert list(tmp_path.iterdir()) == []
