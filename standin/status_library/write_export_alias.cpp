// Writes the linker script that gives the stand-in vendor library's export
// the symbol name under which the bridge looks the status export up, so that
// the decorated name is written down once, in the bridge.
//
// Usage: write-export-alias <output file> <plain symbol>

#include <fstream>
#include <iostream>

#include "platform/platform.h"
#include "status_library/contract.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: write-export-alias <output file> <plain symbol>\n";
    return 1;
  }
  std::ofstream script(argv[1], std::ios::binary);
  script << '"'
         << status_bridge::ExportSymbolName(
                status_bridge::kIsVerifiedReuseBlockExportName)
         << "\" = " << argv[2] << ";\n";
  return script.good() ? 0 : 1;
}
