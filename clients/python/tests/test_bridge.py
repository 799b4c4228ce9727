"""Tests of status_bridge_client against the built bridge and the stand-in
vendor library.

STATUS_BRIDGE_PROGRAM, STATUS_BRIDGE_VENDOR and STATUS_BRIDGE_VENDOR_NO_EXPORT
name the files under test; by default they come from build/dev.
"""

import gc
import inspect
import json
import logging
import os
import pathlib
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import unittest.mock
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import status_bridge_client as sbc  # noqa: E402
from status_bridge_client import client as client_module  # noqa: E402
from status_bridge_client import process  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[3]
PROGRAM = pathlib.Path(os.environ.get(
    "STATUS_BRIDGE_PROGRAM", ROOT / "build/dev/status-bridge")).resolve()
VENDOR = pathlib.Path(os.environ.get(
    "STATUS_BRIDGE_VENDOR",
    ROOT / "build/dev/standin/status_library/LMCDLL70.dll")).resolve()
VENDOR_NO_EXPORT = pathlib.Path(os.environ.get(
    "STATUS_BRIDGE_VENDOR_NO_EXPORT",
    VENDOR.parent.parent / "status_library-without-export"
    / "LMCDLL70.dll")).resolve()

# Upper bound for waits on the bridge in these tests, so a fault fails a test
# instead of hanging the run.
WAIT = 10.0


def setUpModule():
    missing = [str(p) for p in (PROGRAM, VENDOR, VENDOR_NO_EXPORT)
               if not p.is_file()]
    if missing:
        raise RuntimeError("build the bridge first; missing: "
                           + ", ".join(missing))
    # The client's warnings are checked where expected, not printed.
    logging.getLogger("status_bridge_client").addHandler(logging.NullHandler())


def process_gone(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return True
    return False


def wait_until_ended(pid):
    """Waits until the child `pid` has ended (a zombie not yet reaped)."""
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        with open(f"/proc/{pid}/stat", encoding="ascii") as stat:
            if stat.read().rsplit(")", 1)[1].split()[0] == "Z":
                return
        time.sleep(0.01)
    raise AssertionError(f"process {pid} did not end")


class BridgeTestCase(unittest.TestCase):
    """A scratch folder, a vendor call log and the environment of a run
    against the stand-in vendor library with the private call enabled."""

    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.dir = pathlib.Path(scratch.name)
        self.log = self.dir / "vendor.log"
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith("ORVEK_")}
        self.env.update({"LMCDLL70_PATH": str(VENDOR),
                         "ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE": "1",
                         "ORVEK_STANDIN_VENDOR_LOG": str(self.log)})

    def lmc(self, name, *rules):
        path = self.dir / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text("".join(rule + "\n" for rule in rules),
                        encoding="utf-8")
        return str(path)

    def bridge(self, kind=sbc.StatusBridge, program=PROGRAM, **options):
        client = kind(program, **dict({"env": self.env}, **options))
        self.addCleanup(client.kill)
        return client

    def vendor_calls(self):
        """The calls the stand-in received, as (name, type, lmc) tuples."""
        if not self.log.exists():
            return []
        calls = []
        for record in self.log.read_bytes().decode("ascii").splitlines():
            fields = dict(f.split("=", 1) for f in record.split(" "))
            calls.append((
                urllib.parse.unquote_to_bytes(fields["name"]).decode("utf-8"),
                int(fields["type"]),
                os.fsdecode(urllib.parse.unquote_to_bytes(fields["lmc"]))))
        return calls

    def fifo(self, name):
        """A FIFO whose readers block until a writer comes; on clean-up any
        reader or writer still waiting for the other side is released."""
        path = self.dir / name
        os.mkfifo(path)

        def release():
            reader = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
            writer = os.open(path, os.O_WRONLY | os.O_NONBLOCK)
            time.sleep(0.05)
            os.close(writer)
            os.close(reader)
        self.addCleanup(release)
        return str(path)

    def in_thread(self, call, *args, **kwargs):
        """Runs `call` in a thread; returns the thread and a list that gets
        its result or exception."""
        outcome = []

        def run():
            try:
                outcome.append(call(*args, **kwargs))
            except Exception as error:  # noqa: BLE001 - handed to the test
                outcome.append(error)
        thread = threading.Thread(target=run, daemon=True)
        thread.start()
        return thread, outcome

    def interrupt_after(self, seconds):
        def raise_interrupted(signum, frame):
            raise Interrupted()
        previous = signal.signal(signal.SIGALRM, raise_interrupted)
        self.addCleanup(signal.signal, signal.SIGALRM, previous)
        self.addCleanup(signal.setitimer, signal.ITIMER_REAL, 0)
        signal.setitimer(signal.ITIMER_REAL, seconds)

    def wait_for_vendor_calls(self, count):
        deadline = time.monotonic() + WAIT
        while len(self.vendor_calls()) < count:
            self.assertLess(time.monotonic(), deadline, "no vendor call")
            time.sleep(0.01)


class ServerAnswersTest(BridgeTestCase):

    def test_answers_and_errors_stay_tied_to_their_requests(self):
        lmc = self.lmc("blocks.lmc", "verified U1", "not-verified U2",
                       "verified-2 U3", "throw-class T1", "throw-int T2",
                       "print-stdio P1", "print-handle P2")
        # (block name, expected status or exception class); P1 and P2 print
        # to the bridge's standard output during the call.
        cases = [
            ("U1", "READY"),
            ("P1", "READY"),
            ("T1", sbc.VendorExceptionError),
            ("U2", "PENDING"),
            ("", sbc.RequestRejectedError),
            ("U3", "READY"),
            ("T2", sbc.VendorExceptionError),
            ("unnamed", "PENDING"),
            ("P2", "READY"),
            ("U1", "READY"),
        ]
        ids = set()
        with self.bridge() as client:
            pid = client.pid
            for name, expected in cases:
                with self.subTest(name=name):
                    if isinstance(expected, str):
                        result = client.query(lmc, name)
                        self.assertEqual(
                            (result.block_name, result.lmc_file, result.status,
                             result.raw_status, result.verified),
                            (name, lmc, expected, int(expected == "READY"),
                             expected == "READY"))
                        ids.add(result.request_id)
                    else:
                        with self.assertRaises(expected) as raised:
                            client.query(lmc, name)
                        self.assertIsNotNone(raised.exception.message)
                        self.assertIsNone(raised.exception.returncode)
            self.assertEqual(client.pid, pid)
            self.assertEqual(client.restarts, 0)
        self.assertEqual(len(ids), 7)

    def test_values_and_block_types_reach_the_vendor_exactly(self):
        odd = "\t\b\f\x01\x1f\x7f \"\\/ \\u0041 é 块 😀 \u2028"
        # (block name, LMC file name, block type, type the vendor must see)
        cases = [
            ("U1", "a.lmc", "RUL", 1),
            ("块-" + odd, "库 ü " + odd, None, 0),
            ("line\nbreak\r\nname", "crlf\r\n.lmc", "LP", 0),
            ("U1", 'x"block_type', "RUL", 1),
            ('x"block_type', 'y"block_name', 7, 7),
            ('x"lmc_file', 'y"op', "RULP", 0),
            ('z"request_id', "b.lmc", "-12", -12),
        ]
        with self.bridge() as client:
            for name, file_name, block_type, vendor_type in cases:
                # A rule can name the block only when it holds no line end.
                rules = ([] if re.search("[\r\n]", name)
                         else ["verified " + name])
                lmc = self.lmc(file_name, *rules)
                expected = "READY" if rules else "PENDING"
                for mode in ("server", "one-shot"):
                    with self.subTest(name=name, mode=mode):
                        if mode == "server":
                            result = client.query(lmc, name, block_type)
                        else:
                            result = sbc.query_once(
                                lmc, name, block_type, program=PROGRAM,
                                env=self.env, timeout=WAIT)
                        self.assertEqual((result.block_name, result.lmc_file,
                                          result.status),
                                         (name, lmc, expected))
                        self.assertEqual(self.vendor_calls()[-1],
                                         (name, vendor_type, lmc))

    def test_values_no_request_can_carry_are_refused_before_sending(self):
        cases = [
            ("a\x1a.lmc", "U1", None, ValueError),
            ("a.lmc", "U1", 1.5, TypeError),
        ]
        client = self.bridge()
        for lmc, name, block_type, error in cases:
            with self.subTest(name=name, lmc=lmc):
                with self.assertRaises(error):
                    client.is_verified(lmc, name, block_type)
                with self.assertRaises(error):
                    sbc.is_verified_once(lmc, name, block_type,
                                         program=PROGRAM, env=self.env)
        self.assertIsNone(client.pid)
        self.assertEqual(self.vendor_calls(), [])

    def test_only_ready_counts_as_verified_and_no_result_is_truthy(self):
        lmc = self.lmc("a.lmc", "verified R1", "verified-2 R2",
                       "not-verified P1")
        cases = [("R1", True), ("R2", True), ("P1", False), ("other", False)]
        with self.bridge() as client:
            for name, verified in cases:
                with self.subTest(name=name):
                    self.assertIs(client.is_verified(lmc, name), verified)
                    self.assertIs(sbc.is_verified_once(
                        lmc, name, program=PROGRAM, env=self.env), verified)
                    with self.assertRaises(TypeError):
                        bool(client.query(lmc, name))

    def test_standard_error_is_drained_into_the_log(self):
        # 1,000 requests trace far more than a pipe holds.
        self.env["ORVEK_STATUS_BRIDGE_TRACE"] = "1"
        lmc = self.lmc("a.lmc", "verified U1")
        with self.assertLogs("status_bridge_client", "DEBUG") as logs:
            client = self.bridge(timeout=WAIT)
            for _ in range(1000):
                client.is_verified(lmc, "U1")
            pid = client.pid
            client.close()
            sbc.is_verified_once(lmc, "U1", program=PROGRAM, env=self.env)
        self.assertTrue(process_gone(pid))
        traced = [record.getMessage().split(": ", 1)[1]
                  for record in logs.records if record.levelname == "DEBUG"
                  and ": [status-bridge] " in record.getMessage()]
        self.assertEqual(traced.count("[status-bridge] status-function-"
                                      "returned"), 1001)
        self.assertIn("[status-bridge] server-eof", traced)
        self.assertEqual(traced[-1], "[status-bridge] cstring-scope-ended")
        with self.assertRaises(sbc.BridgeClosedError):
            client.is_verified(lmc, "U1")


class AnswerMatchingTest(BridgeTestCase):
    """A stand-in for the bridge that answers each request with a fixed
    mistake, since the real bridge never makes one."""

    FAKE = (
        "import json, sys\n"
        "options = json.loads(sys.argv[1])\n"
        "sys.stderr.write(options.get('stderr', ''))\n"
        "sys.stderr.flush()\n"
        "for line in sys.stdin.buffer:\n"
        "    request = json.loads(line, strict=False)\n"
        "    answer = {'ok': True, 'request_id': request['request_id'],\n"
        "              'block_name': request['block_name'],\n"
        "              'lmc_file': request['lmc_file'], 'status': 'READY',\n"
        "              'source': 'IsVerifiedReuseBlock', 'raw_status': 1}\n"
        "    answer.update(options.get('change', {}))\n"
        "    text = options.get('line') or json.dumps(answer,\n"
        "                                             ensure_ascii=False)\n"
        "    sys.stdout.buffer.write(text.encode() + options.get(\n"
        "        'end', '\\n').encode())\n"
        "    sys.stdout.flush()\n"
        "    if '--server' not in sys.argv:\n"
        "        sys.exit(options.get('exit', 0))\n"
    )

    def fake(self, **options):
        return [sys.executable, "-c", self.FAKE, json.dumps(options)]

    def test_answers_that_do_not_fit_the_request_are_refused(self):
        # Which answers are refused is tested without a bridge; here, that
        # a refusal kills the bridge, in a call and in a batch.
        # (change to the fitting answer, or a whole line instead; refused?)
        cases = [
            ({}, "", False),
            ({"request_id": "someone-else"}, "", True),
        ]
        for change, line, refused in cases:
            for mode in ("query", "batch"):
                with self.subTest(change=change, line=line, mode=mode):
                    client = self.bridge(
                        program=self.fake(change=change, line=line),
                        timeout=WAIT, check_on_start=False)
                    client.start()
                    pid = client.pid
                    with self.assertLogs("status_bridge_client",
                                         "DEBUG") as logs:
                        try:
                            outcome = (client.query("a.lmc", "U1")
                                       if mode == "query" else
                                       client.query_many([("a.lmc", "U1")])[0])
                        except sbc.BridgeError as error:
                            outcome = error
                        logging.getLogger("status_bridge_client").debug("-")
                    if not refused:
                        self.assertIs(outcome.verified, True)
                        continue
                    self.assertIsInstance(outcome, sbc.BridgeProtocolError)
                    self.assertIn("WARNING", " ".join(logs.output))
                    self.assertTrue(process_gone(pid))
                    self.assertIsNone(client.pid)

    def test_error_answers_raise_by_message_in_every_mode(self):
        # (the bridge's message, the exception it raises)
        cases = [
            ("调用 Mentor 私有状态函数时发生异常", sbc.VendorExceptionError),
            ("lmc_file 或 block_name 含有本机 ANSI 代码页无法表示的字符",
             sbc.CodePageError),
            ("空请求", sbc.RequestRejectedError),
            ("a message no bridge sends", sbc.BridgeError),
        ]
        for message, error in cases:
            line = json.dumps({"ok": False, "error": message},
                              ensure_ascii=False)
            # A Windows bridge ends its lines with CR LF.
            program = self.fake(line=line, end="\r\n")
            client = self.bridge(program=program, check_on_start=False)
            runs = {
                "server": lambda: client.query("a.lmc", "U1"),
                "batch": lambda: client.query_many([("a.lmc", "U1")])[0],
                "one-shot": lambda: sbc.query_once("a.lmc", "U1",
                                                   program=program),
            }
            for mode, run in runs.items():
                with self.subTest(message=message, mode=mode):
                    try:
                        raised = run()
                    except sbc.BridgeError as exception:
                        raised = exception
                    self.assertIs(type(raised), error)
                    self.assertEqual(
                        (raised.message, raised.block_name, raised.lmc_file),
                        (message, "U1", "a.lmc"))
                    self.assertIn(message, str(raised))
            self.assertEqual(client.restarts, 0)

    def test_one_shot_success_with_a_failing_returncode_is_refused(self):
        for end in ("\n", "\r\n"):
            with self.subTest(end=end):
                program = self.fake(exit=1, end=end)
                with self.assertRaises(sbc.BridgeProtocolError) as raised:
                    sbc.query_once("a.lmc", "U1", program=program)
                self.assertEqual(raised.exception.returncode, 1)
                self.assertIs(sbc.query_once(
                    "a.lmc", "U1", program=self.fake(end=end)).verified, True)

    def test_standard_error_lines_are_logged_by_kind(self):
        # A Windows bridge ends its lines with CR LF.
        program = self.fake(
            stderr="[status-bridge] traced\r\nwine: said\r\n")
        with self.assertLogs("status_bridge_client", "DEBUG") as logs:
            with self.bridge(program=program, check_on_start=False) as client:
                client.is_verified("a.lmc", "U1")
        self.assertEqual(
            sorted((r.levelname, r.getMessage().split(": ", 1)[1])
                   for r in logs.records if r.getMessage().startswith(
                       "bridge ")),
            [("DEBUG", "[status-bridge] traced"), ("INFO", "wine: said")])


class CrashAndTimeoutTest(BridgeTestCase):

    def serve(self, fifo, contents, ready_when):
        """Feeds `contents` to the FIFO's successive readers from a thread;
        the n-th waits until ready_when(n) holds."""
        def run():
            for n, content in enumerate(contents):
                deadline = time.monotonic() + WAIT
                while not ready_when(n) and time.monotonic() < deadline:
                    time.sleep(0.01)
                with open(fifo, "w", encoding="utf-8") as writer:
                    writer.write(content)
        thread = threading.Thread(target=run, daemon=True)
        thread.start()
        return thread

    def test_a_crash_restarts_the_bridge_and_retries_the_request(self):
        fifo = self.fifo("flaky.lmc")
        # The retry's LMC file may be served only once the crashed bridge is
        # gone; its log record comes before it opens the file.
        self.serve(fifo, ["crash X\n", "verified X\n"],
                   lambda n: len(self.vendor_calls()) > n)
        with self.bridge(timeout=WAIT) as client:
            client.start()
            first_pid = client.pid
            result = client.query(fifo, "X")
            self.assertEqual((result.block_name, result.status),
                             ("X", "READY"))
            self.assertEqual(client.restarts, 1)
            self.assertNotEqual(client.pid, first_pid)
        self.assertEqual(self.vendor_calls(), [("X", 0, fifo)] * 2)

    def test_a_second_crash_fails_and_the_next_request_recovers(self):
        lmc = self.lmc("crash.lmc", "crash BOOM", "verified U1")
        with self.bridge(timeout=WAIT) as client:
            with self.assertRaises(sbc.BridgeCrashedError) as raised, \
                    self.assertLogs("status_bridge_client", "WARNING") as logs:
                client.is_verified(lmc, "BOOM")
            self.assertEqual(raised.exception.returncode, -signal.SIGSEGV)
            self.assertRegex(logs.output[0], "restarting")
            self.assertEqual(client.restarts, 1)
            self.assertIs(client.is_verified(lmc, "U1"), True)
            self.assertEqual(client.restarts, 1)
            # A bridge that died while idle is replaced without using up the
            # next request's restart.
            os.kill(client.pid, signal.SIGKILL)
            wait_until_ended(client.pid)
            with self.assertRaises(sbc.BridgeCrashedError):
                client.is_verified(lmc, "BOOM")
            self.assertEqual(client.restarts, 2)
        self.assertEqual([call[0] for call in self.vendor_calls()],
                         ["BOOM", "BOOM", "U1", "BOOM", "BOOM"])
        with self.assertRaises(sbc.BridgeCrashedError) as raised:
            sbc.is_verified_once(lmc, "BOOM", program=PROGRAM, env=self.env)
        self.assertEqual(raised.exception.returncode, -signal.SIGSEGV)
        self.assertEqual(len(self.vendor_calls()), 6)

    def test_a_time_out_kills_the_bridge_and_the_next_request_starts_afresh(
            self):
        lmc = self.lmc("a.lmc", "verified U1", "hang H", "sleep-300 S")
        with self.bridge(timeout=WAIT) as client:
            for name in ("H", "S"):
                with self.subTest(name=name):
                    pid = client.pid
                    started = time.monotonic()
                    with self.assertRaises(sbc.BridgeTimeoutError), \
                            self.assertLogs("status_bridge_client", "WARNING"):
                        client.is_verified(lmc, name, timeout=0.1)
                    self.assertGreaterEqual(time.monotonic() - started, 0.1)
                    self.assertTrue(process_gone(pid))
                    self.assertIs(client.is_verified(lmc, "U1"), True)
            started = time.monotonic()
            self.assertIs(client.is_verified(lmc, "S"), True)
            self.assertGreaterEqual(time.monotonic() - started, 0.3)
            self.assertEqual(client.restarts, 0)
        with self.assertRaises(TimeoutError), \
                self.assertLogs("status_bridge_client", "WARNING"):
            sbc.is_verified_once(lmc, "H", program=PROGRAM, env=self.env,
                                 timeout=0.3)

    def test_the_time_out_covers_the_start_up_check_and_the_start(self):
        # Loading a library from a FIFO blocks until someone writes to it.
        env = dict(self.env, LMCDLL70_PATH=self.fifo("LMCDLL70.dll"))
        lmc = self.lmc("a.lmc", "verified U1")
        for kind, options in ((sbc.StatusBridge, {}),
                              (sbc.StatusBridgePool, {"size": 2})):
            for check in (True, False):
                with self.subTest(kind=kind.__name__, check=check):
                    client = self.bridge(kind, env=env, timeout=WAIT,
                                         check_on_start=check, **options)
                    started = time.monotonic()
                    with self.assertRaises(sbc.BridgeTimeoutError), \
                            self.assertLogs("status_bridge_client", "WARNING"):
                        client.query(lmc, "U1", timeout=0.5)
                    self.assertLess(time.monotonic() - started, 2.0)

    def test_close_and_terminate_end_a_stuck_call_without_waiting(self):
        stuck = self.fifo("stuck.lmc")  # Nobody writes: the vendor blocks.
        for kind in (sbc.StatusBridge, sbc.StatusBridgePool):
            for stop in ("close", "kill", "terminate"):
                with self.subTest(kind=kind.__name__, stop=stop):
                    options = ({"size": 1} if kind is sbc.StatusBridgePool
                               else {})
                    client = self.bridge(kind, timeout=None, **options)
                    calls = len(self.vendor_calls())
                    call, raised = self.in_thread(client.query, stuck, "U1")
                    self.wait_for_vendor_calls(calls + 1)
                    stopper, _ = self.in_thread(getattr(client, stop))
                    stopper.join(WAIT)
                    call.join(WAIT)
                    self.assertFalse(stopper.is_alive() or call.is_alive())
                    self.assertIsInstance(raised[0], sbc.BridgeClosedError)

    def test_the_time_out_bounds_the_wait_for_the_turn_and_the_retry(self):
        slow = self.fifo("slow.lmc")
        lmc = self.lmc("a.lmc", "verified U1")
        with self.bridge(timeout=WAIT) as client:
            first, results = self.in_thread(client.is_verified, slow, "S")
            self.wait_for_vendor_calls(1)
            second, outcome = self.in_thread(client.is_verified, lmc, "U1",
                                             timeout=0.3)
            second.join(WAIT)
            self.assertIsInstance(outcome[0], sbc.BridgeTimeoutError)
            # The call that has the bridge keeps it.
            with open(slow, "w", encoding="utf-8") as writer:
                writer.write("verified S\n")
            first.join(WAIT)
            self.assertEqual(results, [True])
            self.assertEqual(client.restarts, 0)
        # The first attempt crashes after 1 s, the retry never answers: the
        # call ends 1.2 s after it began, not 1.2 s after the restart.
        flaky = self.fifo("flaky.lmc")
        self.serve(flaky, ["crash X\n"], lambda n: time.sleep(1.0) or True)
        with self.bridge(timeout=1.2) as client:
            started = time.monotonic()
            with self.assertRaises(sbc.BridgeTimeoutError), \
                    self.assertLogs("status_bridge_client", "WARNING"):
                client.is_verified(flaky, "X")
            self.assertLess(time.monotonic() - started, 2.0)
            self.assertEqual(client.restarts, 1)


def child_pids():
    """The process ids of this process's children."""
    pids = set()
    for task in os.listdir("/proc/self/task"):
        try:
            with open(f"/proc/self/task/{task}/children",
                      encoding="ascii") as f:
                pids.update(int(pid) for pid in f.read().split())
        except FileNotFoundError:
            pass  # A thread that has ended since.
    return pids


def summary(outcome):
    """A batch outcome as a status or an error class."""
    if isinstance(outcome, sbc.BridgeError):
        return type(outcome)
    return outcome.status


class Interrupted(KeyboardInterrupt):
    """Raised by an alarm in the middle of a call, as Ctrl-C would."""


class LongRunningCallerTest(BridgeTestCase):
    """What services, worker pools and interrupted scripts do to a client."""

    def test_dead_bridges_leave_no_thread_or_pipe_behind(self):
        lmc = self.lmc("crash.lmc", "crash BOOM", "verified U1")
        client = self.bridge(timeout=WAIT, check_on_start=False)
        self.assertIs(client.is_verified(lmc, "U1"), True)
        client.kill()
        before = (threading.active_count(), len(os.listdir("/proc/self/fd")))
        client = self.bridge(timeout=WAIT, check_on_start=False)
        with self.assertLogs("status_bridge_client", "WARNING"):
            for _ in range(10):
                with self.assertRaises(sbc.BridgeCrashedError):
                    client.is_verified(lmc, "BOOM")
        # Threads of earlier tests may end meanwhile, so the counts may
        # fall; 20 dead bridges must not make them grow.
        deadline = time.monotonic() + WAIT

        def grown():
            return (threading.active_count() > before[0]
                    or len(os.listdir("/proc/self/fd")) > before[1])
        while grown() and time.monotonic() < deadline:
            time.sleep(0.01)
        self.assertFalse(grown())

    def test_an_interrupted_one_shot_run_leaves_no_bridge_behind(self):
        children = child_pids()
        self.interrupt_after(0.3)
        with self.assertRaises(Interrupted):
            sbc.is_verified_once(self.lmc("a.lmc", "hang H"), "H",
                                 program=PROGRAM, env=self.env)
        self.assertEqual(child_pids(), children)

    def test_a_forked_child_starts_its_own_bridge(self):
        lmc = self.lmc("a.lmc", "verified U1")
        client = self.bridge(timeout=WAIT)
        client.start()
        parent_bridge = client.pid
        child = os.fork()
        if child == 0:
            try:
                ok = (client.is_verified(lmc, "U1")
                      and client.pid != parent_bridge)
                client.close()
                os._exit(0 if ok else 1)
            finally:
                os._exit(2)
        deadline = time.monotonic() + WAIT
        while os.waitpid(child, os.WNOHANG) == (0, 0):
            if time.monotonic() > deadline:
                os.kill(child, signal.SIGKILL)
                self.fail("the forked child did not finish")
            time.sleep(0.01)
        # (waitpid above reaped it; its status is checked by what it did.)
        self.assertEqual(client.pid, parent_bridge)
        self.assertIs(client.is_verified(lmc, "U1"), True)
        client.close()  # The bridge must see its input end: exit code 0.
        self.assertEqual(len(self.vendor_calls()), 2)

    def test_relative_paths_keep_their_meaning_after_chdir(self):
        lmc = self.lmc("crash.lmc", "crash BOOM", "verified U1")
        env = {k: v for k, v in self.env.items() if k != "LMCDLL70_PATH"}
        before = os.getcwd()
        self.addCleanup(os.chdir, before)
        client = sbc.StatusBridge(os.path.relpath(PROGRAM),
                                  library_path=os.path.relpath(VENDOR),
                                  env=env, timeout=WAIT)
        self.addCleanup(client.kill)
        os.chdir(self.dir)
        with self.assertRaises(sbc.BridgeCrashedError), \
                self.assertLogs("status_bridge_client", "WARNING"):
            client.is_verified(lmc, "BOOM")
        self.assertIs(client.is_verified(lmc, "U1"), True)

    def test_the_bridge_has_a_session_of_its_own(self):
        # So the terminal's Ctrl-C, sent to the caller's process group,
        # does not kill it.
        client = self.bridge()
        client.start()
        self.assertNotEqual(os.getsid(client.pid), os.getsid(0))

    def test_file_names_are_sent_as_the_file_system_encodes_them(self):
        raw = os.fsencode(str(self.dir)) + b"/\xff\xfe-\xe5\x9d.lmc"
        with open(raw, "w", encoding="utf-8") as f:
            f.write("verified U1\n")
        text = os.fsdecode(raw)
        with self.bridge() as client:
            for name in (raw, text, pathlib.Path(text)):
                with self.subTest(name=name):
                    results = [client.query(name, "U1"),
                               client.query_many([(name, "U1")])[0],
                               sbc.query_once(name, "U1", program=PROGRAM,
                                              env=self.env)]
                    for result in results:
                        self.assertEqual((result.status, result.lmc_file),
                                         ("READY", text))
        self.assertEqual(self.vendor_calls(), [("U1", 0, text)] * 9)


class Injector:
    """Raises Interrupted at the `at`-th moment of a call: before and after
    each step that the wrapped functions take."""

    def __init__(self, test):
        self.count = 0
        self.at = None
        steps = [(process.ServerProcess, "send"),
                 (process.ServerProcess, "ready_line"),
                 (process.ServerProcess, "next_line"),
                 (client_module, "parse_answer"),
                 (client_module, "result_from"),
                 (client_module, "request_error")]
        for owner, name in steps:
            patch = unittest.mock.patch.object(
                owner, name, self.wrap(getattr(owner, name)))
            patch.start()
            test.addCleanup(patch.stop)

    def wrap(self, function):
        def wrapped(*args, **kwargs):
            self.tick()
            result = function(*args, **kwargs)
            self.tick()
            return result
        return wrapped

    def tick(self):
        self.count += 1
        if self.count == self.at:
            raise Interrupted()


class InterruptTest(BridgeTestCase):
    """An exception that ends a call early, wherever it lands, costs no
    later call its own answers."""

    KINDS = [("U1",), ("U2",), ("T",), ("",), ("U1", 5), ("S",)]

    def setUp(self):
        super().setUp()
        self.file = self.lmc("a.lmc", "verified U1", "not-verified U2",
                             "throw-int T", "hang H", "sleep-0 S",
                             "sleep-5 S5")
        # More items than a batch writes ahead at a time.
        self.items = [(self.file, *self.KINDS[n % len(self.KINDS)])
                      for n in range(600)]
        self.expected = ["READY", "PENDING", sbc.VendorExceptionError,
                         sbc.RequestRejectedError, "READY", "READY"] * 100

    def answers_right(self, client):
        outcomes = client.query_many(self.items[:12])
        self.assertEqual(list(map(summary, outcomes)), self.expected[:12])
        with self.assertRaises(sbc.VendorExceptionError):
            client.query(self.file, "T")
        self.assertIs(client.is_verified(self.file, "U1"), True)
        self.assertIs(client.is_verified(self.file, "U2"), False)

    def clients(self):
        return [("bridge", self.bridge(timeout=WAIT)),
                ("pool", self.bridge(sbc.StatusBridgePool, size=2,
                                     timeout=WAIT))]

    def test_an_exception_at_any_step_of_a_call_leaves_no_answer_behind(
            self):
        injector = Injector(self)
        for name, client in self.clients():
            calls = {"batch": lambda: client.query_many(self.items),
                     "query": lambda: client.query(self.file, "T")}
            self.answers_right(client)  # Counted on running bridges.
            for call_name, call in calls.items():
                injector.count, injector.at = 0, None
                try:
                    call()
                except sbc.BridgeError:
                    pass
                # How many steps a batch takes depends on how its answers
                # arrive, so later moments may pass without one.
                steps = injector.count
                moments = sorted({1, 2, 3, steps - 1, steps,
                                  *range(1, steps, max(1, steps // 25))})
                hits = 0
                for at in moments:
                    with self.subTest(client=name, call=call_name, at=at):
                        injector.count, injector.at = 0, at
                        try:
                            call()
                        except Interrupted:
                            hits += 1
                        except sbc.BridgeError:
                            pass
                        injector.at = None
                        self.answers_right(client)
                self.assertGreater(hits, len(moments) // 2)

    def test_a_pool_passes_an_interrupt_on_at_once_and_leaves_no_bridge(
            self):
        hang = [(self.file, "U1")] * 10 + [(self.file, "H")] * 3
        cases = {
            "hanging batch": (None, lambda pool: pool.query_many(hang)),
            "slow batch": (WAIT, lambda pool: pool.query_many(
                [(self.file, "S5")] * 2000)),
            "hanging query": (None, lambda pool: pool.query(self.file, "H")),
        }
        for name, (timeout, call) in cases.items():
            with self.subTest(name):
                pool = self.bridge(sbc.StatusBridgePool, size=2,
                                   timeout=timeout)
                pool.start()
                pids = set(pool.pids)
                self.interrupt_after(0.3)
                started = time.monotonic()
                with self.assertRaises(Interrupted):
                    call(pool)
                self.assertLess(time.monotonic() - started, 1.3)
                self.answers_right(pool)
                pids.update(pool.pids)
                pool.close()
                self.assertEqual(pids & child_pids(), set())


class BatchTest(BridgeTestCase):

    def outcome(self, item):
        """An outcome in a form to compare: the status, or the error's class
        and the bridge's message."""
        if isinstance(item, sbc.BridgeError):
            return type(item), item.message, item.block_name
        return item.status, item.block_name, item.lmc_file

    def test_a_batch_answers_each_item_as_query_would(self):
        lmc = self.lmc("a.lmc", "verified U1", "not-verified U2",
                       "throw-int T", "verified-2 R")
        kinds = [("U1",), ("U2",), ("T",), ("",), ("R", "RUL"), ("R", 5),
                 ("other", "LP")]
        # More items than the client writes ahead at a time.
        items = [(lmc, *kinds[n % len(kinds)]) for n in range(1000)]
        expected = []
        with self.bridge() as client:
            for item in items[:len(kinds)]:
                try:
                    expected.append(self.outcome(client.query(*item)))
                except sbc.BridgeError as error:
                    expected.append(self.outcome(error))
        expected *= 1000 // len(kinds) + 1
        for kind, options in ((sbc.StatusBridge, {}),
                              (sbc.StatusBridgePool, {"size": 2})):
            with self.subTest(kind=kind.__name__):
                with self.bridge(kind, **options) as client:
                    outcomes = client.query_many(items)
                    pids = getattr(client, "pids", None) or [client.pid]
                self.assertEqual([self.outcome(o) for o in outcomes],
                                 expected[:len(items)])
                self.assertNotIn(None, pids)
        # Each item once; the empty block name never reaches the vendor.
        self.assertEqual(len(self.vendor_calls()),
                         len(kinds) - 1 + 2 * sum(1 for i in items if i[1]))

    def test_a_crash_or_time_out_costs_only_its_own_item(self):
        lmc = self.lmc("a.lmc", "verified U1", "not-verified U2",
                       "crash BOOM")
        stuck = self.fifo("stuck.lmc")  # Nobody writes: the vendor blocks.
        items = [(lmc, "U1"), (lmc, "BOOM"), (lmc, "U2"), (stuck, "S"),
                 (lmc, "U1")]
        with self.bridge(timeout=WAIT) as client, \
                self.assertLogs("status_bridge_client", "WARNING"):
            outcomes = client.query_many(items, timeout=0.5)
            self.assertEqual(client.restarts, 1)
        self.assertEqual(
            [type(o) if isinstance(o, sbc.BridgeError) else o.status
             for o in outcomes],
            ["READY", sbc.BridgeCrashedError, "PENDING",
             sbc.BridgeTimeoutError, "READY"])
        self.assertEqual(outcomes[1].returncode, -signal.SIGSEGV)
        self.assertEqual([call[0] for call in self.vendor_calls()],
                         ["U1", "BOOM", "BOOM", "U2", "S", "U1"])


class StartFailureTest(BridgeTestCase):

    def test_start_failures_raise_by_returncode_with_the_bridges_message(self):
        # The late modes: the bridge itself finds the fault.
        missing = str(self.dir / "nowhere" / "LMCDLL70.dll")
        cases = [
            ({"LMCDLL70_PATH": missing}, sbc.LibraryLoadError, 2,
             "无法加载 LMCDLL70.dll: " + missing),
            ({"LMCDLL70_PATH": str(VENDOR_NO_EXPORT)}, sbc.ExportMissingError,
             3, "LMCDLL70.dll 中没有 IsVerifiedReuseBlock 导出"),
            ({"ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE": "true"},
             sbc.PrivateCallDisabledError, 4,
             "私有 MFC 状态调用未启用；仅完成导出探测"),
        ]
        lmc = self.lmc("a.lmc", "verified U1")

        def ask_after_it_ended(client):
            client.start()
            wait_until_ended(client.pid)
            client.is_verified(lmc, "U1")

        def late(env):
            return sbc.StatusBridge(PROGRAM, env=env, timeout=WAIT,
                                    check_on_start=False)

        for change, error, returncode, message in cases:
            env = dict(self.env, **change)
            runs = {
                "server": lambda: late(env).is_verified(lmc, "U1"),
                "server-idle": lambda: ask_after_it_ended(late(env)),
                "server-close": lambda: late(env).__enter__().close(),
                "one-shot": lambda: sbc.is_verified_once(
                    lmc, "U1", program=PROGRAM, env=env, timeout=WAIT),
            }
            for mode, run in runs.items():
                with self.subTest(error=error.__name__, mode=mode):
                    with self.assertRaises(error) as raised:
                        run()
                    self.assertEqual(
                        (raised.exception.returncode,
                         raised.exception.message),
                        (returncode, message))
                    if mode in ("server", "one-shot"):
                        self.assertEqual((raised.exception.block_name,
                                          raised.exception.lmc_file),
                                         ("U1", lmc))
        self.assertEqual(self.vendor_calls(), [])

    def test_misconfiguration_raises_when_the_client_starts(self):
        no_opt_in = {k: v for k, v in self.env.items()
                     if k != "ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE"}
        cases = [
            (dict(self.env, LMCDLL70_PATH=str(self.dir / "none.dll")),
             sbc.LibraryLoadError),
            (dict(self.env, LMCDLL70_PATH=str(VENDOR_NO_EXPORT)),
             sbc.ExportMissingError),
            (no_opt_in, sbc.PrivateCallDisabledError),
        ]
        for env, error in cases:
            for kind, options in ((sbc.StatusBridge, {}),
                                  (sbc.StatusBridgePool, {"size": 2})):
                with self.subTest(error=error.__name__, kind=kind.__name__):
                    client = self.bridge(kind, env=env, **options)
                    with self.assertRaises(error):
                        client.start()
                    pids = getattr(client, "pids", None) or [client.pid]
                    self.assertEqual(set(pids), {None})
        with self.assertRaises(sbc.ExportMissingError):
            self.bridge(library_path=VENDOR_NO_EXPORT).probe()
        with sbc.StatusBridge(PROGRAM, env=no_opt_in,
                              private_call=True) as client:
            client.probe()
            self.assertIs(client.is_verified(self.lmc("a.lmc"), "U1"), False)


class PoolTest(BridgeTestCase):

    def test_requests_go_to_free_bridges_with_the_same_rules(self):
        slow = [self.fifo(f"slow{n}.lmc") for n in range(2)]
        lmc = self.lmc("a.lmc", "verified U1", "crash BOOM", "throw-int T")
        with self.bridge(sbc.StatusBridgePool, size=2, timeout=WAIT) as pool:
            # Both bridges wait for the vendor at once.
            waiting = [self.in_thread(pool.is_verified, fifo, "S")
                       for fifo in slow]
            self.wait_for_vendor_calls(2)
            for fifo in slow:
                with open(fifo, "w", encoding="utf-8") as writer:
                    writer.write("verified S\n")
            for thread, outcome in waiting:
                thread.join(WAIT)
                self.assertEqual(outcome, [True])
            self.assertEqual(len(set(pool.pids)), 2)
            with self.assertRaises(sbc.BridgeCrashedError), \
                    self.assertLogs("status_bridge_client", "WARNING"):
                pool.is_verified(lmc, "BOOM")
            self.assertEqual(pool.restarts, 1)
            with self.assertRaises(sbc.VendorExceptionError):
                pool.is_verified(lmc, "T")
            askers = [self.in_thread(lambda: [pool.query(lmc, "U1").status
                                              for _ in range(200)])
                      for _ in range(4)]
            for thread, outcome in askers:
                thread.join(WAIT)
                self.assertEqual(outcome, [["READY"] * 200])


class LibraryTest(BridgeTestCase):

    def test_a_dropped_client_ends_its_bridges_with_a_warning(self):
        for kind, options in ((sbc.StatusBridge, {}),
                              (sbc.StatusBridgePool, {"size": 2})):
            with self.subTest(kind=kind.__name__):
                client = kind(PROGRAM, env=self.env, **options)
                client.start()
                pids = getattr(client, "pids", None) or [client.pid]
                with self.assertWarns(ResourceWarning):
                    del client
                    gc.collect()
                self.assertTrue(all(map(process_gone, pids)))

    def test_it_behaves_as_a_typed_python_library(self):
        cmake = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
        package = pathlib.Path(sbc.__file__).parent
        public = [sbc.StatusBridge, sbc.StatusBridgePool, sbc.query_once,
                  sbc.is_verified_once,
                  *(f for _, f in inspect.getmembers(sbc.StatusBridge)),
                  *(f for _, f in inspect.getmembers(sbc.StatusBridgePool))]
        client = self.bridge()
        checks = {
            "version": lambda: re.search(
                r"project\([^)]*VERSION (\S+)", cmake).group(1)
            == sbc.__version__,
            "py.typed": (package / "py.typed").is_file,
            "TimeoutError": lambda: issubclass(sbc.BridgeTimeoutError,
                                               TimeoutError),
            "no Ellipsis in help()": lambda: not any(
                "Ellipsis" in str(inspect.signature(f))
                for f in public if inspect.isfunction(f)),
            "repr": lambda: str(PROGRAM) in repr(client)
            and f"pid={client.pid}" in repr(client),
        }
        client.start()
        for name, check in checks.items():
            with self.subTest(name):
                self.assertTrue(check())


class ReadmeTest(unittest.TestCase):

    def test_the_usage_example_prints_what_the_readme_says(self):
        readme = (ROOT / "clients/python/README.md").read_text(
            encoding="utf-8")
        script = re.search(r"```sh\n(export PATH=.*?\nEOF\n)```", readme,
                           re.S).group(1)
        expected = re.search(r"It prints:\n\n```text\n(.*?)```", readme,
                             re.S).group(1)
        build = os.path.relpath(PROGRAM.parent, ROOT)
        if build != "build/dev":
            # Another build than the README's: point the script at it.
            script = script.replace(
                '"$PWD/build/dev/standin/status_library/LMCDLL70.dll"',
                f'"{VENDOR}"')
            script = script.replace("$PWD/build/dev", str(PROGRAM.parent))
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("ORVEK_")}
        run = subprocess.run(["/bin/sh", "-c", "set -e\n" + script], cwd=ROOT,
                             env=env, capture_output=True, timeout=60,
                             check=False)
        self.assertEqual(run.returncode, 0, run.stderr.decode())
        self.assertEqual(run.stdout.decode("utf-8"), expected)


if __name__ == "__main__":
    unittest.main()
