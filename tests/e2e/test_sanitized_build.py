"""The sanitizer stages of scripts/test run this suite against a sanitized
executable and set TOLVO_EXPECT_SANITIZER; a stage that silently tested an
ordinary build would prove nothing, so this checks the executable under
test carries the expected sanitizer runtimes."""

from __future__ import annotations

import os
from pathlib import Path

import pytest

EXPECTED = [name for name in os.environ.get("TOLVO_EXPECT_SANITIZER", "").split(",") if name]

# A symbol every executable built with the sanitizer references.
RUNTIME_SYMBOLS = {
    "address": b"__asan_init",
    "undefined": b"__ubsan_handle_",
    "thread": b"__tsan_init",
}


@pytest.mark.skipif(not EXPECTED, reason="TOLVO_EXPECT_SANITIZER not set")
@pytest.mark.parametrize("sanitizer", EXPECTED or ["none"])
def test_executable_under_test_is_sanitized(tolvo_bin: Path, sanitizer: str) -> None:
    assert sanitizer in RUNTIME_SYMBOLS, f"unknown sanitizer {sanitizer!r}"
    assert RUNTIME_SYMBOLS[sanitizer] in tolvo_bin.read_bytes(), f"{tolvo_bin} is not built with {sanitizer}"
