"""Peak resident memory of tolvo for every command, run against the fakes.

wait4's ru_maxrss is the larger of the process's own peak and the peaks of
the children it waited for, and it starts from the peak of the process it
was forked from (run_measured.cpp keeps that small). The fakes are dash
scripts, sleep, cat, mkdir and cp, whose peaks are printed with the
runner's own baseline: any figure above them is tolvo's own."""

from __future__ import annotations

import os
import pty
import shutil
from pathlib import Path

from clean import make_tree
from fakes import make_fake_bin, make_project
from measure import Context, print_rows, scratch_directory

LIMIT_KB = 8 * 1024


def _init(ctx: Context, directory: Path, env: dict[str, str]):
    """init asks for the license on a terminal only: stdin is a pty with the
    answer already typed."""
    directory.mkdir()
    controller, terminal = pty.openpty()
    try:
        os.write(controller, b"MIT\n")
        return ctx.measure([str(ctx.tolvo), "init", "--name", "demo", "--description", "d", "--author-name", "a",
                             "--author-email", "a@example.invalid"], cwd=directory, env=env, stdin=terminal)
    finally:
        os.close(terminal)
        os.close(controller)


def run(ctx: Context) -> None:
    repeat = 3
    with scratch_directory(prefix="tolvo-bench-memory-") as scratch_dir:
        scratch = Path(scratch_dir)
        env = make_fake_bin(scratch / "bin")
        env["FAKE_CHECK_SLEEP"] = "0.05"
        project = make_project(scratch / "demo")
        tolvo = str(ctx.tolvo)

        children = {
            "/bin/true (the runner's baseline)": ctx.measure(["/bin/true"]),
            "fake python -m venv (dash, mkdir, cp)":
                ctx.measure([str(scratch / "bin" / "python"), "-m", "venv", str(scratch / "probe")], env=env),
            "fake lint check (dash, then sleep)":
                ctx.measure([str(scratch / "bin" / "tolvo"), "config-diff"], env=env),
        }
        commands = [
            ("--version", [tolvo, "--version"]),
            ("config-diff", [tolvo, "config-diff"]),
            ("status", [tolvo, "status"]),
            ("requirements", [tolvo, "requirements"]),
            ("test", [tolvo, "test"]),
            ("lint", [tolvo, "lint"]),
            ("build --sdist", [tolvo, "build", "--sdist"]),
        ]
        peaks: dict[str, list[int]] = {}
        for name, cmd in commands:
            peaks[name] = []
            for _ in range(repeat):
                sample = ctx.measure(cmd, cwd=project, env=env)
                if sample.returncode != 0:
                    raise SystemExit(f"bench: tolvo {name} failed against the fakes ({sample.returncode})")
                peaks[name].append(sample.maxrss_kb)
        entries = 10_000 if ctx.quick else 100_000
        clean_name = f"clean ({entries:,} entries and .venv)"
        peaks[clean_name] = []
        init_name = "init (license answered on a pty)"
        peaks[init_name] = []
        for attempt in range(repeat):
            tree = scratch / "tree"
            if tree.exists():
                shutil.rmtree(tree)
            tree.mkdir()
            make_tree(tree, entries)
            sample = ctx.measure([tolvo, "clean"], cwd=tree, env=env)
            if sample.returncode != 0:
                raise SystemExit(f"bench: tolvo clean failed ({sample.returncode})")
            peaks[clean_name].append(sample.maxrss_kb)
            sample = _init(ctx, scratch / f"init{attempt}", env)
            if sample.returncode != 0:
                raise SystemExit(f"bench: tolvo init failed ({sample.returncode})")
            peaks[init_name].append(sample.maxrss_kb)

    print(f"\nPeak resident memory (wait4 ru_maxrss, KB; max of {repeat} runs)")
    print_rows(["not tolvo", "peak KB"], [[name, str(sample.maxrss_kb)] for name, sample in children.items()],
               [44, 10])
    print_rows(["tolvo command", "peak KB"], [[name, str(max(values))] for name, values in peaks.items()], [44, 10])
    worst_name, worst = max(((name, max(values)) for name, values in peaks.items()), key=lambda item: item[1])
    ctx.goal("memory", "peak resident memory of tolvo < 8 MB for every command", worst < LIMIT_KB,
             f"largest {worst / 1024:.2f} MB ({worst_name})")
