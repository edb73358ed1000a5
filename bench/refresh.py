"""The everyday loop for real: `tolvo test` with refresh "always" and with
"when-needed" in sync, against running pytest directly in the same
environment (the limit) and against `uv run pytest` with its own direct
pytest run; the in-sync run with no reachable package index; and the
judgement itself, in process, for an environment of 200 distributions, alone
and in a project of 2,000 files with native sources.

What a wrapper adds is judged by its time outside the interpreter that ran
pytest (a sitecustomize on PYTHONPATH records that interpreter's span), as
pytest's own time varies by hundreds of milliseconds from run to run.

Only the in-process figure runs in --quick: the rest needs real pip,
pytest and uv, and the network for the first install."""

from __future__ import annotations

import os
import shutil
import subprocess
import time
from pathlib import Path

from measure import ROOT, Context, median, print_group, scratch_directory
from startup import VENVS, _make_venv

OFFLINE = {"PIP_INDEX_URL": "http://127.0.0.1:9/simple", "PIP_RETRIES": "0", "PIP_TIMEOUT": "1"}


def _in_process(ctx: Context) -> None:
    result = subprocess.run([str(ctx.build_dir / "bench" / "tolvo_sync_check_bench")], capture_output=True,
                            text=True, check=True)
    figures = dict(line.split() for line in result.stdout.splitlines())
    print("\nThe when-needed judgement of `tolvo test`, in process (200 installed distributions, all needed;"
          "\n  then the same in a project of 2,000 files with native sources, and its fingerprint alone;"
          "\n  then one distribution of 1,500 extras that name each other, all asked for)")
    for name, value in figures.items():
        print(f"  {name:<44} {value:>10}")
    for key, what in (("sync_check", "200 distributions"),
                      ("sync_check_native", "200 distributions in a 2,000-file native project")):
        cpu = float(figures[f"{key}_cpu_median_us"]) / 1e3
        wall = float(figures[f"{key}_median_us"]) / 1e3
        ctx.goal("refresh", f"the in-sync judgement for {what} <= 5 ms (CPU time)", cpu <= 5.0,
                 f"{cpu:.2f} ms CPU, {wall:.2f} ms wall")
    cpu = float(figures["sync_check_extras_cpu_median_us"]) / 1e3
    wall = float(figures["sync_check_extras_median_us"]) / 1e3
    ctx.goal("refresh", "the judgement of 1,500 extras naming each other <= 20 ms (CPU time)", cpu <= 20.0,
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


# Imported at the start of every interpreter that sees PYTHONPATH; the one
# that ran pytest leaves its own span, so wrappers are timed without it.
SPAN_RECORDER = """import atexit, os, sys, time
_start = time.monotonic_ns()
def _record():
    if "pytest" in sys.modules and os.environ.get("TOLVO_BENCH_SPAN"):
        with open(os.environ["TOLVO_BENCH_SPAN"], "a") as out:
            out.write(f"{_start} {time.monotonic_ns()}\\n")
atexit.register(_record)
"""


def _span_environment(scratch: Path) -> dict[str, str]:
    """The environment for every run, the first ones included: a changed
    PYTHONPATH is a changed environment, which tolvo rightly refreshes."""
    recorder = scratch / "span-recorder"
    recorder.mkdir()
    (recorder / "sitecustomize.py").write_text(SPAN_RECORDER)
    return dict(os.environ, PYTHONPATH=str(recorder), TOLVO_BENCH_SPAN=str(scratch / "span"))


def _time_around_pytest(runs: dict[str, tuple[list[str], Path]], repeat: int, env: dict[str, str],
                        ) -> tuple[list[tuple[str, list[float]]], list[tuple[str, list[float]]]]:
    """Wall times of the runs in turn, round after round, and of each the time
    spent outside the interpreter that ran pytest."""
    span_file = Path(env["TOLVO_BENCH_SPAN"])
    walls: dict[str, list[float]] = {name: [] for name in runs}
    outside: dict[str, list[float]] = {name: [] for name in runs}
    for _ in range(repeat):
        for name, (cmd, cwd) in runs.items():
            span_file.unlink(missing_ok=True)
            start = time.monotonic_ns()
            subprocess.run(cmd, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            wall = time.monotonic_ns() - start
            spans = [tuple(map(int, line.split())) for line in span_file.read_text().splitlines()]
            if len(spans) != 1:
                raise SystemExit(f"bench: {name}: expected one pytest interpreter, saw {len(spans)}")
            walls[name].append(wall / 1e9)
            outside[name].append((wall - (spans[0][1] - spans[0][0])) / 1e9)
    return list(walls.items()), list(outside.items())


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
        env = _span_environment(Path(scratch))
        _checked([tolvo, "--refresh", "when-needed", "test"], ours, env)
        _checked([str(uv), "run", "--extra", "test", "pytest", "-vv", "tests/"], theirs, env)
        limit, uv_direct = "pytest in tolvo's .venv directly (limit)", "pytest in uv's .venv directly"
        in_sync = "tolvo test, refresh when-needed, in sync"
        runs = {
            limit: ([str(ours / ".venv" / "bin" / "python"), "-um", "pytest", "-vv", "tests/"], ours),
            in_sync: ([tolvo, "--refresh", "when-needed", "test"], ours),
            "tolvo test, refresh always": ([tolvo, "--refresh", "always", "test"], ours),
            uv_direct: ([str(theirs / ".venv" / "bin" / "python"), "-um", "pytest", "-vv", "tests/"], theirs),
            "uv run pytest": ([str(uv), "run", "--extra", "test", "pytest", "-vv", "tests/"], theirs),
        }
        walls, added = _time_around_pytest(runs, repeat, env)
        print_group(f"tolvo test on examples/demo, real pip and pytest ({repeat} interleaved rounds)", walls, limit)
        print_group("The same runs, time outside pytest's interpreter (wall minus pytest's own span)", added, limit)
        outside = {name: median(samples) for name, samples in added}
        own_cpu = median([ctx.measure(runs[in_sync][0], cwd=ours, env=env).own_cpu for _ in range(repeat)])
        print(f"  tolvo's own CPU in an in-sync tolvo test (children not counted): {own_cpu * 1e3:.2f} ms")
        offline_env = dict(env, **OFFLINE)
        start = time.perf_counter()
        offline = subprocess.run([tolvo, "--refresh", "when-needed", "test"], cwd=ours, env=offline_env,
                                 capture_output=True, text=True, stdin=subprocess.DEVNULL)
        offline_wall = time.perf_counter() - start
        print(f"  in sync with no reachable index: status {offline.returncode}, {offline_wall:.3f} s")

    # What a wrapper adds is its time outside pytest's interpreter less that of
    # the direct run: free of pytest's own spread of hundreds of milliseconds.
    ours_added = outside[in_sync] - outside[limit]
    uv_added = outside["uv run pytest"] - outside[uv_direct]
    ctx.goal("refresh", "tolvo test in sync <= 20 ms over pytest run directly", ours_added <= 0.020,
             f"{ours_added * 1e3:.1f} ms")
    ctx.goal("refresh", "what tolvo adds < what uv run adds over its own direct pytest", ours_added < uv_added,
             f"tolvo {ours_added * 1e3:.1f} ms, uv {uv_added * 1e3:.1f} ms")
    ctx.goal("refresh", "an in-sync tolvo test works with no reachable package index", offline.returncode == 0,
             f"status {offline.returncode}")
