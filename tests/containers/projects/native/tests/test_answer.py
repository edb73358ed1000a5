import platform

import pytest

from nativepkg._answer import answer


def test_answer_from_the_setup_header():
    assert answer() == 4217


# The machine is in the test's name, for whoever runs the wheel test to read.
@pytest.mark.parametrize("machine", [platform.machine()])
def test_runs_on(machine):
    assert machine
