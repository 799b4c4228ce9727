"""Several bridges in server mode (StatusBridgePool)."""

from __future__ import annotations

import threading
import time
import weakref
from typing import Iterable, List, Mapping, Optional

from .client import (CLIENT_TIMEOUT, DEFAULT_PROGRAM, DEFAULT_TIMEOUT, Client,
                     Item, Outcome, StatusBridge, Timeout, _live, deadline_of,
                     end_dropped, items_to_requests)
from .errors import BridgeClosedError, BridgeError, BridgeTimeoutError
from .process import LibraryPath, Program
from .wire import BlockType, FileName, VerificationResult


class StatusBridgePool(Client):
    """`size` bridges in server mode; each request goes to a free one.

    One bridge answers one request at a time, so callers in several threads
    take turns on it; a pool answers up to `size` requests at once. Each
    bridge keeps the rules of StatusBridge: the time-out (which covers the
    wait for a free bridge), one restart after a crash, the same errors.
    query_many() spreads a batch over the bridges. The start-up check runs
    once for the pool. All methods are thread-safe.

    Arguments as for StatusBridge, plus `size`, the number of bridges.
    """

    def __init__(self, program: Program = DEFAULT_PROGRAM, *, size: int,
                 library_path: LibraryPath = None,
                 env: Optional[Mapping[str, str]] = None,
                 timeout: Optional[float] = DEFAULT_TIMEOUT,
                 allow_private: bool = False,
                 check_on_start: bool = True,
                 add_library_dir_to_path: bool = True) -> None:
        if size < 1:
            raise ValueError(f"size must be at least 1, not {size}")
        self._bridges = [
            StatusBridge(program, library_path=library_path, env=env,
                         timeout=timeout, allow_private=allow_private,
                         check_on_start=False,
                         add_library_dir_to_path=add_library_dir_to_path)
            for _ in range(size)]
        for bridge in self._bridges:
            bridge._finalizer.detach()  # The pool's finalizer covers them.
        self._timeout = timeout
        self._idle = list(self._bridges)
        self._free = threading.Condition()
        self._closed = False
        self._check_lock = threading.Lock()
        self._check_pending = check_on_start
        self._finalizer = weakref.finalize(
            self, end_dropped, [bridge._slot for bridge in self._bridges],
            f"StatusBridgePool(size={size})")
        _live.add(self)

    def __repr__(self) -> str:
        state = "closed" if self._closed else (
            f"busy={len(self._bridges) - len(self._idle)}")
        return (f"<StatusBridgePool {' '.join(self._bridges[0]._command)!r} "
                f"size={len(self._bridges)} {state} "
                f"restarts={self.restarts}>")

    @property
    def size(self) -> int:
        return len(self._bridges)

    @property
    def restarts(self) -> int:
        """Bridges started again after one died, over the whole pool."""
        return sum(bridge.restarts for bridge in self._bridges)

    @property
    def pids(self) -> List[Optional[int]]:
        """Each bridge's process id, None where none is running."""
        return [bridge.pid for bridge in self._bridges]

    def probe(self, *, timeout: Timeout = CLIENT_TIMEOUT) -> None:
        """As StatusBridge.probe()."""
        self._bridges[0].probe(timeout=timeout)

    def start(self) -> None:
        """Starts every bridge that is not running (probing first, the
        first time, when ``check_on_start`` is on)."""
        self._check()
        for bridge in self._bridges:
            bridge.start_unless_busy()

    def query(self, lmc_file: FileName, block_name: str,
              block_type: BlockType = None, *,
              timeout: Timeout = CLIENT_TIMEOUT) -> VerificationResult:
        """As StatusBridge.query(), on a free bridge; waits for one when all
        are busy, within the time-out."""
        self._check()
        limit = self._bridges[0].resolve(timeout)
        deadline = deadline_of(limit)
        bridge = self._take(deadline, limit)
        try:
            left = None if deadline is None else max(
                0.0, deadline - time.monotonic())
            return bridge.query(lmc_file, block_name, block_type,
                                timeout=left)
        finally:
            self._give_back(bridge)

    def query_many(self, items: Iterable[Item], *,
                   timeout: Timeout = CLIENT_TIMEOUT) -> List[Outcome]:
        """As StatusBridge.query_many(), the items split into one run of
        consecutive items per bridge, asked side by side."""
        self._check()
        first = self._bridges[0]
        requests = items_to_requests(items, first.next_id)
        limit = first.resolve(timeout)
        parts = min(len(self._bridges), len(requests))
        if parts == 0:
            return []
        step = -(-len(requests) // parts)
        runs = [requests[at:at + step] for at in range(0, len(requests), step)]
        outcomes: List[Optional[List[Outcome]]] = [None] * len(runs)
        errors: List[BaseException] = []
        used: List[StatusBridge] = []
        interrupted = threading.Event()

        def ask(number: int) -> None:
            try:
                bridge = self._take(deadline_of(limit), limit)
                used.append(bridge)
                if interrupted.is_set():
                    self._give_back(bridge)
                    return
                try:
                    bridge._take_turn(None, limit, None)
                    try:
                        outcomes[number] = bridge._ask_many(runs[number],
                                                            limit)
                    finally:
                        bridge._call_lock.release()
                finally:
                    self._give_back(bridge)
            except BaseException as error:  # Raised by the caller below.
                errors.append(error)

        helpers = [threading.Thread(target=ask, args=(number,),
                                    name="status-bridge-batch", daemon=True)
                   for number in range(1, len(runs))]
        try:
            for helper in helpers:
                helper.start()
            ask(0)
            for helper in helpers:
                helper.join()
        except BaseException:
            # Interrupted: the helpers' bridges would answer no one.
            interrupted.set()
            for bridge in list(used):
                bridge.interrupt()
            raise
        if errors:
            raise errors[0]
        return [outcome for run in outcomes for outcome in run or []]

    def close(self) -> None:
        """Closes every bridge as StatusBridge.close() does: idle ones
        through their input, busy ones killed (their calls raise
        BridgeClosedError). Raises the first error of a bridge that did not
        end cleanly, after closing them all."""
        self._mark_closed()
        errors = []
        for bridge in self._bridges:
            try:
                bridge.close()
            except BridgeError as error:
                errors.append(error)
        if errors:
            raise errors[0]

    def terminate(self) -> None:
        """Kills every bridge without waiting; calls in flight raise
        BridgeClosedError."""
        self._mark_closed()
        for bridge in self._bridges:
            bridge.terminate()

    def _after_fork(self) -> None:
        # The bridges were forked with the pool; the calls that had some of
        # them exist in the parent only.
        self._free = threading.Condition()
        self._check_lock = threading.Lock()
        self._idle = list(self._bridges)

    def _mark_closed(self) -> None:
        with self._free:
            self._closed = True
            self._free.notify_all()
        self._finalizer.detach()

    def _check(self) -> None:
        with self._check_lock:
            if self._check_pending:
                self._bridges[0].check()
                self._check_pending = False

    def _take(self, deadline: Optional[float],
              limit: Optional[float]) -> StatusBridge:
        with self._free:
            while not self._idle and not self._closed:
                left = None if deadline is None else (
                    deadline - time.monotonic())
                if left is not None and left <= 0:
                    raise BridgeTimeoutError(
                        f"every bridge of the pool was busy for {limit} s")
                self._free.wait(left)
            if self._closed:
                raise BridgeClosedError("the status-bridge pool is closed")
            return self._idle.pop()

    def _give_back(self, bridge: StatusBridge) -> None:
        with self._free:
            self._idle.append(bridge)
            self._free.notify()
