"""Stress of the concurrent lint runner: many lint runs, each with five fake
checks that write 1 MiB to both of their streams in random chunks at random
moments and exit with random codes. Every run must end in time, report each
failed check's texts byte for byte, and leave no process or descriptor
behind. Seeded and reproducible: TOLVO_STRESS_SEED repeats a run series.

Runs only when TOLVO_STRESS_RUNS is set, as in its own ctest entry lint_stress."""

from __future__ import annotations

import os
import random
import runpy
import subprocess
import time

import pytest

from conftest import FAKES, TOLVO, FakeProject, read_calls

LABELS = ["ruff", "basedpyright", "dodgy", "pyroma", "tolvo"]
RUN_TIMEOUT = 30
PYPROJECT = '[project]\nname = "demo"\nversion = "1.0"\n'

plan = runpy.run_path(str(FAKES / "stress_plan.py"))["plan"]

RUNS = int(os.environ.get("TOLVO_STRESS_RUNS", "0"))


def expected_report(seed: str) -> tuple[bytes, bytes]:
    out = [b"Ensuring pip is installed...\nUpgrading pip...\nInstalling lint tools...\n"
           b"Installing requirements...\nRunning linters...\n"]
    err = []
    failed = 0
    for label in LABELS:
        texts, code, _ = plan(seed, label)
        if code == 0:
            out.append(f"{label}: PASS\n".encode())
        else:
            out += [f"{label}: FAIL ({code})\n".encode(), texts[1], b"\n"]
            err += [texts[2], b"\n"]
            failed += 1
    if failed:
        out.append(f"{failed} failed\n".encode())
    return b"".join(out), b"".join(err)


def first_difference(got: bytes, want: bytes) -> str:
    at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    return f"{len(got)} bytes, expected {len(want)}; first difference at {at}"


@pytest.mark.skipif(RUNS == 0, reason="set TOLVO_STRESS_RUNS (ctest entry lint_stress)")
def test_lint_runner_under_stress(fake_project: FakeProject) -> None:
    fake_project.fake_venv()
    master_seed = os.environ.get("TOLVO_STRESS_SEED") or str(random.SystemRandom().randrange(1 << 32))
    print(f"\nlint stress: seed {master_seed}, {RUNS} runs", flush=True)
    problems: list[str] = []
    hangs = 0
    slowest = (0.0, "")
    started = time.monotonic()
    for run in range(RUNS):
        seed = f"{master_seed}:{run}"
        log = fake_project.root / f"calls-{run}.jsonl"
        env = {**fake_project.env, "FAKE_LOG": str(log), **{f"FAKE_{label.upper()}_PLAN": seed for label in LABELS}}
        begin = time.monotonic()
        try:
            result = subprocess.run([str(TOLVO), "lint"], cwd=fake_project.dir, env=env, stdin=subprocess.DEVNULL,
                                    capture_output=True, timeout=RUN_TIMEOUT)
        except subprocess.TimeoutExpired:
            hangs += 1
            problems.append(f"run {seed}: no end within {RUN_TIMEOUT} s")
            continue
        elapsed = time.monotonic() - begin
        slowest = max(slowest, (elapsed, seed))
        want_out, want_err = expected_report(seed)
        failed = sum(plan(seed, label)[1] != 0 for label in LABELS)
        if result.returncode != failed:
            problems.append(f"run {seed}: status {result.returncode}, expected {failed}")
        if result.stdout != want_out:
            problems.append(f"run {seed}: stdout {first_difference(result.stdout, want_out)}")
        if result.stderr != want_err:
            problems.append(f"run {seed}: stderr {first_difference(result.stderr, want_err)}")
        started_children = read_calls(log)
        if sorted(call.role for call in started_children if call.role in LABELS) != sorted(LABELS):
            problems.append(f"run {seed}: checks started: {[call.role for call in started_children]}")
        for call in started_children:
            if call.inherited:
                problems.append(f"run {seed}: {call.role} inherited {call.inherited}")
            if call.is_running():
                problems.append(f"run {seed}: {call.role} (pid {call.pid}) still there")
    total = time.monotonic() - started
    summary = (f"lint stress: seed {master_seed}: {RUNS} runs in {total:.1f} s, {hangs} hangs, "
               f"{len(problems)} problems, slowest run {slowest[0]:.2f} s ({slowest[1]})")
    print(summary, flush=True)
    assert not problems, summary + "\n" + "\n".join(problems[:20])
