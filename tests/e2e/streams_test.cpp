// Callers that do unusual things with the bridge's streams: pipes in
// non-blocking mode, a caller that reads its answers or writes its request
// late, a reader that goes away and comes back, and one huge line in a long
// server run.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using std::chrono::milliseconds;

// Where `actual` first differs from `expected`, for a failure message far
// shorter than the whole output.
std::string FirstDifference(const std::string& actual,
                            const std::string& expected) {
  size_t at = 0;
  while (at < actual.size() && at < expected.size() &&
         actual[at] == expected[at]) {
    ++at;
  }
  return "from byte " + std::to_string(at) + " of " +
         std::to_string(expected.size()) + ": [" + actual.substr(at, 100) +
         "], expected [" + expected.substr(at, 100) + "]";
}

class StreamsTest : public ::testing::Test {
 protected:
  StreamsTest() : lmc_(TargetPath(dir_.Write("a.lmc", "verified U1\n"))) {}

  ScratchDir dir_;
  std::string lmc_;
};

// Standard output and standard error are non-blocking pipes, and the caller
// starts to read them a second later: by then both are full, and the bridge
// waits until they drain. Every answer and trace line arrives whole, once and
// in order.
TEST_F(StreamsTest, NonBlockingOutputWithALateReaderLosesNoLine) {
  const int kRequests = 3000;
  std::string input;
  std::string out;
  std::string err =
      TraceOf({"starting", "dll-loaded", "export-found", "server-ready"});
  for (int i = 0; i < kRequests; ++i) {
    const char* block = i % 2 == 0 ? "U1" : "U2";
    input += Request(std::to_string(i), lmc_, block);
    out += Lines({SuccessLine(std::to_string(i), block, lmc_, i % 2 == 0)});
    err += TraceOf({"calling-status-function", "status-function-returned",
                    "cstring-scope-ended"});
  }
  err += TraceOf({"server-eof"});
  RunOptions options;
  options.nonblocking_output = true;
  options.output_delay = milliseconds(1000);
  RunResult run = RunBridge({"--server"}, StandInEnv(true), input, options);
  EXPECT_TRUE(run.out == out) << FirstDifference(run.out, out);
  EXPECT_TRUE(run.err == err) << FirstDifference(run.err, err);
  EXPECT_EQ(run.exit_code, 0);
}

// Standard input is a non-blocking pipe on which the request arrives 0.3 s
// after the start: the bridge waits for it in every reading mode.
TEST_F(StreamsTest, NonBlockingInputWaitsForALateRequest) {
  const std::string first = Request("1", lmc_, "U1");
  const std::string second = Request("2", lmc_, "U2");
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string out;
  } cases[] = {
      {{"--server"},
       first + second,
       Lines({SuccessLine("1", "U1", lmc_, true),
              SuccessLine("2", "U2", lmc_, false)})},
      {{}, first, Lines({SuccessLine("1", "U1", lmc_, true)})},
      {{"--codec-test"},
       first,
       Lines({R"({"request_id":"1","lmc_file":")" + Escaped(lmc_) +
              R"(","block_name":"U1"})"})},
  };
  for (const Case& c : cases) {
    const char* mode = c.args.empty() ? "one-shot" : c.args[0].c_str();
    RunOptions options;
    options.nonblocking_stdin = true;
    options.input_delay = milliseconds(300);
    RunResult run = RunBridge(c.args, StandInEnv(), c.input, options);
    EXPECT_EQ(run.out, c.out) << mode;
    EXPECT_EQ(run.exit_code, 0) << mode;
  }
}

// Standard output is a FIFO whose reader goes away after the first answer and
// comes back later: what is written while no one reads is lost, and every
// answer after the reader's return arrives again, whole.
TEST_F(StreamsTest, AnswersReachAReaderThatComesBack) {
  const std::string fifo = dir_.Path("answers");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string log = dir_.Path("calls.log");
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  RunOptions options;
  options.stdout_path = fifo;
  Environment env = StandInEnv();
  env.emplace_back(kStandInCallLog, TargetPath(log));
  Conversation bridge(BridgeCommand({"--server"}), BridgeEnv(env), options);
  auto answer_to = [&](const char* block) {
    return Lines({SuccessLine(block, block, lmc_, false)});
  };
  std::string pending;
  std::string answer;
  bridge.Write(Request("A", lmc_, "A"));
  ASSERT_TRUE(
      ReadLineFrom(reader, std::chrono::seconds(20), &pending, &answer));
  EXPECT_EQ(answer, answer_to("A"));

  close(reader);
  // Once the vendor has been asked about C, the answer to B has been tried.
  bridge.Write(Request("B", lmc_, "B") + Request("C", lmc_, "C"));
  for (int i = 0;
       i < 2000 && ReadFile(log).find("name=C ") == std::string::npos; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  bridge.Write(Request("D", lmc_, "D"));
  std::string arrived;
  while (arrived.find(answer_to("D")) == std::string::npos &&
         ReadLineFrom(reader, std::chrono::seconds(20), &pending, &answer)) {
    arrived += answer;
  }
  close(reader);
  // The answer to C went out before the reader came back, or after.
  EXPECT_TRUE(arrived == answer_to("D") ||
              arrived == answer_to("C") + answer_to("D"))
      << arrived;
  EXPECT_EQ(bridge.Finish(), 0);
}

// The resident memory of the process `pid`, in KiB; 0 when unknown.
long ResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::strtol(line.c_str() + 6, nullptr, 10);
    }
  }
  return 0;
}

// After a line of 256 MiB has been answered, a running server holds no more
// than a few MiB beyond what it held before the line.
TEST_F(StreamsTest, AHugeLineGivesItsMemoryBackOnceAnswered) {
  Conversation bridge(BridgeCommand({"--server"}), BridgeEnv(StandInEnv()));
  std::string answer;
  bridge.Write(Request("1", lmc_, "U1"));
  ASSERT_TRUE(bridge.ReadLine(std::chrono::seconds(20), &answer));
  const long before_kib = ResidentKib(bridge.pid());

  const std::string mebibyte(size_t{1} << 20, 'j');
  for (int i = 0; i < 256; ++i) {
    bridge.Write(mebibyte);
  }
  bridge.Write("\n");
  ASSERT_TRUE(bridge.ReadLine(std::chrono::seconds(120), &answer));
  EXPECT_EQ(answer, Lines({ErrorLine(kInvalidRequest)}));
  // The answer to the next line shows that the server is done with the huge
  // one and waits for more.
  bridge.Write(Request("2", lmc_, "U1"));
  ASSERT_TRUE(bridge.ReadLine(std::chrono::seconds(20), &answer));
  EXPECT_EQ(answer, Lines({SuccessLine("2", "U1", lmc_, true)}));
  const long after_kib = ResidentKib(bridge.pid());
  EXPECT_EQ(bridge.Finish(), 0);

  std::printf(
      "[ figure   ] resident memory before a 256 MiB line %.1f MiB, after "
      "it %.1f MiB\n",
      before_kib / 1024.0, after_kib / 1024.0);
  ASSERT_GT(before_kib, 0) << "no VmRSS in /proc";
  if (kAddressSanitizer) {
    return;  // Its quarantine holds freed memory on purpose.
  }
  EXPECT_LT(after_kib - before_kib, 8 * 1024);
}

// Answers go to a file on a small file system that fills up while a server
// runs and then gets room again. A write that fails part-way leaves its rest
// for before the next answer, so the file holds whole answer lines only: the
// cut one completed, those written while the disk was full missing whole.
TEST_F(StreamsTest, AFullDiskNeverCutsOrGluesAnAnswer) {
  if (GetTarget().windows) {
    GTEST_SKIP() << "the C runtime's text-mode _write reports a write that "
                    "fails part-way as a failure, without how much went out";
  }
  const std::string mount_point = dir_.Path("disk");
  mkdir(mount_point.c_str(), 0700);
  if (mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here (it needs root)";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{mount_point};
  const std::string answers_path = mount_point + "/answers";
  const std::string filler_path = mount_point + "/filler";
  const std::string log_path = dir_.Path("calls.log");
  Environment env = StandInEnv();
  env.emplace_back(kStandInCallLog, log_path);
  std::ofstream(answers_path).close();
  RunOptions options;
  options.stdout_path = answers_path;
  Conversation bridge(BridgeCommand({"--server"}), BridgeEnv(env), options);

  // Sends request `id` and waits until the library has answered it, and so
  // until the answer before it has been written.
  int sent = 0;
  auto send = [&](const std::string& block_name) {
    bridge.Write(Request(std::to_string(++sent), lmc_, block_name));
    for (int wait = 0; wait < 2000; ++wait) {
      std::string log = ReadFile(log_path);
      if (std::count(log.begin(), log.end(), '\n') == sent) {
        return;
      }
      std::this_thread::sleep_for(milliseconds(10));
    }
    FAIL() << "request " << sent << " was never answered";
  };
  const std::string long_name = "U1" + std::string(1000, 'x');
  send("U1");
  send("U1");  // The first answer is written and holds part of a page.
  {
    std::ofstream filler(filler_path, std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size())) {
    }
  }
  for (int i = 0; i < 6; ++i) {
    send(long_name);  // The page fills; one answer is cut, then none fits.
  }
  std::remove(filler_path.c_str());
  for (int i = 0; i < 3; ++i) {
    send("U1");
  }
  EXPECT_EQ(bridge.Finish(), 0);

  std::string written = ReadFile(answers_path);
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.back(), '\n');
  int last_id = 0;
  int whole = 0;
  for (size_t begin = 0; begin < written.size();) {
    size_t end = written.find('\n', begin);
    ASSERT_NE(end, std::string::npos);
    // With its line end, which the Windows bridge writes as CR LF.
    std::string line = written.substr(begin, end + 1 - begin);
    begin = end + 1;
    bool is_answer = false;
    for (int id = last_id + 1; id <= sent && !is_answer; ++id) {
      for (const std::string& name : {std::string("U1"), long_name}) {
        // The stand-in's rules verify U1 only.
        if (line == Lines({SuccessLine(std::to_string(id), name, lmc_,
                                       name == "U1")})) {
          is_answer = true;
          last_id = id;
        }
      }
    }
    EXPECT_TRUE(is_answer) << "not a whole answer: " << line.substr(0, 80);
    whole += is_answer ? 1 : 0;
  }
  EXPECT_EQ(last_id, sent) << "the answers after the disk had room again";
  EXPECT_LT(whole, sent) << "the disk never filled";
}

}  // namespace
}  // namespace e2e
