"""Many Python threads calling every method of shared tokenizers at once.

16 threads mix all methods of one tokenizer per built-in encoding, batch methods with their own worker
threads among them, for LEXARO_STRESS_SECONDS seconds (default 30). Every result must equal the one a
single thread computed beforehand, and the resident size must stay flat after a warm-up: the pre-token
caches, per-thread scratch buffers and batch workers come and go without leaking."""

import os
import random
import statistics
import threading
import time
from pathlib import Path

import numpy
import pytest

from lexaro import Tokenizer

ENCODINGS = ["cl100k_base", "o200k_base", "o200k_harmony"]
CORPUS = Path(__file__).resolve().parent / "corpus"
SECONDS = float(os.environ.get("LEXARO_STRESS_SECONDS", "30"))
THREADS = 16
WARM_UP_SHARE = 0.2  # of the run, before the resident size is taken as the baseline
WINDOW_SHARE = 0.15  # of the run: the baseline and the late size are medians of samples over such a window
MAX_GROWTH = 0.10


def documents():
    """Pieces of the committed corpus, of lengths from a few bytes to a few kilobytes, with special
    strings (and one lone special) among them."""
    rng = random.Random(5)
    text = "".join(p.read_text(encoding="utf-8") for p in sorted(CORPUS.glob("*.txt")))
    docs, pos = ["", "<|endoftext|>"], 0
    while pos < len(text) and len(docs) < 48:
        n = rng.choice([3, 40, 300, 3000])
        doc = text[pos : pos + n]
        if rng.random() < 0.2:
            cut = rng.randrange(len(doc) + 1)
            doc = doc[:cut] + rng.choice(["<|endoftext|>", "<|fim_middle|>", "<|start|>", "<|endofprompt|>"]) + doc[cut:]
        docs.append(doc)
        pos += n
    return docs


def plain(value):
    """A result as plain Python values, so that results compare with ==."""
    if isinstance(value, numpy.ndarray):
        return ("ndarray", str(value.dtype), value.tolist())
    if isinstance(value, (tuple, list)):
        return type(value)(plain(v) for v in value)
    return value


def outcome(call):
    try:
        return plain(call())
    except Exception as e:  # expected errors (a disallowed special, an unknown token) are results too
        return ("raised", type(e).__name__, str(e))


def tasks_for(t, docs):
    """(key, call) pairs covering every method of `t` and every property."""
    ids = [t.encode_ordinary(d) for d in docs]
    tasks = []

    def add(key, call):
        tasks.append(((t.name,) + key, call))

    for i, d in enumerate(docs):
        add(("encode", i), lambda d=d: t.encode(d))
        add(("encode all", i), lambda d=d: t.encode(d, allowed_special="all"))
        add(("encode_ordinary", i), lambda d=d: t.encode_ordinary(d))
        add(("encode_bytes", i), lambda d=d: t.encode_bytes(d.encode() + b"\xff\xc3"))
        add(("encode_with_special", i), lambda d=d: t.encode_with_special(d))
        add(("encode_to_buffer", i), lambda d=d: t.encode_to_buffer(d, disallowed_special=()))
        add(("encode_to_numpy", i), lambda d=d: t.encode_to_numpy(d, allowed_special={"<|endoftext|>"}))
        add(("encode_with_offsets", i), lambda d=d: t.encode_with_offsets(d, unit="byte" if len(d) % 2 else "char"))
        add(("truncate", i), lambda d=d: t.truncate(d, len(d) % 17))
        add(("count", i), lambda d=d: t.count(d))
        add(("decode", i), lambda i=i: t.decode(ids[i][: len(ids[i]) // 2 + 1]))
        add(("decode_bytes", i), lambda i=i: t.decode_bytes(ids[i] + [t.eot_token]))
    for k, (start, threads) in enumerate([(0, 0), (5, 1), (11, 2), (2, 8), (20, 64)]):
        batch = docs[start:] + docs[:start]
        with_special = k % 2 == 1
        add(("encode_batch", k), lambda b=batch, th=threads, w=with_special: t.encode_batch(b, th, w))
        add(("encode_batch_to_numpy", k), lambda b=batch, th=threads, w=with_special: t.encode_batch_to_numpy(b, th, w))
        add(("count_batch", k), lambda b=batch, th=threads, w=with_special: t.count_batch(b, th, w))
        add(("truncate_batch", k), lambda b=batch, th=threads: t.truncate_batch(b, 5 + k, th))
        add(("decode_batch", k), lambda s=start: t.decode_batch(ids[s : s + 9], errors="strict" if s % 2 else "replace"))
    for piece in ["hello", b" world", "<|endoftext|>", "not one token at all", b"\xff"]:
        add(("encode_single_token", repr(piece)), lambda p=piece: t.encode_single_token(p))
    for token in [0, 1000, t.eot_token, t.n_vocab - 1, t.n_vocab + 5]:
        add(("decode_single_token_bytes", token), lambda x=token: t.decode_single_token_bytes(x))
        add(("is_special_token", token), lambda x=token: t.is_special_token(x))
    add(("token_byte_values",), lambda: t.token_byte_values())
    add(("special_tokens",), lambda: t.special_tokens())
    add(("properties",), lambda: (t.name, t.n_vocab, t.max_token_value, t.eot_token, t.memory_bytes,
                                   sorted(t.special_tokens_set), repr(t)))
    return tasks


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(SECONDS <= 0, reason="LEXARO_STRESS_SECONDS is 0")
def test_threads_mixing_every_method():
    docs = documents()
    tokenizers = [Tokenizer(name) for name in ENCODINGS]
    tasks = [task for t in tokenizers for task in tasks_for(t, docs)]
    expected = {key: outcome(call) for key, call in tasks}  # one thread

    stop = threading.Event()
    failures, errors, calls, first_cycles = [], [], [0] * THREADS, []

    def run(index):
        rng = random.Random(index)
        order = list(range(len(tasks)))
        try:
            while not stop.is_set() and not failures:
                rng.shuffle(order)
                for k in order:
                    key, call = tasks[k]
                    if outcome(call) != expected[key]:
                        failures.append(key)
                        return
                    calls[index] += 1
                    if stop.is_set():
                        return
                if calls[index] == len(tasks):
                    first_cycles.append(index)
        except BaseException as e:  # an internal fault, or anything else a correct run never raises
            errors.append(repr(e))

    # Warm-up lasts until every thread has run every task once, and at least a share of the run. The
    # resident size is then sampled for as long again as the rest of the run: transient results (a
    # batch's buffers, a list of every token's bytes) make single samples noisy, so medians of windows
    # are compared.
    start = time.monotonic()
    workers = [threading.Thread(target=run, args=(i,)) for i in range(THREADS)]
    for w in workers:
        w.start()
    samples, warm_end, end = [], None, start + SECONDS
    while (warm_end is None or time.monotonic() < end) and not failures and not errors:
        now = time.monotonic()
        samples.append((now, resident_bytes()))
        if warm_end is None and len(first_cycles) == THREADS:
            warm_end = max(now, start + SECONDS * WARM_UP_SHARE)
            end = max(end, warm_end + SECONDS * (1 - WARM_UP_SHARE))
        time.sleep(0.1)
    stop.set()
    for w in workers:
        w.join()

    assert not errors, errors[:3]
    assert not failures, f"results differ from one thread's for {failures[:5]}"
    assert all(c >= len(tasks) for c in calls), "a thread did not run every task"
    window = (end - warm_end) * WINDOW_SHARE
    baseline = statistics.median(r for at, r in samples if warm_end <= at < warm_end + window)
    late = statistics.median(r for at, r in samples if at >= end - window)
    assert late < baseline * (1 + MAX_GROWTH), f"resident size grew from {baseline} to {late} bytes"
