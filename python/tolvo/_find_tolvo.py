"""Locate the native ``tolvo`` executable that the wheel installs."""

from __future__ import annotations

import os
import sys
import sysconfig
from pathlib import Path

_EXE = "tolvo" + (sysconfig.get_config_var("EXE") or "")


def _candidate_dirs() -> list[Path]:
    dirs: list[Path] = []
    # The scripts directory of the running installation, then of the base
    # interpreter (a venv with system site packages), then of the user scheme.
    dirs.append(Path(sysconfig.get_path("scripts")))
    base = sysconfig.get_path("scripts", vars={"base": sys.base_prefix, "platbase": sys.base_exec_prefix})
    dirs.append(Path(base))
    user_scheme = f"{os.name}_user"
    if user_scheme in sysconfig.get_scheme_names():
        dirs.append(Path(sysconfig.get_path("scripts", scheme=user_scheme)))
    package_dir = Path(__file__).resolve().parent
    # A repair tool may have moved the executable next to the package data.
    dirs.append(package_dir / "bin")
    # A source checkout: python/tolvo beside a CMake build directory.
    dirs.append(package_dir.parents[1] / "build")
    unique: list[Path] = []
    for directory in dirs:
        if directory not in unique:
            unique.append(directory)
    return unique


def find_tolvo_bin() -> str:
    """Return the path of the native executable; raise FileNotFoundError
    naming every place looked at when there is none."""
    looked = []
    for directory in _candidate_dirs():
        candidate = directory / _EXE
        looked.append(str(candidate))
        if candidate.is_file() and os.access(candidate, os.X_OK):
            return str(candidate)
    raise FileNotFoundError("the tolvo executable was not found; looked at: " + ", ".join(looked))
