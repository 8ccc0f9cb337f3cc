"""lexaro: exact, fast byte-pair-encoding tokenizer for cl100k_base, o200k_base and o200k_harmony."""

from ._lexaro import BUILTIN_ENCODINGS, Tokenizer, __version__
from .encoding import Encoding
from .models import (
    MODEL_PREFIX_TO_ENCODING,
    MODEL_TO_ENCODING,
    encoding_name_for_model,
    list_encoding_names,
)
from .registry import encoding_for_model, get_encoding
from .stream import StreamDecoder

__all__ = [
    "BUILTIN_ENCODINGS",
    "Encoding",
    "MODEL_PREFIX_TO_ENCODING",
    "MODEL_TO_ENCODING",
    "StreamDecoder",
    "Tokenizer",
    "__version__",
    "encoding_for_model",
    "encoding_name_for_model",
    "get_encoding",
    "list_encoding_names",
]
