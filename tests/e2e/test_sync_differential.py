"""Differential test: the when-needed judgement against pip, the authority
on what "satisfied" means.

Small worlds grow from a seed: local wheels with dependencies, extras,
markers, pre-, post- and local releases; an editable project built by an
in-tree back end; an environment that tolvo itself installed and that is
then mutated at random (distributions removed, downgraded, renamed or
tampered with, another interpreter behind .venv/bin/python, build files
changed, another set of extras asked). In each, tolvo's verdict is read from
its "up to date" line and pip's from `pip install --dry-run --report`:

- a wrong skip, tolvo "up to date" where pip would install or change
  anything, fails the test;
- a needless run, tolvo running pip where pip would change nothing, is safe
  and only counted.

TOLVO_DIFF_WORLDS (default 50) and TOLVO_DIFF_SEED set the sample; a long
run by hand: TOLVO_DIFF_WORLDS=400 pytest -s -m real test_sync_differential.py
"""

from __future__ import annotations

import base64
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import zipfile
from collections import Counter
from dataclasses import dataclass, field
from pathlib import Path

import pytest

from conftest import run_tolvo

pytestmark = pytest.mark.real
# Checks that each generated bound admits some wheel of the world.
SpecifierSet = pytest.importorskip("packaging.specifiers").SpecifierSet

WORLDS = int(os.environ.get("TOLVO_DIFF_WORLDS", "50"))
SEED = int(os.environ.get("TOLVO_DIFF_SEED", "2718"))
# Mutated worlds per installed one: an install costs more than a verdict.
PER_INSTALL = 5

PACKAGES = ["dw-a", "dw-b", "dw-c", "dw-d", "dw-e"]
# How requirements spell the names: every spelling normalises alike.
SPELLINGS = {"dw-a": ["dw-a", "DW_A", "dw.a"], "dw-b": ["dw-b", "Dw_B"], "dw-c": ["dw-c", "dw_c"],
             "dw-d": ["dw-d"], "dw-e": ["dw-e", "DW.E"]}
VERSIONS = ["0.9", "1.0.dev1", "1.0rc1", "1.0", "1.0+local", "1.0.post1", "1.0.post1+l", "1.1", "2.0b1", "2.0"]
BOUNDS = ["0.9", "1.0rc1", "1.0", "1.0.post0", "1.0.post1", "1.1", "2.0b1", "2.0"]
OPERATORS = [">=", ">", "<", "<=", "==", "!=", "~="]
EXTRAS = ["web", "cli", "all"]
# Markers as metadata carries them; python_full_version tells a 3.11 from a
# 3.12 behind the same environment.
MARKERS = ["", "", "", 'python_version >= "3.8"', 'python_version < "3.8"', 'sys_platform == "win32"',
           'platform_machine == "x86_64"', 'python_full_version >= "3.12"', 'python_version < "3.12"',
           'os_name == "posix" and python_version >= "3"']

# An in-tree PEP 517 back end: the project's metadata straight from
# pyproject.toml, with the optional dependencies marked as setuptools marks
# them; an editable install is a .pth file.
BACKEND = '''
import os, tomllib, zipfile

def _project():
    with open("pyproject.toml", "rb") as f:
        return tomllib.load(f)["project"]

def _names():
    p = _project()
    return p["name"].replace("-", "_"), p["version"]

def _metadata():
    p = _project()
    lines = ["Metadata-Version: 2.1", "Name: " + p["name"], "Version: " + p["version"]]
    lines += ["Requires-Dist: " + r for r in p.get("dependencies", [])]
    for extra, reqs in p.get("optional-dependencies", {}).items():
        lines.append("Provides-Extra: " + extra)
        for r in reqs:
            req, _, marker = r.partition(";")
            marker = "(" + marker.strip() + ") and " if marker.strip() else ""
            lines.append("Requires-Dist: " + req.strip() + "; " + marker + 'extra == "' + extra + '"')
    return "\\n".join(lines) + "\\n"

def _info(directory):
    name, version = _names()
    info = name + "-" + version + ".dist-info"
    os.makedirs(os.path.join(directory, info), exist_ok=True)
    with open(os.path.join(directory, info, "METADATA"), "w") as f:
        f.write(_metadata())
    return info

def get_requires_for_build_wheel(config_settings=None):
    return []

get_requires_for_build_editable = get_requires_for_build_wheel

def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    return _info(metadata_directory)

prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel

def _wheel(directory, files):
    name, version = _names()
    info = name + "-" + version + ".dist-info"
    files[info + "/METADATA"] = _metadata()
    files[info + "/WHEEL"] = "Wheel-Version: 1.0\\nGenerator: w\\nRoot-Is-Purelib: true\\nTag: py3-none-any\\n"
    files[info + "/RECORD"] = "".join(path + ",,\\n" for path in list(files) + [info + "/RECORD"])
    filename = name + "-" + version + "-py3-none-any.whl"
    with zipfile.ZipFile(os.path.join(directory, filename), "w") as z:
        for path, text in files.items():
            z.writestr(path, text)
    return filename

def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    return _wheel(wheel_directory, {"_" + _names()[0] + ".pth": os.path.abspath(".") + "\\n"})

def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _wheel(wheel_directory, {})
'''


def normal(name: str) -> str:
    return re.sub(r"[-_.]+", "_", name).lower()


def write_wheel(directory: Path, name: str, version: str, requires: list[str], extras: list[str]) -> None:
    info = f"{normal(name)}-{version}.dist-info"
    metadata = f"Metadata-Version: 2.1\nName: {name}\nVersion: {version}\n"
    metadata += "".join(f"Provides-Extra: {extra}\n" for extra in extras)
    metadata += "".join(f"Requires-Dist: {req}\n" for req in requires)
    files = {f"{normal(name)}/__init__.py": f"VERSION = {version!r}\n", f"{info}/METADATA": metadata,
             f"{info}/WHEEL": "Wheel-Version: 1.0\nGenerator: w\nRoot-Is-Purelib: true\nTag: py3-none-any\n"}
    record = ""
    for path, text in files.items():
        digest = base64.urlsafe_b64encode(hashlib.sha256(text.encode()).digest()).rstrip(b"=").decode()
        record += f"{path},sha256={digest},{len(text.encode())}\n"
    files[f"{info}/RECORD"] = record + f"{info}/RECORD,,\n"
    with zipfile.ZipFile(directory / f"{normal(name)}-{version}-py3-none-any.whl", "w") as z:
        for path, text in files.items():
            z.writestr(path, text)


# ---- worlds ---------------------------------------------------------------------

def specifier(rng: random.Random, available: list[str]) -> str:
    """A specifier that at least one available version meets, or none."""
    for _ in range(20):
        op, bound = rng.choice(OPERATORS), rng.choice(BOUNDS)
        if op == "~=" and "." not in bound.split("rc")[0].split("b")[0]:
            continue
        spec = SpecifierSet(op + bound)
        if any(spec.contains(v, prereleases=True) for v in available):
            return op + bound
    return ""


def requirement(rng: random.Random, name: str, versions: dict[str, list[str]], extra: str | None) -> str:
    text = rng.choice(SPELLINGS[name])
    if rng.random() < 0.2:
        text += f"[{rng.choice(EXTRAS)}]"
    if rng.random() < 0.7:
        text += specifier(rng, versions[name])
    markers = [m for m in [rng.choice(MARKERS)] if m]
    if extra:
        markers.append(f'extra == "{extra}"')
    return text + ("; " + " and ".join(markers) if markers else "")


@dataclass
class Shape:
    """The wheels and the project of one world, before any mutation."""
    versions: dict[str, list[str]]
    wheels: dict[tuple[str, str], tuple[list[str], list[str]]]
    pyproject: str
    extras: list[str]
    groups: list[str]
    asked: list[str] = field(default_factory=list)


def make_shape(rng: random.Random, groups_supported: bool) -> Shape:
    versions = {name: sorted(rng.sample(VERSIONS, rng.randint(2, 4)), key=VERSIONS.index) for name in PACKAGES}
    wheels = {}
    for index, name in enumerate(PACKAGES):
        later = PACKAGES[index + 1:]
        for version in versions[name]:
            extras = sorted(rng.sample(EXTRAS, rng.randint(0, 2)))
            requires = [requirement(rng, dep, versions, None) for dep in rng.sample(later, min(len(later),
                                                                                            rng.randint(0, 2)))]
            for extra in extras:
                if later and rng.random() < 0.7:
                    requires.append(requirement(rng, rng.choice(later), versions, extra))
            if "all" in extras:
                # The shape of an "all" extra: the distribution itself with the others.
                others = [e for e in extras if e != "all"]
                if others:
                    requires.append(f'{name}[{",".join(others)}]; extra == "all"')
            wheels[(name, version)] = (requires, extras)
    dependencies = [requirement(rng, dep, versions, None) for dep in rng.sample(PACKAGES, rng.randint(1, 3))]
    extras = sorted(rng.sample(["web", "cli"], rng.randint(1, 2)))
    for extra in extras:
        if rng.random() < 0.6:
            # A dependency of the project that only an extra brings.
            dependencies.append(requirement(rng, rng.choice(PACKAGES), versions, extra))
    optional = {extra: [requirement(rng, dep, versions, None) for dep in rng.sample(PACKAGES, rng.randint(0, 2))]
                for extra in extras}
    groups = ["dev"] if groups_supported and rng.random() < 0.4 else []
    text = ('[build-system]\nrequires = []\nbuild-backend = "wbackend"\nbackend-path = ["."]\n\n'
            '[project]\nname = "dw-proj"\nversion = "1.0"\n'
            f"dependencies = {json.dumps(dependencies)}\n\n[project.optional-dependencies]\n")
    text += "".join(f"{extra} = {json.dumps(reqs)}\n" for extra, reqs in optional.items())
    if groups:
        text += f'\n[dependency-groups]\ndev = {json.dumps([requirement(rng, rng.choice(PACKAGES), versions, None)])}\n'
    shape = Shape(versions, wheels, text, extras, groups)
    shape.asked = ask(rng, shape)
    return shape


def ask(rng: random.Random, shape: Shape) -> list[str]:
    return sorted(rng.sample(shape.extras + shape.groups, rng.randint(0, len(shape.extras + shape.groups))))


# ---- the environment ------------------------------------------------------------

@dataclass
class Base:
    python: str
    pip_files: list[Path]
    groups_supported: bool
    other_interpreters: list[str]


def other_interpreters(python: str) -> list[str]:
    """Interpreters of another minor version (3.11 and later, for the back
    end's tomllib) to put behind a world's .venv/bin/python."""
    own = subprocess.run([python, "-c", "import sys; print(sys.version_info[1], sys.base_prefix)"],
                         capture_output=True, text=True, check=True).stdout.split()
    found = []
    for minor in range(11, 16):
        if str(minor) == own[0]:
            continue
        candidates = [Path(own[1]).parent.glob(f"*/bin/python3.{minor}"), [shutil.which(f"python3.{minor}")]]
        for candidate in (c for group in candidates for c in group if c):
            if subprocess.run([str(candidate), "-c", "import tomllib"], capture_output=True).returncode == 0:
                found.append(str(Path(candidate).resolve()))
                break
    return found


@pytest.fixture(scope="module")
def base(tmp_path_factory: pytest.TempPathFactory) -> Base:
    """One environment with a current pip, whose pip each world copies."""
    python = shutil.which("python")
    if python is None:
        pytest.skip("no 'python' on PATH")
    venv = tmp_path_factory.mktemp("base") / "venv"
    subprocess.run([python, "-m", "venv", str(venv)], check=True, capture_output=True)
    # A current pip when the index answers, the bundled one otherwise.
    subprocess.run([str(venv / "bin" / "python"), "-m", "pip", "install", "--quiet", "--upgrade", "pip"],
                   capture_output=True, timeout=300)
    site = next((venv / "lib").glob("python3*/site-packages"))
    help_text = subprocess.run([str(venv / "bin" / "python"), "-m", "pip", "install", "--help"],
                               capture_output=True, text=True, check=True).stdout
    return Base(python, [p for p in site.iterdir() if p.name == "pip" or re.match(r"pip-.*\.dist-info$", p.name)],
                "--group" in help_text, other_interpreters(python))


def world_environment(wheels: Path) -> dict[str, str]:
    """No configuration of the machine's own: the wheels directory is the
    whole index, for tolvo's pip as for the reference."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("PIP_")}
    return dict(env, PIP_CONFIG_FILE=os.devnull, PIP_NO_INDEX="1", PIP_FIND_LINKS=str(wheels),
                PIP_DISABLE_PIP_VERSION_CHECK="1")


def make_venv(base: Base, project: Path) -> None:
    venv = project / ".venv"
    subprocess.run([base.python, "-m", "venv", "--without-pip", "--system-site-packages", str(venv)], check=True)
    site = next((venv / "lib").glob("python3*/site-packages"))
    for path in base.pip_files:
        shutil.copytree(path, site / path.name, symlinks=True)
    pip = venv / "bin" / "pip"
    pip.write_text(f"#!{venv}/bin/python\nimport sys\nfrom pip._internal.cli.main import main\nsys.exit(main())\n")
    pip.chmod(0o755)


@dataclass
class World:
    root: Path
    shape: Shape

    @property
    def project(self) -> Path:
        return self.root / "proj"

    @property
    def venv(self) -> Path:
        return self.project / ".venv"

    @property
    def wheels(self) -> Path:
        return self.root / "wheels"

    def site(self) -> Path:
        return next((self.venv / "lib").glob("python3*/site-packages"))

    def installed(self) -> list[Path]:
        return sorted(p for p in self.site().glob("*.dist-info") if p.name.startswith(("dw_", "dw-")))

    def env(self, **extra: str) -> dict[str, str]:
        return dict(world_environment(self.wheels), **extra)


def tolvo_requirements(world: World, asked: list[str], **env: str) -> subprocess.CompletedProcess[str]:
    return run_tolvo("--refresh", "when-needed", "requirements", *asked, cwd=world.project, env=world.env(**env),
                     timeout=600)


def install_world(base: Base, root: Path, shape: Shape) -> World | None:
    """The world as tolvo installs it; none when pip finds it unresolvable."""
    world = World(root, shape)
    world.wheels.mkdir(parents=True)
    for (name, version), (requires, extras) in shape.wheels.items():
        write_wheel(world.wheels, name, version, requires, extras)
    world.project.mkdir()
    (world.project / "pyproject.toml").write_text(shape.pyproject)
    (world.project / "wbackend.py").write_text(BACKEND)
    make_venv(base, world.project)
    result = tolvo_requirements(world, shape.asked)
    if result.returncode != 0:
        return None
    subprocess.run(["cp", "-a", str(world.venv), str(root / "snapshot")], check=True)
    return world


def restore(world: World) -> None:
    shutil.rmtree(world.venv)
    subprocess.run(["cp", "-a", str(world.root / "snapshot"), str(world.venv)], check=True)
    (world.project / "pyproject.toml").write_text(world.shape.pyproject)


# ---- mutations ------------------------------------------------------------------

def set_version(info: Path, version: str, *, folder: bool, metadata: bool) -> Path:
    if metadata:
        text = (info / "METADATA").read_text()
        (info / "METADATA").write_text(re.sub(r"(?m)^Version: .*$", f"Version: {version}", text))
    if folder:
        moved = info.with_name(info.name.split("-")[0] + f"-{version}.dist-info")
        if not moved.exists():
            info.rename(moved)
            return moved
    return info


def edit_metadata(info: Path, change) -> None:
    (info / "METADATA").write_text(change((info / "METADATA").read_text()))


def mutate(rng: random.Random, world: World, base: Base) -> str:
    """One random change; what it was."""
    installed = world.installed()
    packages = [p for p in installed if not p.name.startswith("dw_proj")]
    kinds = ["remove", "downgrade", "rename", "tamper-version", "move-version", "add-requirement",
             "drop-requirement", "drop-extra", "duplicate", "pyproject", "direct-url", "record"]
    if base.other_interpreters:
        kinds.append("interpreter")
    kind = rng.choice(kinds)
    if kind in ("remove", "downgrade", "rename", "tamper-version", "move-version", "add-requirement",
                "drop-requirement", "drop-extra", "duplicate") and not packages:
        kind = "pyproject"
    target = rng.choice(packages) if packages else None
    name = target.name.split("-")[0].replace("_", "-") if target else ""
    other = rng.choice(world.shape.versions.get(name, ["1.0"])) if target else ""
    if kind == "remove":
        shutil.rmtree(target)
    elif kind == "downgrade":
        subprocess.run([str(world.venv / "bin" / "python"), "-m", "pip", "install", "--quiet", "--no-deps",
                        "--force-reinstall", f"{name}=={other}"], env=world.env(), capture_output=True)
    elif kind == "rename":
        set_version(target, rng.choice(VERSIONS), folder=True, metadata=False)
    elif kind == "tamper-version":
        set_version(target, rng.choice(VERSIONS), folder=False, metadata=True)
    elif kind == "move-version":
        set_version(target, rng.choice(VERSIONS), folder=True, metadata=True)
    elif kind == "add-requirement":
        added = requirement(rng, rng.choice(PACKAGES), world.shape.versions, rng.choice([None, None, "web"]))
        edit_metadata(target, lambda text: text.replace("\n", f"\nRequires-Dist: {added}\n", 1))
    elif kind == "drop-requirement":
        edit_metadata(target, lambda text: re.sub(r"(?m)^Requires-Dist: .*\n", "", text, count=1))
    elif kind == "drop-extra":
        edit_metadata(target, lambda text: re.sub(r"(?m)^Provides-Extra: .*\n", "", text, count=1))
    elif kind == "duplicate":
        twin = target.with_name(target.name.split("-")[0] + f"-{other}.dist-info")
        shutil.copytree(target, twin if twin != target else target.with_name(twin.name.replace("-", "-9", 1)))
    elif kind == "pyproject":
        edit = rng.choice(["comment", "version", "dependency", "extra-dependency"])
        text = world.shape.pyproject
        if edit == "comment":
            text += "# edited\n"
        elif edit == "version":
            text = text.replace('version = "1.0"', 'version = "1.1"')
        elif edit == "dependency":
            added = json.dumps(requirement(rng, rng.choice(PACKAGES), world.shape.versions, None))
            text = text.replace("dependencies = [", f"dependencies = [{added}, ", 1)
        else:
            extra = rng.choice(world.shape.extras)
            added = json.dumps(requirement(rng, rng.choice(PACKAGES), world.shape.versions, extra))
            text = text.replace("dependencies = [", f"dependencies = [{added}, ", 1)
        (world.project / "pyproject.toml").write_text(text)
        kind += "-" + edit
    elif kind == "direct-url":
        project = next((p for p in installed if p.name.startswith("dw_proj")), None)
        if project is not None:
            url = rng.choice([json.dumps({"url": "file:///elsewhere", "dir_info": {"editable": True}}),
                              json.dumps({"url": world.project.as_uri(), "dir_info": {}})])
            (project / "direct_url.json").write_text(url)
    elif kind == "record":
        record = world.venv / "tolvo-refresh-record"
        record.write_text(re.sub(r"(?m)^pip-upgraded .*$", "pip-upgraded -9223372036854775808", record.read_text()))
    elif kind == "interpreter":
        link = world.venv / "bin" / "python"
        link.unlink()
        link.symlink_to(rng.choice(base.other_interpreters))
    return kind if not target or kind in ("pyproject", "direct-url", "record", "interpreter") else f"{kind} {name}"


# ---- the two verdicts -----------------------------------------------------------

INSTALLED_PROJECT = """import importlib.metadata as m, json
try:
    d = m.distribution("dw-proj")
    print(json.dumps({"version": d.version, "requires_dist": sorted(d.metadata.get_all("Requires-Dist") or []),
                      "provides_extra": sorted(d.metadata.get_all("Provides-Extra") or []),
                      "direct_url": d.read_text("direct_url.json")}))
except Exception:
    print("null")
"""


def pip_changes(world: World, asked: list[str]) -> str:
    """What pip would change for the request, or "" for nothing."""
    extras = [name for name in asked if name in world.shape.extras]
    groups = [arg for name in asked if name in world.shape.groups for arg in ("--group", name)]
    target = "." + (f"[{','.join(extras)}]" if extras else "")
    python = str(world.venv / "bin" / "python")
    # The back end needs nothing: the same answer without an isolated build environment, sooner.
    result = subprocess.run([python, "-m", "pip", "install", "--dry-run", "--quiet", "--report", "-",
                             "--no-build-isolation", "--editable", target, *groups], cwd=world.project,
                            env=world.env(), capture_output=True, text=True)
    if result.returncode != 0:
        return "pip fails: " + result.stderr.strip().splitlines()[-1] if result.stderr.strip() else "pip fails"
    changes = []
    for item in json.loads(result.stdout)["install"]:
        metadata = item["metadata"]
        if normal(metadata["name"]) != "dw_proj":
            changes.append(f"installs {metadata['name']} {metadata['version']}")
            continue
        # pip reinstalls an editable project every time: a change only
        # when what it would install differs from what is there.
        have = json.loads(subprocess.run([python, "-c", INSTALLED_PROJECT], capture_output=True, text=True,
                                         env=world.env()).stdout or "null")
        want = {"version": metadata["version"], "requires_dist": sorted(metadata.get("requires_dist", [])),
                "provides_extra": sorted(metadata.get("provides_extra", []))}
        direct = json.loads(have.pop("direct_url") or "{}") if have else {}
        if (have != want or direct.get("url") != world.project.as_uri()
                or not direct.get("dir_info", {}).get("editable")):
            changes.append("reinstalls the project otherwise")
    return "; ".join(changes)


def tolvo_skips(world: World, asked: list[str]) -> bool:
    """Whether tolvo finds the install step satisfied. Its pip, if it runs,
    stops at once on a setting it refuses, so that the world stays as it
    is; a step that ran, or was never reached, was not skipped."""
    result = tolvo_requirements(world, asked, PIP_PROGRESS_BAR="refused")
    return "Installing requirements... up to date\n" in result.stdout


# ---- the test -------------------------------------------------------------------

def test_no_wrong_skip_against_pip(base: Base, tmp_path: Path) -> None:
    tried, needless, wrong, unresolvable = 0, 0, [], 0
    needless_after: Counter[str] = Counter()
    install = 0
    while tried < WORLDS:
        rng = random.Random(SEED * 100_003 + install)
        install += 1
        shape = make_shape(rng, base.groups_supported)
        world = install_world(base, tmp_path / f"w{install}", shape)
        if world is None:
            unresolvable += 1
            assert unresolvable <= 5 * install // 2 + 5, "most generated worlds do not resolve"
            continue
        for _ in range(min(PER_INSTALL, WORLDS - tried)):
            restore(world)
            asked = shape.asked if rng.random() < 0.6 else ask(rng, shape)
            done = ["untouched"] if rng.random() < 0.15 else [mutate(rng, world, base)
                                                                  for _ in range(rng.randint(1, 2))]
            changes = pip_changes(world, asked)
            skipped = tolvo_skips(world, asked)
            tried += 1
            print(f"world {install}.{tried} asking {asked} after {done}: tolvo {'skips' if skipped else 'runs pip'},"
                  f" pip {changes or 'changes nothing'}")
            if skipped and changes:
                wrong.append(f"world {install} asking {asked} after {done}: pip {changes}")
            elif not skipped and not changes:
                needless += 1
                needless_after.update(kind.split()[0] for kind in done)
        shutil.rmtree(world.root)
    print(f"\nworlds tried {tried} (seed {SEED}, {install} installs, {unresolvable} unresolvable); "
          f"wrong skips {len(wrong)}; needless runs {needless}, after {dict(needless_after)}")
    assert wrong == []
