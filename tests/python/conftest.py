"""Fixtures shared by the tests: one tokenizer of each built-in encoding for a whole session, and
children run under limits; and the check of the note that names the argument a conversion failed on."""
import os
import sys

import pytest

from lexaro import Tokenizer

ENCODINGS = ["cl100k_base", "o200k_base", "o200k_harmony"]


@pytest.fixture(scope="session")
def tok():
    return {name: Tokenizer(name) for name in ENCODINGS}


@pytest.fixture(scope="session")
def cl(tok):
    return tok["cl100k_base"]


@pytest.fixture(scope="session")
def families(tok):
    """One tokenizer of each pre-tokenizer family: cl100k_base and o200k_base."""
    return {name: tok[name] for name in ("cl100k_base", "o200k_base")}


def notes(exc):
    return getattr(exc, "__notes__", None)


def assert_noted(exc, param):
    """The exception names the argument it came from (exception notes exist from Python 3.11 on)."""
    if sys.version_info >= (3, 11):
        assert notes(exc) == [f"while processing '{param}'"]


# Under AddressSanitizer (its runtime preloaded) the process reserves terabytes of address space for
# shadow memory, so no address-space limit can be set below what it already holds, and freed memory
# waits in a quarantine, so the resident size does not follow the program's own use.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


@pytest.fixture
def plain_memory():
    """Skips the test where address-space limits and resident sizes do not measure the program."""
    if UNDER_ASAN:
        pytest.skip("address-space limits cannot apply under AddressSanitizer")


@pytest.fixture
def fork_safe_allocator():
    """Skips the test under AddressSanitizer runtimes that take no lock of their allocator around fork():
    a child forked while another thread allocates can wait on that lock for ever."""
    if UNDER_ASAN:
        pytest.skip("the preloaded AddressSanitizer allocator is not fork-safe with threads running")


class ChildRun:
    """Runs Python source in a fresh interpreter (this one, with the same lexaro), optionally under an
    address-space limit, and returns the finished process (stdout, stderr, returncode). A child that
    outlives `timeout` seconds is killed and reported with returncode None. Under AddressSanitizer a
    limit that only guards the machine (`guard_only`) is left out; a test that needs it is skipped."""

    def __call__(self, script, timeout=120, address_space=None, args=(), guard_only=False):
        import subprocess
        import sys
        import textwrap

        prelude = ""
        if address_space is not None and UNDER_ASAN:
            if not guard_only:
                pytest.skip("address-space limits cannot apply under AddressSanitizer")
            address_space = None
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
