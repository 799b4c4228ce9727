"""One bridge in server mode (StatusBridge), and one-shot runs."""

from __future__ import annotations

import enum
import itertools
import logging
import os
import queue
import threading
import time
import warnings
import weakref
from typing import (Any, Callable, Dict, Iterable, List, Mapping, Optional,
                    Sequence, Tuple, TypeVar, Union)

from .errors import (EXIT_OK, BridgeClosedError, BridgeCrashedError,
                     BridgeError, BridgeProtocolError, BridgeTimeoutError,
                     ending, is_start_exit, is_start_message, request_error,
                     start_error)
from .process import (PROBE_SWITCH, SERVER_SWITCH, TERMINATE_GRACE,
                      LibraryPath, Program, ServerProcess,
                      check_start, command, environment, log, probe,
                      run_once)
from .wire import (BlockType, FileForms, FileName, Request,
                   VerificationResult, error_message_of, make_request,
                   parse_answer, result_from, strip_line_end)

# The bridge program, looked up on PATH unless a path or command is given.
DEFAULT_PROGRAM = "status-bridge"
# Seconds one request may take, from the call to its answer.
DEFAULT_TIMEOUT = 30.0
# Seconds close() waits for the bridge to end after its input is closed.
_CLOSE_TIMEOUT = 10.0
# Requests a batch keeps written ahead of the answer it waits for: enough to
# keep the bridge busy, few enough that neither pipe holds much.
_WINDOW = 256

# One item of a batch: (lmc_file, block_name) or (lmc_file, block_name,
# block_type); and what the batch returns for it.
Item = Union[Tuple[FileName, str], Tuple[FileName, str, BlockType]]
Outcome = Union[VerificationResult, BridgeError]
_T = TypeVar("_T")


class _Default(enum.Enum):
    """The default of a per-call time-out: the client's own."""

    TIMEOUT = "timeout"

    def __repr__(self) -> str:
        return "<the client's timeout>"


CLIENT_TIMEOUT = _Default.TIMEOUT
Timeout = Union[float, None, _Default]

# Clients that a child of os.fork inherits are told so there.
_live: "weakref.WeakSet[Any]" = weakref.WeakSet()


def _after_fork_in_child() -> None:
    for client in list(_live):
        client._after_fork()


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_after_fork_in_child)


def _deadline_of(limit: Optional[float]) -> Optional[float]:
    return None if limit is None else time.monotonic() + limit


def _left(deadline: Optional[float]) -> Optional[float]:
    return None if deadline is None else max(0.0,
                                             deadline - time.monotonic())


class Settings:
    """The keyword arguments that StatusBridge, StatusBridgePool,
    query_once() and is_verified_once() share, with their defaults: the one
    place they are listed. See StatusBridge for their meaning."""

    def __init__(self, program: Program = DEFAULT_PROGRAM, *,
                 library_path: LibraryPath = None,
                 env: Optional[Mapping[str, str]] = None,
                 timeout: Optional[float] = DEFAULT_TIMEOUT,
                 private_call: bool = False,
                 add_library_dir_to_path: bool = True) -> None:
        self.env = environment(env, library_path, private_call,
                               add_library_dir_to_path)
        self.command = command(program, self.env)
        self.timeout = timeout

    def limit(self, timeout: Timeout) -> Optional[float]:
        """A call's time-out: `timeout`, or the client's own."""
        return self.timeout if isinstance(timeout, _Default) else timeout


class _StartCheck:
    """The start-up check before a client's first bridge: once per client,
    or once per pool."""

    def __init__(self, pending: bool) -> None:
        self.pending = pending
        self._lock = threading.Lock()

    def run(self, settings: Settings, deadline: Optional[float],
            limit: Optional[float]) -> None:
        if not self.pending:
            return
        with self._lock:
            if self.pending:
                try:
                    check_start([*settings.command, PROBE_SWITCH],
                                settings.env, _left(deadline))
                except BridgeTimeoutError:
                    raise BridgeTimeoutError(
                        f"the start-up check did not end within the call's "
                        f"{limit} s; killed") from None
                self.pending = False

    def after_fork(self) -> None:
        self._lock = threading.Lock()


class _Ids:
    """Request ids: a random prefix per process, then a count."""

    def __init__(self) -> None:
        self._prefix = os.urandom(4).hex()
        self._count = itertools.count(1)

    def __call__(self) -> str:
        return f"{self._prefix}-{next(self._count)}"

    def after_fork(self) -> None:
        self._prefix = os.urandom(4).hex()


def _items_to_requests(items: Iterable[Item],
                       next_id: Callable[[], str]) -> List[Request]:
    """Encodes a batch; raises TypeError or ValueError for a bad item."""
    requests = []
    files: Dict[Union[str, bytes], FileForms] = {}
    for item in items:
        if not isinstance(item, tuple) or len(item) not in (2, 3):
            raise TypeError("each item must be a tuple (lmc_file, block_name)"
                            " or (lmc_file, block_name, block_type), not "
                            f"{item!r}")
        block_type = item[2] if len(item) == 3 else None  # type: ignore[misc]
        requests.append(make_request(next_id(), item[0], item[1], block_type,
                                     files))
    return requests


class _Slot:
    """What a client's finalizer needs: the current bridge and whether the
    client was closed. Kept apart from the client so that the finalizer
    holds no reference to it."""

    def __init__(self) -> None:
        self.lock = threading.Lock()
        self.process: Optional[ServerProcess] = None
        self.closed = False

    def close(self) -> Optional[ServerProcess]:
        """Marks the client closed; returns the bridge it had, if any."""
        with self.lock:
            self.closed = True
            process, self.process = self.process, None
        return process

    def after_fork(self) -> None:
        """In a forked child: drops the parent's bridge, which the child
        must neither use nor end."""
        self.lock = threading.Lock()
        process, self.process = self.process, None
        if process is not None:
            process.drop_in_child()


def _end_dropped(slots: Iterable[_Slot], description: str) -> None:
    """Finalizer of a client dropped without close(): kills its bridges."""
    processes = [p for p in (slot.close() for slot in slots)
                 if p is not None and p.running()]
    if processes:
        warnings.warn(
            f"{description} was not closed; killing its status-bridge "
            f"process(es) {', '.join(str(p.pid) for p in processes)}",
            ResourceWarning, stacklevel=2)
    for process in processes:
        process.kill("its client was dropped without close()")


class Client:
    """What StatusBridge and StatusBridgePool share on top of their own
    start(), close(), kill(), terminate() and query(): the ``with`` block
    and is_verified()."""

    def start(self) -> None:
        raise NotImplementedError

    def close(self) -> None:
        raise NotImplementedError

    def kill(self) -> None:
        raise NotImplementedError

    def terminate(self, grace: float = TERMINATE_GRACE) -> None:
        raise NotImplementedError

    def query(self, lmc_file: FileName, block_name: str,
              block_type: BlockType = None, *,
              timeout: Timeout = CLIENT_TIMEOUT) -> VerificationResult:
        raise NotImplementedError

    def __enter__(self: _ClientType) -> _ClientType:
        self.start()
        return self

    def __exit__(self, exc_type: Any, exc: Any, traceback: Any) -> None:
        if exc_type is None:
            self.close()
        else:
            # Keep the exception that is already on its way.
            self.kill()

    def is_verified(self, lmc_file: FileName, block_name: str,
                    block_type: BlockType = None, *,
                    timeout: Timeout = CLIENT_TIMEOUT) -> bool:
        """True when `block_name` in `lmc_file` is verified (READY), False
        when it is not (PENDING). Arguments and errors as for query()."""
        return self.query(lmc_file, block_name, block_type,
                          timeout=timeout).verified


_ClientType = TypeVar("_ClientType", bound=Client)


class StatusBridge(Client):
    """A status-bridge in server mode.

    The bridge is started by start() (also on entering a ``with`` block) or
    by the first request, and stopped by close(), kill() or terminate().
    Before the first bridge starts, the client probes (``check_on_start``,
    on by default): it runs the probe mode and checks that the private call
    is enabled, so a missing library, a missing export or a missing opt-in
    raise at once rather than at the first request.

    Time-out: a call gets `timeout` seconds (None: no limit) from the call to
    its answer: the wait for its turn behind other threads' calls, the
    start-up check and the bridge's start, and a retry after a crash
    included. When they pass while the call waits for its turn,
    BridgeTimeoutError is raised and the bridge is left to the call that has
    it; when they pass while it waits for its answer, the bridge is killed,
    since its next answer would still be the late one.

    Interrupts: when any exception (KeyboardInterrupt, say) ends a call
    while the bridge still owes it answers, the bridge is killed before the
    exception leaves the call, and the next call starts a new one; so no
    call ever receives another's answer.

    Death: when the bridge ends without answering (a crash inside the vendor
    library), it is restarted once and the same request is sent again, since
    asking for a status changes nothing. When the new bridge dies as well,
    BridgeCrashedError is raised. The budget is per request.

    Start-up failures (exit codes 2, 3, 4) raise LibraryLoadError,
    ExportMissingError and PrivateCallDisabledError; they are not retried.

    The keyword arguments (those of Settings): the bridge's environment is
    `env` (default: this process's), with LMCDLL70_PATH set to
    `library_path` when given, and ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE set to
    1 when `private_call` is true. On Windows, the library's folder goes
    first on the bridge's PATH unless `add_library_dir_to_path` is false.
    `program` and `library_path` are made absolute here, so a later
    os.chdir does not change them.

    The bridge runs in a session (process group on Windows) of its own: a
    Ctrl-C in the terminal interrupts the caller, not the bridge. A client
    inherited by a child of os.fork starts a bridge of its own there. A
    client dropped without close() has its bridge killed, with a
    ResourceWarning.
    """

    _finalizer: Optional[weakref.finalize] = None  # None in a pool.

    def __init__(self, program: Program = DEFAULT_PROGRAM, *,
                 check_on_start: bool = True, **options: Any) -> None:
        self._setup(Settings(program, **options), _StartCheck(check_on_start),
                    _Slot(), _Ids())
        self._finalizer = weakref.finalize(
            self, _end_dropped, [self._slot], f"StatusBridge({self._name()})")

    def _setup(self, settings: Settings, start_check: _StartCheck,
               slot: _Slot, ids: _Ids) -> None:
        self._settings = settings
        self._start_check = start_check
        self._slot = slot
        self._ids = ids
        # Held by the call that has the bridge; close() never waits for it.
        self._call_lock = threading.Lock()
        self.restarts = 0  # Bridges started again after one died.
        _live.add(self)

    def __repr__(self) -> str:
        process = self._slot.process
        if self._slot.closed:
            state = "closed"
        elif process is None:
            state = "not running"
        else:
            state = f"pid={process.pid}"
        return (f"<StatusBridge {self._name()} {state} "
                f"restarts={self.restarts}>")

    @property
    def pid(self) -> Optional[int]:
        """The running bridge's process id, or None."""
        process = self._slot.process
        return None if process is None else process.pid

    def probe(self, *, timeout: Timeout = CLIENT_TIMEOUT) -> None:
        """Runs the bridge in probe mode ("--probe-only") with the client's
        environment. Returns when the library loads and has the status
        export; raises LibraryLoadError, ExportMissingError, or
        BridgeStartError when the program cannot be run. The private call's
        opt-in is not part of the probe."""
        probe([*self._settings.command, PROBE_SWITCH], self._settings.env,
              self._settings.limit(timeout))

    def start(self) -> None:
        """Starts the bridge unless one is running (probing first, the
        first time, when ``check_on_start`` is on)."""
        limit = self._settings.limit(CLIENT_TIMEOUT)
        deadline = _deadline_of(limit)
        self._locked(deadline, limit, None,
                     lambda: self._running_process(deadline, limit))

    def query(self, lmc_file: FileName, block_name: str,
              block_type: BlockType = None, *,
              timeout: Timeout = CLIENT_TIMEOUT) -> VerificationResult:
        """Asks whether `block_name` in `lmc_file` is verified and returns
        the whole answer.

        `lmc_file` is a str, bytes or path object, sent as os.fsencode gives
        it. `block_type` is a type word ("RUL", "RULP", "LP"), a number, or
        None to leave it out. `timeout` overrides the client's time-out for
        this call. Raises a BridgeError subclass, or ValueError/TypeError
        for values no request can carry.
        """
        request = make_request(self._ids(), lmc_file, block_name, block_type)
        limit = self._settings.limit(timeout)
        deadline = _deadline_of(limit)
        try:
            return self._locked(deadline, limit, request,
                                lambda: self._ask(request, deadline, limit))
        except BridgeError as error:
            raise _naming(error, request)

    def query_many(self, items: Iterable[Item], *,
                   timeout: Timeout = CLIENT_TIMEOUT) -> List[Outcome]:
        """Asks about many blocks at once: items are (lmc_file, block_name)
        or (lmc_file, block_name, block_type) tuples. Returns a list in the
        items' order holding, for each, its VerificationResult or the
        BridgeError of that item alone: a rejection, a vendor exception, a
        crash after its retry, a time-out.

        Requests are written ahead of the answers, a bounded number at a
        time. The time-out covers the wait for the call's turn, the start-up
        check and the start, and the first answer; then each further answer.
        The bridge is killed when one takes longer, that item gets
        BridgeTimeoutError, and the rest go to a new bridge. A crash
        restarts the bridge and sends the unanswered items again, each item
        once, as query() does. Errors that end the whole call (start-up
        failures, the client closed) are raised.
        """
        requests = _items_to_requests(items, self._ids)
        limit = self._settings.limit(timeout)
        return self._batch(requests, _deadline_of(limit), limit, None)

    def close(self) -> None:
        """Ends the bridge and the client; later requests raise
        BridgeClosedError.

        When no call is in flight, the bridge's input is closed and it must
        end with exit code 0; otherwise this raises (the bridge is gone all
        the same). When a call is in flight, close() does not wait for it:
        the bridge is killed, and that call raises BridgeClosedError.
        """
        if not self._call_lock.acquire(blocking=False):
            self.kill()
            return
        try:
            process = self._slot.close()
            self._detach()
            if process is not None:
                self._end_through_input(process)
        finally:
            self._call_lock.release()

    def kill(self) -> None:
        """Kills the bridge, if running, without waiting for anything; a
        call in flight raises BridgeClosedError. Later requests raise it
        too."""
        process = self._slot.close()
        self._detach()
        if process is not None:
            process.kill("the client was closed", logging.INFO)

    def terminate(self, grace: float = TERMINATE_GRACE) -> None:
        """As kill(), but asks the bridge to end first: SIGTERM, then
        SIGKILL when it has not ended after `grace` seconds. (On Windows
        both kill at once.)"""
        process = self._slot.close()
        self._detach()
        if process is not None:
            process.terminate("the client was closed", grace)

    # The interface of the pool: a bridge that shares the pool's settings,
    # start-up check and ids, and whose slot the pool's finalizer covers.

    @classmethod
    def _member(cls, settings: Settings, start_check: _StartCheck,
                slot: _Slot, ids: _Ids) -> "StatusBridge":
        bridge = cls.__new__(cls)
        bridge._setup(settings, start_check, slot, ids)
        return bridge

    def _batch(self, requests: Sequence[Request], deadline: Optional[float],
               limit: Optional[float],
               cancel: Optional[threading.Event]) -> List[Outcome]:
        """query_many() for encoded requests; stops, with the bridge killed,
        when `cancel` is set."""
        return self._locked(
            deadline, limit, None,
            lambda: self._ask_many(requests, deadline, limit, cancel))

    def _start_if_idle(self, deadline: Optional[float],
                       limit: Optional[float]) -> None:
        """Starts the bridge unless a call has it (and so it runs)."""
        if self._call_lock.acquire(blocking=False):
            try:
                self._running_process(deadline, limit)
            finally:
                self._call_lock.release()

    def _interrupt(self) -> None:
        """Kills the running bridge, if any, without closing the client: a
        call that waits for it raises BridgeClosedError."""
        process = self._slot.process
        if process is not None:
            self._kill(process, "the call that had it was interrupted")

    # The rest is this class's own.

    def _name(self) -> str:
        return repr(" ".join([*self._settings.command, SERVER_SWITCH]))

    def _detach(self) -> None:
        if self._finalizer is not None:
            self._finalizer.detach()

    def _after_fork(self) -> None:
        self._call_lock = threading.Lock()
        self._slot.after_fork()
        self._ids.after_fork()
        self._start_check.after_fork()

    def _locked(self, deadline: Optional[float], limit: Optional[float],
                request: Optional[Request], work: Callable[[], _T]) -> _T:
        """Runs `work` holding the call lock, taken within the time-out.
        When an exception leaves `work` while the bridge owes answers, the
        bridge is killed first, so no later call reads them."""
        if deadline is None:
            self._call_lock.acquire()
        elif not self._call_lock.acquire(timeout=_left(deadline) or 0.0):
            raise BridgeTimeoutError(
                f"status-bridge was busy with other calls for {limit} s",
                block_name=None if request is None else request.block_name,
                lmc_file=None if request is None else request.lmc_file)
        try:
            return work()
        except BaseException:
            process = self._slot.process
            if process is not None and process.owed > 0:
                self._kill(process, "an exception ended the call that it "
                           "owed answers")
            raise
        finally:
            self._call_lock.release()

    def _ask(self, request: Request, deadline: Optional[float],
             limit: Optional[float]) -> VerificationResult:
        """One request, with the restart after a crash. The caller holds
        the call lock."""
        retried = False
        while True:
            process = self._running_process(deadline, limit)
            answer = self._exchange(process, request, deadline, limit)
            if answer is not None:
                break
            returncode = self._ended(process, request)
            if retried:
                log.warning("status-bridge, pid %d, ended without answering "
                            "again (%s); giving up on this request",
                            process.pid, ending(returncode))
                raise BridgeCrashedError(
                    f"status-bridge ended without answering "
                    f"({ending(returncode)}); 2 attempts", None, returncode,
                    block_name=request.block_name, lmc_file=request.lmc_file)
            log.warning("status-bridge, pid %d, ended without answering (%s); "
                        "restarting it and asking again", process.pid,
                        ending(returncode))
            self.restarts += 1
            retried = True
        if not answer["ok"]:
            message = answer["error"]
            if is_start_message(message):
                returncode = process.wait_exit()
                self._forget(process)
                raise start_error(message, returncode)
            raise request_error(message, block_name=request.block_name,
                                lmc_file=request.lmc_file)
        try:
            return result_from(answer, request)
        except BridgeProtocolError:
            self._kill(process, "its answer did not fit the request")
            raise

    def _ended(self, process: ServerProcess, request: Request) -> int:
        """After the output of `process` ended during `request`: its exit
        status; raises when the client killed it or it did not start."""
        returncode = process.wait_exit()
        self._forget(process)
        if process.stopped is not None:
            raise BridgeClosedError(
                f"status-bridge was killed while this request waited for its "
                f"answer: {process.stopped}", None, returncode,
                block_name=request.block_name, lmc_file=request.lmc_file)
        if is_start_exit(returncode):
            raise start_error(None, returncode)
        return returncode

    def _ask_many(self, requests: Sequence[Request],
                  deadline: Optional[float], limit: Optional[float],
                  cancel: Optional[threading.Event]) -> List[Outcome]:
        """A batch, pipelined, with the restart rule of _ask() for each
        item. The caller holds the call lock."""
        outcomes: List[Optional[Outcome]] = [None] * len(requests)
        retried = set()
        index = 0
        while index < len(requests):
            if cancel is not None and cancel.is_set():
                raise BridgeClosedError("the batch was cancelled")
            process = self._running_process(deadline, limit)
            index, ended = self._pipeline(process, requests, outcomes, index,
                                          deadline, limit, cancel)
            # What follows (a restart, a new bridge) gets a time-out anew.
            deadline = _deadline_of(limit)
            if not ended:
                continue
            request = requests[index]
            returncode = self._ended(process, request)
            if index in retried:
                log.warning("status-bridge, pid %d, ended without answering "
                            "again (%s); giving up on this request",
                            process.pid, ending(returncode))
                outcomes[index] = BridgeCrashedError(
                    f"status-bridge ended without answering "
                    f"({ending(returncode)}); 2 attempts", None, returncode,
                    block_name=request.block_name, lmc_file=request.lmc_file)
                index += 1
            else:
                log.warning("status-bridge, pid %d, ended without answering "
                            "(%s); restarting it and asking again for the "
                            "%d unanswered requests", process.pid,
                            ending(returncode), len(requests) - index)
                retried.add(index)
                self.restarts += 1
        return [outcome for outcome in outcomes if outcome is not None]

    def _pipeline(self, process: ServerProcess, requests: Sequence[Request],
                  outcomes: List[Optional[Outcome]], index: int,
                  deadline: Optional[float], limit: Optional[float],
                  cancel: Optional[threading.Event]) -> Tuple[int, bool]:
        """Sends requests[index:] through `process`, keeping up to _WINDOW
        of them ahead of the answers, and stores each outcome. Returns the
        index of the first request without an outcome, and whether the
        bridge's output ended; it stops early, the bridge killed, after a
        time-out or an answer that does not fit. `deadline` is the first
        answer's."""
        sent = index
        while index < len(requests):
            if sent < len(requests) and sent - index <= _WINDOW // 2:
                end = min(len(requests), index + _WINDOW)
                process.send(b"".join(r.line for r in requests[sent:end]),
                             end - sent)
                sent = end
            request = requests[index]
            # Lines the reader has passed on already, then a wait.
            raw = process.ready_line()
            if raw is None:
                if cancel is not None and cancel.is_set():
                    self._kill(process, "its batch was cancelled")
                    raise BridgeClosedError("the batch was cancelled")
                try:
                    raw = self._next_answer(process, request, deadline, limit)
                except BridgeTimeoutError as error:
                    outcomes[index] = error
                    return index + 1, False
                if raw is None:
                    return index, True
            outcome = self._outcome(process, request, raw)
            outcomes[index] = outcome
            index += 1
            if isinstance(outcome, BridgeProtocolError):
                return index, False
            deadline = _deadline_of(limit)
        return index, False

    def _next_answer(self, process: ServerProcess, request: Request,
                     deadline: Optional[float],
                     limit: Optional[float]) -> Optional[bytes]:
        """The next answer line, None when the output ended; kills the
        bridge and raises BridgeTimeoutError when `deadline` passes
        first."""
        try:
            return process.next_line(deadline)
        except queue.Empty:
            self._kill(process, f"no answer within {limit} s")
            raise BridgeTimeoutError(
                f"status-bridge did not answer within {limit} s; killed",
                block_name=request.block_name,
                lmc_file=request.lmc_file) from None

    def _outcome(self, process: ServerProcess, request: Request,
                 raw: bytes) -> Outcome:
        """What one answer line of a batch means for its request."""
        try:
            answer = parse_answer(raw)
            if answer["ok"]:
                return result_from(answer, request)
        except BridgeProtocolError as error:
            self._kill(process, "its answer did not fit the request")
            error.block_name = request.block_name
            error.lmc_file = request.lmc_file
            return error
        message = answer["error"]
        if is_start_message(message):
            returncode = process.wait_exit()
            self._forget(process)
            raise start_error(message, returncode)
        return request_error(message, block_name=request.block_name,
                             lmc_file=request.lmc_file)

    def _end_through_input(self, process: ServerProcess) -> None:
        process.close_input()
        deadline = time.monotonic() + _CLOSE_TIMEOUT
        try:
            last_line = process.last_line(deadline)
            returncode = process.popen.wait(
                timeout=max(0.0, deadline - time.monotonic()))
        except BaseException as error:
            process.kill("it did not end after its input was closed")
            if isinstance(error, Exception):
                raise BridgeTimeoutError(
                    "status-bridge did not end after its input was closed; "
                    "killed") from None
            raise
        process.join(deadline)
        if returncode == EXIT_OK:
            return
        message = error_message_of(last_line)
        if is_start_exit(returncode):
            raise start_error(message, returncode)
        raise BridgeCrashedError(
            f"status-bridge ended with {ending(returncode)} after its input "
            "was closed", message, returncode)

    def _running_process(self, deadline: Optional[float],
                         limit: Optional[float]) -> ServerProcess:
        """The running bridge, started when there is none. The caller holds
        the call lock."""
        slot = self._slot
        with slot.lock:
            closed, process = slot.closed, slot.process
        if closed:
            raise BridgeClosedError("the status-bridge client is closed")
        if process is not None and process.owed > 0:
            # An interrupted call left it owing answers that no one wants.
            self._kill(process, "it owed answers to an interrupted call")
            process = None
        if process is not None and not process.running():
            # Ended while idle: a start-up failure is reported as such;
            # otherwise what it wrote belongs to no request.
            self._forget(process)
            try:
                last_line = process.last_line(time.monotonic() + 10.0)
            except queue.Empty:
                last_line = None
            if is_start_exit(process.popen.returncode):
                raise start_error(error_message_of(last_line),
                                  process.popen.returncode)
            process = None
        if process is None:
            self._start_check.run(self._settings, deadline, limit)
            process = ServerProcess([*self._settings.command, SERVER_SWITCH],
                                    self._settings.env)
            try:
                with slot.lock:
                    closed = slot.closed
                    if not closed:
                        slot.process = process
            finally:
                if slot.process is not process:
                    process.kill("the client was closed", logging.INFO)
            if closed:
                raise BridgeClosedError("the status-bridge client is closed")
        return process

    def _exchange(self, process: ServerProcess, request: Request,
                  deadline: Optional[float],
                  limit: Optional[float]) -> Optional[Any]:
        """Sends the request and returns its answer as a dict, or None when
        the bridge ended first."""
        # A bridge that no longer reads may still have written its last
        # line (a start-up error), so the answer is read all the same.
        process.send(request.line)
        raw = self._next_answer(process, request, deadline, limit)
        if raw is None:
            return None
        try:
            return parse_answer(raw)
        except BridgeProtocolError:
            self._kill(process, "its answer was unreadable")
            raise

    def _forget(self, process: ServerProcess) -> None:
        """Drops `process` as the client's bridge, if it still is."""
        with self._slot.lock:
            if self._slot.process is process:
                self._slot.process = None

    def _kill(self, process: ServerProcess, reason: str) -> None:
        # Killed before it is forgotten: an exception in between leaves a
        # dead bridge in the slot, which the next call replaces, rather
        # than a live one that nothing holds.
        process.kill(reason)
        self._forget(process)


def _naming(error: BridgeError, request: Request) -> BridgeError:
    """`error`, naming the request it ended unless it names one already."""
    if error.block_name is None and error.lmc_file is None:
        error.block_name = request.block_name
        error.lmc_file = request.lmc_file
    return error


def query_once(lmc_file: FileName, block_name: str,
               block_type: BlockType = None,
               **options: Any) -> VerificationResult:
    """Runs the bridge once in one-shot mode for one request and returns
    the whole answer.

    Arguments as for StatusBridge (the keyword arguments of Settings) and
    StatusBridge.query(). There is no restart: a crash raises
    BridgeCrashedError at once, and a time-out, or any exception while it
    waits, kills the run.
    """
    settings = Settings(**options)
    request = make_request(f"{os.urandom(4).hex()}-1", lmc_file, block_name,
                           block_type)
    try:
        return _ask_once(request, settings.command, settings.env,
                         settings.timeout)
    except BridgeError as error:
        raise _naming(error, request)


def _ask_once(request: Request, args: List[str], env: Dict[str, str],
              timeout: Optional[float]) -> VerificationResult:
    """One one-shot run for `request`; its errors name no request."""
    output, returncode = run_once(args, env, timeout, request.line)
    lines = output.split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    if not lines:
        if is_start_exit(returncode):
            raise start_error(None, returncode)
        raise BridgeCrashedError(
            f"status-bridge ended without answering ({ending(returncode)})",
            None, returncode)
    if len(lines) > 1:
        raise BridgeProtocolError(
            f"status-bridge wrote {len(lines)} lines for one request",
            None, returncode)
    answer = parse_answer(strip_line_end(lines[0]))
    if is_start_exit(returncode):
        raise start_error(answer.get("error"), returncode)
    if not answer["ok"]:
        raise request_error(answer["error"], returncode)
    if returncode != EXIT_OK:
        raise BridgeProtocolError(
            f"success answer with exit code {returncode}", None, returncode)
    return result_from(answer, request)


def is_verified_once(lmc_file: FileName, block_name: str,
                     block_type: BlockType = None, **options: Any) -> bool:
    """As query_once(), but only whether the block is verified (READY)."""
    return query_once(lmc_file, block_name, block_type, **options).verified
