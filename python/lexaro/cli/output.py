"""Standard output as bytes, and one-line messages on standard error."""
from __future__ import annotations

import os
import sys


def write(data: bytes) -> None:
    sys.stdout.buffer.write(data)


def line(text: str) -> None:
    """One line of text; names that are not UTF-8 (file names) keep their own bytes."""
    sys.stdout.buffer.write(text.encode("utf-8", "surrogateescape") + b"\n")


def flush() -> None:
    sys.stdout.flush()


def message(prog: str, text: str) -> None:
    """`prog: text` on standard error, as one line."""
    text = " ".join(text.splitlines())
    try:
        sys.stderr.write(f"{prog}: {text}\n")
        sys.stderr.flush()
    except (OSError, ValueError, AttributeError):  # standard error itself is gone
        pass


def silence_stdout() -> None:
    """Points standard output at /dev/null, so that the interpreter's last flush of a closed pipe
    does not fail once more on the way out."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError, AttributeError):
        pass
