"""Encoding: every method against a model of the familiar API built on the slow reference encoder.

The model follows the published rules: the disallowed strings are searched in the text as given ("all"
means every special string that is not allowed), the text is then re-coded (surrogate pairs joined, lone
surrogates replaced by U+FFFD) and encoded with the allowed special strings only; decoding joins token
bytes (an unknown id is a KeyError) and hands them to bytes.decode with the caller's error handler.
"""
from __future__ import annotations

import codecs
import pickle
import random

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import lexaro
import reference as ref
from strategies import INVALID_SEQUENCES, fragment, mixed_text

ENCODINGS = ["cl100k_base", "o200k_base", "o200k_harmony"]
SETTINGS = settings(max_examples=120, deadline=None, suppress_health_check=[HealthCheck.too_slow])
HANDLERS = ["strict", "replace", "ignore", "surrogateescape", "backslashreplace", "surrogatepass", "lexaro-test-mark"]
SURROGATE_PIECES = ["\udc80", "\ud800", "\ud83e\udd16", "\udfff\ud800", "a\ud83e", "\ud83ex", "\ud83d\ude00\udc00"]

# A handler of one's own: marks each fault with its bytes in hex.
codecs.register_error("lexaro-test-mark", lambda e: (f"<{e.object[e.start:e.end].hex()}>", e.end))


# ---- the model ----


def specials_of(name):
    return [(text.decode("utf-8"), token) for text, token in ref.load(name).specials]


def joined_surrogates(text):
    """Surrogate pairs become their character, every other surrogate U+FFFD."""
    out, i = [], 0
    while i < len(text):
        c = ord(text[i])
        nxt = ord(text[i + 1]) if i + 1 < len(text) else 0
        if 0xD800 <= c < 0xDC00 and 0xDC00 <= nxt < 0xE000:
            out.append(chr(0x10000 + ((c - 0xD800) << 10) + (nxt - 0xDC00)))
            i += 2
            continue
        out.append("\ufffd" if 0xD800 <= c < 0xE000 else text[i])
        i += 1
    return "".join(out)


def model_encode(name, text, allowed=frozenset(), disallowed="all"):
    strings = {s for s, _ in specials_of(name)}
    allowed = strings if allowed == "all" else set(allowed)
    disallowed = strings - allowed if disallowed == "all" else set(disallowed)
    hits = [s for s in disallowed if s in text]
    if hits:
        raise ValueError(hits)
    enc = ref.load(name)
    kept = [(s, token) for s, token in enc.specials if s.decode("utf-8") in allowed]
    return ref.Encoding(name, enc.tables, kept).encode_with_special(joined_surrogates(text).encode("utf-8"))


def model_bytes(name, ids):
    enc = ref.load(name)
    special = {token: s for s, token in reversed(enc.specials)}
    out = b""
    for i in ids:
        if 0 <= i < len(enc.token_bytes):
            out += enc.token_bytes[i]
        elif i in special:
            out += special[i]
        else:
            raise KeyError(i)
    return out


def outcome(fn, *args, **kwargs):
    """The result, or the type of the exception raised."""
    try:
        return fn(*args, **kwargs)
    except Exception as error:  # noqa: BLE001 - the type is compared
        return type(error)


def api_text():
    piece = st.one_of(
        fragment(),
        fragment(),
        st.sampled_from(["<|endoftext|>", "<|fim_prefix|>", "<|endofprompt|>", "<|start|>", "<|end", "|>"]),
        st.sampled_from(SURROGATE_PIECES),
    )
    return st.lists(piece, max_size=12).map("".join)


POLICIES = [
    {},
    {"allowed_special": "all"},
    {"allowed_special": {"<|endoftext|>"}},
    {"allowed_special": ["<|endoftext|>", "<|endofprompt|>"]},
    {"allowed_special": {"not special"}},
    {"disallowed_special": ()},
    {"disallowed_special": None},
    {"disallowed_special": {"<|endofprompt|>", "end"}},
    {"allowed_special": {"<|endoftext|>"}, "disallowed_special": ()},
    {"allowed_special": {"<|endoftext|>"}, "disallowed_special": {"<|endoftext|>"}},
    {"allowed_special": "all", "disallowed_special": {"<|start|>"}},
    {"disallowed_special": {""}},
]


def model_policy(name, text, policy):
    allowed = policy.get("allowed_special", frozenset())
    disallowed = policy.get("disallowed_special", "all")
    return model_encode(name, text, allowed, disallowed or ())


# ---- encoding ----


@pytest.mark.parametrize("name", ENCODINGS)
@SETTINGS
@given(text=api_text(), policy=st.sampled_from(POLICIES))
def test_encode_matches_model(name, text, policy):
    enc = lexaro.get_encoding(name)
    want = outcome(model_policy, name, text, policy)
    assert outcome(enc.encode, text, **policy) == want
    got = outcome(enc.encode_to_numpy, text, **policy)
    assert got == want if isinstance(got, type) else got.dtype == np.uint32 and got.tolist() == want
    assert enc.encode_ordinary(text) == model_encode(name, text, disallowed=())


@pytest.mark.parametrize("name", ENCODINGS)
@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(texts=st.lists(api_text(), max_size=6), policy=st.sampled_from(POLICIES), threads=st.sampled_from([1, 2, 8]))
def test_batches_match_model(name, texts, policy, threads):
    enc = lexaro.get_encoding(name)
    want = outcome(lambda: [model_policy(name, t, policy) for t in texts])
    assert outcome(enc.encode_batch, texts, num_threads=threads, **policy) == want
    assert enc.encode_ordinary_batch(texts, num_threads=threads) == [model_encode(name, t, disallowed=()) for t in texts]


def test_batch_with_some_specials_allowed_encodes_the_others_as_text():
    enc = lexaro.get_encoding("cl100k_base")
    texts = ["a<|endoftext|>b<|fim_prefix|>c", "<|fim_prefix|><|endoftext|>", "plain", "\udc80<|endoftext|>"] * 3
    allowed = {"<|endoftext|>"}
    got = enc.encode_batch(texts, allowed_special=allowed, disallowed_special=())
    assert got == [model_encode("cl100k_base", t, allowed, ()) for t in texts]
    assert got[1][-1] == 100257 and 100258 not in got[1]


def test_encode_argument_errors():
    enc = lexaro.get_encoding("cl100k_base")
    with pytest.raises(ValueError, match="disallowed special token \"<|endoftext|>\""):
        enc.encode("x <|endoftext|>")
    with pytest.raises(ValueError, match="disallowed special token \"<|endoftext|>\""):
        enc.encode_batch(["fine", "x <|endoftext|>"])
    for bad in ("All", "x"):
        with pytest.raises(ValueError, match="must be 'all' or a collection"):
            enc.encode("a", allowed_special=bad)
        with pytest.raises(ValueError, match="must be 'all' or a collection"):
            enc.encode_batch(["a"], allowed_special=bad)
    with pytest.raises(TypeError):
        enc.encode(b"bytes")
    with pytest.raises(TypeError):
        enc.encode_batch("a str is not a batch")
    with pytest.raises(TypeError):
        enc.encode_ordinary_batch(["a", 5])
    with pytest.raises(TypeError):
        enc.encode("a", allowed_special={"x"}, disallowed_special=5)
    with pytest.raises(OverflowError):
        enc.encode_batch(["a"], num_threads=-1)
    # keyword-only options, as documented
    with pytest.raises(TypeError):
        enc.encode("a", "all")
    # any iterable works for both sets, a generator included
    assert enc.encode("<|endoftext|>", allowed_special=(s for s in ["<|endoftext|>"]),
                      disallowed_special=(s for s in ["<|fim_prefix|>"])) == [100257]


def test_surrogates_are_recoded_not_refused():
    enc = lexaro.get_encoding("o200k_base")
    assert enc.encode("a\ud83e\udd16b") == enc.encode("a\U0001f916b")
    assert enc.encode("\udc80x\ud800") == enc.encode("\ufffdx\ufffd")
    assert enc.encode_single_token("\udc80") == enc.encode_single_token("\ufffd")
    assert enc.encode_ordinary_batch(["\ud800", "ok"]) == [enc.encode("\ufffd"), enc.encode("ok")]
    # the Tokenizer keeps its own rule
    with pytest.raises(UnicodeEncodeError):
        enc.tokenizer.encode("\udc80")
    # a surrogate in an allowed string is still an error: it names no special token
    with pytest.raises(UnicodeEncodeError):
        enc.encode("a", allowed_special={"\udc80"})


@pytest.mark.parametrize("name", ENCODINGS)
def test_single_tokens_and_attributes(name):
    enc = lexaro.get_encoding(name)
    r = ref.load(name)
    specials = specials_of(name)
    assert enc.name == name
    assert enc.n_vocab == max([len(r.token_bytes)] + [t + 1 for _, t in specials])
    assert enc.max_token_value == enc.n_vocab - 1
    assert enc.eot_token == dict(specials)["<|endoftext|>"]
    assert enc.special_tokens_set == {s for s, _ in specials}
    enc.special_tokens_set.add("changed")
    assert "changed" not in enc.special_tokens_set
    for s, token in specials[:50]:
        assert enc.encode_single_token(s) == token
        assert enc.decode_single_token_bytes(token) == model_bytes(name, [token])  # first entry of an id
        assert enc.is_special_token(token)
    for token in random.Random(name).sample(range(len(r.token_bytes)), 300):
        data = r.token_bytes[token]
        assert enc.encode_single_token(data) == token
        assert enc.decode_single_token_bytes(token) == data
        assert not enc.is_special_token(token)
    for not_special in (-1, 2**32, 2**70, len(r.token_bytes) - 1):
        assert not enc.is_special_token(not_special)
    with pytest.raises(KeyError):
        enc.encode_single_token("hello world, more than one token")
    with pytest.raises(KeyError):
        enc.decode_single_token_bytes(enc.n_vocab)
    with pytest.raises(OverflowError):
        enc.decode_single_token_bytes(-1)


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_harmony"])
def test_token_byte_values_are_sorted_bytes(name):
    enc = lexaro.get_encoding(name)
    values = enc.token_byte_values()
    assert values == sorted(ref.load(name).token_bytes)
    values.clear()
    assert len(enc.token_byte_values()) == len(ref.load(name).token_bytes)
    # the Tokenizer keeps id order
    assert enc.tokenizer.token_byte_values()[:3] == [b"!", b'"', b"#"]


# ---- decoding ----


def partial_tokens(name):
    """Ordinary tokens whose bytes are not valid UTF-8 on their own."""
    found = []
    for token, data in enumerate(ref.load(name).token_bytes):
        try:
            data.decode("utf-8")
        except UnicodeDecodeError:
            found.append(token)
    return found


def single_byte_tokens(name):
    return [token for token, data in enumerate(ref.load(name).token_bytes) if len(data) == 1]


def unknown_ids(name):
    """Ids that are neither ordinary nor special: gaps between the special ids, and beyond them."""
    n_ordinary = len(ref.load(name).token_bytes)
    special = {t for _, t in specials_of(name)}
    top = max(special) + 1
    return [t for t in range(n_ordinary, top) if t not in special][:5] + [top, 2**32 - 1]


def id_sequences(name):
    choices = [
        st.integers(0, len(ref.load(name).token_bytes) - 1),
        st.sampled_from(partial_tokens(name)),
        st.sampled_from(single_byte_tokens(name)),
        st.sampled_from([t for _, t in specials_of(name)]),
        st.sampled_from(unknown_ids(name)),
    ]
    return st.lists(st.one_of(*choices), max_size=16)


ID_SEQUENCES = {name: id_sequences(name) for name in ("cl100k_base", "o200k_base")}


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
@settings(max_examples=200, deadline=None)
@given(data=st.data())
def test_decode_matches_python(name, data):
    enc = lexaro.get_encoding(name)
    ids = data.draw(ID_SEQUENCES[name])
    errors = data.draw(st.sampled_from(HANDLERS))
    raw = outcome(model_bytes, name, ids)
    assert outcome(enc.decode_bytes, ids) == raw
    want = raw if isinstance(raw, type) else outcome(raw.decode, "utf-8", errors)
    assert outcome(enc.decode, ids, errors) == want
    assert outcome(enc.decode, ids, errors=errors) == want
    assert outcome(enc.decode_batch, [ids, [0]], errors=errors) == (want if isinstance(want, type) else [want, "!"])
    assert outcome(enc.decode_bytes_batch, [ids], num_threads=2) == (raw if isinstance(raw, type) else [raw])
    assert outcome(enc.decode_tokens_bytes, ids) == outcome(lambda: [model_bytes(name, [i]) for i in ids])
    # integer buffers decode as lists do
    assert outcome(enc.decode, np.array(ids, dtype=np.uint32), errors) == want


def test_decode_details():
    enc = lexaro.get_encoding("cl100k_base")
    ids = enc.encode("a\ufffdb")
    # a U+FFFD that the bytes encode validly survives "ignore" (the Tokenizer drops it)
    assert enc.decode(ids, "ignore") == "a\ufffdb"
    assert enc.tokenizer.decode(ids, "ignore") == "ab"
    partial = enc.encode("\U0001f916")[:1]
    with pytest.raises(UnicodeDecodeError):
        enc.decode(partial, "strict")
    assert enc.decode(partial, "surrogateescape") == enc.decode_bytes(partial).decode("utf-8", "surrogateescape")
    with pytest.raises(KeyError, match="unknown token id 100256"):
        enc.decode([100256])
    assert enc.tokenizer.decode([100256]) == ""
    with pytest.raises(KeyError):
        enc.decode_batch([[1], [100261]])
    with pytest.raises(LookupError):
        enc.decode(partial, "no such handler")
    with pytest.raises(TypeError):
        enc.decode("abc")
    with pytest.raises(OverflowError):
        enc.decode([-1])
    assert enc.decode([]) == "" and enc.decode_bytes(()) == b"" and enc.decode_batch([]) == []


def test_decode_with_offsets_worked_example():
    enc = lexaro.get_encoding("cl100k_base")
    ids = enc.encode("héllo 🤖 wörld")
    assert enc.decode_tokens_bytes(ids) == [b"h", b"\xc3\xa9l", b"lo", b" \xf0\x9f", b"\xa4", b"\x96", b" w",
                                           b"\xc3\xb6r", b"ld"]
    assert enc.decode_with_offsets(ids) == ("héllo 🤖 wörld", [0, 1, 3, 5, 6, 6, 7, 9, 11])


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
@settings(max_examples=150, deadline=None)
@given(text=mixed_text(), allowed=st.booleans())
def test_decode_with_offsets_matches_model(name, text, allowed):
    enc = lexaro.get_encoding(name)
    ids = enc.encode(text + "<|endoftext|>", allowed_special="all" if allowed else frozenset(), disallowed_special=())
    data = model_bytes(name, ids)
    offsets, at = [], 0
    for i in ids:
        # characters that start before the token's first byte; a token that starts inside a character
        # belongs to that character
        starts = sum(1 for b in data[:at] if not 0x80 <= b < 0xC0)
        offsets.append(starts - 1 if at < len(data) and 0x80 <= data[at] < 0xC0 else starts)
        at += len(model_bytes(name, [i]))
    assert enc.decode_with_offsets(ids) == (data.decode("utf-8"), offsets)


def test_decode_with_offsets_is_strict():
    enc = lexaro.get_encoding("cl100k_base")
    ids = enc.encode("\U0001f916")
    assert enc.decode_with_offsets([]) == ("", [])
    with pytest.raises(UnicodeDecodeError):
        enc.decode_with_offsets(ids[:1])
    with pytest.raises(KeyError):
        enc.decode_with_offsets([0, 100256])


def test_datadir_encoding_matches_builtin(tmp_path):
    for f in ref.DATA_DIR.iterdir():
        (tmp_path / f.name).write_bytes(f.read_bytes())
    enc = lexaro.Encoding(lexaro.Tokenizer("o200k_harmony", str(tmp_path)))
    shared = lexaro.get_encoding("o200k_harmony")
    text = "<|start|>user<|message|>hé 🤖\udc80<|end|>"
    assert enc.encode(text, allowed_special="all") == shared.encode(text, allowed_special="all")
    assert enc.special_tokens_set == shared.special_tokens_set
    assert repr(enc) == "<Encoding 'o200k_harmony'>"
    with pytest.raises(TypeError):
        lexaro.Encoding("o200k_harmony")
    assert pickle.loads(pickle.dumps(enc)).encode("x y") == shared.encode("x y")


def test_invalid_bytes_decode_like_python():
    # every invalid sequence the strategies know, behind each ASCII token and split over tokens
    enc = lexaro.get_encoding("o200k_base")
    byte_id = {ref.load("o200k_base").token_bytes[t][0]: t for t in single_byte_tokens("o200k_base")}
    for seq in INVALID_SEQUENCES:
        ids = enc.encode("a") + [byte_id[b] for b in seq] + enc.encode("z")
        for errors in HANDLERS:
            assert outcome(enc.decode, ids, errors) == outcome((b"a" + seq + b"z").decode, "utf-8", errors)
