#!/usr/bin/env python3
"""Generate the built-in data set in data/ from the published source tables.

Usage: python tools/gen_data.py [--src DIR] [--out DIR]

Reads cl100k_base.tiktoken, o200k_base.tiktoken and ucd-17.0.0-classes.txt from
--src and writes the seven binary tables into --out. Every file is built and
checked in memory first; if any check fails the tool exits with status 1 and
writes nothing.
"""

import argparse
import base64
import hashlib
import os
import struct
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
DEFAULT_SRC = REPO.parent / "shared" / "data"
DEFAULT_OUT = REPO / "data"

# Published rank tables: source file, output file, SHA-256 of the source, and
# the facts the converted table must show.
RANK_TABLES = [
    {
        "source": "cl100k_base.tiktoken",
        "output": "cl100k.vocab",
        "sha256": "223921b76ee99bde995b7ff738513eef100fb51d18c93597a113bcffe865b2a7",
        "tokens": 100256,
        "longest": 128,
        "trie_nodes": 216750,
        "size": 1245370,
    },
    {
        "source": "o200k_base.tiktoken",
        "output": "o200k.vocab",
        "sha256": "446a9538cb6c348e3516120d7c08b09f57c36495e2acfffe59a5bf8b0cfb1a2d",
        "tokens": 199998,
        "longest": 128,
        "trie_nodes": 421661,
        "size": 2597662,
    },
]

CL100K_SPECIALS = [
    ("<|endoftext|>", 100257),
    ("<|fim_prefix|>", 100258),
    ("<|fim_middle|>", 100259),
    ("<|fim_suffix|>", 100260),
    ("<|endofprompt|>", 100276),
]

O200K_SPECIALS = [
    ("<|endoftext|>", 199999),
    ("<|endofprompt|>", 200018),
]

HARMONY_NAMED = [
    ("<|startoftext|>", 199998),
    ("<|endoftext|>", 199999),
    ("<|return|>", 200002),
    ("<|constrain|>", 200003),
    ("<|channel|>", 200005),
    ("<|start|>", 200006),
    ("<|end|>", 200007),
    ("<|message|>", 200008),
    ("<|call|>", 200012),
    ("<|endofprompt|>", 200018),
]
HARMONY_RESERVED_IDS = range(200000, 201088)

# (output file, expected entry count, expected size in bytes)
SPECIAL_FILES = [
    ("cl100k.special", 5, 104),
    ("o200k.special", 2, 44),
    ("o200k_harmony.special", 1091, 27201),
]

UCD_SOURCE = "ucd-17.0.0-classes.txt"

# Class lists in file order: name, source values, code points, maximal ranges.
CLASSES = [
    ("letter", ("Lu", "Ll", "Lt", "Lm", "Lo"), 145672, 684),
    ("number", ("Nd", "Nl", "No"), 1924, 146),
    ("white space", ("White_Space",), 25, 10),
    ("upper-set", ("Lu", "Lt", "Lm", "Lo", "Mn", "Mc", "Me"), 145932, 1300),
    ("lower-set", ("Ll", "Lm", "Lo", "Mn", "Mc", "Me"), 146298, 1282),
]
UCD_VALUES = {value for _, values, _, _ in CLASSES for value in values}

# (output file, number of leading class lists, expected size in bytes)
UNICLASS_FILES = [
    ("uniclass.bin", 3, 6732),
    ("uniclass_o200k.bin", 5, 27396),
]

MAX_TOKEN_LEN = 255
MAX_SPECIAL_LEN = 64
MAX_CODE_POINT = 0x10FFFF


class DataError(Exception):
    """A source file or a generated table is not what it must be."""


def check(condition, message):
    if not condition:
        raise DataError(message)


def check_size(name, data, expected):
    check(len(data) == expected, f"{name}: {len(data)} bytes, expected {expected}")


def read_source(src, name):
    path = src / name
    try:
        return path.read_bytes()
    except OSError as err:
        raise DataError(f"cannot read {path}: {err.strerror}") from None


def check_sha256(name, data, expected):
    actual = hashlib.sha256(data).hexdigest()
    check(actual == expected,
          f"{name}: SHA-256 is {actual}, expected {expected}; refusing to convert an unknown table")


def parse_rank_table(name, data):
    """Token bytes indexed by rank; ranks must run 0, 1, 2, ... in line order."""
    tokens = []
    for line_no, line in enumerate(data.splitlines(), 1):
        if not line:
            continue
        fields = line.split()
        check(len(fields) == 2, f"{name}:{line_no}: expected 'BASE64 RANK'")
        try:
            token = base64.b64decode(fields[0], validate=True)
            rank = int(fields[1])
        except ValueError:
            raise DataError(f"{name}:{line_no}: malformed token or rank") from None
        check(rank == len(tokens), f"{name}:{line_no}: rank {rank}, expected {len(tokens)}")
        check(1 <= len(token) <= MAX_TOKEN_LEN,
              f"{name}:{line_no}: token length {len(token)} outside 1..{MAX_TOKEN_LEN}")
        tokens.append(token)
    return tokens


def trie_node_count(tokens):
    """Nodes of the byte trie over all tokens, root included.

    In sorted order, the prefixes a token shares with any earlier token are
    exactly those it shares with its predecessor, so every other prefix is new.
    """
    nodes = 1
    previous = b""
    for token in sorted(tokens):
        common = 0
        limit = min(len(token), len(previous))
        while common < limit and token[common] == previous[common]:
            common += 1
        nodes += len(token) - common
        previous = token
    return nodes


def vocab_bytes(tokens):
    parts = [struct.pack("<I", len(tokens))]
    for rank, token in enumerate(tokens):
        parts.append(struct.pack("<H", len(token)))
        parts.append(token)
        parts.append(struct.pack("<I", rank))
    return b"".join(parts)


def build_vocab(table, data):
    name = table["source"]
    tokens = parse_rank_table(name, data)
    check(len(tokens) == table["tokens"], f"{name}: {len(tokens)} tokens, expected {table['tokens']}")
    check(len(set(tokens)) == len(tokens), f"{name}: duplicate token bytes")
    check(len({t for t in tokens[:256] if len(t) == 1}) == 256,
          f"{name}: ranks 0..255 are not the 256 single bytes")
    longest = max(len(t) for t in tokens)
    check(longest == table["longest"], f"{name}: longest token {longest} bytes, expected {table['longest']}")
    nodes = trie_node_count(tokens)
    check(nodes == table["trie_nodes"], f"{name}: byte trie has {nodes} nodes, expected {table['trie_nodes']}")
    return vocab_bytes(tokens)


def harmony_specials():
    named_ids = {token_id for _, token_id in HARMONY_NAMED}
    entries = list(HARMONY_NAMED)
    for token_id in HARMONY_RESERVED_IDS:
        # 200018 keeps its reserved name as well, right after <|endofprompt|>.
        if token_id not in named_ids or token_id == 200018:
            entries.append((f"<|reserved_{token_id}|>", token_id))
    # A stable sort keeps <|endofprompt|> ahead of <|reserved_200018|>.
    entries.sort(key=lambda entry: entry[1])
    return entries


def special_bytes(name, entries):
    parts = [struct.pack("<I", len(entries))]
    for text, token_id in entries:
        encoded = text.encode("utf-8")
        check(1 <= len(encoded) <= MAX_SPECIAL_LEN, f"{name}: special token {text!r} has bad length")
        parts.append(struct.pack("<IH", token_id, len(encoded)))
        parts.append(encoded)
    return b"".join(parts)


def parse_ucd(name, data):
    """Ranges per property value, as listed in the source."""
    ranges = {value: [] for value in UCD_VALUES}
    for line_no, raw in enumerate(data.decode("ascii").splitlines(), 1):
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        fields = [f.strip() for f in line.split(";")]
        check(len(fields) == 2, f"{name}:{line_no}: expected 'CODEPOINTS ; VALUE'")
        points, value = fields
        check(value in ranges, f"{name}:{line_no}: unknown value {value!r}")
        lo_text, _, hi_text = points.partition("..")
        try:
            lo = int(lo_text, 16)
            hi = int(hi_text, 16) if hi_text else lo
        except ValueError:
            raise DataError(f"{name}:{line_no}: malformed code point range") from None
        check(lo <= hi <= MAX_CODE_POINT, f"{name}:{line_no}: bad range {points}")
        ranges[value].append((lo, hi))
    return ranges


def merged_ranges(ranges):
    """Sorted maximal ranges: overlapping or touching ranges become one."""
    merged = []
    for lo, hi in sorted(ranges):
        if merged and lo <= merged[-1][1] + 1:
            merged[-1][1] = max(merged[-1][1], hi)
        else:
            merged.append([lo, hi])
    return [tuple(r) for r in merged]


def build_class_lists(src):
    data = read_source(src, UCD_SOURCE)
    by_value = parse_ucd(UCD_SOURCE, data)
    lists = []
    for class_name, values, points_expected, ranges_expected in CLASSES:
        ranges = merged_ranges([r for value in values for r in by_value[value]])
        points = sum(hi - lo + 1 for lo, hi in ranges)
        check(points == points_expected and len(ranges) == ranges_expected,
              f"{UCD_SOURCE}: class {class_name} has {points} code points in {len(ranges)} ranges, "
              f"expected {points_expected} in {ranges_expected}")
        lists.append(ranges)
    return lists


def uniclass_bytes(lists):
    parts = []
    for ranges in lists:
        parts.append(struct.pack("<I", len(ranges)))
        parts.extend(struct.pack("<II", lo, hi) for lo, hi in ranges)
    return b"".join(parts)


def build_all(src):
    """All seven files as {file name: bytes}; raises DataError on any mismatch."""
    # Hash both rank tables before any slow work, so a wrong source fails fast.
    sources = {}
    for table in RANK_TABLES:
        sources[table["source"]] = read_source(src, table["source"])
        check_sha256(table["source"], sources[table["source"]], table["sha256"])

    files = {}
    for table in RANK_TABLES:
        files[table["output"]] = build_vocab(table, sources[table["source"]])
        check_size(table["output"], files[table["output"]], table["size"])

    harmony = harmony_specials()
    for (name, count, size), entries in zip(SPECIAL_FILES, (CL100K_SPECIALS, O200K_SPECIALS, harmony)):
        check(len(entries) == count, f"{name}: {len(entries)} entries, expected {count}")
        files[name] = special_bytes(name, entries)
        check_size(name, files[name], size)

    lists = build_class_lists(src)
    for name, list_count, size in UNICLASS_FILES:
        files[name] = uniclass_bytes(lists[:list_count])
        check_size(name, files[name], size)
    return files


def write_all(out, files):
    out.mkdir(parents=True, exist_ok=True)
    for name, data in files.items():
        # Replace each file whole, so a reader never sees a half-written table.
        tmp = out / (name + ".tmp")
        tmp.write_bytes(data)
        os.replace(tmp, out / name)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Generate the built-in data tables.")
    parser.add_argument("--src", type=Path, default=DEFAULT_SRC, help="directory of the source tables")
    parser.add_argument("--out", type=Path, default=DEFAULT_OUT, help="directory to write the tables into")
    args = parser.parse_args(argv)
    try:
        files = build_all(args.src)
    except DataError as err:
        print(f"gen_data: error: {err}; nothing written", file=sys.stderr)
        return 1
    write_all(args.out, files)
    for name, data in files.items():
        print(f"{args.out / name}: {len(data)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
