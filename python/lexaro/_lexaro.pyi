from collections.abc import Iterable, Sequence
from typing import Literal, Union, final, overload

import numpy as np
import numpy.typing as npt

__version__: str
BUILTIN_ENCODINGS: list[str]

# A batch item: text, or raw bytes (any contiguous buffer), which need not be UTF-8.
_BatchText = Union[str, bytes, bytearray, memoryview]

@final
class Tokenizer:
    def __new__(cls, encoding: str, datadir: str = "") -> Tokenizer: ...
    @property
    def name(self) -> str: ...
    @property
    def memory_bytes(self) -> int:
        """Exact heap footprint of the loaded encoding, in bytes."""
    @property
    def n_vocab(self) -> int: ...
    @property
    def max_token_value(self) -> int: ...
    @property
    def eot_token(self) -> int: ...
    @property
    def special_tokens_set(self) -> set[str]: ...
    def encode(
        self,
        text: str,
        allowed_special: Literal["all"] | Iterable[str] | None = None,
        disallowed_special: Literal["all"] | Iterable[str] | None = None,
    ) -> list[int]:
        """tiktoken's `Encoding.encode`: raise if a disallowed special string occurs;
        otherwise encode, turning allowed specials into their ids."""
    def encode_ordinary(self, text: str) -> list[int]:
        """Encode ignoring special tokens entirely (tiktoken's `encode_ordinary`)."""
    def encode_bytes(self, data: bytes) -> list[int]:
        """Encode raw bytes (no UTF-8 validation)."""
    def encode_with_special(self, text: str) -> list[int]:
        """Every special-token string is turned into its id."""
    def encode_to_buffer(
        self,
        text: str,
        allowed_special: Literal["all"] | Iterable[str] | None = None,
        disallowed_special: Literal["all"] | Iterable[str] | None = None,
    ) -> bytes:
        """Same as `encode`, but returns the ids as a little-endian uint32 buffer —
        the Python wrapper turns it into a numpy array with no per-token Python
        int objects (the cost that otherwise dominates big inputs)."""
    def encode_to_numpy(
        self,
        text: str,
        allowed_special: Literal["all"] | Iterable[str] | None = None,
        disallowed_special: Literal["all"] | Iterable[str] | None = None,
    ) -> npt.NDArray[np.uint32]:
        """Same as `encode`, but returns a numpy `uint32` array — the fastest path
        from Python: no per-token Python int objects, just one buffer."""
    def encode_batch_to_numpy(
        self, texts: Sequence[_BatchText], threads: int = 0, with_special: bool = False
    ) -> tuple[npt.NDArray[np.uint32], npt.NDArray[np.int64]]:
        """Encode many texts in parallel into numpy arrays: `(ids, offsets)`, where
        text `i` occupies `ids[offsets[i]:offsets[i + 1]]`."""
    def encode_with_offsets(
        self, text: str, unit: Literal["byte", "char"] = "byte"
    ) -> tuple[list[int], list[tuple[int, int]]]:
        """Ordinary ids + per-token spans. `unit="byte"` gives exact UTF-8 byte
        offsets (they tile the input); `unit="char"` gives code-point offsets
        (HF `offset_mapping` shape)."""
    def encode_single_token(self, piece: bytes | str) -> int:
        """Exact bytes/str of a SINGLE token -> its id."""
    def truncate(self, text: str, max_tokens: int) -> tuple[str, int]:
        """Truncate to at most `max_tokens` tokens. Returns `(text, total_tokens)`,
        where `total_tokens` counts the whole input whether or not it was cut."""
    @overload
    def truncate_batch(self, texts: Sequence[str], max_tokens: int, threads: int = 0) -> list[tuple[str, int]]: ...
    @overload
    def truncate_batch(
        self, texts: Sequence[bytes | bytearray | memoryview], max_tokens: int, threads: int = 0
    ) -> list[tuple[bytes, int]]: ...
    @overload
    def truncate_batch(
        self, texts: Sequence[_BatchText], max_tokens: int, threads: int = 0
    ) -> list[tuple[str | bytes, int]]:
        """`truncate` over many texts, in parallel."""
    def count(self, text: str) -> int: ...
    def encode_batch(self, texts: Sequence[_BatchText], threads: int = 0, with_special: bool = False) -> tuple[bytes, bytes]:
        """Encode many texts in parallel. Returns (flat uint32 id buffer, per-text
        int64 offsets buffer with `len(texts)+1` entries)."""
    def count_batch(self, texts: Sequence[_BatchText], threads: int = 0, with_special: bool = False) -> list[int]:
        """Token counts for many texts, in parallel — no ids are materialized, so a
        counting workload allocates O(threads) instead of O(total tokens)."""
    def decode(self, ids: Sequence[int], errors: str = "replace") -> str: ...
    def decode_bytes(self, ids: Sequence[int]) -> bytes: ...
    def decode_single_token_bytes(self, id: int) -> bytes: ...
    def decode_batch(self, batch: Sequence[Sequence[int]], errors: str = "replace") -> list[str]: ...
    def token_byte_values(self) -> list[bytes]:
        """All base-vocab token byte strings, indexed by id."""
    def is_special_token(self, id: int) -> bool: ...
    def special_tokens(self) -> list[tuple[str, int]]:
        """`{special string: id}` — tiktoken's `_special_tokens`."""
    def __reduce__(self) -> tuple[object, tuple[str, str]]:
        """Pickles by encoding name and absolute data directory ("" for the built-in data)."""
    def __copy__(self) -> Tokenizer: ...
    def __deepcopy__(self, memo: object) -> Tokenizer: ...
