"""Start-up: tolvo against the cost of starting any process at all, against
its own Python launcher and against the tools a user would otherwise run."""

from __future__ import annotations

import hashlib
import os
import subprocess
import sys
from pathlib import Path

from measure import ROOT, Context, median, print_group, time_command, time_interleaved

VENVS = ROOT / "build" / "bench-venvs"
PEERS = ("hatch", "pdm", "nox", "tox", "poetry")
# What decides the content of the tolvo wheel.
WHEEL_SOURCES = ("src", "python", "cmake", "CMakeLists.txt", "pyproject.toml")


def _make_venv(path: Path, packages: list[str], stamp: str) -> Path:
    """A throwaway virtual environment with `packages`, made once and kept
    while `stamp` stays the same."""
    stamp_file = path / "bench-stamp"
    if stamp_file.is_file() and stamp_file.read_text() == stamp:
        return path
    print(f"  (installing {' '.join(packages)} into {path}; kept for later runs)", flush=True)
    subprocess.run([sys.executable, "-m", "venv", "--clear", path], check=True)
    env = dict(os.environ, CMAKE_BUILD_PARALLEL_LEVEL="2")
    result = subprocess.run([path / "bin" / "pip", "install", "--quiet", "--disable-pip-version-check", *packages],
                            env=env, capture_output=True, text=True)
    if result.returncode != 0:
        print(result.stdout + result.stderr)
        raise SystemExit(f"bench: installing {' '.join(packages)} failed")
    stamp_file.write_text(stamp)
    return path


def _wheel_stamp() -> str:
    digest = hashlib.sha256()
    for name in WHEEL_SOURCES:
        top = ROOT / name
        for path in sorted(top.rglob("*")) if top.is_dir() else [top]:
            if path.is_file():
                digest.update(str(path.relative_to(ROOT)).encode() + b"\0" + path.read_bytes())
    return digest.hexdigest()


def _wheel_venv(quick: bool) -> Path | None:
    """The venv with tolvo installed from this tree by pip. A quick run uses
    it only when it is already up to date: building the wheel compiles
    everything again."""
    path, stamp = VENVS / "wheel", _wheel_stamp()
    if quick:
        stamp_file = path / "bench-stamp"
        return path if stamp_file.is_file() and stamp_file.read_text() == stamp else None
    return _make_venv(path, [str(ROOT)], stamp)


def run(ctx: Context) -> None:
    repeat = 20 if ctx.quick else 200
    tolvo = str(ctx.tolvo)
    rows = time_interleaved({
        "/bin/true (limit)": ["/bin/true"],
        "tolvo --version": [tolvo, "--version"],
        "tolvo --help": [tolvo, "--help"],
        "tolvo usage error": [tolvo, "--no-such-option"],
    }, repeat)
    rows.append(("python -c pass", time_command([sys.executable, "-c", "pass"], max(3, repeat // 10))))
    skipped = []
    wheel = _wheel_venv(ctx.quick)
    if wheel is None:
        skipped.append("python -m tolvo (no up-to-date wheel venv; a full run installs one)")
    else:
        rows.append(("python -m tolvo --version (pip-installed)",
                     time_command([str(wheel / "bin" / "python"), "-m", "tolvo", "--version"],
                                  max(3, repeat // 10))))
    peer_rows = []
    if ctx.quick:
        skipped.append("the peer tools (" + ", ".join(PEERS) + "): not installed in --quick")
    else:
        peers = _make_venv(VENVS / "peers", list(PEERS), " ".join(PEERS))
        for peer in PEERS:
            peer_rows.append((f"{peer} --version", time_command([str(peers / "bin" / peer), "--version"],
                                                                max(5, repeat // 10))))
    print_group("Start-up (wall time of one run)", rows + peer_rows, "/bin/true (limit)")
    for what in skipped:
        print(f"  skipped: {what}")

    limit = median(rows[0][1])
    slowest = max(median(samples) for _, samples in rows[1:4])
    ctx.goal("start-up", "tolvo --version, --help, usage error within 3x of /bin/true",
             slowest <= 3 * limit, f"slowest {slowest / limit:.2f}x")
    if peer_rows:
        tolvo_median = median(rows[1][1])
        fastest_name, fastest = min(((name, median(samples)) for name, samples in peer_rows),
                                    key=lambda item: item[1])
        ctx.goal("start-up", "tolvo --version >= 30x faster than every peer's --version",
                 fastest >= 30 * tolvo_median, f"fastest peer ({fastest_name}) {fastest / tolvo_median:.0f}x slower")
