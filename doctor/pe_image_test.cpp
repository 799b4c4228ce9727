#include "doctor/pe_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace status_bridge {
namespace {

void Put(std::string* bytes, size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) {
    (*bytes)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

// A minimal 32-bit PE image with one section and one import, "a.dll".
std::string MinimalImage() {
  std::string bytes(0x300, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  Put(&bytes, 0x3C, 0x40, 4);          // The PE header's offset.
  Put(&bytes, 0x40, 0x00004550, 4);    // "PE\0\0".
  Put(&bytes, 0x44, kMachineX86, 2);   // Machine.
  Put(&bytes, 0x46, 1, 2);             // One section.
  Put(&bytes, 0x54, 0xE0, 2);          // The optional header's size.
  Put(&bytes, 0x58, 0x10B, 2);         // PE32.
  Put(&bytes, 0x58 + 92, 16, 4);       // Data directories.
  Put(&bytes, 0x58 + 104, 0x1000, 4);  // The import table's address.
  const size_t section = 0x58 + 0xE0;
  Put(&bytes, section + 8, 0x100, 4);    // Virtual size.
  Put(&bytes, section + 12, 0x1000, 4);  // Virtual address.
  Put(&bytes, section + 16, 0x100, 4);   // Size in the file.
  Put(&bytes, section + 20, 0x200, 4);   // Offset in the file.
  Put(&bytes, 0x200 + 12, 0x1050, 4);    // The first import's name.
  bytes.replace(0x250, 6, std::string("a.dll\0", 6));
  return bytes;
}

// Every cut of the file is read without reading past its end (which the
// sanitizer build would catch), and yields nothing but the real import.
TEST(PeImageTest, ReadsTheImportsOfAnImageAndSurvivesEveryCut) {
  const std::string image = MinimalImage();
  PeImage pe;
  std::istringstream whole(image);
  ASSERT_TRUE(ReadPeImage(whole, &pe));
  EXPECT_EQ(pe.machine, kMachineX86);
  EXPECT_EQ(pe.imports, std::vector<std::string>{"a.dll"});
  for (size_t size = 0; size < image.size(); ++size) {
    PeImage cut;
    std::istringstream file(image.substr(0, size));
    bool is_pe = ReadPeImage(file, &cut);
    EXPECT_EQ(is_pe, size >= 0x5A) << size;
    EXPECT_TRUE(cut.imports.empty() || cut.imports == pe.imports) << size;
  }
}

}  // namespace
}  // namespace status_bridge
