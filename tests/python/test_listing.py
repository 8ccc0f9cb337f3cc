"""Introspection members against the data files read independently, crafted special lists,
fresh objects per call, and the class surface: member order, text signatures, doc texts."""

import inspect

import pytest

import reference
from lexaro import Tokenizer
from conftest import assert_noted

NAMES = ["cl100k_base", "o200k_base", "o200k_harmony"]


def test_documented_special_lists(tok):
    assert tok["cl100k_base"].special_tokens() == [
        ("<|endoftext|>", 100257),
        ("<|fim_prefix|>", 100258),
        ("<|fim_middle|>", 100259),
        ("<|fim_suffix|>", 100260),
        ("<|endofprompt|>", 100276),
    ]
    assert tok["o200k_base"].special_tokens() == [("<|endoftext|>", 199999), ("<|endofprompt|>", 200018)]
    assert tok["o200k_base"].special_tokens_set == {"<|endoftext|>", "<|endofprompt|>"}
    assert len(tok["o200k_harmony"].special_tokens()) == 1091
    assert len(tok["o200k_harmony"].special_tokens_set) == 1091


@pytest.mark.parametrize("name", NAMES)
def test_members_agree_with_the_data_files(tok, name):
    t = tok[name]
    tables = reference.load(name)
    specials = [(text.decode("utf-8"), token_id) for text, token_id in tables.specials]
    assert t.special_tokens() == specials
    assert t.special_tokens_set == {text for text, _ in specials}
    values = t.token_byte_values()
    assert values == tables.token_bytes
    assert len(values) == {"cl100k_base": 100256}.get(name, 199998)
    special_ids = {token_id for _, token_id in specials}
    for token_id in range(t.n_vocab + 2):
        assert t.is_special_token(token_id) is (token_id in special_ids)
    assert t.is_special_token(4294967295) is False


def test_crafted_special_list_keeps_duplicates_and_order(tmp_path):
    from test_construction import SINGLE_BYTES, empty_uniclass, special_bytes, vocab_bytes, write_datadir

    specials = [("<|z|>", 300), ("<|é|>", 300), ("<|a|>", 5), ("<|z|>", 0xFFFFFFFF)]
    datadir = write_datadir(tmp_path, "cl100k_base", vocab_bytes(SINGLE_BYTES[:100]), special_bytes(specials),
                            empty_uniclass("cl100k_base"))
    tok = Tokenizer("cl100k_base", datadir)
    assert tok.special_tokens() == specials
    assert tok.special_tokens_set == {"<|z|>", "<|é|>", "<|a|>"}
    # Any entry's id counts, even one that is also an ordinary id.
    assert [tok.is_special_token(i) for i in (5, 6, 300, 301, 0xFFFFFFFF)] == [True, False, True, False, True]
    assert tok.token_byte_values() == SINGLE_BYTES[:100]


def test_no_special_tokens(tmp_path):
    from test_construction import SINGLE_BYTES, empty_uniclass, vocab_bytes, write_datadir

    datadir = write_datadir(tmp_path, "o200k_base", vocab_bytes(SINGLE_BYTES), None, empty_uniclass("o200k_base"))
    tok = Tokenizer("o200k_base", datadir)
    assert tok.special_tokens() == []
    assert tok.special_tokens_set == set()
    assert not any(tok.is_special_token(i) for i in (0, 255, 199999))


def test_every_call_builds_new_objects(tok):
    t = tok["cl100k_base"]
    first = t.special_tokens_set
    first.add("mine")
    first.discard("<|endoftext|>")
    assert t.special_tokens_set == {"<|endoftext|>", "<|fim_prefix|>", "<|fim_middle|>", "<|fim_suffix|>",
                                      "<|endofprompt|>"}
    assert t.special_tokens_set is not t.special_tokens_set
    listed = t.special_tokens()
    listed.clear()
    assert len(t.special_tokens()) == 5
    values = t.token_byte_values()
    values[0] = b"changed"
    assert t.token_byte_values()[0] == reference.load("cl100k_base").token_bytes[0]
    with pytest.raises(AttributeError):
        t.special_tokens_set = set()


def test_argument_errors(tok):
    t = tok["cl100k_base"]
    for bad, exc_type, message in [
        (-1, OverflowError, "out of range integral type conversion attempted"),
        (2**32, OverflowError, "out of range integral type conversion attempted"),
        ("1", TypeError, "'str' object is not an instance of 'int'"),
        (None, TypeError, "'None' is not an instance of 'int'"),
    ]:
        with pytest.raises(exc_type) as info:
            t.is_special_token(bad)
        assert str(info.value) == message
        assert_noted(info.value, "id")
    assert t.is_special_token(id=100257) is True
    for call, message in [
        (lambda: t.special_tokens(1), "Tokenizer.special_tokens() takes 1 positional argument but 2 were given"),
        (lambda: t.token_byte_values(x=1), "Tokenizer.token_byte_values() got an unexpected keyword argument 'x'"),
        (lambda: t.is_special_token(), "Tokenizer.is_special_token() missing 1 required positional argument: 'id'"),
    ]:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message


# ---- the class surface ----

METHODS = [
    "encode", "encode_ordinary", "encode_bytes", "encode_with_special", "encode_to_buffer", "encode_to_numpy",
    "encode_batch_to_numpy", "encode_with_offsets", "encode_single_token", "truncate", "truncate_batch", "count",
    "encode_batch", "count_batch", "decode", "decode_bytes", "decode_single_token_bytes", "decode_batch",
    "token_byte_values", "is_special_token", "special_tokens",
]
PROPERTIES = ["name", "memory_bytes", "n_vocab", "max_token_value", "eot_token", "special_tokens_set"]


def test_class_dict_order():
    members = [key for key in vars(Tokenizer) if key in METHODS or key in PROPERTIES]
    assert members == METHODS[:-1] + PROPERTIES + METHODS[-1:]


@pytest.mark.parametrize(
    "method, signature, doc",
    [
        ("encode_with_offsets", '($self, text, unit="byte")',
         'Ordinary ids + per-token spans. `unit="byte"` gives exact UTF-8 byte\n'
         'offsets (they tile the input); `unit="char"` gives code-point offsets\n'
         "(HF `offset_mapping` shape)."),
        ("decode", '($self, ids, errors="replace")', ""),
        ("decode_bytes", "($self, ids)", ""),
        ("decode_single_token_bytes", "($self, id)", ""),
        ("decode_batch", '($self, batch, errors="replace")', ""),
        ("token_byte_values", "($self)", "All base-vocab token byte strings, indexed by id."),
        ("is_special_token", "($self, id)", ""),
        ("special_tokens", "($self)", "`{special string: id}` \u2014 tiktoken's `_special_tokens`."),
    ],
)
def test_text_signatures_and_docs(method, signature, doc):
    function = getattr(Tokenizer, method)
    assert function.__text_signature__ == signature
    assert function.__doc__ == (doc or None)
    # Every parameter may be given by position or by keyword.
    parameters = list(inspect.signature(function).parameters.values())[1:]
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in parameters)
    assert type(Tokenizer.special_tokens_set).__name__ == "getset_descriptor"
    assert Tokenizer.special_tokens_set.__doc__ is None
