#pragma once

// The stand-in vendor library's behaviour, kept free of any runtime library
// so that every build of the stand-in (including one without a C runtime)
// shares it.
//
// An LMC file for the stand-in is text with one rule per line:
//
//   <outcome> <block name>
//
// The outcome is one of the words below; the block name is every byte after
// the first blank up to the line end (a CR before the LF is not part of it).
// A name of "*" matches every block. The first rule that matches decides;
// blank lines, lines starting with '#' and lines with another outcome word
// are skipped. A block that no rule names, and every block of an LMC file
// that cannot be read, is not verified.
//
// Two outcomes take time, so that callers can test their time-outs and pools:
// "sleep-<milliseconds>" (decimal digits, at most 86400000, a day) waits that
// long and then returns true; "hang" never returns: the call waits until the
// process is killed. A "sleep-" word with anything else after the dash is no
// outcome word.

#include <stddef.h>
#include <stdint.h>

namespace standin {

// The MSVC-ABI build of the stand-in (status_export_msvc.cpp) differs in two
// outcomes: "verified-2" returns true, since its export returns a C++ bool,
// and the two throw outcomes raise the structured exception of an MSVC C++
// throw (0xE06D7363), which no mingw-built caller can catch.
enum class Outcome {
  kNotVerified,  // "not-verified": the export returns false.
  kVerified,     // "verified": the export returns true (the byte 1).
  kVerifiedTwo,  // "verified-2": the export returns the byte 2.
  kThrowClass,   // "throw-class": the export throws an exception object.
  kThrowInt,     // "throw-int": the export throws an int.
  kCrash,        // "crash": the export writes through a null pointer.
  // "print-stdio": the export prints kStandardOutputNote to standard output
  // through its C runtime's stdio, then returns true.
  kPrintStdio,
  // "print-handle": the export writes kStandardOutputNote to the standard
  // output handle itself (descriptor 1 on POSIX, GetStdHandle on Windows),
  // then returns true. The build without a C runtime does this for
  // "print-stdio" too.
  kPrintHandle,
  kSleep,  // "sleep-<milliseconds>": waits, then returns true.
  kHang,   // "hang": waits until the process is killed.
};

// The longest wait a "sleep-" rule may ask for: a day.
inline constexpr uint32_t kMaxSleepMilliseconds = 86400000;

// What the first matching rule decides: the outcome and, for kSleep, how
// long to wait.
struct Rule {
  Outcome outcome;
  uint32_t milliseconds;
};

// What the two print outcomes write: a line that is no answer, as a library
// that prints a diagnostic during a call would write.
// Not inline: an inline variable is a unique symbol, which would keep the
// library loaded after it is released.
constexpr char kStandardOutputNote[] =
    "stand-in status library: a diagnostic on standard output\n";

// The rule for `block_name` (NUL-terminated) under the rules `text`.
Rule FindRule(const char* text, size_t length, const char* block_name);

// Receives pieces of a call record.
using Emit = void (*)(const char* bytes, size_t length, void* context);

// Emits the log record of one call, as one line:
//   name=<block name> type=<block type> lmc=<LMC file>
// Bytes of the names outside '!'..'~', and '%', are written as %XX.
void EmitCallRecord(const char* block_name, int32_t block_type,
                    const char* lmc_file, Emit emit, void* context);

}  // namespace standin
