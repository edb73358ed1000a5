"""The lint command against fake programs: a fake base "python" that
creates a fake environment, whose interpreter plays the four linters, and a
fake "tolvo" on PATH for the config-diff check. Each check logs its argv,
start and end time and PYTHONPATH, and behaves as its FAKE_<TOOL>_* variables say."""

from __future__ import annotations

import json
import os
import pty
import re
import select
import subprocess
import sys
import textwrap
from pathlib import Path

import pyte
import pytest

from conftest import TOLVO, run_tolvo

LABELS = ["ruff", "basedpyright", "dodgy", "pyroma", "tolvo"]
CURSOR_UP = "\x1b[1A"
ERASE_BELOW = "\x1b[J"
FRAMES = "\u280b\u2819\u2839\u2838\u283c\u2834\u2826\u2827\u2807\u280f"

FAKE = textwrap.dedent(
    """\
    #!{python}
    import json, os, sys, time
    name = os.path.basename(sys.argv[0])
    args = sys.argv[1:]
    log_dir = os.environ["FAKE_LOG_DIR"]
    if name == "python" and args[:2] == ["-m", "venv"]:
        bin_dir = os.path.join(args[-1], "bin")
        os.makedirs(bin_dir, exist_ok=True)
        for tool in ("python", "pip"):
            target = os.path.join(bin_dir, tool)
            with open(__file__) as src, open(target, "w") as dst:
                dst.write(src.read())
            os.chmod(target, 0o755)
        sys.exit(0)
    if name == "pip":
        with open(os.path.join(log_dir, "pip.log"), "a") as log:
            log.write(json.dumps(args) + "\\n")
        sys.exit(0)
    if name == "python" and args[:1] == ["-um"] and args[1] != "ensurepip":
        tool, rest = args[1], args[2:]
    elif name == "tolvo":
        tool, rest = "tolvo", args
    else:
        sys.exit(0)
    key = "FAKE_" + tool.upper() + "_"
    start = time.time()
    time.sleep(float(os.environ.get(key + "SLEEP", "0")))
    sys.stdout.write(os.environ.get(key + "OUT", ""))
    sys.stderr.write(os.environ.get(key + "ERR", ""))
    with open(os.path.join(log_dir, tool + ".log"), "w") as log:
        json.dump({{"argv": rest, "start": start, "end": time.time(),
                    "pythonpath": os.environ.get("PYTHONPATH")}}, log)
    sys.exit(int(os.environ.get(key + "RC", "0")))
    """
).format(python=sys.executable)

PYPROJECT = textwrap.dedent(
    """\
    [project]
    name = "demo"
    version = "1.0"

    [project.optional-dependencies]
    docs = ["sphinx"]
    test = ["pytest"]
    lint = ["ruff"]
    """
)


@pytest.fixture
def project(tmp_path: Path, tolvo_bin: Path) -> Path:
    fake_bin = tmp_path / "bin"
    fake_bin.mkdir()
    for name in ("python", "tolvo"):
        (fake_bin / name).write_text(FAKE)
        (fake_bin / name).chmod(0o755)
    (tmp_path / "logs").mkdir()
    work = tmp_path / "work"
    work.mkdir()
    (work / "pyproject.toml").write_text(PYPROJECT)
    return work


def lint_env(project: Path, **fakes: str) -> dict[str, str]:
    env = {"PATH": str(project.parent / "bin"), "FAKE_LOG_DIR": str(project.parent / "logs")}
    env.update(fakes)
    return env


def log_of(project: Path, tool: str) -> dict:
    return json.loads((project.parent / "logs" / f"{tool}.log").read_text())


INSTALL_LINES = (
    "Creating virtual environment...\n"
    "Ensuring pip is installed...\n"
    "Upgrading pip...\n"
    "Installing lint tools...\n"
    "Installing requirements...\n"
    "Running linters...\n"
)


def test_all_pass_on_a_pipe(project: Path) -> None:
    result = run_tolvo("lint", cwd=project, env=lint_env(project))
    assert result.returncode == 0, result.stderr
    assert result.stdout == INSTALL_LINES + "".join(f"{label}: PASS\n" for label in LABELS)
    assert result.stderr == ""
    assert "\x1b" not in result.stdout
    assert not any(frame in result.stdout for frame in FRAMES)
    assert log_of(project, "ruff")["argv"] == ["check"]
    assert log_of(project, "basedpyright")["argv"] == ["--project=pyproject.toml"]
    assert log_of(project, "dodgy")["argv"] == []
    assert log_of(project, "pyroma")["argv"] == ["."]
    assert log_of(project, "tolvo")["argv"] == ["config-diff"]
    pip_log = [json.loads(line) for line in (project.parent / "logs" / "pip.log").read_text().splitlines()]
    assert ["install", "ruff", "vulture", "basedpyright", "dodgy", "pyroma"] in pip_log
    assert pip_log[-1] == ["install", "--quiet", "--editable", ".[test,lint]"]
    # vulture is installed but never run.
    assert not (project.parent / "logs" / "vulture.log").exists()


@pytest.mark.parametrize("failing", [["dodgy"], ["ruff", "tolvo"], LABELS])
def test_exit_status_counts_failed_checks(project: Path, failing: list[str]) -> None:
    fakes = {}
    for number, label in enumerate(failing, start=1):
        fakes[f"FAKE_{label.upper()}_RC"] = str(number)
        fakes[f"FAKE_{label.upper()}_OUT"] = f"{label} said"
        fakes[f"FAKE_{label.upper()}_ERR"] = f"{label} complained"
    result = run_tolvo("lint", cwd=project, env=lint_env(project, **fakes))
    assert result.returncode == len(failing)
    expected_out, expected_err = INSTALL_LINES, ""
    for label in LABELS:
        if label in failing:
            code = failing.index(label) + 1
            expected_out += f"{label}: FAIL ({code})\n{label} said\n"
            expected_err += f"{label} complained\n"
        else:
            expected_out += f"{label}: PASS\n"
    expected_out += f"{len(failing)} failed\n"
    assert result.stdout == expected_out
    assert result.stderr == expected_err


def test_failed_check_with_empty_texts_gives_empty_lines(project: Path) -> None:
    result = run_tolvo("lint", cwd=project, env=lint_env(project, FAKE_PYROMA_RC="3"))
    assert result.returncode == 1
    assert result.stdout.endswith("dodgy: PASS\npyroma: FAIL (3)\n\ntolvo: PASS\n1 failed\n")
    assert result.stderr == "\n"


def test_fix_changes_only_ruff(project: Path) -> None:
    result = run_tolvo("lint", "--fix", cwd=project, env=lint_env(project))
    assert result.returncode == 0, result.stderr
    assert log_of(project, "ruff")["argv"] == ["check", "--fix"]
    assert log_of(project, "dodgy")["argv"] == []
    assert log_of(project, "tolvo")["argv"] == ["config-diff"]


def test_project_without_kept_groups_installs_plain(project: Path) -> None:
    (project / "pyproject.toml").write_text('[project]\nname = "demo"\nversion = "1"\n')
    result = run_tolvo("lint", cwd=project, env=lint_env(project))
    assert result.returncode == 0, result.stderr
    last = (project.parent / "logs" / "pip.log").read_text().splitlines()[-1]
    assert json.loads(last) == ["install", "--quiet", "--editable", "."]


def module_path() -> str:
    exe_dir = TOLVO.resolve().parent
    for site in sorted(exe_dir.parent.glob("lib/python*/site-packages")):
        if (site / "tolvo").is_dir():
            return str(site)
    if (exe_dir.parent / "python" / "tolvo").is_dir():
        return str(exe_dir.parent / "python")
    return str(exe_dir)


@pytest.mark.parametrize(
    ("pythonpath", "expected_tail"),
    [(None, ""), ("", ""), ("/one:/two", "/one:/two")],
)
def test_pythonpath_of_the_tolvo_check(project: Path, pythonpath: str | None, expected_tail: str) -> None:
    env = lint_env(project)
    if pythonpath is not None:
        env["PYTHONPATH"] = pythonpath
    result = run_tolvo("lint", cwd=project, env=env)
    assert result.returncode == 0, result.stderr
    assert log_of(project, "tolvo")["pythonpath"] == module_path() + ":" + expected_tail
    # The linters get the environment unchanged.
    assert log_of(project, "ruff")["pythonpath"] == pythonpath


def test_checks_run_at_the_same_time(project: Path) -> None:
    fakes = {f"FAKE_{label.upper()}_SLEEP": "0.5" for label in LABELS}
    result = run_tolvo("lint", cwd=project, env=lint_env(project, **fakes))
    assert result.returncode == 0, result.stderr
    logs = [log_of(project, label) for label in LABELS]
    assert max(log["start"] for log in logs) < min(log["end"] for log in logs)


def test_check_that_cannot_start_ends_with_its_error(project: Path) -> None:
    (project.parent / "bin" / "tolvo").unlink()
    fakes = {"FAKE_RUFF_SLEEP": "0.3", "FAKE_DODGY_RC": "1"}
    result = run_tolvo("lint", cwd=project, env=lint_env(project, **fakes))
    assert result.returncode == 1
    # The results before the broken check are reported, then its error ends the run.
    assert result.stdout.endswith("Running linters...\nruff: PASS\nbasedpyright: PASS\n"
                                  "dodgy: FAIL (1)\n\npyroma: PASS\n")
    assert result.stderr.startswith("\n")
    assert "cannot run 'tolvo'" in result.stderr.splitlines()[-1]
    # The other checks were waited for, not abandoned.
    for label in LABELS[:4]:
        assert log_of(project, label)["end"] > 0


def run_on_pty(project: Path, env: dict[str, str]) -> tuple[int, str, str]:
    master, slave = pty.openpty()
    proc = subprocess.Popen([str(TOLVO), "lint"], cwd=project, env=env, stdin=subprocess.DEVNULL,
                            stdout=slave, stderr=subprocess.PIPE)
    os.close(slave)
    chunks = []
    while True:
        ready, _, _ = select.select([master], [], [], 30)
        if not ready:
            proc.kill()
            break
        try:
            data = os.read(master, 4096)
        except OSError:
            break
        if not data:
            break
        chunks.append(data)
    os.close(master)
    _, err = proc.communicate(timeout=30)
    return proc.returncode, b"".join(chunks).decode().replace("\r\n", "\n"), err.decode()


def test_terminal_redraws_five_lines_in_place(project: Path) -> None:
    fakes = {f"FAKE_{label.upper()}_SLEEP": "0.5" for label in LABELS}
    fakes["FAKE_DODGY_SLEEP"] = "0.1"
    fakes["FAKE_DODGY_RC"] = "1"
    code, output, _ = run_on_pty(project, lint_env(project, **fakes))
    assert code == 1
    assert "Running linters..." not in output
    line = r"(?:[a-z]+): (?:\[[" + FRAMES + r"]\]|PASS|FAIL \(\d+\))\n"
    drawings = re.findall("((?:" + line + "){5})((?:" + re.escape(CURSOR_UP) + ")+)", output)
    assert len(drawings) >= 3
    for index, (lines, ups) in enumerate(drawings, start=1):
        assert ups == CURSOR_UP * 5
        assert [text.split(":")[0] for text in lines.splitlines()] == LABELS
        # Every check still running shows the frame of this drawing.
        assert set(re.findall(r"\[(.)\]", lines)) <= {FRAMES[index % 10]}
    assert any("ruff: [" in lines for lines, _ in drawings)
    # A finished check shows its result early.
    assert "dodgy: FAIL (1)" in drawings[-1][0]
    report = output[output.rindex(CURSOR_UP) + len(CURSOR_UP):]
    assert report == ERASE_BELOW + "ruff: PASS\nbasedpyright: PASS\ndodgy: FAIL (1)\n\npyroma: PASS\ntolvo: PASS\n1 failed\n"


def screen_after(output: str, columns: int = 80) -> list[str]:
    """The rows a terminal shows once it has displayed `output`."""
    screen = pyte.Screen(columns, 40)
    pyte.Stream(screen).feed(output.replace("\n", "\r\n"))
    return [row.rstrip() for row in screen.display if row.strip()]


def test_report_leaves_no_fragment_of_the_display(project: Path) -> None:
    # A failed check's short output lines land where longer progress lines were.
    fakes = {f"FAKE_{label.upper()}_SLEEP": "0.4" for label in LABELS}
    fakes.update(FAKE_DODGY_RC="1", FAKE_DODGY_OUT="|\n|")
    code, output, _ = run_on_pty(project, lint_env(project, **fakes))
    assert code == 1
    assert screen_after(output) == ["ruff: PASS", "basedpyright: PASS", "dodgy: FAIL (1)", "|", "|", "pyroma: PASS",
                                    "tolvo: PASS", "1 failed"]


def test_terminal_check_that_cannot_start_ends_after_the_others(project: Path) -> None:
    (project.parent / "bin" / "tolvo").unlink()
    fakes = {"FAKE_RUFF_SLEEP": "0.5", "FAKE_PYROMA_SLEEP": "0.3"}
    code, output, err = run_on_pty(project, lint_env(project, **fakes))
    assert code == 1
    assert "cannot run 'tolvo'" in err
    assert "failed\n" not in output
    # The error surfaces while drawing, yet the run waited for every other check.
    logs = [log_of(project, label) for label in LABELS[:4]]
    assert all(log["end"] > log["start"] for log in logs)
