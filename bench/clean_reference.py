"""The work of `tolvo clean` written in Python with os.walk and shutil.rmtree,
the way a project's own script would do it: the reference tolvo is measured
against. Run in the project directory."""

from __future__ import annotations

import fnmatch
import os
import shutil

DIRECTORIES = ("build", "dist", ".venv", "wheelhouse")
TOP_LEVEL_PATTERNS = ("*.egg-info", "*.build", "*.dist")


def main() -> None:
    print("Cleaning build artifacts...")
    for name in DIRECTORIES:
        if os.path.lexists(name):
            shutil.rmtree(name)
    for pattern in TOP_LEVEL_PATTERNS:
        for name in os.listdir("."):
            if not name.startswith(".") and fnmatch.fnmatchcase(name, pattern):
                shutil.rmtree(name)
    for parent, dirs, _files in os.walk("."):
        if "__pycache__" in dirs:
            shutil.rmtree(os.path.join(parent, "__pycache__"))
            dirs.remove("__pycache__")
    for parent, _dirs, files in os.walk("."):
        for name in files:
            if fnmatch.fnmatchcase(name, "*.pyc"):
                os.remove(os.path.join(parent, name))
    print("Clean complete")


if __name__ == "__main__":
    main()
