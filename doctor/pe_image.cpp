#include "doctor/pe_image.h"

#include <cstdio>

namespace status_bridge {

namespace {

// Reads a little-endian value of `size` bytes at `offset`; false when it lies
// beyond the end.
bool ReadValue(const std::string& bytes, std::uint64_t offset, int size,
               std::uint32_t* value) {
  if (offset + static_cast<std::uint64_t>(size) > bytes.size()) {
    return false;
  }
  // Within the string now, so the offset fits in its size type.
  size_t at = static_cast<size_t>(offset);
  *value = 0;
  for (int i = size - 1; i >= 0; --i) {
    *value = (*value << 8) |
             static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
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

bool ReadPeImage(const std::string& bytes, PeImage* image) {
  std::uint32_t pe = 0;
  std::uint32_t signature = 0;
  if (bytes.compare(0, 2, "MZ") != 0 || !ReadValue(bytes, 0x3C, 4, &pe) ||
      !ReadValue(bytes, pe, 4, &signature) || signature != 0x00004550) {
    return false;
  }
  std::uint32_t machine = 0;
  std::uint32_t section_count = 0;
  std::uint32_t optional_size = 0;
  std::uint32_t magic = 0;
  std::uint64_t optional = std::uint64_t{pe} + 24;
  if (!ReadValue(bytes, pe + 4, 2, &machine) ||
      !ReadValue(bytes, pe + 6, 2, &section_count) ||
      !ReadValue(bytes, pe + 20, 2, &optional_size) ||
      !ReadValue(bytes, optional, 2, &magic)) {
    return false;
  }
  image->machine = static_cast<std::uint16_t>(machine);
  image->imports.clear();

  // The import directory: the second data directory, whose place differs
  // between PE32 (0x10B) and PE32+ (0x20B).
  std::uint64_t directories = optional + (magic == 0x20B ? 112 : 96);
  std::uint32_t directory_count = 0;
  std::uint32_t import_rva = 0;
  if (!ReadValue(bytes, directories - 4, 4, &directory_count) ||
      directory_count < 2 ||
      !ReadValue(bytes, directories + 8, 4, &import_rva) || import_rva == 0) {
    return true;
  }
  std::vector<Section> sections;
  std::uint64_t table = optional + optional_size;
  for (std::uint32_t i = 0; i < section_count; ++i) {
    std::uint64_t at = table + std::uint64_t{i} * 40;
    Section section;
    std::uint32_t virtual_size = 0;
    std::uint32_t raw_size = 0;
    if (!ReadValue(bytes, at + 8, 4, &virtual_size) ||
        !ReadValue(bytes, at + 12, 4, &section.address) ||
        !ReadValue(bytes, at + 16, 4, &raw_size) ||
        !ReadValue(bytes, at + 20, 4, &section.offset)) {
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
    if (!ReadValue(bytes, descriptor + 12, 4, &name_rva) || name_rva == 0) {
      break;
    }
    std::uint64_t name = FileOffset(sections, name_rva);
    if (name == 0 || name >= bytes.size()) {
      break;
    }
    size_t start = static_cast<size_t>(name);
    size_t end = bytes.find('\0', start);
    if (end == std::string::npos) {
      break;
    }
    image->imports.push_back(bytes.substr(start, end - start));
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
