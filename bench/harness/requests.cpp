#include "bench/harness/requests.h"

#include <cstdint>
#include <cstdio>

namespace bench {

namespace {

// A small deterministic generator (xorshift64), so every run of the
// benchmark feeds the same lines.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  // One of the `count` entries of `items`.
  template <typename T, size_t count>
  const T& Pick(const T (&items)[count]) {
    return items[Next() % count];
  }

 private:
  std::uint64_t state_;
};

// The fields of one request as they stand in its JSON line. None holds an
// escape other than "\\", which the answer writes back the same way, so the
// JSON text of a field is also its text in the answer.
struct Fields {
  std::string request_id;
  std::string lmc_file;
  std::string block_name;
  const char* block_type;  // Null: the key is left out.
  bool verified;           // What the null vendor library answers.
};

void AppendRequest(const Fields& f, std::string* out) {
  *out += R"({"op":"is_verified","request_id":")";
  *out += f.request_id;
  *out += R"(","lmc_file":")";
  *out += f.lmc_file;
  *out += R"(","block_name":")";
  *out += f.block_name;
  *out += '"';
  if (f.block_type != nullptr) {
    *out += R"(,"block_type":")";
    *out += f.block_type;
    *out += '"';
  }
  *out += "}\n";
}

void AppendAnswer(const Fields& f, std::string* out) {
  *out += R"({"ok":true,"request_id":")";
  *out += f.request_id;
  *out += R"(","block_name":")";
  *out += f.block_name;
  *out += R"(","lmc_file":")";
  *out += f.lmc_file;
  *out += R"(","status":")";
  *out += f.verified ? "READY" : "PENDING";
  *out += R"(","source":"IsVerifiedReuseBlock","raw_status":)";
  *out += f.verified ? "1" : "0";
  *out += "}\n";
}

// A block type as callers send it, and whether the null vendor library
// answers "verified" for it (it does for type 1, "RUL", alone).
struct BlockType {
  const char* text;
  bool verified;
};

Fields TypicalFields(Random* random, size_t index) {
  static const char* const kProjects[] = {"soc_top", "pcie_gen4", "ddr5_phy",
                                          "usb3_ss", "mcu_core"};
  static const char* const kLibraries[] = {"analog_ip", "std_cells", "io_ring",
                                           "mem_macros", "clock_gen"};
  static const char* const kBlocks[] = {"U_PLL_CORE",    "u_ddr_phy_ctrl",
                                        "U_SERDES_LANE", "u_sram_2kx32",
                                        "U_BANDGAP_REF", "u_io_pad_gpio"};
  static const BlockType kTypes[] = {{"RUL", true},    {"RUL", true},
                                     {"RULP", false},  {"LP", false},
                                     {nullptr, false}, {"2", false}};
  char id[40];
  std::snprintf(id, sizeof(id), "req-%08x-%06zu",
                static_cast<unsigned>(random->Next() & 0xffffffffu), index);
  char block[48];
  std::snprintf(block, sizeof(block), "%s_%02u", random->Pick(kBlocks),
                static_cast<unsigned>(random->Next() % 100));
  const BlockType& type = random->Pick(kTypes);
  return Fields{id,
                std::string(R"(D:\\designs\\)") + random->Pick(kProjects) +
                    R"(\\lib\\)" + random->Pick(kLibraries) + ".lmc",
                block, type.text, type.verified};
}

}  // namespace

RequestSet TypicalRequests(size_t count) {
  RequestSet set;
  set.count = count;
  set.input.reserve(count * 160);
  set.expected_output.reserve(count * 180);
  Random random(0x5eed5eed5eedULL);
  for (size_t i = 0; i < count; ++i) {
    Fields fields = TypicalFields(&random, i);
    AppendRequest(fields, &set.input);
    AppendAnswer(fields, &set.expected_output);
  }
  return set;
}

RequestSet LongBlockNameRequests(size_t block_name_bytes, size_t repeat) {
  static constexpr char kAlphabet[] =
      "U_BLK_0123456789_abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  Fields fields{"long-1", R"(D:\\designs\\soc_top\\lib\\analog_ip.lmc)", "",
                "RUL", true};
  fields.block_name.reserve(block_name_bytes);
  for (size_t i = 0; i < block_name_bytes; ++i) {
    fields.block_name.push_back(kAlphabet[i % (sizeof(kAlphabet) - 1)]);
  }
  std::string line;
  AppendRequest(fields, &line);
  std::string answer;
  AppendAnswer(fields, &answer);
  RequestSet set;
  set.count = repeat;
  set.input.reserve(line.size() * repeat);
  set.expected_output.reserve(answer.size() * repeat);
  for (size_t i = 0; i < repeat; ++i) {
    set.input += line;
    set.expected_output += answer;
  }
  return set;
}

}  // namespace bench
