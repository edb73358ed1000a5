"""Shared fixtures of the end-to-end suite: the executable under test and
small temporary projects to run it in."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path
from typing import Any

import pytest

SOURCE_DIR = Path(os.environ.get("TOLVO_SOURCE_DIR", Path(__file__).resolve().parents[2]))


def _find_tolvo() -> Path:
    configured = os.environ.get("TOLVO")
    if configured:
        return Path(configured)
    return SOURCE_DIR / "build" / "tolvo"


TOLVO = _find_tolvo()


@pytest.fixture(scope="session")
def tolvo_bin() -> Path:
    if not TOLVO.is_file():
        pytest.fail(f"tolvo executable not found at {TOLVO}; build it or set TOLVO")
    return TOLVO


def run_tolvo(*args: str, cwd: Path | str | None = None, env: dict[str, str] | None = None,
              input: bytes | None = None, timeout: float = 60, **popen: Any) -> subprocess.CompletedProcess[str]:
    """Runs the executable with captured text output; `popen` goes to
    subprocess.run as it is (user, group, extra_groups...)."""
    return subprocess.run(
        [str(TOLVO), *args],
        cwd=cwd,
        env=env,
        input=input.decode() if input is not None else None,
        stdin=None if input is not None else subprocess.DEVNULL,
        capture_output=True,
        text=True,
        timeout=timeout,
        **popen,
    )

