#pragma once

// Reads what the dynamic loader sees of a shared library: the symbols it
// exports, the libraries it needs and the symbol versions it asks them for.
// The same record describes a Windows DLL (see pe_reader.h).

#include <string>
#include <vector>

namespace lenstrove::testing {

struct DynamicInfo {
  std::vector<std::string> exportedSymbols;  // defined, global or weak
  std::vector<std::string> neededLibraries;  // DT_NEEDED entries
  std::vector<std::string> neededVersions;   // e.g. GLIBC_2.14, each once
};

// Throws std::runtime_error when the file is not a 64-bit ELF file.
DynamicInfo ReadDynamicInfo(const std::string& path);

}  // namespace lenstrove::testing
