"""clean on generated project trees, against find (the limit), git clean
and the same work in Python. The identical tree is generated again before
every sample; generating it is not timed."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

from measure import Context, median, on_ram_disk, print_group, print_rows, scratch_directory

REFERENCE = Path(__file__).resolve().parent / "clean_reference.py"

# Nine tenths of a tree are packages in units of nine entries: the package
# directory, __init__.py and three modules, a __pycache__ directory with two
# .pyc files and one stray .pyc; one unit per ten entries, so a tenth of all
# entries are __pycache__ directories. The last tenth are the root-only
# artefacts: .venv, build, dist, wheelhouse and egg-info directories.
UNIT = ("__init__.py", "a.py", "b.py", "c.py")
UNITS_PER_DIRECTORY = 100
KEPT_PER_UNIT = 1 + len(UNIT)

GITIGNORE = "/build/\n/dist/\n/.venv/\n/wheelhouse/\n/*.egg-info/\n/*.build/\n/*.dist/\n__pycache__/\n*.pyc\n"

FIND_CLEAN = ("rm -rf build dist .venv wheelhouse *.egg-info *.build *.dist && "
              "find . -name __pycache__ -prune -exec rm -rf {} + && find . -name '*.pyc' -delete")


def _touch(path: str) -> None:
    os.close(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644))


def _files(directory: str, count: int, suffix: str) -> None:
    os.makedirs(directory)
    for i in range(count):
        _touch(f"{directory}/f{i}{suffix}")


def make_tree(root: Path, entries: int) -> int:
    """Writes a tree of about `entries` entries at `root` and returns how many
    entries clean has to leave (the sources and their directories)."""
    units = entries // 10
    kept = 0
    for unit in range(units):
        group = f"{root}/src/g{unit // UNITS_PER_DIRECTORY}"
        if unit % UNITS_PER_DIRECTORY == 0:
            os.makedirs(group)
            kept += 1
        package = f"{group}/p{unit}"
        os.mkdir(package)
        for name in UNIT:
            _touch(f"{package}/{name}")
        os.mkdir(f"{package}/__pycache__")
        _touch(f"{package}/__pycache__/a.cpython-311.pyc")
        _touch(f"{package}/__pycache__/b.cpython-311.pyc")
        _touch(f"{package}/legacy.pyc")
        kept += KEPT_PER_UNIT
    artefacts = entries - units * 9
    venv_files = artefacts * 6 // 10
    for i in range(0, venv_files, 50):
        _files(f"{root}/.venv/lib/python3.11/site-packages/dep{i}", min(50, venv_files - i), ".py")
    build_files = artefacts * 3 // 10
    for i in range(0, build_files, 50):
        _files(f"{root}/build/lib/demo/m{i}", min(50, build_files - i), ".py")
    _files(f"{root}/dist", 10, ".whl")
    _files(f"{root}/demo.egg-info", 5, ".txt")
    _files(f"{root}/wheelhouse", 10, ".whl")
    os.mkdir(f"{root}/src.egg-info")
    _touch(f"{root}/pyproject.toml")
    return kept + 2


def count_entries(root: Path) -> int:
    """Entries below `root`; a git repository's .git counts as one."""
    total = 0
    for parent, dirs, files in os.walk(root):
        total += len(dirs) + len(files)
        if parent == str(root) and ".git" in dirs:
            dirs.remove(".git")
    return total


def _git_repository(root: Path) -> None:
    (root / ".gitignore").write_text(GITIGNORE)
    subprocess.run(["git", "init", "-q", str(root)], check=True)


def _timed(cmd: list[str], root: Path) -> float:
    start = time.perf_counter()
    subprocess.run(cmd, cwd=root, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def _sample(cmd: list[str], scratch: Path, entries: int, git: bool, check: bool) -> float:
    root = scratch / "tree"
    if root.exists():
        shutil.rmtree(root)
    root.mkdir()
    kept = make_tree(root, entries)
    if git:
        _git_repository(root)
        kept += 2
    if not on_ram_disk(root):
        # Written back before the clock starts, so no removal waits for the
        # writeback of the generation.
        os.sync()
    elapsed = _timed(cmd, root)
    if check:
        left = count_entries(root)
        if left != kept:
            raise SystemExit(f"bench: {cmd[0]} left {left} entries of a {entries}-entry tree, expected {kept}")
    return elapsed


def run(ctx: Context) -> None:
    sizes = [(2_000, 3), (10_000, 3), (20_000, 3)] if ctx.quick else [(10_000, 9), (100_000, 5), (300_000, 3)]
    contenders = [
        ("find -exec rm -rf + find -delete (limit)", ["sh", "-c", FIND_CLEAN], False),
        ("tolvo clean", [str(ctx.tolvo), "clean"], False),
        ("git clean -fdX (.gitignore of the patterns)", ["git", "clean", "-q", "-fdX"], True),
        ("python os.walk + shutil.rmtree", [sys.executable, str(REFERENCE)], False),
    ]
    per_entry: dict[str, list[str]] = {name: [] for name, _, _ in contenders}
    tolvo_costs, find_ratios, python_ratios = [], [], []
    with scratch_directory(prefix="tolvo-bench-clean-") as scratch:
        for entries, repeat in sizes:
            # Round after round, so that a burst of load from elsewhere falls
            # on every contender alike.
            samples: dict[str, list[float]] = {name: [] for name, _, _ in contenders}
            for round_number in range(repeat):
                for name, cmd, git in contenders:
                    samples[name].append(_sample(cmd, Path(scratch), entries, git, check=(round_number == 0)))
            rows = list(samples.items())
            for name, values in rows:
                per_entry[name].append(f"{median(values) / entries * 1e9:.0f}")
            medians = {name: median(values) for name, values in rows}
            print_group(f"clean, a tree of {entries:,} entries ({entries // 10:,} __pycache__ directories)",
                        rows, contenders[0][0])
            tolvo_costs.append(medians["tolvo clean"] / entries)
            find_ratios.append(medians["tolvo clean"] / medians[contenders[0][0]])
            python_ratios.append(medians[contenders[3][0]] / medians["tolvo clean"])
    print("\nclean, cost per entry (ns) by tree size")
    print_rows(["what", *(f"{entries:,}" for entries, _ in sizes)],
               [[name, *costs] for name, costs in per_entry.items()], [44, 10, 10, 10])
    ctx.goal("clean", "tolvo clean within 1.5x of find at every size", max(find_ratios) <= 1.5,
             "ratios " + ", ".join(f"{ratio:.2f}x" for ratio in find_ratios))
    ctx.goal("clean", "tolvo clean >= 2x faster than the Python version", min(python_ratios) >= 2,
             "faster by " + ", ".join(f"{ratio:.1f}x" for ratio in python_ratios))
    growth = tolvo_costs[-1] / tolvo_costs[0]
    ctx.goal("clean", "tolvo clean cost linear in entries (per-entry cost at the largest tree "
             "<= 1.5x that at the smallest)", growth <= 1.5, f"{growth:.2f}x")
