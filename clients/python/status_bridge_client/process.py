"""The bridge as a process: its command and environment, one-shot runs,
and a server-mode process with the threads that serve its pipes."""

from __future__ import annotations

import collections
import logging
import os
import queue
import shutil
import subprocess
import sys
import threading
import time
from typing import Deque, Dict, List, Mapping, Optional, Sequence, Tuple, Union

from .errors import (EXIT_OK, BridgeProtocolError, BridgeStartError,
                     BridgeTimeoutError, PrivateCallDisabledError,
                     start_error)
from .wire import error_message_of, parse_answer, strip_line_end

log = logging.getLogger("status_bridge_client")

# A path, or a command as a sequence such as ["wine", "status-bridge.exe"].
Program = Union[str, "os.PathLike[str]",
                Sequence[Union[str, "os.PathLike[str]"]]]
LibraryPath = Union[str, "os.PathLike[str]", None]

LIBRARY_PATH_VARIABLE = "LMCDLL70_PATH"
PRIVATE_CALL_VARIABLE = "ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE"
SERVER_SWITCH = "--server"
PROBE_SWITCH = "--probe-only"
_TRACE_PREFIX = "[status-bridge] "
# Seconds to wait for the exit status of a bridge whose output has ended,
# or that was killed.
EXIT_WAIT = 10.0
# Bytes the reader takes from the bridge's output at a time.
_READ_SIZE = 1 << 16
# Seconds between looks at a KeyboardInterrupt while the caller waits: on
# Windows a blocking wait does not see a Ctrl-C until it ends.
POLL_INTERVAL = 0.1
# Seconds terminate() gives a bridge to end after SIGTERM before killing it.
TERMINATE_GRACE = 5.0


class LineBuffer:
    """Splits a byte stream into lines in time linear in its length: the
    bytes of a partial line stay in one bytearray, which each chunk extends
    and which is scanned for LF only from where the last scan stopped."""

    def __init__(self) -> None:
        self._data = bytearray()
        self._scanned = 0

    def feed(self, data: bytes) -> List[bytes]:
        """Adds `data`; returns the lines it completed, without their LF."""
        buffer = self._data
        buffer += data
        lines = []
        start = 0
        end = buffer.find(b"\n", self._scanned)
        while end >= 0:
            lines.append(bytes(buffer[start:end]))
            start = end + 1
            end = buffer.find(b"\n", start)
        if start:
            del buffer[:start]
        self._scanned = len(buffer)
        return lines

    def rest(self) -> bytes:
        """The bytes of an unfinished last line."""
        return bytes(self._data)


def command(program: Program, env: Mapping[str, str]) -> List[str]:
    """The argument list for `program`, a path or a command as a sequence
    (for instance ["wine", "status-bridge.exe"]), its first element made
    absolute: a relative path against the current folder, a bare name
    looked up on the bridge's PATH now, so that a later os.chdir cannot
    change which program a restart runs."""
    if isinstance(program, (str, bytes, os.PathLike)):
        parts = [os.fsdecode(program)]
    else:
        parts = [os.fsdecode(part) for part in program]
    if not parts or not parts[0]:
        raise ValueError("the program must not be empty")
    first = parts[0]
    if os.path.dirname(first):
        first = os.path.abspath(first)
    else:
        found = shutil.which(first, path=env.get("PATH", os.defpath))
        if found is not None:
            first = os.path.abspath(found)
    return [first, *parts[1:]]


def environment(env: Optional[Mapping[str, str]], library_path: LibraryPath,
                private_call: bool, add_library_dir_to_path: bool,
                windows: bool = sys.platform == "win32") -> Dict[str, str]:
    """The bridge's environment: `env` (default: ours), with LMCDLL70_PATH
    set to `library_path` made absolute, when one is given, and the private
    call enabled when `private_call` is true. On Windows the library's
    folder goes first on PATH, so that the DLLs the vendor library itself
    imports are found, unless `add_library_dir_to_path` is false."""
    result = dict(os.environ if env is None else env)
    if library_path is not None:
        path = os.path.abspath(os.fspath(library_path))
        result[LIBRARY_PATH_VARIABLE] = path
        if windows and add_library_dir_to_path:
            # Windows' variable names ignore case; keep the one in use.
            key = next((k for k in result if k.upper() == "PATH"), "PATH")
            folder = os.path.dirname(path)
            rest = result.get(key, "")
            result[key] = f"{folder};{rest}" if rest else folder
    if private_call:
        result[PRIVATE_CALL_VARIABLE] = "1"
    return result


def log_stderr_line(pid: int, raw: bytes) -> None:
    """Logs one line of a bridge's standard error: trace lines at DEBUG,
    anything else (a runtime's or Wine's own message) at INFO."""
    text = strip_line_end(raw).decode("utf-8", "replace")
    level = logging.DEBUG if text.startswith(_TRACE_PREFIX) else logging.INFO
    log.log(level, "bridge %d: %s", pid, text)


def _popen(args: List[str], env: Dict[str, str]) -> "subprocess.Popen[bytes]":
    """Starts the bridge with three pipes, unbuffered on our side. It runs
    in a session (POSIX) or process group (Windows) of its own, so that a
    Ctrl-C in the caller's terminal reaches the caller only: the caller
    decides what becomes of its bridges."""
    pipe = subprocess.PIPE
    try:
        if sys.platform == "win32":
            return subprocess.Popen(
                args, stdin=pipe, stdout=pipe, stderr=pipe, env=env,
                bufsize=0, creationflags=subprocess.CREATE_NEW_PROCESS_GROUP)
        return subprocess.Popen(args, stdin=pipe, stdout=pipe, stderr=pipe,
                                env=env, bufsize=0, start_new_session=True)
    except OSError as error:
        raise BridgeStartError(
            f"cannot run status-bridge {args!r}: {error}") from error


def run_once(args: List[str], env: Dict[str, str],
             timeout: Optional[float], request: bytes = b"") -> Tuple[
                 bytes, int]:
    """Runs the bridge once with `request` as its input; returns its output
    and exit status. Its standard error goes to the log. Whatever ends the
    wait early (the time-out, a KeyboardInterrupt) kills the run."""
    process = _popen(args, env)
    with process:
        try:
            output, errors = process.communicate(request, timeout=timeout)
        except BaseException as error:
            process.kill()
            process.wait()
            if not isinstance(error, subprocess.TimeoutExpired):
                raise
            log.warning("status-bridge, pid %d, did not answer within %s s; "
                        "killed", process.pid, timeout)
            raise BridgeTimeoutError(
                f"status-bridge did not answer within {timeout} s; "
                "killed") from None
    for raw in errors.splitlines():
        log_stderr_line(process.pid, raw)
    return output, process.returncode


def probe(args: List[str], env: Dict[str, str],
          timeout: Optional[float]) -> None:
    """Runs the bridge's probe mode; raises the start-up error it reports."""
    output, returncode = run_once(args, env, timeout)
    lines = output.splitlines()
    last = strip_line_end(lines[-1]) if lines else None
    if returncode != EXIT_OK:
        raise start_error(error_message_of(last), returncode)
    try:
        probed = last is not None and parse_answer(last).get("probe") is True
    except BridgeProtocolError:
        probed = False
    if not probed:
        raise BridgeStartError(f"unexpected probe answer from status-bridge: "
                               f"{last!r}", None, returncode)


def check_start(args: List[str], env: Dict[str, str],
                timeout: Optional[float]) -> None:
    """The check before a client's first bridge: the probe, then the opt-in
    that the bridge itself would look at only when taking requests."""
    probe(args, env, timeout)
    if env.get(PRIVATE_CALL_VARIABLE) != "1":
        raise PrivateCallDisabledError(
            f"{PRIVATE_CALL_VARIABLE} is not 1 in the bridge's environment, "
            "so the private status call is disabled; pass private_call=True "
            "or set it")


class ServerProcess:
    """A running bridge in server mode and the three threads that serve its
    pipes: one writes requests, one passes on answer lines (the end of the
    output as None) so that a caller can wait for them with a time-out, one
    logs standard error. When the output ends, the writer ends too, and each
    thread closes its own pipe: a dead bridge leaves nothing behind once it
    is reaped.

    ``owed`` counts the answers to requests sent and not yet taken. It rises
    before a request is handed over and falls after its answer is taken, so
    an exception between any two steps can leave it too high, never too
    low: a bridge that owes answers to no one is killed, not reused.

    The reading side (next_line, ready_line, last_line) is for one caller at
    a time.
    """

    def __init__(self, args: List[str], env: Dict[str, str]) -> None:
        self.popen = _popen(args, env)
        self.pid = self.popen.pid
        # Why the client killed the bridge, or None.
        self.stopped: Optional[str] = None
        self.owed = 0
        self._requests: "queue.SimpleQueue[Optional[bytes]]" = (
            queue.SimpleQueue())
        self._chunks: "queue.SimpleQueue[Optional[List[bytes]]]" = (
            queue.SimpleQueue())
        # Answer lines passed on by the reader, not yet taken.
        self._lines: Deque[bytes] = collections.deque()
        self._ended = False
        try:
            self._threads = [
                threading.Thread(target=target, name=f"status-bridge-{name}",
                                 daemon=True)
                for target, name in ((self._write_requests, "writer"),
                                     (self._read_answers, "reader"),
                                     (self._read_stderr, "stderr"))]
            for thread in self._threads:
                thread.start()
        except BaseException:
            self.popen.kill()
            raise
        log.debug("started status-bridge, pid %d", self.pid)

    def _write_requests(self) -> None:
        stdin = self.popen.stdin
        assert stdin is not None
        try:
            more = True
            while more:
                line = self._requests.get()
                if line is None:
                    break
                # What else is waiting goes in the same write.
                lines = [line]
                while not self._requests.empty():
                    line = self._requests.get()
                    if line is None:
                        more = False
                        break
                    lines.append(line)
                data = memoryview(b"".join(lines))
                while data:
                    data = data[stdin.write(data) or 0:]
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
        buffer = LineBuffer()
        try:
            while True:
                data = stdout.read(_READ_SIZE)
                if not data:
                    break
                lines = buffer.feed(data)
                if lines:
                    # A Windows bridge ends its lines with CR LF; a CR in a
                    # value always arrives escaped.
                    self._chunks.put([line[:-1] if line.endswith(b"\r")
                                      else line for line in lines])
        except (OSError, ValueError):
            pass
        finally:
            rest = buffer.rest()
            if rest:
                self._chunks.put([strip_line_end(rest)])
            self._chunks.put(None)
            self._requests.put(None)  # Nobody reads the requests any more.
            stdout.close()

    def _read_stderr(self) -> None:
        stderr = self.popen.stderr
        assert stderr is not None
        with stderr:
            buffer = LineBuffer()
            while True:
                try:
                    data = stderr.read(_READ_SIZE)
                except (OSError, ValueError):
                    break
                if not data:
                    break
                for raw in buffer.feed(data):
                    log_stderr_line(self.pid, raw)
            if buffer.rest():
                log_stderr_line(self.pid, buffer.rest())

    def send(self, lines: bytes, count: int = 1) -> None:
        """Hands `count` request lines to the writer; never blocks."""
        self.owed += count
        self._requests.put(lines)

    def ready_line(self) -> Optional[bytes]:
        """The next answer line if the reader has passed it on already,
        else None."""
        if not self._lines:
            return None
        line = self._lines.popleft()
        self.owed -= 1
        return line

    def next_line(self, deadline: Optional[float]) -> Optional[bytes]:
        """The next answer line without its line end, None at the end of
        output; raises queue.Empty when `deadline` (monotonic) passes first.
        `deadline` None waits without limit."""
        while not self._lines:
            if self._ended:
                return None
            # Waits in slices: on Windows a blocking wait does not see a
            # Ctrl-C until it ends.
            wait = POLL_INTERVAL if deadline is None else min(
                POLL_INTERVAL, max(0.0, deadline - time.monotonic()))
            try:
                chunk = self._chunks.get(timeout=wait)
            except queue.Empty:
                if deadline is not None and time.monotonic() >= deadline:
                    raise
                continue
            if chunk is None:
                self._ended = True
            else:
                self._lines.extend(chunk)
        return self.ready_line()

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
            return self.popen.wait(timeout=EXIT_WAIT)
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
        self._stop(reason, level, None)

    def terminate(self, reason: str, grace: float,
                  level: int = logging.INFO) -> None:
        """Sends SIGTERM (on Windows, where there is none, this kills) and
        kills the process when it has not ended after `grace` seconds."""
        self._stop(reason, level, grace)

    def _stop(self, reason: str, level: int, grace: Optional[float]) -> None:
        if self.stopped is None:
            self.stopped = reason
        if self.popen.poll() is None:
            log.log(level, "%s status-bridge, pid %d: %s",
                    "killing" if grace is None else "terminating", self.pid,
                    reason)
            if grace is None:
                self.popen.kill()
            else:
                self.popen.terminate()
                try:
                    self.popen.wait(timeout=grace)
                except subprocess.TimeoutExpired:
                    log.warning("killing status-bridge, pid %d: it did not "
                                "end within %s s of SIGTERM", self.pid, grace)
                    self.popen.kill()
        self._requests.put(None)
        try:
            self.popen.wait(timeout=EXIT_WAIT)
        except subprocess.TimeoutExpired:
            pass  # Reaped by subprocess later; nothing to wait for here.

    def drop_in_child(self) -> None:
        """In a child of os.fork: lets go of the parent's bridge without
        touching it. Closing the inherited pipe ends is what lets the
        parent's bridge see the end of its input when the parent closes
        it."""
        self.stopped = "it belongs to the parent of a forked process"
        for pipe in (self.popen.stdin, self.popen.stdout, self.popen.stderr):
            if pipe is not None:
                try:
                    pipe.close()
                except OSError:
                    pass
        # Not ours to wait for: make subprocess treat it as done.
        self.popen.returncode = 0
