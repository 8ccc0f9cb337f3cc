"""Cutting a byte stream into blocks whose token counts add up to the count of the whole stream.

A cut at offset p is safe when, for both encoding families (cl100k and o200k), the pre-tokens of the
text end at p and no decision that ends a pre-token before p depends on a byte at or after p: then
the pre-tokens (and so the ids) of text[:p] and text[p:] are those of the text, in two parts. Each rule
below is safe in that sense. The rules are checked on bytes, for valid and invalid UTF-8 alike.

Lenient decoding first: the tokenizers read a lead byte as the start of a 2-, 3- or 4-byte character
without looking at the bytes it takes, so a lead up to three bytes before p could take the byte at
p - 1 or bytes past p (even an ASCII newline). Both rules therefore ask that byte p - 1 is ASCII and is
taken by no lead: byte p - 2 below 0xC0, p - 3 below 0xE0, p - 4 below 0xF0. Then p - 1 and p are
character boundaries however the decoder walks, and the text before p decodes the same with or without
what follows.

Rule N (after a newline): byte p - 1 is '\\n' and byte p is ASCII, not white space (0x09-0x0D, 0x20) and
not '/'.
  - A newline is never the prefix of a letter run (both families) and is in no letter, number or
    punctuation class, so the pre-token holding p - 1 is a white-space run or a punctuation run with
    its trailing newlines.
  - White-space run: byte p is not white space, so the run stops at p. Within the whole text it ends
    after its last newline, which is p - 1; within text[:p] it reaches the end and is kept whole: both
    end at p.
  - Punctuation run: its trailing bytes are '\\r' and '\\n' (cl100k) or '\\r', '\\n' and '/' (o200k), and
    byte p is none of them, so it ends at p either way.
  - Contractions ('s, 'll, ...) hold no newline, and the pre-tokens before only look at characters up
    to the first one outside their class, which is p - 1 at the latest.
Rule W (end of a word or number): byte p - 1 is an ASCII letter or digit, and byte p is ASCII and none
of: letter, digit, apostrophe, '_', '|'.
  - Letter runs (with their one-character prefix, and o200k's upper-then-lower runs) stop at the first
    character that is no letter (cl100k) or in neither the upper- nor the lower-set (o200k): byte p is
    such a character, so every letter run holding p - 1 ends at p.
  - Number runs stop at the first character that is no number, and their cut into pieces of at most
    three counts from the run's start, before p: the last piece ends at p.
  - The only thing that carries a pre-token from a letter across a non-letter is a contraction ('s,
    'll, ...), which starts with an apostrophe: excluded at p. A cl100k contraction that ends at p - 1
    or p is fixed by the bytes before p.
  - '_' and '|' are excluded because special-token strings hold them right after a letter or digit.
Neither rule looks back further than p - 4 or on further than p, and no rule ever needs text before a
pre-token's start, so the text after the cut is cut exactly as within the whole.

Special tokens (--special): a cut must not fall inside a special-token string either. No built-in
special-token string holds a newline, nor a letter or digit followed by anything but a letter, a digit,
'_' or '|' (the tests keep that true), so no special string spans a cut and the split at special
strings is the same too.

When no safe cut exists within the bytes read (one enormous word, a long run of spaces or digits, text
of a script without spaces), the block grows until one appears or the input ends: a block is never cut
anywhere else.
"""
from __future__ import annotations

import re
from typing import Callable, Iterator, Optional

BLOCK_BYTES = 1 << 18  # the size a block aims at: small enough that a batch call ends with little idle time

# Every safe cut, as a match: rule N matches the newline and the byte after it (the cut is before that
# byte), rule W the byte after the word (the cut is before it). Each match starts with a byte from a
# small set, which keeps the search fast where cuts are rare.
_AFTER_NEWLINE = rb"[\x00-\x08\x0E-\x1F\x21-\x2E\x30-\x7F]"  # ASCII, no white space, no '/'
_AFTER_WORD = rb"[\x00-\x26\x28-\x2F\x3A-\x40\x5B-\x5E\x60\x7B\x7D-\x7F]"  # ASCII, no [0-9A-Za-z'_|]
_RULE_N = rb"\n(?<![\xC0-\xFF]\n)(?<![\xE0-\xFF][\x00-\xFF]\n)(?<![\xF0-\xFF][\x00-\xFF]{2}\n)" + _AFTER_NEWLINE
_RULE_W = _AFTER_WORD + (rb"(?<=[0-9A-Za-z].)(?<![\xC0-\xFF][0-9A-Za-z].)(?<![\xE0-\xFF][\x00-\xFF][0-9A-Za-z].)"
                         rb"(?<![\xF0-\xFF][\x00-\xFF]{2}[0-9A-Za-z].)")
_SAFE_CUT = re.compile(_RULE_N + b"|" + _RULE_W, re.DOTALL)
_EACH_RULE = [re.compile(r, re.DOTALL) for r in (_RULE_N, _RULE_W)]

# Windows searched for a cut, back from the end of the bytes read: a cut is found near the end in
# ordinary text, and rare cuts are still found by one pass over the rest.
_WINDOWS = (1 << 8, 1 << 12, 1 << 16, 1 << 20)
_OVERLAP = 8  # a match spans 2 bytes and looks 4 back: consecutive windows overlap by more


def _cut_of(m: re.Match) -> int:
    return m.end() - 1 if len(m.group()) == 2 else m.start()


def find_cut(data, start: int = 0, end: Optional[int] = None) -> Optional[int]:
    """A safe cut p of data[:end] with start <= p - 1 and 0 < p < end, as late as a short search finds
    one; None when there is none."""
    end = len(data) if end is None else end
    hi = end
    for window in _WINDOWS + (end,):
        lo = max(start, end - window)
        last = None
        for m in _SAFE_CUT.finditer(data, lo, hi):
            last = m
        if last is not None:
            return _cut_of(last)
        if lo == start:
            return None
        hi = lo + _OVERLAP
    return None


def safe_cuts(data) -> list[int]:
    """Every safe cut of `data`, in order (for tests and tools; blocks use find_cut)."""
    return sorted({_cut_of(m) for rule in _EACH_RULE for m in rule.finditer(data)})


def blocks(readinto: Callable[[memoryview], int], size: int = BLOCK_BYTES) -> Iterator[bytes]:
    """The stream that `readinto(buffer)` fills, in blocks of about `size` bytes or more, each but the
    last ending at a safe cut. An empty stream gives no block.

    The stream is read into one reused buffer; each block is copied out of it as bytes, which the batch
    methods read in place (a copy made here runs beside the counting, one made there would not)."""
    buf = bytearray(size)
    filled = 0
    start = 0  # no cut lies before this offset of buf
    while True:
        if filled == len(buf):  # no cut yet: the block grows, doubling its room
            buf.extend(bytes(len(buf)))
        with memoryview(buf) as view:
            n = readinto(view[filled:])
        if not n:
            if filled:
                yield bytes(buf[:filled])
            return
        filled += n
        if filled < size:
            continue
        cut = find_cut(buf, start, filled)
        if cut is None:
            start = max(0, filled - _OVERLAP)
            continue
        with memoryview(buf) as view:
            block = bytes(view[:cut])
            rest = bytes(view[cut:filled])
        if len(buf) > 4 * size and len(rest) < size:  # done with a grown block: give its room back
            buf = bytearray(size)
        buf[:len(rest)] = rest
        filled, start = len(rest), 0
        yield block
