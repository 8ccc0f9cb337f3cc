"""Single-text encode methods: argument handling, the special-token policy of `encode`,
the buffer and numpy forms, single-token lookup, truncate and count.

The special-token searches are checked against a slow transcription of their rules
(one scan per string, list order breaks ties, refused strings reported in byte order),
over a crafted special-token file with strings that share prefixes and overlap."""

import inspect
import shutil
import struct
import sys
from pathlib import Path

import numpy
import pytest
import regex
from hypothesis import given, settings
from hypothesis import strategies as st

from lexaro import Tokenizer
from lexaro._flat import split_flat
from conftest import assert_noted, notes

DATA = Path(__file__).resolve().parents[2] / "data"
ENCODINGS = ["cl100k_base", "o200k_base", "o200k_harmony"]


def read_vocab(path):
    """Token bytes by id, from a vocab file."""
    data = path.read_bytes()
    (n,) = struct.unpack_from("<I", data)
    tokens, p = [None] * n, 4
    for _ in range(n):
        (length,) = struct.unpack_from("<H", data, p)
        token = data[p + 2 : p + 2 + length]
        (rank,) = struct.unpack_from("<I", data, p + 2 + length)
        tokens[rank] = token
        p += 2 + length + 4
    return tokens


@pytest.fixture(scope="module")
def cl_tokens():
    return read_vocab(DATA / "cl100k.vocab")


# ---- the disallowed-special message ----


def quote(s):
    """The quoted form of a refused string: escapes, then \\u{...} for characters that are
    not printable or extend a grapheme."""
    out = ['"']
    for ch in s:
        simple = {'"': '\\"', "\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r", "\0": "\\0"}
        if ch in simple:
            out.append(simple[ch])
        elif not ch.isprintable() or regex.match(r"\p{Grapheme_Extend}", ch):
            out.append("\\u{%x}" % ord(ch))
        else:
            out.append(ch)
    return "".join(out) + '"'


def refusal(s):
    q = quote(s)
    return (
        f"Encountered text corresponding to disallowed special token {q}.\n"
        f"If you want this text to be encoded as a special token, pass it to `allowed_special`, "
        f"e.g. `allowed_special={{{q}, ...}}`.\n"
        "If you want this text to be encoded as normal text, disable the check for this token by "
        "passing `disallowed_special=()`, or use `encode_ordinary`."
    )


def test_refusal_message_for_endoftext(cl):
    with pytest.raises(ValueError) as info:
        cl.encode("hello <|endoftext|>")
    message = str(info.value)
    assert message.startswith('Encountered text corresponding to disallowed special token "<|endoftext|>".')
    assert 'allowed_special={"<|endoftext|>", ...}' in message
    assert message == refusal("<|endoftext|>")


@pytest.mark.parametrize(
    "s, q",
    [
        ("a\tb\nc\rd\0e", '"a\\tb\\nc\\rd\\0e"'),
        ('say "hi" \\ it\'s', '"say \\"hi\\" \\\\ it\'s"'),
        ("e\u0301", '"e\\u{301}"'),  # Mn
        ("\u20dd", '"\\u{20dd}"'),  # Me
        ("\u09be\uff9e", '"\\u{9be}\\u{ff9e}"'),  # grapheme-extending, though Mc and Lm
        ("\u0903", '"\u0903"'),  # Mc that does not extend a grapheme
        ("\x7f\x85\xa0\u200d\u2028\ue000\U000e0001", '"\\u{7f}\\u{85}\\u{a0}\\u{200d}\\u{2028}\\u{e000}\\u{e0001}"'),
        ("é 😀 «»", '"é 😀 «»"'),
    ],
)
def test_refused_string_quoting(cl, s, q):
    assert quote(s) == q  # the test's own quoting agrees with the hand-written forms
    with pytest.raises(ValueError) as info:
        cl.encode("before " + s + " after", disallowed_special={s})
    assert str(info.value) == refusal(s)


# ---- argument binding and conversion ----

TEXT_METHODS = ["encode", "encode_ordinary", "encode_with_special", "encode_to_buffer", "encode_to_numpy", "count"]


@pytest.mark.parametrize("method", TEXT_METHODS + ["truncate"])
def test_text_argument_errors(cl, method):
    extra = (5,) if method == "truncate" else ()
    max_tokens = {"max_tokens": 5} if method == "truncate" else {}
    with pytest.raises(TypeError) as info:
        getattr(cl, method)(b"abc", *extra)
    assert str(info.value) == "'bytes' object is not an instance of 'str'"
    assert_noted(info.value, "text")
    with pytest.raises(TypeError) as info:
        getattr(cl, method)(None, *extra)
    assert str(info.value) == "'None' is not an instance of 'str'"
    with pytest.raises(UnicodeEncodeError) as info:
        getattr(cl, method)("a\ud800b", *extra)
    assert_noted(info.value, "text")
    with pytest.raises(TypeError, match=rf"^Tokenizer\.{method}\(\) missing 1 required positional argument: 'text'$"):
        getattr(cl, method)(**max_tokens)
    with pytest.raises(TypeError, match=rf"^Tokenizer\.{method}\(\) got an unexpected keyword argument 'txt'$"):
        getattr(cl, method)(*extra, txt="a")


def test_bytes_and_piece_arguments(cl, cl_tokens):
    for bad, name in [(bytearray(b"a"), "bytearray"), (memoryview(b"a"), "memoryview"), ("a", "str")]:
        with pytest.raises(TypeError) as info:
            cl.encode_bytes(bad)
        assert str(info.value) == f"'{name}' object is not an instance of 'bytes'"
        assert_noted(info.value, "data")
    for raw in [b"\xff\xfe", b"ab\x80\xc3", "日本".encode()[:-1]]:  # no UTF-8 validation
        assert b"".join(cl_tokens[i] for i in cl.encode_bytes(data=raw)) == raw
    # encode_single_token falls back to str and reports that type, without a note
    for bad, text in [(5, "'int' object is not an instance of 'str'"), (bytearray(b"a"), "'bytearray' object is not an instance of 'str'"),
                      (None, "'None' is not an instance of 'str'")]:
        with pytest.raises(TypeError) as info:
            cl.encode_single_token(bad)
        assert str(info.value) == text
        assert notes(info.value) is None


def test_max_tokens_argument(cl):
    for bad, exc_type in [(-1, OverflowError), (2**64, OverflowError), ("3", TypeError), (1.0, TypeError)]:
        with pytest.raises(exc_type) as info:
            cl.truncate("hello", bad)
        assert_noted(info.value, "max_tokens")
    assert cl.truncate(text="hello", max_tokens=2**64 - 1) == ("hello", 1)
    with pytest.raises(TypeError, match=r"^Tokenizer\.truncate\(\) missing 1 required positional argument: 'max_tokens'$"):
        cl.truncate("hello")


def test_policy_argument_binding(cl):
    text = "a <|endoftext|>"
    assert cl.encode(text=text, disallowed_special=(), allowed_special=set()) == cl.encode_ordinary(text)
    with pytest.raises(TypeError, match=r"^Tokenizer\.encode\(\) takes from 2 to 4 positional arguments but 5 were given$"):
        cl.encode(text, None, None, None)
    with pytest.raises(TypeError, match=r"^Tokenizer\.encode_to_buffer\(\) got multiple values for argument 'text'$"):
        cl.encode_to_buffer(text, text=text)


@pytest.mark.parametrize("method", ["encode", "encode_to_buffer", "encode_to_numpy"])
def test_special_set_argument_errors(cl, method):
    encode = getattr(cl, method)
    for bad in ["All", "x", ""]:
        with pytest.raises(ValueError) as info:
            encode("a", allowed_special=bad)
        assert str(info.value) == "allowed_special/disallowed_special must be 'all' or a collection of strings"
        assert notes(info.value) is None
    with pytest.raises(TypeError, match="^'int' object is not iterable$"):
        encode("a", allowed_special=5)
    with pytest.raises(TypeError, match="^'int' object is not an instance of 'str'$"):
        encode("a", disallowed_special=["<|endoftext|>", 5])

    class Boom(Exception):
        pass

    def failing():
        yield "<|endoftext|>"
        raise Boom

    with pytest.raises(Boom):
        encode("a", disallowed_special=failing())
    # allowed_special is converted first
    with pytest.raises(ValueError):
        encode("a", allowed_special="x", disallowed_special=5)


def test_special_set_argument_forms(cl):
    text = "x<|endoftext|>y<|fim_prefix|>"
    with_both = cl.encode_with_special(text)

    class Str(str):
        pass

    for form in ["all", Str("all"), ["<|endoftext|>", "<|fim_prefix|>"], ("<|fim_prefix|>", "<|endoftext|>", "<|fim_prefix|>"),
                 frozenset({"<|endoftext|>", "<|fim_prefix|>"}), {"<|endoftext|>": 1, "<|fim_prefix|>": 2},
                 iter(["<|fim_prefix|>", "<|endoftext|>"])]:
        assert cl.encode(text, allowed_special=form) == with_both
    for form in [(), [], set(), {}]:
        assert cl.encode(text, disallowed_special=form) == cl.encode_ordinary(text)


def test_signatures_and_docs():
    expected = {
        "encode": ("(self, text, allowed_special=None, disallowed_special=None)",
                   "tiktoken's `Encoding.encode`: raise if a disallowed special string occurs;\n"
                   "otherwise encode, turning allowed specials into their ids."),
        "encode_ordinary": ("(self, text)", "Encode ignoring special tokens entirely (tiktoken's `encode_ordinary`)."),
        "encode_bytes": ("(self, data)", "Encode raw bytes (no UTF-8 validation)."),
        "encode_with_special": ("(self, text)", "Every special-token string is turned into its id."),
        "encode_to_buffer": ("(self, text, allowed_special=None, disallowed_special=None)",
                             "Same as `encode`, but returns the ids as a little-endian uint32 buffer \u2014\n"
                             "the Python wrapper turns it into a numpy array with no per-token Python\n"
                             "int objects (the cost that otherwise dominates big inputs)."),
        "encode_to_numpy": ("(self, text, allowed_special=None, disallowed_special=None)",
                            "Same as `encode`, but returns a numpy `uint32` array \u2014 the fastest path\n"
                            "from Python: no per-token Python int objects, just one buffer."),
        "encode_single_token": ("(self, piece)", "Exact bytes/str of a SINGLE token -> its id."),
        "truncate": ("(self, text, max_tokens)",
                     "Truncate to at most `max_tokens` tokens. Returns `(text, total_tokens)`,\n"
                     "where `total_tokens` counts the whole input whether or not it was cut."),
        "count": ("(self, text)", None),
    }
    for name, (signature, doc) in expected.items():
        method = getattr(Tokenizer, name)
        assert str(inspect.signature(method)) == signature.replace("(self, ", "(self, /, ")
        assert method.__doc__ == doc
    registered = [name for name in vars(Tokenizer) if name in expected]
    assert registered == list(expected)


# ---- the policy of encode ----


def test_policy_cases(cl):
    text = "hello <|endoftext|>"
    eot = 100257
    assert cl.encode(text, allowed_special="all")[-1] == eot
    assert cl.encode(text, allowed_special={"<|endoftext|>"})[-1] == eot
    assert cl.encode(text, allowed_special={"<|endoftext|>"}) == cl.encode_ordinary("hello ") + [eot]
    assert cl.encode(text, disallowed_special=()) == cl.encode_ordinary(text)
    assert eot not in cl.encode(text, disallowed_special=())

    # the first refused string in byte order is reported, not the first in the text
    with pytest.raises(ValueError, match='token "<\\|endoftext\\|>"'):
        cl.encode("<|fim_prefix|> ... <|endoftext|>")
    with pytest.raises(ValueError, match='token "<\\|endofprompt\\|>"'):
        cl.encode("<|endofprompt|> <|endoftext|>", allowed_special={"<|endoftext|>"})

    assert cl.encode("a b c", disallowed_special={""}) == cl.encode_ordinary("a b c")
    with pytest.raises(ValueError, match='token "hello"'):
        cl.encode("say hello", disallowed_special={"hello"})
    # the check looks at the whole text, inside allowed specials too
    with pytest.raises(ValueError, match='token "endoftext"'):
        cl.encode("<|endoftext|>", allowed_special={"<|endoftext|>"}, disallowed_special={"endoftext"})
    # an allowed string that is no special only exempts it from the check
    assert cl.encode("say hello", allowed_special={"hello"}, disallowed_special={"hello"}) == cl.encode_ordinary("say hello")
    assert cl.encode("plain text") == cl.encode_ordinary("plain text")


@pytest.mark.parametrize("allowed", [None, "all", (), {"<|endoftext|>"}, {"nothing"}])
@pytest.mark.parametrize("disallowed", [None, "all", (), {""}, {"x"}])
def test_empty_text(tok, allowed, disallowed):
    for t in tok.values():
        assert t.encode("", allowed_special=allowed, disallowed_special=disallowed) == []
        assert t.encode_to_buffer("", allowed_special=allowed, disallowed_special=disallowed) == b""


TEXTS = [
    "",
    "hello world",
    "<|endoftext|><|endoftext|>",
    "a<|fim_prefix|>b<|fim_middle|>c<|fim_suffix|>d<|endofprompt|>",
    "<|start|>assistant<|channel|>final<|message|>Hi!<|end|><|reserved_200100|>",
    "日本語のテキスト 🎉🎉 e\u0301\n\n  x",
    "<|endoftext|" + "|>" * 3,
]


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
def test_id_lists_share_their_ints_safely(tok, name):
    # Lists of ids share the int objects of common ids across calls: a dropped list must leave the next
    # one intact, and ids on both sides of the shared range must come out right.
    t = tok[name]
    corpus = Path(__file__).parent / "corpus"
    text = "".join((corpus / f).read_text(encoding="utf-8") for f in ("cjk.txt", "cyrillic.txt", "arabic.txt"))
    buffer = t.encode_to_buffer(text)
    expected = list(struct.unpack(f"<{len(buffer) // 4}I", buffer))
    assert min(expected) < 65536 <= max(expected)
    for _ in range(20):
        ids = t.encode(text)
        assert ids == expected and all(type(i) is int for i in ids)
        del ids
    assert t.encode_ordinary(text) == expected
    assert t.encode_bytes(text.encode()) == expected
    assert t.encode_with_offsets(text)[0] == expected
    assert [t.encode(chr(c)) for c in range(0x4E00, 0x4E40)] == [
        numpy.frombuffer(t.encode_to_buffer(chr(c)), dtype="<u4").tolist() for c in range(0x4E00, 0x4E40)]


@pytest.mark.parametrize("name", ENCODINGS)
def test_count_buffer_and_numpy_agree_with_encode(tok, name):
    t = tok[name]
    for text in TEXTS:
        ordinary = t.encode_ordinary(text)
        assert t.count(text) == len(ordinary)
        assert t.encode_bytes(text.encode()) == ordinary
        ids = t.encode(text, allowed_special="all")
        assert ids == t.encode_with_special(text)
        buffer = t.encode_to_buffer(text, allowed_special="all")
        assert len(buffer) == 4 * len(ids)
        assert list(struct.unpack(f"<{len(ids)}I", buffer)) == ids
        assert numpy.frombuffer(buffer, dtype="<u4").tolist() == ids
        array = t.encode_to_numpy(text, allowed_special="all")
        assert array.dtype == numpy.uint32 and array.ndim == 1
        assert array.tolist() == ids


def long_texts():
    """Texts past the length from which the binding makes the UTF-8 of a wide str itself: ASCII prose
    with a few characters that make the str one, two or four bytes per character; text that is mostly
    not ASCII; and text whose evenly spaced characters are ASCII and all others CJK (it looks like
    mostly ASCII from a sample and needs far more bytes than characters)."""
    import random
    rng = random.Random(7)
    words = ["the", "tokenizer", "counts", "text", "and", "ids", "of", "every", "piece", "quickly", "\n"]
    prose = " ".join(rng.choice(words) for _ in range(6000))

    def sprinkle(extra):
        parts = prose.split(" ")
        return " ".join(p + extra if k % 97 == 0 else p for k, p in enumerate(parts))

    n = 256 * 100
    spaced = "".join("x" if k % 100 == 0 else chr(0x4E00 + k % 5000) for k in range(n))
    return {"latin1": sprinkle("é"), "two-byte": sprinkle("\u201d"), "four-byte": sprinkle("\U0001F600"),
            "cyrillic": " ".join("тексты" for _ in range(5000)), "spaced-cjk": spaced}


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
def test_long_wide_texts(tok, cl_tokens, name):
    t = tok[name]
    for label, text in long_texts().items():
        assert len(text) >= 1 << 14, label
        data = text.encode()
        ids = t.encode_bytes(data)

        def fresh(text=text):
            return ("." + text)[1:]  # an equal str that keeps no UTF-8 of its own

        assert t.encode_ordinary(fresh()) == ids, label
        assert t.encode(fresh()) == ids and t.count(fresh()) == len(ids), label
        assert t.encode_to_numpy(fresh()).tolist() == ids, label
        offsets = t.encode_with_offsets(fresh(), unit="char")
        assert offsets[0] == ids and offsets[1][-1][1] == len(text), label
        if name == "cl100k_base":
            kept, total = t.truncate(fresh(), 1000)
            assert total == len(ids) and kept.encode() == data[:ref_truncate(cl_tokens, ids, data, 1000)[0]], label
        # The same str once the interpreter keeps its UTF-8 (a single-token lookup makes it): the same results.
        kept_utf8 = fresh()
        with pytest.raises(KeyError):
            t.encode_single_token(kept_utf8)
        assert t.encode_with_offsets(kept_utf8, unit="char") == offsets, label
    texts = list(long_texts().values())
    expected = [t.encode_bytes(text.encode()) for text in texts]
    assert split_flat(*t.encode_batch([("." + text)[1:] for text in texts])) == expected
    assert t.count_batch([("." + text)[1:] for text in texts]) == [len(ids) for ids in expected]
    for call, param in ((t.count, "text"), (lambda text: t.count_batch(["x", text]), "texts")):
        with pytest.raises(UnicodeEncodeError) as info:
            call(long_texts()["two-byte"] + "\ud800")
        assert_noted(info.value, param)


def test_numpy_imported_on_demand(cl, monkeypatch):
    message = "the numpy methods need numpy installed: pip install 'lexaro-rs[numpy]'"
    with monkeypatch.context() as patch:
        patch.setitem(sys.modules, "numpy", None)  # makes `import numpy` fail
        with pytest.raises(RuntimeError) as info:
            cl.encode_to_numpy("hello")
        assert str(info.value) == message
        assert info.value.__context__ is None  # the import error is discarded
        # the arguments and the policy come first
        with pytest.raises(ValueError):
            cl.encode_to_numpy("<|endoftext|>")
        with pytest.raises(TypeError):
            cl.encode_to_numpy(5)
    # found again once it can be imported
    assert cl.encode_to_numpy("hello").tolist() == cl.encode("hello")


def test_dense_specials(tok):
    harmony = tok["o200k_harmony"]
    text = "<|start|>" * 22000  # about 200 KB
    assert harmony.encode(text, allowed_special="all") == [200006] * 22000
    assert harmony.encode_with_special(text) == [200006] * 22000
    with pytest.raises(ValueError, match='token "<\\|start\\|>"'):
        harmony.encode(text)
    mixed = "<|reserved_200100|>x" * 5000
    assert harmony.encode(mixed, allowed_special={"<|reserved_200100|>"}) == [200100, harmony.encode_single_token("x")] * 5000


# ---- single tokens, truncate ----


def test_encode_single_token(cl, cl_tokens):
    assert cl.encode_single_token(b"hello") == cl.encode_single_token("hello") == cl.encode_ordinary("hello")[0]
    assert cl.encode_single_token("<|endoftext|>") == 100257
    assert cl.encode_single_token(b"<|endofprompt|>") == 100276
    for token_id in [0, 255, 1000, 50000, 100255]:
        assert cl.encode_single_token(cl_tokens[token_id]) == token_id
    for piece in ["hello world", "", b"", "<|endoftext|> "]:
        with pytest.raises(KeyError) as info:
            cl.encode_single_token(piece)
        assert info.value.args == ("bytes are not a single token in this encoding",)


def ref_truncate(tokens, ids, data, max_tokens):
    """(byte_len, total) by summing token lengths and backing off to a character boundary."""
    if len(ids) <= max_tokens:
        return len(data), len(ids)
    cut = sum(len(tokens[i]) for i in ids[:max_tokens])
    while 0 < cut < len(data) and 0x80 <= data[cut] <= 0xBF:
        cut -= 1
    return cut, len(ids)


def test_truncate(cl, cl_tokens):
    text = "héllo wörld 🎉🎉 日本語 and more"
    assert cl.truncate(text, 10**9)[0] is text
    full = cl.count(text)
    assert cl.truncate(text, 10**9) == (text, full)
    assert cl.truncate(text, full)[0] is text
    assert cl.truncate(text, 0) == ("", full)
    data = text.encode()
    ids = cl.encode_ordinary(text)
    cut_inside_character = 0
    for k in range(full):
        kept, total = cl.truncate(text, k)
        assert total == full
        byte_len, _ = ref_truncate(cl_tokens, ids, data, k)
        assert kept.encode() == data[:byte_len]
        if byte_len < sum(len(cl_tokens[i]) for i in ids[:k]):
            cut_inside_character += 1
    assert cut_inside_character > 0  # the text has tokens that end inside a character
    assert cl.truncate("", 0) == ("", 0)


# ---- differential test of the special-token searches ----

# (text, id) in list order: shared prefixes both ways, overlaps, a duplicate text,
# non-ASCII and escaped characters.
CRAFTED = [
    ("<|ab", 200001),
    ("<|abc|>", 200002),
    ("c|>xy", 200003),
    ("[[long]]", 200004),
    ("[[", 200005),
    ("<|dup|>", 200006),
    ("<|dup|>", 200007),
    ("«é»", 200008),
    ("e\u0301!", 200009),
    ('<"\t\\>', 200010),
    ("<|endoftext|>", 199999),
    ("|>x", 200011),
    ("§", 200012),
]
OTHER_STRINGS = ["ab", "xy", "<|", "", "é", "hello", "]]"]
FRAGMENTS = [s for s, _ in CRAFTED] + OTHER_STRINGS + ["<", "|", ">", "[", "]", "c", "x", "y", " ", "\n", "e", "\u0301", "!", "«", "»", "dup", "long"]


@pytest.fixture(scope="module")
def crafted(tmp_path_factory):
    datadir = tmp_path_factory.mktemp("crafted")
    shutil.copy(DATA / "o200k.vocab", datadir)
    shutil.copy(DATA / "uniclass_o200k.bin", datadir)
    records = [struct.pack("<I", len(CRAFTED))]
    for text, token_id in CRAFTED:
        raw = text.encode()
        records.append(struct.pack("<IH", token_id, len(raw)) + raw)
    (datadir / "o200k.special").write_bytes(b"".join(records))
    return Tokenizer("o200k_base", str(datadir))


def find_from(data, s, pos):
    """First start of s at or after pos, scanning one position at a time."""
    i = pos
    while i + len(s) <= len(data):
        if data[i] == s[0] and data[i : i + len(s)] == s:
            return i
        i += 1
    return None


def ref_split(t, candidates, text):
    """Cut at the leftmost candidate (earlier in the list on equal starts), encoding the rest ordinarily."""
    data, out, pos = text.encode(), [], 0
    if not candidates:
        return t.encode_bytes(data)
    while pos < len(data):
        best = None
        for s, token_id in candidates:
            s = s.encode()
            start = find_from(data, s, pos) if s and len(s) <= len(data) - pos else None
            if start is not None and (best is None or start < best[0]):
                best = (start, len(s), token_id)
        if best is None:
            out += t.encode_bytes(data[pos:])
            break
        start, length, token_id = best
        out += t.encode_bytes(data[pos:start]) + [token_id]
        pos = start + length
    return out


def ref_set(value, default_all):
    if value is None:
        return {s for s, _ in CRAFTED} if default_all else set()
    if value == "all":
        return {s for s, _ in CRAFTED}
    return set(value)


def ref_encode(t, text, allowed_special, disallowed_special):
    """(ids, None) or (None, refused string)."""
    allowed = ref_set(allowed_special, False)
    disallowed = ref_set(disallowed_special, True) - allowed
    for s in sorted(disallowed, key=str.encode):
        if s and s.encode() in text.encode():
            return None, s
    return ref_split(t, [(s, i) for s, i in CRAFTED if s in allowed], text), None


special_sets = st.one_of(
    st.none(),
    st.just("all"),
    st.sets(st.sampled_from([s for s, _ in CRAFTED] + OTHER_STRINGS), max_size=8),
)


@settings(max_examples=400, deadline=None)
@given(
    text=st.lists(st.sampled_from(FRAGMENTS), max_size=30).map("".join),
    allowed=special_sets,
    disallowed=special_sets,
)
def test_special_searches_match_slow_reference(crafted, text, allowed, disallowed):
    assert crafted.encode_with_special(text) == ref_split(crafted, CRAFTED, text)
    expected, refused = ref_encode(crafted, text, allowed, disallowed)
    if refused is not None:
        with pytest.raises(ValueError) as info:
            crafted.encode(text, allowed_special=allowed, disallowed_special=disallowed)
        assert str(info.value) == refusal(refused)
    else:
        assert crafted.encode(text, allowed_special=allowed, disallowed_special=disallowed) == expected
        assert crafted.encode_to_numpy(text, allowed_special=allowed, disallowed_special=disallowed).tolist() == expected


def test_crafted_tie_breaks(crafted):
    everything = crafted.encode_with_special
    assert everything("<|abc|>") == [200001] + crafted.encode_ordinary("c|>")  # earlier listed, though shorter
    assert everything("[[long]]") == [200004]  # earlier listed and longer
    assert everything("[[x]]") == [200005] + crafted.encode_ordinary("x]]")
    assert everything("<|dup|>") == [200006]
    assert everything("<|a<|abc|>xy") == crafted.encode_ordinary("<|a") + [200001, 200003]  # overlap resumes after the end
    assert crafted.encode("<|abc|>", allowed_special={"<|abc|>"}, disallowed_special=()) == [200002]
    # refused in byte order: a prefix before the longer string
    with pytest.raises(ValueError, match='token "<\\|ab"'):
        crafted.encode("zz <|abc|>", allowed_special=set())
