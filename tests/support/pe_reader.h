#pragma once

// Reads what the Windows loader sees of a 64-bit DLL: the names in its
// export table and the DLLs its import table names. Plain byte reading, so
// it runs on any platform.

#include <string>

#include "support/elf_reader.h"

namespace lenstrove::testing {

// Fills exportedSymbols and neededLibraries. An export reachable only by
// ordinal is listed as "#ORDINAL". Throws std::runtime_error when the file is
// not a 64-bit PE file or its tables point outside it.
DynamicInfo ReadPeDynamicInfo(const std::string& path);

}  // namespace lenstrove::testing
