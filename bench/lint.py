"""lint with five fake checks that each take the same time: what tolvo adds
to the slowest check (the limit) and how much CPU it uses while it waits."""

from __future__ import annotations

from pathlib import Path

from fakes import make_fake_bin, make_project
from measure import Context, median, print_group, print_rows, scratch_directory, time_command

DURATIONS = (0.2, 0.5, 1.0)


def run(ctx: Context) -> None:
    repeat = 2 if ctx.quick else 10
    with scratch_directory(prefix="tolvo-bench-lint-") as scratch:
        env = make_fake_bin(Path(scratch) / "bin")
        project = make_project(Path(scratch) / "demo")
        figures = []
        for duration in DURATIONS:
            env["FAKE_CHECK_SLEEP"] = str(duration)
            # tolvo's CPU is read from its own CPU clock (run_measured.cpp), so
            # the checks' CPU is never in it; the fakes sleep besides.
            samples = [ctx.measure([str(ctx.tolvo), "lint"], cwd=project, env=env) for _ in range(repeat)]
            rows = [
                (f"sleep {duration} (the slowest check, limit)", time_command(["sleep", str(duration)], repeat)),
                ("tolvo lint, five checks at once", [sample.wall for sample in samples]),
            ]
            if any(sample.returncode != 0 for sample in samples):
                raise SystemExit("bench: tolvo lint failed against the fakes")
            print_group(f"lint, five fake checks of {duration} s each", rows, rows[0][0])
            wall = median([sample.wall for sample in samples])
            cpu = median([sample.own_cpu for sample in samples])
            figures.append((duration, wall, cpu))
        print("\nlint, what tolvo adds (medians)")
        print_rows(["checks of", "wall s", "overhead ms", "tolvo CPU ms", "CPU share"],
                   [[f"{duration} s", f"{wall:.3f}", f"{(wall - duration) * 1e3:.1f}", f"{cpu * 1e3:.2f}",
                     f"{cpu / wall * 100:.2f}%"] for duration, wall, cpu in figures],
                   [44, 10, 12, 13, 10])
    duration, wall, cpu = figures[-1]
    ctx.goal("lint", "lint with 1.0 s checks: total < 1.3 s wall", wall < 1.3, f"{wall:.3f} s")
    ctx.goal("lint", "lint with 1.0 s checks: tolvo < 5% of one core", cpu / wall < 0.05,
             f"{cpu / wall * 100:.2f}% ({cpu * 1e3:.1f} ms CPU)")
