"""The `lexaro count` command on a large file: MB/s with 1 and 2 threads, peak resident memory, and
Tokenizer.count on the same text held in memory.

    python3 bench/bench_cli.py [--size-mib 1024] [--runs 3] [--corpus /tmp/lexaro-cli-corpus.txt]

The corpus is built once (and reused while its size matches) from the manual pages and package
documentation of this machine (/usr/share/man, /usr/share/doc): their paragraphs, shuffled with a fixed
seed and repeated in a new order until the size is reached. It is valid UTF-8 (undecodable bytes of the
sources are replaced), so that Tokenizer.count can take it whole. It is never committed.

Each command run is a fresh process (`python -m lexaro count --no-progress -e ENCODING -j N FILE`);
its peak resident set comes from the kernel's account of the finished child (wait4). The load average
is printed with the results: on a shared machine compare medians, and read the two-thread speedup
together with how busy the machine was.
"""
from __future__ import annotations

import argparse
import gzip
import os
import random
import statistics
import subprocess
import sys
import time
from pathlib import Path

MIB = 1 << 20
SEED = 20261208


def _texts():
    """Text of every English manual page and documentation file found, in sorted order."""
    man = Path("/usr/share/man")
    for sect in sorted(man.glob("man*")):
        for page in sorted(sect.glob("*")):
            yield page
    for doc in sorted(Path("/usr/share/doc").rglob("*")):
        name = doc.name.lower()
        if doc.is_file() and (name.startswith(("readme", "changelog", "copyright", "news"))
                              or name.endswith((".txt", ".md", ".rst", ".txt.gz", ".md.gz"))):
            yield doc


def _read(path: Path) -> str:
    try:
        data = path.read_bytes()
        if path.suffix == ".gz":
            data = gzip.decompress(data)
    except (OSError, EOFError, gzip.BadGzipFile):
        return ""
    return data.decode("utf-8", "replace")


def build_corpus(path: Path, size: int) -> None:
    paragraphs = []
    for p in _texts():
        paragraphs += [q for q in _read(p).split("\n\n") if q.strip()]
    if not paragraphs:
        sys.exit("no manual pages or documentation found to build a corpus from")
    rng = random.Random(SEED)
    written = 0
    tmp = path.with_suffix(".partial")
    with open(tmp, "wb") as f:
        while written < size:
            rng.shuffle(paragraphs)
            for q in paragraphs:
                b = (q + "\n\n").encode("utf-8")
                f.write(b)
                written += len(b)
                if written >= size:
                    break
    with open(tmp, "r+b") as f:  # exactly `size` bytes, cut at the end of a line
        f.seek(size - 4096)
        tail = f.read(4096)
        f.truncate(size - 4096 + tail.rfind(b"\n") + 1)
    tmp.replace(path)


def run_count(path: Path, encoding: str, threads: int) -> tuple[float, float, int, int]:
    """Wall seconds, CPU seconds, peak RSS in bytes and the printed count of one `lexaro count` process."""
    cmd = [sys.executable, "-m", "lexaro", "count", "--no-progress", "-q", "-e", encoding, "-j", str(threads),
           str(path)]
    t0 = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - t0
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"lexaro count failed with status {proc.returncode}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024, int(out)


def in_memory_count(path: Path, encoding: str, runs: int) -> tuple[float, float, int]:
    """Median wall and CPU seconds of Tokenizer.count over the whole file held in memory as one str, and
    the count."""
    import lexaro

    text = path.read_bytes().decode("utf-8")  # not read_text: its newline translation would change the text
    tok = lexaro.Tokenizer(encoding)
    tok.count(text[:MIB])  # warm the caches as the command's threads warm theirs
    times, cpus, n = [], [], 0
    for _ in range(runs):
        c0, t0 = time.process_time(), time.perf_counter()
        n = tok.count(text)
        times.append(time.perf_counter() - t0)
        cpus.append(time.process_time() - c0)
    return statistics.median(times), statistics.median(cpus), n


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--size-mib", type=int, default=1024)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--corpus", default="/tmp/lexaro-cli-corpus.txt")
    ap.add_argument("--encodings", nargs="+", default=["o200k_base"])
    ap.add_argument("--build-only", action="store_true", help=argparse.SUPPRESS)
    args = ap.parse_args()
    path = Path(args.corpus)
    size = args.size_mib * MIB
    if args.build_only:
        build_corpus(path, size)
        return
    if not path.exists() or abs(path.stat().st_size - size) > 4096:
        print(f"building {path} ({args.size_mib} MiB) ...", flush=True)
        # in a process of its own: a child forked from a parent that held the paragraphs would count
        # them in its peak resident size
        subprocess.run([sys.executable, __file__, "--build-only", "--corpus", str(path), "--size-mib",
                        str(args.size_mib)], check=True)
    mb = path.stat().st_size / 1e6
    print(f"corpus: {path}, {mb:.0f} MB of manual pages and package documentation; {os.cpu_count()} processors")
    for enc in args.encodings:
        results = {1: [], 2: []}
        for _ in range(args.runs):  # one and two threads in turn, so that both meet the same load
            for threads in (1, 2):
                load = os.getloadavg()[0]
                wall, cpu, rss, n = run_count(path, enc, threads)
                results[threads].append((wall, rss, n))
                print(f"  {enc} -j{threads}: {wall:6.2f} s  {mb / wall:6.1f} MB/s  CPU {cpu:6.2f} s"
                      f" ({cpu / wall:.2f} processors busy)  peak RSS {rss / MIB:5.0f} MiB  (load before {load:.2f})",
                      flush=True)
        counts = {n for runs in results.values() for _, _, n in runs}
        mem_time, mem_cpu, mem_n = in_memory_count(path, enc, args.runs)
        med = {t: statistics.median(w for w, _, _ in runs) for t, runs in results.items()}
        pairs = statistics.median(a[0] / b[0] for a, b in zip(results[1], results[2]))
        peak = max(r for runs in results.values() for _, r, _ in runs)
        print(f"{enc}: count {sorted(counts)} (Tokenizer.count of the whole text: {mem_n})")
        print(f"  lexaro count -j1: {mb / med[1]:.1f} MB/s, -j2: {mb / med[2]:.1f} MB/s (median of {args.runs}),"
              f" speedup {med[1] / med[2]:.2f}x (median of the pairs' ratios {pairs:.2f}x); peak RSS {peak / MIB:.0f} MiB")
        print(f"  Tokenizer.count in memory: {mb / mem_time:.1f} MB/s (CPU {mem_cpu:.2f} s); lexaro count -j1 "
              f"reaches {100 * mem_time / med[1]:.0f}% of it")


if __name__ == "__main__":
    main()
