"""encode_with_offsets: byte spans tile the text, code-point spans agree with Python's own
character indices (a boundary inside a character maps to just after it), unit checks,
and the refusal of texts whose offsets would not fit 32 bits."""

import bisect
import itertools
from pathlib import Path

import pytest
from hypothesis import given, settings

from strategies import mixed_text
from conftest import assert_noted

CORPUS = sorted((Path(__file__).parent / "corpus").glob("*.txt"))
UNIT_MESSAGE = "unit must be 'byte' or 'char'"


def char_indexer(text):
    """Maps a byte offset of `text` to the number of its characters that start before it,
    from Python's own indexing of the str."""
    starts = list(itertools.accumulate((len(ch.encode("utf-8")) for ch in text), initial=0))
    return lambda byte_offset: bisect.bisect_left(starts, byte_offset)


def check_spans(tok, text):
    data = text.encode("utf-8")
    ids, spans = tok.encode_with_offsets(text)
    assert ids == tok.encode_ordinary(text)
    assert len(spans) == len(ids)
    assert all(type(span) is tuple and len(span) == 2 for span in spans)
    # Byte spans tile the text, and each covers exactly its token's bytes.
    ends = [0] + [end for _, end in spans]
    assert [start for start, _ in spans] == ends[:-1]
    assert ends[-1] == len(data)
    assert [data[a:b] for a, b in spans] == [tok.decode_single_token_bytes(i) for i in ids]

    char_ids, char_spans = tok.encode_with_offsets(text, unit="char")
    assert char_ids == ids
    char_index = char_indexer(text)
    assert char_spans == [(char_index(a), char_index(b)) for a, b in spans]
    if text.isascii():
        assert char_spans == spans
    return spans, char_spans


@pytest.mark.parametrize("path", CORPUS, ids=lambda p: p.stem)
def test_corpus_spans(families, path):
    text = path.read_bytes().decode("utf-8")
    for tok in families.values():
        check_spans(tok, text)


@settings(max_examples=200)
@given(text=mixed_text())
def test_spans_of_any_text(families, text):
    for tok in families.values():
        check_spans(tok, text)


def test_empty_and_simple_texts(families):
    tok = families["cl100k_base"]
    assert tok.encode_with_offsets("") == ([], [])
    assert tok.encode_with_offsets("", unit="char") == ([], [])
    assert tok.encode_with_offsets("héllo")[1][-1][1] == 6
    assert tok.encode_with_offsets("héllo", "char")[1][-1][1] == 5
    ids, spans = tok.encode_with_offsets("hello world")
    assert tok.encode_with_offsets("hello world", "char") == (ids, spans)
    assert spans == [(0, 5), (5, 11)]


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
def test_character_split_between_two_tokens(families, name):
    tok = families[name]
    for cp in range(0x800, 0x10000):
        if 0xD800 <= cp < 0xE000 or len(tok.encode_ordinary(chr(cp))) != 2:
            continue
        text = "ab\n" + chr(cp)  # the line break keeps the character a piece of its own
        ids, spans = tok.encode_with_offsets(text, unit="char")
        assert spans[-2:] == [(3, 4), (4, 4)]
        first = len(tok.decode_single_token_bytes(ids[-2]))  # 1 or 2 of the character's 3 bytes
        assert tok.encode_with_offsets(text)[1][-2:] == [(3, 3 + first), (3 + first, 6)]
        check_spans(tok, text)
        return
    raise AssertionError("no 3-byte character splits into two tokens")


def test_special_strings_are_ordinary_text(families):
    tok = families["cl100k_base"]
    text = "x<|endoftext|>y"
    ids, spans = tok.encode_with_offsets(text)
    assert 100257 not in ids
    assert spans[-1][1] == len(text)
    check_spans(tok, text)


# ---- arguments ----


@pytest.mark.parametrize("unit", ["bytes", "Byte", "Char", " byte", "char ", ""])
def test_unit_must_be_byte_or_char(families, unit):
    tok = families["cl100k_base"]
    with pytest.raises(ValueError) as info:
        tok.encode_with_offsets("a", unit=unit)
    assert str(info.value) == UNIT_MESSAGE
    with pytest.raises(ValueError) as info:
        tok.encode_with_offsets("", unit)
    assert str(info.value) == UNIT_MESSAGE


@pytest.mark.parametrize(
    "kwargs, param, exc_type, message",
    [
        ({"text": "a", "unit": None}, "unit", TypeError, "'None' is not an instance of 'str'"),
        ({"text": b"a"}, "text", TypeError, "'bytes' object is not an instance of 'str'"),
        ({"text": "\ud800"}, "text", UnicodeEncodeError, None),
    ],
)
def test_argument_conversion_errors(families, kwargs, param, exc_type, message):
    with pytest.raises(exc_type) as info:
        families["cl100k_base"].encode_with_offsets(**kwargs)
    if message is not None:
        assert str(info.value) == message
    assert_noted(info.value, param)


def test_bad_calls_name_the_method(families):
    tok = families["cl100k_base"]
    with pytest.raises(TypeError) as info:
        tok.encode_with_offsets()
    assert str(info.value) == "Tokenizer.encode_with_offsets() missing 1 required positional argument: 'text'"
    with pytest.raises(TypeError) as info:
        tok.encode_with_offsets("a", unit="byte", units="char")
    assert str(info.value) == "Tokenizer.encode_with_offsets() got an unexpected keyword argument 'units'"
    assert tok.encode_with_offsets(unit="char", text="é") == tok.encode_with_offsets("é", "char")


# ---- the 4 GiB limit ----


def available_memory():
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemAvailable:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


@pytest.mark.skipif(available_memory() < 10 * 2**30, reason="needs a 4 GiB string and room to spare")
def test_text_of_4_gib_is_refused(families):
    tok = families["cl100k_base"]
    text = "a" * 2**32  # ASCII: the str's own buffer is its UTF-8 text, nothing is copied
    try:
        for unit in ("byte", "char"):
            with pytest.raises(ValueError) as info:
                tok.encode_with_offsets(text, unit)
            assert str(info.value) == "text too long for encode_with_offsets (4 GiB or more)"
        # The unit is checked first, as for any text.
        with pytest.raises(ValueError) as info:
            tok.encode_with_offsets(text, "bytes")
        assert str(info.value) == UNIT_MESSAGE
    finally:
        del text
