"""Batch throughput on one and two worker threads, and decode speed.

    python3 bench/bench_batch.py [--runs 7] [--docs 10000]

Prints, for cl100k_base and o200k_base: MB/s of `count_batch` and `encode_batch_to_numpy` over a fixed set of
documents of mixed length and kind cut from the corpora of bench/corpus.py, with threads=1 and threads=2
(median of the runs), the speedup of two threads over one and the processors the two-thread runs kept busy
(CPU time / wall time: below 2 when the machine is shared); then MB/s of `decode` (bytes out) for 1 MiB of
ids (262,144 ids of prose).

Every measurement runs on a new Python thread that ends afterwards. Pre-token caches held by a thread are
never trimmed, so a calling thread that had encoded with these tokenizers would keep the 32 MiB cache budget
for itself and leave batch workers without caches; a thread that ends parks its caches where the next ones
can take them or free them.
"""
from __future__ import annotations

import argparse
import math
import os
import random
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corpus  # noqa: E402

import lexaro  # noqa: E402

MIB = 1 << 20


def documents(count: int) -> list[str]:
    """`count` documents, each a stretch of one corpus kind, lengths log-uniform from 40 to 20,000
    characters (median about 900, mean about 3,200), kinds in a fixed random order."""
    rng = random.Random(corpus.SEED)
    lengths = [int(math.exp(rng.uniform(math.log(40), math.log(20_000)))) for _ in range(count)]
    kinds = list(corpus.CORPORA)
    need = {k: 0 for k in kinds}
    plan = []
    for n in lengths:
        kind = rng.choice(kinds)
        plan.append((kind, need[kind], n))
        need[kind] += n
    texts = {k: corpus.CORPORA[k](need[k] + 16) for k in kinds}  # sizes in bytes cover the chars needed
    return [texts[kind][start:start + n] for kind, start, n in plan]


def measure(fn, runs: int) -> tuple[float, float]:
    """Median wall time of `fn` after one warm-up call, and the processors busy meanwhile (CPU / wall)."""
    result = []

    def run():
        fn()  # warm the pre-token caches as a long-running process would have them
        walls, cpus = [], []
        for _ in range(runs):
            c0, t0 = time.process_time(), time.perf_counter()
            fn()
            walls.append(time.perf_counter() - t0)
            cpus.append(time.process_time() - c0)
        result.append((statistics.median(walls), sum(cpus) / sum(walls)))

    worker = threading.Thread(target=run)
    worker.start()
    worker.join()
    return result[0]


def batches(args) -> None:
    docs = documents(args.docs)
    mb = sum(len(d.encode("utf-8")) for d in docs) / 1e6
    print(f"corpus: {len(docs)} documents from bench/corpus.py (seed {corpus.SEED}), {mb:.1f} MB;"
          f" median of {args.runs} runs; {os.cpu_count()} processors")
    for enc in ("cl100k_base", "o200k_base"):
        tok = lexaro.Tokenizer(enc)
        for method in ("count_batch", "encode_batch_to_numpy"):
            call = getattr(tok, method)
            one, _ = measure(lambda: call(docs, threads=1), args.runs)
            two, busy = measure(lambda: call(docs, threads=2), args.runs)
            print(f"{enc:12s} {method:22s} threads=1 {mb / one:7.1f} MB/s  threads=2 {mb / two:7.1f} MB/s"
                  f"  speedup {one / two:4.2f}x  ({busy:4.2f} processors busy)")


def decode(args) -> None:
    count = MIB // 4
    text = corpus.prose(2 * MIB)
    for enc in ("cl100k_base", "o200k_base"):
        tok = lexaro.Tokenizer(enc)
        ids = tok.encode_ordinary(text)[:count]
        assert len(ids) == count
        out = len(tok.decode_bytes(ids)) / 1e6
        t, _ = measure(lambda: tok.decode(ids), args.runs)
        print(f"{enc:12s} decode of {count} ids (1 MiB as u32) to {out:.2f} MB of text: {out / t:7.1f} MB/s")


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--docs", type=int, default=10_000)
    args = ap.parse_args()
    batches(args)
    decode(args)


if __name__ == "__main__":
    main()
