"""``python -m tolvo``: replace this process with the native executable, so
that the exit status, the streams and signals are the executable's own."""

from __future__ import annotations

import os
import sys

from tolvo._find_tolvo import find_tolvo_bin


def _path_with(directory: str, path: str) -> str:
    """`path` with `directory` appended when it is not on it: the lint
    command starts `tolvo` by name, and must find this same executable
    when its scripts directory is not on PATH."""
    parts = path.split(os.pathsep) if path else []
    if directory in parts:
        return path
    return os.pathsep.join([*parts, directory])


def _run() -> None:
    try:
        tolvo = find_tolvo_bin()
    except FileNotFoundError as error:
        print(f"tolvo: error: {error}", file=sys.stderr)
        sys.exit(1)
    os.environ["PATH"] = _path_with(os.path.dirname(tolvo), os.environ.get("PATH", ""))
    sys.stdout.flush()
    sys.stderr.flush()
    os.execv(tolvo, [tolvo, *sys.argv[1:]])


if __name__ == "__main__":
    _run()
