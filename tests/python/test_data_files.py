"""The built-in data files in data/ and the tool that generates them."""

import shutil
import struct
import subprocess
import sys
from pathlib import Path

import pytest
from class_lists import pack_class_lists, parse_class_lists

REPO = Path(__file__).resolve().parents[2]
DATA = REPO / "data"
TOOL = REPO / "tools" / "gen_data.py"
SOURCES = REPO.parent / "shared" / "data"
SOURCE_FILES = ["cl100k_base.tiktoken", "o200k_base.tiktoken", "ucd-17.0.0-classes.txt"]

SIZES = {
    "cl100k.vocab": 1245370,
    "o200k.vocab": 2597662,
    "cl100k.special": 104,
    "o200k.special": 44,
    "o200k_harmony.special": 27201,
    "uniclass.bin": 6732,
    "uniclass_o200k.bin": 27396,
}


def run_tool(src, out):
    return subprocess.run([sys.executable, str(TOOL), "--src", str(src), "--out", str(out)],
                          capture_output=True, text=True, timeout=60)


def read_specials(name):
    data = (DATA / name).read_bytes()
    (count,) = struct.unpack_from("<I", data)
    entries, pos = [], 4
    for _ in range(count):
        token_id, length = struct.unpack_from("<IH", data, pos)
        entries.append((data[pos + 6:pos + 6 + length].decode("utf-8"), token_id))
        pos += 6 + length
    assert pos == len(data)
    return entries


def read_class_lists(name, count):
    data = (DATA / name).read_bytes()
    lists = parse_class_lists(data, count)
    assert pack_class_lists(lists) == data  # nothing after the last list
    return lists


@pytest.fixture
def sources():
    if not SOURCES.is_dir():
        pytest.skip(f"source tables not available at {SOURCES}")
    return SOURCES


@pytest.mark.parametrize("name", sorted(SIZES))
def test_committed_file_has_its_size(name):
    assert (DATA / name).stat().st_size == SIZES[name]


def test_committed_special_tables_hold_the_listed_tokens():
    assert read_specials("cl100k.special") == [
        ("<|endoftext|>", 100257), ("<|fim_prefix|>", 100258), ("<|fim_middle|>", 100259),
        ("<|fim_suffix|>", 100260), ("<|endofprompt|>", 100276)]
    assert read_specials("o200k.special") == [("<|endoftext|>", 199999), ("<|endofprompt|>", 200018)]

    harmony = read_specials("o200k_harmony.special")
    ids = [token_id for _, token_id in harmony]
    assert ids == sorted(ids) and set(ids) == set(range(199998, 201088))
    assert [text for text, token_id in harmony if token_id == 200018] == [
        "<|endofprompt|>", "<|reserved_200018|>"]
    named = {text: token_id for text, token_id in harmony if not text.startswith("<|reserved_")}
    assert named == {"<|startoftext|>": 199998, "<|endoftext|>": 199999, "<|return|>": 200002,
                     "<|constrain|>": 200003, "<|channel|>": 200005, "<|start|>": 200006,
                     "<|end|>": 200007, "<|message|>": 200008, "<|call|>": 200012,
                     "<|endofprompt|>": 200018}
    for text, token_id in harmony:
        if text.startswith("<|reserved_"):
            assert text == f"<|reserved_{token_id}|>"


def test_committed_class_lists_are_sorted_disjoint_and_shared():
    cl100k = read_class_lists("uniclass.bin", 3)
    o200k = read_class_lists("uniclass_o200k.bin", 5)
    assert o200k[:3] == cl100k
    for ranges in o200k:
        # Maximal ranges: each starts beyond the code point after the previous one.
        assert all(lo <= hi for lo, hi in ranges)
        assert all(prev_hi + 1 < lo for (_, prev_hi), (lo, _) in zip(ranges, ranges[1:]))
    assert cl100k[2] == [(0x09, 0x0D), (0x20, 0x20), (0x85, 0x85), (0xA0, 0xA0), (0x1680, 0x1680),
                         (0x2000, 0x200A), (0x2028, 0x2029), (0x202F, 0x202F), (0x205F, 0x205F),
                         (0x3000, 0x3000)]


def test_regenerating_reproduces_committed_files(sources, tmp_path):
    out = tmp_path / "data"
    result = run_tool(sources, out)
    assert result.returncode == 0, result.stderr
    assert sorted(p.name for p in out.iterdir()) == sorted(SIZES)
    for name in SIZES:
        assert (out / name).read_bytes() == (DATA / name).read_bytes(), name


def _flip_middle_byte(path):
    data = bytearray(path.read_bytes())
    data[len(data) // 2] ^= 0x01
    path.write_bytes(bytes(data))


def _drop_first_digit_line(path):
    # Passes the hash checks, so only the class counts can catch it, after the vocabs are built.
    lines = path.read_text().splitlines(keepends=True)
    lines.remove(next(line for line in lines if line.rstrip().endswith("; Nd")))
    path.write_text("".join(lines))


@pytest.mark.parametrize("source, tamper", [
    ("cl100k_base.tiktoken", _flip_middle_byte),
    ("o200k_base.tiktoken", _flip_middle_byte),
    ("ucd-17.0.0-classes.txt", _drop_first_digit_line),
])
def test_tampered_source_is_refused_and_nothing_written(sources, tmp_path, source, tamper):
    src = tmp_path / "src"
    src.mkdir()
    for name in SOURCE_FILES:
        shutil.copy(sources / name, src / name)
    tamper(src / source)
    out = tmp_path / "out"

    result = run_tool(src, out)

    assert result.returncode != 0
    assert source in result.stderr
    assert not out.exists()
