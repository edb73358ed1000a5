"""Locate the native ``tolvo`` executable that the wheel installs."""

from __future__ import annotations

import os
import sys
import sysconfig

# os.path rather than pathlib: this runs on every "python -m tolvo", where
# importing pathlib alone is a noticeable share of the start-up.
_EXE = "tolvo" + (sysconfig.get_config_var("EXE") or "")


def _user_scheme() -> str | None:
    get_preferred_scheme = getattr(sysconfig, "get_preferred_scheme", None)  # Python 3.10+
    scheme = get_preferred_scheme("user") if get_preferred_scheme else f"{os.name}_user"
    return scheme if scheme in sysconfig.get_scheme_names() else None


def _candidate_dirs() -> list[str]:
    """Where pip's install schemes put scripts, for the installations this
    package may belong to."""
    dirs = [
        # The running installation (a venv, or the interpreter itself) ...
        sysconfig.get_path("scripts"),
        # ... the base interpreter of a venv made with its system packages ...
        sysconfig.get_path("scripts", vars={"base": sys.base_prefix, "platbase": sys.base_exec_prefix}),
    ]
    # ... the user scheme (pip install --user) ...
    user_scheme = _user_scheme()
    if user_scheme is not None:
        dirs.append(sysconfig.get_path("scripts", scheme=user_scheme))
    # ... and pip install --target DIR, which puts scripts in DIR/bin.
    dirs.append(os.path.join(os.path.dirname(os.path.dirname(os.path.realpath(__file__))), "bin"))
    unique: list[str] = []
    for directory in dirs:
        if directory not in unique:
            unique.append(directory)
    return unique


def find_tolvo_bin() -> str:
    """Return the path of the native executable; raise FileNotFoundError
    naming every place looked at when there is none."""
    looked = []
    for directory in _candidate_dirs():
        candidate = os.path.join(directory, _EXE)
        looked.append(candidate)
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    raise FileNotFoundError("the tolvo executable was not found; looked at: " + ", ".join(looked))
