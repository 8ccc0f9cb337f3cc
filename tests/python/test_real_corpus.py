"""Real text in every script, from Debian's packages (bench/real_corpus.py): ids against the slow reference,
line by line, and the same ids with the pre-token cache cold, hot and disabled.

By default a slice of every group runs (the corpus is fetched and built once, into bench/.corpus/). With
LEXARO_LONG_TESTS=1 the cache comparison covers the whole corpus (over 100 MB) and the reference a larger
slice of every group.
"""
from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

from reference import ref_encode_ordinary

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bench"))
import real_corpus  # noqa: E402

LONG = os.environ.get("LEXARO_LONG_TESTS") == "1"
REFERENCE_BYTES = 400_000 if LONG else 12_000  # per group and encoding, line by line
CACHE_BYTES = None if LONG else 1_000_000      # per group; None: the whole group
ENCODINGS = ["cl100k_base", "o200k_base"]


@pytest.fixture(scope="module")
def corpus() -> dict[str, str]:
    try:
        real_corpus.build()
    except (OSError, subprocess.CalledProcessError) as e:  # no package mirror reachable
        pytest.skip(f"the real corpus cannot be built here: {e}")
    return {g: real_corpus.load(g) for g in real_corpus.GROUPS}


def _head(text: str, size: int | None) -> str:
    return text if size is None else text.encode("utf-8")[:size].decode("utf-8", "ignore")


@pytest.mark.parametrize("name", ENCODINGS)
@pytest.mark.parametrize("group", real_corpus.GROUPS)
def test_lines_equal_reference(corpus, tok, name, group):
    # lines from the middle of the group: the start is the slice the cache test below encodes first
    text = corpus[group]
    middle = len(text) // 2
    lines = _head(text[middle:], REFERENCE_BYTES).splitlines(keepends=True)[1:]
    assert lines
    for line in lines:
        assert tok[name].encode_ordinary(line) == ref_encode_ordinary(name, line), line


# Runs in a fresh process: two tokenizers on the main thread take the whole cache budget, so a thread
# started afterwards encodes with a third tokenizer and no cache at all. Every chunk is encoded with the
# cache (a first pass, then again from a filled cache) and without; the ids must agree.
_SCRIPT = """
import json, sys, threading
import numpy as np
import lexaro
name, paths, limit = json.loads(sys.stdin.read())
a, b = lexaro.Tokenizer(name), lexaro.Tokenizer(name)
a.encode_ordinary("fill"); b.encode_ordinary("fill")
chunks = []
for p in paths:
    data = open(p, "rb").read()
    if limit is not None:
        data = data[:limit]
    text = data.decode("utf-8", "ignore")
    step = 1 << 20
    chunks += [text[i:i + step] for i in range(0, len(text), step)]
cached = [a.encode_to_numpy(c, disallowed_special=()) for c in chunks]
hot = [a.encode_to_numpy(c, disallowed_special=()) for c in chunks]
uncached = []
def run():
    tok = lexaro.Tokenizer(name)
    uncached.extend(tok.encode_to_numpy(c, disallowed_special=()) for c in chunks)
t = threading.Thread(target=run); t.start(); t.join()
bad = [i for i in range(len(chunks)) if not (np.array_equal(cached[i], uncached[i]) and np.array_equal(hot[i], cached[i]))]
print(json.dumps({"chunks": len(chunks), "bytes": sum(len(c.encode("utf-8")) for c in chunks),
                  "tokens": int(sum(len(x) for x in cached)), "bad": bad}))
"""


@pytest.mark.parametrize("name", ENCODINGS)
def test_cache_cold_hot_and_disabled_agree(corpus, name):
    paths = [str(real_corpus.TEXT / f"{g}.txt") for g in real_corpus.GROUPS]
    done = subprocess.run([sys.executable, "-c", _SCRIPT], input=json.dumps([name, paths, CACHE_BYTES]),
                          capture_output=True, text=True, check=True)
    result = json.loads(done.stdout)
    assert result["tokens"] > result["bytes"] // 8
    assert result["bad"] == [], f"chunks whose ids depend on the cache: {result['bad']}"
