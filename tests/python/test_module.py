"""The module as CPython's conventions have it: its version from pyproject.toml, its class and internal-fault
exception held in module state (seen by the garbage collector), a copy of the module in each isolated
sub-interpreter, and construction that lets other threads run."""
import gc
import re
import sys
import textwrap
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import lexaro
from lexaro import Tokenizer, _lexaro

ROOT = Path(__file__).resolve().parents[2]


def test_version_is_the_project_version():
    declared = re.search(r'^version = "([^"]+)"$', (ROOT / "pyproject.toml").read_text(), re.M).group(1)
    assert _lexaro.__version__ == lexaro.__version__ == declared


def test_module_state_is_visible_to_the_collector():
    referents = gc.get_referents(_lexaro)
    assert Tokenizer in referents
    internal = [r for r in referents if isinstance(r, type) and r.__name__ == "InternalError"]
    assert len(internal) == 1 and internal[0].__module__ == "lexaro._lexaro"
    assert issubclass(internal[0], BaseException) and not issubclass(internal[0], Exception)
    assert Tokenizer.__module__ == "lexaro._lexaro"


def subinterpreter_api():
    """(create, run, destroy) of this interpreter's low-level sub-interpreter module, or None."""
    try:
        import _interpreters as api  # 3.13

        def run(interp, source):
            failure = api.exec(interp, source)
            assert failure is None, failure
        return api.create, run, api.destroy
    except ImportError:
        pass
    try:
        import _xxsubinterpreters as api  # 3.10 to 3.12
    except ImportError:
        return None
    return api.create, api.run_string, api.destroy


def test_each_subinterpreter_has_a_module_of_its_own(tmp_path):
    api = subinterpreter_api()
    if api is None:
        pytest.skip("this interpreter has no sub-interpreter module")
    create, run, destroy = api
    expected = Tokenizer("o200k_base").encode("Sub-interpreters: héllo <|endoftext|>", allowed_special="all")
    out = tmp_path / "result"
    source = textwrap.dedent(f"""
        import sys
        sys.path[:0] = {sys.path!r}
        from lexaro import Tokenizer
        t = Tokenizer("o200k_base")
        ids = t.encode("Sub-interpreters: héllo <|endoftext|>", allowed_special="all")
        with open({str(out)!r}, "a") as f:
            f.write(f"{{ids == {expected!r}}} {{t.count_batch(['ab cd'] * 3, threads=2) == [t.count('ab cd')] * 3}}\\n")
    """)
    interps = [create() for _ in range(2)]  # isolated, each with its own interpreter lock where supported
    try:
        for interp in interps:
            run(interp, source)
    finally:
        for interp in interps:
            destroy(interp)
    assert out.read_text().split() == ["True", "True", "True", "True"]
    assert Tokenizer("o200k_base").encode("Sub-interpreters: héllo <|endoftext|>", allowed_special="all") == expected


def test_other_threads_run_while_a_tokenizer_is_built():
    """A thread that wakes every millisecond keeps running while o200k_base tables are built: the
    constructor does not hold the interpreter lock for the tenth of a second or more that takes."""
    done = threading.Event()
    stamps = []

    def ticker():
        while not done.is_set():
            stamps.append(time.perf_counter())
            time.sleep(0.001)

    thread = threading.Thread(target=ticker)
    thread.start()
    try:
        time.sleep(0.02)
        start = time.perf_counter()
        for _ in range(3):
            Tokenizer("o200k_base")
        end = time.perf_counter()
    finally:
        done.set()
        thread.join()
    during = sum(start < s < end for s in stamps)
    # with the lock held throughout, the ticker could not run between start and end at all
    assert during >= 10, (during, end - start)


def test_tokenizers_built_at_the_same_time_are_equal():
    text = "Concurrent construction: héllo wörld 🤖 <|endoftext|> 12345"
    names = ["o200k_harmony", "cl100k_base", "o200k_base"] * 2
    with ThreadPoolExecutor(max_workers=6) as pool:
        built = list(pool.map(Tokenizer, names))
    for name, tok in zip(names, built):
        alone = Tokenizer(name)
        assert tok.name == name
        assert (tok.n_vocab, tok.memory_bytes, tok.special_tokens()) == (alone.n_vocab, alone.memory_bytes,
                                                                          alone.special_tokens())
        assert tok.encode(text, allowed_special="all") == alone.encode(text, allowed_special="all")
