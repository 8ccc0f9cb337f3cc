"""Data-file and class-table mutation harness: each case writes a data directory with one mutated file
(a vocab, special-tokens or class file of a built-in encoding), then constructs a Tokenizer from it and
encodes a set of texts in a process of its own (forked from this one, so that the module is imported
once), under a time limit and an address-space limit. A case is fine when construction raises
RuntimeError, or when it succeeds and every encode returns ids that decode to the text. A crash, a hang
or a broken invariant is reported with the case number; the same number reproduces the same mutation.

    python3 tests/fuzz/mutate_datadir.py --cases 10000            # the full run (tens of minutes)
    python3 tests/fuzz/mutate_datadir.py --cases 200 --seed 7     # a short run, as the test command does
    python3 tests/fuzz/mutate_datadir.py --only 1234              # one case again
    (--first N starts at case N, so that two processes can share a run)

Exit status 1 when any case crashed, hung or broke an invariant."""

import argparse
import os
import random
import resource
import shutil
import signal
import struct
import sys
import tempfile
import time
from pathlib import Path

DATA = Path(__file__).resolve().parents[2] / "data"
sys.path.insert(0, str(DATA.parent / "tests" / "python"))
from class_lists import pack_class_lists, parse_class_lists  # noqa: E402

FILES = {  # encoding -> vocab, special, class file, number of class lists
    "cl100k_base": ("cl100k.vocab", "cl100k.special", "uniclass.bin", 3),
    "o200k_base": ("o200k.vocab", "o200k.special", "uniclass_o200k.bin", 5),
    "o200k_harmony": ("o200k.vocab", "o200k_harmony.special", "uniclass_o200k.bin", 5),
}
TEXTS = [
    "end.\u2014 next",
    "Hello, world!  It's 2024... ok?\n\n  Done.\r\n",
    "a.b.c  ...   x5y55z 555 !!! '' 's 'll \u00e9t\u00e9 \u0416\u0436 \u4e2d\u6587 \U0001F600",
    "\t\u00a0 \u3000\u2028 <|endoftext|> <|fim_prefix|> trailing   ",
    # every ASCII character before and after non-ASCII ones: where the fast paths hand over to the
    # per-character rules
    "".join(f"{chr(c)}\u2014{chr(c)}\u00e9 \u4e2d{chr(c)}{chr(c)} " for c in range(0x09, 0x7F)),
]
RAW = [b"\xc0\x8a \xe2\x80\x0a \xff\xfe\x80 end.\xe2\x80\x94", bytes(range(256))]
LIMIT_SECONDS = 30
ADDRESS_SPACE = 4 << 30


def mutate_bytes(rng, data):
    """Generic byte-level mutations: flips, overwrites, cuts, insertions, duplication, count fields."""
    data = bytearray(data)
    for _ in range(rng.choice([1, 1, 2, 4, 16])):
        kind = rng.randrange(7)
        at = rng.randrange(len(data)) if data else 0
        if kind == 0 and data:
            data[at] ^= 1 << rng.randrange(8)
        elif kind == 1 and data:
            data[at] = rng.choice([0, 0xFF, 0x7F, 0x80, rng.randrange(256)])
        elif kind == 2:
            del data[at:at + rng.choice([1, 4, 64, len(data)])]
        elif kind == 3:
            data[at:at] = bytes(rng.randrange(256) for _ in range(rng.choice([1, 2, 6, 100])))
        elif kind == 4 and data:
            n = rng.choice([4, 64, 4096])
            data[at:at] = data[at:at + n]
        elif kind == 5 and len(data) >= 4:
            at = rng.randrange(0, len(data) - 3)
            data[at:at + 4] = struct.pack("<I", rng.choice([0, 1, 0xFFFF, 0xFFFFFFFF, 100000, 262143, 262144]))
        elif kind == 6:
            data = data[:rng.randrange(len(data) + 1)]
    return bytes(data)


def mutate_classes(rng, data, count):
    """Class-table mutations that keep the file well-formed: characters moved between classes."""
    lists = parse_class_lists(data, count)
    for _ in range(rng.choice([1, 1, 2, 3, 8])):
        k = rng.randrange(count)
        c = rng.choice([rng.randrange(0x80), rng.randrange(0x80), rng.randrange(0x80), rng.randrange(0x80),
                        rng.randrange(0x800), rng.randrange(0x110000),
                        ord("."), ord(" "), ord("\n"), ord("'"), ord("a"), ord("5"), 0x2014, 0x3000])
        hi = c + rng.choice([0, 0, 0, 5, 300]) if c < 0x10FF00 else c
        if rng.random() < 0.5:
            lists[k] = lists[k] + [(c, hi)]
            if rng.random() < 0.5:
                lists[k].sort()
        else:
            lists[k] = [r for r in lists[k] if not (r[0] <= c <= r[1])]
    return pack_class_lists(lists)


def make_case(number, base_seed):
    """The encoding and data directory contents of case `number`."""
    rng = random.Random(base_seed * 1_000_003 + number)
    encoding = rng.choice(list(FILES))
    vocab, special, classes, count = FILES[encoding]
    files = {name: (DATA / name).read_bytes() for name in (vocab, special, classes)}
    target = rng.choices(["classes", "classes-bytes", "vocab", "special", "absent"], [5, 2, 2, 2, 1])[0]
    if target == "classes":
        files[classes] = mutate_classes(rng, files[classes], count)
    elif target == "classes-bytes":
        files[classes] = mutate_bytes(rng, files[classes])
    elif target == "vocab":
        files[vocab] = mutate_bytes(rng, files[vocab])
    elif target == "special":
        files[special] = mutate_bytes(rng, files[special])
    else:
        del files[rng.choice([vocab, special, classes])]
    return encoding, target, files


def run_case(encoding, directory):
    """Runs in the forked child: exit status 0 fine, 3 broken invariant."""
    resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE, ADDRESS_SPACE))
    from lexaro import Tokenizer
    try:
        t = Tokenizer(encoding, str(directory))
    except RuntimeError as e:
        os._exit(5 if str(e).startswith("lexaro: ") else 3)
    every_byte = all(t.decode_single_token_bytes(t.encode_single_token(bytes([b]))) == bytes([b])
                     for b in range(256)) if _every_byte_is_token(t) else False
    for text in TEXTS:
        ids = t.encode_ordinary(text)
        if t.count(text) != len(ids) or (every_byte and t.decode(ids) != text):
            os._exit(3)
        t.encode(text, disallowed_special=())
        t.encode_with_special(text)
        t.truncate(text, 3)
    for data in RAW:
        ids = t.encode_bytes(data)
        if every_byte and t.decode_bytes(ids) != data:
            os._exit(3)
    t.encode_batch(TEXTS * 4, threads=2)
    t.count_batch(TEXTS * 4, threads=2, with_special=True)
    os._exit(0)


def _every_byte_is_token(t):
    try:
        for b in range(256):
            t.encode_single_token(bytes([b]))
        return True
    except KeyError:
        return False


def run(number, base_seed, scratch):
    encoding, target, files = make_case(number, base_seed)
    directory = scratch / f"case{number}"
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir()
    for name, data in files.items():
        (directory / name).write_bytes(data)
    pid = os.fork()
    if pid == 0:
        try:
            run_case(encoding, directory)
        except BaseException:
            os._exit(4)
    deadline = time.monotonic() + LIMIT_SECONDS
    status = None
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        time.sleep(0.002)
    else:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        shutil.rmtree(directory, ignore_errors=True)
        return encoding, target, "hang"
    shutil.rmtree(directory, ignore_errors=True)
    if os.WIFSIGNALED(status):
        return encoding, target, f"crash (signal {os.WTERMSIG(status)})"
    code = os.WEXITSTATUS(status)
    return encoding, target, {0: "built", 5: "refused", 3: "broken invariant", 4: "unexpected exception"}.get(code, f"exit {code}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cases", type=int, default=10_000)
    parser.add_argument("--first", type=int, default=0, help="number of the first case")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--only", type=int, default=None, help="run this one case")
    args = parser.parse_args()
    import lexaro  # noqa: F401  imported once; every case forks from here

    numbers = [args.only] if args.only is not None else range(args.first, args.first + args.cases)
    tally, bad = {}, []
    start = time.monotonic()
    with tempfile.TemporaryDirectory() as tmp:
        for number in numbers:
            encoding, target, outcome = run(number, args.seed, Path(tmp))
            tally[outcome] = tally.get(outcome, 0) + 1
            if outcome not in ("built", "refused"):
                bad.append((number, encoding, target, outcome))
                print(f"case {number}: {encoding} {target}: {outcome}", flush=True)
    seconds = time.monotonic() - start
    print(f"{len(numbers)} cases in {seconds:.0f} s: " + ", ".join(f"{v} {k}" for k, v in sorted(tally.items())))
    print(f"{len(numbers) - len(bad)} passed, {len(bad)} failed")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
