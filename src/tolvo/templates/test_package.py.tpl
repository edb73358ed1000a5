import importlib


def test_package_imports() -> None:
    module = importlib.import_module("{module}")
    assert module.__name__ == "{module}"
