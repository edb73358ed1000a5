"""The command line of the executable: help and version. Usage errors and a
bad -C are rows of test_bad_input.py."""

from __future__ import annotations

import subprocess

import pytest

from conftest import run_tolvo

COMMANDS = ["requirements", "test", "build", "clean", "lint", "status", "config-diff", "init"]


def test_top_level_help(tolvo_bin):
    result = run_tolvo("--help")
    assert result.returncode == 0
    assert result.stderr == ""
    assert result.stdout.startswith(
        "usage: tolvo [-h] [--version] [-C DIRECTORY] [--refresh {always,when-needed}]\n"
        "             [--installer {pip,uv}]\n"
        "             {requirements,test,build,clean,lint,status,config-diff,init} ...\n\n"
        "A native command-line tool that replaces the Makefile of a Python project.\n\npositional arguments:\n")
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
    assert "cannot change to directory" not in result.stderr
    assert result.returncode != 2


@pytest.mark.parametrize("args", [("--version",), ("--help",), ("config-diff",)])
def test_output_that_cannot_be_written_is_a_failure(tolvo_bin, tmp_path, args):
    (tmp_path / "pyproject.toml").write_text('[project]\nname = "p"\n')
    with open("/dev/full", "w") as full:
        result = subprocess.run([str(tolvo_bin), *args], cwd=tmp_path, stdout=full, stderr=subprocess.PIPE,
                                text=True, timeout=60)
    assert result.returncode == 1
    assert result.stderr.endswith("tolvo: error: cannot write to standard output\n")
