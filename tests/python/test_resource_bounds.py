"""Resources under pressure: huge thread counts, large calls and the scratch they leave behind, and
allocation failure anywhere in a call, which is MemoryError with the tokenizer still usable. Each case
runs in a child: the limits it sets are process-wide, and before the mends the child died."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

GIB = 1 << 30
HERE = Path(__file__).resolve().parent

RSS = """
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096
"""


def test_thread_count_is_clamped(child):
    """threads=10**6 is not a million threads: the batch uses at most four per usable processor and
    returns the right counts."""
    out = child("""
        import os, threading
        from lexaro import Tokenizer

        t = Tokenizer("cl100k_base")
        def threads():
            with open("/proc/self/status") as f:
                return next(int(line.split()[1]) for line in f if line.startswith("Threads:"))
        peak, done = 0, threading.Event()
        def sample():
            global peak
            while not done.is_set():
                peak = max(peak, threads())
        sampler = threading.Thread(target=sample)
        sampler.start()
        base = threads()
        ok = t.count_batch(["hello world"] * 60000, threads=10**6) == [2] * 60000
        long = "hello world " * 20000
        ok &= t.count_batch([long] * 64, threads=10**6) == [t.count(long)] * 64
        done.set()
        sampler.join()
        print(ok, peak - base <= 4 * len(os.sched_getaffinity(0)))
    """, timeout=120)
    assert (out.returncode, out.stdout.split()) == (0, ["True", "True"]), out.stderr[-2000:]


def test_truncate_keeps_no_large_scratch(child, plain_memory):
    """A 240 MB text cut to 10 tokens leaves no 160 MB id buffer behind, on the calling thread nor on
    the threads of a pool."""
    out = child(RSS + """
from concurrent.futures import ThreadPoolExecutor
from lexaro import Tokenizer

t = Tokenizer("cl100k_base")
small = "hello world " * 1000
t.truncate(small, 10)
with ThreadPoolExecutor(2) as pool:
    list(pool.map(lambda s: t.truncate(s, 10), [small] * 2))
    text = "hello world " * 20_000_000
    total = t.count(text)
    base = rss()
    assert t.truncate(text, 10) == (text[:59], total)
    after_call = rss()
    list(pool.map(lambda s: t.truncate(s, 10), [text] * 2))
    after_pool = rss()
print((after_call - base) >> 20, (after_pool - base) >> 20)
""", timeout=300)
    assert out.returncode == 0, out.stderr[-2000:]
    kept_by_call, kept_by_pool = map(int, out.stdout.split())
    assert kept_by_call < 32 and kept_by_pool < 64, out.stdout


def test_out_of_memory_is_memory_error(child):
    """Under a 2 GiB address-space limit, a batch whose ids need more raises MemoryError; its buffers
    are freed and the tokenizer encodes correctly afterwards."""
    out = child(RSS + """
from lexaro import Tokenizer

t = Tokenizer("cl100k_base")
want = t.encode("hello world")
text = "a " * 200_000_000  # 400 MB: 200 million ids
before = rss()
try:
    t.encode_batch([text])
    print("no error")
except MemoryError:
    print("MemoryError")
print((rss() - before) >> 20)
try:
    t.count_batch([text] * 2, threads=2)
    print("counted")
except MemoryError:
    print("MemoryError")
del text
print(t.encode("hello world") == want, t.encode_batch(["hello world"] * 3, threads=2) == t.encode_batch(["hello world"] * 3))
""", timeout=300, address_space=2 * GIB)
    assert out.returncode == 0, out.stderr[-2000:]
    lines = out.stdout.split("\n")
    assert lines[0] == "MemoryError"
    assert int(lines[1]) < 64  # nothing of the failed call stays
    assert lines[2] in ("MemoryError", "counted")
    assert lines[3] == "True True"


INJECTION = """
import ctypes, sys
import numpy  # imported before any failure is armed: its own start-up allocates through operator new
from lexaro import Tokenizer

shim = ctypes.CDLL(None)
shim.lexaro_allocations_left.restype = ctypes.c_long
t = Tokenizer("o200k_harmony")
text = "Hello, world! Ünïcödé 你好 <|endoftext|> " * 3
ids = t.encode(text, allowed_special="all")
calls = {
    "construct": lambda: Tokenizer("cl100k_base"),
    "repr": lambda: repr(t),
    "encode": lambda: t.encode(text, allowed_special={"<|endoftext|>"}),
    "encode refused": lambda: t.encode(text),
    "encode_ordinary": lambda: t.encode_ordinary(text),
    "encode_to_numpy": lambda: t.encode_to_numpy(text, disallowed_special=()),
    "encode_with_offsets": lambda: t.encode_with_offsets(text, unit="char"),
    "encode_single_token": lambda: t.encode_single_token(b"Hello"),
    "count": lambda: t.count(text),
    "truncate": lambda: t.truncate(text, 5),
    "encode_batch": lambda: t.encode_batch([text] * 4, threads=2, with_special=True),
    "count_batch": lambda: t.count_batch([text] * 4, threads=2),
    "truncate_batch": lambda: t.truncate_batch([text] * 4, 5, threads=2),
    "decode": lambda: t.decode(ids + [10**6], errors="ignore"),
    "decode strict": lambda: t.decode(ids[:-1] + [t.encode_single_token(b"\\xe4")], errors="strict"),
    "decode_batch": lambda: t.decode_batch([ids] * 3),
    "special_tokens": lambda: t.special_tokens(),
}
for name, call in calls.items():
    outcomes = set()
    for k in range(10_000):
        shim.lexaro_fail_allocation(k)
        try:
            call()
            outcome = "returned"
        except Exception as e:
            outcome = type(e).__name__
        left = shim.lexaro_allocations_left()
        shim.lexaro_fail_allocation(-1)
        if left >= 0:  # the call made fewer than k + 1 allocations: every one has been failed once
            break
        outcomes.add(outcome)
    print(name, k, sorted(outcomes), t.decode(t.encode("still usable")) == "still usable")
"""

NORMAL = {"encode refused": "ValueError", "decode strict": "ValueError"}


def test_every_failed_allocation_is_memory_error(child, tmp_path):
    """Each allocation that the C++ code makes during a call is made to fail in turn: the call raises
    MemoryError (or its own error, or succeeds with fewer worker threads), the process lives on, and
    the tokenizer is usable after every failure."""
    compiler = shutil.which("c++") or shutil.which("g++")
    if compiler is None:
        pytest.skip("no C++ compiler to build the failing allocator")
    shim = tmp_path / "failing_new.so"
    subprocess.run([compiler, "-shared", "-fPIC", "-O1", str(HERE / "failing_new.cpp"), "-o", str(shim)], check=True)
    # Ahead of a preloaded sanitizer runtime, whose own operator new would otherwise be found first.
    preload = " ".join(p for p in (str(shim), os.environ.get("LD_PRELOAD", "")) if p)
    asan_options = ":".join(o for o in (os.environ.get("ASAN_OPTIONS", ""), "verify_asan_link_order=0") if o)
    env = dict(os.environ, LD_PRELOAD=preload, ASAN_OPTIONS=asan_options)
    out = subprocess.run([os.sys.executable, "-c", INJECTION], capture_output=True, text=True, timeout=600, env=env)
    assert out.returncode == 0, out.stderr[-3000:]
    for line in out.stdout.splitlines():
        name, rest = line.rsplit(" ", 1)[0], line.rsplit(" ", 1)[1]
        assert rest == "True", line
        outcomes = eval(line[line.index("["):line.rindex("]") + 1])
        allowed = {"MemoryError", "returned", NORMAL.get(name.rsplit(" ", 1)[0] if name.count(" ") > 1 else name, "")}
        assert set(outcomes) <= allowed, line
        assert outcomes == [] or "MemoryError" in outcomes, line
    assert len(out.stdout.splitlines()) == 17
