"""Which encoding each published model uses, and the names of the encodings that are built in."""

from __future__ import annotations

from ._lexaro import BUILTIN_ENCODINGS

__all__ = [
    "LEGACY_ENCODINGS",
    "MODEL_PREFIX_TO_ENCODING",
    "MODEL_TO_ENCODING",
    "builtin_encoding_for_model",
    "check_encoding_name",
    "encoding_name_for_model",
    "list_encoding_names",
]

# A snapshot: the module's list is the user's to change, the encodings compiled in are not.
_BUILTIN: tuple[str, ...] = tuple(BUILTIN_ENCODINGS)

# Encodings that older models use and that this package does not carry.
LEGACY_ENCODINGS: tuple[str, ...] = ("gpt2", "r50k_base", "p50k_base", "p50k_edit")

MODEL_TO_ENCODING: dict[str, str] = {
    # current models
    "o1": "o200k_base",
    "o3": "o200k_base",
    "o4-mini": "o200k_base",
    "gpt-5": "o200k_base",
    "gpt-4.1": "o200k_base",
    "gpt-4o": "o200k_base",
    "gpt-4": "cl100k_base",
    "gpt-3.5-turbo": "cl100k_base",
    "gpt-3.5": "cl100k_base",
    "gpt-35-turbo": "cl100k_base",
    "davinci-002": "cl100k_base",
    "babbage-002": "cl100k_base",
    "text-embedding-ada-002": "cl100k_base",
    "text-embedding-3-small": "cl100k_base",
    "text-embedding-3-large": "cl100k_base",
    # legacy models: their encodings are not included
    "text-davinci-003": "p50k_base",
    "text-davinci-002": "p50k_base",
    "code-davinci-002": "p50k_base",
    "code-davinci-001": "p50k_base",
    "code-cushman-002": "p50k_base",
    "code-cushman-001": "p50k_base",
    "davinci-codex": "p50k_base",
    "cushman-codex": "p50k_base",
    "text-davinci-edit-001": "p50k_edit",
    "code-davinci-edit-001": "p50k_edit",
    "text-davinci-001": "r50k_base",
    "text-curie-001": "r50k_base",
    "text-babbage-001": "r50k_base",
    "text-ada-001": "r50k_base",
    "davinci": "r50k_base",
    "curie": "r50k_base",
    "babbage": "r50k_base",
    "ada": "r50k_base",
    "text-similarity-davinci-001": "r50k_base",
    "text-similarity-curie-001": "r50k_base",
    "text-similarity-babbage-001": "r50k_base",
    "text-similarity-ada-001": "r50k_base",
    "text-search-davinci-doc-001": "r50k_base",
    "text-search-curie-doc-001": "r50k_base",
    "text-search-babbage-doc-001": "r50k_base",
    "text-search-ada-doc-001": "r50k_base",
    "code-search-babbage-code-001": "r50k_base",
    "code-search-ada-code-001": "r50k_base",
    "gpt2": "gpt2",
    "gpt-2": "gpt2",
}

# Tried in this order after the exact names; the first prefix that matches wins, so a longer prefix
# ("ft:gpt-4o") stands before a shorter one it extends ("ft:gpt-4").
MODEL_PREFIX_TO_ENCODING: dict[str, str] = {
    "o1-": "o200k_base",
    "o3-": "o200k_base",
    "o4-mini-": "o200k_base",
    "gpt-5": "o200k_base",
    "gpt-4.5-": "o200k_base",
    "gpt-4.1-": "o200k_base",
    "chatgpt-4o-": "o200k_base",
    "gpt-4o-": "o200k_base",
    "gpt-4-": "cl100k_base",
    "gpt-3.5-turbo-": "cl100k_base",
    "gpt-35-turbo-": "cl100k_base",
    "gpt-oss-": "o200k_harmony",
    "ft:gpt-4o": "o200k_base",
    "ft:gpt-4": "cl100k_base",
    "ft:gpt-3.5-turbo": "cl100k_base",
    "ft:davinci-002": "cl100k_base",
    "ft:babbage-002": "cl100k_base",
}


def list_encoding_names() -> list[str]:
    """The names of the encodings built into this package."""
    return list(_BUILTIN)


def check_encoding_name(name: str) -> str:
    """Returns `name` if it is a built-in encoding; raises ValueError naming the built-in ones otherwise."""
    if name in _BUILTIN:
        return name
    builtin = ", ".join(_BUILTIN)
    if name in LEGACY_ENCODINGS:
        raise ValueError(
            f"the legacy encoding {name!r} is not included in lexaro; built-in encodings: {builtin}"
        )
    raise ValueError(f"unknown encoding {name!r}; built-in encodings: {builtin}")


def encoding_name_for_model(model: str) -> str:
    """The name of the encoding that `model` uses (which may be a legacy encoding that is not included).

    Raises KeyError for a model that is not in the tables.
    """
    if not isinstance(model, str):
        raise TypeError(f"model must be a str, not {type(model).__name__}")
    name = MODEL_TO_ENCODING.get(model)
    if name is not None:
        return name
    for prefix, name in MODEL_PREFIX_TO_ENCODING.items():
        if model.startswith(prefix):
            return name
    raise KeyError(
        f"Could not automatically map {model!r} to an encoding. "
        "Use lexaro.get_encoding(name) to choose an encoding explicitly."
    )


def builtin_encoding_for_model(model: str) -> str:
    """Like encoding_name_for_model, but raises KeyError when the model's encoding is not included."""
    name = encoding_name_for_model(model)
    if name not in _BUILTIN:
        raise KeyError(
            f"model {model!r} uses the encoding {name!r}, which is not included in lexaro "
            f"(built-in encodings: {', '.join(_BUILTIN)})"
        )
    return name
