"""The work of `tolvo config-diff` written in Python with tomllib and
packaging: the reference tolvo is measured against. Run in a project
directory; prints the findings and exits with their count."""

from __future__ import annotations

import sys
import tomllib
from pathlib import Path

from packaging.requirements import Requirement
from packaging.specifiers import SpecifierSet
from packaging.utils import canonicalize_name
from packaging.version import Version

TEMPLATE = Path(__file__).resolve().parents[1] / "src" / "tolvo" / "templates" / "pyproject.toml.tpl"


def min_version(spec):
    for s in spec:
        if s.operator in (">=", "=="):
            return s.version
    return None


def specifier_covers(exp, act):
    exp_exact = next((s.version for s in exp if s.operator == "=="), None)
    act_exact = next((s.version for s in act if s.operator == "=="), None)
    if exp_exact is not None:
        if act_exact is not None:
            return exp_exact == act_exact
        act_min = min_version(act)
        return act_min is not None and Version(act_min) >= Version(exp_exact)
    exp_min, act_min = min_version(exp), min_version(act)
    if exp_min is None:
        return True
    return act_min is not None and Version(act_min) >= Version(exp_min)


def environments(requires_python):
    spec = SpecifierSet(requires_python)
    version = next((s.version for s in spec if s.operator == ">="), requires_python)
    return [{"python_version": version, "python_full_version": version + ".0", "sys_platform": p,
             "platform_system": p.capitalize()} for p in ("linux", "darwin", "win32")]


def marker_covers(exp, act, requires_python):
    if act is None or (exp is not None and str(exp) == str(act)):
        return True
    for env in environments(requires_python):
        try:
            if (exp is None or exp.evaluate(env)) and not act.evaluate(env):
                return False
        except Exception:
            continue
    return True


def not_satisfied(expected, actual, requires_python):
    def group(reqs):
        groups: dict[str, list[Requirement]] = {}
        for r in map(Requirement, reqs):
            groups.setdefault(canonicalize_name(r.name), []).append(r)
        return groups
    exp_groups, act_groups = group(expected), group(actual)
    missing = []
    for name, members in exp_groups.items():
        for e in members:
            if not any(marker_covers(e.marker, a.marker, requires_python) and e.extras <= a.extras
                       and specifier_covers(e.specifier, a.specifier) for a in act_groups.get(name, [])):
                missing.append(str(e))
    return missing


def resolve_group(groups, name, seen=()):
    if name in seen:
        raise ValueError(f"dependency group {name!r} includes itself")
    requirements = []
    for item in groups[name]:
        if isinstance(item, str):
            requirements.append(item)
        else:
            requirements += resolve_group(groups, canonicalize_name(item["include-group"]), (*seen, name))
    return requirements


def diff_lists(name, expected, actual):
    if not set(expected or []) - set(actual or []):
        return 0
    print(f"{name}: expected {expected}, got {actual}")
    return 1


def main() -> int:
    text = TEMPLATE.read_text()
    for key in ("name", "description", "author_name", "author_email", "license_spdx", "python_version"):
        text = text.replace("{" + key + "}", "x")
    template = tomllib.loads(text.replace("{{", "{").replace("}}", "}"))
    project = tomllib.loads(Path("pyproject.toml").read_text())
    failed = 0
    requires_python = project.get("project", {}).get("requires-python")
    if requires_python is None:
        print("Error: 'pyproject.toml' does not specify a 'requires-python' value.")
        failed += 1
    else:
        extras = project["project"].get("optional-dependencies") or {}
        groups = {canonicalize_name(name): items for name, items in project.get("dependency-groups", {}).items()}
        if "test" in extras and not not_satisfied(["pytest"], extras["test"], requires_python):
            pass
        elif "test" in groups and not not_satisfied(["pytest"], resolve_group(groups, "test"), requires_python):
            pass
        elif "test" in extras:
            print("Error: pytest is not installed in the 'test' extras group.")
            failed += 1
        elif "test" in groups:
            print("Error: pytest is not installed in the 'test' dependency group.")
            failed += 1
        else:
            print("Error: 'test' optional dependency group is missing.")
            failed += 1
        missing = not_satisfied(template["build-system"]["requires"], project["build-system"]["requires"],
                                requires_python)
        if missing:
            print("build-system.requires: missing coverage for " + ", ".join(missing))
            failed = 1
    if template["build-system"]["build-backend"] != project["build-system"]["build-backend"]:
        print(f"build-system.build-backend: expected {template['build-system']['build-backend']}, "
              f"got {project['build-system']['build-backend']}")
        failed = 1
    tool = project["tool"]
    failed += diff_lists("tool.pyright.exclude", template["tool"].get("pyright", {}).get("exclude"),
                         tool.get("pyright", {}).get("exclude"))
    failed += diff_lists("tool.ruff.exclude", template["tool"].get("ruff", {}).get("exclude"),
                         tool.get("ruff", {}).get("exclude"))
    return failed


if __name__ == "__main__":
    sys.exit(main())
