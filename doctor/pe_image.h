#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace status_bridge {

// The PE machine types the diagnosis names.
inline constexpr std::uint16_t kMachineX86 = 0x014C;
inline constexpr std::uint16_t kMachineX64 = 0x8664;

// What the diagnosis reads from a Windows executable or DLL file.
struct PeImage {
  std::uint16_t machine = 0;
  std::vector<std::string> imports;  // The DLLs it imports, by name.
};

// Reads the machine type and the imported DLL names of the PE file `file`,
// seeking to each value it needs: a few hundred bytes of a DLL, never the
// whole file. Returns false when `file` holds no PE image; a damaged import
// table ends the list early instead.
bool ReadPeImage(std::istream& file, PeImage* image);

// "x86 (32-bit)", "x64 (64-bit)", or the type in hexadecimal.
std::string MachineName(std::uint16_t machine);

}  // namespace status_bridge
