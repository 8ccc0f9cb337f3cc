"""Fixtures shared by the tests: one tokenizer of each built-in encoding for a whole session."""
import pytest

from lexaro import Tokenizer

ENCODINGS = ["cl100k_base", "o200k_base", "o200k_harmony"]


@pytest.fixture(scope="session")
def tok():
    return {name: Tokenizer(name) for name in ENCODINGS}


@pytest.fixture(scope="session")
def cl(tok):
    return tok["cl100k_base"]
