"""The cost of the binding: short calls, batch throughput, and other threads' progress during construction.

    python3 bench/bench_binding.py [--runs 7] [--only calls batch construct]
    python3 bench/bench_binding.py --instructions [--calls 2000]   (under valgrind: see bench/README.md)

calls:     microseconds per call of each method on short inputs (median of the runs), cl100k_base.
batch:     MB/s of encode_batch, count_batch and truncate_batch over 2,000 texts of 1 KiB and of
           200 texts of 64 KiB (bench/corpus.py prose), with 2 threads.
construct: while one thread constructs o200k_base, how many iterations a pure-Python loop in another
           thread makes (a thread that cannot run while the tables are built makes almost none).
--instructions: one kind of call repeated --calls times, for callgrind; see callgrind_calls.sh.
"""
from __future__ import annotations

import argparse
import os
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corpus  # noqa: E402

import lexaro  # noqa: E402

SHORT = "The quick brown fox jumps over the lazy dog, 42 times."


def short_calls(tok: lexaro.Tokenizer) -> dict:
    """Each entry: a call on short arguments, as a user's loop makes it."""
    ids = tok.encode(SHORT)
    texts = [SHORT] * 16
    return {
        "encode": lambda: tok.encode(SHORT),
        "encode allowed_special='all'": lambda: tok.encode(SHORT, allowed_special="all"),
        "encode disallowed_special=()": lambda: tok.encode(SHORT, disallowed_special=()),
        "encode_ordinary": lambda: tok.encode_ordinary(SHORT),
        "count": lambda: tok.count(SHORT),
        "truncate": lambda: tok.truncate(SHORT, 5),
        "encode_with_offsets": lambda: tok.encode_with_offsets(SHORT),
        "encode_single_token": lambda: tok.encode_single_token("<|endoftext|>"),
        "decode": lambda: tok.decode(ids),
        "decode_single_token_bytes": lambda: tok.decode_single_token_bytes(100257),
        "is_special_token": lambda: tok.is_special_token(100257),
        "encode_batch 16 texts": lambda: tok.encode_batch(texts, threads=1),
        "count_batch 16 texts": lambda: tok.count_batch(texts, threads=1),
        "n_vocab": lambda: tok.n_vocab,
    }


def per_call_us(fn, runs: int, calls: int = 2000) -> float:
    fn()
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        for _ in range(calls):
            fn()
        times.append((time.perf_counter() - t0) / calls * 1e6)
    return statistics.median(times)


def calls(args) -> None:
    tok = lexaro.Tokenizer("cl100k_base")
    print(f"per call, cl100k_base, text of {len(SHORT)} bytes; median of {args.runs} runs of 2,000 calls")
    for name, fn in short_calls(tok).items():
        print(f"  {name:32} {per_call_us(fn, args.runs):8.3f} us")


def batch(args) -> None:
    tok = lexaro.Tokenizer("cl100k_base")
    prose = corpus.CORPORA["prose"](16 << 20)
    for n, size in ((2000, 1 << 10), (200, 64 << 10)):
        texts = [prose[i * size:(i + 1) * size] for i in range(n)]
        mb = sum(len(t.encode()) for t in texts) / 1e6
        print(f"batch of {n} texts of {size} B (bench/corpus.py prose), 2 threads; median of {args.runs} runs")
        for name, fn in (("encode_batch", lambda: tok.encode_batch(texts, threads=2)),
                         ("count_batch", lambda: tok.count_batch(texts, threads=2)),
                         ("truncate_batch", lambda: tok.truncate_batch(texts, 100, threads=2))):
            fn()
            times = []
            for _ in range(args.runs):
                t0 = time.perf_counter()
                fn()
                times.append(time.perf_counter() - t0)
            print(f"  {name:16} {mb / statistics.median(times):8.1f} MB/s")


def construct(args) -> None:
    print(f"pure-Python loop iterations in another thread while o200k_base is constructed; {args.runs} runs")
    counter = [0]
    done = threading.Event()

    def loop():
        while not done.is_set():
            counter[0] += 1

    worker = threading.Thread(target=loop)
    worker.start()
    time.sleep(0.05)
    for _ in range(args.runs):
        before, t0 = counter[0], time.perf_counter()
        lexaro.Tokenizer("o200k_base")
        seconds, during = time.perf_counter() - t0, counter[0] - before
        before = counter[0]
        time.sleep(seconds)
        alone = counter[0] - before
        print(f"  construction {seconds * 1e3:6.1f} ms: {during:>9,} iterations; "
              f"{alone:>9,} in as long a sleep of the main thread")
    done.set()
    worker.join()


def instructions(args) -> None:
    tok = lexaro.Tokenizer("cl100k_base")
    fn = short_calls(tok)[args.call]
    for _ in range(args.calls):
        fn()


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--only", nargs="+", default=["calls", "batch", "construct"])
    parser.add_argument("--instructions", action="store_true")
    parser.add_argument("--call", default="encode")
    parser.add_argument("--calls", type=int, default=2000)
    args = parser.parse_args()
    if args.instructions:
        return instructions(args)
    for section in args.only:
        {"calls": calls, "batch": batch, "construct": construct}[section](args)


if __name__ == "__main__":
    main()
