"""Several bridges in server mode (StatusBridgePool)."""

from __future__ import annotations

import threading
import weakref
from typing import Any, Iterable, List, Optional

from .client import (CLIENT_TIMEOUT, DEFAULT_PROGRAM, Client, Item, Outcome,
                     Settings, StatusBridge, Timeout, _deadline_of,
                     _end_dropped, _Ids, _items_to_requests, _left, _live,
                     _Slot, _StartCheck)
from .errors import BridgeClosedError, BridgeError, BridgeTimeoutError
from .process import POLL_INTERVAL, TERMINATE_GRACE, Program
from .wire import BlockType, FileName, VerificationResult


class StatusBridgePool(Client):
    """`size` bridges in server mode; each request goes to a free one.

    One bridge answers one request at a time, so callers in several threads
    take turns on it; a pool answers up to `size` requests at once. Each
    bridge keeps the rules of StatusBridge: the time-out (which covers the
    wait for a free bridge), one restart after a crash, the same errors.
    query_many() spreads a batch over the bridges. The start-up check runs
    once for the pool. A KeyboardInterrupt (or any exception) in the caller
    stops every bridge of the call at once. All methods are thread-safe.

    Arguments as for StatusBridge, plus `size`, the number of bridges.
    """

    def __init__(self, program: Program = DEFAULT_PROGRAM, *, size: int,
                 check_on_start: bool = True, **options: Any) -> None:
        if size < 1:
            raise ValueError(f"size must be at least 1, not {size}")
        self._settings = Settings(program, **options)
        self._start_check = _StartCheck(check_on_start)
        self._ids = _Ids()
        slots = [_Slot() for _ in range(size)]
        self._bridges = [
            StatusBridge._member(self._settings, self._start_check, slot,
                                 self._ids) for slot in slots]
        self._idle = list(self._bridges)
        self._free = threading.Condition()
        self._closed = False
        self._finalizer = weakref.finalize(
            self, _end_dropped, slots, f"StatusBridgePool(size={size})")
        _live.add(self)

    def __repr__(self) -> str:
        state = "closed" if self._closed else (
            f"busy={len(self._bridges) - len(self._idle)}")
        return (f"<StatusBridgePool {' '.join(self._settings.command)!r} "
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
        limit = self._settings.limit(CLIENT_TIMEOUT)
        deadline = _deadline_of(limit)
        self._start_check.run(self._settings, deadline, limit)
        for bridge in self._bridges:
            bridge._start_if_idle(deadline, limit)

    def query(self, lmc_file: FileName, block_name: str,
              block_type: BlockType = None, *,
              timeout: Timeout = CLIENT_TIMEOUT) -> VerificationResult:
        """As StatusBridge.query(), on a free bridge; waits for one when all
        are busy, within the time-out."""
        limit = self._settings.limit(timeout)
        deadline = _deadline_of(limit)
        bridge = self._take(deadline, limit)
        try:
            return bridge.query(lmc_file, block_name, block_type,
                                timeout=_left(deadline))
        finally:
            self._give_back(bridge)

    def query_many(self, items: Iterable[Item], *,
                   timeout: Timeout = CLIENT_TIMEOUT) -> List[Outcome]:
        """As StatusBridge.query_many(), the items split into one run of
        consecutive items per bridge, each asked on a thread of its own.
        An exception in the caller's thread (a KeyboardInterrupt, say)
        kills the bridges of the other runs and leaves at once."""
        requests = _items_to_requests(items, self._ids)
        limit = self._settings.limit(timeout)
        deadline = _deadline_of(limit)
        parts = min(len(self._bridges), len(requests))
        if parts == 0:
            return []
        step = -(-len(requests) // parts)
        runs = [requests[at:at + step] for at in range(0, len(requests), step)]
        outcomes: List[Optional[List[Outcome]]] = [None] * len(runs)
        errors: List[BaseException] = []
        used: List[StatusBridge] = []
        cancel = threading.Event()

        def ask(number: int) -> None:
            try:
                bridge = self._take(deadline, limit)
                try:
                    used.append(bridge)
                    if not cancel.is_set():
                        outcomes[number] = bridge._batch(
                            runs[number], deadline, limit, cancel)
                finally:
                    self._give_back(bridge)
            except BaseException as error:  # Raised by the caller below.
                errors.append(error)

        helpers = [threading.Thread(target=ask, args=(number,),
                                    name="status-bridge-batch", daemon=True)
                   for number in range(len(runs))]
        try:
            for helper in helpers:
                helper.start()
            for helper in helpers:
                while helper.is_alive():
                    helper.join(POLL_INTERVAL)
        except BaseException:
            # The other runs' answers would go to no one.
            cancel.set()
            for bridge in list(used):
                bridge._interrupt()
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

    def kill(self) -> None:
        """Kills every bridge without waiting; calls in flight raise
        BridgeClosedError."""
        self._mark_closed()
        for bridge in self._bridges:
            bridge.kill()

    def terminate(self, grace: float = TERMINATE_GRACE) -> None:
        """As kill(), through StatusBridge.terminate(): SIGTERM first, and
        SIGKILL for a bridge that has not ended after `grace` seconds."""
        self._mark_closed()
        for bridge in self._bridges:
            bridge.terminate(grace)

    def _after_fork(self) -> None:
        # The bridges were forked with the pool; the calls that had some of
        # them exist in the parent only.
        self._free = threading.Condition()
        self._idle = list(self._bridges)

    def _mark_closed(self) -> None:
        with self._free:
            self._closed = True
            self._free.notify_all()
        self._finalizer.detach()

    def _take(self, deadline: Optional[float],
              limit: Optional[float]) -> StatusBridge:
        with self._free:
            while not self._idle and not self._closed:
                left = _left(deadline)
                if left is not None and left <= 0:
                    raise BridgeTimeoutError(
                        f"every bridge of the pool was busy for {limit} s")
                self._free.wait(POLL_INTERVAL if left is None
                                else min(left, POLL_INTERVAL))
            if self._closed:
                raise BridgeClosedError("the status-bridge pool is closed")
            return self._idle.pop()

    def _give_back(self, bridge: StatusBridge) -> None:
        with self._free:
            self._idle.append(bridge)
            self._free.notify()
