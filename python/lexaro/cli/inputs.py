"""The inputs of a command: files, the files of folders, and standard input."""
from __future__ import annotations

import fnmatch
import io
import os
import stat
import sys
from typing import BinaryIO, Callable, Iterator, Optional, Sequence

STDIN = "-"


class InputError(Exception):
    """A problem with one input: reported on one line, and the other inputs go on."""

    def __init__(self, name: str, problem: str):
        super().__init__(f"{name}: {problem}")
        self.name = name
        self.problem = problem


class Input:
    """One input of a command. A plain class: `dataclasses` would add ten milliseconds of imports to
    every run of the command line."""

    __slots__ = ("name", "size", "error", "data")

    def __init__(self, name: str, size: Optional[int] = None, error: Optional[InputError] = None,
                 data: Optional[bytes] = None):
        self.name = name  # as shown: the path as given or found, or "-" for standard input
        self.size = size  # bytes, when known beforehand (regular files)
        self.error = error  # found while listing: reported in its turn, nothing is read
        self.data = data  # the input itself, when the command line gave it


def os_problem(e: OSError) -> str:
    """The system's words for an error, without the path that the message names anyway."""
    return e.strerror or str(e)


def regular_size(path: str) -> Optional[int]:
    try:
        st = os.stat(path)
    except OSError:
        return None
    return st.st_size if stat.S_ISREG(st.st_mode) else None


def _hidden(name: str) -> bool:
    return name.startswith(".")


def _folder_files(top: str, globs: Sequence[str], hidden: bool) -> Iterator[Input]:
    """The regular files under `top`, in sorted order; hidden names skipped unless `hidden`. Only
    regular files are taken: a pipe or device inside a folder would block or never end."""
    found = False
    errors: list[OSError] = []  # folders that could not be listed, reported in their turn

    def failed() -> Iterator[Input]:
        for e in errors:
            name = e.filename or top
            yield Input(name, error=InputError(name, os_problem(e)))
        errors.clear()

    for folder, dirs, files in os.walk(top, onerror=errors.append):
        yield from failed()
        if not hidden:
            dirs[:] = [d for d in dirs if not _hidden(d)]
        dirs.sort()
        for name in sorted(files):
            if not hidden and _hidden(name):
                continue
            if globs and not any(fnmatch.fnmatchcase(name, g) for g in globs):
                continue
            path = os.path.join(folder, name)
            size = regular_size(path)
            if size is None:
                continue
            found = True
            yield Input(path, size)
    listed = not errors
    yield from failed()
    if listed and not found:
        what = "no files matching " + ", ".join(globs) if globs else "no files"
        yield Input(top, error=InputError(top, f"folder with {what}"))


def expand(paths: Sequence[str], globs: Sequence[str] = (), hidden: bool = False) -> Iterator[Input]:
    """The inputs that `paths` name, in order: "-" (or no path) is standard input, a folder stands for
    its files (recursively), anything else is read as it is (a file, a pipe, a device)."""
    if not paths:
        yield Input(STDIN)
        return
    for path in paths:
        if path == STDIN:
            yield Input(STDIN)
        elif os.path.isdir(path):
            yield from _folder_files(path, globs, hidden)
        else:
            yield Input(path, regular_size(path))


def open_input(inp: Input) -> BinaryIO:
    """The input's bytes as a stream; raises InputError."""
    if inp.error is not None:
        raise inp.error
    if inp.data is not None:
        return io.BytesIO(inp.data)
    if inp.name == STDIN:
        try:
            return open(sys.stdin.fileno(), "rb", closefd=False)
        except (AttributeError, ValueError, OSError):  # no standard input at all (fd 0 closed)
            raise InputError(shown(STDIN), "not open") from None
    try:
        if os.path.isdir(inp.name):
            raise IsADirectoryError(21, "Is a directory")
        return open(inp.name, "rb")
    except OSError as e:
        raise InputError(inp.name, os_problem(e)) from None


def reader(stream: BinaryIO, name: str) -> Callable[[memoryview], int]:
    """stream.readinto, with a failed read reported as an InputError naming the input."""

    def readinto(buffer: memoryview) -> int:
        try:
            return stream.readinto(buffer) or 0
        except OSError as e:
            raise InputError(shown(name), os_problem(e)) from None

    return readinto


def shown(name: str) -> str:
    return "standard input" if name == STDIN else name
