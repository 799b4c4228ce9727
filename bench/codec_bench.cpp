// Micro-benchmarks of the line codec: answer writing, field extraction and
// request parsing, on a typical request and on one with a 1 MiB block name.

#include <benchmark/benchmark.h>

#include <string>

#include "protocol/answer_lines.h"
#include "protocol/extract_json_string.h"
#include "protocol/status_request.h"

namespace {

const std::string kTypicalLine =
    R"({"op":"is_verified","request_id":"req-3fa85f64-000123",)"
    R"("lmc_file":"D:\\designs\\pcie_gen4\\lib\\mem_macros.lmc",)"
    R"("block_name":"u_ddr_phy_ctrl_42","block_type":"RUL"})";

std::string LongLine(size_t block_name_bytes) {
  return R"({"op":"is_verified","request_id":"long-1",)"
         R"("lmc_file":"D:\\designs\\soc_top\\lib\\analog_ip.lmc",)"
         R"("block_name":")" +
         std::string(block_name_bytes, 'B') + R"(","block_type":"RUL"})";
}

// Standard output that drops what it is given, so that only the writer's own
// work is timed.
void BmComposeSuccessLine(benchmark::State& state) {
  status_bridge::StatusRequest request;
  request.request_id = "req-3fa85f64-000123";
  request.lmc_file = R"(D:\designs\pcie_gen4\lib\mem_macros.lmc)";
  request.block_name = std::string(static_cast<size_t>(state.range(0)), 'B');
  std::string line;
  for (auto _ : state) {
    status_bridge::ComposeSuccessLine(request, true, &line);
    benchmark::DoNotOptimize(line.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BmComposeSuccessLine)->Arg(16)->Arg(1 << 20);

void BmExtractJsonStringLastKey(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        status_bridge::ExtractJsonString(kTypicalLine, "block_type"));
  }
}
BENCHMARK(BmExtractJsonStringLastKey);

void BmExtractJsonStringEscapedValue(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        status_bridge::ExtractJsonString(kTypicalLine, "lmc_file"));
  }
}
BENCHMARK(BmExtractJsonStringEscapedValue);

void BmParseStatusRequestTypical(benchmark::State& state) {
  status_bridge::StatusRequest request;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        status_bridge::ParseStatusRequest(kTypicalLine, &request));
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(kTypicalLine.size()));
}
BENCHMARK(BmParseStatusRequestTypical);

void BmParseStatusRequestLong(benchmark::State& state) {
  std::string line = LongLine(static_cast<size_t>(state.range(0)));
  status_bridge::StatusRequest request;
  for (auto _ : state) {
    benchmark::DoNotOptimize(status_bridge::ParseStatusRequest(line, &request));
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(line.size()));
}
BENCHMARK(BmParseStatusRequestLong)->Arg(1 << 10)->Arg(1 << 20);

}  // namespace
