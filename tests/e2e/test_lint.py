"""The lint command against the fake programs: the environment's
interpreter plays the four linters and the fake "tolvo" on PATH the
config-diff check, each as its FAKE_<TOOL>_* variables say."""

from __future__ import annotations

import re
import textwrap

import pyte
import pytest

from conftest import TOLVO, FakeProject, assert_no_leftovers, fake_settings, run_on_pty

LABELS = ["ruff", "basedpyright", "dodgy", "pyroma", "tolvo"]
CURSOR_UP = "\x1b[1A"
ERASE_BELOW = "\x1b[J"
FRAMES = "\u280b\u2819\u2839\u2838\u283c\u2834\u2826\u2827\u2807\u280f"

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

INSTALL_LINES = (
    "Creating virtual environment...\n"
    "Ensuring pip is installed...\n"
    "Upgrading pip...\n"
    "Installing lint tools...\n"
    "Installing requirements...\n"
    "Running linters...\n"
)


@pytest.mark.parametrize(
    ("options", "pyproject", "ruff", "target"),
    # ruff never fixes unasked, whatever the project's own settings say.
    [([], PYPROJECT, "check --no-fix", ".[test,lint]"),
     # No group worth installing: the project alone. --fix changes ruff's arguments only.
     (["--fix"], '[project]\nname = "demo"\nversion = "1"\n', "check --fix", ".")],
)
def test_all_pass_on_a_pipe(fake_project: FakeProject, options: list[str], pyproject: str, ruff: str,
                            target: str) -> None:
    fake_project.write("pyproject.toml", pyproject)
    result = fake_project.run("lint", *options)
    assert result.returncode == 0, result.stderr
    assert result.stdout == INSTALL_LINES + "".join(f"{label}: PASS\n" for label in LABELS)
    assert result.stderr == ""
    lines = fake_project.lines()
    assert lines[:5] == [f"python -m venv --system-site-packages --upgrade {fake_project.venv}",
                         ".venv/bin/python -um ensurepip", ".venv/bin/python -m pip install --upgrade pip",
                         ".venv/bin/python -m pip install ruff vulture basedpyright dodgy pyroma",
                         f".venv/bin/python -m pip install --quiet --editable {target}"]
    # The checks run at once, in any order; vulture is installed but never run.
    assert sorted(lines[5:]) == [".venv/bin/python -um basedpyright --project=pyproject.toml",
                                 ".venv/bin/python -um dodgy", ".venv/bin/python -um pyroma .",
                                 f".venv/bin/python -um ruff {ruff}", "tolvo config-diff"]


@pytest.mark.parametrize("failing", [["dodgy"], ["ruff", "tolvo"], LABELS])
def test_exit_status_counts_failed_checks(fake_project: FakeProject, failing: list[str]) -> None:
    fakes = {}
    for number, label in enumerate(failing, start=1):
        fakes.update(fake_settings(label, RC=str(number), OUT=f"{label} said", ERR=f"{label} complained"))
    result = fake_project.run("lint", **fakes)
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


def test_skipped_checks_are_not_run_and_do_not_fail(fake_project: FakeProject) -> None:
    fake_project.write("pyproject.toml", PYPROJECT + '[tool.tolvo]\nlint-skip = ["tolvo", "pyroma"]\n')
    result = fake_project.run("lint", FAKE_PYROMA_RC="1", FAKE_TOLVO_RC="1", FAKE_DODGY_RC="2")
    assert result.returncode == 1, result.stderr
    assert result.stdout == INSTALL_LINES + ("ruff: PASS\nbasedpyright: PASS\ndodgy: FAIL (2)\n\n"
                                             "pyroma: skipped\ntolvo: skipped\n1 failed\n")
    assert {call.role for call in fake_project.calls()}.isdisjoint({"pyroma", "tolvo"})


@pytest.mark.parametrize(
    ("setting", "message"),
    [('["ruff", "flake8"]', "tool.tolvo.lint-skip: unknown check 'flake8'; the checks are ruff, basedpyright, "
                            "dodgy, pyroma, tolvo"),
     ('"ruff"', "'tool.tolvo.lint-skip' is not an array")],
)
def test_wrong_lint_skip_is_an_error_before_anything_runs(fake_project: FakeProject, setting: str,
                                                          message: str) -> None:
    fake_project.write("pyproject.toml", PYPROJECT + f"[tool.tolvo]\nlint-skip = {setting}\n")
    result = fake_project.run("lint")
    assert result.returncode == 1
    assert result.stdout == ""
    assert message in result.stderr
    assert fake_project.calls() == []
    assert not (fake_project.dir / ".venv").exists()


def test_failed_check_with_empty_texts_gives_empty_lines(fake_project: FakeProject) -> None:
    result = fake_project.run("lint", FAKE_PYROMA_RC="3")
    assert result.returncode == 1
    assert result.stdout.endswith("dodgy: PASS\npyroma: FAIL (3)\n\ntolvo: PASS\n1 failed\n")
    assert result.stderr == "\n"


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
def test_pythonpath_of_the_tolvo_check(fake_project: FakeProject, pythonpath: str | None,
                                       expected_tail: str) -> None:
    result = fake_project.run("lint", **({} if pythonpath is None else {"PYTHONPATH": pythonpath}))
    assert result.returncode == 0, result.stderr
    seen = {call.role: call.pythonpath for call in fake_project.calls()}
    assert seen["tolvo"] == module_path() + ":" + expected_tail
    # The linters get the environment unchanged.
    assert seen["ruff"] == pythonpath


def test_checks_run_at_the_same_time(fake_project: FakeProject) -> None:
    result = fake_project.run("lint", **{f"FAKE_{label.upper()}_SLEEP": "0.5" for label in LABELS})
    assert result.returncode == 0, result.stderr
    checks = [call for call in fake_project.calls() if call.role in LABELS]
    assert len(checks) == 5
    assert max(call.start for call in checks) < min(call.end for call in checks)


def test_check_that_cannot_start_ends_with_its_error(fake_project: FakeProject) -> None:
    (fake_project.bin / "tolvo").unlink()
    result = fake_project.run("lint", FAKE_RUFF_SLEEP="0.3", FAKE_DODGY_RC="1")
    assert result.returncode == 1
    # The results before the broken check are reported, then its error ends the run.
    assert result.stdout.endswith("Running linters...\nruff: PASS\nbasedpyright: PASS\n"
                                  "dodgy: FAIL (1)\n\npyroma: PASS\n")
    assert result.stderr.startswith("\n")
    assert "cannot run 'tolvo'" in result.stderr.splitlines()[-1]
    # The other checks were waited for, not abandoned.
    checks = [call for call in fake_project.calls() if call.role in LABELS]
    assert all(call.end is not None for call in checks)
    assert_no_leftovers(checks, set(LABELS[:4]))


def run_lint_on_pty(fake_project: FakeProject, **fakes: str) -> tuple[int, str, str]:
    shown = run_on_pty(["lint"], fake_project.dir, {**fake_project.env, **fakes}, stdin_on_pty=False)
    return shown.returncode, shown.text, shown.stderr.decode()


def test_terminal_redraws_five_lines_in_place(fake_project: FakeProject) -> None:
    fakes = {f"FAKE_{label.upper()}_SLEEP": "0.5" for label in LABELS}
    fakes["FAKE_DODGY_SLEEP"] = "0.1"
    fakes["FAKE_DODGY_RC"] = "1"
    code, output, _ = run_lint_on_pty(fake_project, **fakes)
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


@pytest.mark.parametrize("term", ["dumb", ""])
def test_terminal_that_cannot_redraw_gets_each_line_once(fake_project: FakeProject, term: str) -> None:
    fakes = {f"FAKE_{label.upper()}_SLEEP": "0.6" for label in LABELS}
    fakes["FAKE_DODGY_SLEEP"] = "0"
    fakes["FAKE_INSTALL_SLEEP"] = "0.3"  # long enough for the spinner to turn
    code, output, _ = run_lint_on_pty(fake_project, TERM=term, **fakes)
    assert code == 0
    assert "\x1b" not in output and "\r" not in output
    assert not set(FRAMES) & set(output)
    # The install steps, then each result as it arrives (dodgy first), then the report.
    report = [f"{label}: PASS" for label in LABELS]
    assert output.startswith(INSTALL_LINES + "dodgy: PASS\n")
    lines = output[len(INSTALL_LINES):].splitlines()
    assert lines[-5:] == report
    arrived = lines[:-5]
    assert len(set(arrived)) == len(arrived) and set(arrived) <= set(report)


def screen_after(output: str, columns: int = 80) -> list[str]:
    """The rows a terminal shows once it has displayed `output`."""
    screen = pyte.Screen(columns, 40)
    pyte.Stream(screen).feed(output.replace("\n", "\r\n"))
    return [row.rstrip() for row in screen.display if row.strip()]


@pytest.mark.parametrize("skip", [[], ["basedpyright", "tolvo"]])
def test_report_leaves_no_fragment_of_the_display(fake_project: FakeProject, skip: list[str]) -> None:
    # A failed check's short output lines land where longer progress lines
    # were; skipped checks, not drawn while the others run, join the report.
    fake_project.write("pyproject.toml", PYPROJECT + f"[tool.tolvo]\nlint-skip = {skip}\n".replace("'", '"'))
    fakes = {f"FAKE_{label.upper()}_SLEEP": "0.4" for label in LABELS}
    code, output, _ = run_lint_on_pty(fake_project, **fakes, FAKE_DODGY_RC="1", FAKE_DODGY_OUT="|\n|")
    assert code == 1
    assert output.count(CURSOR_UP) % (5 - len(skip)) == 0
    assert screen_after(output) == [
        "ruff: PASS", "basedpyright: skipped" if skip else "basedpyright: PASS", "dodgy: FAIL (1)", "|", "|",
        "pyroma: PASS", "tolvo: skipped" if skip else "tolvo: PASS", "1 failed"]


def test_terminal_check_that_cannot_start_ends_after_the_others(fake_project: FakeProject) -> None:
    (fake_project.bin / "tolvo").unlink()
    code, output, err = run_lint_on_pty(fake_project, FAKE_RUFF_SLEEP="0.5", FAKE_PYROMA_SLEEP="0.3")
    assert code == 1
    assert "cannot run 'tolvo'" in err
    assert "failed\n" not in output
    # The error surfaces while drawing, yet the run waited for every other check.
    checks = [call for call in fake_project.calls() if call.role in LABELS]
    assert len(checks) == 4 and all(call.end is not None for call in checks)
