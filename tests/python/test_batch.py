"""Batch methods: the flat id and offset buffers, agreement with the single-text methods whatever the
thread count, numpy views, workers started per call, argument errors, and failure paths (numpy missing,
a worker that cannot be started)."""

import os
import random
import struct
import subprocess
import sys
import textwrap
import threading
import time
import weakref

import numpy
import pytest
from conftest import assert_noted


ENCODINGS = ["cl100k_base", "o200k_base", "o200k_harmony"]
THREADS = [1, 0, 2, 64]
BATCH_METHODS = ["encode_batch", "encode_batch_to_numpy", "count_batch"]

FRAGMENTS = [
    "the", " quick", " brown", " fox", "Jumps", " OVER", "'s", "'LL", " don't", "\n", "\n\n", "  ", "\t",
    " 12345", "3.14159", " 0x7fff", "!!", "?", " (a, b)", "def f(x):\n    return x", "<div>",
    " Ünïcödé", " привет", " мир", "你好", "世界", " مرحبا", " שלום", " नमस्ते", " สวัสดี", " 안녕하세요",
    " 😀", "👩🏽‍💻", "\u00a0", "\u3000", "e\u0301", " ΑΘΗΝΑ",
    "<|endoftext|>", "<|fim_prefix|>", "<|endofprompt|>", "<|start|>", "<|message|>", "<|end|>", "<|",
]


def make_texts(seed, n, max_fragments=60):
    """Deterministic texts of very different lengths, with empty ones and special strings among them."""
    rng = random.Random(seed)
    texts = []
    for i in range(n):
        k = 0 if i % 7 == 3 else rng.choice([1, 2, 5, rng.randint(1, max_fragments)])
        texts.append("".join(rng.choice(FRAGMENTS) for _ in range(k)))
    texts.append("".join(rng.choice(FRAGMENTS) for _ in range(3000)))  # one long text
    return texts


TEXTS = make_texts(1, 80)


def unflatten(ids_bytes, offsets_bytes):
    """The per-text id lists of a flat result, read as little-endian u32 ids and i64 offsets."""
    assert len(ids_bytes) % 4 == 0 and len(offsets_bytes) % 8 == 0
    ids = struct.unpack(f"<{len(ids_bytes) // 4}I", ids_bytes)
    offsets = struct.unpack(f"<{len(offsets_bytes) // 8}q", offsets_bytes)
    assert offsets[0] == 0 and offsets[-1] == len(ids)
    assert all(a <= b for a, b in zip(offsets, offsets[1:]))
    return [list(ids[a:b]) for a, b in zip(offsets, offsets[1:])]


def plain(result):
    """A batch result with numpy arrays turned into lists, for comparison."""
    if isinstance(result, tuple):
        return tuple(x.tolist() if isinstance(x, numpy.ndarray) else x for x in result)
    return result


# ---- layout of the flat result and empty batches ----


def test_empty_batch(cl):
    assert cl.encode_batch([]) == (b"", bytes(8))
    assert cl.count_batch([]) == []
    assert cl.truncate_batch([], 5) == []
    ids, offsets = cl.encode_batch_to_numpy([], threads=3)
    assert ids.dtype == numpy.uint32 and ids.shape == (0,)
    assert offsets.dtype == numpy.int64 and offsets.tolist() == [0]


def test_empty_text_repeats_its_offset(cl):
    ids_bytes, offsets_bytes = cl.encode_batch(["a", "", "b c"])
    a, b = cl.encode_ordinary("a"), cl.encode_ordinary("b c")
    assert len(ids_bytes) == 4 * (len(a) + len(b)) and len(offsets_bytes) == 8 * 4
    assert struct.unpack("<4q", offsets_bytes) == (0, len(a), len(a), len(a) + len(b))
    assert ids_bytes == struct.pack(f"<{len(a) + len(b)}I", *a, *b)


def test_special_strings_only_with_special(cl):
    text = "hello <|endoftext|> world"
    for threads in (1, 2):
        plain = unflatten(*cl.encode_batch([text, "x"], threads=threads))[0]
        special = unflatten(*cl.encode_batch([text, "x"], threads=threads, with_special=True))[0]
        assert 100257 not in plain and plain == cl.encode_ordinary(text)
        assert special.count(100257) == 1 and special == cl.encode_with_special(text)


# ---- results equal the single-text methods, whatever the thread count ----


@pytest.mark.parametrize("name", ENCODINGS)
def test_encode_and_count_batch_equal_single_text_methods(tok, name):
    t = tok[name]
    for with_special in (False, True):
        single = t.encode_with_special if with_special else t.encode_ordinary
        want = [single(s) for s in TEXTS]
        flat = {threads: t.encode_batch(TEXTS, threads, with_special) for threads in THREADS}
        assert len(set(flat.values())) == 1, "the bytes depend on the thread count"
        assert unflatten(*flat[1]) == want
        for threads in THREADS:
            counts = t.count_batch(TEXTS, threads=threads, with_special=with_special)
            assert counts == [len(ids) for ids in want]
        if not with_special:
            assert counts == [t.count(s) for s in TEXTS]


@pytest.mark.parametrize("name", ENCODINGS)
def test_truncate_batch_equals_truncate(tok, name):
    t = tok[name]
    texts = TEXTS + ["é" * 9, "😀😀😀", "plain ascii words here"]
    for max_tokens in (0, 1, 2, 7, 10**9):
        want = [t.truncate(s, max_tokens) for s in texts]
        for threads in THREADS:
            got = t.truncate_batch(texts, max_tokens, threads=threads)
            assert got == want
            for (kept, _), s in zip(got, texts):
                if len(s) > 1:
                    assert kept is not s  # a new str even when nothing was cut


@pytest.mark.parametrize("with_special", [False, True])
def test_numpy_slices(tok, with_special):
    t = tok["o200k_harmony"]
    single = t.encode_with_special if with_special else t.encode_ordinary
    ids, offsets = t.encode_batch_to_numpy(TEXTS, threads=2, with_special=with_special)
    assert ids.dtype == numpy.uint32 and ids.ndim == 1
    assert offsets.dtype == numpy.int64 and offsets.shape == (len(TEXTS) + 1,)
    for i, s in enumerate(TEXTS):
        assert ids[offsets[i] : offsets[i + 1]].tolist() == single(s)
    ids_bytes, offsets_bytes = t.encode_batch(TEXTS, with_special=with_special)
    assert isinstance(ids.base, bytes) and ids.base == ids_bytes
    assert isinstance(offsets.base, bytes) and offsets.base == offsets_bytes


def test_any_sequence_of_str_is_accepted(cl):
    class Words:  # a sequence by protocol only
        def __len__(self):
            return 2

        def __getitem__(self, i):
            if i >= 2:
                raise IndexError(i)
            return ["one", "two words"][i]

    class Text(str):
        pass

    want = [cl.count("one"), cl.count("two words")]
    for texts in (("one", "two words"), Words(), [Text("one"), "two words"]):
        assert cl.count_batch(texts, threads=2) == want
    assert cl.count_batch(["one"], with_special=numpy.bool_(True)) == [want[0]]


def test_items_made_on_access_are_kept_for_the_call(cl):
    """Each access builds a new str that nothing else refers to: the texts must be kept or copied
    before the lock is released, or the workers would read freed memory."""

    class Fresh:
        def __len__(self):
            return len(TEXTS)

        def __getitem__(self, i):
            if i >= len(TEXTS):
                raise IndexError(i)
            return "".join(list(TEXTS[i]))

    want = cl.encode_batch(TEXTS, threads=2)
    for _ in range(3):
        assert cl.encode_batch(Fresh(), threads=2) == want
        assert cl.truncate_batch(Fresh(), 10**9, threads=2) == [(s, cl.count(s)) for s in TEXTS]


# ---- worker threads started per call ----


def native_threads():
    return len(os.listdir("/proc/self/task"))


def peak_extra_threads(call):
    """The largest number of threads beyond those present before, seen while `call` runs."""
    before = native_threads()
    peak = 0
    done = threading.Event()

    def sample():
        nonlocal peak
        while not done.is_set():
            peak = max(peak, native_threads())

    sampler = threading.Thread(target=sample)
    sampler.start()
    base = native_threads()  # with the sampler running
    try:
        call()
    finally:
        done.set()
        sampler.join()
    # No worker outlives its call (an ended thread may stay listed for a moment).
    deadline = time.monotonic() + 2
    while native_threads() != before and time.monotonic() < deadline:
        time.sleep(0.01)
    assert native_threads() == before
    return peak - base


def test_workers_are_capped_by_the_number_of_texts(cl):
    big = "The quick brown fox jumps over the lazy dog. " * 160000  # about 7 MB: workers live for a while
    assert peak_extra_threads(lambda: cl.count_batch([big, big + "!"], threads=2)) == 2
    assert peak_extra_threads(lambda: cl.count_batch([big, big + "!"], threads=64)) <= 2
    assert peak_extra_threads(lambda: cl.count_batch([big], threads=64)) == 0


# ---- argument errors ----


# ---- bytes-like items ----

RAW = [
    b"",
    b"caf\xc3\xa9 \xff\xfe broken \xe2\x82",  # valid and invalid UTF-8 mixed, a cut-off sequence at the end
    b"\xc0\n\xe2\x80\n  \x85\xa0 x",  # leads that swallow newlines, stray continuation bytes
    bytes(range(256)),
    "plain text, no surprises".encode(),
]


@pytest.mark.parametrize("name", ENCODINGS)
def test_bytes_items_encode_as_encode_bytes(tok, name):
    t = tok[name]
    items = RAW + [bytearray(RAW[1]), memoryview(RAW[2]), memoryview(b"xx" + RAW[3])[2:], "a str among them"]
    want = [t.encode_bytes(bytes(x)) if not isinstance(x, str) else t.encode_ordinary(x) for x in items]
    for threads in (1, 2):
        assert unflatten(*t.encode_batch(items, threads)) == want
        assert t.count_batch(items, threads=threads) == [len(ids) for ids in want]


@pytest.mark.parametrize("name", ENCODINGS)
def test_bytes_items_with_special_split_even_when_not_utf8(tok, name):
    t = tok[name]
    eot = t.eot_token
    item = b"\xff<|endoftext|>\xfe <|endoftext|><|endoftext"
    got = unflatten(*t.encode_batch([item], with_special=True))[0]
    want = t.encode_bytes(b"\xff") + [eot] + t.encode_bytes(b"\xfe ") + [eot] + t.encode_bytes(b"<|endoftext")
    assert got == want
    assert t.count_batch([item], with_special=True) == [len(want)]
    valid = "caf\u00e9 <|endoftext|> x"
    assert t.count_batch([valid.encode()], with_special=True) == [len(t.encode_with_special(valid))]


def test_a_bytearray_item_cannot_be_resized_while_the_batch_holds_it(cl):
    """Fetching a later item may run Python code; it cannot pull the memory from under an earlier one."""
    grown = bytearray(b"first item")

    class Sneaky:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            if i == 1:
                grown.extend(b" grown" * 1000)  # the batch holds an export of `grown`: refused
            return [grown, "second"][i]

    with pytest.raises(BufferError) as e:
        cl.count_batch(Sneaky())
    assert_noted(e.value, "texts")
    assert grown == b"first item"
    assert cl.count_batch([grown, memoryview(grown)]) == [cl.count("first item")] * 2


def test_truncate_batch_of_bytes_items_gives_bytes(cl):
    texts = ["pure text é", "é" * 9]
    items = [s.encode() for s in texts] + [bytearray(b"\xff\xfe abc def"), b""]
    for max_tokens in (0, 1, 3, 10**9):
        got = cl.truncate_batch(items, max_tokens)
        assert all(type(kept) is bytes for kept, _ in got)
        for (kept, total), s in zip(got, texts):
            assert (kept.decode(), total) == cl.truncate(s, max_tokens)
        kept, total = got[2]
        assert total == len(cl.encode_bytes(b"\xff\xfe abc def"))
        assert b"\xff\xfe abc def".startswith(kept)
    assert cl.truncate_batch(items[:1] + texts[:1], 10**9) == [(items[0], cl.count(texts[0])), cl.truncate(texts[0], 10**9)]


@pytest.mark.parametrize("method", BATCH_METHODS)
def test_texts_errors(cl, method):
    call = getattr(cl, method)
    with pytest.raises(TypeError) as e:
        call("abc")
    assert str(e.value) == "Can't extract `str` to `Vec`"
    assert_noted(e.value, "texts")
    for bad in (["a", 1], ["a", None], ["a", 2.5], 5, {"a"}, (s for s in ["a"])):
        with pytest.raises(TypeError) as e:
            call(bad)
        assert_noted(e.value, "texts")
    with pytest.raises(TypeError) as e:
        call(["a", 1])
    assert str(e.value) == "'int' object is not an instance of 'str'"
    with pytest.raises(UnicodeEncodeError) as e:
        call(["a", "\ud800"])
    assert_noted(e.value, "texts")
    with pytest.raises(BufferError) as e:  # a bytes-like item must be contiguous
        call(["a", memoryview(b"abcd")[::2]])
    assert_noted(e.value, "texts")


@pytest.mark.parametrize("method", BATCH_METHODS)
def test_threads_and_flag_errors(cl, method):
    call = getattr(cl, method)
    for bad, error in ((-1, OverflowError), (2**64, OverflowError), ("2", TypeError), (1.0, TypeError)):
        with pytest.raises(error) as e:
            call(["a"], threads=bad)
        assert_noted(e.value, "threads")
    for bad in (1, 0, None, "True"):
        with pytest.raises(TypeError) as e:
            call(["a"], with_special=bad)
        assert_noted(e.value, "with_special")
    with pytest.raises(TypeError, match=rf"^Tokenizer\.{method}\(\) got an unexpected keyword argument 'x'$"):
        call(["a"], x=1)
    with pytest.raises(TypeError, match=rf"^Tokenizer\.{method}\(\) missing 1 required positional argument"):
        call()
    assert plain(call(texts=["a b"], threads=2**64 - 1, with_special=False)) == plain(call(["a b"], 1, False))


def test_truncate_batch_errors(cl):
    with pytest.raises(OverflowError) as e:
        cl.truncate_batch(["a"], -1)
    assert_noted(e.value, "max_tokens")
    with pytest.raises(OverflowError) as e:
        cl.truncate_batch(["a"], 1, threads=-1)
    assert_noted(e.value, "threads")
    with pytest.raises(TypeError) as e:
        cl.truncate_batch("ab", 1)
    assert str(e.value) == "Can't extract `str` to `Vec`"
    assert_noted(e.value, "texts")
    with pytest.raises(TypeError, match=r"^Tokenizer\.truncate_batch\(\) missing 1 required positional argument: 'max_tokens'$"):
        cl.truncate_batch(["a"])
    with pytest.raises(TypeError, match="takes from 3 to 4 positional arguments but 5 were given"):
        cl.truncate_batch(["a"], 1, 1, 1)
    assert cl.truncate_batch(texts=["ab"], max_tokens=2**64 - 1, threads=2) == [("ab", 1)]


def test_text_signatures(cl):
    assert cl.encode_batch.__text_signature__ == "($self, texts, threads=0, with_special=False)"
    assert cl.encode_batch_to_numpy.__text_signature__ == "($self, texts, threads=0, with_special=False)"
    assert cl.count_batch.__text_signature__ == "($self, texts, threads=0, with_special=False)"
    assert cl.truncate_batch.__text_signature__ == "($self, texts, max_tokens, threads=0)"


# ---- failure paths ----


def test_numpy_missing(cl, monkeypatch):
    monkeypatch.setitem(sys.modules, "numpy", None)  # makes `import numpy` fail
    with pytest.raises(RuntimeError, match=r"^the numpy methods need numpy installed: pip install 'lexaro-rs\[numpy\]'$"):
        cl.encode_batch_to_numpy(["a b"])


def test_second_frombuffer_failing_drops_the_first_array(cl, monkeypatch):
    made = []
    real = numpy.frombuffer

    def frombuffer(buffer, dtype):
        if dtype == "int64":
            raise ValueError("no offsets today")
        array = real(buffer, dtype)
        made.append(weakref.ref(array))
        return array

    monkeypatch.setattr(numpy, "frombuffer", frombuffer)
    with pytest.raises(ValueError, match="^no offsets today$"):
        cl.encode_batch_to_numpy(["a b", "c"])
    assert len(made) == 1 and made[0]() is None


def test_worker_that_cannot_start_leaves_its_work_to_the_others(plain_memory):
    """With no address space left for a thread stack, the batch runs on the threads that could start
    (here none: the calling thread does the work) and gives the full result; nothing is raised. Run in a
    child: the limit is process-wide."""
    script = textwrap.dedent(
        """
        import resource
        from lexaro import Tokenizer

        t = Tokenizer("cl100k_base")
        texts = ["hello world", "a b c"] * 4
        want = t.encode_batch(texts, threads=1)
        counts = t.count_batch(texts, threads=1)
        vm = next(int(l.split()[1]) * 1024 for l in open("/proc/self/status") if l.startswith("VmSize:"))
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        resource.setrlimit(resource.RLIMIT_AS, (vm + (1 << 20), hard))
        try:
            print(t.encode_batch(texts, threads=8) == want, t.count_batch(texts, threads=8) == counts)
        except BaseException as e:
            print(type(e).__name__, e)
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        print(t.encode_batch(texts, threads=8) == want)
        """
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == ["True True", "True"]
