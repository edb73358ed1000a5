"""Stand-ins for the programs tolvo starts, put first (and alone) on PATH:
the base "python", the environment's python and pip it creates, and the
"tolvo" of the lint check. No network and no real tool is needed, and the
fakes cost almost nothing themselves, so what is measured is tolvo."""

from __future__ import annotations

import re
import shutil
from pathlib import Path

from measure import ROOT

# One shell script plays every role, chosen by the name it is called by.
# A fake that has to wait replaces itself with sleep (exec), so it costs
# next to no CPU while tolvo waits for it, and has a tiny resident set,
# so that wait4's peak (tolvo and the children it waited for) is tolvo's.
FAKE = r"""#!/bin/sh
case "${0##*/} $1 $2" in
"python -m venv")
  for last in "$@"; do :; done
  mkdir -p "$last/bin" && cp "$0" "$last/bin/python" && cp "$0" "$last/bin/pip"
  exit 0;;
"pip install --quiet")
  if [ -n "$FAKE_INSTALL_OUTPUT" ]; then exec cat "$FAKE_INSTALL_OUTPUT"; fi
  if [ -n "$FAKE_INSTALL_SLEEP" ]; then exec sleep "$FAKE_INSTALL_SLEEP"; fi
  exit 0;;
"python -um ensurepip"|"python -um pytest"|"python -um build")
  exit 0;;
"python -um "*|"tolvo config-diff")
  exec sleep "${FAKE_CHECK_SLEEP:-0}";;
esac
exit 0
"""

# What the fake needs beside itself; nothing else is on PATH (no docker).
TOOLS = ("sh", "sleep", "cat", "mkdir", "cp")


def make_fake_bin(directory: Path) -> dict[str, str]:
    """Writes the fakes into `directory` and returns an environment whose
    PATH holds only them."""
    directory.mkdir(parents=True, exist_ok=True)
    for name in ("python", "tolvo"):
        path = directory / name
        path.write_text(FAKE)
        path.chmod(0o755)
    for tool in TOOLS:
        found = shutil.which(tool)
        if found is None:
            raise SystemExit(f"bench: '{tool}' not found, the fake programs need it")
        (directory / tool).symlink_to(found)
    return {"PATH": str(directory), "HOME": str(directory), "LANG": "C.UTF-8"}


def make_project(directory: Path) -> Path:
    """A project that matches tolvo's template (config-diff finds nothing)."""
    directory.mkdir(parents=True, exist_ok=True)
    text = (ROOT / "examples" / "demo" / "pyproject.toml").read_text()
    # These groups measure the default refresh, which runs every step; the
    # when-needed one has a group of its own (refresh.py).
    (directory / "pyproject.toml").write_text(re.sub(r"\n\[tool\.tolvo\]\n[^\[]*", "\n", text))
    return directory
