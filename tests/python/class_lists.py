"""The class-table files of data/ as lists: per class, a little-endian u32 count and that many (first, last)
code point pairs of u32. Shared by the data-file tests, the hostile-datadir tests and the fuzz tools."""

import struct


def parse_class_lists(data: bytes, count: int) -> list[list[tuple[int, int]]]:
    lists, pos = [], 0
    for _ in range(count):
        (n,) = struct.unpack_from("<I", data, pos)
        lists.append(list(struct.iter_unpack("<II", data[pos + 4:pos + 4 + 8 * n])))
        pos += 4 + 8 * n
    return lists


def pack_class_lists(lists: list[list[tuple[int, int]]]) -> bytes:
    return b"".join(struct.pack("<I", len(pairs)) + b"".join(struct.pack("<II", *r) for r in pairs) for pairs in lists)
