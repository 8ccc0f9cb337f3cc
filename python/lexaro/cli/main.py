"""`lexaro`: count, encode, decode and truncate files and streams from the shell."""
from __future__ import annotations

import argparse
from typing import Optional, Sequence

from .. import __version__
from ..models import builtin_encoding_for_model, check_encoding_name, encoding_name_for_model
from . import output

PROG = "lexaro"
DEFAULT_ENCODING = "o200k_base"

EPILOG = """exit status: 0 when every input was handled, 1 when one could not be (each such input gets one
line on standard error and the others are still handled), 2 for a bad command line, 130 on Ctrl-C."""


class Parser(argparse.ArgumentParser):
    """argparse with its errors on one line: the message and where to find help (exit status 2)."""

    def error(self, message: str):
        self.exit(2, f"{self.prog}: error: {message} (see '{self.prog} --help')\n")


def _encoding(name: str) -> str:
    try:
        return check_encoding_name(name)
    except ValueError as e:
        raise argparse.ArgumentTypeError(str(e)) from None


def _model(name: str) -> str:
    try:
        encoding_name_for_model(name)
    except KeyError:
        raise argparse.ArgumentTypeError(f"unknown model {name!r} ('lexaro models' lists the known ones)") from None
    try:
        return builtin_encoding_for_model(name)
    except KeyError as e:  # a legacy model
        raise argparse.ArgumentTypeError(str(e.args[0])) from None


def _count_at_least(low: int, what: str):
    def parse(text: str) -> int:
        try:
            n = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
        if n < low:
            raise argparse.ArgumentTypeError(f"{what} must be {low} or more, not {n}")
        return n

    return parse


def _common(threads: bool = True, progress: bool = True) -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(add_help=False)
    which = p.add_mutually_exclusive_group()
    which.add_argument("-e", "--encoding", type=_encoding, metavar="NAME",
                       help=f"the encoding (default {DEFAULT_ENCODING}; see 'lexaro encodings')")
    which.add_argument("-m", "--model", type=_model, metavar="MODEL", dest="model_encoding",
                       help="the encoding of this model (see 'lexaro models')")
    p.add_argument("--special", action="store_true",
                   help="treat special-token strings in the input as special tokens (by default they are "
                        "ordinary text)")
    if threads:
        p.add_argument("-j", "--threads", type=_count_at_least(1, "the thread count"), default=0, metavar="N",
                       help="worker threads (default: the processors this process may use)")
    if progress:
        p.add_argument("--no-progress", action="store_true",
                       help="no progress bar (it appears on long runs when standard error is a terminal)")
    return p


def build_parser() -> Parser:
    parser = Parser(prog=PROG, description="Exact byte-pair-encoding token counts, ids and cuts, from the shell.",
                    epilog=EPILOG)
    parser.add_argument("--version", action="version", version=f"lexaro {__version__}")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser)
    sub.required = True

    p = sub.add_parser("count", parents=[_common()], help="token counts of files, folders or standard input",
                       description="Token counts, one line per input (count, then path) and a total line for "
                                   "several inputs. Folders are searched recursively. '-' or no path reads "
                                   "standard input.", epilog=EPILOG)
    p.add_argument("paths", nargs="*", metavar="PATH")
    p.add_argument("--glob", action="append", default=[], metavar="PATTERN",
                   help="in folders, count only files whose name matches (repeatable)")
    p.add_argument("--hidden", action="store_true", help="in folders, count hidden files and folders too")
    out = p.add_mutually_exclusive_group()
    out.add_argument("--json", action="store_true", help="one JSON object: per-file counts, total, encoding")
    out.add_argument("-q", "--quiet", action="store_true", help="print the total alone")

    p = sub.add_parser("encode", parents=[_common()], help="the token ids of TEXT or of standard input",
                       description="The token ids of TEXT, or of standard input, space-separated on one line.",
                       epilog=EPILOG)
    p.add_argument("text", nargs="?", metavar="TEXT")
    p.add_argument("--json", action="store_true", help="a JSON list")

    p = sub.add_parser("decode", parents=[_common(threads=False, progress=False)],
                       help="the text of token ids",
                       description="The text of the ids given, or of the ids read from standard input "
                                   "(separated by white space or commas; a JSON list works too), written as "
                                   "the exact bytes of the tokens.", epilog=EPILOG)
    p.add_argument("ids", nargs="*", metavar="ID")

    p = sub.add_parser("truncate", parents=[_common(progress=False)],
                       help="the longest beginning of the input within N tokens",
                       description="Writes the longest beginning of PATH (or standard input) that fits in N "
                                   "tokens, unchanged in bytes (what Tokenizer.truncate keeps).", epilog=EPILOG)
    p.add_argument("-n", "--max-tokens", type=_count_at_least(0, "N"), required=True, metavar="N", dest="max_tokens")
    p.add_argument("path", nargs="?", metavar="PATH")

    for name, what in (("encodings", "the built-in encodings"),
                       ("models", "the model table: each model (or name prefix*) and its encoding")):
        p = sub.add_parser(name, help=what, description=what[0].upper() + what[1:] + ".")
        p.add_argument("--json", action="store_true", help="as JSON")
    return parser


def _tokenizer(args):
    from .._lexaro import Tokenizer

    return Tokenizer(args.encoding or args.model_encoding or DEFAULT_ENCODING)


def run(argv: Optional[Sequence[str]] = None) -> int:
    args = build_parser().parse_args(argv)
    cmd = args.command
    prog = f"{PROG} {cmd}"

    def report(text: str) -> None:
        output.message(prog, text)

    if cmd in ("encodings", "models"):
        from . import listing

        return listing.encodings(args.json) if cmd == "encodings" else listing.models(args.json)

    from . import commands

    tok = _tokenizer(args)
    if cmd == "count":
        return commands.count(tok, args.paths, globs=args.glob, hidden=args.hidden, special=args.special,
                              threads=args.threads, as_json=args.json, quiet=args.quiet,
                              show_progress=not args.no_progress, report=report)
    if cmd == "encode":
        return commands.encode(tok, args.text, special=args.special, threads=args.threads, as_json=args.json,
                               show_progress=not args.no_progress, report=report)
    if cmd == "decode":
        return commands.decode(tok, args.ids, report=report)
    return commands.truncate(tok, args.path, args.max_tokens, special=args.special, threads=args.threads,
                             report=report)


def main(argv: Optional[Sequence[str]] = None) -> int:
    """The console script. Every failure ends as one line on standard error and an exit status; no
    traceback reaches the user."""
    try:
        status = run(argv)
        output.flush()
        return status
    except KeyboardInterrupt:
        output.message(PROG, "interrupted")
        return 130
    except BrokenPipeError:
        output.silence_stdout()
        output.message(PROG, "standard output was closed before all output was written (broken pipe)")
        return 1
    except SystemExit:
        raise
    except MemoryError:
        output.message(PROG, "out of memory")
        return 1
    except BaseException as e:  # noqa: BLE001 - a fault of lexaro itself, still shown on one line
        output.message(PROG, f"internal error: {type(e).__name__}: {e}")
        return 1
