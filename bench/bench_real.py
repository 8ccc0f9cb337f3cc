"""Single-thread encoding speed on real text that the process has not seen before, and on the same text again.

    python3 bench/bench_real.py [--runs 3] [--save NAME] [--compare BEFORE AFTER] [--only SECTION ...]

The text comes from bench/real_corpus.py (Debian's packages, built on demand). Every figure is one thread,
`count` and `encode_to_numpy`, MB/s (10^6 bytes of UTF-8 per second) and tokens/s, timed by the calling
thread's CPU time (the machine is shared: the wall clock also counts the waits for a core):

  cold      a fresh process per measurement: the encoding loaded, one word encoded, then one call over the
            sample (each byte seen once); best and median of --runs processes
  warm      a fresh process per sample that has encoded 3 MB of other real text (all groups) and
            nothing else, then one call over the sample, which it has never seen (as the core harness);
            the median of --runs processes
  hot       the same sample again in that process (median of --runs calls, then of the processes)
  steady    one fresh process counting the whole corpus (every group, >= 100 MB, each byte once) in
            1 MiB texts, interleaved across the groups
  coldstart a short-lived program: a fresh process, one `count` of 0.4 MB of English or 10 MB of multilingual text
  load      a fresh process: `import lexaro`, then `lexaro.Tokenizer(name)`, by the wall clock (the table build
            may use a second thread), median and best of max(--runs, 5) processes
  percall   microseconds per `count` / `encode` call on 100 B, 1 KB and 10 KB texts, unseen and hot
  adversarial  1 MiB and 4 MiB of today's adversarial inputs and the ratio (4 for linear cost)
  core      the first pass and the hot pass of the C++ harness (bench_core_encode) over the same samples
            after the same warm-up, beside `count`
  strs      what making a str's UTF-8 costs: `count` (hot) of a new str equal to the sample, which holds no
            UTF-8 yet, against the same str again; alternated in one process, medians of max(--runs, 9)

Samples, disjoint slices of each group: the group itself (2 MB), "mixed" (0.5 MB of each group in 16 KB
chunks), "multilingual" (0.75 MB of each non-English, non-code group), "cjk_spaced" / "cjk_nospace" (the CJK
characters of the CJK sample, as space-separated words of 2-6 characters, or as one run without a break:
one piece). The warm-up text is the last 0.5 MB of each group.

--save NAME writes the figures to bench/.corpus/results/NAME.json; --compare A B prints the Markdown
before/after tables of bench/README.md from two saved runs. --samples writes the samples to
bench/.corpus/samples/ for bench_core_encode and callgrind.
"""
from __future__ import annotations

import argparse
import json
import os
import random
import re
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import real_corpus  # noqa: E402

MB = 10 ** 6

# The calling thread's CPU time: the encoders run on it (with the interpreter lock released), and unlike the
# wall clock it does not count the time the thread waits for a core that other work holds.
clock = time.thread_time
MIB = 1 << 20
ENCODINGS = ["cl100k_base", "o200k_base"]
RESULTS = real_corpus.ROOT / "results"
SAMPLES = real_corpus.ROOT / "samples"
SAMPLE_NAMES = real_corpus.GROUPS + ["mixed", "multilingual", "cjk_spaced", "cjk_nospace"]
MULTILINGUAL = ["european", "cyrillic_greek", "cjk", "other"]


def _cut(text: str, start: int, size: int) -> str:
    """About `size` bytes of `text` from byte `start`, on character boundaries."""
    data = text.encode("utf-8")
    return data[start:start + size].decode("utf-8", "ignore")


def _interleave(parts: list[str], chunk: int = 16 * 1024) -> str:
    pieces = [[p[i:i + chunk] for i in range(0, len(p), chunk)] for p in parts]
    out = []
    for k in range(max(len(p) for p in pieces)):
        out.extend(p[k] for p in pieces if k < len(p))
    return "".join(out)


_CJK = re.compile(r"[\u3040-\u30ff\u3400-\u4dbf\u4e00-\u9fff\uac00-\ud7af]+")


def samples() -> dict[str, str]:
    groups = {g: real_corpus.load(g) for g in real_corpus.GROUPS}
    out = {g: _cut(t, 0, 2 * MB) for g, t in groups.items()}
    out["mixed"] = _interleave([_cut(t, 2 * MB, MB // 2) for t in groups.values()])
    out["multilingual"] = _interleave([_cut(groups[g], 2 * MB + MB // 2, 3 * MB // 4) for g in MULTILINGUAL])
    chars = "".join(_CJK.findall(out["cjk"]))[: MB // 3]
    rng = random.Random(real_corpus.SEED)
    words, i = [], 0
    while i < len(chars):
        k = rng.randint(2, 6)
        words.append(chars[i:i + k])
        i += k
    out["cjk_spaced"] = " ".join(words)
    out["cjk_nospace"] = chars
    return out


def warmup_text() -> str:
    parts = []
    for g in real_corpus.GROUPS:
        text = real_corpus.load(g)
        parts.append(_cut(text, len(text.encode("utf-8")) - MB // 2, MB // 2))
    return _interleave(parts)


# ---- measurements that run in a process of their own ----

def _call(tok, method: str, text: str) -> int:
    if method == "count":
        return tok.count(text)
    return len(tok.encode_to_numpy(text, disallowed_special=()))


def worker(job: dict) -> dict:
    if job["kind"] == "load":  # wall clock: the build of the tables may use a second thread
        t0 = time.perf_counter()
        import lexaro
        t1 = time.perf_counter()
        tok = lexaro.Tokenizer(job["encoding"])
        t2 = time.perf_counter()
        tok.count("hello")
        return {"import": t1 - t0, "load": t2 - t1, "first_call": time.perf_counter() - t2}
    import lexaro
    tok = lexaro.Tokenizer(job["encoding"])
    _call(tok, job["method"], "hello")  # by the method measured: encode_to_numpy imports numpy here
    if job["kind"] == "cold":
        text = job["text"]
        t0 = clock()
        n = _call(tok, job["method"], text)
        return {"seconds": clock() - t0, "tokens": n}
    if job["kind"] == "warm":
        _call(tok, job["method"], job["warmup"])
        t0 = clock()
        n = _call(tok, job["method"], job["text"])
        first = clock() - t0
        hot = []
        for _ in range(job["runs"]):
            t0 = clock()
            _call(tok, job["method"], job["text"])
            hot.append(clock() - t0)
        return {"first": first, "hot": statistics.median(hot), "tokens": n}
    if job["kind"] == "steady":
        total_bytes = total_tokens = 0
        elapsed = 0.0
        for text in job["texts"]:
            t0 = clock()
            total_tokens += _call(tok, job["method"], text)
            elapsed += clock() - t0
            total_bytes += len(text.encode("utf-8"))
        return {"seconds": elapsed, "tokens": total_tokens, "bytes": total_bytes}
    raise ValueError(job["kind"])


def run_fresh(job: dict) -> dict:
    done = subprocess.run([sys.executable, os.path.abspath(__file__), "--worker"], input=json.dumps(job),
                          capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def figure(nbytes: int, tokens: int, seconds: float) -> dict:
    return {"mbps": nbytes / MB / seconds, "mtps": tokens / 1e6 / seconds}


# ---- sections ----

def cold(args, smp: dict[str, str], res: dict) -> None:
    for enc in ENCODINGS:
        for name in SAMPLE_NAMES:
            text = smp[name]
            nbytes = len(text.encode("utf-8"))
            for method in ("count", "encode_to_numpy"):
                runs = [run_fresh({"kind": "cold", "encoding": enc, "method": method, "text": text})
                        for _ in range(args.runs)]
                secs = sorted(r["seconds"] for r in runs)
                res.setdefault("cold", {})[f"{enc}|{name}|{method}"] = {
                    "best": figure(nbytes, runs[0]["tokens"], secs[0]),
                    "median": figure(nbytes, runs[0]["tokens"], statistics.median(secs))}
                print(f"cold  {enc:12s} {name:15s} {method:16s} best {nbytes / MB / secs[0]:7.1f} MB/s"
                      f"  median {nbytes / MB / statistics.median(secs):7.1f} MB/s", flush=True)


def warm_and_hot(args, smp: dict[str, str], res: dict) -> None:
    # A process per sample, as the core harness runs: a sample's first pass must not meet a cache that the
    # samples before it have filled, nor its hot pass one that they have crowded.
    warm = warmup_text()
    for enc in ENCODINGS:
        for method in ("count", "encode_to_numpy"):
            for name in SAMPLE_NAMES:
                text = smp[name]
                nbytes = len(text.encode("utf-8"))
                runs = [run_fresh({"kind": "warm", "encoding": enc, "method": method, "text": text,
                                   "warmup": warm, "runs": args.runs}) for _ in range(args.runs)]
                first = statistics.median(r["first"] for r in runs)
                hot = statistics.median(r["hot"] for r in runs)
                n = runs[0]["tokens"]
                res.setdefault("warm", {})[f"{enc}|{name}|{method}"] = figure(nbytes, n, first)
                res.setdefault("hot", {})[f"{enc}|{name}|{method}"] = figure(nbytes, n, hot)
                print(f"warm  {enc:12s} {name:15s} {method:16s} first pass {nbytes / MB / first:7.1f} MB/s"
                      f"  hot {nbytes / MB / hot:7.1f} MB/s  ({n} tokens)", flush=True)


def steady(args, res: dict) -> None:
    groups = [real_corpus.load(g) for g in real_corpus.GROUPS]
    data = _interleave(groups, MIB).encode("utf-8")
    chunks = [data[i:i + MIB].decode("utf-8", "ignore") for i in range(0, len(data), MIB)]
    for enc in ENCODINGS:
        for method in ("count", "encode_to_numpy"):
            r = run_fresh({"kind": "steady", "encoding": enc, "method": method, "texts": chunks})
            res.setdefault("steady", {})[f"{enc}|all|{method}"] = figure(r["bytes"], r["tokens"], r["seconds"])
            print(f"steady {enc:12s} {r['bytes'] / MB:.1f} MB {method:16s} {r['bytes'] / MB / r['seconds']:7.1f} MB/s"
                  f" {r['tokens'] / 1e6 / r['seconds']:6.2f} Mtok/s", flush=True)


def coldstart(args, res: dict) -> None:
    english = _cut(real_corpus.load("english"), 0, 400_000)
    multi = _interleave([_cut(real_corpus.load(g), 0, 2_500_000) for g in MULTILINGUAL])
    for enc in ENCODINGS:
        for name, text in (("english 0.4 MB", english), ("multilingual 10 MB", multi)):
            nbytes = len(text.encode("utf-8"))
            secs = sorted(run_fresh({"kind": "cold", "encoding": enc, "method": "count", "text": text})["seconds"]
                          for _ in range(args.runs))
            res.setdefault("coldstart", {})[f"{enc}|{name}"] = {"best": nbytes / MB / secs[0],
                                                                "median": nbytes / MB / statistics.median(secs)}
            print(f"coldstart {enc:12s} {name:20s} best {nbytes / MB / secs[0]:7.1f} MB/s"
                  f"  median {nbytes / MB / statistics.median(secs):7.1f} MB/s", flush=True)


def load(args, res: dict) -> None:
    for enc in ENCODINGS:
        runs = [run_fresh({"kind": "load", "encoding": enc}) for _ in range(max(args.runs, 5))]
        entry = {part: {"median": statistics.median(r[part] for r in runs), "best": min(r[part] for r in runs)}
                 for part in ("import", "load", "first_call")}
        res.setdefault("load", {})[enc] = entry
        print(f"load  {enc:12s} import {entry['import']['median'] * 1e3:6.1f} ms"
              f"  Tokenizer() median {entry['load']['median'] * 1e3:6.1f} ms, best {entry['load']['best'] * 1e3:6.1f} ms"
              f"  first count {entry['first_call']['median'] * 1e3:5.2f} ms", flush=True)


def percall(args, smp: dict[str, str], res: dict) -> None:
    import lexaro
    data = smp["mixed"].encode("utf-8")
    for enc in ENCODINGS:
        tok = lexaro.Tokenizer(enc)
        tok.count(warmup_text())
        for size, n in ((100, 2000), (1000, 600), (10_000, 100)):
            for k, (method, fn) in enumerate((("count", tok.count), ("encode", tok.encode))):
                # each method on texts of its own: unseen means unseen
                base = k * n * size
                texts = [data[base + i * size:base + (i + 1) * size].decode("utf-8", "ignore") for i in range(n)]
                t0 = clock()
                for t in texts:
                    fn(t)
                unseen = (clock() - t0) / n * 1e6
                hot = []
                for _ in range(args.runs):
                    t0 = clock()
                    for t in texts:
                        fn(t)
                    hot.append((clock() - t0) / n * 1e6)
                res.setdefault("percall", {})[f"{enc}|{size}|{method}"] = {"unseen": unseen,
                                                                           "hot_us": statistics.median(hot)}
                print(f"percall {enc:12s} {size:6d} B {method:7s} unseen {unseen:8.2f} us  hot"
                      f" {statistics.median(hot):8.2f} us", flush=True)


def strs(args, smp: dict[str, str], res: dict) -> None:
    """What making a str's UTF-8 costs: `count` of a new str equal to the sample (it holds no UTF-8 yet)
    against `count` of the same str again, both hot, alternated in one process."""
    import lexaro
    for enc in ENCODINGS:
        tok = lexaro.Tokenizer(enc)
        for name in SAMPLE_NAMES:
            text = smp[name]
            nbytes = len(text.encode("utf-8"))
            tok.count(text)
            tok.count(text)
            fresh, same = [], []
            for _ in range(max(args.runs, 9)):
                new = ("." + text)[1:]
                t0 = clock()
                tok.count(new)
                fresh.append(clock() - t0)
                t0 = clock()
                tok.count(text)
                same.append(clock() - t0)
            f, s = statistics.median(fresh), statistics.median(same)
            res.setdefault("strs", {})[f"{enc}|{name}"] = {"fresh": nbytes / MB / f, "same": nbytes / MB / s,
                                                          "ms_per_mb": (f - s) * 1e3 / (nbytes / MB)}
            print(f"strs  {enc:12s} {name:15s} new str {nbytes / MB / f:7.1f} MB/s  same str {nbytes / MB / s:7.1f}"
                  f" MB/s  UTF-8 {(f - s) * 1e3 / (nbytes / MB):5.2f} ms per MB", flush=True)


def adversarial(args, res: dict) -> None:
    import lexaro
    rng = random.Random(7)
    cjk = "".join(chr(0x4E00 + rng.randrange(0x5000)) for _ in range(4 * MIB // 3))
    # Random bytes are fresh for every run: the pieces of a run seen before would come from the cache,
    # which holds all of 1 MiB's and not all of 4 MiB's, and the ratio would measure that, not the cost.
    cases = {
        "one letter": ("o200k_base", lambda n, run: ("a" * n, "count")),
        "random bytes": ("cl100k_base", lambda n, run: (random.Random(f"{n} {run}").randbytes(n), "encode_bytes")),
        "digits": ("cl100k_base", lambda n, run: ("7" * n, "count")),
        "spaces": ("o200k_base", lambda n, run: (" " * n, "count")),
        "CJK no spaces": ("cl100k_base", lambda n, run: (cjk[: n // 3], "count")),
        "<|start|> x all": ("o200k_harmony", lambda n, run: ("<|start|>" * (n // 9), "allowed")),
    }
    for label, (enc, make) in cases.items():
        tok = lexaro.Tokenizer(enc)
        times = []
        for size in (MIB, 4 * MIB):
            ts = []
            for run in range(args.runs):
                data, how = make(size, run)
                if how == "count":
                    fn = lambda: tok.count(data)  # noqa: E731
                elif how == "encode_bytes":
                    fn = lambda: tok.encode_bytes(data)  # noqa: E731
                else:
                    fn = lambda: tok.encode_to_numpy(data, allowed_special="all")  # noqa: E731
                t0 = clock()
                fn()
                ts.append(clock() - t0)
            times.append(statistics.median(ts))
        res.setdefault("adversarial", {})[label] = {"1MiB": times[0], "4MiB": times[1], "ratio": times[1] / times[0]}
        print(f"adversarial {label:16s} {enc:13s} 1 MiB {times[0]:7.3f} s  4 MiB {times[1]:7.3f} s"
              f"  ratio {times[1] / times[0]:4.2f}", flush=True)


def core(args, smp: dict[str, str], res: dict) -> None:
    """The same first pass and hot pass through the C++ harness (no Python), to compare with `count`."""
    binary = Path(args.core_binary)
    if not binary.exists():
        print(f"core: {binary} not built, skipped (see bench/README.md)")
        return
    SAMPLES.mkdir(parents=True, exist_ok=True)
    (SAMPLES / "warmup.txt").write_text(warmup_text(), encoding="utf-8")
    pat = re.compile(r"first pass .*?CPU time ([\d.]+) MB/s.*hot median .*?CPU time ([\d.]+) MB/s")
    for name in SAMPLE_NAMES:
        (SAMPLES / f"{name}.txt").write_text(smp[name], encoding="utf-8")
        for enc in ENCODINGS:
            firsts, hots = [], []
            for _ in range(args.runs):
                out = subprocess.run([str(binary), enc, str(SAMPLES / f"{name}.txt"), str(args.runs + 1),
                                      str(SAMPLES / "warmup.txt")], capture_output=True, text=True, check=True).stdout
                m = pat.search(out)
                firsts.append(float(m.group(1)))
                hots.append(float(m.group(2)))
            res.setdefault("core", {})[f"{enc}|{name}"] = {"first": statistics.median(firsts),
                                                          "hot": statistics.median(hots)}
            print(f"core  {enc:12s} {name:15s} first pass {statistics.median(firsts):7.1f} MB/s"
                  f"  hot {statistics.median(hots):7.1f} MB/s", flush=True)


# ---- tables ----

_LOWER_IS_BETTER = ("1MiB", "4MiB", "unseen", "hot_us")


def _best(x, y, field: str = ""):
    """The better of two runs' figures, field by field: the most MB/s, the fewest seconds or µs."""
    if isinstance(x, dict):
        return {k: _best(x[k], y[k], k) if k in y else x[k] for k in x} | {k: y[k] for k in y if k not in x}
    if field == "ratio":
        return None  # recomputed from the chosen times
    return min(x, y) if field in _LOWER_IS_BETTER else max(x, y)


def load_runs(names: str) -> dict:
    """One saved run, or several (comma-separated, taken on the shared machine at different times) merged
    figure by figure into the best of them."""
    runs = [json.loads((RESULTS / f"{n}.json").read_text()) for n in names.split(",")]
    merged = runs[0]
    for r in runs[1:]:
        for sec, figures in r.items():
            mine = merged.setdefault(sec, {})
            for key, v in figures.items():
                mine[key] = _best(mine[key], v) if key in mine else v
    for v in merged.get("adversarial", {}).values():
        v["ratio"] = v["4MiB"] / v["1MiB"]
    return merged


def compare(before_name: str, after_name: str) -> None:
    a = load_runs(before_name)
    b = load_runs(after_name)

    def cell(sec: str, key: str, field: str = "mbps", sub: str | None = None) -> str:
        def get(r):
            v = r.get(sec, {}).get(key)
            if v is None:
                return None
            if sub:
                v = v[sub]
            return v[field] if isinstance(v, dict) else v
        x, y = get(a), get(b)
        if x is None or y is None:
            return "–"
        return f"{x:.0f} → **{y:.0f}**" if field == "mbps" else f"{x:.2f} → **{y:.2f}**"

    print("MB/s per CPU-second of the calling thread, before → after; cold = median of fresh processes\n")
    for enc in ENCODINGS:
        print(f"**{enc}**\n")
        print("| sample | cold count | warm count | hot count | cold numpy | warm numpy | hot numpy |")
        print("|---|---|---|---|---|---|---|")
        for name in SAMPLE_NAMES:
            k = lambda m: f"{enc}|{name}|{m}"  # noqa: E731
            print(f"| {name} | {cell('cold', k('count'), sub='median')} | {cell('warm', k('count'))} |"
                  f" {cell('hot', k('count'))} | {cell('cold', k('encode_to_numpy'), sub='median')} |"
                  f" {cell('warm', k('encode_to_numpy'))} | {cell('hot', k('encode_to_numpy'))} |")
        print(f"| steady (all, {'>'}100 MB) | – | {cell('steady', f'{enc}|all|count')} | – | – |"
              f" {cell('steady', f'{enc}|all|encode_to_numpy')} | – |")
        print()
    print("Tokens/s (millions), warm first pass, count:\n")
    print("| sample | " + " | ".join(ENCODINGS) + " |")
    print("|---|---|---|")
    for name in SAMPLE_NAMES:
        print(f"| {name} | " + " | ".join(cell('warm', f'{enc}|{name}|count', 'mtps') for enc in ENCODINGS) + " |")
    print("\nCold start (fresh process, one `count`), MB/s, best of the runs:\n")
    print("| text | " + " | ".join(ENCODINGS) + " |")
    print("|---|---|---|")
    for name in ("english 0.4 MB", "multilingual 10 MB"):
        row = []
        for enc in ENCODINGS:
            x = a.get("coldstart", {}).get(f"{enc}|{name}")
            y = b.get("coldstart", {}).get(f"{enc}|{name}")
            row.append(f"{x['best']:.0f} → **{y['best']:.0f}**" if x and y else "–")
        print(f"| {name} | " + " | ".join(row) + " |")
    print("\nLoading an encoding in a fresh process (`lexaro.Tokenizer(name)`, wall clock), ms, median / best:\n")
    print("| encoding | before | after |")
    print("|---|---|---|")
    for enc in ENCODINGS:
        x = a.get("load", {}).get(enc)
        y = b.get("load", {}).get(enc)
        if x and y:
            print(f"| {enc} | {x['load']['median'] * 1e3:.1f} / {x['load']['best'] * 1e3:.1f} |"
                  f" **{y['load']['median'] * 1e3:.1f} / {y['load']['best'] * 1e3:.1f}** |")
    print("\nPer call (µs), unseen / hot, before → after:\n")
    print("| encoding | size | count | encode |")
    print("|---|---|---|---|")
    for enc in ENCODINGS:
        for size in (100, 1000, 10_000):
            row = []
            for method in ("count", "encode"):
                x = a.get("percall", {}).get(f"{enc}|{size}|{method}")
                y = b.get("percall", {}).get(f"{enc}|{size}|{method}")
                row.append(f"{x['unseen']:.1f} / {x['hot_us']:.1f} → **{y['unseen']:.1f} / {y['hot_us']:.1f}**"
                           if x and y else "–")
            print(f"| {enc} | {size} B | " + " | ".join(row) + " |")
    print("\nCore harness (C++, no Python) beside Python `count`, after, MB/s: warm first pass | hot:\n")
    print("| sample | " + " | ".join(f"{enc} core | {enc} count" for enc in ENCODINGS) + " |")
    print("|---|---|---|---|---|")
    for name in SAMPLE_NAMES:
        row = []
        for enc in ENCODINGS:
            c = b.get("core", {}).get(f"{enc}|{name}")
            w = b.get("warm", {}).get(f"{enc}|{name}|count")
            h = b.get("hot", {}).get(f"{enc}|{name}|count")
            row.append(f"{c['first']:.0f} / {c['hot']:.0f}" if c else "–")
            row.append(f"{w['mbps']:.0f} / {h['mbps']:.0f}" if w and h else "–")
        print(f"| {name} | " + " | ".join(row) + " |")
    print("\nAdversarial inputs: seconds for 1 MiB and 4 MiB, ratio, before → after:\n")
    print("| input | 1 MiB | 4 MiB | ratio |")
    print("|---|---|---|---|")
    for label in b.get("adversarial", {}):
        x, y = a.get("adversarial", {}).get(label), b["adversarial"][label]
        if x:
            print(f"| {label} | {x['1MiB']:.3f} → **{y['1MiB']:.3f}** | {x['4MiB']:.3f} → **{y['4MiB']:.3f}** |"
                  f" {x['ratio']:.2f} → **{y['ratio']:.2f}** |")


SECTIONS = {"cold": cold, "warm": warm_and_hot, "steady": steady, "coldstart": coldstart, "load": load,
            "percall": percall, "adversarial": adversarial, "core": core, "strs": strs}


def main() -> None:
    if "--worker" in sys.argv:
        print(json.dumps(worker(json.loads(sys.stdin.read()))))
        return
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--only", nargs="+", choices=list(SECTIONS), default=list(SECTIONS))
    ap.add_argument("--save", metavar="NAME")
    ap.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"),
                    help="saved runs, each NAME or NAME1,NAME2,... (the best figure of several runs)")
    ap.add_argument("--samples", action="store_true", help="write the samples for the core harness and stop")
    ap.add_argument("--core-binary", default=str(Path(__file__).resolve().parent.parent / "build/bench/bench_core_encode"),
                    help="the C++ harness for the core section")
    args = ap.parse_args()
    if args.compare:
        compare(*args.compare)
        return
    smp = samples()
    if args.samples:
        SAMPLES.mkdir(parents=True, exist_ok=True)
        for name, text in smp.items():
            (SAMPLES / f"{name}.txt").write_text(text, encoding="utf-8")
        (SAMPLES / "warmup.txt").write_text(warmup_text(), encoding="utf-8")
        print(f"samples written to {SAMPLES}")
        return
    res: dict = {}
    if args.save and (RESULTS / f"{args.save}.json").exists():
        res = json.loads((RESULTS / f"{args.save}.json").read_text())
    for name in args.only:
        sig = SECTIONS[name]
        if name in ("cold", "warm", "percall", "core", "strs"):
            sig(args, smp, res)
        else:
            sig(args, res)
        if args.save:
            RESULTS.mkdir(parents=True, exist_ok=True)
            (RESULTS / f"{args.save}.json").write_text(json.dumps(res, indent=1))


if __name__ == "__main__":
    main()
