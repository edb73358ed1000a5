"""Local stand-ins for the images that tolvo's container commands run, made
from Debian packages and kept in the engine under the references tolvo
uses, so that its build and test commands run for real without a registry:

- the PyPA build image <prefix>manylinux_2_34_<arch>:latest, for x86_64
  and aarch64: CPython with pip under /opt/python/<tag>,
  manylinux-interpreters, auditwheel, patchelf and AUDITWHEEL_PLAT, plus a
  compiler and the Python headers;
- the official python:3.11, kept per architecture under
  tolvo-test/python:3.11-<arch>; python:3.11 itself names the x86_64 one
  unless a test points it elsewhere (use_python_image): the engine keeps one
  image per name and would pull rather than run a local image of another
  architecture;
- the binfmt installer, whose entry point registers the host's Debian
  qemu-user-static handlers with the F flag (binfmt-install).

One root file system per architecture, from the packages that
debootstrap's first stage fetches, unpacked on the host (cached outside the
clone, keyed by its recipe's digest), is the base of both images of that
architecture. Every image carries the digest of its recipe in a label and
is rebuilt only when that label differs. musllinux and the Alpine python
images have no stand-in: no Alpine packages are reachable here.

Test-harness code, shared by the `images` command beside this file, the
end-to-end fixture and the benchmarks."""

from __future__ import annotations

import hashlib
import inspect
import io
import json
import os
import platform
import re
import shutil
import subprocess
import tarfile
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent
RECIPES = HERE / "recipes"
# Sample projects: a pure one (hatchling) and a C extension (setuptools)
# whose header only NATIVE_SETUP provides.
PROJECTS = HERE / "projects"
NATIVE_SETUP = "mkdir -p /usr/local/include && echo '#define ANSWER_VALUE 4217' > /usr/local/include/answer_value.h"
ENGINE = HERE / "engine"
BINFMT_INSTALL = HERE / "binfmt-install"

# The references as tolvo writes them (src/tolvo/wheel/engine.hpp, images.cpp).
REGISTRY_PREFIX = "quay.io/pypa/"
BINFMT_INSTALLER = "tonistiigi/binfmt"
PYTHON_IMAGE = "python:3.11"

LABEL = "org.tolvo.test.recipe"
CACHE = Path(os.environ.get("TOLVO_IMAGE_CACHE", "/var/cache/tolvo-test-images"))

# tolvo's architecture names and Debian's (which Docker shares).
DEBIAN_ARCH = {"x86_64": "amd64", "aarch64": "arm64"}

# One package set for both images of an architecture: what the build image
# needs is a superset of the test image's, and the official python image
# carries a compiler too.
PACKAGES = ("python3", "python3-pip", "python3-venv", "python3-dev", "gcc", "libc6-dev", "git", "ca-certificates")
# Left out of the root file system: nothing in the images reads them.
TRIMMED = ("var/cache/apt/archives/*.deb", "var/lib/apt/lists/*", "usr/share/doc/*", "usr/share/man/*",
           "usr/share/locale/*")
BUSYBOX_APPLETS = ("sh", "mount", "cat", "ls", "uname")


def manylinux_image(arch: str) -> str:
    return f"{REGISTRY_PREFIX}manylinux_2_34_{arch}:latest"


def python_image(arch: str) -> str:
    return f"tolvo-test/python:3.11-{arch}"


class ImageError(Exception):
    pass


def docker(*args: str, log: Path | None = None) -> str:
    """Runs the docker client and returns its output; with `log`, the output
    goes to that file instead. Raises ImageError with the output's end when
    it fails."""
    if log is None:
        done = subprocess.run(["docker", *args], capture_output=True, text=True)
        if done.returncode != 0:
            raise ImageError(f"docker {' '.join(args[:3])} failed: {done.stderr.strip()}")
        return done.stdout
    with log.open("a") as out:
        out.write(f"$ docker {' '.join(args)}\n")
        out.flush()
        done = subprocess.run(["docker", *args], stdout=out, stderr=subprocess.STDOUT)
    if done.returncode != 0:
        tail = "".join(log.read_text(errors="replace").splitlines(keepends=True)[-30:])
        raise ImageError(f"docker {' '.join(args[:3])} failed with status {done.returncode}; log {log}:\n{tail}")
    return ""


def image_label(ref: str) -> str | None:
    """The recipe label of `ref`: None when there is no such image, "" when
    it carries none (an image not made here)."""
    done = subprocess.run(["docker", "image", "inspect", "--format", f'{{{{index .Config.Labels "{LABEL}"}}}}', ref],
                          capture_output=True, text=True)
    if done.returncode != 0:
        return None
    label = done.stdout.strip()
    return "" if label == "<no value>" else label


def image_id(ref: str) -> str | None:
    done = subprocess.run(["docker", "image", "inspect", "--format", "{{.Id}}", ref], capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else None


def may_replace(ref: str) -> None:
    """Refuses to replace an image that was not made here, such as a real
    python:3.11 pulled into a developer's engine."""
    if image_label(ref) == "":
        raise ImageError(f"{ref} in this engine is not a stand-in made by tests/containers; remove it "
                         f"(docker image rm {ref}) or point DOCKER_HOST at another engine")


def tag(source: str, ref: str) -> None:
    if image_id(source) != image_id(ref):
        may_replace(ref)
        docker("tag", source, ref)


def use_python_image(arch: str) -> None:
    """Points python:3.11 at the stand-in of `arch`."""
    tag(python_image(arch), PYTHON_IMAGE)


def digest(*parts: object) -> str:
    """The digest of a recipe: its parts, files by their content."""
    text = json.dumps([file_sha256(part) if isinstance(part, Path) else part for part in parts])
    return hashlib.sha256(text.encode()).hexdigest()


def host_ca_bundle() -> Path:
    for variable in ("PIP_CERT", "SSL_CERT_FILE"):
        if os.environ.get(variable) and Path(os.environ[variable]).is_file():
            return Path(os.environ[variable])
    return Path("/etc/ssl/certs/ca-certificates.crt")


def host_debian_source() -> tuple[str, str]:
    """The Debian suite the host runs and the first mirror its apt sources
    name for it: the images come from where the host's packages come from."""
    codename = ""
    for line in Path("/etc/os-release").read_text().splitlines():
        if line.startswith("VERSION_CODENAME="):
            codename = line.split("=", 1)[1].strip('"')
    if os.environ.get("TOLVO_DEBIAN_MIRROR"):
        return codename, os.environ["TOLVO_DEBIAN_MIRROR"]
    texts = [path.read_text() for path in sorted(Path("/etc/apt/sources.list.d").glob("*.sources"))]
    for text in texts:
        for stanza in re.split(r"\n\s*\n", text):
            fields = dict(re.findall(r"^(\w[\w-]*):\s*(.*)$", stanza, re.MULTILINE))
            if "deb" in fields.get("Types", "").split() and codename in fields.get("Suites", "").split() \
                    and "main" in fields.get("Components", "").split() and fields.get("URIs"):
                return codename, fields["URIs"].split()[0]
    sources_list = Path("/etc/apt/sources.list")
    if sources_list.is_file():
        for line in sources_list.read_text().splitlines():
            words = line.split("#", 1)[0].split()
            if len(words) >= 4 and words[0] == "deb" and words[2] == codename and "main" in words[3:]:
                return codename, words[1]
    raise ImageError(f"no Debian mirror for {codename!r} in the host's apt sources; set TOLVO_DEBIAN_MIRROR")


def ensure_host_emulation(arch: str) -> None:
    """Registers the host's handler for `arch`, so that the engine can run
    that architecture's containers while the images are made (and the
    tests can put it back after taking it away)."""
    name = f"qemu-{arch}"
    if Path("/proc/sys/fs/binfmt_misc", name).exists():
        return
    if not Path("/usr/share/binfmts", name).is_file():
        raise ImageError(f"no {name} handler on the host: install Debian's qemu-user-static")
    subprocess.run([str(BINFMT_INSTALL), "--install", arch], check=True, stdout=subprocess.DEVNULL)


def remove_root_file_system(path: Path) -> None:
    """Removes a debootstrap target, unmounting first what an interrupted
    debootstrap may have left mounted in it (/proc, /sys, a bind of /dev):
    removing files through such a mount would reach the host's."""
    prefix = str(path.resolve()) + "/"
    mounts = [line.split()[1] for line in Path("/proc/self/mounts").read_text().splitlines()]
    for mount in sorted((m for m in mounts if m.startswith(prefix)), key=len, reverse=True):
        subprocess.run(["umount", "--lazy", mount], check=False)
    mounts = [line.split()[1] for line in Path("/proc/self/mounts").read_text().splitlines()]
    if any(mount.startswith(prefix) for mount in mounts):
        raise ImageError(f"{path} still has file systems mounted in it; not removed")
    shutil.rmtree(path, ignore_errors=True)


# ---- image archives ---------------------------------------------------------

def file_sha256(path: Path) -> str:
    sha = hashlib.sha256()
    with path.open("rb") as stream:
        while chunk := stream.read(1 << 20):
            sha.update(chunk)
    return sha.hexdigest()


def load_archive(ref: str, layer: Path, arch: str, label: str, config: dict) -> None:
    """Loads a one-layer image into the engine through `docker load`. Unlike
    `docker import`, the image config names the architecture, which this
    engine's import ignores."""
    diff_id = f"sha256:{file_sha256(layer)}"
    image_config = {
        "architecture": DEBIAN_ARCH[arch],
        "os": "linux",
        "config": {"Env": ["PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"],
                   "Labels": {LABEL: label}, **config},
        "rootfs": {"type": "layers", "diff_ids": [diff_id]},
        "history": [{"created_by": "tests/containers/standins.py"}],
    }
    tagged = ref if ":" in ref.rsplit("/", 1)[-1] else f"{ref}:latest"
    manifest = [{"Config": "config.json", "RepoTags": [tagged], "Layers": ["layer.tar"]}]
    may_replace(ref)
    loader = subprocess.Popen(["docker", "load", "--quiet"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    assert loader.stdin is not None
    with tarfile.open(fileobj=loader.stdin, mode="w|") as archive:
        for name, data in (("config.json", json.dumps(image_config).encode()),
                           ("manifest.json", json.dumps(manifest).encode())):
            info = tarfile.TarInfo(name)
            info.size = len(data)
            archive.addfile(info, io.BytesIO(data))
        archive.add(layer, arcname="layer.tar")
    loader.stdin.close()
    if loader.wait() != 0:
        raise ImageError(f"docker load of {ref} failed")


# ---- the steps ----------------------------------------------------------------

@dataclass
class Report:
    """What a build did: one line per step with its duration."""

    lines: list[str]
    lock: threading.Lock

    def step(self, text: str, started: float) -> None:
        line = f"{text}: {time.monotonic() - started:.0f} s"
        with self.lock:
            self.lines.append(line)
            print(f"images: {line}", flush=True)


def extract_packages(root: Path) -> None:
    """Unpacks every package that debootstrap's first stage fetched into
    `root`, with the host's tools, and makes the few files that the
    packages' maintainer scripts would have made and the images need.
    debootstrap's second stage would run dpkg inside the root file system:
    for arm64 that is under emulation, about 20 minutes here instead of one.
    What the images run (bash, python, venv, pip, gcc, git) needs none of
    the scripts: ld.so finds the multiarch libraries without a cache."""
    for package in sorted((root / "var/cache/apt/archives").glob("*.deb")):
        data = subprocess.Popen(["dpkg-deb", "--fsys-tarfile", str(package)], stdout=subprocess.PIPE)
        # The first stage merged /usr: /bin and the others stay links.
        subprocess.run(["tar", "--keep-directory-symlink", "-xf", "-", "-C", str(root)], stdin=data.stdout,
                       check=True)
        assert data.stdout is not None
        data.stdout.close()
        if data.wait() != 0:
            raise ImageError(f"dpkg-deb could not read {package.name}")
    for name in ("passwd", "group"):
        shutil.copyfile(root / f"usr/share/base-passwd/{name}.master", root / f"etc/{name}")
    for name in ("bin", "include", "lib", "sbin", "share", "src"):
        (root / "usr/local" / name).mkdir(parents=True, exist_ok=True)
    if (root / "usr/bin/gcc").exists() and not (root / "usr/bin/cc").exists():
        (root / "usr/bin/cc").symlink_to("gcc")
    shutil.rmtree(root / "debootstrap")
    compile_python(root)


def compile_python(root: Path) -> None:
    """Byte-compiles the root file system's Python modules, as the
    packages' scripts would, with the host's interpreter of the same
    version (bytecode does not depend on the machine): under emulation,
    every interpreter start would otherwise compile what it imports."""
    for interpreter in sorted((root / "usr/bin").glob("python3.[0-9]*")):
        host = Path("/usr/bin", interpreter.name)
        if interpreter.name.endswith("-config") or not host.is_file():
            continue
        directories = [root / f"usr/lib/{interpreter.name}", root / "usr/lib/python3/dist-packages"]
        # Files that do not compile (test data, Python 2 examples) are left.
        subprocess.run([str(host), "-m", "compileall", "-q", "-j", "0", "-s", str(root), "-p", "/",
                        *map(str, directories)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def base_root_file_system(arch: str, cache: Path, report: Report) -> tuple[Path, str]:
    """The cached layer of the architecture's root file system and its
    recipe digest; made when missing."""
    suite, mirror = host_debian_source()
    recipe = digest("base", DEBIAN_ARCH[arch], suite, PACKAGES, TRIMMED, inspect.getsource(extract_packages),
                    inspect.getsource(compile_python), inspect.getsource(load_archive))
    layer = cache / f"rootfs-{arch}-{recipe[:16]}.tar"
    if layer.is_file():
        return layer, recipe
    started = time.monotonic()
    cache.mkdir(parents=True, exist_ok=True)
    for stale in cache.glob(f"rootfs-{arch}-*"):
        remove_root_file_system(stale) if stale.is_dir() else stale.unlink()
    work = Path(tempfile.mkdtemp(prefix=f"rootfs-{arch}-", dir=cache))
    log = cache / f"debootstrap-{arch}.log"
    try:
        root = work / "root"
        # Only the first stage, which fetches the packages and runs nothing
        # from inside the root file system.
        with log.open("w") as out:
            done = subprocess.run(["debootstrap", "--foreign", f"--arch={DEBIAN_ARCH[arch]}", "--variant=minbase",
                                   f"--include={','.join(PACKAGES)}", suite, str(root), mirror],
                                  stdout=out, stderr=subprocess.STDOUT)
        if done.returncode != 0:
            tail = "".join(log.read_text(errors="replace").splitlines(keepends=True)[-20:])
            raise ImageError(f"debootstrap for {arch} failed; log {log}:\n{tail}")
        extract_packages(root)
        for pattern in TRIMMED:
            for path in root.glob(pattern):
                shutil.rmtree(path) if path.is_dir() and not path.is_symlink() else path.unlink()
        partial = work / "layer.tar"
        subprocess.run(["tar", "--numeric-owner", "--xattrs", "-C", str(root), "-cf", str(partial), "."], check=True)
        partial.rename(layer)
    finally:
        remove_root_file_system(work)
    report.step(f"{arch} root file system (debootstrap, first stage)", started)
    return layer, recipe


def derived_image(arch: str, kind: str, base: str, base_recipe: str, ref: str, changes: tuple[str, ...],
                  cache: Path, report: Report) -> None:
    """Runs recipes/<kind>.sh in a container of `base` and commits it as `ref`."""
    ca_bundle = host_ca_bundle()
    proxy = os.environ.get("https_proxy") or os.environ.get("HTTPS_PROXY") or ""
    recipe = digest(kind, base_recipe, RECIPES / "common.sh", RECIPES / f"{kind}.sh",
                    RECIPES / "manylinux-interpreters", ca_bundle, proxy, changes)
    if image_label(ref) == recipe:
        return
    started = time.monotonic()
    container = f"tolvo-test-build-{kind}-{arch}"
    log = cache / f"{kind}-{arch}.log"
    log.write_text("")
    subprocess.run(["docker", "rm", "--force", container], capture_output=True)
    try:
        docker("run", "--name", container, f"--platform=linux/{DEBIAN_ARCH[arch]}", "--env", f"PIP_PROXY={proxy}",
               "--volume", f"{RECIPES}:/recipes:ro", "--volume", f"{ca_bundle}:/recipes-ca.crt:ro",
               base, "/bin/sh", "-c", f". /recipes/{kind}.sh", log=log)
        may_replace(ref)
        commit_changes = [f"LABEL {LABEL}={recipe}", 'CMD ["/bin/bash"]', *changes]
        docker("commit", *[arg for change in commit_changes for arg in ("--change", change)], container, ref, log=log)
    finally:
        subprocess.run(["docker", "rm", "--force", container], capture_output=True)
    report.step(f"{arch} {kind} image {ref}", started)


def architecture_images(arch: str, cache: Path, report: Report) -> None:
    if arch != platform.machine():
        ensure_host_emulation(arch)
    layer, base_recipe = base_root_file_system(arch, cache, report)
    base = f"tolvo-test/base:{arch}"
    if image_label(base) != base_recipe:
        started = time.monotonic()
        load_archive(base, layer, arch, base_recipe, {"Cmd": ["/bin/bash"]})
        report.step(f"{arch} base image loaded", started)
    derived_image(arch, "python", base, base_recipe, python_image(arch), (), cache, report)
    derived_image(arch, "manylinux", base, base_recipe, manylinux_image(arch),
                  (f"ENV AUDITWHEEL_PLAT=manylinux_2_34_{arch}",), cache, report)


def binfmt_image(cache: Path, report: Report) -> None:
    """The installer image from the host's own static emulators and busybox:
    no root file system to make."""
    versions = subprocess.run(["dpkg-query", "-W", "-f", "${Package} ${Version}\n", "qemu-user-static",
                               "busybox-static"], capture_output=True, text=True)
    if versions.returncode != 0:
        raise ImageError("the binfmt installer needs Debian's qemu-user-static and busybox-static on the host")
    recipe = digest("binfmt", BINFMT_INSTALL, versions.stdout, platform.machine(), inspect.getsource(binfmt_image),
                    inspect.getsource(load_archive))
    if image_label(BINFMT_INSTALLER) == recipe:
        return
    started = time.monotonic()
    files = subprocess.run(["dpkg-query", "-L", "qemu-user-static"], capture_output=True, text=True,
                           check=True).stdout.split()
    cache.mkdir(parents=True, exist_ok=True)
    layer = cache / "binfmt-layer.tar"
    with tarfile.open(layer, "w", format=tarfile.GNU_FORMAT) as archive:
        for directory in ("proc", "sys", "dev", "etc", "tmp"):
            info = tarfile.TarInfo(directory)
            info.type, info.mode = tarfile.DIRTYPE, 0o755
            archive.addfile(info)
        archive.add("/bin/busybox", arcname="bin/busybox")
        for applet in BUSYBOX_APPLETS:
            info = tarfile.TarInfo(f"bin/{applet}")
            info.type, info.linkname = tarfile.SYMTYPE, "busybox"
            archive.addfile(info)
        for name in files:
            path = Path(name)
            if name.startswith(("/usr/bin/", "/usr/libexec/qemu-binfmt/", "/usr/share/binfmts/")) \
                    and (path.is_symlink() or path.is_file()):
                archive.add(name, arcname=name.lstrip("/"))
        archive.add(str(BINFMT_INSTALL), arcname="usr/local/bin/binfmt-install")
    try:
        load_archive(BINFMT_INSTALLER, layer, platform.machine(), recipe,
                     {"Entrypoint": ["/usr/local/bin/binfmt-install"]})
    finally:
        layer.unlink()
    report.step(f"binfmt installer image {BINFMT_INSTALLER}", started)


def build_images(arches: tuple[str, ...] = ("x86_64", "aarch64"), cache: Path = CACHE) -> list[str]:
    """Makes every stand-in that is missing or whose recipe changed, the
    architectures side by side; python:3.11 ends up naming the x86_64 one.
    Returns the report lines."""
    report = Report([], threading.Lock())
    started = time.monotonic()
    binfmt_image(cache, report)
    with ThreadPoolExecutor(max_workers=len(arches)) as pool:
        for future in [pool.submit(architecture_images, arch, cache, report) for arch in arches]:
            future.result()
    if "x86_64" in arches:
        use_python_image("x86_64")
    # Images that a rebuild left without a name.
    subprocess.run(["docker", "image", "prune", "--force", "--filter", f"label={LABEL}"], capture_output=True)
    report.step("all images", started)
    return report.lines


def image_sizes(arches: tuple[str, ...] = ("x86_64", "aarch64")) -> list[tuple[str, int]]:
    refs = [BINFMT_INSTALLER] + [ref for arch in arches for ref in (manylinux_image(arch), python_image(arch))]
    sizes = []
    for ref in refs:
        size = docker("image", "inspect", "--format", "{{.Size}}", ref).strip()
        sizes.append((ref, int(size)))
    return sizes


# ---- the engine -----------------------------------------------------------------

def engine_answers() -> bool:
    try:
        return subprocess.run(["docker", "info"], capture_output=True, timeout=20).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


class EngineUnavailable(Exception):
    """No engine answers and none can be started here; says why."""


def start_engine() -> bool:
    """Starts dockerd unless an engine answers; returns whether it did."""
    if engine_answers():
        return False
    done = subprocess.run([str(ENGINE), "start"], capture_output=True, text=True)
    if done.returncode == 2:
        raise EngineUnavailable(done.stderr.strip().splitlines()[-1])
    if done.returncode != 0:
        raise ImageError(f"{ENGINE} start failed: {done.stdout}{done.stderr}")
    return True


def stop_engine() -> None:
    subprocess.run([str(ENGINE), "stop"], check=True, capture_output=True)
