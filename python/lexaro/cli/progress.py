"""The progress bar of long runs, on standard error, drawn by tqdm.

tqdm is a dependency of the package, but it is imported only when a bar may be shown: short runs and
runs whose standard error is not a terminal never pay for the import.
"""
from __future__ import annotations

import sys
from typing import Optional

from . import output

MIN_BYTES = 16 << 20  # below this much known input no bar is prepared
DELAY_SECONDS = 0.5  # and none is drawn for a run that ends sooner


class Progress:
    """Bytes done of bytes known (or of an unknown total), rate and time left; a no-op when off."""

    def __init__(self, total: Optional[int], enabled: bool):
        self._bar = None
        if not enabled:
            return
        try:
            from tqdm import tqdm
        except ImportError:  # an install without it runs without a bar
            return
        self._bar = tqdm(total=total, unit="B", unit_scale=True, unit_divisor=1024, delay=DELAY_SECONDS,
                         file=sys.stderr, leave=False, dynamic_ncols=True)

    def update(self, nbytes: int) -> None:
        if self._bar is not None:
            self._bar.update(nbytes)

    def line(self, text: str) -> None:
        """A line of results; when it goes to the terminal that shows the bar, the bar steps aside."""
        if self._bar is None or not sys.stdout.isatty():
            output.line(text)
            return
        self._bar.clear()
        output.line(text)
        output.flush()
        self._bar.refresh()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None


def progress(total: Optional[int], wanted: bool) -> Progress:
    """A bar when `wanted`, standard error is a terminal and the input is large or of unknown size."""
    stream = sys.stderr
    tty = stream is not None and hasattr(stream, "isatty") and stream.isatty()
    return Progress(total, wanted and tty and (total is None or total >= MIN_BYTES))
