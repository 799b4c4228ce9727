"""Client for status-bridge: asks whether a reuse block is verified.

Standard library only. Ways in:

* ``StatusBridge``: one long-lived bridge in server mode ("--server"), many
  requests, a time-out per call and one restart when the bridge dies;
  ``query_many`` sends a batch written ahead of its answers;
* ``StatusBridgePool``: several such bridges, each request sent to a free
  one, for callers that ask from several threads at once;
* ``is_verified_once`` and ``query_once``: one bridge run in one-shot mode
  for one request.

``is_verified`` returns a bool, True only for READY; ``query`` returns the
whole answer as a ``VerificationResult``. Failures raise a ``BridgeError``
subclass that keeps the bridge's own message, the request's block and file
and, where the run ended, its exit status (``returncode``).

The modules: ``errors`` (the exceptions), ``wire`` (requests and answers),
``process`` (the bridge as a process), ``client`` (StatusBridge and one-shot
runs) and ``pool`` (StatusBridgePool). The bridge's standard error goes to
the logger "status_bridge_client".
"""

from .client import (DEFAULT_PROGRAM, DEFAULT_TIMEOUT, StatusBridge,
                     is_verified_once, query_once)
from .errors import (BridgeClosedError, BridgeCrashedError, BridgeError,
                     BridgeProtocolError, BridgeStartError,
                     BridgeTimeoutError, CodePageError, ExportMissingError,
                     LibraryLoadError, PrivateCallDisabledError,
                     RequestRejectedError, VendorExceptionError)
from .pool import StatusBridgePool
from .wire import Status, VerificationResult, encode_request

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
    "CodePageError",
    "ExportMissingError",
    "LibraryLoadError",
    "PrivateCallDisabledError",
    "RequestRejectedError",
    "Status",
    "StatusBridge",
    "StatusBridgePool",
    "VendorExceptionError",
    "VerificationResult",
    "encode_request",
    "is_verified_once",
    "query_once",
]
