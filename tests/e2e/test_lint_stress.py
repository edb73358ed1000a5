"""Stress of the concurrent lint runner: many lint runs, each with five fake
checks that write 1 MiB to both of their streams in random chunks at random
moments and exit with random codes. Every run must end in time, report each
failed check's texts byte for byte, and leave no process or descriptor
behind. Seeded and reproducible: TOLVO_STRESS_SEED repeats a run series.

Runs only when TOLVO_STRESS_RUNS is set, as in its own ctest entry lint_stress."""

from __future__ import annotations

import json
import os
import random
import subprocess
import sys
import tempfile
import textwrap
import time
from pathlib import Path

import pytest

from conftest import TOLVO

LABELS = ["ruff", "basedpyright", "dodgy", "pyroma", "tolvo"]
RUN_TIMEOUT = 30

# Shared by the fakes, which act on it, and the test, which predicts the report.
PLAN = textwrap.dedent(
    """\
    import random

    MIB = 1 << 20


    def plan(seed, tool):
        rng = random.Random(seed + "/" + tool)
        texts = {1: rng.randbytes(MIB), 2: rng.randbytes(MIB)}
        code = rng.choice([0, 0, 1, 2, 3, 77, 255])
        sleep_budget = rng.uniform(0.0, 0.3)
        steps = []
        offsets = {1: 0, 2: 0}
        while offsets[1] < MIB or offsets[2] < MIB:
            fd = rng.choice([f for f in (1, 2) if offsets[f] < MIB])
            size = rng.choice([1, rng.randint(2, 4096), rng.randint(4096, 65536), rng.randint(65536, 262144)])
            size = min(size, MIB - offsets[fd])
            pause = 0.0
            if sleep_budget > 0 and rng.random() < 0.1:
                pause = min(sleep_budget, rng.uniform(0.0, 0.03))
                sleep_budget -= pause
            steps.append((fd, offsets[fd], offsets[fd] + size, pause))
            offsets[fd] += size
        return texts, code, steps
    """
)

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
    import json, sys, time
    name = os.path.basename(sys.argv[0])
    args = sys.argv[1:]
    tool = args[1] if name == "python" and args[:1] == ["-um"] else name
    with open("/proc/self/stat") as stat:
        start_time = stat.read().rsplit(")", 1)[1].split()[19]
    record = {{"pid": os.getpid(), "start_time": start_time, "tool": tool, "inherited": inherited}}
    with open(os.path.join(os.environ["FAKE_LOG_DIR"], str(os.getpid()) + ".json"), "w") as log:
        json.dump(record, log)
    if tool not in {labels!r}:
        sys.exit(0)
    {plan}
    texts, code, steps = plan(os.environ["FAKE_SEED"], tool)
    for fd, begin, end, pause in steps:
        if pause:
            time.sleep(pause)
        view = memoryview(texts[fd])[begin:end]
        while view:
            view = view[os.write(fd, view):]
    sys.exit(code)
    """
).format(python=sys.executable, labels=LABELS, plan=PLAN)

namespace: dict = {}
exec(PLAN, namespace)
plan = namespace["plan"]

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


def is_running(record: dict) -> bool:
    try:
        stat = Path(f"/proc/{record['pid']}/stat").read_text()
    except OSError:
        return False
    return stat.rsplit(")", 1)[1].split()[19] == record["start_time"]


@pytest.fixture
def project(tmp_path: Path, tolvo_bin: Path) -> Path:
    fake_bin = tmp_path / "bin"
    fake_bin.mkdir()
    work = tmp_path / "work"
    (work / ".venv" / "bin").mkdir(parents=True)
    for place in (fake_bin / "tolvo", work / ".venv" / "bin" / "python", work / ".venv" / "bin" / "pip"):
        place.write_text(FAKE)
        place.chmod(0o755)
    (work / "pyproject.toml").write_text('[project]\nname = "demo"\nversion = "1.0"\n')
    return work


@pytest.mark.skipif(RUNS == 0, reason="set TOLVO_STRESS_RUNS (ctest entry lint_stress)")
def test_lint_runner_under_stress(project: Path) -> None:
    master_seed = os.environ.get("TOLVO_STRESS_SEED") or str(random.SystemRandom().randrange(1 << 32))
    print(f"\nlint stress: seed {master_seed}, {RUNS} runs", flush=True)
    problems: list[str] = []
    hangs = 0
    slowest = (0.0, "")
    started = time.monotonic()
    for run in range(RUNS):
        seed = f"{master_seed}:{run}"
        with tempfile.TemporaryDirectory(dir=project.parent) as log_dir:
            env = {"PATH": str(project.parent / "bin"), "FAKE_LOG_DIR": log_dir, "FAKE_SEED": seed}
            begin = time.monotonic()
            try:
                result = subprocess.run([str(TOLVO), "lint"], cwd=project, env=env, stdin=subprocess.DEVNULL,
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
            started_children = [json.loads(path.read_text()) for path in Path(log_dir).glob("*.json")]
            if sorted(record["tool"] for record in started_children if record["tool"] in LABELS) != sorted(LABELS):
                problems.append(f"run {seed}: checks started: {[r['tool'] for r in started_children]}")
            for record in started_children:
                if record["inherited"]:
                    problems.append(f"run {seed}: {record['tool']} inherited {record['inherited']}")
                if is_running(record):
                    problems.append(f"run {seed}: {record['tool']} (pid {record['pid']}) still there")
    total = time.monotonic() - started
    summary = (f"lint stress: seed {master_seed}: {RUNS} runs in {total:.1f} s, {hangs} hangs, "
               f"{len(problems)} problems, slowest run {slowest[0]:.2f} s ({slowest[1]})")
    print(summary, flush=True)
    assert not problems, summary + "\n" + "\n".join(problems[:20])
