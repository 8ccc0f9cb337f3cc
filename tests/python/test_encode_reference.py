"""Every id must equal the published encoding's: the product against the slow reference encoder."""
from __future__ import annotations

import random
import threading
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import lexaro
from reference import ref_encode_bytes, ref_encode_ordinary, ref_encode_with_special
from strategies import mixed_bytes, mixed_text

CORPUS = sorted((Path(__file__).parent / "corpus").glob("*.txt"))
ENCODINGS = ["cl100k_base", "o200k_base", "o200k_harmony"]
TOKENIZERS = {name: lexaro.Tokenizer(name) for name in ENCODINGS}
SETTINGS = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])


@pytest.mark.parametrize("name", ENCODINGS)
@pytest.mark.parametrize("path", CORPUS, ids=lambda p: p.name)
def test_corpus_equals_reference(name, path):
    text = path.read_text(encoding="utf-8")
    want = ref_encode_ordinary(name, text)
    tok = TOKENIZERS[name]
    assert tok.encode_ordinary(text) == want
    assert tok.count(text) == len(want)
    # cut into lines too: pieces at the ends of texts follow their own rules
    for line in text.splitlines(keepends=True)[:40]:
        assert tok.encode_ordinary(line) == ref_encode_ordinary(name, line)


@pytest.mark.parametrize("name", ENCODINGS)
def test_fresh_tokenizer_agrees_with_warm_one(name):
    # a new tokenizer starts with an empty memo and its own cache; ids never depend on either
    text = "".join(p.read_text(encoding="utf-8") for p in CORPUS[:6])
    assert lexaro.Tokenizer(name).encode_ordinary(text) == TOKENIZERS[name].encode_ordinary(text)


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
@SETTINGS
@given(text=mixed_text())
def test_generated_text_equals_reference(name, text):
    assert TOKENIZERS[name].encode_ordinary(text) == ref_encode_ordinary(name, text)


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
@SETTINGS
@given(data=mixed_bytes())
def test_invalid_utf8_equals_reference(name, data):
    assert TOKENIZERS[name].encode_bytes(data) == ref_encode_bytes(name, data)


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
@SETTINGS
@given(data=st.binary(max_size=64))
def test_random_bytes_equal_reference(name, data):
    assert TOKENIZERS[name].encode_bytes(data) == ref_encode_bytes(name, data)


@pytest.mark.parametrize("name", ENCODINGS)
@settings(max_examples=150, deadline=None)
@given(parts=st.lists(st.one_of(mixed_text(6), st.sampled_from(
    ["<|endoftext|>", "<|endofprompt|>", "<|fim_prefix|>", "<|start|>", "<|reserved_200018|>", "<|end", "|>"])),
    max_size=8))
def test_special_split_equals_reference(name, parts):
    text = "".join(parts)
    assert TOKENIZERS[name].encode_with_special(text) == ref_encode_with_special(name, text)


def test_threads_at_once_equal_reference():
    # many threads on shared tokenizers: per-thread caches, shared memo
    rng = random.Random(3)
    texts = []
    for path in CORPUS:
        text = path.read_text(encoding="utf-8")
        for _ in range(4):
            a = rng.randrange(len(text))
            texts.append(text[a:a + rng.randrange(1, 3000)])
    jobs = [(name, t) for t in texts for name in ENCODINGS]
    want = [ref_encode_ordinary(name, t) for name, t in jobs]
    barrier = threading.Barrier(6)

    def run(chunk):
        barrier.wait()
        return [TOKENIZERS[name].encode_ordinary(t) for name, t in chunk]

    chunks = [jobs[i::6] for i in range(6)]
    with ThreadPoolExecutor(6) as pool:
        results = list(pool.map(run, chunks))
    for i in range(len(chunks)):
        assert results[i] == want[i::6]


def test_uncached_encoding_equals_reference():
    # In a fresh process, two tokenizers used on the main thread take the whole 32 MiB cache budget, so a
    # new thread encoding with a third tokenizer runs without a pre-token cache.
    import json
    import subprocess
    import sys

    script = """
import json, sys, threading, lexaro
names = ["cl100k_base", "o200k_base", "o200k_harmony"]
texts = json.loads(sys.stdin.read())
a, b = lexaro.Tokenizer("cl100k_base"), lexaro.Tokenizer("o200k_base")
a.encode_ordinary("fill"); b.encode_ordinary("fill")
out = {}
def run():
    for name in names:
        tok = lexaro.Tokenizer(name)
        out[name] = [tok.encode_ordinary(t) for t in texts]
t = threading.Thread(target=run); t.start(); t.join()
print(json.dumps(out))
"""
    texts = [p.read_text(encoding="utf-8") for p in CORPUS]
    done = subprocess.run([sys.executable, "-c", script], input=json.dumps(texts), capture_output=True, text=True,
                          check=True)
    got = json.loads(done.stdout)
    for name in ENCODINGS:
        assert got[name] == [ref_encode_ordinary(name, t) for t in texts]
