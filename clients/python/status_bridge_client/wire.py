"""The wire format: request lines out, answer lines in.

Requests: one JSON object a line, its members in a fixed order, every value
a string. The bridge decodes the short escapes ``\\" \\\\ \\/ \\b \\f \\n
\\r \\t`` and no others (a ``\\u`` escape reads as an empty value), so the
encoder writes exactly the escapes it needs among those and sends every
other character as it is: text as UTF-8, a file name as the bytes that
os.fsencode gives (which need not be UTF-8 on POSIX).

Answers: JSON objects that escape only LF, CR, the quote and the backslash
and echo the request's values byte for byte. They are read with
``json.loads(..., strict=False)`` so that raw control bytes pass, after
decoding with "surrogateescape" so that bytes that are not UTF-8 come back
as the same surrogate escapes that os.fsdecode gives.
"""

from __future__ import annotations

import dataclasses
import enum
import json
import os
import re
from typing import Any, Dict, NamedTuple, Optional, Tuple, Union

from .errors import BridgeProtocolError

# A file name as a caller may give it.
FileName = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
BlockType = Union[str, int, None]

SOURCE = "IsVerifiedReuseBlock"


class Status(str, enum.Enum):
    """A block's status; equal to its text ("READY", "PENDING")."""

    READY = "READY"
    PENDING = "PENDING"

    def __str__(self) -> str:
        return self.value


@dataclasses.dataclass(frozen=True)
class VerificationResult:
    """One success answer: the echoed request and the block's status.

    It has no truth value: ``if result:`` raises TypeError, since any answer
    object would be true, PENDING ones included. Test ``result.verified``.
    ``lmc_file`` is the file name as a str (os.fsdecode's form of the bytes
    sent).
    """

    request_id: str
    block_name: str
    lmc_file: str
    verified: bool
    status: Status
    raw_status: int  # 1 or 0

    def __bool__(self) -> bool:
        raise TypeError("a VerificationResult has no truth value: test its "
                        "'verified' attribute, or call is_verified()")


# Bytes that no request can carry faithfully:
# NUL: the vendor receives the value cut at the first NUL, while the answer
#   echoes all of it, so the result would be for another name than shown;
# SUB (0x1A): the Windows build reads its input in text mode, where this byte
#   ends the input in the middle of the request.
_REFUSED = re.compile(b"[\\x00\\x1a]")
_REFUSED_LABELS = {b"\x00": "NUL", b"\x1a": "SUB (0x1A)"}
# The control characters with a short escape, which the bridge decodes.
_CONTROL = re.compile(b"[\n\r\t\b\f]")
_CONTROL_ESCAPES = ((b"\n", b"\\n"), (b"\r", b"\\r"), (b"\t", b"\\t"),
                    (b"\b", b"\\b"), (b"\f", b"\\f"))
# Any byte that needs an escape or is refused. A Windows path has
# backslashes, other values seldom anything.
_SPECIAL = re.compile(b'[\\\\"\n\r\t\b\f\x00\x1a]')

_LINE = (b'{"op":"is_verified","request_id":"%s","lmc_file":"%s",'
         b'"block_name":"%s"}\n')
_LINE_WITH_TYPE = (b'{"op":"is_verified","request_id":"%s","lmc_file":"%s",'
                   b'"block_name":"%s","block_type":"%s"}\n')


def _escape(name: str, value: bytes) -> bytes:
    """`value` escaped for the inside of a quoted request value. The
    replacements run in C, so long values cost little."""
    if _SPECIAL.search(value) is None:
        return value
    refused = _REFUSED.search(value)
    if refused is not None:
        raise ValueError(f"{name} contains {_REFUSED_LABELS[refused.group()]}"
                         ", which a request cannot carry")
    # The backslash first, so that the escapes added later stay as they are.
    value = value.replace(b"\\", b"\\\\").replace(b'"', b'\\"')
    if _CONTROL.search(value) is not None:
        for raw, escape in _CONTROL_ESCAPES:
            value = value.replace(raw, escape)
    return value


def _text_bytes(name: str, value: object) -> bytes:
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {type(value).__name__}")
    try:
        return value.encode("utf-8")
    except UnicodeEncodeError as error:
        bad = error.object[error.start]
        raise ValueError(f"{name} contains the unpaired surrogate "
                         f"U+{ord(bad):04X}, which has no UTF-8 "
                         "form") from None


def _file_name_bytes(lmc_file: object) -> bytes:
    """The bytes a request carries for the file name `lmc_file`: str, bytes
    or a path object, as os.fsencode gives them."""
    if isinstance(lmc_file, bytes):
        return lmc_file
    if not isinstance(lmc_file, (str, os.PathLike)):
        raise TypeError("lmc_file must be a str, bytes or path object, not "
                        f"{type(lmc_file).__name__}")
    try:
        return os.fsencode(lmc_file)
    except UnicodeEncodeError as error:
        raise ValueError(f"lmc_file cannot be encoded as a file name: "
                         f"{error}") from None


def decode_echo(value: bytes) -> str:
    """A value's bytes as an answer that echoes them reads back."""
    return value.decode("utf-8", "surrogateescape")


def block_type_text(block_type: BlockType) -> Optional[str]:
    """Returns the block type as the string a request carries, or None."""
    if isinstance(block_type, bool):
        raise TypeError("block_type must be a str or an int, not bool")
    if isinstance(block_type, int):
        return str(block_type)
    if block_type is not None and not isinstance(block_type, str):
        raise TypeError("block_type must be a str or an int, not "
                        f"{type(block_type).__name__}")
    return block_type


def _line(request_id: str, lmc_file: bytes, block_name: str,
          block_type: Optional[str]) -> bytes:
    """The request line; `lmc_file` is escaped already."""
    values = (_escape("request_id", _text_bytes("request_id", request_id)),
              lmc_file,
              _escape("block_name", _text_bytes("block_name", block_name)))
    if block_type is None:
        return _LINE % values
    return _LINE_WITH_TYPE % (*values, _escape(
        "block_type", _text_bytes("block_type", block_type)))


def encode_request(request_id: str, lmc_file: FileName, block_name: str,
                   block_type: BlockType = None) -> bytes:
    """Returns the request line (bytes ending in LF) for one query.

    `block_type` is a str, an int (sent as its decimal string) or None,
    which leaves the key out. Raises TypeError or ValueError for
    values no request can carry. Time and memory grow linearly with the
    values' length.
    """
    return _line(request_id,
                 _escape("lmc_file", _file_name_bytes(lmc_file)),
                 block_name, block_type_text(block_type))


class Request(NamedTuple):
    """One request: its line and what a success answer must echo."""

    request_id: str
    block_name: str
    lmc_file: str
    line: bytes


# A file name as a request carries it (escaped) and as its answer echoes it.
FileForms = Tuple[bytes, str]


def file_forms(lmc_file: FileName) -> FileForms:
    raw = _file_name_bytes(lmc_file)
    return _escape("lmc_file", raw), decode_echo(raw)


def make_request(request_id: str, lmc_file: FileName, block_name: str,
                 block_type: BlockType,
                 files: Optional[Dict[Union[str, bytes], FileForms]] = None
                 ) -> Request:
    """Encodes one query; raises TypeError or ValueError as encode_request.
    `files` keeps the forms of the file names met so far, for a batch that
    asks about many blocks of one file."""
    if files is not None and isinstance(lmc_file, (str, bytes)):
        forms = files.get(lmc_file) or files.setdefault(
            lmc_file, file_forms(lmc_file))
    else:
        forms = file_forms(lmc_file)
    line = _line(request_id, forms[0], block_name,
                 block_type_text(block_type))
    return Request(request_id, block_name, forms[1], line)


def strip_line_end(raw: bytes) -> bytes:
    """Drops the LF, and the CR that a Windows bridge writes before it.

    A CR inside a value always arrives escaped, so a raw one can only be part
    of the line end.
    """
    if raw.endswith(b"\n"):
        raw = raw[:-1]
    if raw.endswith(b"\r"):
        raw = raw[:-1]
    return raw


# strict=False lets the raw control bytes that answers carry pass.
_DECODER = json.JSONDecoder(strict=False)


def parse_answer(raw: bytes) -> Dict[str, Any]:
    """Decodes one answer line (without its line end) into a dict.

    Raises BridgeProtocolError when it is not a JSON object with a boolean
    "ok" member, or an error answer without a message.
    """
    try:
        answer = _DECODER.decode(decode_echo(raw))
    except ValueError as error:
        raise BridgeProtocolError(
            f"unreadable answer from status-bridge: {raw!r} "
            f"({error})") from None
    if not isinstance(answer, dict) or not isinstance(answer.get("ok"), bool):
        raise BridgeProtocolError(f"unexpected answer from status-bridge: "
                                  f"{raw!r}")
    if not answer["ok"] and not isinstance(answer.get("error"), str):
        raise BridgeProtocolError(f"error answer without a message: {raw!r}")
    return answer


def error_message_of(raw: Optional[bytes]) -> Optional[str]:
    """The message of an error answer line, or None for anything else."""
    if raw is None:
        return None
    try:
        answer = parse_answer(raw)
    except BridgeProtocolError:
        return None
    message: Optional[str] = None if answer["ok"] else answer["error"]
    return message


_STATUSES: Dict[Tuple[Any, Any], Status] = {
    ("READY", 1): Status.READY,
    ("PENDING", 0): Status.PENDING,
}


def result_from(answer: Dict[str, Any],
                request: Request) -> VerificationResult:
    """Checks a success answer against its request; returns the result."""
    echoed = (answer.get("request_id"), answer.get("block_name"),
              answer.get("lmc_file"))
    if echoed != (request.request_id, request.block_name, request.lmc_file):
        raise BridgeProtocolError(
            f"answer does not match request {request.request_id!r}: echoed "
            f"request_id={echoed[0]!r} block_name={echoed[1]!r} "
            f"lmc_file={echoed[2]!r}", block_name=request.block_name,
            lmc_file=request.lmc_file)
    raw_status = answer.get("raw_status")
    status = (None if isinstance(raw_status, bool)
              or answer.get("source") != SOURCE
              else _STATUSES.get((answer.get("status"), raw_status)))
    if status is None:
        raise BridgeProtocolError(f"inconsistent success answer: {answer!r}",
                                  block_name=request.block_name,
                                  lmc_file=request.lmc_file)
    return VerificationResult(request_id=request.request_id,
                              block_name=request.block_name,
                              lmc_file=request.lmc_file,
                              verified=status is Status.READY, status=status,
                              raw_status=int(status is Status.READY))
