#pragma once

namespace status_bridge {

// The environment variable that switches tracing on when it is exactly "1".
inline constexpr char kTraceVariable[] = "ORVEK_STATUS_BRIDGE_TRACE";

// Writes "[status-bridge] <event>" as one line to standard error at once,
// when tracing is on; the variable is read afresh on every call. Allocates
// nothing, never fails and never changes the course of a run.
void Trace(const char* event);

}  // namespace status_bridge
