"""The flat result of Tokenizer.encode_batch (little-endian uint32 ids, int64 offsets) as lists."""

from __future__ import annotations

import sys
from array import array
from itertools import pairwise

__all__ = ["split_flat"]

# 'I' is 4 bytes wherever CPython runs, 'L' where it is not.
_U32 = next(code for code in "IL" if array(code).itemsize == 4)
_BIG_ENDIAN = sys.byteorder == "big"


def _array(code: str, data: bytes) -> array[int]:
    values = array(code, data)
    if _BIG_ENDIAN:
        values.byteswap()
    return values


def split_flat(ids: bytes, offsets: bytes) -> list[list[int]]:
    """One list of ids per text: text i holds ids[offsets[i]:offsets[i + 1]]."""
    # Slicing the array and listing each slice makes each id's int once, with no list of all ids between
    # (the fewest instructions of the ways tried; see bench/README.md).
    flat = _array(_U32, ids)
    return [flat[start:stop].tolist() for start, stop in pairwise(_array("q", offsets).tolist())]
