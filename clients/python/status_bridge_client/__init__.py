"""Client for status-bridge: asks whether a reuse block is verified.

Standard library only. Three ways in:

* ``StatusBridge``: one long-lived bridge in server mode ("--server"), many
  requests, a per-request time-out and one restart when the bridge dies;
* ``StatusBridgePool``: several such bridges, each request sent to a free
  one, for callers that ask from several threads at once;
* ``is_verified_once`` and ``query_once``: one bridge run in one-shot mode
  for one request.

``is_verified`` returns a bool, True only for READY; ``query`` returns the
whole answer as a ``VerificationResult``. Failures raise a ``BridgeError``
subclass that keeps the bridge's own message and, where the run ended, its
exit code.

The bridge's standard error is always read by the client. Trace lines go to
the logger "status_bridge" at DEBUG level, other lines at INFO; restarts,
time-outs and killed bridges are logged at WARNING level.

Wire rules this module relies on:

* Requests are written by ``encode_request``, not by ``json.dumps``: the
  bridge reads each value by a text search that understands only the escapes
  ``\\" \\\\ \\/ \\b \\f \\n \\r \\t`` and treats a ``\\u`` escape as an empty
  value, so every other character is sent as raw UTF-8.
* Answers escape only LF, CR, the quote and the backslash; they are parsed
  with ``json.loads(..., strict=False)`` so that raw control bytes pass.
* A success answer echoes ``request_id``, ``block_name`` and ``lmc_file``;
  all three must come back exactly as sent. An error answer carries no
  request id: the order of answers ties it to the one request in flight.
"""

from __future__ import annotations

import dataclasses
import enum
import itertools
import json
import logging
import os
import queue
import subprocess
import threading
import time
import warnings
import weakref
from typing import (Any, Dict, Iterable, List, Mapping, Optional, Sequence,
                    Tuple, TypeVar, Union)

__version__ = "0.1.0"

__all__ = [
    "DEFAULT_PROGRAM",
    "DEFAULT_TIMEOUT",
    "BridgeClosedError",
    "BridgeCrashedError",
    "BridgeError",
    "BridgeProtocolError",
    "BridgeStartError",
    "BridgeTimeoutError",
    "ExportMissingError",
    "LibraryLoadError",
    "PrivateCallDisabledError",
    "RequestRejectedError",
    "StatusBridge",
    "StatusBridgePool",
    "VendorExceptionError",
    "VerificationResult",
    "encode_request",
    "is_verified_once",
    "query_once",
]

# The bridge program, looked up on PATH unless a path or command is given.
DEFAULT_PROGRAM = "status-bridge"
# Seconds one request may take, from writing it to reading its answer.
DEFAULT_TIMEOUT = 30.0
# Seconds close() waits for the bridge to end after its input is closed.
_CLOSE_TIMEOUT = 10.0
# Seconds to wait for the exit status of a bridge whose output has ended.
_EXIT_WAIT = 10.0

# The environment variables the client sets for the bridge.
_LIBRARY_PATH_VARIABLE = "LMCDLL70_PATH"
_ALLOW_PRIVATE_VARIABLE = "ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE"
_SERVER_SWITCH = "--server"
_PROBE_SWITCH = "--probe-only"
_SOURCE = "IsVerifiedReuseBlock"
_TRACE_PREFIX = "[status-bridge] "

# The bridge's exit codes.
_EXIT_OK = 0
_EXIT_LOAD_FAILED = 2
_EXIT_EXPORT_MISSING = 3
_EXIT_PRIVATE_CALL_DISABLED = 4

# The bridge's error messages, byte for byte.
_LOAD_FAILED_PREFIX = "无法加载 LMCDLL70.dll: "
_EXPORT_MISSING_MESSAGE = "LMCDLL70.dll 中没有 IsVerifiedReuseBlock 导出"
_PRIVATE_CALL_DISABLED_MESSAGE = "私有 MFC 状态调用未启用；仅完成导出探测"
_MISSING_REQUEST_MESSAGE = "缺少 JSON 请求"
_INVALID_REQUEST_MESSAGE = (
    "请求必须包含 op=is_verified、request_id、lmc_file 和 block_name")
_VENDOR_EXCEPTION_MESSAGE = "调用 Mentor 私有状态函数时发生异常"
_EMPTY_REQUEST_MESSAGE = "空请求"

_log = logging.getLogger("status_bridge")

# A path, or a command as a sequence such as ["wine", "status-bridge.exe"].
Program = Union[str, "os.PathLike[str]", Sequence[Union[str,
                                                       "os.PathLike[str]"]]]
BlockType = Union[str, int, None]


class _Default(enum.Enum):
    """The default of a per-call time-out: the client's own."""

    TIMEOUT = "timeout"

    def __repr__(self) -> str:
        return "<the client's timeout>"


_CLIENT_TIMEOUT = _Default.TIMEOUT
Timeout = Union[float, None, _Default]


class BridgeError(Exception):
    """Any failure of a request through the bridge.

    ``message`` is the bridge's own error text when it sent one, otherwise
    None; ``exit_code`` is the bridge's exit status when its run ended
    (negative: killed by that signal), otherwise None.
    """

    def __init__(self, description: str, message: Optional[str] = None,
                 exit_code: Optional[int] = None) -> None:
        super().__init__(description)
        self.message = message
        self.exit_code = exit_code


class BridgeStartError(BridgeError):
    """The bridge could not be started or ended before taking requests."""


class LibraryLoadError(BridgeStartError):
    """The vendor library could not be loaded (exit code 2)."""


class ExportMissingError(BridgeStartError):
    """The vendor library lacks the status export (exit code 3)."""


class PrivateCallDisabledError(BridgeStartError):
    """The private status call is not enabled (exit code 4)."""


class RequestRejectedError(BridgeError):
    """The bridge refused the request as incomplete (one-shot: 5 or 6)."""


class VendorExceptionError(BridgeError):
    """The vendor call threw; the bridge itself carries on."""


class BridgeCrashedError(BridgeError):
    """The bridge died without answering, also after its one restart."""


class BridgeTimeoutError(BridgeError, TimeoutError):
    """No answer within the time-out; the bridge was killed."""


class BridgeProtocolError(BridgeError):
    """An answer that does not fit the request; the bridge was killed."""


class BridgeClosedError(BridgeError):
    """The client was closed: before the request, or while it waited for
    its answer (the bridge was then killed)."""


@dataclasses.dataclass(frozen=True)
class VerificationResult:
    """One success answer: the echoed request and the block's status.

    It has no truth value: ``if result:`` raises TypeError, since any answer
    object would be true, PENDING ones included. Test ``result.verified``.
    """

    request_id: str
    block_name: str
    lmc_file: str
    verified: bool
    status: str  # "READY" or "PENDING"
    raw_status: int  # 1 or 0

    def __bool__(self) -> bool:
        raise TypeError("a VerificationResult has no truth value: test its "
                        "'verified' attribute, or call is_verified()")


# ----------------------------------------------------------------------------
# Request encoding

# Each character that must not appear raw in a value, with its short escape;
# the backslash comes first so that the escapes added later stay as they are.
# The per-character work is left to str.replace and the `in` test, which run
# in C: a loop in Python, or str.translate with a dict (which takes a slow
# path for text outside Latin-1), is many times slower on long values.
_REQUEST_ESCAPES = (
    ("\\", "\\\\"),
    ('"', '\\"'),
    ("\n", "\\n"),
    ("\r", "\\r"),
    ("\t", "\\t"),
    ("\b", "\\b"),
    ("\f", "\\f"),
)
# Characters that no request can carry faithfully:
# NUL: the vendor receives the value cut at the first NUL, while the answer
#   echoes all of it, so the result would be for another name than shown;
# SUB (0x1A): the Windows build reads its input in text mode, where this byte
#   ends the input in the middle of the request.
_REFUSED_CHARACTERS = {"\x00": "NUL", "\x1a": "SUB (0x1A)"}


def _escape_value(text: str) -> str:
    """Returns `text` escaped for the inside of a quoted request value."""
    for ch, escape in _REQUEST_ESCAPES:
        if ch in text:
            text = text.replace(ch, escape)
    return text


def _check_value(name: str, value: object) -> str:
    """Returns `value` as a str fit for a request, or raises ValueError.
    Unpaired surrogates are found when the line is encoded."""
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {type(value).__name__}")
    for ch, label in _REFUSED_CHARACTERS.items():
        if ch in value:
            raise ValueError(f"{name} contains {label}, which a request "
                             "cannot carry")
    return value


def _compose(members: Sequence[Tuple[str, str]]) -> Tuple[str, List[Tuple[
        int, int]]]:
    """Joins (key, escaped value) members into a line ending in LF; returns
    it with the span of each value."""
    parts = ["{"]
    spans = []
    at = 1
    for key, escaped in members:
        head = ("," if len(parts) > 1 else "") + f'"{key}":"'
        at += len(head)
        spans.append((at, at + len(escaped)))
        at += len(escaped) + 1
        parts += [head, escaped, '"']
    parts.append("}\n")
    return "".join(parts), spans


def _reads_back(line: str, spans: Sequence[Tuple[int, int]], key: str,
                escaped: str) -> bool:
    """True when the bridge's text search finds `key`'s value in `line` as
    the text `escaped` (the value as this module escapes it).

    The bridge takes the first occurrence of the quoted key, the first colon
    after it and the first quote after that; the value runs to the next
    unescaped quote, and an unreadable value reads as "". In a line made by
    _compose every quote inside a value is escaped and every backslash
    starts an escape of its own, so the value that starts inside a value's
    span ends where that span ends, and one that starts outside every span
    ends at the next quote. Comparing the escaped text is then the same as
    comparing the decoded value.
    """
    pattern = f'"{key}"'
    found = line.find(pattern)
    colon = -1 if found < 0 else line.find(":", found + len(pattern))
    quote = -1 if colon < 0 else line.find('"', colon + 1)
    if quote < 0:
        return escaped == ""
    start = quote + 1
    end = next((span_end for span_start, span_end in spans
                if span_start <= start <= span_end), None)
    if end is None:
        end = line.find('"', start)
        if end < 0:
            return escaped == ""
    return end - start == len(escaped) and line.startswith(escaped, start)


def encode_request(request_id: str, lmc_file: str, block_name: str,
                   block_type: Optional[str] = None) -> bytes:
    """Returns the request line (UTF-8 bytes, ending in LF) for one query.

    `block_type` None leaves the key out. The value fields are ordered so
    that the bridge's text search reads back every value exactly: a value
    that ends in a quote and a key name (say ``x"block_type``) would
    otherwise be taken for that key when it stands before it. Raises
    ValueError when a value cannot be sent faithfully. Time and memory grow
    linearly with the values' length.
    """
    fields = [("lmc_file", _check_value("lmc_file", lmc_file)),
              ("block_name", _check_value("block_name", block_name))]
    if block_type is not None:
        fields.append(("block_type", _check_value("block_type", block_type)))
    head = [("op", "is_verified"),
            ("request_id", _check_value("request_id", request_id))]
    escaped = {key: _escape_value(value) for key, value in head + fields}
    for order in itertools.permutations(fields):
        members = [(key, escaped[key]) for key, _ in head + list(order)]
        line, spans = _compose(members)
        if all(_reads_back(line, spans, key, text) for key, text in members):
            try:
                return line.encode("utf-8")
            except UnicodeEncodeError as error:
                bad = error.object[error.start:error.end]
                name = next(key for key, value in head + fields
                            if bad in value)
                raise ValueError(
                    f"{name} contains the unpaired surrogate "
                    f"U+{ord(bad[0]):04X}, which has no UTF-8 form") from None
    raise ValueError("the values cannot be arranged so that the bridge reads "
                     "each of them back exactly")


def _block_type_text(block_type: BlockType) -> Optional[str]:
    """Returns the block type as the string a request carries, or None."""
    if isinstance(block_type, bool):
        raise TypeError("block_type must be a str or an int, not bool")
    if isinstance(block_type, int):
        return str(block_type)
    return block_type


def _request_line(request_id: str, lmc_file: Union[str, "os.PathLike[str]"],
                  block_name: str,
                  block_type: BlockType) -> Tuple[str, bytes]:
    """The LMC file as a str and the encoded request line."""
    lmc_text = os.fspath(lmc_file)
    return lmc_text, encode_request(request_id, lmc_text, block_name,
                                    _block_type_text(block_type))


# ----------------------------------------------------------------------------
# Answers and exit codes

_START_ERRORS = {
    _EXIT_LOAD_FAILED: LibraryLoadError,
    _EXIT_EXPORT_MISSING: ExportMissingError,
    _EXIT_PRIVATE_CALL_DISABLED: PrivateCallDisabledError,
}


def _is_start_message(message: str) -> bool:
    """True for the messages with which a run ends before any request."""
    return (message.startswith(_LOAD_FAILED_PREFIX)
            or message in (_EXPORT_MISSING_MESSAGE,
                           _PRIVATE_CALL_DISABLED_MESSAGE))


def _start_error(message: Optional[str],
                 exit_code: Optional[int]) -> BridgeStartError:
    """The exception for a run that ended before taking requests."""
    error_class: type
    if exit_code in _START_ERRORS:
        error_class = _START_ERRORS[exit_code]
    elif message is not None and message.startswith(_LOAD_FAILED_PREFIX):
        error_class = LibraryLoadError
    elif message == _EXPORT_MISSING_MESSAGE:
        error_class = ExportMissingError
    elif message == _PRIVATE_CALL_DISABLED_MESSAGE:
        error_class = PrivateCallDisabledError
    else:
        error_class = BridgeStartError
    text = message if message is not None else "no message"
    return error_class(f"status-bridge did not start (exit code {exit_code}): "
                       f"{text}", message, exit_code)


def _request_error(message: str,
                   exit_code: Optional[int] = None) -> BridgeError:
    """The exception for an error answer to a request that was read."""
    error_class: type
    if message == _VENDOR_EXCEPTION_MESSAGE:
        error_class = VendorExceptionError
    elif message in (_INVALID_REQUEST_MESSAGE, _EMPTY_REQUEST_MESSAGE,
                     _MISSING_REQUEST_MESSAGE):
        error_class = RequestRejectedError
    else:
        error_class = BridgeError
    return error_class(f"status-bridge answered with an error: {message}",
                       message, exit_code)


def _ending(exit_code: Optional[int]) -> str:
    """How a run ended, in words."""
    if exit_code is not None and exit_code < 0:
        return f"killed by signal {-exit_code}"
    return f"exit code {exit_code}"


def _parse_answer(raw: bytes) -> Dict[str, Any]:
    """Decodes one answer line (without its line end) into a dict.

    Raises BridgeProtocolError when it is not a JSON object with a boolean
    "ok" member.
    """
    try:
        answer = json.loads(raw.decode("utf-8"), strict=False)
    except (UnicodeDecodeError, ValueError) as error:
        raise BridgeProtocolError(
            f"unreadable answer from status-bridge: {raw!r} "
            f"({error})") from None
    if not isinstance(answer, dict) or not isinstance(answer.get("ok"), bool):
        raise BridgeProtocolError(f"unexpected answer from status-bridge: "
                                  f"{raw!r}")
    if not answer["ok"] and not isinstance(answer.get("error"), str):
        raise BridgeProtocolError(f"error answer without a message: {raw!r}")
    return answer


def _error_message_of(raw: Optional[bytes]) -> Optional[str]:
    """The message of an error answer line, or None for anything else."""
    if raw is None:
        return None
    try:
        answer = _parse_answer(raw)
    except BridgeProtocolError:
        return None
    return None if answer["ok"] else answer["error"]


def _result_from(answer: Dict[str, Any], request_id: str, lmc_file: str,
                 block_name: str) -> VerificationResult:
    """Checks a success answer against its request; returns the result."""
    echoed = (answer.get("request_id"), answer.get("block_name"),
              answer.get("lmc_file"))
    if echoed != (request_id, block_name, lmc_file):
        raise BridgeProtocolError(
            f"answer does not match request {request_id!r}: echoed "
            f"request_id={echoed[0]!r} block_name={echoed[1]!r} "
            f"lmc_file={echoed[2]!r}")
    status = answer.get("status")
    raw_status = answer.get("raw_status")
    if ((status, raw_status) not in (("READY", 1), ("PENDING", 0))
            or isinstance(raw_status, bool)
            or answer.get("source") != _SOURCE):
        raise BridgeProtocolError(f"inconsistent success answer: {answer!r}")
    return VerificationResult(request_id=request_id, block_name=block_name,
                              lmc_file=lmc_file, verified=status == "READY",
                              status=answer["status"],
                              raw_status=answer["raw_status"])


def _strip_line_end(raw: bytes) -> bytes:
    """Drops the LF, and the CR that a Windows bridge writes before it.

    A CR inside a value always arrives escaped, so a raw one can only be part
    of the line end.
    """
    if raw.endswith(b"\n"):
        raw = raw[:-1]
    if raw.endswith(b"\r"):
        raw = raw[:-1]
    return raw


def _log_stderr_line(pid: int, raw: bytes) -> None:
    """Logs one line of a bridge's standard error: trace lines at DEBUG,
    anything else (a runtime's or Wine's own message) at INFO."""
    text = _strip_line_end(raw).decode("utf-8", "replace")
    level = logging.DEBUG if text.startswith(_TRACE_PREFIX) else logging.INFO
    _log.log(level, "bridge %d: %s", pid, text)


def _command(program: Program, *arguments: str) -> List[str]:
    """The argument list for `program`: a path, or a command as a sequence
    (for instance ["wine", "status-bridge.exe"])."""
    if isinstance(program, (str, bytes, os.PathLike)):
        return [os.fsdecode(program), *arguments]
    return [*map(os.fsdecode, program), *arguments]


def _environment(env: Optional[Mapping[str, str]],
                 library_path: Union[str, "os.PathLike[str]", None],
                 allow_private: bool) -> Dict[str, str]:
    """The bridge's environment: `env` (default: ours), with LMCDLL70_PATH
    set to `library_path` when one is given and the private call enabled
    when `allow_private` is true."""
    result = dict(os.environ if env is None else env)
    if library_path is not None:
        result[_LIBRARY_PATH_VARIABLE] = os.fspath(library_path)
    if allow_private:
        result[_ALLOW_PRIVATE_VARIABLE] = "1"
    return result


def _run_once(command: List[str], env: Dict[str, str],
              timeout: Optional[float], request: bytes = b"") -> Tuple[
                  bytes, int]:
    """Runs the bridge once with `request` as its input; returns its output
    and exit status. Its standard error goes to the log."""
    try:
        process = subprocess.Popen(
            command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, env=env)
    except OSError as error:
        raise BridgeStartError(
            f"cannot run status-bridge {command!r}: {error}") from error
    with process:
        try:
            output, errors = process.communicate(request, timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            _log.warning("status-bridge, pid %d, did not answer within %s s; "
                         "killed", process.pid, timeout)
            raise BridgeTimeoutError(
                f"status-bridge did not answer within {timeout} s; "
                "killed") from None
    for raw in errors.splitlines():
        _log_stderr_line(process.pid, raw)
    return output, process.returncode


def _probe(command: List[str], env: Dict[str, str],
           timeout: Optional[float]) -> None:
    """Runs the bridge's probe mode; raises the start-up error it reports."""
    output, exit_code = _run_once(command, env, timeout)
    lines = output.splitlines()
    last = _strip_line_end(lines[-1]) if lines else None
    if exit_code != _EXIT_OK:
        raise _start_error(_error_message_of(last), exit_code)
    try:
        probed = last is not None and _parse_answer(last).get("probe") is True
    except BridgeProtocolError:
        probed = False
    if not probed:
        raise BridgeStartError(f"unexpected probe answer from status-bridge: "
                               f"{last!r}", None, exit_code)


def _check_start(command: List[str], env: Dict[str, str],
                 timeout: Optional[float]) -> None:
    """The check before a client's first bridge: the probe, then the opt-in
    that the bridge itself would look at only when taking requests."""
    _probe(command, env, timeout)
    if env.get(_ALLOW_PRIVATE_VARIABLE) != "1":
        raise PrivateCallDisabledError(
            f"{_ALLOW_PRIVATE_VARIABLE} is not 1 in the bridge's environment, "
            "so the private status call is disabled; pass allow_private=True "
            "or set it")


# ----------------------------------------------------------------------------
# One bridge process in server mode


class _ServerProcess:
    """A running bridge in server mode and the three threads that serve its
    pipes: one writes requests, one queues answer lines (None for the end of
    the output) so that a caller can wait for them with a time-out, one
    logs standard error. Each thread closes its own pipe when done.
    """

    def __init__(self, command: List[str], env: Dict[str, str]) -> None:
        try:
            self.popen = subprocess.Popen(
                command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                stderr=subprocess.PIPE, env=env)
        except OSError as error:
            raise BridgeStartError(
                f"cannot run status-bridge {command!r}: {error}") from error
        self.pid = self.popen.pid
        # Why the client killed the bridge, or None.
        self.stopped: Optional[str] = None
        self._requests: "queue.Queue[Optional[bytes]]" = queue.Queue()
        self._lines: "queue.Queue[Optional[bytes]]" = queue.Queue()
        self._threads = [
            threading.Thread(target=target, name=f"status-bridge-{name}",
                             daemon=True)
            for target, name in ((self._write_requests, "writer"),
                                 (self._read_answers, "reader"),
                                 (self._read_stderr, "stderr"))]
        for thread in self._threads:
            thread.start()
        _log.debug("started status-bridge, pid %d", self.pid)

    def _write_requests(self) -> None:
        stdin = self.popen.stdin
        assert stdin is not None
        try:
            for line in iter(self._requests.get, None):
                stdin.write(line)
                stdin.flush()
        except (OSError, ValueError):
            pass  # The bridge no longer reads; its output tells the rest.
        finally:
            try:
                stdin.close()
            except OSError:
                pass

    def _read_answers(self) -> None:
        stdout = self.popen.stdout
        assert stdout is not None
        try:
            for raw in iter(stdout.readline, b""):
                self._lines.put(raw)
        finally:
            self._lines.put(None)
            stdout.close()

    def _read_stderr(self) -> None:
        stderr = self.popen.stderr
        assert stderr is not None
        with stderr:
            for raw in iter(stderr.readline, b""):
                _log_stderr_line(self.pid, raw)

    def send(self, line: bytes) -> None:
        """Hands one request line to the writer; never blocks."""
        self._requests.put(line)

    def next_line(self, deadline: Optional[float]) -> Optional[bytes]:
        """The next answer line without its line end, None at the end of
        output; raises queue.Empty when `deadline` (monotonic) passes first.
        `deadline` None waits without limit."""
        if deadline is None:
            raw = self._lines.get()
        else:
            raw = self._lines.get(
                timeout=max(0.0, deadline - time.monotonic()))
        return None if raw is None else _strip_line_end(raw)

    def last_line(self, deadline: Optional[float]) -> Optional[bytes]:
        """Reads to the end of the output; returns its last line or None.
        Raises queue.Empty when `deadline` passes first."""
        last = None
        raw = self.next_line(deadline)
        while raw is not None:
            last = raw
            raw = self.next_line(deadline)
        return last

    def running(self) -> bool:
        return self.popen.poll() is None

    def wait_exit(self) -> int:
        """Waits for the ended process and returns its exit status."""
        try:
            return self.popen.wait(timeout=_EXIT_WAIT)
        except subprocess.TimeoutExpired:
            self.kill("it did not end after its output did")
            return self.popen.wait()

    def close_input(self) -> None:
        """Closes the bridge's input after the requests handed over, which
        ends its loop."""
        self._requests.put(None)

    def join(self, deadline: float) -> None:
        """Waits until the threads have passed on all the bridge wrote."""
        for thread in self._threads:
            thread.join(max(0.0, deadline - time.monotonic()))

    def kill(self, reason: str, level: int = logging.WARNING) -> None:
        """Kills the process without waiting for its threads; a call that
        waits for an answer sees the end of the output and `stopped`."""
        if self.stopped is None:
            self.stopped = reason
        if self.popen.poll() is None:
            _log.log(level, "killing status-bridge, pid %d: %s", self.pid,
                     reason)
            self.popen.kill()
        self._requests.put(None)
        try:
            self.popen.wait(timeout=_EXIT_WAIT)
        except subprocess.TimeoutExpired:
            pass  # Reaped by subprocess later; nothing to wait for here.


class _Slot:
    """What a client's finalizer needs: the current bridge and whether the
    client was closed. Kept apart from the client so that the finalizer
    holds no reference to it."""

    def __init__(self) -> None:
        self.lock = threading.Lock()
        self.process: Optional[_ServerProcess] = None
        self.closed = False

    def close(self) -> Optional[_ServerProcess]:
        """Marks the client closed; returns the bridge it had, if any."""
        with self.lock:
            self.closed = True
            process, self.process = self.process, None
        return process


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


class _Client:
    """What StatusBridge and StatusBridgePool share on top of their own
    start(), close(), terminate() and query(): the ``with`` block and
    is_verified()."""

    def start(self) -> None:
        raise NotImplementedError

    def close(self) -> None:
        raise NotImplementedError

    def terminate(self) -> None:
        raise NotImplementedError

    def query(self, lmc_file: Union[str, "os.PathLike[str]"],
              block_name: str, block_type: BlockType = None, *,
              timeout: Timeout = _CLIENT_TIMEOUT) -> VerificationResult:
        raise NotImplementedError

    def __enter__(self: _ClientType) -> _ClientType:
        self.start()
        return self

    def __exit__(self, exc_type: Any, exc: Any, traceback: Any) -> None:
        if exc_type is None:
            self.close()
        else:
            # Keep the exception that is already on its way.
            self.terminate()

    def is_verified(self, lmc_file: Union[str, "os.PathLike[str]"],
                    block_name: str, block_type: BlockType = None, *,
                    timeout: Timeout = _CLIENT_TIMEOUT) -> bool:
        """True when `block_name` in `lmc_file` is verified (READY), False
        when it is not (PENDING). Arguments and errors as for query()."""
        return self.query(lmc_file, block_name, block_type,
                          timeout=timeout).verified


_ClientType = TypeVar("_ClientType", bound=_Client)


class StatusBridge(_Client):
    """A status-bridge in server mode, answering one request at a time.

    The bridge is started by start() (also on entering a ``with`` block) or
    by the first request, and stopped by close() or terminate(). Before the
    first bridge starts, the client probes (``check_on_start``, on by
    default): it runs the probe mode and checks that the private call is
    enabled, so a missing library, a missing export or a missing opt-in
    raise at once rather than at the first request.

    Time-out: each request gets `timeout` seconds (None: no limit) from
    writing it to reading its answer, a retry after a crash included. When
    they pass, the bridge is killed, since its next answer would still be the
    late one, and BridgeTimeoutError is raised; the next request starts a new
    bridge. Calls from several threads take turns, and a call's time-out
    starts when its turn comes.

    Death: when the bridge ends without answering (a crash inside the vendor
    library), it is restarted once and the same request is sent again, since
    asking for a status changes nothing. When the new bridge dies as well,
    BridgeCrashedError is raised. The budget is per request: the next
    request starts a new bridge again, so one block that crashes the vendor
    does not stop the others.

    Start-up failures (exit codes 2, 3, 4) of a bridge raise
    LibraryLoadError, ExportMissingError and PrivateCallDisabledError; they
    are not retried.

    The bridge's environment is `env` (default: this process's), with
    LMCDLL70_PATH set to `library_path` when given, and
    ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE set to 1 when `allow_private` is true
    (otherwise the environment's own value counts).

    A client dropped without close() has its bridge killed, with a
    ResourceWarning.
    """

    def __init__(self, program: Program = DEFAULT_PROGRAM, *,
                 library_path: Union[str, "os.PathLike[str]", None] = None,
                 env: Optional[Mapping[str, str]] = None,
                 timeout: Optional[float] = DEFAULT_TIMEOUT,
                 allow_private: bool = False,
                 check_on_start: bool = True) -> None:
        self._command = _command(program, _SERVER_SWITCH)
        self._probe_command = _command(program, _PROBE_SWITCH)
        self._env = _environment(env, library_path, allow_private)
        self._timeout = timeout
        self._check_pending = check_on_start
        # Held by the call that has the bridge; close() never waits for it.
        self._call_lock = threading.Lock()
        self._slot = _Slot()
        self._ids = itertools.count(1)
        self._id_prefix = os.urandom(4).hex()
        self.restarts = 0  # Bridges started again after one died.
        self._finalizer = weakref.finalize(
            self, _end_dropped, [self._slot],
            f"StatusBridge({' '.join(self._command)!r})")

    def __repr__(self) -> str:
        process = self._slot.process
        if self._slot.closed:
            state = "closed"
        elif process is None:
            state = "not running"
        else:
            state = f"pid={process.pid}"
        return (f"<StatusBridge {' '.join(self._command)!r} {state} "
                f"restarts={self.restarts}>")

    @property
    def pid(self) -> Optional[int]:
        """The running bridge's process id, or None."""
        process = self._slot.process
        return None if process is None else process.pid

    def probe(self, *, timeout: Timeout = _CLIENT_TIMEOUT) -> None:
        """Runs the bridge in probe mode ("--probe-only") with the client's
        environment. Returns when the library loads and has the status
        export; raises LibraryLoadError, ExportMissingError, or
        BridgeStartError when the program cannot be run. The private call's
        opt-in is not part of the probe."""
        _probe(self._probe_command, self._env, self._resolve(timeout))

    def start(self) -> None:
        """Starts the bridge unless one is running (probing first, the
        first time, when ``check_on_start`` is on)."""
        with self._call_lock:
            self._running_process()

    def query(self, lmc_file: Union[str, "os.PathLike[str]"],
              block_name: str, block_type: BlockType = None, *,
              timeout: Timeout = _CLIENT_TIMEOUT) -> VerificationResult:
        """Asks whether `block_name` in `lmc_file` is verified and returns
        the whole answer.

        `block_type` is a type word ("RUL", "RULP", "LP"), a number, or None
        to leave it out. `timeout` overrides the client's time-out for this
        request. Raises a BridgeError subclass, or ValueError/TypeError for
        values no request can carry.
        """
        request_id = f"{self._id_prefix}-{next(self._ids)}"
        lmc_text, line = _request_line(request_id, lmc_file, block_name,
                                       block_type)
        limit = self._resolve(timeout)
        with self._call_lock:
            # The time-out starts once this request has the bridge to itself
            # and covers its retry after a crash.
            deadline = None if limit is None else time.monotonic() + limit
            retried = False
            while True:
                process = self._running_process()
                answer = self._exchange(process, line, deadline, limit)
                if answer is not None:
                    break
                exit_code = process.wait_exit()
                self._forget(process)
                if exit_code in _START_ERRORS:
                    raise _start_error(None, exit_code)
                if retried:
                    _log.warning("status-bridge, pid %d, ended without "
                                 "answering again (%s); giving up on this "
                                 "request", process.pid, _ending(exit_code))
                    raise BridgeCrashedError(
                        f"status-bridge ended without answering "
                        f"({_ending(exit_code)}); 2 attempts", None,
                        exit_code)
                _log.warning("status-bridge, pid %d, ended without answering "
                             "(%s); restarting it and asking again",
                             process.pid, _ending(exit_code))
                self.restarts += 1
                retried = True
            if not answer["ok"]:
                message = answer["error"]
                if _is_start_message(message):
                    exit_code = process.wait_exit()
                    self._forget(process)
                    raise _start_error(message, exit_code)
                raise _request_error(message)
            try:
                return _result_from(answer, request_id, lmc_text, block_name)
            except BridgeProtocolError:
                self._kill(process, "its answer did not fit the request")
                raise

    def close(self) -> None:
        """Ends the bridge and the client; later requests raise
        BridgeClosedError.

        When no call is in flight, the bridge's input is closed and it must
        end with exit code 0; otherwise this raises (the bridge is gone all
        the same). When a call is in flight, close() does not wait for it:
        the bridge is killed, and that call raises BridgeClosedError.
        """
        if not self._call_lock.acquire(blocking=False):
            self.terminate()
            return
        try:
            process = self._slot.close()
            self._finalizer.detach()
            if process is not None:
                self._end_through_input(process)
        finally:
            self._call_lock.release()

    def terminate(self) -> None:
        """Kills the bridge, if running, without waiting for anything; a
        call in flight raises BridgeClosedError. Later requests raise it
        too."""
        process = self._slot.close()
        self._finalizer.detach()
        if process is not None:
            process.kill("the client was closed", logging.INFO)

    @staticmethod
    def _end_through_input(process: _ServerProcess) -> None:
        process.close_input()
        deadline = time.monotonic() + _CLOSE_TIMEOUT
        try:
            last_line = process.last_line(deadline)
            exit_code = process.popen.wait(
                timeout=max(0.0, deadline - time.monotonic()))
        except (queue.Empty, subprocess.TimeoutExpired):
            process.kill("it did not end after its input was closed")
            raise BridgeTimeoutError(
                "status-bridge did not end after its input was closed; "
                "killed") from None
        process.join(deadline)
        if exit_code == _EXIT_OK:
            return
        message = _error_message_of(last_line)
        if exit_code in _START_ERRORS:
            raise _start_error(message, exit_code)
        raise BridgeCrashedError(
            f"status-bridge ended with {_ending(exit_code)} after its input "
            "was closed", message, exit_code)

    def _start_unless_busy(self) -> None:
        """Starts the bridge unless a call has it (and so it runs)."""
        if self._call_lock.acquire(blocking=False):
            try:
                self._running_process()
            finally:
                self._call_lock.release()

    def _resolve(self, timeout: Timeout) -> Optional[float]:
        return self._timeout if timeout is _CLIENT_TIMEOUT else timeout

    def _running_process(self) -> _ServerProcess:
        """The running bridge, started when there is none. The caller holds
        the call lock."""
        slot = self._slot
        with slot.lock:
            closed, process = slot.closed, slot.process
        if closed:
            raise BridgeClosedError("the status-bridge client is closed")
        if process is not None and not process.running():
            # Ended while idle: a start-up failure is reported as such;
            # otherwise what it wrote belongs to no request.
            self._forget(process)
            try:
                last_line = process.last_line(time.monotonic() + _EXIT_WAIT)
            except queue.Empty:
                last_line = None
            if process.popen.returncode in _START_ERRORS:
                raise _start_error(_error_message_of(last_line),
                                   process.popen.returncode)
            process = None
        if process is None:
            if self._check_pending:
                _check_start(self._probe_command, self._env, self._timeout)
                self._check_pending = False
            process = _ServerProcess(self._command, self._env)
            with slot.lock:
                closed = slot.closed
                if not closed:
                    slot.process = process
            if closed:
                process.kill("the client was closed", logging.INFO)
                raise BridgeClosedError("the status-bridge client is closed")
        return process

    def _exchange(self, process: _ServerProcess, line: bytes,
                  deadline: Optional[float],
                  timeout: Optional[float]) -> Optional[Dict[str, Any]]:
        """Sends `line` and returns its answer as a dict, or None when the
        bridge ended first."""
        # A bridge that no longer reads may still have written its last
        # line (a start-up error), so the answer is read all the same.
        process.send(line)
        try:
            raw = process.next_line(deadline)
        except queue.Empty:
            self._kill(process, f"no answer within {timeout} s")
            raise BridgeTimeoutError(
                f"status-bridge did not answer within {timeout} s; "
                "killed") from None
        if raw is None and process.stopped is not None:
            raise BridgeClosedError(
                f"status-bridge was killed while this request waited for its "
                f"answer: {process.stopped}")
        if raw is None:
            return None
        try:
            return _parse_answer(raw)
        except BridgeProtocolError:
            self._kill(process, "its answer was unreadable")
            raise

    def _forget(self, process: _ServerProcess) -> None:
        """Drops `process` as the client's bridge, if it still is."""
        with self._slot.lock:
            if self._slot.process is process:
                self._slot.process = None

    def _kill(self, process: _ServerProcess, reason: str) -> None:
        self._forget(process)
        process.kill(reason)


# ----------------------------------------------------------------------------
# Several bridges


class StatusBridgePool(_Client):
    """`size` bridges in server mode; each request goes to a free one.

    One bridge answers one request at a time, so callers in several threads
    take turns on it; a pool answers up to `size` requests at once. Each
    bridge keeps the rules of StatusBridge: the time-out (which starts when
    a request gets a bridge), one restart after a crash, the same errors.
    The start-up check runs once for the pool. All methods are thread-safe.

    Arguments as for StatusBridge, plus `size`, the number of bridges.
    """

    def __init__(self, program: Program = DEFAULT_PROGRAM, *, size: int,
                 library_path: Union[str, "os.PathLike[str]", None] = None,
                 env: Optional[Mapping[str, str]] = None,
                 timeout: Optional[float] = DEFAULT_TIMEOUT,
                 allow_private: bool = False,
                 check_on_start: bool = True) -> None:
        if size < 1:
            raise ValueError(f"size must be at least 1, not {size}")
        self._bridges = [
            StatusBridge(program, library_path=library_path, env=env,
                         timeout=timeout, allow_private=allow_private,
                         check_on_start=False) for _ in range(size)]
        for bridge in self._bridges:
            bridge._finalizer.detach()  # The pool's finalizer covers them.
        self._idle = list(self._bridges)
        self._free = threading.Condition()
        self._closed = False
        self._check_lock = threading.Lock()
        self._check_pending = check_on_start
        self._finalizer = weakref.finalize(
            self, _end_dropped, [bridge._slot for bridge in self._bridges],
            f"StatusBridgePool(size={size})")

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

    def probe(self, *, timeout: Timeout = _CLIENT_TIMEOUT) -> None:
        """As StatusBridge.probe()."""
        self._bridges[0].probe(timeout=timeout)

    def start(self) -> None:
        """Starts every bridge that is not running (probing first, the
        first time, when ``check_on_start`` is on)."""
        self._check()
        for bridge in self._bridges:
            bridge._start_unless_busy()

    def query(self, lmc_file: Union[str, "os.PathLike[str]"],
              block_name: str, block_type: BlockType = None, *,
              timeout: Timeout = _CLIENT_TIMEOUT) -> VerificationResult:
        """As StatusBridge.query(), on a free bridge; waits for one when all
        are busy."""
        self._check()
        bridge = self._take()
        try:
            return bridge.query(lmc_file, block_name, block_type,
                                timeout=timeout)
        finally:
            self._give_back(bridge)

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

    def _mark_closed(self) -> None:
        with self._free:
            self._closed = True
            self._free.notify_all()
        self._finalizer.detach()

    def _check(self) -> None:
        with self._check_lock:
            if self._check_pending:
                first = self._bridges[0]
                _check_start(first._probe_command, first._env, first._timeout)
                self._check_pending = False

    def _take(self) -> StatusBridge:
        with self._free:
            while not self._idle and not self._closed:
                self._free.wait()
            if self._closed:
                raise BridgeClosedError("the status-bridge pool is closed")
            return self._idle.pop()

    def _give_back(self, bridge: StatusBridge) -> None:
        with self._free:
            self._idle.append(bridge)
            self._free.notify()


# ----------------------------------------------------------------------------
# One-shot use


def query_once(lmc_file: Union[str, "os.PathLike[str]"], block_name: str,
               block_type: BlockType = None, *,
               program: Program = DEFAULT_PROGRAM,
               library_path: Union[str, "os.PathLike[str]", None] = None,
               env: Optional[Mapping[str, str]] = None,
               timeout: Optional[float] = DEFAULT_TIMEOUT,
               allow_private: bool = False) -> VerificationResult:
    """Runs the bridge once in one-shot mode for one request and returns
    the whole answer.

    Arguments as for StatusBridge and StatusBridge.query(). There is no
    restart: a crash raises BridgeCrashedError at once, and a time-out kills
    the run and raises BridgeTimeoutError.
    """
    request_id = f"{os.urandom(4).hex()}-1"
    lmc_text, line = _request_line(request_id, lmc_file, block_name,
                                   block_type)
    output, exit_code = _run_once(
        _command(program), _environment(env, library_path, allow_private),
        timeout, line)
    lines = output.split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    if not lines:
        if exit_code in _START_ERRORS:
            raise _start_error(None, exit_code)
        raise BridgeCrashedError(
            f"status-bridge ended without answering ({_ending(exit_code)})",
            None, exit_code)
    if len(lines) > 1:
        raise BridgeProtocolError(
            f"status-bridge wrote {len(lines)} lines for one request",
            None, exit_code)
    answer = _parse_answer(_strip_line_end(lines[0]))
    if exit_code in _START_ERRORS:
        raise _start_error(answer.get("error"), exit_code)
    if not answer["ok"]:
        raise _request_error(answer["error"], exit_code)
    if exit_code != _EXIT_OK:
        raise BridgeProtocolError(
            f"success answer with exit code {exit_code}", None, exit_code)
    return _result_from(answer, request_id, lmc_text, block_name)


def is_verified_once(lmc_file: Union[str, "os.PathLike[str]"],
                     block_name: str, block_type: BlockType = None, *,
                     program: Program = DEFAULT_PROGRAM,
                     library_path: Union[str, "os.PathLike[str]", None] = None,
                     env: Optional[Mapping[str, str]] = None,
                     timeout: Optional[float] = DEFAULT_TIMEOUT,
                     allow_private: bool = False) -> bool:
    """As query_once(), but only whether the block is verified (READY)."""
    return query_once(lmc_file, block_name, block_type, program=program,
                      library_path=library_path, env=env, timeout=timeout,
                      allow_private=allow_private).verified
