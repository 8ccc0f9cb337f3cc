"""The `encodings` and `models` commands: what is built in, and which encoding each model uses."""
from __future__ import annotations

import json

from ..models import MODEL_PREFIX_TO_ENCODING, MODEL_TO_ENCODING, list_encoding_names
from . import output


def encodings(as_json: bool) -> int:
    names = list_encoding_names()
    if as_json:
        output.line(json.dumps(names))
    else:
        for name in names:
            output.line(name)
    return 0


def models(as_json: bool) -> int:
    """Exact model names first, then name prefixes (shown with a trailing '*'), each in lookup order.
    Models whose encoding is not built in are marked."""
    builtin = set(list_encoding_names())
    if as_json:
        output.line(json.dumps({"models": MODEL_TO_ENCODING, "prefixes": MODEL_PREFIX_TO_ENCODING,
                                "builtin_encodings": sorted(builtin)}, indent=2))
        return 0
    rows = [(m, e) for m, e in MODEL_TO_ENCODING.items()] + [(p + "*", e) for p, e in MODEL_PREFIX_TO_ENCODING.items()]
    width = max(len(m) for m, _ in rows)
    for model, enc in rows:
        note = "" if enc in builtin else "  (not included)"
        output.line(f"{model:<{width}}  {enc}{note}")
    return 0
