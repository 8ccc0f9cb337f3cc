"""StreamDecoder: text from ids that arrive a few at a time, never cutting a character in two."""

from __future__ import annotations

import codecs
from collections.abc import Sequence
from typing import Union

from ._lexaro import Tokenizer
from .encoding import Encoding

__all__ = ["StreamDecoder"]

_REPLACEMENT = "\ufffd"


class StreamDecoder:
    """Decodes a stream of ids piece by piece. `feed(ids)` returns the complete characters so far and holds
    back an unfinished one; `flush()` ends the stream. Feeding any split of an id sequence and then
    flushing gives exactly what `decode(ids, errors)` of the tokenizer or encoding gives.

    The errors handlers are the decoder's own: an Encoding's `decode` takes every handler of
    `bytes.decode`; a Tokenizer's knows "strict", "ignore" (which also drops U+FFFD characters that the
    bytes encode validly) and treats every other name as "replace". A handler of one's own (registered with
    `codecs.register_error`) sees the positions of a fault within the bytes of one `feed`.
    """

    __slots__ = ("_decode_bytes", "_decoder", "_drop_replacements")

    def __init__(self, tokenizer_or_encoding: Union[Tokenizer, Encoding], errors: str = "replace") -> None:
        if not isinstance(errors, str):
            raise TypeError(f"errors must be a str, not {type(errors).__name__}")
        self._drop_replacements = False
        if isinstance(tokenizer_or_encoding, Encoding):
            handler = errors
        elif isinstance(tokenizer_or_encoding, Tokenizer):
            handler = errors if errors == "strict" else "replace"
            self._drop_replacements = errors == "ignore"
        else:
            raise TypeError(
                f"StreamDecoder needs a lexaro.Tokenizer or lexaro.Encoding, not {type(tokenizer_or_encoding).__name__}"
            )
        self._decode_bytes = tokenizer_or_encoding.decode_bytes
        self._decoder = codecs.getincrementaldecoder("utf-8")(handler)

    def feed(self, ids: Sequence[int]) -> str:
        """The text of `ids` after what came before, less a character that is not complete yet."""
        return self._text(self._decoder.decode(self._decode_bytes(ids), False))

    def flush(self) -> str:
        """Ends the stream: the text of the bytes held back (an unfinished character is an error,
        handled as `errors` says). The decoder is then ready for a new stream."""
        return self._text(self._decoder.decode(b"", True))

    def _text(self, text: str) -> str:
        return text.replace(_REPLACEMENT, "") if self._drop_replacements else text
