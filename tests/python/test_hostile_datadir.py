"""Hostile data directories: special files under the data files' names, files far beyond any valid
size, and class tables that contradict what the ASCII fast paths assume. Construction and encoding run
in children: before the mends these hung or ended the interpreter."""

import os
import shutil
from pathlib import Path

import pytest
from class_lists import pack_class_lists, parse_class_lists

DATA = Path(__file__).resolve().parents[2] / "data"
GIB = 1 << 30


def construct(child, encoding, datadir, then="print(len(t.special_tokens_set))"):
    """Constructs in a child (1 GiB of address space, 60 s); returns its last output line, or the
    exception's type and message."""
    out = child(f"""
        import sys
        from lexaro import Tokenizer
        try:
            t = Tokenizer({encoding!r}, sys.argv[1])
        except RuntimeError as e:
            print("RuntimeError:", e)
        else:
            {then}
    """, timeout=60, address_space=GIB, args=[str(datadir)], guard_only=True)
    assert out.returncode == 0, (out.returncode, out.stderr[-2000:])
    return out.stdout.strip()


@pytest.fixture
def datadir(tmp_path):
    """The built-in cl100k files, copied."""
    for name in ("cl100k.vocab", "cl100k.special", "uniclass.bin"):
        shutil.copy(DATA / name, tmp_path / name)
    return tmp_path


# ---- files that are not regular files ----


def test_fifo_as_vocab_is_refused_without_blocking(child, datadir):
    (datadir / "cl100k.vocab").unlink()
    os.mkfifo(datadir / "cl100k.vocab")
    assert construct(child, "cl100k_base", datadir) == (
        f"RuntimeError: lexaro: cannot read {datadir}/cl100k.vocab: Invalid argument (os error 22)")


def test_fifo_as_class_table_is_refused_without_blocking(child, datadir):
    (datadir / "uniclass.bin").unlink()
    os.mkfifo(datadir / "uniclass.bin")
    assert construct(child, "cl100k_base", datadir) == (
        f"RuntimeError: lexaro: cannot open uniclass file {datadir}/uniclass.bin: Invalid argument (os error 22)")


@pytest.mark.parametrize("kind", ["fifo", "/dev/zero"])
def test_special_file_that_is_not_regular_means_no_specials(child, datadir, kind):
    (datadir / "cl100k.special").unlink()
    if kind == "fifo":
        os.mkfifo(datadir / "cl100k.special")
    else:
        os.symlink(kind, datadir / "cl100k.special")
    assert construct(child, "cl100k_base", datadir) == "0"


@pytest.mark.parametrize("name", ["cl100k.vocab", "uniclass.bin"])
def test_device_behind_a_symlink_is_not_read(child, datadir, name):
    (datadir / name).unlink()
    os.symlink("/dev/zero", datadir / name)
    message = construct(child, "cl100k_base", datadir)
    assert message.startswith("RuntimeError: lexaro: cannot ") and message.endswith(": Invalid argument (os error 22)")


def test_directory_as_vocab_reads_as_before(child, datadir):
    (datadir / "cl100k.vocab").unlink()
    (datadir / "cl100k.vocab").mkdir()
    assert construct(child, "cl100k_base", datadir) == (
        f"RuntimeError: lexaro: cannot read {datadir}/cl100k.vocab: Is a directory (os error 21)")


# ---- regular files beyond any valid size ----


def test_files_beyond_every_valid_size_are_read_only_in_part(child, datadir):
    """1 TiB sparse files: the vocab reads as the bad file it is, the class table and the special
    tokens by their leading bytes, all within the child's 1 GiB."""
    vocab = datadir / "cl100k.vocab"
    with open(vocab, "r+b") as f:
        f.truncate(1 << 40)  # a valid vocabulary followed by zeros
    assert construct(child, "cl100k_base", datadir) == (
        f"RuntimeError: lexaro: bad vocab file (trailing bytes): {vocab}")
    shutil.copy(DATA / "cl100k.vocab", vocab)
    for name in ("uniclass.bin", "cl100k.special"):
        with open(datadir / name, "r+b") as f:
            f.truncate(1 << 40)
    assert construct(child, "cl100k_base", datadir, then="print(t.encode('hello <|endoftext|>', allowed_special='all'))") == (
        "[15339, 220, 100257]")


# ---- class tables that contradict the ASCII fast paths ----


def with_char(ranges, c):
    return sorted(ranges + [(c, c)])


def without_char(ranges, c):
    out = []
    for lo, hi in ranges:
        if lo <= c <= hi:
            out += [r for r in ((lo, c - 1), (c + 1, hi)) if r[0] <= r[1]]
        else:
            out.append((lo, hi))
    return out


LETTER, NUMBER, SPACE = 0, 1, 2
MUTATIONS = {
    "'.' is white space": [(SPACE, with_char, ".")],
    "'.' is a letter": [(LETTER, with_char, ".")],
    "'a' is no letter": [(LETTER, without_char, "a")],
    "'5' is a letter, not a number": [(LETTER, with_char, "5"), (NUMBER, without_char, "5")],
    "' ' is no white space": [(SPACE, without_char, " ")],
    "newline is a letter": [(SPACE, without_char, "\n"), (LETTER, with_char, "\n")],
    "'!' is a number": [(NUMBER, with_char, "!")],
    "'\\'' is white space": [(SPACE, with_char, "'")],
}
# Tables the published patterns cannot cut: they name CR and LF literally, and o200k's letter rules
# match only letters that are upper- or lower-set. There only the loops' own invariants are checked.
BEYOND_THE_PATTERNS = {
    ("cl100k_base", "newline is a letter"),
    ("o200k_base", "newline is a letter"),
    ("o200k_base", "'.' is a letter"),
    ("o200k_base", "'5' is a letter, not a number"),
}
TEXTS = [
    "end.\u2014 next",
    "Hello, world!  It's 2024... ok?\n\n  Done.\r\n",
    "a.b.c  ...   x5y55z 555 !!! '' 's 'll",
    "tab\there\u00a0nbsp \u3000ideographic\u2028line \u00e9t\u00e9 \u0416\u0436 \u4e2d\u6587 \U0001F600!",
    "   \n\n\t  trailing   ",
]

DIFFERENTIAL = """
import shutil, sys
from pathlib import Path
sys.path.insert(0, sys.argv[1])
import reference
from lexaro import Tokenizer

# The reference's stand-ins for overlong ASCII assume the usual ASCII classes; the texts here are valid
# UTF-8, so no stand-in is ever used.
reference.FamilyTables._check_stand_ins = lambda self: None

datadir, family, vocab, classes, encoding = Path(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6]
texts, by_reference = eval(sys.argv[7]), sys.argv[8] == "1"
ref = reference.FamilyTables(family, vocab, classes, datadir)
t = Tokenizer(encoding, str(datadir))
for text in texts:
    data = text.encode()
    got = t.encode_ordinary(text)
    same = not by_reference or got == ref.encode_bytes(data)
    print(same and t.count(text) == len(got) and t.decode_bytes(got) == data, repr(text)[:40])
"""


@pytest.mark.parametrize("name", list(MUTATIONS))
@pytest.mark.parametrize("encoding", ["cl100k_base", "o200k_base"])
def test_contradicting_class_table_is_cut_by_its_rules(child, tmp_path, encoding, name):
    """Every loop advances and the ids decode to the text; the pieces follow the table's own rules, as
    the reference cuts them wherever the published patterns can."""
    family, vocab, classes, count = (("cl100k", "cl100k.vocab", "uniclass.bin", 3) if encoding == "cl100k_base"
                                     else ("o200k", "o200k.vocab", "uniclass_o200k.bin", 5))
    shutil.copy(DATA / vocab, tmp_path / vocab)
    lists = parse_class_lists((DATA / classes).read_bytes(), count)
    for k, change, char in MUTATIONS[name]:
        lists[k] = change(lists[k], ord(char))
    (tmp_path / classes).write_bytes(pack_class_lists(lists))
    out = child(DIFFERENTIAL, timeout=120, address_space=4 * GIB, guard_only=True,
                args=[str(Path(__file__).parent), str(tmp_path), family, vocab, classes, encoding, repr(TEXTS),
                      "0" if (encoding, name) in BEYOND_THE_PATTERNS else "1"])
    assert out.returncode == 0, (out.returncode, out.stderr[-2000:])
    assert [line.split(" ", 1)[0] for line in out.stdout.splitlines()] == ["True"] * len(TEXTS), out.stdout
