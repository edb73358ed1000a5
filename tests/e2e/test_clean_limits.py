"""clean at its limits: stopped by a signal part way through."""

from __future__ import annotations

import os
import signal
import subprocess
import time
from pathlib import Path

import pytest

from conftest import TOLVO


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
