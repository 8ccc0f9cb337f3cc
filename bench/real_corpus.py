"""A large corpus of real text in many scripts, built on demand from Debian's packages.

    python3 bench/real_corpus.py            # download, unpack and extract (once; cached)
    python3 bench/real_corpus.py --list     # sizes of the groups

The packages are fetched with `apt-get download` (no installation) into bench/.corpus/ (ignored by git,
never committed), unpacked with `dpkg-deb -x`, and their text is sorted into groups:

    english         CPython's documentation sources, English manual pages, fortune cookies, Debian Reference
    code            CPython's standard library sources, C and C++ headers (glibc, Linux, libstdc++)
    european        translated manual pages in Latin-script European languages (and Vietnamese, Turkish)
    cyrillic_greek  Russian, Ukrainian, Macedonian, Serbian and Greek manual pages, Russian/Bulgarian fortunes
    cjk             Japanese and Chinese manual pages, Japanese Debian Reference, Chinese fortunes, Korean catalogs
    other           message catalogs (.mo) in the other scripts: Arabic, Hebrew, Thai, Indic, Georgian, ...

Each group is one UTF-8 file (bench/.corpus/text/GROUP.txt) of distinct documents (exact duplicates
dropped) in a fixed shuffled order, so every run measures the same bytes. `load(group)` reads one.
"""
from __future__ import annotations

import argparse
import gzip
import hashlib
import html
import random
import re
import shutil
import struct
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent / ".corpus"
DEBS = ROOT / "debs"
UNPACKED = ROOT / "unpacked"
TEXT = ROOT / "text"
SEED = 20261208

GROUPS = ["english", "code", "european", "cyrillic_greek", "cjk", "other"]

MANPAGES_EUROPEAN = ["de", "fr", "es", "it", "pl", "pt-br", "nl", "cs", "hu", "ro", "sv", "tr", "vi"]
MANPAGES_CYRILLIC_GREEK = ["ru", "uk", "mk", "sr", "el"]
MANPAGES_CJK = ["ja", "zh"]

PACKAGES = (
    ["python3.11-doc", "manpages", "fortunes", "debian-reference-en", "doc-debian"]
    + ["libpython3.11-stdlib", "libpython3.11-minimal", "libc6-dev", "linux-libc-dev", "libstdc++-12-dev"]
    + [f"manpages-{lang}" for lang in MANPAGES_EUROPEAN + MANPAGES_CYRILLIC_GREEK + MANPAGES_CJK]
    + ["fortunes-ru", "fortunes-bg", "fortunes-zh", "debian-reference-ja"]
    + ["iso-codes", "libc-l10n", "gnupg-l10n", "e2fsprogs-l10n", "cinnamon-l10n"]
)


# ---- fetching ----

def fetch() -> None:
    DEBS.mkdir(parents=True, exist_ok=True)
    missing = [p for p in PACKAGES if not list(DEBS.glob(f"{p}_*.deb"))]
    if missing:
        print(f"downloading {len(missing)} packages into {DEBS}", file=sys.stderr)
        if subprocess.run(["apt-get", "download", *missing], cwd=DEBS).returncode != 0:
            # A machine's package lists go stale: the versions they name leave the mirror.
            print("apt-get download failed; refreshing the package lists and trying again", file=sys.stderr)
            subprocess.run(["apt-get", "update", "-q"], check=True)
            missing = [p for p in PACKAGES if not list(DEBS.glob(f"{p}_*.deb"))]
            subprocess.run(["apt-get", "download", *missing], cwd=DEBS, check=True)
    UNPACKED.mkdir(parents=True, exist_ok=True)
    for deb in sorted(DEBS.glob("*.deb")):
        dest = UNPACKED / deb.name.split("_")[0]
        if not dest.exists():
            tmp = UNPACKED / (dest.name + ".tmp")
            shutil.rmtree(tmp, ignore_errors=True)
            subprocess.run(["dpkg-deb", "-x", str(deb), str(tmp)], check=True)
            tmp.rename(dest)


# ---- extraction ----

def _read(path: Path) -> str | None:
    try:
        data = path.read_bytes()
        if path.suffix == ".gz":
            data = gzip.decompress(data)
        return data.decode("utf-8")
    except (OSError, UnicodeDecodeError, EOFError, gzip.BadGzipFile):
        return None


def _files(package: str, pattern: str) -> list[Path]:
    return sorted(p for p in (UNPACKED / package).glob(pattern) if p.is_file() and not p.is_symlink())


_TAG = re.compile(r"<script.*?</script>|<style.*?</style>|<[^>]+>", re.S)


def _html_text(s: str) -> str:
    text = html.unescape(_TAG.sub(" ", s))
    return "\n".join(ln.strip() for ln in text.splitlines() if ln.strip()) + "\n"


def _mo_strings(path: Path) -> str | None:
    """The translated strings of a gettext catalog, one per line."""
    data = path.read_bytes()
    if len(data) < 28:
        return None
    magic = struct.unpack("<I", data[:4])[0]
    order = "<" if magic == 0x950412DE else ">" if magic == 0xDE120495 else None
    if order is None:
        return None
    n, _, trans_off = struct.unpack(order + "III", data[8:20])
    out = []
    for i in range(1, n):  # entry 0 is the catalog header
        length, off = struct.unpack(order + "II", data[trans_off + 8 * i: trans_off + 8 * i + 8])
        try:
            s = data[off:off + length].decode("utf-8")
        except UnicodeDecodeError:
            return None
        out.extend(part for part in s.split("\0") if part.strip())
    return "\n".join(out) + "\n" if out else None


def _script(text: str) -> str:
    """The group of a catalog by the script of most of its letters."""
    counts = {"latin": 0, "cyrillic_greek": 0, "cjk": 0, "other": 0}
    for ch in text:
        c = ord(ch)
        if c < 0x80:
            continue
        if c < 0x250 or 0x1E00 <= c <= 0x1EFF:
            counts["latin"] += 1
        elif 0x370 <= c <= 0x52F or 0x1F00 <= c <= 0x1FFF:
            counts["cyrillic_greek"] += 1
        elif (0x3040 <= c <= 0x30FF or 0x3400 <= c <= 0x4DBF or 0x4E00 <= c <= 0x9FFF or 0xAC00 <= c <= 0xD7AF
              or 0x1100 <= c <= 0x11FF or 0x3130 <= c <= 0x318F):
            counts["cjk"] += 1
        elif ch.isalpha():
            counts["other"] += 1
    best = max(counts, key=counts.get)
    if counts[best] == 0 or best == "latin":
        return "european"
    return best


def documents() -> dict[str, list[str]]:
    docs: dict[str, list[str]] = {g: [] for g in GROUPS}

    def add(group: str, text: str | None) -> None:
        if text and text.strip():
            docs[group].append(text if text.endswith("\n") else text + "\n")

    # English
    for p in _files("python3.11-doc", "usr/share/doc/python3.11/html/_sources/**/*.txt"):
        add("english", _read(p))
    for p in _files("manpages", "usr/share/man/man*/*.gz"):
        add("english", _read(p))
    for p in _files("fortunes", "usr/share/games/fortunes/*"):
        if p.suffix not in (".dat", ".u8"):
            add("english", _read(p))
    for pkg in ("debian-reference-en", "doc-debian"):
        for p in _files(pkg, "usr/share/doc/**/*.html") + _files(pkg, "usr/share/doc/**/*.txt*"):
            t = _read(p)
            add("english", _html_text(t) if t and p.suffix == ".html" else t)
    # code
    for pkg in ("libpython3.11-stdlib", "libpython3.11-minimal"):
        for p in _files(pkg, "usr/lib/python3.11/**/*.py"):
            add("code", _read(p))
    for pkg in ("libc6-dev", "linux-libc-dev", "libstdc++-12-dev"):
        for p in _files(pkg, "usr/include/**/*"):
            add("code", _read(p))
    # translated manual pages
    for group, langs in (("european", MANPAGES_EUROPEAN), ("cyrillic_greek", MANPAGES_CYRILLIC_GREEK),
                         ("cjk", MANPAGES_CJK)):
        for lang in langs:
            for p in _files(f"manpages-{lang}", "usr/share/man/**/*.gz"):
                add(group, _read(p))
    for pkg, group in (("fortunes-ru", "cyrillic_greek"), ("fortunes-bg", "cyrillic_greek"), ("fortunes-zh", "cjk")):
        for p in _files(pkg, "usr/share/games/fortunes/**/*"):
            if p.suffix != ".dat":
                add(group, _read(p))
    for p in _files("debian-reference-ja", "usr/share/doc/**/*.html"):
        t = _read(p)
        add("cjk", _html_text(t) if t else None)
    # message catalogs, grouped by script; the Latin-script ones are left out (the manual pages cover them)
    for pkg in ("iso-codes", "libc-l10n", "gnupg-l10n", "e2fsprogs-l10n", "cinnamon-l10n"):
        for p in _files(pkg, "usr/share/locale/**/*.mo"):
            t = _mo_strings(p)
            if t and (group := _script(t)) != "european":
                add(group, t)

    # distinct documents in a fixed order
    for group, texts in docs.items():
        seen: set[bytes] = set()
        unique = []
        for t in texts:
            h = hashlib.sha1(t.encode("utf-8")).digest()
            if h not in seen:
                seen.add(h)
                unique.append(t)
        random.Random(f"{SEED}-{group}").shuffle(unique)
        docs[group] = unique
    return docs


def build() -> None:
    if all((TEXT / f"{g}.txt").exists() for g in GROUPS):
        return
    fetch()
    TEXT.mkdir(parents=True, exist_ok=True)
    for group, texts in documents().items():
        tmp = TEXT / f"{group}.tmp"
        tmp.write_text("".join(texts), encoding="utf-8")
        tmp.rename(TEXT / f"{group}.txt")


def load(group: str) -> str:
    build()
    return (TEXT / f"{group}.txt").read_text(encoding="utf-8")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--list", action="store_true", help="print the size of each group")
    args = ap.parse_args()
    build()
    if args.list:
        total = 0
        for g in GROUPS:
            n = (TEXT / f"{g}.txt").stat().st_size
            total += n
            print(f"{g:15s} {n / 1e6:8.1f} MB")
        print(f"{'total':15s} {total / 1e6:8.1f} MB")


if __name__ == "__main__":
    main()
