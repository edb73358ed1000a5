"""The quiet steps (an installation behind the spinner) and the local test
run: tolvo's CPU while a quiet child runs, its memory and speed when the
child writes a lot, and what `tolvo test` adds to pytest."""

from __future__ import annotations

import mmap
import time
from pathlib import Path

from fakes import make_fake_bin, make_project
from measure import Context, Sample, median, print_group, print_rows, scratch_directory, time_command

LINE = b"x" * 99 + b"\n"


def _write_output(path: Path, size: int) -> None:
    block = LINE * (1 << 14)
    with path.open("wb") as out:
        for _ in range(size // len(block)):
            out.write(block)
        out.write(LINE * (size % len(block) // len(LINE)))


def _requirements(ctx: Context, project: Path, env: dict[str, str], repeat: int) -> list[Sample]:
    samples = [ctx.measure([str(ctx.tolvo), "requirements"], cwd=project, env=env) for _ in range(repeat)]
    if any(sample.returncode != 0 for sample in samples):
        raise SystemExit("bench: tolvo requirements failed against the fakes")
    return samples


def _waiting(ctx: Context, project: Path, env: dict[str, str]) -> None:
    repeat = 1 if ctx.quick else 3
    samples = _requirements(ctx, project, dict(env, FAKE_INSTALL_SLEEP="3"), repeat)
    cpu = median([sample.own_cpu for sample in samples])
    wall = median([sample.wall for sample in samples])
    print("\nQuiet step: tolvo requirements while the environment's pip runs 3 s")
    print(f"  wall {wall:.3f} s, tolvo's own CPU {cpu * 1e3:.2f} ms (median of {repeat})")
    ctx.goal("quiet", "tolvo's CPU < 30 ms while a quiet child runs 3 s", cpu < 0.030, f"{cpu * 1e3:.2f} ms")


def _first_touch(size: int, repeat: int) -> list[float]:
    """Wall times of writing one byte into every page of `size` bytes of fresh
    memory: what the kernel charges for holding that much at all."""
    samples = []
    for _ in range(repeat):
        start = time.perf_counter()
        with mmap.mmap(-1, size) as memory:
            for offset in range(0, size, mmap.PAGESIZE):
                memory[offset] = 1
        samples.append(time.perf_counter() - start)
    return samples


def _loud(ctx: Context, project: Path, env: dict[str, str], scratch: Path) -> None:
    sizes = (5, 10, 20) if ctx.quick else (25, 50, 100)
    repeat = 3 if ctx.quick else 5
    output = scratch / "output"
    baseline = median([sample.maxrss_kb for sample in _requirements(ctx, project, env, repeat)]) * 1024
    memory_rows = [["no output", f"{baseline / 1e6:.1f}", ""]]
    per_byte = []
    for megabytes in sizes:
        size = megabytes * 1_000_000
        _write_output(output, size)
        samples = _requirements(ctx, project, dict(env, FAKE_INSTALL_OUTPUT=str(output)), repeat)
        peak = median([sample.maxrss_kb for sample in samples]) * 1024
        per_byte.append((peak - baseline) / size)
        memory_rows.append([f"{megabytes} MB", f"{peak / 1e6:.1f}", f"{per_byte[-1]:.2f}"])
    cat = ["sh", "-c", 'cat "$1" | cat >/dev/null', "sh", str(output)]
    rows = [(f"cat of {megabytes} MB into a pipe (limit)", time_command(cat, repeat)),
            ("tolvo requirements, the quiet child writes it", [sample.wall for sample in samples]),
            (f"first touch of {megabytes} MB of fresh memory", _first_touch(size, repeat))]
    print_group(f"Quiet step whose child writes {megabytes} MB to its captured standard output", rows, rows[0][0])
    print("  tolvo keeps the whole output (it is shown if the step fails): the page faults of holding it,")
    print("  about twice over as the text grows, are most of its time on a machine where faults are dear")
    print("\nQuiet step, tolvo's peak resident memory by output size (wait4 ru_maxrss; children are dash/cat)")
    print_rows(["output", "peak MB", "(peak - no output) / output"], memory_rows, [44, 10, 28])
    ratio = median(rows[1][1]) / median(rows[0][1])
    ctx.goal("quiet", f"quiet child writing {megabytes} MB: time <= 1.5x of cat into a pipe", ratio <= 1.5,
             f"{ratio:.2f}x")
    spread = max(per_byte) / min(per_byte)
    ctx.goal("quiet", "peak memory proportional to the output (growth per byte within 25% across sizes)",
             spread <= 1.25, f"{min(per_byte):.2f}-{max(per_byte):.2f} bytes per output byte")
    output.unlink()


def _test_overhead(ctx: Context, project: Path, env: dict[str, str]) -> None:
    repeat = 5 if ctx.quick else 50
    venv_python = str(project / ".venv" / "bin" / "python")
    rows = [
        ("the fake pytest run directly (limit)",
         time_command([venv_python, "-um", "pytest", "-vv", "tests/"], repeat, cwd=project, env=env)),
        ("tolvo test", time_command([str(ctx.tolvo), "test"], repeat, cwd=project, env=env)),
    ]
    print_group("tolvo test, the environment's pytest exits at once", rows, rows[0][0])
    overhead = median(rows[1][1]) - median(rows[0][1])
    print("  tolvo test also runs the quiet steps ensurepip, pip upgrade and the test-tools install (fakes)")
    ctx.goal("quiet", "tolvo test overhead < 20 ms beyond running pytest directly", overhead < 0.020,
             f"{overhead * 1e3:.2f} ms")


def run(ctx: Context) -> None:
    # The output file lives in memory (scratch_directory), so cat measures
    # the pipe, not the disk.
    with scratch_directory("tolvo-bench-quiet-") as scratch:
        env = make_fake_bin(Path(scratch) / "bin")
        project = make_project(Path(scratch) / "demo")
        _requirements(ctx, project, env, 1)  # creates the fake environment
        _waiting(ctx, project, env)
        _loud(ctx, project, env, Path(scratch))
        _test_overhead(ctx, project, env)
