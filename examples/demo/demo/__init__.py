"""A tiny example project for tolvo."""

__all__ = ["greet"]


def greet(name: str) -> str:
    """Return a friendly greeting for ``name``."""
    return f"Hello, {name}!"
