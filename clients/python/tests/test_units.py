"""Tests of status_bridge_client that need no bridge: the wire format, the
reader's line splitting and the bridge's environment."""

import json
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(
    __file__))))

import status_bridge_client as sbc  # noqa: E402
from status_bridge_client import process, wire  # noqa: E402

ANSWER = {"ok": True, "request_id": "1", "block_name": "U1",
          "lmc_file": "a.lmc", "status": "READY",
          "source": "IsVerifiedReuseBlock", "raw_status": 1}


class WireTest(unittest.TestCase):

    def test_requests_carry_only_the_escapes_the_bridge_decodes(self):
        for value in ["U1", '"\\/\n\r\t\b\f', "\x01\x1f\x7f é 块 😀 \u2028",
                      'x"block_type":"RUL']:
            with self.subTest(value=value):
                line = sbc.encode_request("1", value, value, value)
                self.assertEqual(line.count(b"\n"), 1)
                self.assertEqual(
                    json.loads(line.decode("utf-8"), strict=False),
                    {"op": "is_verified", "request_id": "1",
                     "lmc_file": value, "block_name": value,
                     "block_type": value})
                self.assertLessEqual(set(re.findall(rb"\\(.)", line)),
                                     set(re.findall(rb".", b'"\\/bfnrt')))

    def test_block_types_and_values_no_request_can_carry(self):
        # (block name, lmc file, block type, the block_type sent or error)
        cases = [
            ("U1", "a.lmc", None, None),
            ("U1", "a.lmc", "RUL", "RUL"),
            ("U1", "a.lmc", 7, "7"),
            ("U1", "a.lmc", -12, "-12"),
            ("U1", b"\xff.lmc", None, None),
            ("U1", "a.lmc", True, TypeError),
            ("U1", "a.lmc", 1.5, TypeError),
            (b"U1", "a.lmc", None, TypeError),
            ("U1\x00X", "a.lmc", None, ValueError),
            ("U1", "a\x1a.lmc", None, ValueError),
            ("U\ud800", "a.lmc", None, ValueError),
        ]
        for name, lmc, block_type, expected in cases:
            with self.subTest(name=name, lmc=lmc, block_type=block_type):
                if isinstance(expected, type):
                    with self.assertRaises(expected):
                        sbc.encode_request("1", lmc, name, block_type)
                    continue
                line = sbc.encode_request("1", lmc, name, block_type)
                sent = json.loads(line.decode("utf-8", "surrogateescape"))
                self.assertEqual(sent.get("block_type"), expected)

    def test_answers_that_do_not_fit_their_request_are_refused(self):
        request = wire.make_request("1", "a.lmc", "U1", None)
        # (change to the fitting answer, or a whole line instead; refused?)
        cases = [
            ({}, None, False),
            ({"status": "PENDING", "raw_status": 0}, None, False),
            ({"request_id": "someone-else"}, None, True),
            ({"block_name": "U2"}, None, True),
            ({"lmc_file": "other.lmc"}, None, True),
            ({"raw_status": 0}, None, True),
            ({"raw_status": True}, None, True),
            ({"source": "Other"}, None, True),
            ({}, b"not json", True),
            ({}, b'{"ok":false}', True),
            ({}, b'{"ok":1}', True),
            ({}, b"[1]", True),
        ]
        for change, line, refused in cases:
            with self.subTest(change=change, line=line):
                if line is None:
                    line = json.dumps(dict(ANSWER, **change)).encode()

                def check():
                    answer = wire.parse_answer(line)
                    return wire.result_from(answer, request)
                if refused:
                    self.assertRaises(sbc.BridgeProtocolError, check)
                else:
                    self.assertEqual(check().verified,
                                     change.get("raw_status", 1) == 1)

    def test_answers_keep_raw_bytes_and_drop_only_the_line_end(self):
        raw = (b'{"ok":true,"request_id":"1","block_name":"\x01\xff",'
               b'"lmc_file":"a\\r\\n"}')
        for end in (b"", b"\n", b"\r\n"):
            with self.subTest(end=end):
                answer = wire.parse_answer(wire.strip_line_end(raw + end))
                self.assertEqual((answer["block_name"], answer["lmc_file"]),
                                 (os.fsdecode(b"\x01\xff"), "a\r\n"))


class LineBufferTest(unittest.TestCase):

    def test_lines_come_out_whole_however_the_bytes_arrive(self):
        data = b"first\nsecond line\r\n\n" + b"x" * 1000 + b"\nrest"
        expected = [b"first", b"second line\r", b"", b"x" * 1000]
        for size in (1, 2, 5, 64, len(data)):
            with self.subTest(size=size):
                buffer = process.LineBuffer()
                lines = []
                for at in range(0, len(data), size):
                    lines += buffer.feed(data[at:at + size])
                self.assertEqual((lines, buffer.rest()), (expected, b"rest"))


class EnvironmentTest(unittest.TestCase):

    def test_the_library_folder_goes_first_on_a_windows_bridges_path(self):
        library = "/opt/vendor/LMCDLL70.dll"
        # (environment, Windows?, add the folder?, PATH the bridge gets)
        cases = [
            ({"Path": "/bin"}, True, True, ("Path", "/opt/vendor;/bin")),
            ({}, True, True, ("PATH", "/opt/vendor")),
            ({"PATH": "/bin"}, True, False, ("PATH", "/bin")),
            ({"PATH": "/bin"}, False, True, ("PATH", "/bin")),
        ]
        for env, windows, add, (key, path) in cases:
            with self.subTest(env=env, windows=windows, add=add):
                result = process.environment(env, library, True, add,
                                             windows=windows)
                self.assertEqual(
                    (result[key], result["LMCDLL70_PATH"],
                     result["ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE"]),
                    (path, library, "1"))


if __name__ == "__main__":
    unittest.main()
