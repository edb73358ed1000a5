"""The command line of the executable: help, version, usage errors and the
directory change."""

from __future__ import annotations

from pathlib import Path

import pytest

from conftest import run_tolvo

COMMANDS = ["requirements", "test", "build", "clean", "lint", "status", "config-diff", "init"]


def test_top_level_help(tolvo_bin):
    result = run_tolvo("--help")
    assert result.returncode == 0
    assert result.stderr == ""
    assert result.stdout.startswith(
        "usage: tolvo [-h] [--version] [-C DIRECTORY] [--refresh {always,when-needed}]\n"
        "             {requirements,test,build,clean,lint,status,config-diff,init} ...\n\n"
        "A Python module to replace Makefile workflows.\n\npositional arguments:\n")
    assert "\noptions:\n  -h, --help            show this help message and exit\n" in result.stdout
    assert "  -C DIRECTORY, --directory DIRECTORY\n" in result.stdout
    assert all(len(line) <= 80 for line in result.stdout.splitlines())


@pytest.mark.parametrize("command", COMMANDS)
@pytest.mark.parametrize("flag", ["-h", "--help"])
def test_command_help(tolvo_bin, command, flag):
    result = run_tolvo(command, flag)
    assert result.returncode == 0
    assert result.stdout.startswith(f"usage: tolvo {command} [-h]")
    assert "options:\n  -h, --help" in result.stdout
    assert all(len(line) <= 80 for line in result.stdout.splitlines())
    assert result.stderr == ""


def test_version_without_command(tolvo_bin):
    result = run_tolvo("--version")
    assert (result.returncode, result.stdout, result.stderr) == (0, "tolvo dev\n", "")


@pytest.mark.parametrize(
    ("args", "error_line"),
    [
        ((), "tolvo: error: the following arguments are required: command"),
        (("deploy",), "tolvo: error: argument command: invalid choice: 'deploy' (choose from 'requirements', "
                      "'test', 'build', 'clean', 'lint', 'status', 'config-diff', 'init')"),
        (("status", "-C", "x"), "tolvo status: error: unrecognized arguments: -C x"),
        (("test", "--libc", "bionic"),
         "tolvo test: error: argument --libc: invalid choice: 'bionic' (choose from 'glibc', 'musl')"),
        (("test", "one", "two"), "tolvo test: error: unrecognized arguments: two"),
        (("build", "--s"), "tolvo build: error: ambiguous option: --s could match --sdist, --setup"),
        (("-C",), "tolvo: error: argument -C/--directory: expected one argument"),
    ],
)
def test_usage_errors(tolvo_bin, args, error_line):
    result = run_tolvo(*args)
    assert result.returncode == 2
    assert result.stdout == ""
    assert result.stderr.startswith("usage: tolvo")
    assert result.stderr.rstrip("\n").splitlines()[-1] == error_line


def test_missing_directory_stops_before_the_handler(tolvo_bin, tmp_path: Path):
    missing = tmp_path / "nowhere"
    result = run_tolvo("-C", str(missing), "clean", cwd=tmp_path)
    assert result.returncode == 1
    assert result.stderr == f"tolvo: error: cannot change to directory '{missing}': No such file or directory\n"
    assert result.stdout == ""


def test_directory_that_is_a_file(tolvo_bin, tmp_path: Path):
    (tmp_path / "plain").write_text("x")
    result = run_tolvo("--directory=plain", "status", cwd=tmp_path)
    assert result.returncode == 1
    assert result.stderr == "tolvo: error: cannot change to directory 'plain': Not a directory\n"


def test_directory_change_reaches_the_handler(tolvo_bin, tmp_path: Path):
    (tmp_path / "sub").mkdir()
    # Whatever the handler does, the failure is no longer about the directory.
    result = run_tolvo("-C", "sub", "status", cwd=tmp_path)
    assert "cannot change to directory" not in result.stderr
    assert result.returncode != 2
