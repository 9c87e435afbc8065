#ifndef LENSTROVE_HOST_SCAN_CACHE_H
#define LENSTROVE_HOST_SCAN_CACHE_H

// The scan results kept between runs: one entry per binary, valid while the
// binary's size and modification time are what they were when it was
// scanned, and only for the scanner that made it (a new lenstrove may judge
// plug-ins differently).
//
// The file is text (scan_text.h), with a header naming the scanner and a
// last line holding a hash of everything before it. A file that is
// missing, cut short, edited, or written by another scanner is ignored as
// a whole: nothing in it is trusted. It is written under a temporary name
// and renamed into place, so a reader sees the old file or the new one,
// never half of one; two runs saving at once each write a whole file, and
// each keeps what the other had written before it.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "scanner.h"

namespace lenstrove::host {

struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // the file system's own ticks
  bool operator==(const FileStamp& other) const { return size == other.size && modified == other.modified; }
};

// The file's size and modification time; nothing for a file that cannot be
// read or is not a regular file.
std::optional<FileStamp> StampOf(const std::string& path);

class ScanCache {
 public:
  // `identity` names the scanner: entries made by another are not used.
  ScanCache(std::string file, std::string identity);

  // Reads the file; one that is missing, damaged or foreign leaves the
  // cache empty.
  void Load();
  // The entry for `binary` when it was made for a binary with `stamp`.
  const BinaryScan* Find(const std::string& binary, const FileStamp& stamp) const;
  void Store(const BinaryScan& scan, const FileStamp& stamp);
  // Writes what Store was given over what the file holds by now, leaving
  // out binaries that are gone or have changed. A file that cannot be
  // written is left as it was: the cache only saves time.
  void Save() const;
  size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    FileStamp stamp;
    BinaryScan scan;
  };
  using Entries = std::map<std::string, Entry>;

  bool Read(Entries* entries) const;
  std::string Format(const Entries& entries) const;

  std::string file_;
  std::string identity_;
  Entries entries_;
  Entries stored_;
};

}  // namespace lenstrove::host

#endif
