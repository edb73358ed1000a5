"""``python -m tolvo``: replace this process with the native executable, so
that the exit status, the streams and signals are the executable's own."""

from __future__ import annotations

import os
import sys

from tolvo._find_tolvo import find_tolvo_bin


def _run() -> None:
    try:
        tolvo = find_tolvo_bin()
    except FileNotFoundError as error:
        print(f"tolvo: error: {error}", file=sys.stderr)
        sys.exit(1)
    sys.stdout.flush()
    sys.stderr.flush()
    os.execv(tolvo, [tolvo, *sys.argv[1:]])


if __name__ == "__main__":
    _run()
