#include "doctor/pe_image.h"

#include <algorithm>
#include <cstdio>

namespace status_bridge {

namespace {

// The longest DLL name read from an import table.
constexpr std::streamsize kLongestName = 256;

// Reads `size` bytes at `offset` into `bytes`; false when they lie beyond the
// end.
bool ReadAt(std::istream& file, std::uint64_t offset, std::streamsize size,
            char* bytes) {
  file.clear();
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(bytes, size);
  return file.gcount() == size;
}

// Reads a little-endian value of `size` bytes at `offset`; false when it lies
// beyond the end.
bool ReadValue(std::istream& file, std::uint64_t offset, int size,
               std::uint32_t* value) {
  unsigned char bytes[4];
  if (!ReadAt(file, offset, size, reinterpret_cast<char*>(bytes))) {
    return false;
  }
  *value = 0;
  for (int i = size - 1; i >= 0; --i) {
    *value = (*value << 8) | bytes[i];
  }
  return true;
}

struct Section {
  std::uint32_t address;  // Relative virtual address.
  std::uint32_t size;
  std::uint32_t offset;  // In the file.
};

// The file offset of the relative virtual address `rva`; 0 when no section
// holds it (offset 0 is the DOS header, never an import).
std::uint64_t FileOffset(const std::vector<Section>& sections,
                         std::uint32_t rva) {
  for (const Section& section : sections) {
    if (rva >= section.address && rva - section.address < section.size) {
      return std::uint64_t{section.offset} + (rva - section.address);
    }
  }
  return 0;
}

}  // namespace

bool ReadPeImage(std::istream& file, PeImage* image) {
  std::uint32_t pe = 0;
  std::uint32_t signature = 0;
  char mz[2];
  if (!ReadAt(file, 0, 2, mz) || mz[0] != 'M' || mz[1] != 'Z' ||
      !ReadValue(file, 0x3C, 4, &pe) || !ReadValue(file, pe, 4, &signature) ||
      signature != 0x00004550) {
    return false;
  }
  std::uint32_t machine = 0;
  std::uint32_t section_count = 0;
  std::uint32_t optional_size = 0;
  std::uint32_t magic = 0;
  std::uint64_t optional = std::uint64_t{pe} + 24;
  if (!ReadValue(file, pe + 4, 2, &machine) ||
      !ReadValue(file, pe + 6, 2, &section_count) ||
      !ReadValue(file, pe + 20, 2, &optional_size) ||
      !ReadValue(file, optional, 2, &magic)) {
    return false;
  }
  image->machine = static_cast<std::uint16_t>(machine);
  image->imports.clear();

  // The import directory: the second data directory, whose place differs
  // between PE32 (0x10B) and PE32+ (0x20B).
  std::uint64_t directories = optional + (magic == 0x20B ? 112 : 96);
  std::uint32_t directory_count = 0;
  std::uint32_t import_rva = 0;
  if (!ReadValue(file, directories - 4, 4, &directory_count) ||
      directory_count < 2 ||
      !ReadValue(file, directories + 8, 4, &import_rva) || import_rva == 0) {
    return true;
  }
  std::vector<Section> sections;
  std::uint64_t table = optional + optional_size;
  for (std::uint32_t i = 0; i < section_count; ++i) {
    std::uint64_t at = table + std::uint64_t{i} * 40;
    Section section;
    std::uint32_t virtual_size = 0;
    std::uint32_t raw_size = 0;
    if (!ReadValue(file, at + 8, 4, &virtual_size) ||
        !ReadValue(file, at + 12, 4, &section.address) ||
        !ReadValue(file, at + 16, 4, &raw_size) ||
        !ReadValue(file, at + 20, 4, &section.offset)) {
      break;
    }
    section.size = virtual_size > raw_size ? virtual_size : raw_size;
    sections.push_back(section);
  }
  // One 20-byte descriptor per DLL, its name's address at +12, up to an
  // empty one.
  std::uint64_t descriptor = FileOffset(sections, import_rva);
  for (; descriptor != 0; descriptor += 20) {
    std::uint32_t name_rva = 0;
    if (!ReadValue(file, descriptor + 12, 4, &name_rva) || name_rva == 0) {
      break;
    }
    std::uint64_t name = FileOffset(sections, name_rva);
    char text[kLongestName];
    if (name == 0) {
      break;
    }
    ReadAt(file, name, kLongestName, text);
    const char* end = std::find(text, text + file.gcount(), '\0');
    if (end == text + file.gcount()) {
      break;
    }
    image->imports.emplace_back(text, static_cast<size_t>(end - text));
  }
  return true;
}

std::string MachineName(std::uint16_t machine) {
  if (machine == kMachineX86) {
    return "x86 (32-bit)";
  }
  if (machine == kMachineX64) {
    return "x64 (64-bit)";
  }
  char hex[16];
  std::snprintf(hex, sizeof(hex), "0x%04X", machine);
  return hex;
}

}  // namespace status_bridge
