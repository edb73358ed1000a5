"""What the fake interpreter and pip know of an environment DIR, laid out as
"python -m venv DIR" lays it out: DIR/pyvenv.cfg names the interpreter's
version, and DIR/lib/pythonX.Y/site-packages holds a NAME-VERSION.dist-info
folder (METADATA, and direct_url.json for an editable install) for each
installed distribution. An environment without pyvenv.cfg, such as the bare
one FakeProject.fake_venv lays out, installs nothing.

  FAKE_PY_VERSION  the interpreter version of new environments (3.11.7)
  FAKE_PROJECT     the name of the project an editable install installs (demo)
  FAKE_VERSION     its version (1.0)
  FAKE_ALSO        names, blank-separated, that it installs too, at 8.0

Imported only by the calls that need it, not by every start of a fake."""

from __future__ import annotations

import json
import os

import fakelib

DEFAULT_PY_VERSION = "3.11.7"
BUNDLED_PIP = "24.0"  # what a new environment has, older than what an install gets
NEWEST = "25.0"  # the version of every distribution pip installs by name
# What an interpreter reports of the machine that does not depend on it.
MACHINE = {"implementation_name": "cpython", "os_name": "posix", "platform_python_implementation": "CPython",
           "sys_platform": "linux"}


def environment(program: str) -> str:
    """The environment of a program in its bin directory."""
    return os.path.dirname(os.path.dirname(os.path.abspath(program)))


def py_version(env: str) -> str | None:
    """The interpreter version pyvenv.cfg names; none outside an environment."""
    try:
        with open(os.path.join(env, "pyvenv.cfg")) as cfg:
            for line in cfg:
                key, _, value = line.partition("=")
                if key.strip() == "version":
                    return value.strip()
    except FileNotFoundError:
        pass
    return None


def site_packages(env: str, version: str) -> str:
    return os.path.join(env, "lib", "python" + ".".join(version.split(".")[:2]), "site-packages")


def install(site: str, name: str, version: str, direct_url: dict | None = None) -> None:
    """Installs a distribution in place of any other version of it, as pip does."""
    prefix = name.replace("-", "_") + "-"
    for folder in os.listdir(site):
        if folder.startswith(prefix) and folder.endswith(".dist-info"):
            path = os.path.join(site, folder)
            for entry in os.listdir(path):
                os.unlink(os.path.join(path, entry))
            os.rmdir(path)
    dist_info = os.path.join(site, f"{prefix}{version}.dist-info")
    os.mkdir(dist_info)
    with open(os.path.join(dist_info, "METADATA"), "w") as metadata:
        metadata.write(f"Metadata-Version: 2.1\nName: {name}\nVersion: {version}\n\n")
    if direct_url is not None:
        with open(os.path.join(dist_info, "direct_url.json"), "w") as url:
            json.dump(direct_url, url)


def lay_out(env: str, with_pip: bool, system_site: bool = True) -> None:
    """A new environment as the venv module lays it out: DIR/bin/python (and
    pip) as links to these fakes, then its configuration and site-packages."""
    bin_dir = os.path.join(env, "bin")
    os.makedirs(bin_dir, exist_ok=True)
    for tool in ("python", "pip") if with_pip else ("python",):
        link = os.path.join(bin_dir, tool)
        if os.path.lexists(link):
            os.unlink(link)  # made again over an incomplete environment
        os.symlink(os.path.join(fakelib.HOME, tool), link)
    create(env, with_pip, system_site)


def create(env: str, with_pip: bool, system_site: bool = True) -> None:
    """The configuration and site-packages of a new environment, with the
    bundled pip unless told otherwise."""
    version = os.environ.get("FAKE_PY_VERSION") or DEFAULT_PY_VERSION
    with open(os.path.join(env, "pyvenv.cfg"), "w") as cfg:
        cfg.write(f"home = /fake\ninclude-system-site-packages = {str(system_site).lower()}\nversion = {version}\n")
    site = site_packages(env, version)
    os.makedirs(site, exist_ok=True)
    if with_pip:
        install(site, "pip", BUNDLED_PIP)


def pip_install(program: str, args: list[str]) -> None:
    """What "pip install ARGS" installs: each named distribution at NEWEST and,
    with -e/--editable, the project from the working directory and FAKE_ALSO."""
    env = environment(program)
    version = py_version(env)
    if version is None:
        return
    site = site_packages(env, version)
    os.makedirs(site, exist_ok=True)  # moved there by a new interpreter
    editable = False
    names = []
    for arg, before in zip(args, ["", *args]):
        if arg in ("-e", "--editable"):
            editable = True
        elif before != "--group" and not arg.startswith(("-", ".")):
            names.append(arg)
    for name in names:
        install(site, name, NEWEST)
    if editable:
        url = {"url": "file://" + os.getcwd(), "dir_info": {"editable": True}}
        install(site, os.environ.get("FAKE_PROJECT") or "demo", os.environ.get("FAKE_VERSION") or "1.0", url)
        for name in os.environ.get("FAKE_ALSO", "").split():
            install(site, name, "8.0")


def interpreter_facts(program: str) -> str:
    """The answer of the environment's interpreter to tolvo's facts script:
    its marker values, the site path that exists and, with HOME set, the user
    site (watched while it does not exist), joined by NULs."""
    env = environment(program)
    version = py_version(env) or os.environ.get("FAKE_PY_VERSION") or DEFAULT_PY_VERSION
    uname = os.uname()
    markers = {**MACHINE, "implementation_version": version, "python_full_version": version,
               "python_version": ".".join(version.split(".")[:2]), "platform_machine": uname.machine,
               "platform_release": uname.release, "platform_system": uname.sysname,
               "platform_version": uname.version}
    out = [f"marker {name} {value}" for name, value in markers.items()]
    site = site_packages(env, version)
    if os.path.isdir(site):
        out.append("site " + site)
    if "HOME" in os.environ:  # the user site joins the path once it exists
        user = site_packages(os.path.join(os.environ["HOME"], ".local"), version)
        out.append(("site " if os.path.isdir(user) else "watch ") + user)
    return "\0".join(out)
