"""Process events while other threads are inside lexaro: interpreter exit with daemon threads in
calls, and fork() with busy threads. Each run is a child process."""

import subprocess
import sys

EXIT_WITH_DAEMONS = """
import threading, time
from lexaro import Tokenizer

t = Tokenizer("cl100k_base")
calls = [
    lambda: t.encode("hello world"),
    lambda: t.encode("hello <|endoftext|>", allowed_special="all"),
    lambda: t.decode_batch([[15339, 1917]] * 40),
    lambda: t.count_batch(["hello world"] * 8, threads=2),
    lambda: t.truncate("hello world " * 50, 3),
]

def loop(call):
    while True:
        call()

for call in calls:
    threading.Thread(target=loop, args=(call,), daemon=True).start()
time.sleep(0.05)
"""


def test_exit_with_daemon_threads_inside_calls():
    """At exit the interpreter ends each daemon thread that waits for the lock by unwinding it; the
    unwind must pass through lexaro's frames, never end the process. 50 runs, two at a time."""
    failures = []
    for _ in range(25):
        runs = [subprocess.Popen([sys.executable, "-c", EXIT_WITH_DAEMONS], stderr=subprocess.PIPE, text=True)
                for _ in range(2)]
        for run in runs:
            _, err = run.communicate(timeout=60)
            if run.returncode != 0:
                failures.append((run.returncode, err[-300:]))
    assert failures == []


FORK_UNDER_LOAD = """
import os, sys, threading, time, warnings
from lexaro import Tokenizer

warnings.simplefilter("ignore")  # fork with threads running is the point here
forks = int(sys.argv[1])
# More tokenizers than a thread keeps caches for, so that the busy threads go through the shared
# pool of caches all the time; batches start and end worker threads, which park their caches there.
toks = [Tokenizer(name) for name in ("cl100k_base", "o200k_base", "o200k_harmony", "cl100k_base")]
probe = "fork under load: caches and locks of the child"
want = [t.encode(probe) for t in toks]
stop = threading.Event()

def busy(k):
    text = f"busy thread {k} " * 20
    while not stop.is_set():
        for t in toks:
            t.encode(text)
        toks[k].count_batch([text] * 16, threads=8)

threads = [threading.Thread(target=busy, args=(k,)) for k in range(3)]
for th in threads:
    th.start()
hangs = wrong = 0
for _ in range(forks):
    pid = os.fork()
    if pid == 0:
        ok = [t.encode(probe) for t in toks] == want and toks[0].count_batch([probe] * 4, threads=2) == [len(want[0])] * 4
        os._exit(0 if ok else 1)
    deadline = time.monotonic() + 10
    while True:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            wrong += status != 0
            break
        if time.monotonic() > deadline:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
            hangs += 1
            break
        time.sleep(0.0005)
stop.set()
for th in threads:
    th.join()
print(hangs, wrong)
"""


def test_fork_while_other_threads_encode(child, fork_safe_allocator):
    """1,000 forks while three threads encode and run batches: every child finds lexaro's locks free
    and its caches usable, and encodes correctly."""
    out = child(FORK_UNDER_LOAD, timeout=600, args=["1000"])
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout.split() == ["0", "0"]
