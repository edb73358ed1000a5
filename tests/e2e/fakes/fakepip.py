"""What pip does for the fakes, however it is started: as the environment's
pip script, as "python -m pip" or as "uv pip install --python PYTHON". The
role of a call names what it installs: "upgrade-pip", "build-tools",
"test-tools", "lint-tools" or, for the quiet install of the project,
"install"; see fakelib.py. Unless told to fail, an install leaves a
dist-info folder in the environment's site-packages for each distribution
it names and, when editable, for the project; see fakeenv.py."""

from __future__ import annotations

import glob
import os
import sys

import fakelib


def role(args: list[str]) -> str:
    """The role of "pip ARGS"."""
    if args[1:] == ["--upgrade", "pip"]:
        return "upgrade-pip"
    if args[1:] == ["build", "wheel"]:
        return "build-tools"
    if args[1:2] == ["-e"]:
        return "test-tools"
    if args[1:2] == ["--quiet"]:
        return "install"
    if "ruff" in args:
        return "lint-tools"
    return "pip"


def has_pip(program: str) -> bool:
    """Whether the environment of `program` has pip to run as a module: any
    environment without pyvenv.cfg (a bare one installs nothing), else one
    with a pip dist-info folder."""
    import fakeenv

    env = fakeenv.environment(program)
    if fakeenv.py_version(env) is None:
        return True
    return bool(glob.glob(os.path.join(glob.escape(env), "lib", "python*", "site-packages", "pip-*.dist-info")))


def run(program: str, args: list[str], as_module: bool = False) -> None:
    """Runs "pip ARGS" for the environment of `program` and ends the process."""
    call = fakelib.Call(role(args))
    if as_module and not has_pip(program):
        sys.stderr.write(f"{program}: No module named pip\n")
        call.status = 1
    elif args[:1] == ["install"] and call.status == 0:
        import fakeenv

        fakeenv.pip_install(program, args[1:])
    call.finish()
