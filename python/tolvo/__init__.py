"""tolvo: a fast native tool that replaces the Makefile of a Python project.

The work is done by the native ``tolvo`` executable; this package only finds
it, so that ``python -m tolvo`` behaves exactly like ``tolvo``.
"""

from __future__ import annotations

from tolvo._find_tolvo import find_tolvo_bin

__all__ = ["__version__", "find_tolvo_bin"]


def __getattr__(name: str) -> str:
    # importlib.metadata costs tens of milliseconds to import; only those who
    # ask for the version pay for it, not every "python -m tolvo".
    if name != "__version__":
        raise AttributeError(f"module 'tolvo' has no attribute {name!r}")
    from importlib.metadata import PackageNotFoundError, version

    try:
        return version("tolvo")
    except PackageNotFoundError:
        return "dev"
