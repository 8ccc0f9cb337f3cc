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


class ChildRun:
    """Runs Python source in a fresh interpreter (this one, with the same lexaro), optionally under an
    address-space limit, and returns the finished process (stdout, stderr, returncode). A child that
    outlives `timeout` seconds is killed and reported with returncode None."""

    def __call__(self, script, timeout=120, address_space=None, args=()):
        import subprocess
        import sys
        import textwrap

        prelude = ""
        if address_space is not None:
            prelude = ("import resource\n"
                       f"resource.setrlimit(resource.RLIMIT_AS, ({address_space}, resource.RLIM_INFINITY))\n")
        try:
            return subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(script), *args],
                                  capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired as e:
            text = [x.decode(errors="replace") if isinstance(x, bytes) else (x or "") for x in (e.stdout, e.stderr)]
            return subprocess.CompletedProcess(e.cmd, None, *text)


@pytest.fixture(scope="session")
def child():
    return ChildRun()
