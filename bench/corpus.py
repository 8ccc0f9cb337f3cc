"""Fixed benchmark corpora, generated deterministically from the committed test corpus.

The test corpus (tests/python/corpus) is small; benchmarks need megabytes. Each corpus here is built with
a fixed seed from the words, lines and characters of those files, so that every run measures the same
bytes while the text keeps a realistic variety of pieces (a plain repetition of one file would make the
pre-token cache hit unrealistically often).
"""
from __future__ import annotations

import random
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CORPUS = ROOT / "tests" / "python" / "corpus"
SEED = 20261208


def _read(pattern: str) -> list[str]:
    return [p.read_text(encoding="utf-8") for p in sorted(CORPUS.glob(pattern))]


def _zipf_words(text: str, size: int, rng: random.Random) -> str:
    """Sentences of words drawn from `text` with a Zipf-like distribution over its distinct words,
    varied with case changes, numbers and punctuation."""
    words = re.findall(r"\w+", text)
    freq: dict[str, int] = {}
    for w in words:
        freq[w] = freq.get(w, 0) + 1
    vocab = sorted(freq, key=lambda w: -freq[w])
    weights = [1.0 / (rank + 1) ** 1.05 for rank in range(len(vocab))]
    out: list[str] = []
    n = 0
    while n < size:
        k = rng.randint(6, 28)
        sent = rng.choices(vocab, weights, k=k)
        if rng.random() < 0.15:
            sent[rng.randrange(k)] = str(rng.randint(0, 10 ** rng.randint(1, 7)))
        sent[0] = sent[0][:1].upper() + sent[0][1:]
        s = " ".join(sent)
        s += rng.choice([".", ".", ".", "?", "!", ";", ","])
        s += "\n\n" if rng.random() < 0.12 else " "
        out.append(s)
        n += len(s.encode("utf-8"))
    return "".join(out)


def prose(size: int = 4 << 20) -> str:
    rng = random.Random(SEED)
    return _zipf_words("\n".join(_read("english*.txt")), size, rng)


def code(size: int = 4 << 20) -> str:
    """Lines of the committed source files in several languages, shuffled in blocks, identifiers renamed."""
    rng = random.Random(SEED + 1)
    lines = [ln for text in _read("code_*.txt") for ln in text.splitlines()]
    idents = sorted(set(re.findall(r"[A-Za-z_][A-Za-z0-9_]{3,}", "\n".join(lines))))
    out: list[str] = []
    n = 0
    while n < size:
        start = rng.randrange(len(lines))
        block = "\n".join(lines[start:start + rng.randint(5, 40)]) + "\n"
        if idents and rng.random() < 0.5:
            a, b = rng.choice(idents), rng.choice(idents)
            block = block.replace(a, b + "_" + str(rng.randint(0, 99)))
        out.append(block)
        n += len(block.encode("utf-8"))
    return "".join(out)


def multilingual(size: int = 4 << 20) -> str:
    """Words of every non-English, non-code file, each script kept in its own sentences."""
    rng = random.Random(SEED + 2)
    texts = [t for p, t in zip(sorted(CORPUS.glob("*.txt")), _read("*.txt"))
             if not p.name.startswith(("english", "code_"))]
    parts: list[str] = []
    n = 0
    per = max(1, size // (8 * max(1, len(texts))))
    while n < size:
        part = _zipf_words(rng.choice(texts), per, rng)
        parts.append(part)
        n += len(part.encode("utf-8"))
    return "".join(parts)


CORPORA = {"prose": prose, "code": code, "multilingual": multilingual}
