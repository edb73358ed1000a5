"""The cold path with each installer, for real: `tolvo test` on a fresh copy
of examples/demo (no .venv, caches warm) with installer "pip" and "uv",
against `uv run pytest` with its own .venv removed; `tolvo requirements
NAME` for a dependency group of six packages against `uv venv && uv pip
install -e . --group NAME`; and the in-sync `tolvo test` under each
installer, judged by tolvo's own CPU time and by its time outside pytest's
interpreter. All rounds interleaved, so that load from elsewhere falls on
every command alike.

Full run only: it needs real pip, pytest and uv, and the network for the
first installs."""

from __future__ import annotations

import os
import shutil
import subprocess
import time
from pathlib import Path

from measure import Context, median, print_group, scratch_directory
from refresh import _checked, _project, _span_environment, _time_around_pytest
from startup import VENVS, _make_venv

GROUP = "six"
# Small pure-Python distributions without dependencies, none of them in the
# system site-packages that tolvo's environments see.
SIX_PACKAGES = ["tabulate", "humanize", "toolz", "tomlkit", "cachetools", "termcolor"]


def _with_group(project: Path) -> Path:
    pyproject = project / "pyproject.toml"
    names = ", ".join(f'"{name}"' for name in SIX_PACKAGES)
    pyproject.write_text(pyproject.read_text() + f"\n[dependency-groups]\n{GROUP} = [{names}]\n")
    return project


def _cold(runs: dict[str, tuple[list[str], Path]], repeat: int, env: dict[str, str],
          fresh: bool = True) -> list[tuple[str, list[float]]]:
    """Wall times of each run, round after round, from a project without
    .venv unless `fresh` is false."""
    samples: dict[str, list[float]] = {name: [] for name in runs}
    for _ in range(repeat):
        for name, (cmd, cwd) in runs.items():
            if fresh:
                shutil.rmtree(cwd / ".venv", ignore_errors=True)
            start = time.perf_counter()
            result = subprocess.run(cmd, cwd=cwd, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
            samples[name].append(time.perf_counter() - start)
            if result.returncode != 0:
                print(result.stdout[-3000:] + result.stderr[-3000:])
                raise SystemExit(f"bench: {name} failed")
    return list(samples.items())


def _isolated_in_sync(ctx: Context, tolvo: str, project: Path, uv_run: tuple[list[str], Path],
                      env: dict[str, str]) -> None:
    """The whole wall time of an in-sync `tolvo test` in an environment
    without the system site-packages, against `uv run pytest` in uv's own."""
    pyproject = project / "pyproject.toml"
    pyproject.write_text(pyproject.read_text().replace('refresh = "when-needed"',
                                                       'refresh = "when-needed"\nsystem-site-packages = false'))
    ours = [tolvo, "test"]
    _checked(ours, project, env)
    _checked(*uv_run, env)
    name_ours, name_theirs = "tolvo test in sync, system-site-packages = false", "uv run pytest in sync"
    walls = _cold({name_theirs: uv_run, name_ours: (ours, project)}, 15, env, fresh=False)
    print_group("In sync, whole wall time, isolated environments (15 interleaved rounds)", walls, name_theirs)
    medians = {name: median(samples) for name, samples in walls}
    ratio = medians[name_ours] / medians[name_theirs]
    ctx.goal("installer", "in-sync tolvo test, isolated, within 1.05x uv run pytest (wall median)", ratio <= 1.05,
             f"{medians[name_ours]:.3f} s against {medians[name_theirs]:.3f} s ({ratio:.2f}x)")


def run(ctx: Context) -> None:
    if ctx.quick:
        print("\n  skipped: the installers cold and in sync (real pip, uv and pytest; full run only)")
        return
    uv = _make_venv(VENVS / "uv", ["uv"], "uv") / "bin" / "uv"
    repeat = 7
    tolvo = str(ctx.tolvo)
    with scratch_directory("tolvo-bench-installer-") as scratch_name:
        scratch = Path(scratch_name)
        # uv alone beside the PATH tolvo searches: the bench venv's python must not become the base interpreter.
        (scratch / "uv-bin").mkdir()
        (scratch / "uv-bin" / "uv").symlink_to(uv)
        env = dict(os.environ, PATH=f"{scratch / 'uv-bin'}:{os.environ['PATH']}")
        pip_demo, uv_demo, theirs = (_project(scratch / name) for name in ("pip", "uv", "theirs"))
        print("\n  (first runs: warming the caches of pip and uv)", flush=True)
        _checked([tolvo, "--installer", "pip", "test"], pip_demo, env)
        _checked([tolvo, "--installer", "uv", "test"], uv_demo, env)
        uv_run = [str(uv), "run", "--extra", "test", "pytest", "-vv", "tests/"]
        _checked(uv_run, theirs, env)  # also writes uv.lock, which a clone of a uv project has
        cold_pip, cold_uv, cold_uv_run = "tolvo test, installer pip", "tolvo test, installer uv", "uv run pytest"
        cold = _cold({cold_uv_run: (uv_run, theirs), cold_pip: ([tolvo, "--installer", "pip", "test"], pip_demo),
                      cold_uv: ([tolvo, "--installer", "uv", "test"], uv_demo)}, repeat, env)
        print_group(f"Cold tolvo test on examples/demo, no .venv, caches warm ({repeat} interleaved rounds)", cold,
                    cold_uv_run)
        walls = {name: median(samples) for name, samples in cold}
        ctx.goal("installer", "cold tolvo test with uv within 1.3x cold uv run pytest",
                 walls[cold_uv] <= 1.3 * walls[cold_uv_run],
                 f"{walls[cold_uv]:.2f} s against {walls[cold_uv_run]:.2f} s "
                 f"({walls[cold_uv] / walls[cold_uv_run]:.2f}x); pip {walls[cold_pip]:.2f} s")

        req_pip, req_uv, req_ref = (_with_group(_project(scratch / f"group-{name}")) for name in ("pip", "uv", "ref"))
        uv_commands = ["sh", "-c", f'"$0" venv --quiet && "$0" pip install --quiet -e . --group {GROUP}', str(uv)]
        for cmd, cwd in (([tolvo, "--installer", "pip", "requirements", GROUP], req_pip),
                         ([tolvo, "--installer", "uv", "requirements", GROUP], req_uv), (uv_commands, req_ref)):
            _checked(cmd, cwd, env)
        name_pip, name_uv = f"tolvo requirements {GROUP}, installer pip", f"tolvo requirements {GROUP}, installer uv"
        name_ref = "uv venv && uv pip install -e . --group"
        requirements = _cold({name_ref: (uv_commands, req_ref),
                              name_pip: ([tolvo, "--installer", "pip", "requirements", GROUP], req_pip),
                              name_uv: ([tolvo, "--installer", "uv", "requirements", GROUP], req_uv)}, repeat, env)
        print_group(f"Cold requirements, a dependency group of {len(SIX_PACKAGES)} packages ({repeat} interleaved "
                    "rounds)", requirements, name_ref)
        walls = {name: median(samples) for name, samples in requirements}
        ctx.goal("installer", "cold requirements with uv within 1.3x the uv commands",
                 walls[name_uv] <= 1.3 * walls[name_ref],
                 f"{walls[name_uv]:.2f} s against {walls[name_ref]:.2f} s "
                 f"({walls[name_uv] / walls[name_ref]:.2f}x); pip {walls[name_pip]:.2f} s")

        # In sync: each project's environment made once more under the span recorder's PYTHONPATH.
        span_env = dict(_span_environment(scratch), PATH=env["PATH"])
        in_sync = {}
        for installer, project in (("pip", pip_demo), ("uv", uv_demo)):
            cmd = [tolvo, "--installer", installer, "--refresh", "when-needed", "test"]
            _checked(cmd, project, span_env)
            in_sync[f"tolvo test in sync, installer {installer}"] = (cmd, project)
        limit = "pytest in the uv-made .venv directly (limit)"
        runs = {limit: ([str(uv_demo / ".venv" / "bin" / "python"), "-um", "pytest", "-vv", "tests/"], uv_demo),
                **in_sync}
        walls_sync, outside = _time_around_pytest(runs, 15, span_env)
        print_group("In sync, refresh when-needed: time outside pytest's interpreter (15 interleaved rounds)", outside,
                    limit)
        own = {name: median([ctx.measure(cmd, cwd=cwd, env=span_env).own_cpu for _ in range(15)])
               for name, (cmd, cwd) in in_sync.items()}
        for name, cpu in own.items():
            print(f"  tolvo's own CPU, {name}: {cpu * 1e3:.2f} ms")
        _isolated_in_sync(ctx, tolvo, _project(scratch / "isolated"), (uv_run, theirs), env)
    pip_cpu, uv_cpu = own["tolvo test in sync, installer pip"], own["tolvo test in sync, installer uv"]
    ctx.goal("installer", "in sync with uv no slower than with pip (tolvo's own CPU, 1 ms of noise allowed)",
             uv_cpu <= pip_cpu + 0.001, f"uv {uv_cpu * 1e3:.2f} ms, pip {pip_cpu * 1e3:.2f} ms")
