"""Pickling and copying travel by encoding name (plus data directory); process pools and a Dask cluster
count as one process does, each worker loading an encoding once."""
from __future__ import annotations

import concurrent.futures
import copy
import multiprocessing
import os
import pickle
import shutil
from pathlib import Path

import pytest

import lexaro
from lexaro import registry

ENCODINGS = ["cl100k_base", "o200k_base", "o200k_harmony"]
DATA = Path(__file__).resolve().parents[2] / "data"
CORPUS = sorted((Path(__file__).parent / "corpus").glob("*.txt"))
PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)


def corpus_texts():
    return [line for path in CORPUS for line in path.read_text(encoding="utf-8").splitlines()]


def copy_datadir(path: Path) -> Path:
    path.mkdir(parents=True, exist_ok=True)
    for f in DATA.iterdir():
        shutil.copy(f, path / f.name)
    return path


@pytest.mark.parametrize("name", ENCODINGS)
def test_builtin_objects_unpickle_as_the_shared_instance(name):
    shared = lexaro.get_encoding(name)
    own = lexaro.Tokenizer(name)
    for protocol in PROTOCOLS:
        for obj in (own, shared.tokenizer):
            data = pickle.dumps(obj, protocol)
            assert len(data) < 200  # a name, not tables
            assert pickle.loads(data) is shared.tokenizer
        for obj in (shared, lexaro.Encoding(own)):
            assert pickle.loads(pickle.dumps(obj, protocol)) is shared
    for obj in (own, shared, shared.tokenizer):
        assert copy.copy(obj) is obj
        assert copy.deepcopy(obj) is obj
    assert copy.deepcopy({"a": [own, shared]}) == {"a": [own, shared]}


def test_datadir_tokenizer_pickles_its_absolute_directory(tmp_path, monkeypatch):
    copy_datadir(tmp_path / "data")
    monkeypatch.chdir(tmp_path)
    tok = lexaro.Tokenizer("o200k_base", "data")
    enc = lexaro.Encoding(tok)
    assert tok.__reduce__() == (registry.load_tokenizer, ("o200k_base", str(tmp_path / "data")))
    monkeypatch.chdir("/")  # the relative path no longer names the directory
    text = "pickled by name and directory: <|endoftext|> \U0001f916"
    for protocol in PROTOCOLS:
        back = pickle.loads(pickle.dumps(tok, protocol))
        assert back is not tok and back is not lexaro.get_encoding("o200k_base").tokenizer
        assert back.name == "o200k_base" and back.encode_with_special(text) == tok.encode_with_special(text)
        back_enc = pickle.loads(pickle.dumps(enc, protocol))
        assert isinstance(back_enc, lexaro.Encoding) and back_enc is not enc
        assert back_enc.encode(text, allowed_special="all") == enc.encode(text, allowed_special="all")
    assert copy.copy(tok) is tok and copy.deepcopy(enc) is enc
    # files that are gone by the time of unpickling: a clear error
    data = pickle.dumps(tok)
    shutil.rmtree(tmp_path / "data")
    with pytest.raises(RuntimeError, match="cannot open"):
        pickle.loads(data)


def test_crafted_pickles_fail_cleanly():
    with pytest.raises(ValueError, match="built-in encodings"):
        registry.load_tokenizer("gpt2")
    with pytest.raises(RuntimeError):
        registry.load_tokenizer("cl100k_base", "/nonexistent/lexaro")
    with pytest.raises(TypeError):
        registry.load_tokenizer(5, 6)


# ---- process pools ----

def count_in_worker(task):
    """Counts in a worker and tells whether the object it received is that process's shared one."""
    obj, texts = task
    tok = obj.tokenizer if isinstance(obj, lexaro.Encoding) else obj
    shared = lexaro.get_encoding(tok.name)
    received_shared = (obj is shared) if isinstance(obj, lexaro.Encoding) else (obj is shared.tokenizer)
    return os.getpid(), id(obj), received_shared, sum(tok.count_batch(texts))


def check_pool_results(results, want):
    assert sum(r[3] for r in results) == want
    assert all(r[2] for r in results)
    by_worker = {}
    for pid, obj_id, _, _ in results:
        by_worker.setdefault(pid, set()).add(obj_id)
    # every task a worker ran received the same object: the encoding was loaded once there
    assert all(len(ids) == 1 for ids in by_worker.values())
    assert os.getpid() not in by_worker


def tasks(obj, texts, n=8):
    return [(obj, texts[i::n]) for i in range(n)]


@pytest.fixture(scope="module")
def texts():
    return corpus_texts()


@pytest.mark.parametrize("method", ["spawn", "fork"])
def test_multiprocessing_pools(method, texts):
    enc = lexaro.get_encoding("cl100k_base")
    want = sum(enc.tokenizer.count_batch(texts))
    with multiprocessing.get_context(method).Pool(2) as pool:
        check_pool_results(pool.map(count_in_worker, tasks(enc, texts), chunksize=1), want)
        check_pool_results(pool.map(count_in_worker, tasks(lexaro.Tokenizer("cl100k_base"), texts), chunksize=1), want)


def test_process_pool_executor(texts, tmp_path):
    enc = lexaro.get_encoding("o200k_harmony")
    want = sum(enc.tokenizer.count_batch(texts))
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
        check_pool_results(list(pool.map(count_in_worker, tasks(enc, texts))), want)
        # a datadir tokenizer travels by its directory and loads there
        own = lexaro.Tokenizer("o200k_harmony", str(copy_datadir(tmp_path / "data")))
        results = list(pool.map(count_in_worker, tasks(own, texts, 2)))
        assert sum(r[3] for r in results) == want and not any(r[2] for r in results)


def count_partition(texts, tokenizer):
    return [(os.getpid(), tokenizer is lexaro.get_encoding(tokenizer.name).tokenizer,
             sum(tokenizer.count_batch(list(texts))))]


def test_dask_local_cluster(tmp_path, texts):
    pytest.importorskip("dask.bag")
    distributed = pytest.importorskip("dask.distributed")
    import dask.bag as db

    for i in range(6):
        (tmp_path / f"part{i}.txt").write_text("\n".join(texts[i::6]), encoding="utf-8")
    paths = sorted(str(p) for p in tmp_path.glob("*.txt"))
    tok = lexaro.get_encoding("o200k_base").tokenizer
    want = sum(tok.count_batch([Path(p).read_text(encoding="utf-8") for p in paths]))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        bag = db.from_sequence(paths, npartitions=3).map(lambda p: Path(p).read_text(encoding="utf-8"))
        parts = bag.map_partitions(count_partition, tok).compute()
    assert sum(count for _, _, count in parts) == want
    assert all(shared for _, shared, _ in parts)
    assert os.getpid() not in {pid for pid, _, _ in parts}
