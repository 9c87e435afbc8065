#include "support/pe_reader.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace lenstrove::testing {
namespace {

// Offsets and sizes of the PE/COFF layout, as Microsoft documents it.
constexpr size_t kNewHeaderOffsetField = 0x3c;
constexpr size_t kCoffHeaderSize = 24;  // "PE\0\0" and the file header
constexpr uint16_t kPe32PlusMagic = 0x20b;
constexpr size_t kDirectoryCountField = 108;  // in the PE32+ optional header
constexpr size_t kDirectoriesField = 112;
constexpr uint32_t kExportDirectory = 0;
constexpr uint32_t kImportDirectory = 1;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kImportDescriptorSize = 20;

class PeFile {
 public:
  explicit PeFile(const std::string& path) : path_(path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (bytes_.size() < 2 || bytes_[0] != 'M' || bytes_[1] != 'Z') Fail("is not a PE file");
    const size_t pe = Read<uint32_t>(kNewHeaderOffsetField);
    if (Read<uint32_t>(pe) != 0x00004550u) Fail("is not a PE file");
    const size_t sectionCount = Read<uint16_t>(pe + 6);
    const size_t optionalSize = Read<uint16_t>(pe + 20);
    optional_ = pe + kCoffHeaderSize;
    if (Read<uint16_t>(optional_) != kPe32PlusMagic) Fail("is not a 64-bit PE file");
    const size_t sections = optional_ + optionalSize;
    for (size_t i = 0; i < sectionCount; ++i) {
      const size_t at = sections + i * kSectionHeaderSize;
      sections_.push_back({Read<uint32_t>(at + 12), Read<uint32_t>(at + 8), Read<uint32_t>(at + 16),
                           Read<uint32_t>(at + 20)});
    }
  }

  // The file offset of a directory's table, or 0 when the DLL has none.
  size_t Directory(uint32_t index) const {
    if (index >= Read<uint32_t>(optional_ + kDirectoryCountField)) return 0;
    const uint32_t rva = Read<uint32_t>(optional_ + kDirectoriesField + index * 8);
    return rva == 0 ? 0 : Offset(rva);
  }

  size_t Offset(uint32_t rva) const {
    for (const Section& s : sections_) {
      const uint32_t size = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
      if (rva >= s.address && rva - s.address < size) return rva - s.address + s.rawOffset;
    }
    Fail("has an address outside its sections");
  }

  template <typename T>
  T Read(size_t offset) const {
    if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) Fail("is truncated");
    T value;
    std::memcpy(&value, bytes_.data() + offset, sizeof value);
    return value;
  }

  std::string StringAtRva(uint32_t rva) const {
    const size_t at = Offset(rva);
    if (at >= bytes_.size()) Fail("has a name outside the file");
    return std::string(bytes_.data() + at, strnlen(bytes_.data() + at, bytes_.size() - at));
  }

 private:
  struct Section {
    uint32_t address, virtualSize, rawSize, rawOffset;
  };

  [[noreturn]] void Fail(const std::string& what) const { throw std::runtime_error(path_ + " " + what); }

  std::string path_;
  std::vector<char> bytes_;
  size_t optional_ = 0;
  std::vector<Section> sections_;
};

void ReadExports(const PeFile& file, std::vector<std::string>* exports) {
  const size_t table = file.Directory(kExportDirectory);
  if (table == 0) return;
  const uint32_t functionCount = file.Read<uint32_t>(table + 20);
  const uint32_t nameCount = file.Read<uint32_t>(table + 24);
  const size_t functions = file.Offset(file.Read<uint32_t>(table + 28));
  const size_t names = file.Offset(file.Read<uint32_t>(table + 32));
  const size_t ordinals = file.Offset(file.Read<uint32_t>(table + 36));
  std::vector<bool> named(functionCount, false);
  for (uint32_t i = 0; i < nameCount; ++i) {
    exports->push_back(file.StringAtRva(file.Read<uint32_t>(names + i * 4)));
    const uint16_t index = file.Read<uint16_t>(ordinals + i * 2);
    if (index < functionCount) named[index] = true;
  }
  const uint32_t base = file.Read<uint32_t>(table + 16);
  for (uint32_t i = 0; i < functionCount; ++i) {
    if (!named[i] && file.Read<uint32_t>(functions + i * 4) != 0) exports->push_back("#" + std::to_string(base + i));
  }
}

void ReadImports(const PeFile& file, std::vector<std::string>* libraries) {
  const size_t table = file.Directory(kImportDirectory);
  if (table == 0) return;
  for (size_t at = table;; at += kImportDescriptorSize) {
    const uint32_t name = file.Read<uint32_t>(at + 12);
    if (name == 0) break;
    libraries->push_back(file.StringAtRva(name));
  }
}

}  // namespace

DynamicInfo ReadPeDynamicInfo(const std::string& path) {
  const PeFile file(path);
  DynamicInfo info;
  ReadExports(file, &info.exportedSymbols);
  ReadImports(file, &info.neededLibraries);
  return info;
}

}  // namespace lenstrove::testing
