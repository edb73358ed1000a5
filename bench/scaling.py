"""Scaling with the length of the requirement lists: config-diff on a
generated pyproject.toml, and the requirement coverage in process."""

from __future__ import annotations

import math
import shutil
import subprocess
from pathlib import Path

from measure import ROOT, Context, median, print_rows, scratch_directory, time_command

# The template's build requirement and pytest come first, so that the
# comparison finds what it looks for and reads every entry it is given.
PYPROJECT_HEAD = (ROOT / "examples" / "demo" / "pyproject.toml").read_text()


def _pyproject(n: int) -> str:
    def entries(first: str) -> str:
        rest = [f'"dep-{i}[extra]>=1.{i % 50}; python_version >= \'3.8\'"' for i in range(n - 1)]
        return "[" + ", ".join([f'"{first}"', *rest]) + "]"
    return (PYPROJECT_HEAD.replace('requires = ["setuptools>=77"]', "requires = " + entries("setuptools>=77"))
            .replace('test = ["pytest>=8"]', "test = " + entries("pytest>=8")))


def _curve(title: str, points: list[tuple[int, float]]) -> list[str]:
    """Prints time, time/n and time/(n log n); returns the sizes at which the
    growth from the previous size exceeds n log n by more than half."""
    print(f"\n{title}")
    print_rows(["n", "time ms", "time/n us", "time/(n log2 n) ns"],
               [[f"{n:,}", f"{t * 1e3:.3f}", f"{t / n * 1e6:.3f}", f"{t / (n * math.log2(n)) * 1e9:.1f}"]
                for n, t in points], [44, 10, 10, 18])
    worse = []
    for (n1, t1), (n2, t2) in zip(points, points[1:]):
        if t2 / t1 > 1.5 * (n2 * math.log2(n2)) / (n1 * math.log2(n1)):
            worse.append(f"{n2:,}")
    return worse


def run(ctx: Context) -> None:
    sizes = [10, 100, 1_000] if ctx.quick else [10, 100, 1_000, 10_000]
    repeat = 3 if ctx.quick else 20
    points = []
    with scratch_directory(prefix="tolvo-bench-scaling-") as scratch:
        for n in sizes:
            project = Path(scratch) / str(n)
            project.mkdir()
            (project / "pyproject.toml").write_text(_pyproject(n))
            points.append((n, median(time_command([str(ctx.tolvo), "config-diff"], repeat, cwd=project))))
            shutil.rmtree(project)
    worse = _curve("Scaling: tolvo config-diff, build-system.requires and the test group of n entries each", points)
    ctx.goal("scaling", "config-diff grows no worse than n log n", not worse,
             "worse at " + ", ".join(worse) if worse else "within n log n")

    result = subprocess.run([ctx.build_dir / "bench" / "tolvo_coverage_bench", *map(str, sizes)], check=True,
                            capture_output=True, text=True)
    points = []
    for line in result.stdout.splitlines():
        n, micros, _missing = line.split()
        points.append((int(n), float(micros) / 1e6))
    worse = _curve("Scaling: requirements_not_satisfied_by in process, n expected against n actual", points)
    ctx.goal("scaling", "requirement coverage grows no worse than n log n", not worse,
             "worse at " + ", ".join(worse) if worse else "within n log n")
