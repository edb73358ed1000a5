"""The everyday loop for real: `tolvo test` with refresh "always" and with
"when-needed" in sync, against running pytest directly in the same
environment (the limit) and against `uv run pytest` with its own direct
pytest run; the in-sync run with no reachable package index; and the
judgement itself, in process, for an environment of 200 distributions.

Only the in-process figure runs in --quick: the rest needs real pip,
pytest and uv, and the network for the first install."""

from __future__ import annotations

import os
import shutil
import subprocess
import time
from pathlib import Path

from measure import ROOT, Context, median, print_group, scratch_directory, time_interleaved
from startup import VENVS, _make_venv

OFFLINE = {"PIP_INDEX_URL": "http://127.0.0.1:9/simple", "PIP_RETRIES": "0", "PIP_TIMEOUT": "1"}


def _in_process(ctx: Context) -> None:
    result = subprocess.run([str(ctx.build_dir / "bench" / "tolvo_sync_check_bench")], capture_output=True,
                            text=True, check=True)
    figures = dict(line.split() for line in result.stdout.splitlines())
    print("\nThe when-needed judgement of `tolvo test`, in process (200 installed distributions, all needed)")
    for name, value in figures.items():
        print(f"  {name:<44} {value:>10}")
    cpu = float(figures["sync_check_cpu_median_us"]) / 1e3
    wall = float(figures["sync_check_median_us"]) / 1e3
    ctx.goal("refresh", "the in-sync judgement for 200 distributions <= 5 ms (CPU time)", cpu <= 5.0,
             f"{cpu:.2f} ms CPU, {wall:.2f} ms wall")


def _project(directory: Path) -> Path:
    shutil.copytree(ROOT / "examples" / "demo", directory, ignore=shutil.ignore_patterns(".venv", "*.egg-info",
                                                                                          "__pycache__"))
    return directory


def _checked(cmd: list[str], cwd: Path, env: dict[str, str] | None = None) -> None:
    result = subprocess.run(cmd, cwd=cwd, env=env, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    if result.returncode != 0:
        print(result.stdout[-3000:] + result.stderr[-3000:])
        raise SystemExit(f"bench: {' '.join(cmd)} failed")


def run(ctx: Context) -> None:
    _in_process(ctx)
    if ctx.quick:
        print("  skipped: tolvo test against pytest and uv (real pip and pytest; full run only)")
        return
    uv = _make_venv(VENVS / "uv", ["uv"], "uv") / "bin" / "uv"
    # Enough rounds that the medians of runs lasting about a second resolve tens of milliseconds.
    repeat = 15
    with scratch_directory("tolvo-bench-refresh-") as scratch:
        ours = _project(Path(scratch) / "tolvo")
        theirs = _project(Path(scratch) / "uv")
        tolvo = str(ctx.tolvo)
        print("  (first runs: tolvo and uv make their environments)", flush=True)
        _checked([tolvo, "--refresh", "when-needed", "test"], ours)
        _checked([str(uv), "run", "--extra", "test", "pytest", "-vv", "tests/"], theirs)
        limit, uv_direct = "pytest in tolvo's .venv directly (limit)", "pytest in uv's .venv directly"
        rows = time_interleaved({
            limit: [str(ours / ".venv" / "bin" / "python"), "-um", "pytest", "-vv", "tests/"],
            "tolvo test, refresh when-needed, in sync": [tolvo, "--refresh", "when-needed", "test"],
            "tolvo test, refresh always": [tolvo, "--refresh", "always", "test"],
            uv_direct: [str(theirs / ".venv" / "bin" / "python"), "-um", "pytest", "-vv", "tests/"],
            "uv run pytest": [str(uv), "run", "--extra", "test", "pytest", "-vv", "tests/"],
        }, repeat, cwds={limit: ours, "tolvo test, refresh when-needed, in sync": ours,
                         "tolvo test, refresh always": ours, uv_direct: theirs, "uv run pytest": theirs})
        print_group(f"tolvo test on examples/demo, real pip and pytest ({repeat} interleaved rounds)", rows, rows[0][0])
        medians = {name: median(samples) for name, samples in rows}
        offline_env = dict(os.environ, **OFFLINE)
        start = time.perf_counter()
        offline = subprocess.run([tolvo, "--refresh", "when-needed", "test"], cwd=ours, env=offline_env,
                                 capture_output=True, text=True, stdin=subprocess.DEVNULL)
        offline_wall = time.perf_counter() - start
        print(f"  in sync with no reachable index: status {offline.returncode}, {offline_wall:.3f} s")

    ours_added = medians["tolvo test, refresh when-needed, in sync"] - medians["pytest in tolvo's .venv directly (limit)"]
    uv_added = medians["uv run pytest"] - medians["pytest in uv's .venv directly"]
    ctx.goal("refresh", "tolvo test in sync <= 20 ms over pytest run directly", ours_added <= 0.020,
             f"{ours_added * 1e3:.1f} ms")
    ctx.goal("refresh", "what tolvo adds < what uv run adds over its own direct pytest", ours_added < uv_added,
             f"tolvo {ours_added * 1e3:.1f} ms, uv {uv_added * 1e3:.1f} ms")
    ctx.goal("refresh", "an in-sync tolvo test works with no reachable package index", offline.returncode == 0,
             f"status {offline.returncode}")
