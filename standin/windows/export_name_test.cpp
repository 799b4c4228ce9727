// The MSVC-ABI stand-in vendor library is compiled from the vendor's
// signature, so its export carries the decorated name that an MSVC-ABI
// compiler derives from that signature. The bridge looks the export up by its
// own constant; the two must agree byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "status_library/contract.h"

namespace status_bridge {
namespace {

// The little-endian integer of `size` bytes at `offset` of `image`; 0 beyond
// its end, which no valid field of a PE image holds.
std::uint32_t Read(const std::string& image, std::uint32_t offset, int size) {
  std::uint32_t value = 0;
  if (offset > image.size() ||
      image.size() - offset < static_cast<size_t>(size)) {
    return 0;
  }
  for (int i = size - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(image[offset + i]);
  }
  return value;
}

// The names in the export table of the PE image `image` (PE32 or PE32+), in
// table order; empty when it has none or is no such image.
std::vector<std::string> ExportNames(const std::string& image) {
  std::uint32_t pe = Read(image, 0x3C, 4);
  if (Read(image, 0, 2) != 0x5A4D || Read(image, pe, 4) != 0x4550) {
    return {};
  }
  std::uint32_t coff = pe + 4;
  std::uint32_t section_count = Read(image, coff + 2, 2);
  std::uint32_t optional = coff + 20;
  std::uint32_t sections = optional + Read(image, coff + 16, 2);
  // The data directories, export table first, follow the optional header's
  // fixed part, which PE32+ makes 16 bytes longer.
  std::uint32_t directories;
  switch (Read(image, optional, 2)) {
    case 0x10B:  // PE32
      directories = optional + 96;
      break;
    case 0x20B:  // PE32+
      directories = optional + 112;
      break;
    default:
      return {};
  }
  std::uint32_t export_rva = Read(image, directories, 4);
  // The file offset of the relative virtual address `rva`; 0 if unmapped.
  auto offset_of = [&](std::uint32_t rva) -> std::uint32_t {
    for (std::uint32_t i = 0; i < section_count; ++i) {
      std::uint32_t header = sections + i * 40;
      std::uint32_t address = Read(image, header + 12, 4);
      std::uint32_t size = Read(image, header + 16, 4);
      if (rva >= address && rva - address < size) {
        return Read(image, header + 20, 4) + (rva - address);
      }
    }
    return 0;
  };
  std::uint32_t directory = offset_of(export_rva);
  if (export_rva == 0 || directory == 0) {
    return {};
  }
  std::uint32_t name_count = Read(image, directory + 24, 4);
  std::uint32_t names = offset_of(Read(image, directory + 32, 4));
  std::vector<std::string> result;
  for (std::uint32_t i = 0; i < name_count; ++i) {
    std::uint32_t name = offset_of(Read(image, names + 4 * i, 4));
    size_t end = image.find('\0', name);
    if (name == 0 || end == std::string::npos) {
      return {};
    }
    result.push_back(image.substr(name, end - name));
  }
  return result;
}

std::string ReadImage(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The MSVC-ABI library exists in 32-bit builds only; elsewhere its path is
// empty.
bool HasMsvcAbiVendor() { return STATUS_BRIDGE_MSVC_ABI_VENDOR[0] != '\0'; }

TEST(VendorExportNameTest, MsvcAbiLibraryExportsExactlyTheBridgesName) {
  if (!HasMsvcAbiVendor()) {
    GTEST_SKIP() << "32-bit only: this build has no MSVC-ABI vendor library";
  }
  const std::string expected = kIsVerifiedReuseBlockExportName;
  ASSERT_EQ(expected.size(), 133u);
  EXPECT_EQ(ExportNames(ReadImage(STATUS_BRIDGE_MSVC_ABI_VENDOR)),
            std::vector<std::string>{expected});
}

TEST(VendorExportNameTest, MingwLibraryExportsTheBridgesNameToo) {
  std::vector<std::string> names =
      ExportNames(ReadImage(STATUS_BRIDGE_MINGW_VENDOR));
  EXPECT_EQ(std::count(names.begin(), names.end(),
                       std::string(kIsVerifiedReuseBlockExportName)),
            1);
}

TEST(VendorExportNameTest, LoaderResolvesTheNameInBothLibraries) {
  for (const char* path :
       {STATUS_BRIDGE_MSVC_ABI_VENDOR, STATUS_BRIDGE_MINGW_VENDOR}) {
    if (*path == '\0') {
      continue;
    }
    ModuleHandle module = LoadLibraryFromPath(path);
    ASSERT_NE(module, nullptr) << path;
    EXPECT_NE(FindExport(module, kIsVerifiedReuseBlockExportName), nullptr)
        << path;
    EXPECT_EQ(FindExport(module, "IsVerifiedReuseBlock"), nullptr) << path;
    ReleaseLibrary(module);
  }
}

}  // namespace
}  // namespace status_bridge
