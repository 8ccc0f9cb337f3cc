"""Construction of Tokenizer objects: the built-in encodings, the module surface, and
every load failure from crafted data files in a temporary datadir."""

import inspect
import struct

import pytest

import lexaro
from lexaro import _lexaro
from lexaro import Tokenizer
from conftest import assert_noted, notes

UNKNOWN_SUFFIX = " (built-in: cl100k_base, o200k_base, o200k_harmony)"

# encoding -> (vocab file, special-tokens file, uniclass file, number of class lists)
FILES = {
    "cl100k_base": ("cl100k.vocab", "cl100k.special", "uniclass.bin", 3),
    "o200k_base": ("o200k.vocab", "o200k.special", "uniclass_o200k.bin", 5),
    "o200k_harmony": ("o200k.vocab", "o200k_harmony.special", "uniclass_o200k.bin", 5),
}


# ---- builders of the three file formats ----


def record(token, rank, length=None):
    """One vocab record; `length` overrides the stored length field."""
    return struct.pack("<H", len(token) if length is None else length) + token + struct.pack("<I", rank)


def vocab_bytes(tokens, count=None):
    """A vocab file of `tokens` with ranks 0, 1, ... in order; `count` overrides N."""
    body = b"".join(record(t, rank) for rank, t in enumerate(tokens))
    return struct.pack("<I", len(tokens) if count is None else count) + body


SINGLE_BYTES = [bytes([b]) for b in range(256)]


def special_bytes(entries, count=None):
    """A special-tokens file of (text, id) entries; text may be str or raw bytes."""
    out = [struct.pack("<I", len(entries) if count is None else count)]
    for text, token_id in entries:
        raw = text.encode() if isinstance(text, str) else text
        out.append(struct.pack("<IH", token_id, len(raw)) + raw)
    return b"".join(out)


def uniclass_bytes(lists):
    """Range lists back to back, each a list of (lo, hi)."""
    out = []
    for ranges in lists:
        out.append(struct.pack("<I", len(ranges)))
        out.extend(struct.pack("<II", lo, hi) for lo, hi in ranges)
    return b"".join(out)


def empty_uniclass(encoding):
    return uniclass_bytes([[]] * FILES[encoding][3])


def write_datadir(path, encoding, vocab=None, special=None, uniclass=None):
    """Writes the given files (bytes; None leaves a file out) under the encoding's names."""
    vocab_name, special_name, uniclass_name, _ = FILES[encoding]
    for name, data in ((vocab_name, vocab), (special_name, special), (uniclass_name, uniclass)):
        if data is not None:
            (path / name).write_bytes(data)
    return str(path)


def load_error(encoding, datadir):
    with pytest.raises(RuntimeError) as info:
        Tokenizer(encoding, datadir)
    return str(info.value)


# ---- built-in encodings ----


@pytest.mark.parametrize(
    "name, n_vocab, eot, memory",
    [
        ("cl100k_base", 100277, 100257, 14_726_254),
        ("o200k_base", 200019, 199999, 32_697_854),
        ("o200k_harmony", 201088, 199999, 32_753_325),
    ],
)
def test_builtin_encoding_properties(tok, name, n_vocab, eot, memory):
    t = tok[name]
    assert t.name == name
    assert repr(t) == f"<lexaro.Tokenizer '{name}'>"
    assert t.n_vocab == n_vocab
    assert t.max_token_value == n_vocab - 1
    assert t.eot_token == eot
    assert t.memory_bytes == memory


def test_properties_are_read_only(tok):
    t = tok["cl100k_base"]
    for prop in ("name", "memory_bytes", "n_vocab", "max_token_value", "eot_token"):
        with pytest.raises(AttributeError):
            setattr(t, prop, 1)
    assert type(t).memory_bytes.__doc__ == "Exact heap footprint of the loaded encoding, in bytes."


def test_constructor_keyword_forms_are_the_same_construction():
    forms = [
        Tokenizer("cl100k_base"),
        Tokenizer("cl100k_base", ""),
        Tokenizer("cl100k_base", datadir=""),
        Tokenizer(encoding="cl100k_base"),
        Tokenizer(datadir="", encoding="cl100k_base"),
    ]
    assert {(t.name, t.n_vocab, t.eot_token, t.memory_bytes) for t in forms} == {
        ("cl100k_base", 100277, 100257, 14_726_254)
    }


@pytest.mark.parametrize("name", ["cl100k", "CL100K_BASE", "", " cl100k_base", "o200k_base\0"])
def test_unknown_encoding_message(name, tmp_path):
    message = "lexaro: unknown encoding: " + name + UNKNOWN_SUFFIX
    assert load_error(name, "") == message
    # The name is checked before any file is touched.
    assert load_error(name, str(tmp_path / "does-not-exist")) == message


def test_constructor_argument_errors():
    cases = [
        (lambda: Tokenizer(), "Tokenizer.__new__() missing 1 required positional argument: 'encoding'"),
        (
            lambda: Tokenizer("cl100k_base", "", ""),
            "Tokenizer.__new__() takes from 2 to 3 positional arguments but 4 were given",
        ),
        (lambda: Tokenizer(name="cl100k_base"), "Tokenizer.__new__() got an unexpected keyword argument 'name'"),
        (
            lambda: Tokenizer("cl100k_base", encoding="cl100k_base"),
            "Tokenizer.__new__() got multiple values for argument 'encoding'",
        ),
        (lambda: Tokenizer(datadir=""), "Tokenizer.__new__() missing 1 required positional argument: 'encoding'"),
    ]
    for call, message in cases:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message
        assert notes(info.value) is None


@pytest.mark.parametrize(
    "kwargs, param, exc_type, message",
    [
        ({"encoding": 5}, "encoding", TypeError, "'int' object is not an instance of 'str'"),
        ({"encoding": None}, "encoding", TypeError, "'None' is not an instance of 'str'"),
        ({"encoding": b"cl100k_base"}, "encoding", TypeError, "'bytes' object is not an instance of 'str'"),
        ({"encoding": "cl100k_base", "datadir": None}, "datadir", TypeError, "'None' is not an instance of 'str'"),
        (
            {"encoding": "cl100k_base", "datadir": ["x"]},
            "datadir",
            TypeError,
            "'list' object is not an instance of 'str'",
        ),
        ({"encoding": "cl100k_\ud800"}, "encoding", UnicodeEncodeError, None),
    ],
)
def test_constructor_argument_conversion(kwargs, param, exc_type, message):
    with pytest.raises(exc_type) as info:
        Tokenizer(**kwargs)
    assert type(info.value) is exc_type
    if message is not None:
        assert str(info.value) == message
    assert_noted(info.value, param)


def test_module_surface():
    public = {name for name in dir(_lexaro) if not name.startswith("__")}
    assert public == {"Tokenizer", "BUILTIN_ENCODINGS"}
    assert _lexaro.__version__ == "0.1.4"
    assert lexaro.__version__ == "0.1.4"
    assert _lexaro.__doc__ == ""
    assert lexaro.Tokenizer is _lexaro.Tokenizer
    assert Tokenizer.__module__ == "lexaro._lexaro"
    assert Tokenizer.__name__ == "Tokenizer"
    assert Tokenizer.__qualname__ == "Tokenizer"
    assert str(inspect.signature(Tokenizer)) == "(encoding, datadir='')"
    assert Tokenizer.__text_signature__ == '(encoding, datadir="")'


def test_builtin_encodings_list_can_be_changed_without_effect():
    names = _lexaro.BUILTIN_ENCODINGS
    assert type(names) is list
    assert names == ["cl100k_base", "o200k_base", "o200k_harmony"]
    saved = list(names)
    try:
        names.clear()
        names.append("cl100k")
        assert Tokenizer("cl100k_base").n_vocab == 100277
        assert load_error("cl100k", "") == "lexaro: unknown encoding: cl100k" + UNKNOWN_SUFFIX
    finally:
        names[:] = saved


# ---- crafted data: successful loads ----


def single_bytes_footprint(n_class_ranges, specials):
    """Heap footprint of the 256-single-byte vocabulary with one filled class table, summed
    from element counts: 257 trie nodes, the 16-bit pair memo, the minimum edge tables."""
    n = 256
    token_ids = n * (1 + 24)
    one = n + n  # token_bytes, token_len
    two = 2 * (1 << 20)  # 16-bit pair_memo
    four = 4 * ((n + 1) + 65536 + 65536 + 257 + n + 65536 + 65536)
    eight = 8 * (n + 2 * n + (1 << 17) + 1024)  # split, pair_merge, edge2, edge1
    classes = 4 * 2 * n_class_ranges + 65536
    return token_ids + one + two + four + eight + classes + sum(len(t.encode()) + 32 for t, _ in specials)


@pytest.mark.parametrize("encoding", list(FILES))
def test_datadir_loads_crafted_encoding(tmp_path, encoding):
    specials = [("<|x|>", 300), ("<|endoftext|>", 256), ("<|endoftext|>", 7)]
    ranges = [[(0x41, 0x5A), (0x10000, 0x10FFFF)], [(0x30, 0x39)]] + [[]] * (FILES[encoding][3] - 2)
    datadir = write_datadir(
        tmp_path, encoding, vocab_bytes(SINGLE_BYTES), special_bytes(specials), uniclass_bytes(ranges)
    )
    tok = Tokenizer(encoding, datadir)
    assert tok.name == encoding
    assert repr(tok) == f"<lexaro.Tokenizer '{encoding}'>"
    assert tok.n_vocab == 301
    assert tok.max_token_value == 300
    assert tok.eot_token == 256  # the first entry with that text wins
    assert tok.memory_bytes == single_bytes_footprint(3, specials)


def test_datadir_with_trailing_slash(tmp_path):
    datadir = write_datadir(tmp_path, "cl100k_base", vocab_bytes(SINGLE_BYTES), None, empty_uniclass("cl100k_base"))
    assert Tokenizer("cl100k_base", datadir + "/").n_vocab == 256
    empty = tmp_path / "empty"
    empty.mkdir()
    assert load_error("cl100k_base", str(empty) + "/").startswith(f"lexaro: cannot open vocab file {empty}/cl100k.vocab: ")


@pytest.mark.parametrize("encoding", list(FILES))
def test_missing_special_file_gives_no_specials(tmp_path, encoding):
    datadir = write_datadir(tmp_path, encoding, vocab_bytes(SINGLE_BYTES), None, empty_uniclass(encoding))
    tok = Tokenizer(encoding, datadir)
    assert tok.n_vocab == 256
    assert tok.max_token_value == 255
    with pytest.raises(KeyError) as info:
        tok.eot_token
    assert info.value.args == ("this encoding has no <|endoftext|>",)
    assert tok.memory_bytes == single_bytes_footprint(0, [])


def test_special_file_read_by_encoding_name(tmp_path):
    # o200k_base and o200k_harmony share the vocab and uniclass files but not the specials.
    write_datadir(tmp_path, "o200k_base", vocab_bytes(SINGLE_BYTES), special_bytes([("<|endoftext|>", 1000)]),
                  empty_uniclass("o200k_base"))
    write_datadir(tmp_path, "o200k_harmony", special=special_bytes([("<|endoftext|>", 2000)]))
    write_datadir(tmp_path, "cl100k_base", vocab_bytes(SINGLE_BYTES), special_bytes([("<|endoftext|>", 3000)]),
                  empty_uniclass("cl100k_base"))
    found = {name: Tokenizer(name, str(tmp_path)).eot_token for name in FILES}
    assert found == {"o200k_base": 1000, "o200k_harmony": 2000, "cl100k_base": 3000}


@pytest.mark.parametrize(
    "specials, count, n_vocab",
    [
        ([], None, 256),
        ([("<|a|>", 10), ("<|b|>", 255)], None, 256),  # ids inside the vocabulary
        ([("<|a|>", 0xFFFFFFFF)], None, 2**32),
        ([("a" * 64, 400)], None, 401),  # 64 bytes is the longest special token
        ([("<|é|>", 256)], None, 257),  # multi-byte UTF-8
    ],
)
def test_special_ids_and_n_vocab(tmp_path, specials, count, n_vocab):
    datadir = write_datadir(tmp_path, "cl100k_base", vocab_bytes(SINGLE_BYTES), special_bytes(specials, count),
                            empty_uniclass("cl100k_base"))
    tok = Tokenizer("cl100k_base", datadir)
    assert tok.n_vocab == n_vocab
    assert tok.max_token_value == n_vocab - 1


def test_special_file_trailing_bytes_are_ignored(tmp_path):
    datadir = write_datadir(tmp_path, "cl100k_base", vocab_bytes(SINGLE_BYTES),
                            special_bytes([("<|endoftext|>", 500)]) + b"\xff\x00junk",
                            empty_uniclass("cl100k_base"))
    assert Tokenizer("cl100k_base", datadir).eot_token == 500


def test_vocab_record_order_and_longest_token(tmp_path):
    # Records in descending rank order, and a token of 255 bytes (the longest allowed).
    tokens = SINGLE_BYTES + [b"q" * 255]
    body = b"".join(record(t, rank) for rank, t in reversed(list(enumerate(tokens))))
    datadir = write_datadir(tmp_path, "cl100k_base", struct.pack("<I", len(tokens)) + body, None,
                            empty_uniclass("cl100k_base"))
    assert Tokenizer("cl100k_base", datadir).n_vocab == 257


# ---- crafted data: vocab failures ----


def bad_vocab(reason, datadir):
    return f"lexaro: bad vocab file ({reason}): {datadir}/cl100k.vocab"


COUNT_RANGE = "token count out of range (max 262144 ids)"


HEADER_1 = struct.pack("<I", 1)


@pytest.mark.parametrize(
    "data, reason",
    [
        pytest.param(b"", "truncated header", id="empty"),
        pytest.param(b"\x01\x00\x00", "truncated header", id="3-byte-header"),
        pytest.param(struct.pack("<I", 0), COUNT_RANGE, id="N=0"),
        pytest.param(struct.pack("<I", 262_145), COUNT_RANGE, id="N=262145"),
        pytest.param(struct.pack("<I", 0xFFFFFFFF), COUNT_RANGE, id="N=2^32-1"),
        pytest.param(HEADER_1, "truncated record", id="no-record"),
        pytest.param(HEADER_1 + b"\x01", "truncated record", id="1-byte-length"),
        pytest.param(struct.pack("<I", 2) + record(b"a", 0) + b"\x01", "truncated record", id="second-record-cut"),
        pytest.param(HEADER_1 + record(b"", 0), "token length out of range", id="L=0"),
        pytest.param(HEADER_1 + record(b"x" * 256, 0), "token length out of range", id="L=256-bytes-present"),
        pytest.param(HEADER_1 + record(b"abc", 0, length=0x8000), "token length out of range", id="L=32768"),
        pytest.param(HEADER_1 + struct.pack("<H", 3) + b"abc\x00\x00\x00", "truncated token bytes", id="rank-cut"),
        pytest.param(HEADER_1 + struct.pack("<H", 3) + b"ab", "truncated token bytes", id="bytes-cut"),
        pytest.param(struct.pack("<I", 2) + record(b"a", 0) + record(b"b", 2), "rank out of range", id="ranks-0-2"),
        pytest.param(struct.pack("<I", 2) + record(b"a", 1) + record(b"b", 1), "duplicate rank", id="ranks-1-1"),
        pytest.param(vocab_bytes([b"a", b"b"]) + b"\x00", "trailing bytes", id="one-extra-byte"),
    ],
)
def test_bad_vocab_reasons(tmp_path, data, reason):
    datadir = write_datadir(tmp_path, "cl100k_base", data, None, empty_uniclass("cl100k_base"))
    assert load_error("cl100k_base", datadir) == bad_vocab(reason, datadir)


def test_vocab_reasons_are_checked_in_order(tmp_path):
    # A record that is both too long and truncated reports the length.
    data = struct.pack("<I", 1) + struct.pack("<H", 300) + b"x"
    datadir = write_datadir(tmp_path, "cl100k_base", data)
    assert load_error("cl100k_base", datadir) == bad_vocab("token length out of range", datadir)
    # A rank out of range is found before a later record's problem.
    data = struct.pack("<I", 2) + record(b"a", 5) + struct.pack("<H", 0)
    (tmp_path / "cl100k.vocab").write_bytes(data)
    assert load_error("cl100k_base", datadir) == bad_vocab("rank out of range", datadir)


def trie_vocab(n_nodes):
    """4,200 tokens whose first two bytes are unique, so the trie has exactly
    1 + 17 (first bytes) + sum(len - 1) nodes."""
    count = 4200
    extra = n_nodes - 1 - 17 - count * 249  # tokens of 251 bytes instead of 250
    assert 0 <= extra <= count
    tokens = []
    for i in range(count):
        length = 251 if i < extra else 250
        tokens.append(bytes([i >> 8, i & 0xFF]) + bytes([i % 251]) * (length - 2))
    return vocab_bytes(tokens)


def test_trie_node_limit(tmp_path):
    datadir = write_datadir(tmp_path, "cl100k_base", trie_vocab(0xFFFFF), None, empty_uniclass("cl100k_base"))
    assert Tokenizer("cl100k_base", datadir).n_vocab == 4200
    (tmp_path / "cl100k.vocab").write_bytes(trie_vocab(0x100000))
    assert load_error("cl100k_base", datadir) == (
        f"lexaro: trie too large for packed e2 (max 2^20 nodes): {datadir}/cl100k.vocab"
    )


def three_byte_tokens(count):
    return [bytes([i >> 16, (i >> 8) & 0xFF, i & 0xFF]) for i in range(count)]


def test_largest_vocab(tmp_path):
    datadir = write_datadir(tmp_path, "o200k_base", vocab_bytes(three_byte_tokens(262_143)), None,
                            empty_uniclass("o200k_base"))
    assert Tokenizer("o200k_base", datadir).n_vocab == 262_143
    # The last id of a 262,144-token vocabulary would collide with the 18-bit "no token" value.
    (tmp_path / "o200k.vocab").write_bytes(vocab_bytes(three_byte_tokens(262_144)))
    message = load_error("o200k_base", datadir)
    assert message.startswith("lexaro: bad vocab file (")
    assert message.endswith(f"): {datadir}/o200k.vocab")


@pytest.mark.parametrize("encoding", list(FILES))
def test_missing_vocab_file(tmp_path, encoding):
    vocab_name = FILES[encoding][0]
    assert load_error(encoding, str(tmp_path)) == (
        f"lexaro: cannot open vocab file {tmp_path}/{vocab_name}: No such file or directory (os error 2)"
    )
    missing_dir = tmp_path / "nowhere"
    assert load_error(encoding, str(missing_dir)) == (
        f"lexaro: cannot open vocab file {missing_dir}/{vocab_name}: No such file or directory (os error 2)"
    )


def test_directory_in_place_of_vocab_file(tmp_path):
    (tmp_path / "cl100k.vocab").mkdir()
    assert load_error("cl100k_base", str(tmp_path)) == (
        f"lexaro: cannot read {tmp_path}/cl100k.vocab: Is a directory (os error 21)"
    )


def test_nul_byte_in_datadir(tmp_path):
    datadir = str(tmp_path) + "\0x"
    assert load_error("cl100k_base", datadir) == (
        f"lexaro: cannot open vocab file {datadir}/cl100k.vocab: file name contained an unexpected NUL byte"
    )


def test_relative_datadir(tmp_path, monkeypatch):
    write_datadir(tmp_path, "cl100k_base", vocab_bytes(SINGLE_BYTES), None, empty_uniclass("cl100k_base"))
    monkeypatch.chdir(tmp_path.parent)
    assert Tokenizer("cl100k_base", tmp_path.name).n_vocab == 256


# ---- crafted data: special-token and uniclass failures ----


SPECIAL_HEADER = struct.pack("<I", 1) + struct.pack("<I", 1000)


@pytest.mark.parametrize(
    "data",
    [
        pytest.param(b"", id="empty"),
        pytest.param(b"\x00\x00\x00", id="3-byte-header"),
        pytest.param(struct.pack("<I", 4097), id="M=4097"),
        pytest.param(struct.pack("<I", 1), id="no-record"),
        pytest.param(SPECIAL_HEADER + b"\x01", id="record-header-cut"),
        pytest.param(SPECIAL_HEADER + struct.pack("<H", 0), id="L=0"),
        pytest.param(special_bytes([("a" * 65, 1000)]), id="L=65"),
        pytest.param(SPECIAL_HEADER + struct.pack("<H", 5) + b"<|x|", id="text-cut"),
        pytest.param(special_bytes([(b"<|\xff|>", 1000)]), id="invalid-utf8"),
        pytest.param(special_bytes([(b"\xe2\x82", 1000)]), id="truncated-utf8"),
        pytest.param(special_bytes([(b"\xed\xa0\x80", 1000)]), id="encoded-surrogate"),
        pytest.param(special_bytes([("<|a|>", 1), ("<|b|>", 2)], count=3), id="fewer-records-than-M"),
    ],
)
def test_bad_special_file(tmp_path, data):
    datadir = write_datadir(tmp_path, "o200k_harmony", vocab_bytes(SINGLE_BYTES), data, empty_uniclass("o200k_harmony"))
    assert load_error("o200k_harmony", datadir) == f"lexaro: bad special-tokens file: {datadir}/o200k_harmony.special"


def test_unreadable_special_file_gives_no_specials(tmp_path):
    datadir = write_datadir(tmp_path, "cl100k_base", vocab_bytes(SINGLE_BYTES), None, empty_uniclass("cl100k_base"))
    (tmp_path / "cl100k.special").mkdir()
    tok = Tokenizer("cl100k_base", datadir)
    assert tok.n_vocab == 256
    with pytest.raises(KeyError):
        tok.eot_token


def r(count, pairs=b""):
    return struct.pack("<I", count) + pairs


@pytest.mark.parametrize(
    "encoding, data",
    [
        pytest.param("cl100k_base", b"", id="empty"),
        pytest.param("cl100k_base", uniclass_bytes([[], []]), id="third-list-missing"),
        pytest.param("cl100k_base", uniclass_bytes([[], []]) + b"\x00\x00", id="third-count-cut"),
        pytest.param("o200k_base", uniclass_bytes([[]] * 4), id="fifth-list-missing"),
        pytest.param("cl100k_base", r(2, struct.pack("<II", 1, 2)) + r(0) + r(0), id="second-range-missing"),
        pytest.param("cl100k_base", uniclass_bytes([[(5, 4)], [], []]), id="lo>hi"),
        pytest.param("cl100k_base", uniclass_bytes([[], [], [(0x110000, 0x110000)]]), id="hi=0x110000"),
        pytest.param("o200k_base", uniclass_bytes([[], [], [], [], [(0, 0x110000)]]), id="o200k-hi=0x110000"),
        pytest.param("cl100k_base", r(100_001, struct.pack("<II", 0, 0) * 100_001) + r(0) + r(0), id="R=100001"),
    ],
)
def test_bad_uniclass_file(tmp_path, encoding, data):
    datadir = write_datadir(tmp_path, encoding, vocab_bytes(SINGLE_BYTES), None, data)
    assert load_error(encoding, datadir) == f"lexaro: bad uniclass file: {datadir}/{FILES[encoding][2]}"


@pytest.mark.parametrize(
    "encoding, data",
    [
        pytest.param("cl100k_base", uniclass_bytes([[(0x10FFFF, 0x10FFFF)], [(0, 0x10FFFF)], [(7, 7)]]),
                     id="hi=0x10FFFF"),
        pytest.param("cl100k_base", uniclass_bytes([[(0, 0)] * 100_000, [], []]), id="R=100000"),
        pytest.param("cl100k_base", uniclass_bytes([[(9, 9)], [], []]) + b"trailing", id="trailing-bytes"),
        pytest.param("o200k_base", uniclass_bytes([[(0x20, 0x7E), (0x10, 0x18)]] * 5), id="unsorted-overlapping"),
    ],
)
def test_accepted_uniclass_file(tmp_path, encoding, data):
    datadir = write_datadir(tmp_path, encoding, vocab_bytes(SINGLE_BYTES), None, data)
    assert Tokenizer(encoding, datadir).n_vocab == 256


@pytest.mark.parametrize("encoding", list(FILES))
def test_missing_uniclass_file(tmp_path, encoding):
    datadir = write_datadir(tmp_path, encoding, vocab_bytes(SINGLE_BYTES))
    uniclass_name = FILES[encoding][2]
    assert load_error(encoding, datadir) == (
        f"lexaro: cannot open uniclass file {datadir}/{uniclass_name}: No such file or directory (os error 2)"
    )
    (tmp_path / uniclass_name).mkdir()
    assert load_error(encoding, datadir) == (
        f"lexaro: cannot open uniclass file {datadir}/{uniclass_name}: Is a directory (os error 21)"
    )


def test_bad_vocab_and_bad_uniclass_reports_vocab(tmp_path):
    datadir = write_datadir(tmp_path, "cl100k_base", vocab_bytes([b"a"]) + b"\x00", b"", b"\x00")
    assert load_error("cl100k_base", datadir) == bad_vocab("trailing bytes", datadir)


def test_bad_uniclass_reported_before_bad_special(tmp_path):
    datadir = write_datadir(tmp_path, "cl100k_base", vocab_bytes(SINGLE_BYTES), b"", b"\x00")
    assert load_error("cl100k_base", datadir) == f"lexaro: bad uniclass file: {datadir}/uniclass.bin"
