#pragma once

// The process exit codes; 1 and every value above 6 never occur.
namespace status_bridge {

// The run ended as intended (echo, probe, answered request, end of input).
inline constexpr int kExitOk = 0;
// The vendor library could not be loaded, or MFC, in which it runs, could
// not be initialised.
inline constexpr int kExitLoadFailed = 2;
// The vendor library lacks the status export.
inline constexpr int kExitExportMissing = 3;
// The private status call was not enabled.
inline constexpr int kExitPrivateCallDisabled = 4;
// No request line could be read.
inline constexpr int kExitNoRequest = 5;
// The request line was missing a required field or had the wrong operation.
inline constexpr int kExitInvalidRequest = 6;

}  // namespace status_bridge
