"""Client helper for status-bridge: asks whether a reuse block is verified.

Standard library only. Two ways in:

* ``StatusBridge``: one long-lived bridge in server mode ("--server"), many
  requests, a per-request time-out and one restart when the bridge dies;
* ``is_verified_once``: one bridge run in one-shot mode for one request.

Both return a ``VerificationResult`` or raise a ``BridgeError`` subclass that
keeps the bridge's own message and, where the run ended, its exit code.

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

import dataclasses
import itertools
import json
import os
import queue
import subprocess
import threading
import time

__version__ = "0.1.0"

__all__ = [
    "DEFAULT_PROGRAM",
    "DEFAULT_TIMEOUT",
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
    "VendorExceptionError",
    "VerificationResult",
    "encode_request",
    "is_verified_once",
]

# The bridge program, looked up on PATH unless a path or command is given.
DEFAULT_PROGRAM = "status-bridge"
# Seconds one request may take, from writing it to reading its answer.
DEFAULT_TIMEOUT = 30.0
# Seconds close() waits for the bridge to end after its input is closed.
_CLOSE_TIMEOUT = 10.0
# Seconds to wait for the exit status of a bridge whose output has ended.
_EXIT_WAIT = 10.0

# The environment variable through which the bridge finds the vendor library.
_LIBRARY_PATH_VARIABLE = "LMCDLL70_PATH"
_SERVER_SWITCH = "--server"
_SOURCE = "IsVerifiedReuseBlock"

# The bridge's exit codes.
_EXIT_OK = 0
_EXIT_LOAD_FAILED = 2
_EXIT_EXPORT_MISSING = 3
_EXIT_PRIVATE_CALL_DISABLED = 4
_EXIT_NO_REQUEST = 5
_EXIT_INVALID_REQUEST = 6

# The bridge's error messages, byte for byte.
_LOAD_FAILED_PREFIX = "无法加载 LMCDLL70.dll: "
_EXPORT_MISSING_MESSAGE = "LMCDLL70.dll 中没有 IsVerifiedReuseBlock 导出"
_PRIVATE_CALL_DISABLED_MESSAGE = "私有 MFC 状态调用未启用；仅完成导出探测"
_MISSING_REQUEST_MESSAGE = "缺少 JSON 请求"
_INVALID_REQUEST_MESSAGE = (
    "请求必须包含 op=is_verified、request_id、lmc_file 和 block_name")
_VENDOR_EXCEPTION_MESSAGE = "调用 Mentor 私有状态函数时发生异常"
_EMPTY_REQUEST_MESSAGE = "空请求"


class BridgeError(Exception):
    """Any failure of a request through the bridge.

    ``message`` is the bridge's own error text when it sent one, otherwise
    None; ``exit_code`` is the bridge's exit status when its run ended
    (negative: killed by that signal), otherwise None.
    """

    def __init__(self, description, message=None, exit_code=None):
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


class BridgeTimeoutError(BridgeError):
    """No answer within the time-out; the bridge was killed."""


class BridgeProtocolError(BridgeError):
    """An answer that does not fit the request; the bridge was killed."""


@dataclasses.dataclass(frozen=True)
class VerificationResult:
    """One success answer: the echoed request and the block's status."""

    request_id: str
    block_name: str
    lmc_file: str
    verified: bool
    status: str  # "READY" or "PENDING"
    raw_status: int  # 1 or 0


# ----------------------------------------------------------------------------
# Request encoding

# The short escape for each character that must not appear raw in a value.
_REQUEST_ESCAPES = {
    '"': '\\"',
    "\\": "\\\\",
    "\n": "\\n",
    "\r": "\\r",
    "\t": "\\t",
    "\b": "\\b",
    "\f": "\\f",
}
# What the bridge's reader makes of each escape letter.
_ESCAPE_MEANINGS = {
    '"': '"',
    "\\": "\\",
    "/": "/",
    "b": "\b",
    "f": "\f",
    "n": "\n",
    "r": "\r",
    "t": "\t",
}
# Characters that no request can carry faithfully:
# NUL: the vendor receives the value cut at the first NUL, while the answer
#   echoes all of it, so the result would be for another name than shown;
# SUB (0x1A): the Windows build reads its input in text mode, where this byte
#   ends the input in the middle of the request.
_REFUSED_CHARACTERS = {"\x00": "NUL", "\x1a": "SUB (0x1A)"}


def _escape_value(text):
    """Returns `text` escaped for the inside of a quoted request value."""
    return "".join(_REQUEST_ESCAPES.get(ch, ch) for ch in text)


def _read_field(line, key):
    """Returns the value of `key` as the bridge's text search reads `line`.

    The first occurrence of the quoted key counts, then the first colon after
    it and the first quote after that; the value runs to the next unescaped
    quote. Anything the bridge cannot read gives "" as it does.
    """
    pattern = '"' + key + '"'
    key_at = line.find(pattern)
    if key_at < 0:
        return ""
    colon_at = line.find(":", key_at + len(pattern))
    if colon_at < 0:
        return ""
    pos = line.find('"', colon_at + 1)
    if pos < 0:
        return ""
    pos += 1
    value = []
    while pos < len(line):
        ch = line[pos]
        if ch == '"':
            return "".join(value)
        if ch == "\\":
            if pos + 1 == len(line) or line[pos + 1] not in _ESCAPE_MEANINGS:
                return ""
            value.append(_ESCAPE_MEANINGS[line[pos + 1]])
            pos += 2
        else:
            value.append(ch)
            pos += 1
    return ""


def _check_value(name, value):
    """Returns `value` as a str fit for a request, or raises ValueError."""
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {type(value).__name__}")
    for ch, label in _REFUSED_CHARACTERS.items():
        if ch in value:
            raise ValueError(f"{name} contains {label}, which a request "
                             "cannot carry")
    try:
        value.encode("utf-8")
    except UnicodeEncodeError as error:
        raise ValueError(
            f"{name} is not encodable as UTF-8: {error}") from None
    return value


def encode_request(request_id, lmc_file, block_name, block_type=None):
    """Returns the request line (UTF-8 bytes, ending in LF) for one query.

    `block_type` None leaves the key out. The value fields are ordered so
    that the bridge's text search reads back every value exactly: a value
    that ends in a quote and a key name (say ``x"block_type``) would
    otherwise be taken for that key when it stands before it. Raises
    ValueError when a value cannot be sent faithfully.
    """
    fields = [("lmc_file", _check_value("lmc_file", lmc_file)),
              ("block_name", _check_value("block_name", block_name))]
    if block_type is not None:
        fields.append(("block_type", _check_value("block_type", block_type)))
    head = [("op", "is_verified"),
            ("request_id", _check_value("request_id", request_id))]
    for order in itertools.permutations(fields):
        members = head + list(order)
        line = "{" + ",".join(f'"{key}":"{_escape_value(value)}"'
                              for key, value in members) + "}"
        if all(_read_field(line, key) == value for key, value in members):
            return (line + "\n").encode("utf-8")
    raise ValueError("the values cannot be arranged so that the bridge reads "
                     "each of them back exactly")


def _block_type_text(block_type):
    """Returns the block type as the string a request carries, or None."""
    if isinstance(block_type, int) and not isinstance(block_type, bool):
        return str(block_type)
    return block_type


# ----------------------------------------------------------------------------
# Answers and exit codes

_START_ERRORS = {
    _EXIT_LOAD_FAILED: LibraryLoadError,
    _EXIT_EXPORT_MISSING: ExportMissingError,
    _EXIT_PRIVATE_CALL_DISABLED: PrivateCallDisabledError,
}


def _is_start_message(message):
    """True for the messages with which a run ends before any request."""
    return (message.startswith(_LOAD_FAILED_PREFIX)
            or message in (_EXPORT_MISSING_MESSAGE,
                           _PRIVATE_CALL_DISABLED_MESSAGE))


def _start_error(message, exit_code):
    """The exception for a run that ended before taking requests."""
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


def _request_error(message, exit_code=None):
    """The exception for an error answer to a request that was read."""
    if message == _VENDOR_EXCEPTION_MESSAGE:
        error_class = VendorExceptionError
    elif message in (_INVALID_REQUEST_MESSAGE, _EMPTY_REQUEST_MESSAGE,
                     _MISSING_REQUEST_MESSAGE):
        error_class = RequestRejectedError
    else:
        error_class = BridgeError
    return error_class(f"status-bridge answered with an error: {message}",
                       message, exit_code)


def _crash_error(exit_code, attempts):
    """The exception for a bridge that ended without answering."""
    how = (f"killed by signal {-exit_code}" if exit_code is not None
           and exit_code < 0 else f"exit code {exit_code}")
    return BridgeCrashedError(
        f"status-bridge ended without answering ({how}); "
        f"{attempts} attempt(s)", None, exit_code)


def _parse_answer(raw):
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


def _error_message_of(raw):
    """The message of an error answer line, or None for anything else."""
    if raw is None:
        return None
    try:
        answer = _parse_answer(raw)
    except BridgeProtocolError:
        return None
    return None if answer["ok"] else answer["error"]


def _result_from(answer, request_id, lmc_file, block_name):
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
                              status=status, raw_status=raw_status)


def _strip_line_end(raw):
    """Drops the LF, and the CR that a Windows bridge writes before it.

    A CR inside a value always arrives escaped, so a raw one can only be part
    of the line end.
    """
    if raw.endswith(b"\n"):
        raw = raw[:-1]
    if raw.endswith(b"\r"):
        raw = raw[:-1]
    return raw


def _command(program, *arguments):
    """The argument list for `program`: a path, or a command as a sequence
    (for instance ["wine", "status-bridge.exe"])."""
    if isinstance(program, (str, bytes, os.PathLike)):
        return [os.fspath(program), *arguments]
    return [*map(os.fspath, program), *arguments]


def _environment(env, library_path):
    """The bridge's environment: `env` (default: ours), with LMCDLL70_PATH
    set to `library_path` when one is given."""
    result = dict(os.environ if env is None else env)
    if library_path is not None:
        result[_LIBRARY_PATH_VARIABLE] = os.fspath(library_path)
    return result


# ----------------------------------------------------------------------------
# One bridge process in server mode


class _ServerProcess:
    """A running bridge in server mode with a thread that reads its answers.

    Answer lines, and None for the end of its output, go into a queue so that
    a reader can wait for them with a time-out on every platform.
    """

    def __init__(self, command, env, stderr):
        try:
            self.popen = subprocess.Popen(
                command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                stderr=stderr, env=env)
        except OSError as error:
            raise BridgeStartError(
                f"cannot run status-bridge {command!r}: {error}") from error
        self._lines = queue.Queue()
        self._reader = threading.Thread(target=self._read_answers,
                                        name="status-bridge-reader",
                                        daemon=True)
        self._reader.start()

    def _read_answers(self):
        for raw in iter(self.popen.stdout.readline, b""):
            self._lines.put(raw)
        self._lines.put(None)

    def send(self, line):
        """Writes one request line; False when the bridge no longer reads."""
        try:
            self.popen.stdin.write(line)
            self.popen.stdin.flush()
            return True
        except (BrokenPipeError, ValueError, OSError):
            return False

    def next_line(self, deadline):
        """The next answer line without its line end, None at the end of
        output; raises queue.Empty when `deadline` (monotonic) passes first.
        `deadline` None waits without limit."""
        if deadline is None:
            raw = self._lines.get()
        else:
            remaining = max(0.0, deadline - time.monotonic())
            raw = self._lines.get(timeout=remaining)
        return None if raw is None else _strip_line_end(raw)

    def last_line(self, deadline):
        """Reads to the end of the output; returns its last line or None.
        Raises queue.Empty when `deadline` passes first."""
        last = None
        raw = self.next_line(deadline)
        while raw is not None:
            last = raw
            raw = self.next_line(deadline)
        return last

    def wait_exit(self):
        """Waits for the ended process and returns its exit status."""
        try:
            return self.popen.wait(timeout=_EXIT_WAIT)
        except subprocess.TimeoutExpired:
            self.kill()
            return self.popen.returncode

    def close_input(self):
        """Closes the bridge's input, which ends its loop."""
        try:
            self.popen.stdin.close()
        except OSError:
            pass

    def kill(self):
        """Kills the process and releases its pipes."""
        if self.popen.poll() is None:
            self.popen.kill()
        self.popen.wait()
        self.release()

    def release(self):
        """Releases the pipes of the ended process."""
        self.close_input()
        self._reader.join(timeout=_EXIT_WAIT)
        self.popen.stdout.close()


class StatusBridge:
    """A status-bridge in server mode, answering one request at a time.

    The bridge is started on entry (or by the first request) and stopped by
    close(): its input is closed and it must end with exit code 0.

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

    Start-up failures (exit codes 2, 3, 4) come from the first request after
    a start, as LibraryLoadError, ExportMissingError and
    PrivateCallDisabledError; they are not retried.

    The bridge's environment is `env` (default: this process's), with
    LMCDLL70_PATH set to `library_path` when given. The private call must be
    enabled there (ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=1): this helper does not
    switch it on for the caller. `stderr` is passed to subprocess.Popen
    (default: the bridge's trace goes to ours).
    """

    def __init__(self, program=DEFAULT_PROGRAM, *, library_path=None,
                 env=None, timeout=DEFAULT_TIMEOUT, stderr=None):
        self._command = _command(program, _SERVER_SWITCH)
        self._env = _environment(env, library_path)
        self._timeout = timeout
        self._stderr = stderr
        self._process = None
        self._closed = False
        self._lock = threading.Lock()
        self._ids = itertools.count(1)
        self._id_prefix = os.urandom(4).hex()
        self.restarts = 0  # Bridges started again after one died.

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, exc_type, exc, traceback):
        if exc_type is None:
            self.close()
        else:
            # Keep the exception that is already on its way.
            self.terminate()

    @property
    def pid(self):
        """The running bridge's process id, or None."""
        process = self._process
        return None if process is None else process.popen.pid

    def start(self):
        """Starts the bridge unless one is running."""
        with self._lock:
            self._ensure_started()

    def is_verified(self, lmc_file, block_name, block_type=None, *,
                    timeout=...):
        """Asks whether `block_name` in `lmc_file` is verified.

        `block_type` is a type word ("RUL", "RULP", "LP"), a number, or None
        to leave it out. `timeout` overrides the client's time-out for this
        request. Returns a VerificationResult; raises a BridgeError subclass,
        or ValueError/TypeError for values no request can carry.
        """
        lmc_file = os.fspath(lmc_file)
        block_type = _block_type_text(block_type)
        request_id = f"{self._id_prefix}-{next(self._ids)}"
        line = encode_request(request_id, lmc_file, block_name, block_type)
        if timeout is ...:
            timeout = self._timeout
        with self._lock:
            # The time-out starts once this request has the bridge to itself
            # and covers its retry after a crash.
            deadline = None if timeout is None else time.monotonic() + timeout
            for attempt in (1, 2):
                self._ensure_started()
                answer = self._exchange(line, deadline, timeout)
                if answer is not None:
                    break
                exit_code = self._process.wait_exit()
                self._process.release()
                self._process = None
                if exit_code in _START_ERRORS:
                    raise _start_error(None, exit_code)
                if attempt == 2:
                    raise _crash_error(exit_code, attempt)
                self.restarts += 1
            if not answer["ok"]:
                message = answer["error"]
                if _is_start_message(message):
                    exit_code = self._process.wait_exit()
                    self._process.release()
                    self._process = None
                    raise _start_error(message, exit_code)
                raise _request_error(message)
            try:
                return _result_from(answer, request_id, lmc_file, block_name)
            except BridgeProtocolError:
                self._kill()
                raise

    def close(self):
        """Closes the bridge's input and waits for it to end with exit code
        0. Returns 0, or raises when it ended otherwise (it is gone all the
        same). Later requests raise BridgeError."""
        with self._lock:
            self._closed = True
            process, self._process = self._process, None
            if process is None:
                return _EXIT_OK
            process.close_input()
            deadline = time.monotonic() + _CLOSE_TIMEOUT
            try:
                last_line = process.last_line(deadline)
                exit_code = process.popen.wait(
                    timeout=max(0.0, deadline - time.monotonic()))
            except (queue.Empty, subprocess.TimeoutExpired):
                process.kill()
                raise BridgeTimeoutError(
                    "status-bridge did not end after its input was closed; "
                    "killed") from None
            process.release()
            if exit_code == _EXIT_OK:
                return exit_code
            message = _error_message_of(last_line)
            if exit_code in _START_ERRORS:
                raise _start_error(message, exit_code)
            raise BridgeCrashedError(
                f"status-bridge ended with exit code {exit_code} after its "
                "input was closed", message, exit_code)

    def terminate(self):
        """Kills the bridge, if running, without waiting for answers."""
        with self._lock:
            self._closed = True
            self._kill()

    def _ensure_started(self):
        if self._closed:
            raise BridgeError("the status-bridge client is closed")
        process = self._process
        if process is not None and process.popen.poll() is not None:
            # Ended while idle: a start-up failure is reported as such;
            # otherwise what it wrote belongs to no request.
            self._process = None
            exit_code = process.popen.returncode
            try:
                last_line = process.last_line(time.monotonic() + _EXIT_WAIT)
            except queue.Empty:
                last_line = None
            process.release()
            if exit_code in _START_ERRORS:
                raise _start_error(_error_message_of(last_line), exit_code)
        if self._process is None:
            self._process = _ServerProcess(self._command, self._env,
                                           self._stderr)

    def _exchange(self, line, deadline, timeout):
        """Sends `line` and returns its answer as a dict, or None when the
        bridge ended first."""
        # A bridge that no longer reads may still have written its last
        # line (a start-up error), so a failed write still reads on.
        self._process.send(line)
        try:
            raw = self._process.next_line(deadline)
        except queue.Empty:
            self._kill()
            raise BridgeTimeoutError(
                f"status-bridge did not answer within {timeout} s; "
                "killed") from None
        if raw is None:
            return None
        try:
            return _parse_answer(raw)
        except BridgeProtocolError:
            self._kill()
            raise

    def _kill(self):
        if self._process is not None:
            self._process.kill()
            self._process = None


# ----------------------------------------------------------------------------
# One-shot use


def is_verified_once(lmc_file, block_name, block_type=None, *,
                     program=DEFAULT_PROGRAM, library_path=None, env=None,
                     timeout=DEFAULT_TIMEOUT, stderr=None):
    """Runs the bridge once in one-shot mode for one request.

    Arguments as for StatusBridge and StatusBridge.is_verified. There is no
    restart: a crash raises BridgeCrashedError at once, and a time-out kills
    the run and raises BridgeTimeoutError.
    """
    lmc_file = os.fspath(lmc_file)
    block_type = _block_type_text(block_type)
    request_id = f"{os.urandom(4).hex()}-1"
    line = encode_request(request_id, lmc_file, block_name, block_type)
    command = _command(program)
    try:
        run = subprocess.run(
            command, input=line, stdout=subprocess.PIPE, stderr=stderr,
            env=_environment(env, library_path), timeout=timeout,
            check=False)
    except subprocess.TimeoutExpired:
        raise BridgeTimeoutError(
            f"status-bridge did not answer within {timeout} s; "
            "killed") from None
    except OSError as error:
        raise BridgeStartError(
            f"cannot run status-bridge {command!r}: {error}") from error
    lines = run.stdout.split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    exit_code = run.returncode
    if not lines:
        if exit_code in _START_ERRORS:
            raise _start_error(None, exit_code)
        raise _crash_error(exit_code, 1)
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
    return _result_from(answer, request_id, lmc_file, block_name)
