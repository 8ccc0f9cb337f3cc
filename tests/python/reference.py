"""Slow reference encoder for differential tests.

Pieces come from the published pre-tokenization patterns, run by the `regex`
package over explicit character classes built from the committed class tables
(data/uniclass*.bin), so that the reference and the tokenizer agree on the
Unicode version. Each piece is then encoded by classic byte-pair merging: merge
the adjacent pair whose concatenation has the lowest rank, leftmost first among
equal ranks, until no adjacent pair is a token.

Byte strings that are not valid UTF-8 are read the way the tokenizer reads
them: a lead byte with enough bytes after it takes them whatever they are
(overlong forms and surrogates decode as they stand, values up to 0x1FFFFF), any
other byte is the character of its own value. Such characters are handed to the
pattern as stand-ins of the same classes (see `Encoding._symbol`).

Public API (encoding is "cl100k_base", "o200k_base" or "o200k_harmony"):
    ref_pieces(encoding, text) -> list[str]
    ref_pieces_bytes(encoding, data) -> list[bytes]
    ref_encode_ordinary(encoding, text) -> list[int]
    ref_encode_bytes(encoding, data) -> list[int]
    ref_encode_with_special(encoding, text) -> list[int]
    ref_decode(encoding, ids) -> bytes
    load(encoding) -> the loaded tables (ranks, token_bytes, specials, classes)
"""

from __future__ import annotations

import bisect
import functools
import heapq
import struct
from pathlib import Path
from typing import Dict, Iterable, List, Optional, Sequence, Tuple

import regex

DATA_DIR = Path(__file__).resolve().parents[2] / "data"

# encoding name -> (family, vocab file, special-tokens file, class file)
ENCODINGS = {
    "cl100k_base": ("cl100k", "cl100k.vocab", "cl100k.special", "uniclass.bin"),
    "o200k_base": ("o200k", "o200k.vocab", "o200k.special", "uniclass_o200k.bin"),
    "o200k_harmony": ("o200k", "o200k.vocab", "o200k_harmony.special", "uniclass_o200k.bin"),
}

LETTER, NUMBER, SPACE, UPPER, LOWER = range(5)

# Private-use code points reserved as pattern symbols. The real characters
# U+E000..U+E0FF belong to no class and play no special role, so every one of
# them is handed to the pattern as NO_CLASS.
NO_CLASS = "\ue000"  # in no class: a code point above U+10FFFF, a surrogate, ...
CL_NEWLINE_SPACE = "\ue001"  # cl100k: multi-byte white space whose last byte is 0x0A/0x0D
O_NEWLINE_OVERLONG = "\ue002"  # o200k: U+000A/U+000D written with two to four bytes
_RESERVED = range(0xE000, 0xE100)

# Stand-ins for overlong forms of ASCII characters: same classes, but not one of
# the ASCII characters the patterns name (quote, s, t, CR, LF, space, slash...).
_ASCII_STAND_INS = {"upper": "\u00c0", "lower": "\u00e0", "digit": "\u0660", "space": "\u2000"}


# ---------------------------------------------------------------- data files


def read_vocab(path: Path) -> List[bytes]:
    """Token bytes indexed by rank."""
    data = path.read_bytes()
    (count,) = struct.unpack_from("<I", data, 0)
    tokens: List[Optional[bytes]] = [None] * count
    pos = 4
    for _ in range(count):
        (length,) = struct.unpack_from("<H", data, pos)
        token = data[pos + 2 : pos + 2 + length]
        (rank,) = struct.unpack_from("<I", data, pos + 2 + length)
        assert tokens[rank] is None, f"duplicate rank {rank} in {path}"
        tokens[rank] = token
        pos += 2 + length + 4
    assert pos == len(data), f"trailing bytes in {path}"
    return tokens  # type: ignore[return-value]


def read_specials(path: Path) -> List[Tuple[bytes, int]]:
    """(text bytes, id) in file order."""
    data = path.read_bytes()
    (count,) = struct.unpack_from("<I", data, 0)
    specials = []
    pos = 4
    for _ in range(count):
        token_id, length = struct.unpack_from("<IH", data, pos)
        specials.append((data[pos + 6 : pos + 6 + length], token_id))
        pos += 6 + length
    return specials


def read_class_lists(path: Path, count: int) -> List[List[Tuple[int, int]]]:
    data = path.read_bytes()
    lists = []
    pos = 0
    for _ in range(count):
        (n,) = struct.unpack_from("<I", data, pos)
        pos += 4
        ranges = [struct.unpack_from("<II", data, pos + 8 * i) for i in range(n)]
        pos += 8 * n
        lists.append(ranges)
    return lists


class ClassList:
    """One character class as sorted, disjoint inclusive ranges."""

    def __init__(self, ranges: Sequence[Tuple[int, int]]):
        self.ranges = sorted(ranges)
        for (_, hi), (lo, _) in zip(self.ranges, self.ranges[1:]):
            assert hi < lo, "class ranges overlap"
        self._los = [lo for lo, _ in self.ranges]

    def __contains__(self, cp: int) -> bool:
        i = bisect.bisect_right(self._los, cp) - 1
        return i >= 0 and cp <= self.ranges[i][1]

    def pattern_items(self) -> str:
        """The ranges as items of a `regex` character class."""
        out = []
        for lo, hi in self.ranges:
            out.append(f"\\U{lo:08X}" if lo == hi else f"\\U{lo:08X}-\\U{hi:08X}")
        return "".join(out)


# ---------------------------------------------------------------- lenient decoding


def decode_char(data: bytes, i: int) -> Tuple[int, int]:
    """(code point, length) of the character at byte i, read leniently up to len(data)."""
    b = data[i]
    end = len(data)
    if b < 0x80:
        return b, 1
    if b & 0xE0 == 0xC0 and i + 1 < end:
        return (b & 0x1F) << 6 | (data[i + 1] & 0x3F), 2
    if b & 0xF0 == 0xE0 and i + 2 < end:
        return (b & 0x0F) << 12 | (data[i + 1] & 0x3F) << 6 | (data[i + 2] & 0x3F), 3
    if b & 0xF8 == 0xF0 and i + 3 < end:
        cp = (b & 0x07) << 18 | (data[i + 1] & 0x3F) << 12 | (data[i + 2] & 0x3F) << 6 | (data[i + 3] & 0x3F)
        return cp, 4
    return b, 1


def _utf8_length(ch: str) -> int:
    cp = ord(ch)
    return 1 if cp < 0x80 else 2 if cp < 0x800 else 3 if cp < 0x10000 else 4


_RESERVED_TO_NO_CLASS = {cp: NO_CLASS for cp in _RESERVED}


# ---------------------------------------------------------------- patterns


def _cl100k_pattern(letter: str, number: str, space: str) -> str:
    L, N, S = letter, number, space
    contraction = "(?:[sdmtSDMT]|[lL][lL]|[vV][eE]|[rR][eE])"
    return "|".join(
        [
            "'" + contraction,
            rf"[^\r\n{L}{N}]?+[{L}]++",
            rf"[{N}]{{1,3}}+",
            rf" ?[^{S}{L}{N}]++[\r\n]*+",
            rf"[{S}]++\Z",
            rf"[{S}]*[\r\n{CL_NEWLINE_SPACE}]",
            rf"[{S}]+(?![^{S}])",
            rf"[{S}]",
        ]
    )


def _o200k_pattern(letter: str, number: str, space: str, upper: str, lower: str) -> str:
    L, N, S, U, W = letter, number, space, upper, lower
    prefix = rf"[^\r\n{O_NEWLINE_OVERLONG}{L}{N}]?"
    contraction = "(?:'[sStTdDmM]|'[rR][eE]|'[vV][eE]|'[lL][lL])?"
    return "|".join(
        [
            rf"{prefix}[{U}]*[{W}]+{contraction}",
            rf"{prefix}[{U}]+[{W}]*{contraction}",
            rf"[{N}]{{1,3}}",
            rf" ?[^{S}{L}{N}]+[\r\n/]*",
            rf"[{S}]*[\r\n{O_NEWLINE_OVERLONG}]+",
            rf"[{S}]+(?![^{S}])",
            rf"[{S}]+",
        ]
    )


# ---------------------------------------------------------------- encodings


class FamilyTables:
    """What the encodings of one family share: rank table, classes, pattern."""

    def __init__(self, family: str, vocab_file: str, class_file: str, data_dir: Path = DATA_DIR):
        self.family = family
        self.token_bytes = read_vocab(data_dir / vocab_file)
        self.ranks: Dict[bytes, int] = {t: r for r, t in enumerate(self.token_bytes)}
        lists = read_class_lists(data_dir / class_file, 3 if family == "cl100k" else 5)
        self.classes = [ClassList(r) for r in lists]
        self._check_stand_ins()
        self.pattern = self._compile()
        self._merged: Dict[bytes, Tuple[int, ...]] = {}

    # --- classes

    def class_set(self, cp: int) -> frozenset:
        return frozenset(k for k, c in enumerate(self.classes) if cp in c)

    def symbol_class_set(self, symbol: str) -> frozenset:
        """Classes of a pattern symbol: the reserved newline symbols are white space."""
        if symbol in (CL_NEWLINE_SPACE, O_NEWLINE_OVERLONG):
            return frozenset([SPACE])
        return self.class_set(ord(symbol))

    def _check_stand_ins(self) -> None:
        """The symbols substituted for characters must carry those characters' classes."""
        for cp in list(_RESERVED) + [0xD800, 0xDFFF]:
            assert not self.class_set(cp), f"U+{cp:04X} is in a class; it cannot stand for no class"
        for cp in range(0x80):
            stand_in = self._overlong_stand_in(cp)
            assert self.symbol_class_set(stand_in) == self.class_set(cp), f"stand-in for U+{cp:04X}"

    def _overlong_stand_in(self, cp: int) -> str:
        ch = chr(cp)
        if "A" <= ch <= "Z":
            return _ASCII_STAND_INS["upper"]
        if "a" <= ch <= "z":
            return _ASCII_STAND_INS["lower"]
        if "0" <= ch <= "9":
            return _ASCII_STAND_INS["digit"]
        if cp in self.classes[SPACE]:
            if self.family == "o200k" and cp in (0x0A, 0x0D):
                return O_NEWLINE_OVERLONG
            return _ASCII_STAND_INS["space"]
        return NO_CLASS

    def _symbol(self, data: bytes, i: int, length: int, cp: int) -> str:
        """The character the pattern sees for the character (cp, length) at byte i.

        Single bytes are themselves (a stray byte 0x80..0xFF is the code point of
        its value). Longer forms keep their code point unless the tokenizer's
        rules look at bytes where the pattern would look at characters:
        - an overlong form of an ASCII character is not that ASCII character
          for the quote, letter, space, CR/LF and '/' tests, which read bytes;
          it gets a non-ASCII stand-in of the same classes. o200k tests CR/LF by
          code point in two places (prefix, white-space newline), so its
          overlong CR/LF get their own symbol;
        - cl100k ends a white-space piece after its last newline byte, and a
          multi-byte white-space character can end in byte 0x0A/0x0D (C0 0A,
          E2 80 0A = U+200A): such a character gets its own symbol.
        """
        if length == 1:
            return chr(cp)
        if cp > 0x10FFFF or 0xD800 <= cp <= 0xDFFF or cp in _RESERVED:
            return NO_CLASS  # in no class (checked at load; nothing is above U+10FFFF)
        if (
            self.family == "cl100k"
            and data[i + length - 1] in (0x0A, 0x0D)
            and cp in self.classes[SPACE]
        ):
            # Only the last byte of a white-space character can be 0x0A/0x0D
            # (lead bytes are >= 0xC0, and no white-space code point has those
            # low six bits in an inner position), so the piece ends with it.
            return CL_NEWLINE_SPACE
        if cp < 0x80:
            return self._overlong_stand_in(cp)
        return chr(cp)

    def symbols(self, data: bytes, start: int) -> Tuple[str, List[int]]:
        """The pattern's view of data[start:], and the byte offset of each symbol
        (with len(data) appended)."""
        try:
            text = data[start:].decode("utf-8")
        except UnicodeDecodeError:
            return self._symbols_lenient(data, start)
        offsets = [start]
        pos = start
        for ch in text:
            pos += _utf8_length(ch)
            offsets.append(pos)
        return text.translate(_RESERVED_TO_NO_CLASS), offsets

    def _symbols_lenient(self, data: bytes, start: int) -> Tuple[str, List[int]]:
        chars = []
        offsets = []
        i = start
        while i < len(data):
            cp, length = decode_char(data, i)
            chars.append(self._symbol(data, i, length, cp))
            offsets.append(i)
            i += length
        offsets.append(len(data))
        return "".join(chars), offsets

    def _compile(self):
        items = [c.pattern_items() for c in self.classes]
        if self.family == "cl100k":
            letter, number, space = items
            return regex.compile(_cl100k_pattern(letter, number, space + CL_NEWLINE_SPACE))
        letter, number, space, upper, lower = items
        return regex.compile(_o200k_pattern(letter, number, space + O_NEWLINE_OVERLONG, upper, lower))

    # --- cutting and merging

    def cut(self, data: bytes) -> List[Tuple[int, int]]:
        """Byte ranges of the pieces of data."""
        spans = []
        pos = 0
        while pos < len(data):
            text, offsets = self.symbols(data, pos)
            i = 0
            pos = len(data)
            while i < len(text):
                m = self.pattern.match(text, i)
                assert m is not None and m.end() > i, f"pattern matched nothing at {offsets[i]}"
                j = m.end()
                if text[j - 1] == O_NEWLINE_OVERLONG:
                    # o200k ends a white-space piece one byte after the start of its
                    # last CR/LF character: inside an overlong form. Decoding starts
                    # again at that byte.
                    pos = offsets[j - 1] + 1
                    spans.append((offsets[i], pos))
                    break
                spans.append((offsets[i], offsets[j]))
                i = j
        return spans

    def merge(self, piece: bytes) -> Tuple[int, ...]:
        ids = self._merged.get(piece)
        if ids is None:
            ids = tuple(byte_pair_merge(self.ranks, piece))
            self._merged[piece] = ids
        return ids

    def encode_bytes(self, data: bytes) -> List[int]:
        out: List[int] = []
        for start, stop in self.cut(data):
            out.extend(self.merge(data[start:stop]))
        return out


class Encoding:
    def __init__(self, name: str, family: FamilyTables, specials: List[Tuple[bytes, int]]):
        self.name = name
        self.tables = family
        self.specials = specials

    def __getattr__(self, attr):
        return getattr(self.tables, attr)

    def encode_with_special(self, data: bytes) -> List[int]:
        if not self.specials:
            return self.encode_bytes(data)
        out: List[int] = []
        pos = 0
        while pos < len(data):
            best: Optional[Tuple[int, bytes, int]] = None
            for text, token_id in self.specials:
                at = data.find(text, pos)
                if at >= 0 and (best is None or at < best[0]):
                    best = (at, text, token_id)
            if best is None:
                out.extend(self.encode_bytes(data[pos:]))
                break
            at, text, token_id = best
            out.extend(self.encode_bytes(data[pos:at]))
            out.append(token_id)
            pos = at + len(text)
        return out


def byte_pair_merge(ranks: Dict[bytes, int], piece: bytes) -> List[int]:
    """Classic merging: repeatedly join the adjacent pair whose concatenation has
    the lowest rank (leftmost among equals) until no adjacent pair is a token.

    Parts are kept as a linked list of start offsets; candidate pairs wait in a
    heap ordered by (rank, start) and are dropped when a neighbour has changed.
    """
    n = len(piece)
    if n <= 1:
        return [ranks[piece]] if n else []
    end = list(range(1, n + 1))  # end[s]: end of the part starting at s
    prev = list(range(-1, n - 1))  # prev[s]: start of the part before it
    alive = [True] * n
    heap = []
    for s in range(n - 1):
        r = ranks.get(piece[s : s + 2])
        if r is not None:
            heap.append((r, s, s + 1, s + 2))
    heapq.heapify(heap)
    while heap:
        _, a, b, e = heapq.heappop(heap)
        if not (alive[a] and alive[b] and end[a] == b and end[b] == e):
            continue  # stale: a neighbour was merged since this pair was queued
        alive[b] = False
        end[a] = e
        if e < n:
            prev[e] = a
        p = prev[a]
        if p >= 0:
            r = ranks.get(piece[p:e])
            if r is not None:
                heapq.heappush(heap, (r, p, a, e))
        if e < n:
            r = ranks.get(piece[a : end[e]])
            if r is not None:
                heapq.heappush(heap, (r, a, e, end[e]))
    out = []
    s = 0
    while s < n:
        out.append(ranks[piece[s : end[s]]])
        s = end[s]
    return out


# ---------------------------------------------------------------- API


@functools.lru_cache(maxsize=None)
def _load_family(family: str, vocab_file: str, class_file: str) -> FamilyTables:
    return FamilyTables(family, vocab_file, class_file)


@functools.lru_cache(maxsize=None)
def load(encoding: str) -> Encoding:
    """Tables of an encoding, loaded on first use; the two o200k encodings share
    their rank table, classes, pattern and merge memo."""
    family, vocab_file, special_file, class_file = ENCODINGS[encoding]
    specials = read_specials(DATA_DIR / special_file)
    return Encoding(encoding, _load_family(family, vocab_file, class_file), specials)


def ref_pieces_bytes(encoding: str, data: bytes) -> List[bytes]:
    return [data[a:b] for a, b in load(encoding).cut(bytes(data))]


def ref_pieces(encoding: str, text: str) -> List[str]:
    return [p.decode("utf-8") for p in ref_pieces_bytes(encoding, text.encode("utf-8"))]


def ref_encode_bytes(encoding: str, data: bytes) -> List[int]:
    return load(encoding).encode_bytes(bytes(data))


def ref_encode_ordinary(encoding: str, text: str) -> List[int]:
    return ref_encode_bytes(encoding, text.encode("utf-8"))


def ref_encode_with_special(encoding: str, text: str) -> List[int]:
    """Every special-token string in text stands for its id: at each step the
    leftmost occurrence wins, the earlier list entry among equal starts; the
    stretches between them are encoded ordinarily, each on its own."""
    return load(encoding).encode_with_special(text.encode("utf-8"))


def ref_decode(encoding: str, ids: Iterable[int]) -> bytes:
    enc = load(encoding)
    special_bytes = {token_id: text for text, token_id in reversed(enc.specials)}
    out = bytearray()
    for i in ids:
        if 0 <= i < len(enc.token_bytes):
            out += enc.token_bytes[i]
        elif i in special_bytes:
            out += special_bytes[i]
    return bytes(out)
