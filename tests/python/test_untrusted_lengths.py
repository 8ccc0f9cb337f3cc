"""Lengths that the argument declares itself (len() of a range or of any object with __len__, the shape
of a zero-stride buffer) are not trusted for memory: a length whose items could never fit in memory is
MemoryError, and any other reservation grows with the items that really arrive. Every case runs in one
child under an address-space limit, since before the mend each of them ended the interpreter."""

import os

import pytest

GIB = 1 << 30

CASES = """
import numpy
from lexaro import Tokenizer

t = Tokenizer("cl100k_base")


class Declared:
    '''A sequence whose __len__ claims `n` items and whose items end after the first three.'''

    def __init__(self, n, item):
        self.n, self.item = n, item

    def __len__(self):
        return self.n

    def __getitem__(self, i):
        if i >= 3:
            raise IndexError(i)
        return self.item


def outcome(call):
    try:
        call()
        return "returned"
    except Exception as e:
        return type(e).__name__


huge = 2**60
cases = {
    "decode(range(2**40))": lambda: t.decode(range(2**40)),
    "decode_bytes(range(2**40))": lambda: t.decode_bytes(range(2**40)),
    "decode_batch(range(2**60))": lambda: t.decode_batch(range(2**60)),
    "encode_batch(range(2**60))": lambda: t.encode_batch(range(2**60)),
    "encode_batch_to_numpy(range(2**60))": lambda: t.encode_batch_to_numpy(range(2**60)),
    "count_batch(range(2**40))": lambda: t.count_batch(range(2**40)),
    "truncate_batch(range(2**61), 3)": lambda: t.truncate_batch(range(2**61), 3),
    "decode(len 2**60)": lambda: t.decode(Declared(huge, 1)),
    "decode_batch(len 2**60)": lambda: t.decode_batch(Declared(huge, [1])),
    "count_batch(len 2**60)": lambda: t.count_batch(Declared(huge, "a")),
    "decode(zero-stride 2**40)": lambda: t.decode(numpy.broadcast_to(numpy.uint32(7), (2**40,))),
    # within the machine's memory but beyond the child's limit: only the items that arrive are stored
    "decode(len 2**30)": lambda: t.decode(Declared(2**30, 1)),
    "decode_batch(len 2**28)": lambda: t.decode_batch(Declared(2**28, [1])),
    "encode_batch(len 2**28)": lambda: t.encode_batch(Declared(2**28, "a")),
    "truncate_batch(len 2**28)": lambda: t.truncate_batch(Declared(2**28, "a"), 3),
    "decode(zero-stride 2**28)": lambda: t.decode(numpy.broadcast_to(numpy.uint32(0), (2**28,))),
}
for name, call in cases.items():
    print(f"{name}: {outcome(call)}")
print("usable:", t.decode(t.encode("still usable")))
"""

EXPECTED = {
    "decode(range(2**40))": "MemoryError",
    "decode_bytes(range(2**40))": "MemoryError",
    "decode_batch(range(2**60))": "MemoryError",
    "encode_batch(range(2**60))": "MemoryError",
    "encode_batch_to_numpy(range(2**60))": "MemoryError",
    "count_batch(range(2**40))": "MemoryError",
    "truncate_batch(range(2**61), 3)": "MemoryError",
    "decode(len 2**60)": "MemoryError",
    "decode_batch(len 2**60)": "MemoryError",
    "count_batch(len 2**60)": "MemoryError",
    "decode(zero-stride 2**40)": "MemoryError",
    "decode(len 2**30)": "IndexError",
    "decode_batch(len 2**28)": "IndexError",
    "encode_batch(len 2**28)": "IndexError",
    "truncate_batch(len 2**28)": "IndexError",
    # 2**28 real items of 4 bytes fit the limit: the whole sequence is read and decoded
    "decode(zero-stride 2**28)": "returned",
}


def test_declared_lengths_are_not_trusted(child):
    out = child(CASES, timeout=300, address_space=3 * GIB, guard_only=True)
    assert out.returncode == 0, out.stderr[-2000:]
    lines = out.stdout.splitlines()
    assert dict(line.split(": ", 1) for line in lines[:-1]) == EXPECTED
    assert lines[-1] == "usable: still usable"


def test_lazy_range_beyond_memory_fails_fast(child):
    """decode(range(10**10)) needs 40 GB for its ids: on a machine with less it is MemoryError at once."""
    memory = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGESIZE")
    if memory >= 4 * 10**10:
        pytest.skip("this machine could hold the ids: the call would really read them")
    out = child("""
        from lexaro import Tokenizer
        try:
            Tokenizer("cl100k_base").decode(range(10**10))
        except MemoryError:
            print("MemoryError")
    """, timeout=60)
    assert (out.returncode, out.stdout) == (0, "MemoryError\n"), out.stderr[-2000:]
