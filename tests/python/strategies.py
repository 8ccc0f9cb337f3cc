"""Hypothesis strategies for texts that exercise every branch of the splitting rules.

`mixed_text()` builds a str from short fragments: letters of every case and
script (title case, modifier letters, Lo), combining marks, supplementary-plane
letters, digits and emoji, every White_Space character and U+001C..U+001F,
contractions with ASCII and U+2019 apostrophes in both cases, digit runs of all
lengths (ASCII and not), and punctuation runs with newlines and '/'.

`mixed_bytes()` mixes UTF-8 of such texts with invalid byte sequences: lone
continuation bytes, truncated sequences, 0xF8..0xFF, overlong forms (of CR, LF,
space, apostrophe, slash and letters), UTF-8 surrogates, values above U+10FFFF
and lead bytes followed by ASCII.
"""

from __future__ import annotations

from hypothesis import strategies as st

WHITE_SPACE = (
    "\t\n\x0b\x0c\r \x85\xa0\u1680"
    + "".join(chr(c) for c in range(0x2000, 0x200B))
    + "\u2028\u2029\u202f\u205f\u3000"
)
NOT_WHITE_SPACE_CONTROLS = "\x1c\x1d\x1e\x1f\x00\x07\x7f\u200b\u200d\ufeff"

UPPER = "ABCDEFGHIJKLMNOPQRSTUVWXYZÀÉÖÞĀŁŒΑΔΣЖЯԱႠᏣ"  # Lu
LOWER = "abcdefghijklmnopqrstuvwxyzßàéöþāłœſαδσςжяաᴀ"  # Ll (ſ folds to s)
TITLE = "\u01c5\u01c8\u01cb\u01f2\u1f88\u1f8f\u1ffc"  # Lt
MODIFIER = "\u02b0\u02c6\u02d0\u3005\ua67f\uff70\u0e46"  # Lm
OTHER_LETTERS = "\u00aa\u00ba\u01bb\u0295\u05d0\u05ea\u0627\u064a\u0905\u0e01\u4e00\u9fa5\u3042\u30a2\uac00\ud7a3\u1100"  # Lo
MARKS = "\u0300\u0301\u0308\u0327\u0345\u0483\u05b4\u064b\u093f\u0941\u0e31\u0e48\u20dd\u20e3\u302a\ufe0f\u1ab0"  # Mn Mc Me
SUPPLEMENTARY = (
    "\U00020000\U0002a6d6\U000323b0\U00033479\U0003347a\U00010400\U00010428"  # letters, and one past the last
    "\U0001d400\U0001d41a\U0001d7ce\U0001d7ff\U00010107\U000e0100\U000e0001"  # math letters, digits, No, Mn, Cf
    "\U0001f600\U0001f469\U0001f3fd\U0001f1fa\U0001f1f8\U0001f9d1\U000f0000\U0010fffd"  # emoji, Co
)
ASCII_DIGITS = "0123456789"
OTHER_DIGITS = "\u0660\u0669\u06f5\u0966\u096f\u0e51\uff10\uff19\u00b2\u00b3\u00b9\u00bd\u2160\u2167\u3007\u2460"
PUNCTUATION = "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~\u2018\u2019\u201c\u201d\u2026\u00bf\u00a7\u3001\u3002\uff01\u20ac\ufffd\u2014\u00b4"
APOSTROPHES = "'\u2019"
CONTRACTION_TAILS = ["s", "t", "d", "m", "re", "ve", "ll", "S", "T", "D", "M", "RE", "Re", "rE", "VE", "LL", "Ll", "lL", "x", "", "ſ"]

_LETTER_POOLS = UPPER + LOWER + TITLE + MODIFIER + OTHER_LETTERS
_ALL = (
    WHITE_SPACE + NOT_WHITE_SPACE_CONTROLS + _LETTER_POOLS + MARKS + SUPPLEMENTARY
    + ASCII_DIGITS + OTHER_DIGITS + PUNCTUATION
)


def _runs(pool: str, max_size: int = 8) -> st.SearchStrategy[str]:
    return st.text(alphabet=pool, min_size=1, max_size=max_size)


def _word() -> st.SearchStrategy[str]:
    """A word, with the case shapes the o200k rules tell apart (Upper, UPPERlower, lower)."""
    return st.tuples(
        st.text(alphabet=UPPER + TITLE + MODIFIER, max_size=4),
        st.text(alphabet=LOWER + MODIFIER + OTHER_LETTERS + MARKS, max_size=6),
    ).map("".join).filter(bool)


def _contraction() -> st.SearchStrategy[str]:
    return st.tuples(
        st.sampled_from(["", "don", "WE", "it", "I", "they", "Bob", "\u00e9t\u00e9", "x1"]),
        st.sampled_from(APOSTROPHES),
        st.sampled_from(CONTRACTION_TAILS),
    ).map("".join)


def _digit_run() -> st.SearchStrategy[str]:
    return st.one_of(
        st.text(alphabet=ASCII_DIGITS, min_size=1, max_size=12),
        st.text(alphabet=ASCII_DIGITS + OTHER_DIGITS, min_size=1, max_size=9),
    )


def _punctuation_run() -> st.SearchStrategy[str]:
    return st.text(alphabet=PUNCTUATION + "/\r\n" + NOT_WHITE_SPACE_CONTROLS, min_size=1, max_size=8)


def _space_run() -> st.SearchStrategy[str]:
    return st.one_of(
        st.text(alphabet=" \t\r\n", min_size=1, max_size=6),
        _runs(WHITE_SPACE, 6),
        st.sampled_from(["\r\n", "\n\n\n", "  \n  ", " \u00a0", "\u3000\u3000", "\n "]),
    )


def fragment() -> st.SearchStrategy[str]:
    return st.one_of(
        _word(),
        _word().map(lambda w: " " + w),
        _contraction(),
        _digit_run(),
        _punctuation_run(),
        _space_run(),
        _runs(MARKS, 3),
        _runs(SUPPLEMENTARY, 3),
        _runs(_ALL, 6),
        st.characters(exclude_categories=("Cs",)),
    )


def mixed_text(max_fragments: int = 24) -> st.SearchStrategy[str]:
    return st.lists(fragment(), max_size=max_fragments).map("".join)


# Invalid UTF-8, grouped by what the lenient decoding does with it.
INVALID_SEQUENCES = [
    # lone continuation bytes, and bytes that never start a sequence
    b"\x80", b"\x85", b"\xa0", b"\xaa", b"\xb2", b"\xbf", b"\xf8", b"\xfb", b"\xfc", b"\xfe", b"\xff",
    # truncated sequences (complete only if whatever follows fills them)
    b"\xc3", b"\xe2\x82", b"\xe4\xb8", b"\xf0\x9f", b"\xf0\x9f\x98",
    # overlong forms of LF, CR, space, apostrophe, slash, letters and digits
    b"\xc0\x8a", b"\xc0\x8d", b"\xc0\xa0", b"\xc0\xa7", b"\xc0\xaf", b"\xc1\xb3", b"\xc1\x81", b"\xc0\xb1",
    b"\xe0\x80\x8a", b"\xe0\x80\xa0", b"\xe0\x80\xa7", b"\xf0\x80\x80\x8a", b"\xf0\x80\x80\xa7", b"\xc0\x80",
    # lead bytes followed by bytes that are not continuation bytes
    b"\xc0\x0a", b"\xc0\x0d", b"\xe2\x80\x0a", b"\xe0\x80\x0d", b"\xc3\x27", b"\xc3\x0a", b"\xe2\x41\x42",
    b"\xc2 ", b"\xe3\x80\x20",
    # surrogates, and values above U+10FFFF
    b"\xed\xa0\x80", b"\xed\xbf\xbf", b"\xf4\x90\x80\x80", b"\xf7\xbf\xbf\xbf", b"\xf5\x80\x80\x80",
    # private-use and noncharacters encoded correctly, for contrast
    b"\xee\x80\x80", b"\xef\xbf\xbf",
]


def mixed_bytes(max_fragments: int = 24) -> st.SearchStrategy[bytes]:
    piece = st.one_of(
        fragment().map(lambda s: s.encode("utf-8")),
        fragment().map(lambda s: s.encode("utf-8")),
        st.sampled_from(INVALID_SEQUENCES),
        st.binary(min_size=1, max_size=4),
    )
    return st.lists(piece, max_size=max_fragments).map(b"".join)
