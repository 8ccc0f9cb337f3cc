"""What the Encoding adapter adds to the Tokenizer's own methods.

    python3 bench/bench_adapter.py [--rounds 41] [--calls 2000]
    valgrind --tool=callgrind python3 bench/bench_adapter.py --only {len,tokenizer,encoding}

With --only, runs nothing but 100 x 100 calls of one encode (cl100k_base, the 100-byte texts): `len`
gives the instructions of the loop and start-up, to subtract from the other two.

For each pair (Encoding method, Tokenizer method doing the same work) the two run in alternation, `calls`
calls per round on the same inputs, so that load from other processes hits both alike; the figures are
the medians over the rounds of the time per call and of the per-round ratio. Inputs: 100-byte lines of
the English corpus of bench/corpus.py, a batch of 1,000 of them, and the ids of 1,000 tokens.
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


def per_call(fn, args, calls: int) -> float:
    t0 = time.perf_counter()
    for _ in range(calls // len(args)):
        for a in args:
            fn(a)
    return (time.perf_counter() - t0) / (calls // len(args) * len(args))


def compare(label: str, adapter, native, args, rounds: int, calls: int) -> None:
    for a in args:
        assert adapter(a) == native(a) or label.startswith("decode"), label
    ours, theirs, ratios = [], [], []
    for _ in range(rounds):
        b = per_call(native, args, calls)
        a = per_call(adapter, args, calls)
        ours.append(a)
        theirs.append(b)
        ratios.append(a / b)
    print(f"{label:44s} Tokenizer {statistics.median(theirs) * 1e9:9.0f} ns  Encoding "
          f"{statistics.median(ours) * 1e9:9.0f} ns  ratio {statistics.median(ratios):5.3f}")


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=41)
    parser.add_argument("--calls", type=int, default=2000)
    parser.add_argument("--only", choices=["len", "tokenizer", "encoding"])
    args = parser.parse_args()

    prose = corpus.prose(1 << 16)
    raw = prose.encode("utf-8")
    # 100-byte texts cut on character boundaries.
    lines = []
    pos = 0
    while len(lines) < 100:
        piece = raw[pos : pos + 100]
        while True:
            try:
                lines.append(piece.decode("utf-8"))
                break
            except UnicodeDecodeError:
                piece = piece[:-1]
        pos += len(piece)
    if args.only:
        enc = lexaro.get_encoding("cl100k_base")
        fn = {"len": len, "tokenizer": enc.tokenizer.encode, "encoding": enc.encode}[args.only]
        for line in lines:
            enc.tokenizer.encode(line)  # the same warm cache for every variant
        for _ in range(100):
            for line in lines:
                fn(line)
        return
    print(f"corpus: bench/corpus.py prose, seed {corpus.SEED}; {len(lines)} texts of about 100 bytes; "
          f"median of {args.rounds} rounds of {args.calls} calls; Python {sys.version.split()[0]}")
    for name in ("cl100k_base", "o200k_base"):
        enc = lexaro.get_encoding(name)
        tok = enc.tokenizer
        print(name)
        compare("encode(text)", enc.encode, tok.encode, lines, args.rounds, args.calls)
        compare("encode_ordinary(text)", enc.encode_ordinary, tok.encode_ordinary, lines, args.rounds, args.calls)
        compare('encode(text, allowed_special="all")', lambda t: enc.encode(t, allowed_special="all"),
                lambda t: tok.encode(t, "all"), lines, args.rounds, args.calls)
        batch = [lines * 10]
        compare("encode_ordinary_batch(1,000 texts), 1 thread", lambda b: enc.encode_ordinary_batch(b, num_threads=1),
                lambda b: [tok.encode_ordinary(t) for t in b], batch, args.rounds // 4 + 1, 4)
        ids = [tok.encode_ordinary(prose[:20000])[:1000]]
        compare("decode(1,000 ids)", enc.decode, tok.decode, ids, args.rounds, args.calls // 10)


if __name__ == "__main__":
    main()
