"""Encoding: the familiar get_encoding() surface, a thin adapter over one Tokenizer."""

from __future__ import annotations

import re
from collections.abc import Collection, Iterable, Sequence
from typing import TYPE_CHECKING, Any, Callable, Literal, Optional, Union

from ._lexaro import Tokenizer
from ._flat import split_flat

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

__all__ = ["Encoding"]

AllowedSpecial = Union[Literal["all"], Collection[str]]
DisallowedSpecial = Union[Literal["all"], Collection[str]]

_NONE: frozenset[str] = frozenset()
_LONE_SURROGATE = re.compile("[\ud800-\udfff]")
_CONTINUATION = bytes(range(0x80, 0xC0))
_ESCAPES = {'"': '\\"', "\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r", "\0": "\\0"}


def recoded(text: str) -> str:
    """`text` with each valid surrogate pair joined into its character and each lone surrogate
    replaced by U+FFFD, so that it has a UTF-8 form."""
    return text.encode("utf-16", "surrogatepass").decode("utf-16", "replace")


def _quoted(s: str) -> str:
    return '"' + "".join(_ESCAPES.get(c) or (c if c.isprintable() else f"\\u{{{ord(c):x}}}") for c in s) + '"'


def _disallowed(s: str) -> ValueError:
    q = _quoted(s)
    return ValueError(
        f"Encountered text corresponding to disallowed special token {q}.\n"
        f"If you want this text to be encoded as a special token, pass it to `allowed_special`, "
        f"e.g. `allowed_special={{{q}, ...}}`.\n"
        "If you want this text to be encoded as normal text, disable the check for this token by passing "
        "`disallowed_special=()`, or use `encode_ordinary`."
    )


class Encoding:
    """One encoding with the familiar encode/decode methods, over a Tokenizer (`.tokenizer`).

    Differences from the Tokenizer's own methods: a str holding surrogates is re-coded first (pairs joined,
    lone ones replaced by U+FFFD) instead of raising UnicodeEncodeError; `decode` takes every error handler
    of `bytes.decode`, and an id that is neither an ordinary nor a special token raises KeyError;
    `token_byte_values()` is sorted by bytes.
    """

    __slots__ = (
        "tokenizer", "name", "n_vocab", "max_token_value",
        "_n_tokens", "_specials", "_special_ids", "_searches", "_sorted_bytes",
        "_encode", "_encode_ordinary", "_decode_bytes", "_single_bytes",
        "__weakref__",
    )  # fmt: skip

    def __init__(self, tokenizer: Tokenizer) -> None:
        if not isinstance(tokenizer, Tokenizer):
            raise TypeError(f"Encoding needs a lexaro.Tokenizer, not {type(tokenizer).__name__}")
        self.tokenizer = tokenizer
        self.name: str = tokenizer.name
        self.n_vocab: int = tokenizer.n_vocab
        self.max_token_value: int = tokenizer.max_token_value
        specials = tokenizer.special_tokens()
        self._specials = frozenset(text for text, _ in specials)
        self._special_ids = frozenset(token for _, token in specials)
        self._n_tokens = 0  # ordinary ids are 0 .. n - 1; counted at the first decode that needs it
        self._searches: dict[frozenset[str], Callable[[str], Optional[re.Match[str]]]] = {}
        self._sorted_bytes: Optional[tuple[bytes, ...]] = None
        self._encode = tokenizer.encode
        self._encode_ordinary = tokenizer.encode_ordinary
        self._decode_bytes = tokenizer.decode_bytes
        self._single_bytes = tokenizer.decode_single_token_bytes

    def __repr__(self) -> str:
        return f"<Encoding {self.name!r}>"

    # Immutable, and pickled by name: see the package's README, "Pickling".
    def __reduce__(self) -> tuple[Any, ...]:
        from .registry import get_encoding

        _, (name, datadir) = self.tokenizer.__reduce__()
        if datadir == "":
            return (get_encoding, (name,))
        return (Encoding, (self.tokenizer,))

    def __copy__(self) -> Encoding:
        return self

    def __deepcopy__(self, memo: object) -> Encoding:
        return self

    @property
    def eot_token(self) -> int:
        return self.tokenizer.eot_token

    @property
    def special_tokens_set(self) -> set[str]:
        return set(self._specials)

    # ---- encoding ----

    def encode(
        self,
        text: str,
        *,
        allowed_special: AllowedSpecial = _NONE,
        disallowed_special: DisallowedSpecial = "all",
    ) -> list[int]:
        """Token ids of `text`; allowed special strings become their ids, and a disallowed special string
        anywhere in the text raises ValueError ("all": every special string not allowed)."""
        if disallowed_special == "all":
            # The Tokenizer's own policy: every special string that is not allowed is refused.
            try:
                return self._encode(text, allowed_special) if allowed_special else self._encode(text)
            except UnicodeEncodeError:
                text = recoded(text)
                return self._encode(text, allowed_special) if allowed_special else self._encode(text)
        ids: list[int] = self._with_policy(self._encode, text, allowed_special, disallowed_special)
        return ids

    def encode_ordinary(self, text: str) -> list[int]:
        """Token ids of `text`, special strings encoded as ordinary text."""
        try:
            return self._encode_ordinary(text)
        except UnicodeEncodeError:
            return self._encode_ordinary(recoded(text))

    def encode_to_numpy(
        self,
        text: str,
        *,
        allowed_special: AllowedSpecial = _NONE,
        disallowed_special: DisallowedSpecial = "all",
    ) -> npt.NDArray[np.uint32]:
        """`encode` as a numpy uint32 array (needs numpy)."""
        array: npt.NDArray[np.uint32] = self._with_policy(
            self.tokenizer.encode_to_numpy, text, allowed_special, disallowed_special
        )
        return array

    def encode_batch(
        self,
        text: Sequence[str],
        *,
        num_threads: int = 8,
        allowed_special: AllowedSpecial = _NONE,
        disallowed_special: DisallowedSpecial = "all",
    ) -> list[list[int]]:
        """`encode` of every text, on `num_threads` threads (0: one per processor)."""
        texts = self._text_list(text)
        allowed = self._specials if allowed_special == "all" else _as_set(allowed_special)
        disallowed = self._specials - allowed if disallowed_special == "all" else _as_set(disallowed_special)
        if disallowed:
            search = self._search(disallowed)
            for t in texts:
                found = search(t)
                if found is not None:
                    raise _disallowed(found.group())
        recognised = self._specials & allowed
        if not recognised:
            return self._batch(texts, num_threads, False)
        encoded = self._batch(texts, num_threads, True)
        if recognised != self._specials:
            # The batch recognised every special string; texts holding one that is not allowed are
            # encoded again with the allowed ones only.
            search = self._search(self._specials - recognised)
            for i, t in enumerate(texts):
                if search(t) is not None:
                    encoded[i] = self._with_policy(self._encode, t, recognised, ())
        return encoded

    def encode_ordinary_batch(self, text: Sequence[str], *, num_threads: int = 8) -> list[list[int]]:
        """`encode_ordinary` of every text, on `num_threads` threads (0: one per processor)."""
        return self._batch(self._text_list(text), num_threads, False)

    def encode_single_token(self, text_or_bytes: Union[str, bytes]) -> int:
        """The id of the one token whose bytes are exactly `text_or_bytes`; KeyError if there is none."""
        try:
            return self.tokenizer.encode_single_token(text_or_bytes)
        except UnicodeEncodeError:
            return self.tokenizer.encode_single_token(recoded(text_or_bytes))  # type: ignore[arg-type]

    # ---- decoding ----

    def decode_bytes(self, tokens: Sequence[int]) -> bytes:
        """The bytes of `tokens` joined; KeyError for an id that is neither ordinary nor special."""
        data = self._decode_bytes(tokens)
        if len(tokens) and max(_plain(tokens)) >= (self._n_tokens or self._count_ordinary()):
            self._check_known(tokens)
        return data

    def decode(self, tokens: Sequence[int], errors: str = "replace") -> str:
        """`decode_bytes(tokens).decode("utf-8", errors)`: every error handler of bytes.decode works."""
        return self.decode_bytes(tokens).decode("utf-8", errors)

    def decode_single_token_bytes(self, token: int) -> bytes:
        return self._single_bytes(token)

    def decode_tokens_bytes(self, tokens: Iterable[int]) -> list[bytes]:
        single = self._single_bytes
        return [single(token) for token in tokens]

    def decode_with_offsets(self, tokens: Sequence[int]) -> tuple[str, list[int]]:
        """The text of `tokens` (strict UTF-8) and the character index where each token's text starts.

        A token that begins with UTF-8 continuation bytes belongs to the character it continues.
        """
        pieces = self.decode_tokens_bytes(tokens)
        offsets = []
        chars = 0
        for piece in pieces:
            starts_inside = 0x80 <= piece[0] < 0xC0 if piece else False
            offsets.append(chars - 1 if starts_inside and chars else chars)
            chars += len(piece.translate(None, _CONTINUATION))
        return b"".join(pieces).decode("utf-8", "strict"), offsets

    def decode_batch(self, batch: Iterable[Sequence[int]], *, errors: str = "replace", num_threads: int = 8) -> list[str]:
        """`decode` of every id sequence. Decoding is a copy of bytes: it runs on the calling thread, and
        `num_threads` is accepted for compatibility."""
        return [self.decode(tokens, errors) for tokens in batch]

    def decode_bytes_batch(self, batch: Iterable[Sequence[int]], *, num_threads: int = 8) -> list[bytes]:
        """`decode_bytes` of every id sequence (on the calling thread, as `decode_batch`)."""
        return [self.decode_bytes(tokens) for tokens in batch]

    # ---- introspection ----

    def token_byte_values(self) -> list[bytes]:
        """The bytes of every ordinary token, sorted bytewise."""
        if self._sorted_bytes is None:
            self._sorted_bytes = tuple(sorted(self.tokenizer.token_byte_values()))
        return list(self._sorted_bytes)

    def is_special_token(self, token: int) -> bool:
        return token in self._special_ids

    # ---- helpers ----

    def _with_policy(self, method: Callable[..., Any], text: str, allowed: Any, disallowed: Any) -> Any:
        if not disallowed:
            disallowed = ()
        elif not isinstance(disallowed, str):
            allowed, disallowed = self._explicit_check(text, allowed, disallowed)
        try:
            return method(text, allowed, disallowed)
        except UnicodeEncodeError:
            return method(recoded(text), allowed, disallowed)

    def _explicit_check(self, text: str, allowed: Any, disallowed: Any) -> tuple[Any, Any]:
        """An explicit disallowed set is searched as given, also for strings that are allowed (the
        Tokenizer leaves those out) and for "" (which it skips, and which every text contains)."""
        allowed_set = self._specials if allowed == "all" else _as_set(allowed)
        if allowed != "all":
            allowed = allowed_set
        disallowed = _as_set(disallowed)
        if not (disallowed & allowed_set or "" in disallowed):
            return allowed, disallowed
        found = [(text.find(s), s) for s in disallowed if s in text]
        if found:
            raise _disallowed(min(found)[1])
        return allowed, ()

    def _search(self, strings: Collection[str]) -> Callable[[str], Optional[re.Match[str]]]:
        """A search for any of `strings`; the compiled pattern is kept for the first few sets."""
        strings = frozenset(strings)
        search = self._searches.get(strings)
        if search is None:
            pattern = "|".join(re.escape(s) for s in sorted(strings, key=len, reverse=True))
            search = re.compile(pattern).search
            if len(self._searches) < 8:
                self._searches[strings] = search
        return search

    @staticmethod
    def _text_list(text: Any) -> Sequence[str]:
        if isinstance(text, str):
            raise TypeError("expected a sequence of str, not a str")
        return text if isinstance(text, (list, tuple)) else list(text)

    def _batch(self, texts: Sequence[str], threads: int, with_special: bool) -> list[list[int]]:
        try:
            ids, offsets = self.tokenizer.encode_batch(texts, threads, with_special)
        except UnicodeEncodeError:
            texts = [recoded(t) if _LONE_SURROGATE.search(t) else t for t in texts]
            ids, offsets = self.tokenizer.encode_batch(texts, threads, with_special)
        return split_flat(ids, offsets)

    def _count_ordinary(self) -> int:
        # The listing of ordinary token bytes is as long as the rank table.
        self._n_tokens = len(self.tokenizer.token_byte_values())
        return self._n_tokens

    def _check_known(self, tokens: Sequence[int]) -> None:
        unknown = set(_plain(tokens))
        unknown.difference_update(self._special_ids)
        if unknown and max(unknown) >= self._n_tokens:
            first = next(t for t in _plain(tokens) if t >= self._n_tokens and t not in self._special_ids)
            raise KeyError(f"unknown token id {first}")


def _as_set(value: Any) -> Any:
    """An allowed or disallowed collection of strings as a set (None: empty). The one valid str, "all",
    is resolved by the caller."""
    if isinstance(value, (set, frozenset)):
        return value
    if value is None:
        return _NONE
    if isinstance(value, str):
        raise ValueError("allowed_special/disallowed_special must be 'all' or a collection of strings")
    return frozenset(value)


def _plain(tokens: Any) -> Any:
    """Integer buffers (numpy arrays, array.array) as a list, so that Python's max() and set() read ints."""
    tolist = getattr(tokens, "tolist", None)
    return tolist() if tolist is not None and not isinstance(tokens, (list, tuple)) else tokens
