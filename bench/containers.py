"""Container builds and the wheel test against a real Docker engine, with the
stand-in images of tests/containers (full run only): a pure wheel
(hatchling), a native wheel (a C extension, repaired by auditwheel) and the
test of that wheel, each from the command line. The containers' work is
almost all of the wall time; what tolvo itself spends is its own CPU time,
which is the goal. The host side runs against the fakes, so no venv is made."""

from __future__ import annotations

import shutil
import sys
from pathlib import Path

from fakes import make_fake_bin
from measure import ROOT, Context, print_rows, scratch_directory, summary

sys.path.insert(0, str(ROOT / "tests" / "containers"))
import standins  # noqa: E402

REPEAT = 3
CPU_GOAL_MS = 20


def _fresh_project(scratch: Path, sample: str) -> Path:
    project = scratch / sample
    shutil.rmtree(project, ignore_errors=True)
    shutil.copytree(standins.PROJECTS / sample, project)
    return project


def run(ctx: Context) -> None:
    if ctx.quick:
        print("\ncontainers: not in --quick (needs a Docker engine, and minutes)")
        return
    try:
        started = standins.start_engine()
    except standins.EngineUnavailable as error:
        print(f"\ncontainers: skipped, no engine: {error}")
        return
    try:
        standins.build_images(("x86_64",))
        _measure(ctx)
    finally:
        if started:
            standins.stop_engine()


def _measure(ctx: Context) -> None:
    with scratch_directory(prefix="tolvo-bench-containers-") as scratch_name:
        scratch = Path(scratch_name)
        env = make_fake_bin(scratch / "bin")
        docker = shutil.which("docker")
        if docker is None:
            raise SystemExit("bench: no docker client on PATH")
        (scratch / "bin" / "docker").symlink_to(docker)
        cases = [
            ("build --wheel (hatchling)", "pure", ["build", "--wheel"], False),
            ("build --native-wheel (C extension)", "native", ["build", "--native-wheel", "--setup",
                                                               standins.NATIVE_SETUP], False),
            ("test --wheel (the native wheel)", "native", ["test", "--wheel"], True),
        ]
        rows = []
        for name, sample, args, reuse in cases:
            samples = []
            for _ in range(REPEAT):
                project = scratch / sample if reuse else _fresh_project(scratch, sample)
                result = ctx.measure([str(ctx.tolvo), *args], cwd=project, env=env)
                if result.returncode != 0:
                    raise SystemExit(f"bench: tolvo {' '.join(args[:2])} failed against the engine")
                samples.append(result)
            rows.append((name, samples))
    print("\ncontainers, x86_64 stand-in images, wall and tolvo's own CPU (medians of "
          f"{REPEAT}, p10-p90)")
    print_rows(["what", "wall s", "p10-p90 s", "tolvo CPU ms"],
               [[name, f"{summary([s.wall for s in samples])[0]:.1f}",
                 "{1:.1f}-{2:.1f}".format(*summary([s.wall for s in samples])),
                 f"{summary([s.own_cpu for s in samples])[0] * 1e3:.1f}"] for name, samples in rows],
               [44, 10, 12, 13])
    worst = max(summary([s.own_cpu for s in samples])[0] for _, samples in rows)
    ctx.goal("containers", f"each container command: tolvo's own CPU < {CPU_GOAL_MS} ms",
             worst * 1e3 < CPU_GOAL_MS, f"{worst * 1e3:.1f} ms at most")
