"""Single-thread encode speed and scaling on adversarial input.

    python3 bench/bench_encode.py [--runs 5] [--size-mib 4]

Prints, for cl100k_base and o200k_base over the fixed corpora of bench/corpus.py: MB/s and tokens/s of
`count` and of `encode_to_numpy` (median of the runs); then the time of 1 MiB and 4 MiB of adversarial
inputs and their ratio; then the cost of the default special-token check of "o200k_harmony".
"""
from __future__ import annotations

import argparse
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corpus  # noqa: E402

import lexaro  # noqa: E402

MIB = 1 << 20


def median_time(fn, runs: int) -> float:
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def throughput(args) -> None:
    texts = {name: make(args.size_mib * MIB) for name, make in corpus.CORPORA.items()}
    print(f"corpus: bench/corpus.py, {args.size_mib} MiB each, seed {corpus.SEED}; median of {args.runs} runs")
    for enc in ("cl100k_base", "o200k_base"):
        tok = lexaro.Tokenizer(enc)
        for name, text in texts.items():
            mb = len(text.encode("utf-8")) / 1e6
            n = tok.count(text)
            tok.count(text)  # warm the pre-token cache as a long-running process would have it
            t_count = median_time(lambda: tok.count(text), args.runs)
            t_np = median_time(lambda: tok.encode_to_numpy(text), args.runs)
            print(f"{enc:12s} {name:13s} count {mb / t_count:7.1f} MB/s {n / t_count / 1e6:6.2f} Mtok/s"
                  f" | encode_to_numpy {mb / t_np:7.1f} MB/s {n / t_np / 1e6:6.2f} Mtok/s  ({n} tokens)")


def adversarial(args) -> None:
    import bench_real  # the primary benchmark's inputs and timing: fresh random bytes per run, CPU time

    print("adversarial inputs (median seconds; the 4 MiB / 1 MiB ratio is 4 for linear cost):")
    bench_real.adversarial(args, {})


def special_check(args) -> None:
    text = corpus.prose(MIB)
    tok = lexaro.Tokenizer("o200k_harmony")
    t_plain = median_time(lambda: tok.encode_ordinary(text), args.runs)
    t_check = median_time(lambda: tok.encode(text), args.runs)
    print(f"o200k_harmony 1 MiB prose: encode_ordinary {t_plain:.4f} s, encode (default check of 1091 specials)"
          f" {t_check:.4f} s, ratio {t_check / t_plain:.2f}")


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--size-mib", type=int, default=4)
    ap.add_argument("--only", choices=["throughput", "adversarial", "special"], default=None)
    args = ap.parse_args()
    if args.only in (None, "throughput"):
        throughput(args)
    if args.only in (None, "adversarial"):
        adversarial(args)
    if args.only in (None, "special"):
        special_check(args)


if __name__ == "__main__":
    main()
