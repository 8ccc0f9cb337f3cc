"""Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/) from the built-in data and
the test corpus. Run from anywhere: python3 tests/fuzz/make_seeds.py. The seeds are committed; run this
again only when an input format of a target changes."""

import shutil
import struct
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parents[1]
DATA = REPO / "data"
TEXTS = REPO / "tests" / "python" / "corpus"
sys.path.insert(0, str(REPO / "tests" / "python"))
from class_lists import pack_class_lists, parse_class_lists  # noqa: E402


def vocab_file(tokens):
    """A vocab file ranking `tokens` in order."""
    out = [struct.pack("<I", len(tokens))]
    for rank, token in enumerate(tokens):
        out.append(struct.pack("<H", len(token)) + token + struct.pack("<I", rank))
    return b"".join(out)


MERGES = [b"th", b"he", b"the", b" t", b" the", b"in", b"ing", b"an", b"er", b" a", b"at", b"ll", b"\xc3\xa9", b"\n\n"]
SMALL_VOCAB = vocab_file([bytes([b]) for b in range(256)] + MERGES)
PARTIAL_VOCAB = vocab_file([bytes([b]) for b in range(32, 127)] + MERGES)  # not every byte is a token


def section(data):
    return struct.pack("<I", len(data)) + data


def class_lists(name, count):
    return parse_class_lists((DATA / name).read_bytes(), count)


def dot_is_space(name, count):
    lists = class_lists(name, count)
    lists[2] = sorted(lists[2] + [(ord("."), ord("."))])
    return pack_class_lists(lists)


def write(target, seeds):
    folder = HERE / "corpus" / target
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for i, seed in enumerate(seeds):
        (folder / f"seed_{i:02d}").write_bytes(seed)


def main():
    text = b"The quick brown fox isn't here.\n\n  It's 2024 -- \xc3\xa9t\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87!"
    write("fuzz_vocab", [SMALL_VOCAB + text + struct.pack("<I", len(text)), PARTIAL_VOCAB + text + struct.pack("<I", len(text)),
                         SMALL_VOCAB])
    write("fuzz_special", [(DATA / n).read_bytes() for n in ("cl100k.special", "o200k.special")] +
          [struct.pack("<I", 2) + struct.pack("<IH", 300, 3) + b"<a>" + struct.pack("<IH", 301, 4) + b"\xc3\xa9<>"])
    uniclass = {0: (DATA / "uniclass.bin").read_bytes(), 1: (DATA / "uniclass_o200k.bin").read_bytes()}
    mutated = {0: dot_is_space("uniclass.bin", 3), 1: dot_is_space("uniclass_o200k.bin", 5)}
    cut = b"end.\xe2\x80\x94 next"
    write("fuzz_uniclass", [bytes([f]) + struct.pack("<H", len(cut)) + cut + table
                            for f in (0, 1) for table in (uniclass[f], mutated[f])])
    specials = {0: (DATA / "cl100k.special").read_bytes(), 2: (DATA / "o200k.special").read_bytes()}
    write("fuzz_construct", [bytes([enc, 7]) + section(SMALL_VOCAB) + section(uniclass[enc // 2]) +
                             (section(specials[enc]) if enc in specials else b"\xff\xff\xff\xff") + text + b"<|endoftext|>"
                             for enc in (0, 1, 2)] +
          [bytes([0, 3]) + section(PARTIAL_VOCAB) + section(mutated[0]) + b"\xff\xff\xff\xff" + text])
    samples = []
    for path in sorted(TEXTS.glob("*.txt"))[:12]:
        samples.append(path.read_bytes()[:300])
    write("fuzz_encode", [bytes([i % 3, 5 + i]) + s for i, s in enumerate(samples)] +
          [bytes([0, 2]) + b"<|endoftext|> \xff\xfe\xc0\x8a end.\xe2\x80\x94 next"])


if __name__ == "__main__":
    main()
