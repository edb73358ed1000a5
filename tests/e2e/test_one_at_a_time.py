"""Several tolvo runs in one project at once: the steps that change .venv or
its record take turns under a lock in .venv, a run that has to wait says so
once, and a signal ends the wait at once. Against the fakes, which log when
each call starts and ends."""

from __future__ import annotations

import signal
import subprocess
import time

import pytest

from conftest import TOLVO, FakeProject, assert_no_leftovers, fake_settings
from test_interruption import run_interrupted

PYPROJECT = """[project]
name = "demo"
version = "1.0"
[project.optional-dependencies]
test = ["pytest"]
[tool.tolvo]
refresh = "when-needed"
"""

WAITING = "Waiting for another tolvo to finish with .venv...\n"


def start(project: FakeProject, *args: str, **env: str) -> subprocess.Popen[str]:
    return subprocess.Popen([str(TOLVO), *args], cwd=project.dir, env={**project.env, **env},
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def test_two_requirements_and_a_test_take_turns(fake_project: FakeProject) -> None:
    slow = {**fake_settings("install", SLEEP="1"), **fake_settings("upgrade-pip", SLEEP="0.5"),
            **fake_settings("test-tools", SLEEP="1"), "FAKE_ALSO": "pytest"}
    runs = [start(fake_project, *args, **slow) for args in (["requirements"], ["requirements"], ["test"])]
    results = [(run.wait(timeout=120), *run.communicate()) for run in runs]
    for status, out, err in results:
        assert status == 0, err
        assert out.count(WAITING) <= 1
    assert any(WAITING in out for _, out, _ in results)

    calls = fake_project.calls()
    assert_no_leftovers(calls, {"venv", "upgrade-pip", "install", "pytest"})
    # Whatever changes the environment ran alone; the test run is outside the lock.
    changing = sorted((call.start, call.end, call.role) for call in calls if call.role != "pytest")
    for earlier, later in zip(changing, changing[1:]):
        assert earlier[1] <= later[0], (earlier, later)

    # The environment and the record agree: a further run finds everything in place.
    venv = fake_project.dir / ".venv"
    assert sorted(path.name for path in venv.glob("tolvo-refresh-record*")) == ["tolvo-refresh-record"]
    fake_project.log.unlink()
    again = fake_project.run("test")
    assert again.returncode == 0, again.stderr
    assert again.stdout.startswith("Ensuring pip is installed... up to date\nUpgrading pip... up to date\n"
                                   "Installing test tools... up to date\n")
    assert [call.role for call in fake_project.calls()] == ["pytest"]


@pytest.mark.parametrize(("how", "status"), [("ctrl-c", 130), ("sigterm", 143)])
def test_a_signal_ends_the_wait_at_once(fake_project: FakeProject, how: str, status: int) -> None:
    holder = start(fake_project, "requirements", **fake_settings("install", HANG="1"))
    try:
        deadline = time.monotonic() + 60
        while not any(call.hang for call in fake_project.calls()):
            assert time.monotonic() < deadline and holder.poll() is None, holder.stderr and holder.stderr.read()
            time.sleep(0.05)
        code, shown, err = run_interrupted(["requirements"], fake_project.dir, fake_project.env, how,
                                           lambda shown: WAITING.encode() in shown.replace(b"\r\n", b"\n"))
        assert code == status, err
        assert shown == WAITING
        # The holder is still at its install, untouched by the waiter's end.
        assert holder.poll() is None
        assert [call.role for call in fake_project.calls()].count("install") == 1
    finally:
        holder.send_signal(signal.SIGTERM)
        holder.communicate(timeout=30)
    assert holder.returncode == 143
