#!/usr/bin/env python3
"""Fails when an include under src/tolvo/ points up a layer.

Each directory under src/tolvo/ is a layer; a file belongs to the layer of its
directory (errors.hpp, at the top of src/tolvo/, is the layer "errors"). A file
may include its own layer and any layer below it; build, lint and wheel share
one level and may not include each other. Includes of tolvo's own headers are
written from the root ("tolvo/venv/x.hpp"), so a relative one is refused too:
it would hide the direction. A directory missing from LAYERS is refused until
it is given its place.

    check_layers.py [SOURCE_ROOT]     checks SOURCE_ROOT/src/tolvo (default: this tree)
    check_layers.py --self-test       checks the checker on a made-up tree"""

from __future__ import annotations

import re
import sys
import tempfile
from pathlib import Path

# Lowest first; layers on one level may not include each other.
LAYERS: list[set[str]] = [{"errors"}, {"platform"}, {"console"}, {"config"}, {"venv"}, {"build", "lint", "wheel"}, {"cli"}]
LEVEL = {name: level for level, names in enumerate(LAYERS) for name in names}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
SOURCES = (".hpp", ".cpp", ".h", ".cc", ".inl")


def layer_of(relative: Path) -> str:
    """The layer of a path below src/tolvo/, or of an include below tolvo/."""
    return relative.parts[0] if len(relative.parts) > 1 else relative.stem


def violations(tree: Path) -> list[str]:
    found = []
    for path in sorted(p for p in tree.rglob("*") if p.suffix in SOURCES):
        relative = path.relative_to(tree)
        own = layer_of(relative)
        where = f"src/tolvo/{relative.as_posix()}"
        if own not in LEVEL:
            found.append(f"{where}: directory '{own}' has no place in the layer order")
            continue
        text = path.read_text(encoding="utf-8")
        for match in INCLUDE.finditer(text):
            line = text.count("\n", 0, match.start()) + 1
            header = match.group(1)
            if not header.startswith("tolvo/"):
                found.append(f"{where}:{line}: \"{header}\" is not included from the root (\"tolvo/...\")")
                continue
            target = layer_of(Path(header).relative_to("tolvo"))
            if target not in LEVEL:
                found.append(f"{where}:{line}: \"{header}\" is in no known layer")
            elif target != own and LEVEL[target] >= LEVEL[own]:
                found.append(f"{where}:{line}: {own} may not include \"{header}\" ({target} is not below {own})")
    return found


def self_test() -> int:
    files = {
        "errors.hpp": "#include <string>\n",
        "platform/a.hpp": '#include "tolvo/errors.hpp"\n#include "tolvo/platform/b.hpp"\n',
        "venv/a.cpp": '#include "tolvo/config/x.hpp"\n#include "tolvo/lint/up.hpp"\n',
        "lint/a.cpp": '#include "tolvo/venv/a.hpp"\n  #  include "tolvo/wheel/sibling.hpp"\n',
        "cli/a.cpp": '#include "tolvo/wheel/a.hpp"\n#include "local.hpp"\n#include "tolvo/nowhere/x.hpp"\n',
        "extra/a.hpp": "",
    }
    expected = [
        'src/tolvo/cli/a.cpp:2: "local.hpp" is not included from the root ("tolvo/...")',
        'src/tolvo/cli/a.cpp:3: "tolvo/nowhere/x.hpp" is in no known layer',
        "src/tolvo/extra/a.hpp: directory 'extra' has no place in the layer order",
        'src/tolvo/lint/a.cpp:2: lint may not include "tolvo/wheel/sibling.hpp" (wheel is not below lint)',
        'src/tolvo/venv/a.cpp:2: venv may not include "tolvo/lint/up.hpp" (lint is not below venv)',
    ]
    with tempfile.TemporaryDirectory() as scratch:
        for name, text in files.items():
            (Path(scratch) / name).parent.mkdir(parents=True, exist_ok=True)
            (Path(scratch) / name).write_text(text)
        got = violations(Path(scratch))
    if got != expected:
        print("layer check self-test failed; got:", *got, sep="\n  ")
        return 1
    print(f"layer check self-test: {len(expected)} planted violations found, nothing else")
    return 0


def main(argv: list[str]) -> int:
    if argv[1:] == ["--self-test"]:
        return self_test()
    root = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parents[2]
    tree = root / "src" / "tolvo"
    if not tree.is_dir():
        print(f"no source tree at {tree}")
        return 1
    found = violations(tree)
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} include(s) against the layer order: "
              + " <- ".join(" / ".join(sorted(names)) for names in LAYERS))
        return 1
    print(f"layers hold: {sum(1 for p in tree.rglob('*') if p.suffix in SOURCES)} files checked")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
