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
Program = Union[str, "os.PathLike[str]", Sequence[Union[str,
                                                       "os.PathLike[str]"]]]
LibraryPath = Union[str, "os.PathLike[str]", None]

LIBRARY_PATH_VARIABLE = "LMCDLL70_PATH"
ALLOW_PRIVATE_VARIABLE = "ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE"
SERVER_SWITCH = "--server"
PROBE_SWITCH = "--probe-only"
_TRACE_PREFIX = "[status-bridge] "
# Seconds to wait for the exit status of a bridge whose output has ended,
# or that was killed.
EXIT_WAIT = 10.0
# Bytes the reader takes from the bridge's output at a time.
_READ_SIZE = 1 << 16

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
                allow_private: bool, add_library_dir_to_path: bool,
                windows: bool = sys.platform == "win32") -> Dict[str, str]:
    """The bridge's environment: `env` (default: ours), with LMCDLL70_PATH
    set to `library_path` made absolute, when one is given, and the private
    call enabled when `allow_private` is true. On Windows the library's
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
    if allow_private:
        result[ALLOW_PRIVATE_VARIABLE] = "1"
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
    output, exit_code = run_once(args, env, timeout)
    lines = output.splitlines()
    last = strip_line_end(lines[-1]) if lines else None
    if exit_code != EXIT_OK:
        raise start_error(error_message_of(last), exit_code)
    try:
        probed = last is not None and parse_answer(last).get("probe") is True
    except BridgeProtocolError:
        probed = False
    if not probed:
        raise BridgeStartError(f"unexpected probe answer from status-bridge: "
                               f"{last!r}", None, exit_code)


def check_start(args: List[str], env: Dict[str, str],
                timeout: Optional[float]) -> None:
    """The check before a client's first bridge: the probe, then the opt-in
    that the bridge itself would look at only when taking requests."""
    probe(args, env, timeout)
    if env.get(ALLOW_PRIVATE_VARIABLE) != "1":
        raise PrivateCallDisabledError(
            f"{ALLOW_PRIVATE_VARIABLE} is not 1 in the bridge's environment, "
            "so the private status call is disabled; pass allow_private=True "
            "or set it")


class ServerProcess:
    """A running bridge in server mode and the three threads that serve its
    pipes: one writes requests, one passes on answer lines (the end of the
    output as None) so that a caller can wait for them with a time-out, one
    logs standard error. When the output ends, the writer ends too, and each
    thread closes its own pipe: a dead bridge leaves nothing behind once it
    is reaped.

    The reading side (next_line, last_line) is for one caller at a time.
    """

    def __init__(self, args: List[str], env: Dict[str, str]) -> None:
        self.popen = _popen(args, env)
        self.pid = self.popen.pid
        # Why the client killed the bridge, or None.
        self.stopped: Optional[str] = None
        self._requests: "queue.SimpleQueue[Optional[bytes]]" = (
            queue.SimpleQueue())
        self._chunks: "queue.SimpleQueue[Optional[List[bytes]]]" = (
            queue.SimpleQueue())
        # Answer lines passed on by the reader, not yet taken.
        self.lines: Deque[bytes] = collections.deque()
        self._ended = False
        self._threads = [
            threading.Thread(target=target, name=f"status-bridge-{name}",
                             daemon=True)
            for target, name in ((self._write_requests, "writer"),
                                 (self._read_answers, "reader"),
                                 (self._read_stderr, "stderr"))]
        for thread in self._threads:
            thread.start()
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
        partial = b""
        try:
            while True:
                data = stdout.read(_READ_SIZE)
                if not data:
                    break
                lines = (partial + data).split(b"\n")
                partial = lines.pop()
                if b"\r" in data or partial.endswith(b"\r"):
                    # A Windows bridge's line ends; a CR in a value always
                    # arrives escaped.
                    lines = [strip_line_end(line) for line in lines]
                if lines:
                    self._chunks.put(lines)
        except (OSError, ValueError):
            pass
        finally:
            if partial:
                self._chunks.put([strip_line_end(partial)])
            self._chunks.put(None)
            self._requests.put(None)  # Nobody reads the requests any more.
            stdout.close()

    def _read_stderr(self) -> None:
        stderr = self.popen.stderr
        assert stderr is not None
        with stderr:
            partial = b""
            while True:
                try:
                    data = stderr.read(_READ_SIZE)
                except (OSError, ValueError):
                    break
                if not data:
                    break
                lines = (partial + data).split(b"\n")
                partial = lines.pop()
                for raw in lines:
                    log_stderr_line(self.pid, raw)
            if partial:
                log_stderr_line(self.pid, partial)

    def send(self, line: bytes) -> None:
        """Hands request lines to the writer; never blocks."""
        self._requests.put(line)

    def next_line(self, deadline: Optional[float]) -> Optional[bytes]:
        """The next answer line without its line end, None at the end of
        output; raises queue.Empty when `deadline` (monotonic) passes first.
        `deadline` None waits without limit."""
        while not self.lines:
            if self._ended:
                return None
            if deadline is None:
                chunk = self._chunks.get()
            else:
                chunk = self._chunks.get(
                    timeout=max(0.0, deadline - time.monotonic()))
            if chunk is None:
                self._ended = True
            else:
                self.lines.extend(chunk)
        return self.lines.popleft()

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
        if self.stopped is None:
            self.stopped = reason
        if self.popen.poll() is None:
            log.log(level, "killing status-bridge, pid %d: %s", self.pid,
                    reason)
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
