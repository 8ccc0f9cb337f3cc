from typing import final

__version__: str
BUILTIN_ENCODINGS: list[str]

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
