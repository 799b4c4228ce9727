// Hostile input for the server: huge lines, random bytes, malformed UTF-8,
// carriage returns, floods of empty lines, repeated keys and every escape.
// Whatever arrives, each input line gets exactly one answer line, in order,
// and each answer is one line.

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

constexpr size_t kMiB = size_t{1} << 20;

// `text` with every byte outside printable ASCII as \xHH, cut to `limit`.
std::string Printable(const std::string& text, size_t limit = 160) {
  std::string out;
  for (size_t i = 0; i < text.size() && i < limit; ++i) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      out.push_back(static_cast<char>(byte));
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
      out += escaped;
    }
  }
  if (text.size() > limit) {
    out += "... (" + std::to_string(text.size()) + " bytes)";
  }
  return out;
}

// Expects `out` to be exactly the lines `answers`, each ended by the target's
// line end. On a difference it names the first line that differs instead of
// printing megabytes.
void ExpectAnswers(const std::string& out,
                   const std::vector<std::string>& answers,
                   const std::string& what) {
  const std::string& end = GetTarget().line_end;
  size_t pos = 0;
  for (size_t i = 0; i < answers.size(); ++i) {
    size_t line_end = out.find(end, pos);
    if (line_end == std::string::npos) {
      ADD_FAILURE() << what << ": " << answers.size() << " answers expected, "
                    << i << " complete lines written; the rest is ["
                    << Printable(out.substr(pos)) << "]";
      return;
    }
    std::string line = out.substr(pos, line_end - pos);
    if (line != answers[i]) {
      ADD_FAILURE() << what << ": answer " << i << " is [" << Printable(line)
                    << "], expected [" << Printable(answers[i]) << "]";
      return;
    }
    pos = line_end + end.size();
  }
  EXPECT_EQ(pos, out.size())
      << what << ": more than " << answers.size() << " answers: ["
      << Printable(out.substr(pos)) << "]";
}

// The answer to a line that is no valid request: empty lines get their own.
std::string RefusalOf(const std::string& line) {
  return ErrorLine(line.empty() ? kEmptyRequest : kInvalidRequest);
}

// Each test has an LMC file whose rules verify every block.
class HostileInputTest : public ::testing::Test {
 protected:
  HostileInputTest()
      : lmc_(TargetPath(dir_.Write("rules.lmc", "verified *\n"))) {}

  ScratchDir dir_;
  std::string lmc_;
};

// A block name of `size` bytes that the request carries unescaped.
std::string HugeBlockName(size_t size) {
  std::string name(size, 'B');
  for (size_t i = 0; i < name.size(); i += 4099) {
    name[i] = static_cast<char>('a' + i % 26);
  }
  return name;
}

TEST_F(HostileInputTest, HugeLinesAreAnsweredInAFewTimesTheirSize) {
  // The largest line is a valid request whose block name fills 64 MiB. A
  // line of junk as long, and small requests around both, go with it.
  const size_t line_bytes = 64 * kMiB;
  const std::string small = Request("s", lmc_, "U1");
  const std::string head =
      R"({"op":"is_verified","request_id":"big","lmc_file":")" + Escaped(lmc_) +
      R"(","block_name":")";
  const std::string tail = "\"}";
  const size_t name_bytes = line_bytes - head.size() - tail.size();
  std::string input_path;
  {
    std::string input = small + head + HugeBlockName(name_bytes) + tail + "\n" +
                        std::string(line_bytes, 'j') + "\n" + small;
    input_path = dir_.Write("huge-lines.txt", input);
  }
  // The bridge reads the lines from a file. A child starts as a copy of this
  // process, and the peak that wait4 reports includes that copy, so this
  // process holds no large string while the bridge runs.
  RunOptions options;
  options.stdin_path = input_path;
  long own_kib = ResidentKibOfThisProcess();
  RunResult run = RunBridge({"--server"}, StandInEnv(), "", options);
  ExpectAnswers(
      run.out,
      {SuccessLine("s", "U1", lmc_, true),
       SuccessLine("big", HugeBlockName(name_bytes), lmc_, true),
       ErrorLine(kInvalidRequest), SuccessLine("s", "U1", lmc_, true)},
      "huge lines");
  EXPECT_EQ(run.exit_code, 0);

  const double line_mib = static_cast<double>(line_bytes) / kMiB;
  const double peak_mib = run.peak_rss_kib / 1024.0;
  std::printf(
      "[ figure   ] largest line %.0f MiB: peak RSS %.1f MiB, "
      "%.2f x the line (the test process held %.1f MiB)\n",
      line_mib, peak_mib, peak_mib / line_mib, own_kib / 1024.0);
  RecordProperty("largest_line_bytes", std::to_string(line_bytes));
  RecordProperty("peak_rss_kib", std::to_string(run.peak_rss_kib));
  // At the peak the line, the request's copy of the name and the two vendor
  // strings hold the name once each. The bound is generous, for the runtime
  // and for AddressSanitizer's quarantine of freed memory (256 MiB), and still
  // catches a real blow-up such as a copy per read or per escape.
  const double slack_mib = 64 + (kAddressSanitizer ? 256 : 0);
  EXPECT_LT(peak_mib, 6 * line_mib + slack_mib);
}

// Bytes for random lines. The Windows text mode reads 0x1A as the end of the
// input, so that byte is left out there.
class RandomBytes {
 public:
  explicit RandomBytes(unsigned seed) : engine_(seed) {}

  // Between `min` and `max` bytes, LF included only when `with_lf` is set.
  std::string Text(size_t min, size_t max, bool with_lf) {
    size_t length = min + engine_() % (max - min + 1);
    std::string text;
    while (text.size() < length) {
      char byte = static_cast<char>(engine_() & 0xFF);
      if ((byte == '\n' && !with_lf) ||
          (byte == '\x1A' && GetTarget().windows)) {
        continue;
      }
      text.push_back(byte);
    }
    return text;
  }

 private:
  std::mt19937 engine_;
};

TEST_F(HostileInputTest, TenThousandLinesOfRandomBytes) {
  // Two lines in three are junk; every third is a valid request whose values
  // are random bytes (NUL, CR, LF, quotes and 0x80-0xFF among them), which
  // the answer must echo exactly. No LMC file of such a name exists, so the
  // vendor answers "not verified".
  RandomBytes random(20261209);
  std::string input;
  std::vector<std::string> answers;
  for (int i = 0; i < 10000; ++i) {
    if (i % 3 == 2) {
      std::string id = random.Text(1, 40, true);
      std::string lmc_file = random.Text(1, 40, true);
      std::string block_name = random.Text(1, 40, true);
      if (GetTarget().windows) {
        // Names that happen to be valid UTF-8 would be converted to the ANSI
        // code page, or refused; the byte 0xFF, never UTF-8, keeps them as
        // they are.
        lmc_file.insert(0, "\xFF");
        block_name.insert(0, "\xFF");
      }
      input += Request(id, lmc_file, block_name);
      answers.push_back(SuccessLine(id, block_name, lmc_file, false));
      continue;
    }
    std::string line = random.Text(0, 300, false);
    input += line + "\n";
    // The reader drops one CR before the LF, as the Windows text mode does.
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    answers.push_back(RefusalOf(line));
  }
  RunResult run = RunBridge({"--server"}, StandInEnv(), input);
  ExpectAnswers(run.out, answers, "random bytes");
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(HostileInputTest, MalformedUtf8PassesByteForByte) {
  const std::string sequences[] = {
      "\x80",                          // a continuation byte alone
      "\xbf\x80\xbf",                  // continuation bytes only
      "\xc0\xaf",                      // overlong '/'
      "\xe0\x80\xaf",                  // overlong '/' in three bytes
      "\xf0\x80\x80\xaf",              // overlong '/' in four bytes
      "\xed\xa0\x80",                  // a UTF-16 surrogate
      "\xf4\x90\x80\x80",              // beyond U+10FFFF
      "\xf8\x88\x80\x80\x80",          // the old five-byte form
      "\xfe\xff",                      // bytes UTF-8 never uses
      "\xe4\xbd",                      // a sequence cut short
      "\xe4\xbd\xa0\xff\xe5\xa5\xbd",  // one bad byte in valid text
  };
  // The rules list every name, so READY shows that the vendor received it
  // byte for byte; the name of the cut sequence's lead byte alone is not
  // listed and stays PENDING.
  std::string rules;
  for (const std::string& sequence : sequences) {
    rules += "verified N" + sequence + "\n";
  }
  std::vector<std::string> lmc_files = {
      TargetPath(dir_.Write("utf8.lmc", rules))};
  if (!GetTarget().windows) {
    // Under Wine a file name is UTF-16, so a name with these bytes cannot
    // reach the vendor's file system; on POSIX it does, unchanged.
    lmc_files.push_back(dir_.Write("utf8-\xff\xfe\xc0\xaf.lmc", rules));
  }
  std::string input;
  std::vector<std::string> answers;
  for (const std::string& lmc_file : lmc_files) {
    for (const std::string& sequence : sequences) {
      input += Request("I" + sequence, lmc_file, "N" + sequence);
      answers.push_back(
          SuccessLine("I" + sequence, "N" + sequence, lmc_file, true));
    }
    input += Request("I", lmc_file, "N\xe4");
    answers.push_back(SuccessLine("I", "N\xe4", lmc_file, false));
  }
  // A line that ends inside a value, on a cut sequence.
  input += R"({"op":"is_verified","request_id":"1","lmc_file":"a",)"
           R"("block_name":")"
           "\xe4\n";
  answers.push_back(ErrorLine(kInvalidRequest));
  RunResult run = RunBridge({"--server"}, StandInEnv(), input);
  ExpectAnswers(run.out, answers, "malformed UTF-8");
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(HostileInputTest, CarriageReturnsAreOrdinaryBytesExceptBeforeLf) {
  std::string request = Request("1", lmc_, "U1");
  request.pop_back();  // Without its LF.
  const std::string answer = SuccessLine("1", "U1", lmc_, true);
  const std::string empty = ErrorLine(kEmptyRequest);
  const std::string invalid = ErrorLine(kInvalidRequest);
  struct Case {
    const char* what;
    std::string input;
    std::vector<std::string> answers;
  } cases[] = {
      {"CR LF", "\r\n", {empty}},
      {"CR LF three times", "\r\n\r\n\r\n", {empty, empty, empty}},
      {"CR CR LF", "\r\r\n", {invalid}},
      {"LF, CR LF, CR CR LF", "\n\r\n\r\r\n", {empty, empty, invalid}},
      {"a CR at the end of the input", "\r", {invalid}},
      {"CRs without any LF", "\r\r\r\r", {invalid}},
      {"a hundred thousand CRs, then LF",
       std::string(100000, '\r') + "\n",
       {invalid}},
      {"a request ended by CR LF", request + "\r\n", {answer}},
      {"a request ended by CR CR LF", request + "\r\r\n", {answer}},
      {"a request ended by a CR alone", request + "\r", {answer}},
      {"CR inside a key",
       R"({"op":"is_verified","request_id":"1","lmc_file":")" + Escaped(lmc_) +
           R"(","block_)"
           "\r"
           R"(name":"U1"})"
           "\n",
       {invalid}},
      {"CR between a key and its colon",
       R"({"op":"is_verified","request_id":"1","lmc_file":")" + Escaped(lmc_) +
           R"(","block_name")"
           "\r"
           R"(:"U1"})"
           "\n",
       {answer}},
      {"raw CR inside a value",
       R"({"op":"is_verified","request_id":"1","lmc_file":")" + Escaped(lmc_) +
           R"(","block_name":"U)"
           "\r"
           R"(1"})"
           "\n",
       {SuccessLine("1", "U\r1", lmc_, true)}},
  };
  for (const Case& c : cases) {
    RunResult run = RunBridge({"--server"}, StandInEnv(), c.input);
    ExpectAnswers(run.out, c.answers, c.what);
    EXPECT_EQ(run.exit_code, 0) << c.what;
  }
}

TEST_F(HostileInputTest, AMillionEmptyLines) {
  // Every other one ends with CR LF; a request after them shows that the
  // loop is still in step.
  const size_t count = 1000000;
  std::string input;
  for (size_t i = 0; i < count; ++i) {
    input += i % 2 == 0 ? "\n" : "\r\n";
  }
  input += Request("last", lmc_, "U1");
  std::vector<std::string> answers(count, ErrorLine(kEmptyRequest));
  answers.push_back(SuccessLine("last", "U1", lmc_, true));
  RunResult run = RunBridge({"--server"}, StandInEnv(), input);
  ExpectAnswers(run.out, answers, "a million empty lines");
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(HostileInputTest, KeysRepeatedThousandsOfTimes) {
  constexpr int kRepeats = 5000;
  const std::string lmc = Escaped(lmc_);
  struct Case {
    const char* what;
    std::string line;
    std::string answer;
  } cases[] = {
      {"each key again after its first value",
       R"({"op":"is_verified","request_id":"first","lmc_file":")" + lmc +
           R"(","block_name":"U1")" +
           Repeat(
               R"(,"op":"x","request_id":"r","lmc_file":"none","block_name":"V")",
               kRepeats) +
           "}",
       SuccessLine("first", "U1", lmc_, true)},
      {"a refused op first, valid ones after it",
       R"({"op":"is_verified ","request_id":"1","lmc_file":")" + lmc +
           R"(","block_name":"U1")" +
           Repeat(R"(,"op":"is_verified")", kRepeats) + "}",
       ErrorLine(kInvalidRequest)},
      {"the quoted key thousands of times before its colon",
       R"({"op":"is_verified","request_id":"2","lmc_file":")" + lmc + R"(",)" +
           Repeat(R"("block_name")", kRepeats) + R"(:"U2"})",
       SuccessLine("2", "U2", lmc_, true)},
      // Only a member name at the outermost level is a key: the thousands of
      // values, and the members of the nested objects, are passed over.
      {"the key thousands of times as a value first",
       Repeat(R"({"x":"request_id"},)", kRepeats) +
           R"({"op":"is_verified","request_id":"3","lmc_file":")" + lmc +
           R"(","block_name":"U3"})",
       SuccessLine("3", "U3", lmc_, true)},
      {"the keys thousands of times in nested objects first",
       R"({"m":[)" +
           Repeat(R"({"request_id":"r","block_name":"V"},)", kRepeats) +
           R"("x"],"op":"is_verified","request_id":"5","lmc_file":")" + lmc +
           R"(","block_name":"U5"})",
       SuccessLine("5", "U5", lmc_, true)},
      {"a foreign escape in the first occurrence only",
       R"({"op":"is_verified","request_id":"4","lmc_file":")" + lmc +
           R"(","block_name":"\u0041")" +
           Repeat(R"(,"block_name":"U4")", kRepeats) + "}",
       ErrorLine(kInvalidRequest)},
  };
  std::string input;
  std::vector<std::string> answers;
  for (const Case& c : cases) {
    input += c.line + "\n";
    answers.push_back(c.answer);
  }
  RunResult run = RunBridge({"--server"}, StandInEnv(), input);
  ExpectAnswers(run.out, answers, "repeated keys");
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(HostileInputTest, EveryEscapeOfTheTableAndNoOther) {
  const std::string every_escape = R"(\"\\\/\b\f\n\r\t)";
  const std::string decoded = "\"\\/\b\f\n\r\t";
  // A rule is one line, so the verified block's name has every escape but
  // LF and CR.
  const std::string block_escaped = R"(B\"\\\/\b\f\t)";
  const std::string block = "B\"\\/\b\f\t";
  const std::string lmc =
      TargetPath(dir_.Write("escapes.lmc", "verified " + block + "\n"));
  // The LMC file's path with every slash and backslash escaped.
  std::string lmc_escaped;
  for (char byte : lmc) {
    lmc_escaped += byte == '/'    ? "\\/"
                   : byte == '\\' ? "\\\\"
                                  : std::string(1, byte);
  }
  // A request line with the given raw value text in each field.
  auto line = [&](const std::string& id, const std::string& block_name,
                  const std::string& block_type) {
    return R"({"op":"is_verified","request_id":")" + id + R"(","lmc_file":")" +
           lmc_escaped + R"(","block_name":")" + block_name +
           R"(","block_type":")" + block_type + "\"}\n";
  };
  std::string input = line(every_escape, block_escaped, every_escape) +
                      line(every_escape, "N" + every_escape, "RUL");
  std::vector<std::string> answers = {
      SuccessLine(decoded, block, lmc, true),
      SuccessLine(decoded, "N" + decoded, lmc, false),
  };
  // Any other escape makes its value unreadable: a required field then
  // refuses the request, the optional block type only reads as empty.
  for (const char* foreign : {R"(\u0041)", R"(\x41)", R"(\a)", R"(\')", R"(\0)",
                              R"(\U)", R"(\ )", "\\\t", "\\\xe4\xbd\xa0"}) {
    input += line(std::string("I") + foreign, block_escaped, "RUL");
    answers.push_back(ErrorLine(kInvalidRequest));
    input += line("I", block_escaped, std::string("RUL") + foreign);
    answers.push_back(SuccessLine("I", block, lmc, true));
  }
  // A backslash as the line's last byte.
  input +=
      R"({"op":"is_verified","request_id":"1","lmc_file":"a","block_name":"b\)"
      "\n";
  answers.push_back(ErrorLine(kInvalidRequest));
  RunResult run = RunBridge({"--server"}, StandInEnv(), input);
  ExpectAnswers(run.out, answers, "escapes");
  EXPECT_EQ(run.exit_code, 0);
}

}  // namespace
}  // namespace e2e
