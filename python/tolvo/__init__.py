"""tolvo: a fast native tool that replaces the Makefile of a Python project.

The work is done by the native ``tolvo`` executable; this package only finds
it, so that ``python -m tolvo`` behaves exactly like ``tolvo``.
"""

from __future__ import annotations

from importlib.metadata import PackageNotFoundError, version

try:
    __version__ = version("tolvo")
except PackageNotFoundError:
    __version__ = "dev"

from tolvo._find_tolvo import find_tolvo_bin

__all__ = ["__version__", "find_tolvo_bin"]
