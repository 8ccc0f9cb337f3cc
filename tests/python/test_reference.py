"""Self-test of the slow reference encoder that the differential tests trust."""

from __future__ import annotations

import random
from pathlib import Path

import pytest
import regex
from hypothesis import HealthCheck, given, settings

import reference as ref
import strategies

CORPUS = sorted((Path(__file__).parent / "corpus").glob("*.txt"))
ORDINARY = ["cl100k_base", "o200k_base"]
FAST = settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])


def corpus_text(path: Path) -> str:
    return path.read_bytes().decode("utf-8")  # bytes: keep CR LF as written


# ------------------------------------------------------------ pieces of the documented examples


CL100K_PIECES = [
    ("Hello world, it's 2024!\n", ["Hello", " world", ",", " it", "'s", " ", "202", "4", "!\n"]),
    ("'s", ["'s"]),
    ("'Ll", ["'Ll"]),  # both letters of a three-byte contraction fold
    ("'xy", ["'xy"]),
    ("a'", ["a", "'"]),
    (" word", [" word"]),
    ("  word", [" ", " word"]),
    ("12345", ["123", "45"]),
    (" 12", [" ", "12"]),
    ("!!\n\nword", ["!!\n\n", "word"]),
    ("\t!", ["\t", "!"]),  # only the ASCII space joins a punctuation run
    ("   \n  word", ["   \n", " ", " word"]),
    ("word \n ", ["word", " \n "]),  # white space at the end is one piece
    ("a\r\nb", ["a", "\r\n", "b"]),
    ("日本語の文", ["日本語の文"]),
    ("e\u0301x", ["e", "\u0301x"]),  # a mark is no letter: it prefixes the next run
    ("e\u0301 ", ["e", "\u0301", " "]),
    ("²³⁴5", ["²³⁴", "5"]),
    ("it'ſx", ["it", "'ſx"]),  # only ASCII letters fold: no contraction
    ("x \x1cy", ["x", " \x1c", "y"]),  # U+001C..U+001F are not white space
    ("", []),
]

O200K_PIECES = [
    ("Hello world, it's 2024!\n", ["Hello", " world", ",", " it's", " ", "202", "4", "!\n"]),
    ("don't", ["don't"]),
    ("we'LL", ["we'LL"]),
    ("we\u2019ll", ["we", "\u2019ll"]),
    (" Hello", [" Hello"]),
    ("\tworld", ["\tworld"]),
    ("\nword", ["\n", "word"]),
    ("HELLOworld", ["HELLOworld"]),
    ("HELLO", ["HELLO"]),
    (" \u0301 ", [" \u0301", " "]),
    ("1234567", ["123", "456", "7"]),
    ("...\n\n", ["...\n\n"]),
    (" ?!", [" ?!"]),
    ("a  b", ["a", " ", " b"]),
    ("a \n b", ["a", " \n", " b"]),
    ("a   ", ["a", "   "]),
    ("a/\n/b", ["a", "/\n/", "b"]),
    ("\u01c5ungla", ["\u01c5ungla"]),  # title case leads an upper run
    ("abcDEF", ["abc", "DEF"]),
    ("it'ſ", ["it", "'ſ"]),  # only ASCII letters fold
    ("x'S'D", ["x'S", "'D"]),
    ("", []),
]


@pytest.mark.parametrize("text,pieces", CL100K_PIECES)
def test_cl100k_pieces(text, pieces):
    assert ref.ref_pieces("cl100k_base", text) == pieces


@pytest.mark.parametrize("text,pieces", O200K_PIECES)
def test_o200k_pieces(text, pieces):
    assert ref.ref_pieces("o200k_base", text) == pieces
    assert ref.ref_pieces("o200k_harmony", text) == pieces


# Invalid UTF-8: decoded leniently, classified by the decoded value, but quote,
# space and newline tests read bytes (and o200k's CR/LF tests code points).
BYTE_PIECES = [
    ("o200k_base", b"x\x85\x85y", [b"x", b"\x85", b"\x85y"]),  # lone 0x85 is U+0085, white space
    ("o200k_base", b"A\xff", [b"A\xff"]),  # lone 0xFF is U+00FF, lower-set
    ("cl100k_base", b"\xaaabc", [b"\xaaabc"]),  # lone 0xAA is U+00AA, a letter
    ("cl100k_base", b"ab\xe4\xb8", [b"ab\xe4", b"\xb8"]),  # lead cut off by the end
    ("cl100k_base", b"a\xed\xa0\x80b", [b"a", b"\xed\xa0\x80b"]),  # surrogate: no class
    ("o200k_base", b"\xf4\x90\x80\x80!x", [b"\xf4\x90\x80\x80!", b"x"]),  # above U+10FFFF: no class
    ("cl100k_base", b"\xc3'sx", [b"\xc3'sx"]),  # the lead swallows the quote: U+00E7 letter
    ("o200k_base", b"it\xc0\xa7s", [b"it", b"\xc0\xa7s"]),  # overlong quote: no contraction
    ("o200k_base", b"!\xc0\x8ax", [b"!", b"\xc0", b"\x8ax"]),  # an overlong LF does not trail punctuation
    ("o200k_base", b"a \xc0\x8a b", [b"a", b" \xc0", b"\x8a", b" b"]),  # cut one byte into an overlong LF
    ("o200k_base", b"\xc0\x8aword", [b"\xc0", b"\x8aword"]),  # an overlong LF is no prefix
    ("cl100k_base", b"\xc0\x8aword", [b"\xc0\x8aword"]),  # no newline byte: a prefix like a space
    ("cl100k_base", b"  \xe2\x80\x0ab", [b"  \xe2\x80\x0a", b"b"]),  # U+200A ending in byte 0x0A
    ("cl100k_base", b"  \xc0\x8ab", [b"  ", b"\xc0\x8ab"]),
]


@pytest.mark.parametrize("encoding,data,pieces", BYTE_PIECES)
def test_pieces_of_invalid_utf8(encoding, data, pieces):
    assert ref.ref_pieces_bytes(encoding, data) == pieces


# ------------------------------------------------------------ merging


def naive_merge(ranks, piece: bytes):
    parts = [piece[i : i + 1] for i in range(len(piece))]
    while True:
        best = None
        for i in range(len(parts) - 1):
            r = ranks.get(parts[i] + parts[i + 1])
            if r is not None and (best is None or r < best[0]):
                best = (r, i)
        if best is None:
            return [ranks[p] for p in parts]
        i = best[1]
        parts[i : i + 2] = [parts[i] + parts[i + 1]]


@pytest.mark.parametrize("encoding", ORDINARY)
def test_every_token_merges_to_itself(encoding):
    enc = ref.load(encoding)
    for rank in range(0, len(enc.token_bytes), 7):
        assert ref.byte_pair_merge(enc.ranks, enc.token_bytes[rank]) == [rank]


@pytest.mark.parametrize("encoding", ORDINARY)
def test_heap_merge_equals_plain_lowest_rank_loop(encoding):
    enc = ref.load(encoding)
    rng = random.Random(1234)
    text = corpus_text(CORPUS[0]).encode("utf-8")
    samples = [enc.token_bytes[rng.randrange(len(enc.token_bytes))] * 3 for _ in range(200)]
    samples += [text[i : i + rng.randrange(1, 40)] for i in rng.sample(range(len(text) - 40), 300)]
    samples += [b"a" * n for n in range(1, 40)] + [b" " * 70, b"\n" * 33, bytes(range(256))]
    for piece in samples:
        assert ref.byte_pair_merge(enc.ranks, piece) == naive_merge(enc.ranks, piece), piece


def test_example_ids():
    # Each piece of the worked example is a single token of either table.
    for encoding in ORDINARY:
        enc = ref.load(encoding)
        text = "Hello world, it's 2024!\n"
        expected = [enc.ranks[p.encode()] for p in ref.ref_pieces(encoding, text)]
        assert ref.ref_encode_ordinary(encoding, text) == expected


# ------------------------------------------------------------ round trips


@pytest.mark.parametrize("encoding", ORDINARY)
@pytest.mark.parametrize("path", CORPUS, ids=lambda p: p.name)
def test_corpus_round_trip(encoding, path):
    data = path.read_bytes()
    pieces = ref.ref_pieces_bytes(encoding, data)
    assert b"".join(pieces) == data and all(pieces)
    for piece in pieces:
        assert ref.ref_decode(encoding, ref.load(encoding).merge(piece)) == piece


@FAST
@given(strategies.mixed_bytes())
def test_any_bytes_cut_and_merge_back(data):
    for encoding in ORDINARY:
        pieces = ref.ref_pieces_bytes(encoding, data)
        assert b"".join(pieces) == data and all(pieces)
        assert ref.ref_decode(encoding, ref.ref_encode_bytes(encoding, data)) == data


@FAST
@given(strategies.mixed_text())
def test_text_pieces_are_whole_characters(text):
    for encoding in ORDINARY:
        assert "".join(ref.ref_pieces(encoding, text)) == text


# ------------------------------------------------------------ explicit classes vs \p{...}

PUBLISHED = {
    "cl100k_base": r"""'(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+|\s++$|\s*[\r\n]|\s+(?!\S)|\s""",
    "o200k_base": "|".join(
        [
            r"[^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+(?i:'s|'t|'re|'ve|'m|'ll|'d)?",
            r"[^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]+[\p{Ll}\p{Lm}\p{Lo}\p{M}]*(?i:'s|'t|'re|'ve|'m|'ll|'d)?",
            r"\p{N}{1,3}",
            r" ?[^\s\p{L}\p{N}]+[\r\n/]*",
            r"\s*[\r\n]+",
            r"\s+(?!\S)",
            r"\s+",
        ]
    ),
}
PROPERTY_OF_CLASS = [r"\p{L}", r"\p{N}", r"\s", r"[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]", r"[\p{Ll}\p{Lm}\p{Lo}\p{M}]"]


def fold_ascii(group: str) -> str:
    """A case-insensitive group's body with each ASCII letter spelled in both cases."""
    out, in_set = [], False
    for c in group:
        if c in "[]":
            in_set = c == "["
        if c.isalpha():
            out.append(c + c.upper() if in_set else f"[{c}{c.upper()}]")
        else:
            out.append(c)
    return "".join(out)


def published_with_ascii_folding(encoding: str):
    """The published pattern with the package's own classes; `$` as end of text and
    the case-insensitive groups folding ASCII only, as the tokenizer does (the
    package's (?i) also folds U+017F to s)."""
    pattern = PUBLISHED[encoding].replace("$", r"\Z")
    return regex.compile(regex.sub(r"\(\?i:([^)]*)\)", lambda m: "(?:" + fold_ascii(m.group(1)) + ")", pattern))


@pytest.mark.parametrize("encoding", ORDINARY)
def test_explicit_classes_cut_like_the_published_pattern(encoding):
    enc = ref.load(encoding)
    published = published_with_ascii_folding(encoding)
    texts = [corpus_text(p) for p in CORPUS]
    chars = sorted(set("".join(texts)))
    # Compare only where the package's Unicode version gives the same classes.
    for k, prop in enumerate(PROPERTY_OF_CLASS[: len(enc.classes)]):
        ours = {c for c in chars if ord(c) in enc.classes[k]}
        theirs = {c for c in chars if regex.fullmatch(prop, c)}
        if ours != theirs:
            pytest.skip(f"regex package classes differ from the tables on {sorted(ours ^ theirs)[:5]}")
    for text in texts:
        assert ref.ref_pieces(encoding, text) == published.findall(text)


# ------------------------------------------------------------ special tokens


def test_special_tokens_split_the_text():
    cl = "cl100k_base"
    text = "a  <|endoftext|><|fim_prefix|>b<|endofprompt|>"
    expected = ref.ref_encode_ordinary(cl, "a  ") + [100257, 100258] + ref.ref_encode_ordinary(cl, "b") + [100276]
    assert ref.ref_encode_with_special(cl, text) == expected
    assert ref.ref_encode_with_special(cl, "") == []
    assert ref.ref_encode_with_special("o200k_base", "<|fim_prefix|>") == ref.ref_encode_ordinary("o200k_base", "<|fim_prefix|>")
    harmony = ref.ref_encode_with_special("o200k_harmony", "<|start|>x<|reserved_200018|><|endofprompt|>")
    assert harmony == [200006] + ref.ref_encode_ordinary("o200k_base", "x") + [200018, 200018]


def test_special_ties_and_overlaps():
    tables = ref.load("cl100k_base").tables
    enc = ref.Encoding("test", tables, [(b"<|a", 900001), (b"<|ab", 900002), (b"aba", 900003)])

    def ordinary(s):
        return ref.ref_encode_ordinary("cl100k_base", s)

    # Same start: the earlier entry wins, even though it is shorter.
    assert enc.encode_with_special(b"x<|ab") == ordinary("x") + [900001] + ordinary("b")
    # Overlapping occurrences: scanning resumes after the chosen one.
    assert enc.encode_with_special(b"ababa") == [900003] + ordinary("ba")
    assert ref.ref_decode("o200k_harmony", [200018, 999999999]) == b"<|endofprompt|>"
