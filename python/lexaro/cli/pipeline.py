"""Blocks of every input, read on one thread and handed over in groups to the native batch methods.

One reader thread opens the inputs in order, cuts each into blocks (see blocks.py) and packs the blocks,
or whole small files, into groups. The groups go to batch calls, which run with the interpreter lock
released, while the reader prepares the next ones; results come back in input order. Only a few groups
exist at a time, so memory stays bounded whatever the size of the inputs.

Two ways to run the calls (see `in_order`):
- two threads of our own, each making whole batch calls one after the other on its own thread: no
  thread ever waits for another to finish a group, and a busy machine takes nothing from either but its
  own share of time. Each such call sizes its pre-token cache as if it ran alone, and the cache budget
  holds two of those, so this serves up to two threads;
- beyond two, one call at a time spreads each group over all threads: the batch method then sizes the
  caches of its workers to fit the budget together, at the cost of a wait for the slowest thread at the
  end of each group (kept short by many small blocks per thread).
"""
from __future__ import annotations

import os
import queue
import threading
from collections import deque
from typing import Callable, Iterator, Optional, Sequence, TypeVar

from .blocks import BLOCK_BYTES, blocks
from .inputs import Input, InputError, open_input, reader

GROUP_BLOCKS_PER_THREAD = 32  # a batch call's last blocks leave threads idle: many per thread keep that small
GROUP_MAX_BYTES = 32 << 20  # but memory stays bounded on machines with many processors
OWN_THREADS_MAX = 2  # up to this many threads, each makes its own batch calls
OWN_GROUP_BYTES = 16 * BLOCK_BYTES  # a group for one of those threads
GROUP_MAX_TEXTS = 4096  # many small files share one call, up to this many
QUEUE_GROUPS = 1  # a ready group waits while one is counted and the next is read


def default_threads() -> int:
    """The processors this process may run on."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except (AttributeError, OSError):
        return max(1, os.cpu_count() or 1)


class Group:
    __slots__ = ("texts", "owners", "finished", "nbytes")

    def __init__(self) -> None:
        self.texts: list = []  # blocks (bytes)
        self.owners: list = []  # index of the input each block comes from
        # Inputs whose last block is in this group or an earlier one, each with the error that ended it
        # (None when it was read to the end). An input whose reading failed midway still has its earlier
        # blocks in groups: its results are simply not used.
        self.finished: list = []
        self.nbytes = 0


_END = object()


class _Failure:
    def __init__(self, exc: BaseException):
        self.exc = exc


def _read_all(inputs: Sequence[Input], out: queue.Queue, stop: threading.Event, group_bytes: int) -> None:
    def hand_over(item) -> bool:
        while not stop.is_set():
            try:
                out.put(item, timeout=0.1)
                return True
            except queue.Full:
                continue
        return False

    try:
        group = Group()
        for index, inp in enumerate(inputs):
            try:
                stream = open_input(inp)
                try:
                    for block in blocks(reader(stream, inp.name)):
                        group.texts.append(block)
                        group.owners.append(index)
                        group.nbytes += len(block)
                        if group.nbytes >= group_bytes or len(group.texts) >= GROUP_MAX_TEXTS:
                            if not hand_over(group):
                                return
                            group = Group()
                finally:
                    stream.close()
            except InputError as e:
                group.finished.append((index, e))
                continue
            group.finished.append((index, None))
            if stop.is_set():
                return
        if group.texts or group.finished:
            if not hand_over(group):
                return
        hand_over(_END)
    except BaseException as e:  # noqa: BLE001 - handed to the calling thread, which raises it
        hand_over(_Failure(e))


def groups(inputs: Sequence[Input], threads: int) -> Iterator[Group]:
    """The groups of all inputs, in input order, sized for `threads` workers (0: all processors) as
    `in_order` runs them. Closing the iterator stops the reader."""
    out: queue.Queue = queue.Queue(maxsize=QUEUE_GROUPS)
    stop = threading.Event()
    n = threads or default_threads()
    if n <= OWN_THREADS_MAX:
        group_bytes = OWN_GROUP_BYTES
    else:
        group_bytes = min(GROUP_MAX_BYTES, BLOCK_BYTES * GROUP_BLOCKS_PER_THREAD * n)
    worker = threading.Thread(target=_read_all, args=(inputs, out, stop, group_bytes), name="lexaro-reader",
                              daemon=True)
    worker.start()
    try:
        while True:
            item = out.get()
            if item is _END:
                return
            if isinstance(item, _Failure):
                raise item.exc
            yield item
    finally:
        stop.set()


R = TypeVar("R")


def in_order(items: Iterator[Group], work: Callable[[Group, int], R], threads: int) -> Iterator[tuple[Group, R]]:
    """(group, work(group, batch_threads)) for every group, in order, on `threads` threads (0: all
    processors); batch_threads is the `threads` argument for the batch call that `work` makes."""
    n = threads or default_threads()
    if n == 1 or n > OWN_THREADS_MAX:
        for group in items:
            yield group, work(group, threads)
        return
    from concurrent.futures import ThreadPoolExecutor  # here: its import costs every run six milliseconds

    pool = ThreadPoolExecutor(max_workers=n, thread_name_prefix="lexaro-count")
    pending: deque = deque()
    try:
        for group in items:
            pending.append((group, pool.submit(work, group, 1)))
            if len(pending) > n:  # one more waits, so that no thread idles between two groups
                done, future = pending.popleft()
                yield done, future.result()
        while pending:
            done, future = pending.popleft()
            yield done, future.result()
    finally:
        pool.shutdown(wait=False, cancel_futures=True)


def per_input(group: Group, values: Sequence[int], sums: dict) -> None:
    """Adds each block's value to the sum of its input."""
    for owner, v in zip(group.owners, values):
        sums[owner] = sums.get(owner, 0) + v


def finished_results(group: Group, sums: dict) -> Iterator[tuple[int, Optional[InputError], int]]:
    """(input index, error or None, sum) of the inputs that end with this group; forgets their sums."""
    for index, error in group.finished:
        yield index, error, sums.pop(index, 0)
