"""Lookup functions: encoding names, the model tables as published, one shared Encoding per name."""
from __future__ import annotations

import threading
import time

import pytest

import lexaro
from lexaro import registry

O200K = ["o1", "o3", "o4-mini", "gpt-5", "gpt-4.1", "gpt-4o"]
CL100K = ["gpt-4", "gpt-3.5-turbo", "gpt-3.5", "gpt-35-turbo", "davinci-002", "babbage-002",
          "text-embedding-ada-002", "text-embedding-3-small", "text-embedding-3-large"]
LEGACY = {
    "p50k_base": ["text-davinci-003", "text-davinci-002", "code-davinci-002", "code-davinci-001",
                  "code-cushman-002", "code-cushman-001", "davinci-codex", "cushman-codex"],
    "p50k_edit": ["text-davinci-edit-001", "code-davinci-edit-001"],
    "r50k_base": ["text-davinci-001", "text-curie-001", "text-babbage-001", "text-ada-001", "davinci", "curie",
                  "babbage", "ada", "text-similarity-davinci-001", "text-similarity-curie-001",
                  "text-similarity-babbage-001", "text-similarity-ada-001", "text-search-davinci-doc-001",
                  "text-search-curie-doc-001", "text-search-babbage-doc-001", "text-search-ada-doc-001",
                  "code-search-babbage-code-001", "code-search-ada-code-001"],
    "gpt2": ["gpt2", "gpt-2"],
}
PREFIXES = [("o1-", "o200k_base"), ("o3-", "o200k_base"), ("o4-mini-", "o200k_base"), ("gpt-5", "o200k_base"),
            ("gpt-4.5-", "o200k_base"), ("gpt-4.1-", "o200k_base"), ("chatgpt-4o-", "o200k_base"),
            ("gpt-4o-", "o200k_base"), ("gpt-4-", "cl100k_base"), ("gpt-3.5-turbo-", "cl100k_base"),
            ("gpt-35-turbo-", "cl100k_base"), ("gpt-oss-", "o200k_harmony"), ("ft:gpt-4o", "o200k_base"),
            ("ft:gpt-4", "cl100k_base"), ("ft:gpt-3.5-turbo", "cl100k_base"), ("ft:davinci-002", "cl100k_base"),
            ("ft:babbage-002", "cl100k_base")]


def test_tables_are_the_published_ones():
    exact = {m: "o200k_base" for m in O200K} | {m: "cl100k_base" for m in CL100K}
    exact |= {m: enc for enc, models in LEGACY.items() for m in models}
    assert lexaro.MODEL_TO_ENCODING == exact
    assert list(lexaro.MODEL_PREFIX_TO_ENCODING.items()) == PREFIXES


def test_every_model_resolves():
    for model in O200K + CL100K:
        name = lexaro.encoding_name_for_model(model)
        assert name == ("o200k_base" if model in O200K else "cl100k_base")
        assert lexaro.encoding_for_model(model) is lexaro.get_encoding(name)
    for prefix, name in PREFIXES:
        for model in (prefix + "2024-08-06", prefix + "x"):
            assert lexaro.encoding_name_for_model(model) == name
            assert lexaro.encoding_for_model(model).name == name
    # exact names first, then the first prefix that matches
    assert lexaro.encoding_name_for_model("gpt-5") == "o200k_base"
    assert lexaro.encoding_name_for_model("ft:gpt-4o-mini:org") == "o200k_base"
    assert lexaro.encoding_name_for_model("ft:gpt-4-0613:org") == "cl100k_base"
    assert lexaro.encoding_name_for_model("gpt-oss-120b") == "o200k_harmony"


def test_legacy_models_name_an_encoding_that_is_not_included():
    for encoding, models in LEGACY.items():
        for model in models:
            assert lexaro.encoding_name_for_model(model) == encoding
            with pytest.raises(KeyError) as info:
                lexaro.encoding_for_model(model)
            assert encoding in str(info.value) and "not included" in str(info.value)


@pytest.mark.parametrize("model", ["", "gpt", "gpt-4o2", "claude", "GPT-4", "ft:gpt-5", " gpt-4"])
def test_unknown_models_raise_key_error(model):
    for lookup in (lexaro.encoding_name_for_model, lexaro.encoding_for_model):
        with pytest.raises(KeyError) as info:
            lookup(model)
        assert "get_encoding" in str(info.value)


def test_encoding_names():
    assert lexaro.list_encoding_names() == ["cl100k_base", "o200k_base", "o200k_harmony"]
    for name in lexaro.list_encoding_names():
        enc = lexaro.get_encoding(name)
        assert isinstance(enc, lexaro.Encoding) and enc.name == name and enc.tokenizer.name == name
        assert lexaro.get_encoding(name) is enc
    for legacy in ("gpt2", "r50k_base", "p50k_base", "p50k_edit"):
        with pytest.raises(ValueError, match=f"legacy encoding '{legacy}' is not included.*cl100k_base"):
            lexaro.get_encoding(legacy)
    for unknown in ("", "cl100k", "O200K_BASE", None, 5):
        with pytest.raises(ValueError, match="cl100k_base, o200k_base, o200k_harmony"):
            lexaro.get_encoding(unknown)
    with pytest.raises(TypeError):
        lexaro.get_encoding(["cl100k_base"])


def test_changing_the_module_list_changes_no_lookup():
    names = lexaro.BUILTIN_ENCODINGS
    saved = list(names)
    try:
        names.append("gpt2")
        with pytest.raises(ValueError):
            lexaro.get_encoding("gpt2")
        assert lexaro.list_encoding_names() == saved
    finally:
        names[:] = saved


def test_racing_threads_get_one_encoding_built_once(monkeypatch):
    monkeypatch.setattr(registry, "_ENCODINGS", {})
    built = []

    def slow_tokenizer(name):
        built.append(name)
        time.sleep(0.05)  # a wide window for a second build
        return lexaro.Tokenizer(name)

    monkeypatch.setattr(registry, "Tokenizer", slow_tokenizer)
    start = threading.Barrier(8)
    got = [None] * 8

    def ask(i):
        start.wait()
        got[i] = lexaro.get_encoding("o200k_base")

    threads = [threading.Thread(target=ask, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert built == ["o200k_base"]
    assert all(enc is got[0] for enc in got) and got[0] is not None


def test_package_surface():
    for name in ("get_encoding", "encoding_for_model", "encoding_name_for_model", "list_encoding_names",
                 "MODEL_TO_ENCODING", "MODEL_PREFIX_TO_ENCODING", "Encoding", "StreamDecoder", "Tokenizer"):
        assert name in lexaro.__all__ and hasattr(lexaro, name)
