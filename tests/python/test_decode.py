"""Decode methods: errors modes against Python's own UTF-8 decoder, the strict messages,
unknown ids, single-token lookup, the batch form, round trips and argument errors."""

from pathlib import Path

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from lexaro import Tokenizer
from strategies import mixed_bytes, mixed_text
from conftest import assert_noted

CORPUS = sorted((Path(__file__).parent / "corpus").glob("*.txt"))
OTHER_MODES = ["replace", "surrogatepass", "Strict", "IGNORE", "", "backslashreplace", "strict "]


@pytest.fixture(scope="module")
def byte_ids(cl):
    """The id of each single byte, found through the token table."""
    ids = {}
    for token_id, token in enumerate(cl.token_byte_values()):
        if len(token) == 1:
            ids[token[0]] = token_id
    assert len(ids) == 256
    return ids


def strict_message(data):
    """The message strict decoding must raise for `data`, from Python's decoder; None if valid."""
    try:
        data.decode("utf-8")
    except UnicodeDecodeError as e:
        if e.reason == "unexpected end of data":
            return f"invalid utf-8 in decode: incomplete utf-8 byte sequence from index {e.start}"
        return f"invalid utf-8 in decode: invalid utf-8 sequence of {e.end - e.start} bytes from index {e.start}"
    return None


def split_character(tok, width):
    """A character of `width` UTF-8 bytes that the tokenizer encodes as two tokens, and those ids."""
    for cp in range(0x80, 0x110000):
        ch = chr(cp)
        if len(ch.encode("utf-8")) != width or 0xD800 <= cp < 0xE000:
            continue
        ids = tok.encode_ordinary(ch)
        if len(ids) == 2:
            return ch, ids
    raise AssertionError("no character splits into two tokens")


# ---- the errors modes against Python's decoder ----


def check_modes(tok, ids, data):
    assert tok.decode_bytes(ids) == data
    replaced = data.decode("utf-8", "replace")
    assert tok.decode(ids) == replaced
    assert tok.decode(ids, errors="replace") == replaced
    assert tok.decode(ids, "ignore") == replaced.replace("\ufffd", "")
    for mode in OTHER_MODES:
        assert tok.decode(ids, errors=mode) == replaced
    expected = strict_message(data)
    if expected is None:
        assert tok.decode(ids, errors="strict") == data.decode("utf-8")
    else:
        with pytest.raises(ValueError) as info:
            tok.decode(ids, errors="strict")
        assert str(info.value) == expected


@settings(max_examples=300)
@given(data=st.one_of(st.binary(max_size=40), mixed_bytes()))
def test_modes_match_python_decoder(cl, byte_ids, data):
    check_modes(cl, cl.encode_bytes(data), data)
    check_modes(cl, [byte_ids[b] for b in data], data)


@pytest.mark.parametrize(
    "data",
    [
        b"\xf5", b"\xf8", b"\xff", b"ab\xfe", b"\xc0", b"\xc1", b"\x80",  # never valid, last byte
        b"\xc3", b"\xe0", b"\xed", b"\xf4", b"\xe2\x82", b"\xf0\x9f\x98",  # unfinished at the end
        b"\xe0\x80", b"\xed\xa0", b"\xf0\x80", b"\xf4\x90",  # second byte out of range, at the end
        b"\xe2\x82a", b"\xf0\x9f\x98a", b"\xc3\xa9\xe2\x28\xa1", b"\xed\xa0\x80", b"\xf4\x90\x80\x80",
        b"ok\xef\xbf\xbd\xc3", b"\xe2\x82\xac" * 3 + b"\xf0\x9f",
    ],
)
def test_modes_at_every_kind_of_fault(cl, byte_ids, data):
    check_modes(cl, [byte_ids[b] for b in data], data)


# ---- documented cases ----


def test_empty_ids_in_every_mode(cl):
    for mode in ["strict", "ignore", "replace", "other"]:
        assert cl.decode([], errors=mode) == ""
    assert cl.decode(()) == ""
    assert cl.decode_bytes([]) == b""
    assert cl.decode_batch([]) == []
    assert cl.decode_batch([[], ()], errors="strict") == ["", ""]


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
def test_first_token_of_a_split_character(families, name):
    tok = families[name]
    ch, ids = split_character(tok, 3)
    assert tok.decode(ids) == ch
    assert tok.decode(ids[:1]) == "\ufffd"
    assert tok.decode(ids[:1], "ignore") == ""
    with pytest.raises(ValueError) as info:
        tok.decode(ids[:1], "strict")
    assert str(info.value) == "invalid utf-8 in decode: incomplete utf-8 byte sequence from index 0"
    # The rest alone is one or two continuation bytes: each maximal subpart is one U+FFFD.
    rest = tok.decode_bytes(ids[1:])
    assert tok.decode(ids[1:]) == "\ufffd" * len(rest)


def test_lone_continuation_byte_after_ascii(cl, byte_ids):
    ids = [byte_ids[ord("a")], byte_ids[0x80]]
    assert cl.decode(ids) == "a\ufffd"
    assert cl.decode(ids, errors="ignore") == "a"
    with pytest.raises(ValueError) as info:
        cl.decode(ids, errors="strict")
    assert str(info.value) == "invalid utf-8 in decode: invalid utf-8 sequence of 1 bytes from index 1"


def test_ignore_drops_replacement_characters_of_the_text_itself(cl):
    ids = cl.encode_ordinary("a\ufffdb \ufffd")
    assert cl.decode(ids) == "a\ufffdb \ufffd"
    assert cl.decode(ids, errors="strict") == "a\ufffdb \ufffd"
    assert cl.decode(ids, errors="ignore") == "ab "


def test_special_and_unknown_ids(families):
    cl = families["cl100k_base"]
    o200k = families["o200k_base"]
    assert cl.decode([100257]) == "<|endoftext|>"
    assert cl.decode_single_token_bytes(100257) == b"<|endoftext|>"
    assert o200k.decode_bytes([200018]) == b"<|endofprompt|>"
    a, b = cl.encode_ordinary("a"), cl.encode_ordinary("b")
    # Unknown: above every id, in the gap before the special ids, and between them.
    for unknown in [4294967295, 100256, 100261, 100275, 123456789]:
        assert cl.decode([unknown]) == ""
        assert cl.decode(a + [unknown] + b, errors="strict") == "ab"
        assert cl.decode_bytes([unknown]) == b""
        assert cl.decode_batch([[unknown], a + [unknown]]) == ["", "a"]
        with pytest.raises(KeyError) as info:
            cl.decode_single_token_bytes(unknown)
        assert info.value.args == (f"unknown token id {unknown}",)
    with pytest.raises(KeyError) as info:
        o200k.decode_single_token_bytes(199998)
    assert info.value.args == ("unknown token id 199998",)


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
def test_single_token_bytes_of_every_ordinary_id(families, name):
    tok = families[name]
    values = tok.token_byte_values()
    assert [tok.decode_single_token_bytes(i) for i in range(len(values))] == values
    assert tok.decode_bytes(range(len(values))) == b"".join(values)


def test_crafted_specials_resolve_first_entry_and_ordinary_first(tmp_path):
    from test_construction import SINGLE_BYTES, empty_uniclass, special_bytes, vocab_bytes, write_datadir

    specials = [("<|a|>", 300), ("<|b|>", 300), ("<|c|>", 5), ("<|d|>", 0xFFFFFFFF)]
    datadir = write_datadir(tmp_path, "cl100k_base", vocab_bytes(SINGLE_BYTES), special_bytes(specials),
                            empty_uniclass("cl100k_base"))
    tok = Tokenizer("cl100k_base", datadir)
    assert tok.decode_single_token_bytes(300) == b"<|a|>"
    assert tok.decode_single_token_bytes(5) == b"\x05"
    assert tok.decode_single_token_bytes(0xFFFFFFFF) == b"<|d|>"
    assert tok.decode([300, 5, 0xFFFFFFFF, 301]) == "<|a|>\x05<|d|>"
    with pytest.raises(KeyError):
        tok.decode_single_token_bytes(301)


# ---- batch ----


@settings(max_examples=50)
@given(texts=st.lists(mixed_bytes(8), max_size=6), mode=st.sampled_from(["replace", "ignore", "x"]))
def test_batch_equals_decode_of_each_element(cl, texts, mode):
    batch = [cl.encode_bytes(t) for t in texts]
    assert cl.decode_batch(batch, mode) == [cl.decode(ids, mode) for ids in batch]
    assert cl.decode_batch(batch) == [t.decode("utf-8", "replace") for t in texts]


def test_batch_accepts_any_sequences(cl):
    ids = cl.encode_ordinary("hello world")
    batch = (ids, tuple(ids), np.array(ids, dtype=np.uint32), np.array(ids, dtype=np.int64), range(3))
    assert cl.decode_batch(batch) == ["hello world"] * 4 + [cl.decode([0, 1, 2])]
    assert cl.decode(np.array(ids, dtype=np.uint32)) == "hello world"


def test_integer_buffers_convert_like_sequences(cl):
    import array

    ids = cl.encode_ordinary("buffers of every integer width")
    for dtype in (np.uint32, np.int32, np.int64, np.uint64):
        assert cl.decode_bytes(np.array(ids, dtype=dtype)) == cl.decode_bytes(ids)
    assert cl.decode_bytes(np.array(ids, dtype=np.int64)[::2]) == cl.decode_bytes(ids[::2])  # strided
    assert cl.decode_bytes(array.array("q", ids)) == cl.decode_bytes(ids)
    assert cl.decode_bytes(b"ab") == cl.decode_bytes([97, 98])  # bytes are a sequence of small ints
    for bad, text in ((np.array([1, -1]), "out of range integral type conversion attempted"),
                      (np.array([1, 2**32]), "out of range integral type conversion attempted"),
                      (np.array([2**63], dtype=np.uint64), "Python int too large to convert to C long")):
        with pytest.raises(OverflowError) as info:
            cl.decode(bad)
        assert str(info.value) == text
        assert info.value.__notes__ == ["while processing 'ids'"]
        with pytest.raises(OverflowError) as info:  # the same texts as the item-by-item conversion
            cl.decode(list(bad))
        assert str(info.value) == text


def test_batch_strict_raises_for_the_first_bad_element(cl, byte_ids):
    good = cl.encode_ordinary("fine")
    bad_late = [byte_ids[b] for b in b"xyz\xc3"]
    bad_early = [byte_ids[0xff]]
    with pytest.raises(ValueError) as info:
        cl.decode_batch([good, bad_late, bad_early], errors="strict")
    assert str(info.value) == "invalid utf-8 in decode: incomplete utf-8 byte sequence from index 3"
    assert cl.decode_batch([good, bad_late, bad_early]) == ["fine", "xyz\ufffd", "\ufffd"]


# ---- round trips ----


@pytest.mark.parametrize("path", CORPUS, ids=lambda p: p.stem)
def test_corpus_round_trip(families, path):
    text = path.read_bytes().decode("utf-8")
    for tok in families.values():
        ids = tok.encode_ordinary(text)
        assert tok.decode(ids, errors="strict") == text
        assert tok.decode_bytes(ids) == text.encode("utf-8")


@settings(max_examples=200)
@given(text=mixed_text())
def test_round_trip_of_any_text(families, text):
    for tok in families.values():
        ids = tok.encode_ordinary(text)
        assert tok.decode(ids, errors="strict") == text
        assert tok.decode(ids) == text
        assert tok.decode_batch([ids, ids[: len(ids) // 2]])[0] == text


# ---- argument errors ----


@pytest.mark.parametrize(
    "call, param, exc_type, message",
    [
        (lambda t: t.decode("abc"), "ids", TypeError, "Can't extract `str` to `Vec`"),
        (lambda t: t.decode(None), "ids", TypeError, "'None' is not an instance of 'Sequence'"),
        (lambda t: t.decode([1, 2**32]), "ids", OverflowError, "out of range integral type conversion attempted"),
        (lambda t: t.decode([1], errors=None), "errors", TypeError, "'None' is not an instance of 'str'"),
        (lambda t: t.decode_bytes([-1]), "ids", OverflowError, "out of range integral type conversion attempted"),
        (lambda t: t.decode_batch("abc"), "batch", TypeError, "Can't extract `str` to `Vec`"),
        (lambda t: t.decode_batch(7), "batch", TypeError, "'int' object is not an instance of 'Sequence'"),
        (lambda t: t.decode_batch([[1], "ab"]), "batch", TypeError, "Can't extract `str` to `Vec`"),
        (lambda t: t.decode_batch([[1], [-1]]), "batch", OverflowError,
         "out of range integral type conversion attempted"),
        (lambda t: t.decode_batch([[1]], errors=3), "errors", TypeError, "'int' object is not an instance of 'str'"),
        (lambda t: t.decode_single_token_bytes(-1), "id", OverflowError,
         "out of range integral type conversion attempted"),
    ],
)
def test_argument_conversion_errors(cl, call, param, exc_type, message):
    with pytest.raises(exc_type) as info:
        call(cl)
    assert str(info.value) == message
    assert_noted(info.value, param)


def test_bad_calls_name_the_method(cl):
    cases = [
        (lambda: cl.decode(), "Tokenizer.decode() missing 1 required positional argument: 'ids'"),
        (lambda: cl.decode([], "strict", 1),
         "Tokenizer.decode() takes from 2 to 3 positional arguments but 4 were given"),
        (lambda: cl.decode([], mode="strict"), "Tokenizer.decode() got an unexpected keyword argument 'mode'"),
        (lambda: cl.decode_batch([], batch=[]), "Tokenizer.decode_batch() got multiple values for argument 'batch'"),
    ]
    for call, message in cases:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message
    assert cl.decode(ids=[100257], errors="strict") == "<|endoftext|>"
    assert cl.decode_single_token_bytes(id=100257) == b"<|endoftext|>"
    assert cl.decode_batch(errors="ignore", batch=[[100257]]) == ["<|endoftext|>"]
