"""The `lexaro` command, run as a user runs it: a new process, arguments, files, folders, standard input
and pipes. Counts, ids and cuts are checked against the Tokenizer methods on each whole input."""
from __future__ import annotations

import fcntl
import json
import os
import pty
import random
import select
import signal
import struct
import subprocess
import sys
import termios
import time
from pathlib import Path

import pytest

from lexaro import BUILTIN_ENCODINGS, Tokenizer
from lexaro.models import MODEL_PREFIX_TO_ENCODING, MODEL_TO_ENCODING

CORPUS = Path(__file__).parent / "corpus"
MIB = 1 << 20


def lexaro(*args, input=None, timeout=300, **kw):
    """Runs `python -m lexaro ARGS`; returns the finished process (stdout and stderr as bytes)."""
    return subprocess.run([sys.executable, "-m", "lexaro", *map(str, args)], input=input, capture_output=True,
                          timeout=timeout, **kw)


def one_line_error(proc, status, *words):
    """The process failed with `status`, and said so in one line on standard error, without a traceback."""
    err = proc.stderr.decode()
    assert proc.returncode == status, (proc.returncode, err)
    assert "Traceback" not in err and err.count("\n") == 1 and err.endswith("\n"), err
    for w in words:
        assert w in err, (w, err)
    return err


def count_lines(proc):
    """The lines of `count`: (count, path) pairs."""
    assert proc.returncode == 0 and proc.stderr == b"", proc.stderr
    rows = []
    for line in proc.stdout.decode().splitlines():
        n, _, name = line.strip().partition(" ")
        rows.append((int(n), name))
    return rows


# ---- inputs: real text, and files made to be hard for the block cuts ----


def corpus_text(size: int, seed: int = 3) -> str:
    """Lines of the test corpus (every script, code, digits, emoji, white space), shuffled, repeated."""
    lines = [ln for p in sorted(CORPUS.glob("*.txt")) for ln in p.read_text(encoding="utf-8").splitlines(True)]
    rng = random.Random(seed)
    out, n = [], 0
    while n < size:
        rng.shuffle(lines)
        for ln in lines:
            out.append(ln)
            n += len(ln.encode())
    return "".join(out)


def adversarial_files(tmp: Path) -> dict:
    """Files of several blocks each: the name, and the bytes."""
    rng = random.Random(11)
    text = corpus_text(3 * MIB)
    files = {
        "one_letter": b"a" * (50 * MIB),  # one pre-token: no cut anywhere
        "spaces": b" " * (3 * MIB),
        "digits": b"1234567890" * (300 * 1024) + b"\n42",
        "cjk": ("\u6f22\u5b57\u304b\u306a\u4ea4\u3058\u308a\u6587" * 150000).encode(),  # letters, no space
        "random_bytes": bytes(rng.getrandbits(8) for _ in range(3 * MIB)),
        "crlf": text.replace("\n", "\r\n").encode(),
        "specials": "".join(rng.choice(["<|endoftext|>", "<|fim_prefix|>", "<|endofprompt|>", "<|start|>",
                                        "<|return|>", " word", "\n", "<|", "|>", "é", "<|endoftext|>\n"])
                            for _ in range(400000)).encode(),
        "corpus": text.encode(),
        "lines_of_one_letter": (b"x" * 700000 + b"\n") * 4,
        "invalid_between_lines": b"".join(rng.choice([b"\xc3\n", b"\xe2\x80\n", b"\xf0\x9f\x98\n", b"\n", b"w",
                                                      b" ", b"\xff", b"\nA", b"\n/x"]) for _ in range(700000)),
    }
    for name, data in files.items():
        (tmp / name).write_bytes(data)
    return files


@pytest.fixture(scope="module")
def hard(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("hard")
    return tmp, adversarial_files(tmp)


def whole_count(tok: Tokenizer, data: bytes, special: bool = False) -> int:
    """Tokenizer.count (or encode_with_special) of the decoded text when it is UTF-8, else encode_bytes."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        assert not special
        return len(tok.encode_bytes(data))
    return len(tok.encode_with_special(text)) if special else tok.count(text)


# ---- count ----


@pytest.mark.parametrize("encoding", ["cl100k_base", "o200k_base"])
def test_count_equals_whole_file_counts(tok, hard, encoding):
    tmp, files = hard
    t = tok[encoding]
    names = sorted(files)
    rows = count_lines(lexaro("count", "--no-progress", "-e", encoding, "-j", "2", *[tmp / n for n in names]))
    want = {n: whole_count(t, files[n]) for n in names}
    assert rows[:-1] == [(want[n], str(tmp / n)) for n in names]
    assert rows[-1] == (sum(want.values()), "total")


@pytest.mark.parametrize("encoding", ["cl100k_base", "o200k_harmony"])
def test_count_with_special_equals_encode_with_special(tok, hard, encoding):
    tmp, files = hard
    t = tok[encoding]
    names = ["specials", "corpus", "crlf", "cjk"]
    proc = lexaro("count", "--json", "--special", "-e", encoding, *[tmp / n for n in names])
    got = json.loads(proc.stdout)
    want = [whole_count(t, files[n], special=True) for n in names]
    assert [f["tokens"] for f in got["files"]] == want and got["total"] == sum(want)
    assert got["encoding"] == encoding and [f["path"] for f in got["files"]] == [str(tmp / n) for n in names]
    plain = json.loads(lexaro("count", "--json", "-e", encoding, tmp / "specials").stdout)["total"]
    assert plain == whole_count(t, files["specials"]) != want[0]  # without --special they are ordinary text


def test_thread_counts_and_stdin_give_the_same_counts(hard, tok):
    tmp, files = hard
    paths = [tmp / n for n in ("corpus", "random_bytes", "one_letter")]
    results = {j: count_lines(lexaro("count", "-j", j, *paths)) for j in (1, 2, 7)}
    assert results[1] == results[2] == results[7]
    # standard input through a pipe, as `cat FILE | lexaro count`
    with open(tmp / "random_bytes", "rb") as f:
        cat = subprocess.Popen(["cat"], stdin=f, stdout=subprocess.PIPE)
        proc = subprocess.run([sys.executable, "-m", "lexaro", "count"], stdin=cat.stdout, capture_output=True,
                              timeout=300)
        cat.wait()
    assert proc.stdout == f"{len(tok['o200k_base'].encode_bytes(files['random_bytes']))}\n".encode()


def test_count_folders_globs_hidden_and_stdin(tmp_path, tok):
    t = tok["o200k_base"]
    tree = {
        "docs/a.md": "# Title\n\nSome *text* here.\n",
        "docs/sub/b.txt": "plain words, more words\n",
        "docs/sub/c.md": "more markdown ```code```\n",
        "docs/.hidden.md": "hidden file\n",
        "docs/.git/config": "[core]\n\tbare = false\n",
        "docs/empty.txt": "",
        "notes.txt": "a note\n",
    }
    for rel, text in tree.items():
        (tmp_path / rel).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / rel).write_text(text, encoding="utf-8")
    os.mkfifo(tmp_path / "docs" / "a_pipe")  # never opened: reading it would wait forever
    want = {rel: t.count(text) for rel, text in tree.items()}

    def run(*args, input=None):
        return count_lines(lexaro("count", *args, input=input, cwd=tmp_path))

    plain = ["docs/a.md", "docs/empty.txt", "docs/sub/b.txt", "docs/sub/c.md"]
    assert run("docs") == [(want[p], p) for p in plain] + [(sum(want[p] for p in plain), "total")]
    # a folder's own files first, then its folders, each in name order
    hidden = ["docs/.hidden.md", "docs/a.md", "docs/empty.txt", "docs/.git/config", "docs/sub/b.txt", "docs/sub/c.md"]
    assert [p for _, p in run("docs", "--hidden")] == hidden + ["total"]
    assert run("docs", "--glob", "*.md") == [(want["docs/a.md"], "docs/a.md"), (want["docs/sub/c.md"], "docs/sub/c.md"),
                                             (want["docs/a.md"] + want["docs/sub/c.md"], "total")]
    assert [p for _, p in run("--glob", "*.txt", "--glob", "b*", "docs")] == ["docs/empty.txt", "docs/sub/b.txt",
                                                                             "total"]
    assert run("notes.txt") == [(want["notes.txt"], "notes.txt")]  # one input: no total line
    assert run("docs/.hidden.md") == [(want["docs/.hidden.md"], "docs/.hidden.md")]  # named, so counted
    assert run(input=b"a note\n") == [(want["notes.txt"], "")]
    assert run("notes.txt", "-", input=b"plain words, more words\n") == [
        (want["notes.txt"], "notes.txt"), (want["docs/sub/b.txt"], "-"),
        (want["notes.txt"] + want["docs/sub/b.txt"], "total")]
    quiet = lexaro("count", "-q", "docs", "notes.txt", cwd=tmp_path)
    assert quiet.stdout == f"{sum(want[p] for p in plain) + want['notes.txt']}\n".encode()
    got = json.loads(lexaro("count", "--json", "-m", "gpt-4", "docs/a.md", cwd=tmp_path).stdout)
    assert got == {"encoding": "cl100k_base", "files": [{"path": "docs/a.md",
                                                         "tokens": tok["cl100k_base"].count(tree["docs/a.md"])}],
                   "total": tok["cl100k_base"].count(tree["docs/a.md"])}


def test_console_script_is_the_same_command(tmp_path):
    script = Path(sys.executable).with_name("lexaro")
    if not script.exists():
        pytest.skip("the console script is not installed beside this interpreter")
    f = tmp_path / "t.txt"
    f.write_text("hello world\n")
    direct = subprocess.run([script, "count", f], capture_output=True, timeout=60)
    assert direct.returncode == 0 and direct.stdout == lexaro("count", f).stdout


# ---- encode, decode ----


def test_encode_and_decode(tok, hard):
    tmp, files = hard
    t = tok["o200k_base"]
    text = "Hello world, it's 2024! <|endoftext|> ünïcödé"
    proc = lexaro("encode", text)
    assert proc.stdout == (" ".join(map(str, t.encode_ordinary(text))) + "\n").encode()
    assert json.loads(lexaro("encode", "--json", "--special", text).stdout) == t.encode_with_special(text)
    assert lexaro("encode", "", input=b"").stdout == b"\n"
    assert json.loads(lexaro("encode", "--json", input=b"").stdout) == []
    ids = t.encode_bytes(files["invalid_between_lines"])  # several blocks, not UTF-8, from standard input
    proc = lexaro("encode", "-j", "2", input=files["invalid_between_lines"])
    assert proc.stdout == (" ".join(map(str, ids)) + "\n").encode()
    back = lexaro("decode", input=proc.stdout)  # more than a read's worth of ids: numbers cut by the reads
    assert back.returncode == 0 and back.stdout == files["invalid_between_lines"]
    assert lexaro("decode", *t.encode("Hello world")).stdout == b"Hello world"
    assert lexaro("decode", input=b"[13225, 2375]\n").stdout == t.decode_bytes([13225, 2375])
    assert lexaro("decode", "-e", "cl100k_base", input=b"9906,1917").stdout == b"Hello world"
    assert lexaro("decode", "199999").stdout == b"<|endoftext|>"


def test_encode_pipes_into_decode(tok, hard):
    tmp, files = hard
    with open(tmp / "crlf", "rb") as f:
        enc = subprocess.Popen([sys.executable, "-m", "lexaro", "encode", "-e", "cl100k_base"], stdin=f,
                               stdout=subprocess.PIPE)
        dec = subprocess.run([sys.executable, "-m", "lexaro", "decode", "-e", "cl100k_base"], stdin=enc.stdout,
                             capture_output=True, timeout=300)
        enc.stdout.close()
        assert enc.wait() == 0
    assert dec.returncode == 0 and dec.stdout == files["crlf"]


# ---- truncate ----


def test_truncate_keeps_what_tokenizer_truncate_keeps(tok, hard):
    tmp, files = hard
    t = tok["o200k_base"]
    text = files["corpus"].decode()
    total = t.count(text)
    first_block = t.count(text[:200000])
    for n in (0, 1, 7, first_block + 12345, total - 1, total, total + 10):
        proc = lexaro("truncate", "-n", n, tmp / "corpus")
        assert proc.returncode == 0 and proc.stdout == t.truncate(text, n)[0].encode(), n
    # cl100k cuts these ideographs into tokens of 2 and 1 bytes: a budget can end inside a character,
    # beyond the first block, and the cut then backs off to the character's start
    cl = tok["cl100k_base"]
    cjk = files["cjk"].decode()
    ids = cl.encode(cjk)
    n = next(n for n in range(300000, 300020) if len(cl.decode_bytes(ids[:n])) % 3)
    proc = lexaro("truncate", "-e", "cl100k_base", "-n", n, input=files["cjk"])  # from standard input
    assert proc.stdout == cl.truncate(cjk, n)[0].encode() and len(proc.stdout) < len(cl.decode_bytes(ids[:n]))
    raw = files["invalid_between_lines"]
    kept, _ = t.truncate_batch([raw], 250000)[0]
    assert lexaro("truncate", "-n", 250000, tmp / "invalid_between_lines").stdout == kept


def test_truncate_with_special(tok, hard):
    tmp, files = hard
    t = tok["cl100k_base"]
    text = files["specials"].decode()
    ids = t.encode_with_special(text)
    for n in (1, 5, len(ids) // 2 + 1, len(ids)):
        proc = lexaro("truncate", "--special", "-e", "cl100k_base", "-n", n, tmp / "specials")
        want = t.decode_bytes(ids[:n])
        assert proc.stdout == want, n  # the specials and this text end on character boundaries


# ---- encodings and models ----


def test_encodings_and_models():
    assert lexaro("encodings").stdout.decode().split() == BUILTIN_ENCODINGS
    assert json.loads(lexaro("encodings", "--json").stdout) == BUILTIN_ENCODINGS
    rows = [line.split() for line in lexaro("models").stdout.decode().splitlines()]
    assert [r[0] for r in rows] == list(MODEL_TO_ENCODING) + [p + "*" for p in MODEL_PREFIX_TO_ENCODING]
    assert [r[1] for r in rows] == list(MODEL_TO_ENCODING.values()) + list(MODEL_PREFIX_TO_ENCODING.values())
    assert all((r[1] in BUILTIN_ENCODINGS) == (len(r) == 2) for r in rows)  # the others are marked
    got = json.loads(lexaro("models", "--json").stdout)
    assert got["models"] == MODEL_TO_ENCODING and got["prefixes"] == MODEL_PREFIX_TO_ENCODING


# ---- errors a user will make ----


def test_bad_inputs_are_reported_and_the_others_counted(tmp_path, tok):
    good = tmp_path / "good.txt"
    good.write_text("some words\n")
    (tmp_path / "empty_dir" / "sub").mkdir(parents=True)
    (tmp_path / "only_hidden").mkdir()
    (tmp_path / "only_hidden" / ".x").write_text("x")
    n = tok["o200k_base"].count("some words\n")
    for bad, problem in (("missing.txt", "No such file or directory"), ("empty_dir", "no files"),
                         ("only_hidden", "no files"), ("/proc/self/mem", "Input/output error")):
        proc = lexaro("count", bad, good.name, cwd=tmp_path)
        one_line_error(proc, 1, f"lexaro count: {bad}: ", problem)
        assert [ln.split() for ln in proc.stdout.decode().splitlines()] == [[str(n), "good.txt"], [str(n), "total"]]
    proc = lexaro("count", "--glob", "*.md", tmp_path)
    one_line_error(proc, 1, str(tmp_path), "no files matching *.md")
    one_line_error(lexaro("truncate", "-n", "3", tmp_path), 1, f"lexaro truncate: {tmp_path}: Is a directory")


@pytest.mark.parametrize("args, words", [
    (["count", "-e", "gpt2"], ["argument -e/--encoding", "legacy encoding 'gpt2'"]),
    (["count", "-e", "nope"], ["unknown encoding 'nope'", "o200k_base"]),
    (["count", "-m", "text-davinci-003"], ["argument -m/--model", "p50k_base", "not included"]),
    (["count", "-m", "no-such-model"], ["unknown model 'no-such-model'"]),
    (["count", "-e", "cl100k_base", "-m", "gpt-4o"], ["not allowed with"]),
    (["truncate", "-n", "-1", "x"], ["N must be 0 or more, not -1"]),
    (["truncate", "-n", "ten"], ["not a whole number: 'ten'"]),
    (["truncate", "x"], ["required: -n"]),
    (["count", "-j", "0"], ["the thread count must be 1 or more"]),
    (["frobnicate"], ["invalid choice: 'frobnicate'"]),
    ([], ["required: COMMAND"]),
])
def test_usage_errors(args, words):
    one_line_error(lexaro(*args, input=b""), 2, *words)


def test_bad_ids_for_decode():
    one_line_error(lexaro("decode", "9906", "x1"), 1, "lexaro decode: argument: not a token id: 'x1'")
    one_line_error(lexaro("decode", "--", "-5"), 1, "not a token id: '-5'")
    one_line_error(lexaro("decode", "300000"), 1, "300000 is not a token id of o200k_base")
    one_line_error(lexaro("decode", "199998"), 1, "199998 is not a token id")  # the gap before the specials
    one_line_error(lexaro("decode", input=b"1 2 3.5 4"), 1, "lexaro decode: standard input: not a token id: '3.5'")
    one_line_error(lexaro("decode", input=b"1 99999999999999999999"), 1, "99999999999999999999 is not a token id")
    proc = lexaro("decode", "-e", "cl100k_base", input=b"9906 1917 100257 100258")
    assert proc.returncode == 0 and proc.stdout == b"Hello world<|endoftext|><|fim_prefix|>"


def test_broken_pipe(hard):
    tmp, _ = hard
    for args in (["encode"], ["count", *[tmp / n for n in ("corpus", "crlf", "digits")]]):
        with open(tmp / "corpus", "rb") as f:
            proc = subprocess.Popen([sys.executable, "-m", "lexaro", *map(str, args)], stdin=f,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            proc.stdout.close()  # the reader is gone before anything was written, as `| head` after its lines
            err = proc.stderr.read()
            proc.wait(timeout=300)
        proc.stderr = err
        one_line_error(proc, 1, "broken pipe")


def _interruptible():
    # Ctrl-C at a terminal: a runner started in the background of a script ignores SIGINT, and the child
    # would inherit that and never see the signal.
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def test_interrupt_ends_quietly():
    proc = subprocess.Popen([sys.executable, "-m", "lexaro", "count"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=_interruptible)
    proc.stdin.write(b"words " * 100000)
    proc.stdin.flush()
    time.sleep(1.5)  # importing, then reading a stream that has not ended
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    proc.stdin.close()
    proc.stdout, proc.stderr = out, err
    one_line_error(proc, 130, "lexaro: interrupted")


# ---- progress ----


def test_progress_bar_only_on_a_terminal(hard):
    tmp, files = hard
    path = tmp / "long"  # 80 MiB of text on one thread: many groups, and longer than the bar's delay
    with open(path, "wb") as f:
        for _ in range(80 * MIB // len(files["corpus"])):
            f.write(files["corpus"])

    def stderr_on_a_terminal(*args):
        main, sub = pty.openpty()
        fcntl.ioctl(sub, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))  # a new pty has no width
        # The bar waits DELAY_SECONDS before it draws; a fast machine may finish sooner, so the test
        # runs the command with no delay.
        command = ("import sys, lexaro.cli.progress as p; p.DELAY_SECONDS = 0; "
                   "from lexaro.cli import main; sys.argv[0] = 'lexaro'; sys.exit(main())")
        proc = subprocess.Popen([sys.executable, "-c", command, "count", "-j", "1", *args, path],
                                stdout=subprocess.PIPE, stderr=sub)
        os.close(sub)
        seen = b""
        while True:
            ready, _, _ = select.select([main], [], [], 60)
            if not ready:
                break
            try:
                chunk = os.read(main, 4096)
            except OSError:  # the terminal closed with the process
                break
            if not chunk:
                break
            seen += chunk
        out = proc.stdout.read()
        proc.wait(timeout=60)
        os.close(main)
        return proc, out, seen

    proc, out, seen = stderr_on_a_terminal()
    assert proc.returncode == 0 and out.endswith(b" " + bytes(path) + b"\n")
    assert b"B/s" in seen and b"%" in seen, seen  # rate and share done of the known size
    proc, out, seen = stderr_on_a_terminal("--no-progress")
    assert proc.returncode == 0 and seen == b""
    assert lexaro("count", path).stderr == b""  # standard error that is no terminal gets no bar
