"""The exceptions of the client, and which one each bridge message raises."""

from __future__ import annotations

from typing import Dict, Optional, Tuple, Type

# The bridge's exit codes.
EXIT_OK = 0
EXIT_LOAD_FAILED = 2
EXIT_EXPORT_MISSING = 3
EXIT_PRIVATE_CALL_DISABLED = 4

# The bridge's error messages, byte for byte.
LOAD_FAILED_PREFIX = "无法加载 LMCDLL70.dll: "
EXPORT_MISSING_MESSAGE = "LMCDLL70.dll 中没有 IsVerifiedReuseBlock 导出"
PRIVATE_CALL_DISABLED_MESSAGE = "私有 MFC 状态调用未启用；仅完成导出探测"
MISSING_REQUEST_MESSAGE = "缺少 JSON 请求"
INVALID_REQUEST_MESSAGE = (
    "请求必须包含 op=is_verified、request_id、lmc_file 和 block_name")
VENDOR_EXCEPTION_MESSAGE = "调用 Mentor 私有状态函数时发生异常"
EMPTY_REQUEST_MESSAGE = "空请求"
CODE_PAGE_MESSAGE = "lmc_file 或 block_name 含有本机 ANSI 代码页无法表示的字符"


class BridgeError(Exception):
    """Any failure of a request through the bridge.

    ``str(error)`` is an English description. ``message`` is the bridge's
    own error text, unchanged, when it sent one, otherwise None;
    ``returncode`` is the bridge's exit status when its run ended (negative:
    killed by that signal), otherwise None. ``block_name`` and ``lmc_file``
    name the request that failed, where the failure belongs to one.
    """

    def __init__(self, description: str, message: Optional[str] = None,
                 returncode: Optional[int] = None, *,
                 block_name: Optional[str] = None,
                 lmc_file: Optional[str] = None) -> None:
        super().__init__(description)
        self.description = description
        self.message = message
        self.returncode = returncode
        self.block_name = block_name
        self.lmc_file = lmc_file

    def __str__(self) -> str:
        if self.block_name is None and self.lmc_file is None:
            return self.description
        return (f"{self.description} (block {self.block_name!r} in "
                f"{self.lmc_file!r})")


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


class CodePageError(RequestRejectedError):
    """The Windows bridge cannot pass the file or block name to the vendor:
    a character has no form in the machine's ANSI code page. The vendor was
    not called; the bridge carries on."""


class VendorExceptionError(BridgeError):
    """The vendor call threw; the bridge itself carries on."""


class BridgeCrashedError(BridgeError):
    """The bridge died without answering, also after its one restart."""


class BridgeTimeoutError(BridgeError, TimeoutError):
    """No answer within the time-out; the bridge was killed (unless the
    call was still waiting for its turn)."""


class BridgeProtocolError(BridgeError):
    """An answer that does not fit the request; the bridge was killed."""


class BridgeClosedError(BridgeError):
    """The client was closed: before the request, or while it waited for
    its answer (the bridge was then killed)."""


_START_ERRORS: Dict[int, Type[BridgeStartError]] = {
    EXIT_LOAD_FAILED: LibraryLoadError,
    EXIT_EXPORT_MISSING: ExportMissingError,
    EXIT_PRIVATE_CALL_DISABLED: PrivateCallDisabledError,
}

# Each message of a request that was read, with its class and description.
_REQUEST_ERRORS: Dict[str, Tuple[Type[BridgeError], str]] = {
    VENDOR_EXCEPTION_MESSAGE: (
        VendorExceptionError, "the vendor's status function threw an "
        "exception"),
    INVALID_REQUEST_MESSAGE: (
        RequestRejectedError, "the bridge rejected the request: it needs "
        "op=is_verified, request_id, lmc_file and block_name, each a "
        "non-empty string"),
    EMPTY_REQUEST_MESSAGE: (
        RequestRejectedError, "the bridge rejected an empty request"),
    MISSING_REQUEST_MESSAGE: (
        RequestRejectedError, "the bridge received no request"),
    CODE_PAGE_MESSAGE: (
        CodePageError, "the LMC file or block name holds a character that "
        "the machine's ANSI code page cannot represent; the vendor was not "
        "called"),
}


def is_start_exit(returncode: Optional[int]) -> bool:
    """True for the exit codes of a run that ended before any request."""
    return returncode in _START_ERRORS


def is_start_message(message: str) -> bool:
    """True for the messages with which a run ends before any request."""
    return (message.startswith(LOAD_FAILED_PREFIX)
            or message in (EXPORT_MISSING_MESSAGE,
                           PRIVATE_CALL_DISABLED_MESSAGE))


def start_error(message: Optional[str],
                returncode: Optional[int]) -> BridgeStartError:
    """The exception for a run that ended before taking requests."""
    error_class: Type[BridgeStartError] = BridgeStartError
    if returncode is not None and returncode in _START_ERRORS:
        error_class = _START_ERRORS[returncode]
    elif message is not None and message.startswith(LOAD_FAILED_PREFIX):
        error_class = LibraryLoadError
    elif message == EXPORT_MISSING_MESSAGE:
        error_class = ExportMissingError
    elif message == PRIVATE_CALL_DISABLED_MESSAGE:
        error_class = PrivateCallDisabledError
    description = {
        LibraryLoadError: "the vendor library could not be loaded",
        ExportMissingError: "the vendor library has no status export",
        PrivateCallDisabledError: "the private status call is not enabled",
    }.get(error_class, "status-bridge did not start")
    text = message if message is not None else "no message"
    return error_class(f"{description} (exit code {returncode}): {text}",
                       message, returncode)


def request_error(message: str, returncode: Optional[int] = None, *,
                  block_name: Optional[str] = None,
                  lmc_file: Optional[str] = None) -> BridgeError:
    """The exception for an error answer to a request that was read."""
    error_class, description = _REQUEST_ERRORS.get(
        message, (BridgeError, "status-bridge answered with an error"))
    return error_class(f"{description}: {message}", message, returncode,
                       block_name=block_name, lmc_file=lmc_file)


def ending(returncode: Optional[int]) -> str:
    """How a run ended, in words."""
    if returncode is not None and returncode < 0:
        return f"killed by signal {-returncode}"
    return f"exit code {returncode}"
