#include "support/elf_reader.h"

#include <elf.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace lenstrove::testing {
namespace {

std::vector<char> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename T>
T ReadAt(const std::vector<char>& file, size_t offset) {
  if (offset > file.size() || file.size() - offset < sizeof(T)) throw std::runtime_error("truncated ELF file");
  T value;
  std::memcpy(&value, file.data() + offset, sizeof value);
  return value;
}

std::string StringAt(const std::vector<char>& file, size_t tableOffset, size_t index) {
  const size_t at = tableOffset + index;
  if (at >= file.size()) throw std::runtime_error("string outside the file");
  return std::string(file.data() + at, strnlen(file.data() + at, file.size() - at));
}

// The version requirements: one record per needed library, each with a
// chain of the versions asked of it; both chains link by relative offsets.
void ReadNeededVersions(const std::vector<char>& file, const Elf64_Shdr& section, size_t strings,
                        std::vector<std::string>* versions) {
  size_t at = section.sh_offset;
  for (size_t library = 0; library < section.sh_info; ++library) {
    const auto need = ReadAt<Elf64_Verneed>(file, at);
    size_t auxAt = at + need.vn_aux;
    for (size_t v = 0; v < need.vn_cnt; ++v) {
      const auto aux = ReadAt<Elf64_Vernaux>(file, auxAt);
      const std::string name = StringAt(file, strings, aux.vna_name);
      if (std::find(versions->begin(), versions->end(), name) == versions->end()) versions->push_back(name);
      auxAt += aux.vna_next;
    }
    at += need.vn_next;
  }
}

}  // namespace

DynamicInfo ReadDynamicInfo(const std::string& path) {
  const std::vector<char> file = ReadFile(path);
  const auto header = ReadAt<Elf64_Ehdr>(file, 0);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
    throw std::runtime_error(path + " is not a 64-bit ELF file");

  DynamicInfo info;
  for (size_t i = 0; i < header.e_shnum; ++i) {
    const auto section = ReadAt<Elf64_Shdr>(file, header.e_shoff + i * header.e_shentsize);
    if (section.sh_type != SHT_DYNSYM && section.sh_type != SHT_DYNAMIC && section.sh_type != SHT_GNU_verneed)
      continue;
    const auto strings = ReadAt<Elf64_Shdr>(file, header.e_shoff + section.sh_link * header.e_shentsize);
    if (section.sh_type == SHT_GNU_verneed) {
      ReadNeededVersions(file, section, strings.sh_offset, &info.neededVersions);
    } else if (section.sh_type == SHT_DYNSYM) {
      for (size_t s = 1; s < section.sh_size / sizeof(Elf64_Sym); ++s) {
        const auto symbol = ReadAt<Elf64_Sym>(file, section.sh_offset + s * sizeof(Elf64_Sym));
        const int binding = ELF64_ST_BIND(symbol.st_info);
        if (symbol.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK)) continue;
        info.exportedSymbols.push_back(StringAt(file, strings.sh_offset, symbol.st_name));
      }
    } else {
      for (size_t d = 0; d < section.sh_size / sizeof(Elf64_Dyn); ++d) {
        const auto entry = ReadAt<Elf64_Dyn>(file, section.sh_offset + d * sizeof(Elf64_Dyn));
        if (entry.d_tag == DT_NEEDED) info.neededLibraries.push_back(StringAt(file, strings.sh_offset, entry.d_un.d_val));
      }
    }
  }
  return info;
}

}  // namespace lenstrove::testing
