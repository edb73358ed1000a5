"""config-diff over the corpus of real-world pyproject.toml files, against
the same work written in Python (config_diff_reference.py), and the
pyproject reader in process."""

from __future__ import annotations

import importlib.util
import shutil
import subprocess
import sys
from pathlib import Path

from measure import Context, median, print_group, scratch_directory, time_command

REFERENCE = Path(__file__).resolve().parent / "config_diff_reference.py"


def _reader_in_process(ctx: Context) -> None:
    result = subprocess.run([ctx.build_dir / "bench" / "tolvo_config_bench"], check=True, capture_output=True,
                            text=True)
    print("\nProjectConfig from a 100 KB pyproject.toml, all accessors (in process)")
    for line in result.stdout.splitlines():
        key, value = line.split()
        print(f"  {key:<44} {value:>10}")


def run(ctx: Context) -> None:
    _reader_in_process(ctx)
    files = sorted(ctx.corpus.glob("*.toml"))
    if not files:
        print(f"\nconfig-diff: no corpus at {ctx.corpus} (see --corpus), skipped")
        return
    if importlib.util.find_spec("packaging") is None:
        print("\nconfig-diff: the Python reference needs 'packaging' (pip install packaging), skipped")
        return
    if ctx.quick:
        files = files[:10]
    repeat = 3 if ctx.quick else 20
    tolvo_samples: list[float] = []
    python_samples: list[float] = []
    per_file: list[float] = []
    with scratch_directory(prefix="tolvo-bench-") as scratch:
        for source in files:
            project = Path(scratch) / source.stem
            project.mkdir()
            shutil.copyfile(source, project / "pyproject.toml")
            samples = time_command([str(ctx.tolvo), "config-diff"], repeat, cwd=project)
            per_file.append(median(samples))
            tolvo_samples += samples
            python_samples += time_command([sys.executable, str(REFERENCE)], 1, cwd=project)
    rows = [("python tomllib+packaging (reference)", python_samples), ("tolvo config-diff", tolvo_samples)]
    print_group(f"config-diff over {len(files)} real-world pyproject.toml files (per run)", rows,
                "python tomllib+packaging (reference)")
    print(f"  slowest file median: {max(per_file) * 1e3:.3f} ms")
    speedup = median(python_samples) / median(tolvo_samples)
    ctx.goal("config-diff", "config-diff >= 20x faster than the Python reference", speedup >= 20,
             f"{speedup:.1f}x")
