"""clean at its limits: stopped by a signal part way through, and mount
points below the project, which it must leave alone."""

from __future__ import annotations

import os
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

from conftest import TOLVO, run_tolvo


def _link_many(original: Path, directory: Path, count: int) -> None:
    # Links are made ten times faster than files, and are as many entries.
    directory.mkdir(parents=True)
    for i in range(count):
        os.link(original, directory / f"m{i}.py")


@pytest.mark.parametrize(("sent", "status"), [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
def test_signal_stops_clean_at_the_next_entry(tmp_path: Path, tolvo_bin: Path, sent: signal.Signals,
                                              status: int) -> None:
    (tmp_path / "build").mkdir()
    (tmp_path / "original").write_text("x")
    parts = [tmp_path / ".venv" / "lib" / f"p{part}" for part in range(4)]
    for part in parts:
        _link_many(tmp_path / "original", part, 5000)
    proc = subprocess.Popen([str(TOLVO), "clean"], cwd=tmp_path, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 30
    # Once a part has gone, the signal lands amid the others.
    while all(part.exists() for part in parts) and time.monotonic() < deadline:
        pass
    proc.send_signal(sent)
    out, err = proc.communicate(timeout=60)
    assert proc.returncode == status, (out, err)
    assert out == b"Cleaning build artifacts...\n"
    assert err == b""
    assert not (tmp_path / "build").exists()
    left = sum(len(files) for _, _, files in os.walk(tmp_path / ".venv"))
    assert 0 < left <= 15000


def _bind(source: Path, target: Path, mounted: list[Path]) -> None:
    target.mkdir(parents=True, exist_ok=True)
    if shutil.which("mount") is None:
        pytest.skip("no mount command")
    result = subprocess.run(["mount", "--bind", str(source), str(target)], capture_output=True, text=True)
    if result.returncode != 0:
        pytest.skip(f"mount --bind is not permitted here (root only): {result.stderr.strip()}")
    mounted.append(target)


def test_mount_points_below_the_project_stay_with_their_files(tmp_path: Path, tolvo_bin: Path) -> None:
    outside = tmp_path / "outside"
    for name in ("cache/__pycache__/a.cpython-311.pyc", "cache/b.pyc", "out/keep.whl", "venv-part/x.py"):
        (outside / name).parent.mkdir(parents=True, exist_ok=True)
        (outside / name).write_text("keep")
    project = tmp_path / "project"
    for name in ("pkg/__pycache__/m.cpython-311.pyc", "pkg/old.pyc", ".venv/bin/python", "pkg/mod.py"):
        (project / name).parent.mkdir(parents=True, exist_ok=True)
        (project / name).write_text("x")
    before = sorted(str(p.relative_to(outside)) for p in outside.rglob("*"))
    mounted: list[Path] = []
    try:
        _bind(outside / "cache", project / "pkg" / "vendored", mounted)
        _bind(outside / "out", project / "build", mounted)
        _bind(outside / "venv-part", project / ".venv" / "lib" / "shared", mounted)
        result = run_tolvo("clean", cwd=project)
        in_project = sorted(str(p.relative_to(project)) for p in project.rglob("*"))
    finally:
        for target in reversed(mounted):
            subprocess.run(["umount", str(target)], check=True)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "Cleaning build artifacts...\nClean complete\n"
    assert result.stderr.splitlines() == [
        f"tolvo: skipping '{name}': another file system is mounted there"
        for name in ("build", ".venv/lib/shared", "pkg/vendored")
    ]
    assert sorted(str(p.relative_to(outside)) for p in outside.rglob("*")) == before
    # Whatever leads to a mount point stays; everything else goes.
    assert in_project == [".venv", ".venv/lib", ".venv/lib/shared", ".venv/lib/shared/x.py", "build",
                          "build/keep.whl", "pkg", "pkg/mod.py", "pkg/vendored", "pkg/vendored/__pycache__",
                          "pkg/vendored/__pycache__/a.cpython-311.pyc", "pkg/vendored/b.pyc"]
