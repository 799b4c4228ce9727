#pragma once

namespace status_bridge {

// The environment variable that switches tracing on when it is exactly "1".
inline constexpr char kTraceVariable[] = "ORVEK_STATUS_BRIDGE_TRACE";

// Writes "[status-bridge] <event>" as one line to standard error and flushes
// it, when tracing is on; the variable is read afresh on every call. Never
// fails and never changes the course of a run.
void Trace(const char* event);

}  // namespace status_bridge
