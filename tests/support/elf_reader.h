#pragma once

// Reads what the dynamic loader sees of a shared library: the symbols it
// exports and the libraries it needs.

#include <string>
#include <vector>

namespace lenstrove::testing {

struct DynamicInfo {
  std::vector<std::string> exportedSymbols;  // defined, global or weak
  std::vector<std::string> neededLibraries;  // DT_NEEDED entries
};

// Throws std::runtime_error when the file is not a 64-bit ELF file.
DynamicInfo ReadDynamicInfo(const std::string& path);

}  // namespace lenstrove::testing
