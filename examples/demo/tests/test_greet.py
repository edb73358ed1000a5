from demo import greet


def test_greet() -> None:
    assert greet("tolvo") == "Hello, tolvo!"
