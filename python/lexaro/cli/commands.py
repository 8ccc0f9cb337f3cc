"""The commands that read input: count, encode, decode and truncate."""
from __future__ import annotations

import io
import os
import re
import sys
from array import array
from typing import Callable, Iterator, Optional, Sequence

from .._lexaro import Tokenizer
from . import output
from .inputs import STDIN, Input, InputError, expand, shown
from .pipeline import finished_results, groups, in_order, per_input
from .progress import progress

Report = Callable[[str], None]  # prints one error line


def _ids_of(flat: bytes) -> array:
    """The little-endian u32 ids of a batch result as an array of native ints."""
    ids = array("I")
    ids.frombytes(flat)
    if sys.byteorder != "little":
        ids.byteswap()
    return ids


# ---- count ----


def count(tok: Tokenizer, paths: Sequence[str], *, globs: Sequence[str], hidden: bool, special: bool,
          threads: int, as_json: bool, quiet: bool, show_progress: bool, report: Report) -> int:
    inputs = list(expand(paths, globs, hidden))
    known = None if any(inp.size is None for inp in inputs) else sum(inp.size for inp in inputs)
    alone_on_stdin = not paths  # then the count stands alone on its line, as wc prints it
    # Counts never exceed bytes, so the known size bounds the column width, as wc does.
    width = 1 if alone_on_stdin else 7 if known is None else len(str(known))
    status = 0
    total = 0
    per_file: list[dict] = []
    bar = progress(known, show_progress)
    sums: dict = {}
    try:
        def work(group, batch_threads):
            return tok.count_batch(group.texts, threads=batch_threads, with_special=special)

        for group, counts in in_order(groups(inputs, threads), work, threads):
            per_input(group, counts, sums)
            bar.update(group.nbytes)
            for index, error, n in finished_results(group, sums):
                inp = inputs[index]
                if error is not None:
                    report(str(error))
                    status = 1
                    continue
                total += n
                if as_json:
                    per_file.append({"path": inp.name, "tokens": n})
                elif not quiet:
                    bar.line(f"{n:>{width}}" if alone_on_stdin else f"{n:>{width}} {inp.name}")
    finally:
        bar.close()
    if as_json:
        import json  # only here: a plain count need not import it

        output.line(json.dumps({"encoding": tok.name, "files": per_file, "total": total}))
    elif quiet:
        output.line(str(total))
    elif len(inputs) > 1:
        output.line(f"{total:>{width}} total")
    return status


# ---- encode ----


def encode(tok: Tokenizer, text: Optional[str], *, special: bool, threads: int, as_json: bool,
           show_progress: bool, report: Report) -> int:
    """The ids of TEXT (its bytes, as the shell gave them) or of standard input, on one line."""
    if text is None:
        inp = Input(STDIN)
    else:
        data = os.fsencode(text)
        inp = Input("TEXT", len(data), data=data)
    bar = progress(inp.size, show_progress and not sys.stdout.isatty())  # not amid ids on the terminal
    sep = ", " if as_json else " "
    first = True
    if as_json:
        output.write(b"[")
    try:
        def work(group, batch_threads):
            return tok.encode_batch(group.texts, threads=batch_threads, with_special=special)[0]

        for group, flat in in_order(groups([inp], threads), work, threads):
            ids = _ids_of(flat)
            if len(ids):
                output.write(((sep if not first else "") + sep.join(map(str, ids))).encode())
                first = False
            bar.update(group.nbytes)
            for _, error, _ in finished_results(group, {}):
                if error is not None:
                    output.write(b"]\n" if as_json else b"\n")
                    report(str(error))
                    return 1
    finally:
        bar.close()
    output.write(b"]\n" if as_json else b"\n")
    return 0


# ---- truncate ----


def truncate(tok: Tokenizer, path: Optional[str], max_tokens: int, *, special: bool, threads: int,
             report: Report) -> int:
    """The longest beginning of the input within max_tokens tokens, written unchanged: whole blocks
    while they fit, then the part of the first block that does not, as Tokenizer.truncate cuts it (the
    bytes of the block's first tokens, backed off to the start of a character)."""
    inp = Input(STDIN) if path in (None, STDIN) else Input(path)
    left = max_tokens

    def work(group, batch_threads):
        return tok.count_batch(group.texts, threads=batch_threads, with_special=special)

    for group, counts in in_order(groups([inp], threads), work, threads):
        for block, n in zip(group.texts, counts):
            if n <= left:
                output.write(block)
                left -= n
                continue
            output.write(block[:_kept_bytes(tok, block, left, special)])
            return 0
        for _, error, _ in finished_results(group, {}):
            if error is not None:
                report(str(error))
                return 1
    return 0


def _kept_bytes(tok: Tokenizer, block: bytes, max_tokens: int, special: bool) -> int:
    """Bytes of `block` that its first max_tokens tokens cover, less a character they end inside of.
    The block has more than max_tokens tokens."""
    if max_tokens == 0:
        return 0
    flat, _ = tok.encode_batch([block], threads=1, with_special=special)
    cut = len(tok.decode_bytes(_ids_of(flat)[:max_tokens]))
    while cut > 0 and block[cut] & 0xC0 == 0x80:
        cut -= 1
    return cut


# ---- decode ----

_SEPARATORS = re.compile(rb"[\s,\[\]]+")
_NOT_AN_ID = re.compile(rb"(?:^|[\s,\[\]])([0-9]*[^\s,\[\]0-9][^\s,\[\]]*)")  # a word with a non-digit
ID_CHUNK_BYTES = 1 << 20


class Ids:
    """Checks ids against the encoding: ordinary ids are 0 .. n_ordinary - 1, special ids are listed."""

    def __init__(self, tok: Tokenizer):
        self.tok = tok
        self.special = {i for _, i in tok.special_tokens()}
        self.n_ordinary = self._ordinary_count()

    def _ordinary(self, i: int) -> bool:
        if self.tok.is_special_token(i):
            return False
        try:
            self.tok.decode_single_token_bytes(i)
        except KeyError:
            return False
        return True

    def _ordinary_count(self) -> int:
        lo, hi = 0, self.tok.n_vocab  # ordinary ids form one range from 0: find where it ends
        while lo < hi:
            mid = (lo + hi) // 2
            if self._ordinary(mid):
                lo = mid + 1
            else:
                hi = mid
        return lo

    def check(self, words: Sequence[bytes], where: str) -> array:
        """The ids that `words` (non-empty runs of bytes without separators) spell; raises InputError
        at the first word that is not an id of the encoding."""
        joined = b" ".join(words)
        bad = _NOT_AN_ID.search(joined)
        if bad:
            raise InputError(where, f"not a token id: {bad.group(1).decode('utf-8', 'backslashreplace')!r}")
        try:
            ids = array("I", map(int, words))  # digits only: int() reads them as decimal
        except OverflowError:
            ids = None
        if ids is None or (ids and max(ids) >= self.n_ordinary):
            for w in words:
                i = int(w)
                if i >= self.n_ordinary and i not in self.special:
                    raise InputError(where, f"{i} is not a token id of {self.tok.name}")
        return ids


def decode(tok: Tokenizer, words: Sequence[str], *, report: Report) -> int:
    """The bytes of the ids given, or of the ids read from standard input, written unchanged. Ids are
    separated by white space or commas; brackets are ignored, so a JSON list decodes too."""
    ids = Ids(tok)
    try:
        if words:
            parts = [w for word in words for w in _SEPARATORS.split(os.fsencode(word)) if w]
            output.write(tok.decode_bytes(ids.check(parts, "argument")))
            return 0
        for parts in _words_of_stdin():
            output.write(tok.decode_bytes(ids.check(parts, shown(STDIN))))
    except InputError as e:
        report(str(e))
        return 1
    return 0


def _words_of_stdin() -> Iterator[list]:
    try:
        stream = io.open(sys.stdin.fileno(), "rb", closefd=False)
    except (AttributeError, ValueError, OSError):
        raise InputError(shown(STDIN), "not open") from None
    rest = b""
    while True:
        try:
            chunk = stream.read(ID_CHUNK_BYTES)
        except OSError as e:
            raise InputError(shown(STDIN), e.strerror or str(e)) from None
        if not chunk:
            break
        parts = _SEPARATORS.split(rest + chunk)
        rest = parts.pop()  # may be an id cut by the chunk's end
        yield [p for p in parts if p]
    if rest:
        yield [rest]
