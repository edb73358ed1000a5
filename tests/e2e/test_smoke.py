from conftest import run_tolvo


def test_executable_runs(tolvo_bin):
    result = run_tolvo("--version")
    assert result.returncode in (0, 1)
