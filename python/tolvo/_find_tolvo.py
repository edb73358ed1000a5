"""Locate the native ``tolvo`` executable that the wheel installs."""

from __future__ import annotations

import os
import sys
import sysconfig

# os.path rather than pathlib: this runs on every "python -m tolvo", where
# importing pathlib alone is a noticeable share of the start-up.
_EXE = "tolvo" + (sysconfig.get_config_var("EXE") or "")


def _candidate_dirs() -> list[str]:
    dirs: list[str] = []
    # The scripts directory of the running installation, then of the base
    # interpreter (a venv with system site packages), then of the user scheme.
    dirs.append(sysconfig.get_path("scripts"))
    dirs.append(sysconfig.get_path("scripts", vars={"base": sys.base_prefix, "platbase": sys.base_exec_prefix}))
    user_scheme = f"{os.name}_user"
    if user_scheme in sysconfig.get_scheme_names():
        dirs.append(sysconfig.get_path("scripts", scheme=user_scheme))
    package_dir = os.path.dirname(os.path.realpath(__file__))
    # A repair tool may have moved the executable next to the package data.
    dirs.append(os.path.join(package_dir, "bin"))
    # A source checkout: python/tolvo beside a CMake build directory.
    dirs.append(os.path.join(os.path.dirname(os.path.dirname(package_dir)), "build"))
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
