"""Interruption and resource hygiene: tolvo on a pseudo-terminal with fakes
that hang until a signal ends them, stopped by Ctrl-C (SIGINT to the
terminal's foreground group) or SIGTERM (to tolvo alone). tolvo must end
with 128 + the signal only after its children have, leave the terminal
tidy, and leave no process or open descriptor behind after any command."""

from __future__ import annotations

import os
import re
import signal
import subprocess
import time
from pathlib import Path
from typing import Callable

import pytest

from conftest import TOLVO, FakeProject, assert_no_leftovers, fake_settings, run_on_pty

LINT_LABELS = ["ruff", "basedpyright", "dodgy", "pyroma", "tolvo"]
FRAMES = "\u280b\u2819\u2839\u2838\u283c\u2834\u2826\u2827\u2807\u280f"
CURSOR_UP = "\x1b[1A"

PYPROJECT = '[project]\nname = "demo"\nversion = "1.0"\n[project.optional-dependencies]\ntest = ["pytest"]\n'


def hanging(project: FakeProject, roles: list[str], how: str = "1") -> dict[str, str]:
    """The environment in which the fakes of `roles` say something, then hang."""
    env = dict(project.env)
    for role in roles:
        env.update(fake_settings(role, OUT="captured out\n", ERR="captured err\n", HANG=how))
    return env


def fakes_hang(project: FakeProject, count: int) -> Callable[[bytes], bool]:
    return lambda shown: sum(call.hang for call in project.calls()) >= count


def run_interrupted(args: list[str], cwd: Path, env: dict[str, str], how: str,
                    ready: Callable[[bytes], bool]) -> tuple[int, str, str]:
    """Runs tolvo on a pty, stops it `how` once `ready` holds for what the
    terminal shows, and returns its status, what the terminal showed and stderr."""
    sent = []

    def stop_when_ready(terminal: int, shown: bytes, pid: int) -> None:
        if sent or not ready(shown):
            return
        time.sleep(0.2)  # let the display draw at least once more
        if how == "ctrl-c":
            os.write(terminal, b"\x03")
        elif how == "killpg":
            os.killpg(os.tcgetpgrp(terminal), signal.SIGINT)
        else:  # a signal to tolvo alone, as kill or a closed terminal sends it
            os.kill(pid, signal.Signals[how.upper()])
        sent.append(how)

    run = run_on_pty(args, cwd, env, controlling=True, while_running=stop_when_ready)
    assert sent, "never ready to stop"
    # The terminal echoes Ctrl-C as "^C" wherever the cursor stands.
    return run.returncode, run.text.replace("^C", ""), run.stderr.decode()


HOW = [("ctrl-c", 130), ("killpg", 130), ("sigterm", 143)]


@pytest.mark.parametrize(("how", "status"), HOW)
def test_interrupted_quiet_step_blanks_the_spinner_and_shows_no_failure(fake_project: FakeProject, how: str,
                                                                        status: int) -> None:
    code, shown, err = run_interrupted(["requirements"], fake_project.dir, hanging(fake_project, ["install"]), how,
                                       fakes_hang(fake_project, 1))
    assert code == status, (shown, err)
    blank = "\r" + " " * len("Installing requirements: [x]") + "\r"
    assert "Installing requirements: [" + FRAMES[0] + "]" in shown
    assert shown.endswith(blank), repr(shown)
    # Interruption is no failure: the captured output stays unseen.
    assert "captured" not in shown
    assert err == ""
    assert_no_leftovers(fake_project.calls(), {"venv", "ensurepip", "upgrade-pip", "install"})


@pytest.mark.parametrize(("how", "status"), HOW)
def test_interrupted_test_run_ends_with_the_signal_not_the_runners_code(fake_project: FakeProject, how: str,
                                                                        status: int) -> None:
    code, shown, err = run_interrupted(["test"], fake_project.dir, hanging(fake_project, ["pytest"]), how,
                                       fakes_hang(fake_project, 1))
    # The fake runner ends with 2 on Ctrl-C, as pytest does; tolvo reports the interruption.
    assert code == status, (shown, err)
    assert "captured out\n" in shown
    assert "tolvo: error" not in err
    assert_no_leftovers(fake_project.calls(), {"test-tools", "pytest"})


LINE = r"[a-z]+: (?:\[[" + FRAMES + r"]\]|PASS|FAIL \(-?\d+\))\n"


@pytest.mark.parametrize(("how", "status"), HOW)
def test_interrupted_lint_leaves_the_cursor_below_the_display(fake_project: FakeProject, how: str,
                                                              status: int) -> None:
    code, shown, err = run_interrupted(["lint"], fake_project.dir, hanging(fake_project, LINT_LABELS), how,
                                       fakes_hang(fake_project, 5))
    assert code == status, (shown, err)
    # The last drawing stands, followed by nothing, or by the cursor moved
    # up over it and down again below it.
    assert re.search("(?:" + LINE + "){5}(?:" + re.escape(CURSOR_UP * 5) + "\n{5})?$", shown), repr(shown[-400:])
    assert "failed" not in shown
    assert err == ""
    assert_no_leftovers(fake_project.calls(), set(LINT_LABELS))


@pytest.mark.parametrize(("how", "status"), [("sighup", 129), ("sigquit", 131), ("sigterm", 143)])
def test_a_signal_to_tolvo_alone_ends_every_check_and_what_it_started(fake_project: FakeProject, how: str,
                                                                      status: int) -> None:
    env = {**hanging(fake_project, LINT_LABELS), **fake_settings("ruff", SPAWN="1"),
           **fake_settings("grandchild", HANG="1")}
    code, shown, err = run_interrupted(["lint"], fake_project.dir, env, how, fakes_hang(fake_project, 6))
    assert code == status, (shown, err)
    assert_no_leftovers(fake_project.calls(), {*LINT_LABELS, "grandchild"})


@pytest.mark.parametrize(("args", "roles"), [(["requirements"], ["install"]), (["lint"], LINT_LABELS)])
def test_children_ignoring_the_signal_are_killed_after_a_grace_period(fake_project: FakeProject, args: list[str],
                                                                      roles: list[str]) -> None:
    code, shown, err = run_interrupted(args, fake_project.dir, hanging(fake_project, roles, "deaf"), "sigterm",
                                       fakes_hang(fake_project, len(roles)))
    assert code == 143, (shown, err)
    assert_no_leftovers(fake_project.calls(), set(roles))


def test_sigterm_on_a_pipe_stops_every_lint_check(fake_project: FakeProject) -> None:
    proc = subprocess.Popen([str(TOLVO), "lint"], cwd=fake_project.dir, env=hanging(fake_project, LINT_LABELS),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    while not fakes_hang(fake_project, 5)(b"") and time.monotonic() < deadline:
        time.sleep(0.05)
    proc.send_signal(signal.SIGTERM)
    out, err = proc.communicate(timeout=60)
    assert proc.returncode == 143, (out, err)
    assert out.decode().endswith("Running linters...\n")
    assert err == b""
    assert_no_leftovers(fake_project.calls(), set(LINT_LABELS))


@pytest.mark.parametrize(
    ("args", "failing", "status", "roles"),
    [
        (["requirements", "test"], [], 0, {"venv", "ensurepip", "upgrade-pip", "install"}),
        (["requirements"], ["install"], 1, {"install"}),
        (["test"], [], 0, {"test-tools", "pytest"}),
        (["test"], ["pytest"], 3, {"pytest"}),
        (["status"], [], 0, {"ensurepip", "upgrade-pip"}),
        (["lint"], [], 0, {"lint-tools", "install", *LINT_LABELS}),
        (["lint"], ["ruff", "dodgy", "tolvo"], 3, set(LINT_LABELS)),
    ],
)
def test_no_process_or_descriptor_outlives_a_command(fake_project: FakeProject, args: list[str], failing: list[str],
                                                     status: int, roles: set[str]) -> None:
    env = {}
    for role in failing:
        env.update(fake_settings(role, RC="3"))
    result = fake_project.run(*args, **env)
    assert result.returncode == status, result.stdout + result.stderr
    assert_no_leftovers(fake_project.calls(), roles)


@pytest.mark.parametrize(("how", "status"), [("ctrl-c", 130), ("sigterm", 143)])
def test_interruption_at_a_prompt_ends_at_once_and_writes_nothing(fake_project: FakeProject, tmp_path: Path,
                                                                  how: str, status: int) -> None:
    empty = tmp_path / "empty"
    empty.mkdir()
    code, shown, err = run_interrupted(["init"], empty, fake_project.env, how,
                                       lambda shown: shown.endswith(b"Project name: "))
    assert code == status, (shown, err)
    assert err == ""
    assert list(empty.iterdir()) == []
