"""Safe cuts of the command's blocks: the ids of the parts between safe cuts, put together, are the ids
of the whole input, for both encoding families, valid and invalid UTF-8, with and without the split at
special-token strings; and blocks() gives the input back whole, cut only there."""
from __future__ import annotations

import itertools
import random
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from strategies import INVALID_SEQUENCES, fragment, mixed_bytes

from lexaro.cli.blocks import blocks, find_cut, safe_cuts
from reference import ref_pieces_bytes

FAMILIES = ["cl100k_base", "o200k_harmony"]  # o200k_harmony: the o200k rules and the most special strings

# What can stand next to a cut candidate: every class of character, runs that could continue across it,
# lead bytes that could take bytes beyond it, and special-token strings.
AROUND = [
    b"a", b"Z", b"s", b"ll", b"'", b"'s", b"'ll", b" ", b"  ", b"\t", b"\x0b", b"\r", b"\n", b"\r\n", b"/", b"!",
    b"?!", b"1", b"123", b"\x00", b"\x1c", b"\x7f", "é".encode(), "É".encode(), "你".encode(), "ǅ".encode(),
    "\u0301".encode(), "²".encode(), "\u00a0".encode(), "\u0085".encode(), "\u2028".encode(), "\u3000".encode(),
    "😀".encode(), "𝐀".encode(), b"<|endoftext|>", b"<|", b"|>",
    b"\xc0", b"\xdf", b"\xe0", b"\xef", b"\xf0", b"\xf4", b"\xf7", b"\x80", b"\xbf", b"\xff", b"\xe2\x80", b"\xf0\x9f\x98",
]
# Cut candidates, and look-alikes that must not be cut (a '/', a space or a '\r' after the newline; an
# apostrophe, '_' or '|' after a word; a letter of another script before the space).
CORES = [b"\na", b"\nA", b"\n1", b"\n!", b"\n'", b"\n\x00", b"\n\x7f", b"\n<", b"a ", b"Z ", b"1 ", b"a,",
         b"9.", b"x\n", b"z\t", b'q"', b"7>", b"\n/", b"\n ", b"\n\r", b"It's", b"don't",
         b"s_", b"1|", "\u00e9 ".encode()]
# Further back only leads (that could reach the candidate) and runs (that could continue into it) matter.
FAR = [b"a", b" ", b"\n", b"1", b"!", b"'", "你".encode(), "\u00a0".encode(), b"\xc0", b"\xe0", b"\xf0", b"\xf4",
       b"\x80", b"\xff"]


def parts_at_cuts(data: bytes) -> list[bytes]:
    cuts = safe_cuts(data)
    return [data[a:b] for a, b in zip([0] + cuts, cuts + [len(data)])]


def split_all(texts):
    """All parts of all texts at their safe cuts, and the index of each text's first part."""
    parts, first_part = [], []
    for text in texts:
        first_part.append(len(parts))
        parts += parts_at_cuts(text)
    first_part.append(len(parts))
    return parts, first_part


def check_cuts(tok, texts, split=None):
    """For each text: its parts between all safe cuts give its ids, in both special-token modes. All
    texts, and all parts, go through one batch call each: the flat id buffers must be equal, and so
    must the offsets where each text's ids begin."""
    parts, first_part = split or split_all(texts)
    for with_special in (False, True):
        ids, offsets = tok.encode_batch(texts, threads=2, with_special=with_special)
        part_ids, part_offsets = tok.encode_batch(parts, threads=2, with_special=with_special)
        text_starts = struct.unpack(f"<{len(texts) + 1}q", offsets)
        part_starts = struct.unpack(f"<{len(parts) + 1}q", part_offsets)
        bad = [t for t, p, text in zip(text_starts, (part_starts[i] for i in first_part), texts + [b""]) if t != p]
        assert not bad and ids == part_ids, (tok.name, with_special, texts if len(texts) < 4 else bad[:1])


def piece_ends(name: str, data: bytes) -> set:
    """Where the slow reference's pre-tokens end."""
    ends, at = set(), 0
    for piece in ref_pieces_bytes(name, data):
        at += len(piece)
        ends.add(at)
    return ends


def check_pieces(name: str, data: bytes) -> None:
    """No pre-token of the reference crosses a safe cut."""
    assert set(safe_cuts(data)) <= piece_ends(name, data), (name, data, safe_cuts(data))


def test_every_neighbour_of_a_cut_candidate(tok):
    """Two units before the candidate (so that leads one to four bytes back are covered), one after."""
    texts = [a + b + core + c for a, b, core, c in itertools.product(FAR, AROUND, CORES, AROUND)]
    split = split_all(texts)
    assert len(split[0]) > len(texts) * 4 // 3  # the candidates are cuts often
    for name in FAMILIES:
        check_cuts(tok[name], texts, split)


@pytest.mark.parametrize("name", FAMILIES)
def test_places_next_to_a_candidate_that_are_no_cuts(name):
    """A lead byte up to three bytes before the newline takes it (and what follows) into its character;
    a '/' after a newline joins o200k's punctuation run. At each such place a pre-token crosses, and the
    rules find no cut."""
    crossing = [b"x\xc3\nword", b"x\xe2\nword", b"x\xe2\x80\nword", b"x\xf0\x9f\x98\nword", b"x\xf0\nword",
                b"x\xf0\x80\nw", b"x\xf0\x9f\x98\n's"]
    for data in crossing:
        assert safe_cuts(data) == [], data
    assert safe_cuts(b"!\n/x") == []
    assert 2 not in piece_ends("o200k_base", b"!\n/x")  # o200k: "!\n/" is one pre-token
    for data in crossing:
        cut = data.index(b"\n") + 1
        assert cut not in piece_ends(name, data), data


@pytest.mark.parametrize("name", FAMILIES)
@settings(max_examples=300, deadline=None)
@given(st.lists(st.one_of(mixed_bytes(6), st.sampled_from(CORES + AROUND + INVALID_SEQUENCES)), max_size=40))
def test_generated_text_around_cuts(tok, name, pieces):
    data = b"".join(pieces)
    check_cuts(tok[name], [data])
    check_pieces(name, data)


@pytest.mark.parametrize("name", FAMILIES)
@settings(max_examples=100, deadline=None)
@given(st.lists(fragment(), max_size=60).map(lambda fs: "".join(fs).encode("utf-8")))
def test_generated_valid_text(tok, name, data):
    check_cuts(tok[name], [data])
    check_pieces(name, data)


def test_no_special_string_can_span_a_cut(tok):
    """Wherever a special-token string stands, no cut falls inside it."""
    for t in tok.values():
        for text, _ in t.special_tokens():
            s = text.encode()
            for before, after in itertools.product([b"", b"a", b"1", b"\n", b" "], repeat=2):
                inside = range(len(before) + 1, len(before) + len(s))
                assert not set(safe_cuts(before + s + after)) & set(inside), (before, s, after)


# ---- blocks of a stream ----


def stream_of(data: bytes, step: int):
    """A readinto(buffer) over `data` that fills at most `step` bytes per call, as a pipe may."""
    pos = 0

    def readinto(buffer) -> int:
        nonlocal pos
        chunk = data[pos:pos + min(len(buffer), step)]
        buffer[:len(chunk)] = chunk
        pos += len(chunk)
        return len(chunk)

    return readinto


def test_blocks_give_the_input_back_cut_at_safe_cuts(cl):
    rng = random.Random(7)
    words = [b"alpha", b"Beta", b"\n", b" ", b"\r\n", "h\u00e9llo".encode(), b"\xff", b"12345", b"//"]
    data = b"".join(rng.choice(words) + rng.choice([b" ", b"\n", b""]) for _ in range(40000))
    data += b"q" * 50000 + b"\n" + b" " * 30000 + b"end"  # stretches without a cut: the block grows
    cuts = set(safe_cuts(data))
    for size, step in ((4096, 1 << 30), (1000, 333), (1 << 16, 1 << 30)):
        got = list(blocks(stream_of(data, step), size))
        assert b"".join(got) == data
        at = 0
        for b in got[:-1]:
            at += len(b)
            assert at in cuts and len(b) >= min(size, 1)
        assert sum(cl.count_batch(got)) == len(cl.encode_bytes(data))
        assert max(len(b) for b in got) > 50000  # the stretch without a cut stayed in one block


def test_blocks_of_small_and_empty_streams():
    assert list(blocks(stream_of(b"", 10), 64)) == []
    assert [bytes(b) for b in blocks(stream_of(b"short\ntext", 3), 64)] == [b"short\ntext"]


def test_find_cut_searches_back_to_the_start():
    data = b"x\nA" + b"a" * 300000
    assert find_cut(data) == 2
    assert find_cut(data, start=2) is None
    data = b"word " * 1000
    assert find_cut(data) == len(data) - 1  # before the last space
    assert find_cut(data, end=len(data) - 100) == len(data) - 101
