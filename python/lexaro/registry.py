"""One shared Encoding per built-in encoding and process, and the lookups that return it."""

from __future__ import annotations

import os
import threading

from ._lexaro import Tokenizer
from .encoding import Encoding
from .models import builtin_encoding_for_model, check_encoding_name

__all__ = ["encoding_for_model", "get_encoding", "load_tokenizer"]

_ENCODINGS: dict[str, Encoding] = {}
_LOCK = threading.Lock()


def _new_lock_in_child() -> None:
    # A fork taken while another thread was building an encoding would leave the child's copy of the
    # lock held forever.
    global _LOCK
    _LOCK = threading.Lock()


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_new_lock_in_child)


def get_encoding(name: str) -> Encoding:
    """The process's Encoding for a built-in encoding: built on first use, the same object afterwards.

    Raises ValueError for any other name (naming the built-in encodings).
    """
    encoding = _ENCODINGS.get(name)
    if encoding is not None:
        return encoding
    check_encoding_name(name)
    with _LOCK:
        # Another thread may have built it while this one waited.
        encoding = _ENCODINGS.get(name)
        if encoding is None:
            encoding = Encoding(Tokenizer(name))
            _ENCODINGS[name] = encoding
    return encoding


def encoding_for_model(model: str) -> Encoding:
    """The Encoding that `model` uses.

    Raises KeyError for an unknown model, and for a model whose (legacy) encoding is not included.
    """
    return get_encoding(builtin_encoding_for_model(model))


def load_tokenizer(name: str, datadir: str = "") -> Tokenizer:
    """Rebuilds a pickled Tokenizer: the process's shared one for a built-in encoding, else a new one
    read from `datadir`."""
    if datadir == "":
        return get_encoding(name).tokenizer
    return Tokenizer(name, datadir)
