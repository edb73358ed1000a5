"""What every benchmark group shares: running a command and measuring it,
summarising samples, printing a table and recording whether a goal is met."""

from __future__ import annotations

import os
import statistics
import subprocess
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]

# Scratch trees live in memory when a RAM disk is there: what is measured
# is then tolvo and the kernel, not the disk (nor its discards on removal).
RAM_DISK = Path("/dev/shm")


def scratch_directory(prefix: str) -> tempfile.TemporaryDirectory:
    return tempfile.TemporaryDirectory(prefix=prefix, dir=RAM_DISK if RAM_DISK.is_dir() else None)


def on_ram_disk(path: Path) -> bool:
    return path.is_relative_to(RAM_DISK)


@dataclass
class Sample:
    """One run of a command, as tolvo_run_measured reports it: wall time, the
    CPU time of the process itself (all its threads, none of its children)
    and its peak resident memory (wait4's, which also covers the children it
    waited for; see run_measured.cpp)."""

    wall: float
    own_cpu: float
    maxrss_kb: int
    returncode: int


def run_measured(runner: Path, cmd: list[str], cwd: Path | None = None, env: dict[str, str] | None = None,
                 stdin=subprocess.DEVNULL) -> Sample:
    """Runs `cmd` once under `runner` (the tolvo_run_measured program); its
    output is discarded."""
    result = subprocess.run([str(runner), *cmd], cwd=cwd, env=env, stdin=stdin, capture_output=True, text=True,
                            check=True)
    wall, own_cpu, maxrss_kb, returncode = result.stdout.split()
    return Sample(float(wall), float(own_cpu), int(maxrss_kb), int(returncode))


def time_command(cmd: list[str], repeat: int, cwd: Path | None = None,
                 env: dict[str, str] | None = None) -> list[float]:
    """Wall times of `repeat` runs of `cmd`, output discarded."""
    samples = []
    for _ in range(repeat):
        start = time.perf_counter()
        subprocess.run(cmd, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        samples.append(time.perf_counter() - start)
    return samples


def time_interleaved(cmds: dict[str, list[str]], repeat: int,
                     cwds: dict[str, Path] | None = None) -> list[tuple[str, list[float]]]:
    """Wall times of the commands run in turn, round after round, so that a
    burst of load from elsewhere falls on all of them alike; each in its
    directory of `cwds`, if it has one."""
    samples: dict[str, list[float]] = {name: [] for name in cmds}
    for _ in range(repeat):
        for name, cmd in cmds.items():
            samples[name] += time_command(cmd, 1, cwd=(cwds or {}).get(name))
    return list(samples.items())


def summary(samples: list[float]) -> tuple[float, float, float]:
    """Median, 10th and 90th percentile."""
    ordered = sorted(samples)
    p10 = ordered[len(ordered) // 10]
    p90 = ordered[min(len(ordered) - 1, len(ordered) * 9 // 10)]
    return statistics.median(ordered), p10, p90


def median(samples: list[float]) -> float:
    return statistics.median(samples)


def print_group(title: str, rows: list[tuple[str, list[float]]], reference: str) -> None:
    """One table of wall times in milliseconds; ratios are to `reference`."""
    medians = {name: summary(samples)[0] for name, samples in rows}
    print(f"\n{title}")
    print(f"  {'what':<44} {'median ms':>10} {'p10-p90 ms':>19} {'ratio':>9}")
    for name, samples in rows:
        mid, p10, p90 = summary(samples)
        ratio = mid / medians[reference]
        print(f"  {name:<44} {mid * 1e3:>10.3f} {p10 * 1e3:>9.3f}-{p90 * 1e3:<9.3f} {ratio:>8.2f}x")


def print_rows(header: list[str], rows: list[list[str]], widths: list[int]) -> None:
    """A free-form table: the first column left-aligned, the others right."""
    def line(cells: list[str]) -> str:
        first = f"  {cells[0]:<{widths[0]}}"
        return first + "".join(f" {cell:>{width}}" for cell, width in zip(cells[1:], widths[1:]))
    print(line(header))
    for row in rows:
        print(line(row))


@dataclass
class Goal:
    group: str
    text: str
    met: bool
    figure: str


@dataclass
class Context:
    """What a group needs: the executables, the scale of the run and the
    report the goals go to."""

    tolvo: Path
    build_dir: Path
    runner: Path
    quick: bool
    corpus: Path
    goals: list[Goal] = field(default_factory=list)

    def measure(self, cmd: list[str], cwd: Path | None = None, env: dict[str, str] | None = None,
                stdin=subprocess.DEVNULL) -> Sample:
        return run_measured(self.runner, cmd, cwd=cwd, env=env, stdin=stdin)

    def goal(self, group: str, text: str, met: bool, figure: str) -> None:
        """Records a goal and states it under the group's table."""
        self.goals.append(Goal(group, text, met, figure))
        print(f"  goal: {text}: {figure} -> {'met' if met else 'MISSED'}")
