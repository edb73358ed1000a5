"""tolvo started with standard streams closed: its own descriptors never
take their numbers, so what it writes to a closed stream fails and ends the
run with status 1, and the open streams get all they should."""

from __future__ import annotations

import itertools
import os
import subprocess

import pytest

from conftest import TOLVO, FakeProject, assert_no_leftovers

PYPROJECT = '[project]\nname = "demo"\nversion = "1.0"\n'

OUTPUT = "Creating virtual environment...\nEnsuring pip is installed...\nUpgrading pip...\nInstalling requirements...\n"


@pytest.mark.parametrize("closed", [c for n in range(4) for c in itertools.combinations((0, 1, 2), n)], ids=str)
def test_closed_standard_streams(fake_project: FakeProject, closed: tuple[int, ...]) -> None:
    def close() -> None:
        for fd in closed:
            os.close(fd)

    result = subprocess.run([str(TOLVO), "requirements"], cwd=fake_project.dir, env=fake_project.env,
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60, preexec_fn=close)
    # Progress is due on standard output; nothing is due on standard error unless that output is lost.
    assert result.returncode == (1 if 1 in closed else 0), result.stderr
    if 1 not in closed:
        assert result.stdout == OUTPUT
    if 2 not in closed:
        assert result.stderr.startswith("tolvo: error: cannot write to standard output") == (1 in closed)
        assert result.stderr.count("\n") == (1 if 1 in closed else 0)
    # The children got the streams as tolvo did, and nothing else.
    assert_no_leftovers(fake_project.calls(), {"venv", "upgrade-pip", "install"})
