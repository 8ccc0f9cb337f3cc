"""lexaro: exact, fast byte-pair-encoding tokenizer for cl100k_base, o200k_base and o200k_harmony."""

from ._lexaro import BUILTIN_ENCODINGS, Tokenizer, __version__

__all__ = ["BUILTIN_ENCODINGS", "Tokenizer", "__version__"]
