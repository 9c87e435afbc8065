#include "scan_cache.h"

#include "windows_headers.h"
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "scan_text.h"

namespace lenstrove::host {

namespace fs = std::filesystem;

namespace {

constexpr const char* kMagic = "lenstrove plug-in scan cache";
constexpr const char* kFormatVersion = "1";
// Far more than any real set of plug-ins needs; a larger file is not ours.
constexpr std::uintmax_t kMaxFileBytes = 64u << 20;

long ProcessId() {
#if defined(_WIN32)
  return static_cast<long>(GetCurrentProcessId());
#else
  return static_cast<long>(::getpid());
#endif
}

// Replaces `target` with `source` in one step. Windows refuses while
// another process has the target open, so it is tried a few times.
bool ReplaceWith(const std::string& source, const std::string& target) {
#if defined(_WIN32)
  const std::wstring from = fs::path(source).wstring(), to = fs::path(target).wstring();
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
#else
  return std::rename(source.c_str(), target.c_str()) == 0;
#endif
}

std::string HashText(std::uint64_t hash) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

bool ParseSeconds(const std::string& text, double* seconds) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value) || value < 0) return false;
  *seconds = value;
  return true;
}

// The records of one binary's entry, after its "binary" line.
class EntryReader {
 public:
  explicit EntryReader(BinaryScan* scan) : scan_(scan) {}

  bool Plugin(const Fields& f) {
    long long index, major, minor;
    if (f.size() < 6 || !ParseInteger(f[1], 0, INT_MAX, &index) || !ParseInteger(f[3], 0, INT_MAX, &major) ||
        !ParseInteger(f[4], 0, INT_MAX, &minor))
      return false;
    ScannedPlugin plugin;
    plugin.index = static_cast<int>(index);
    plugin.identifier = f[2];
    plugin.version_major = static_cast<int>(major);
    plugin.version_minor = static_cast<int>(minor);
    plugin.label = f[5];
    plugin.contexts.assign(f.begin() + 6, f.end());
    scan_->plugins.push_back(std::move(plugin));
    return true;
  }

  bool Problem(const Fields& f) {
    long long index;
    if (f.size() != 4 || !ParseInteger(f[1], -1, INT_MAX, &index)) return false;
    scan_->problems.push_back({static_cast<int>(index), f[2], f[3]});
    return true;
  }

 private:
  BinaryScan* scan_;
};

}  // namespace

std::optional<FileStamp> StampOf(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) return std::nullopt;
  const auto modified = fs::last_write_time(path, error);
  if (error) return std::nullopt;
  return FileStamp{size, static_cast<std::int64_t>(modified.time_since_epoch().count())};
}

ScanCache::ScanCache(std::string file, std::string identity)
    : file_(std::move(file)), identity_(std::move(identity)) {}

void ScanCache::Load() {
  entries_.clear();
  if (!Read(&entries_)) entries_.clear();
}

const BinaryScan* ScanCache::Find(const std::string& binary, const FileStamp& stamp) const {
  const auto found = entries_.find(binary);
  return found != entries_.end() && found->second.stamp == stamp ? &found->second.scan : nullptr;
}

void ScanCache::Store(const BinaryScan& scan, const FileStamp& stamp) {
  entries_[scan.binary] = {stamp, scan};
  stored_[scan.binary] = {stamp, scan};
}

// Any fault anywhere makes the whole file unusable.
bool ScanCache::Read(Entries* entries) const {
  std::error_code error;
  if (file_.empty() || fs::file_size(file_, error) > kMaxFileBytes || error) return false;
  std::ifstream in(fs::path(file_), std::ios::binary);
  std::stringstream whole;
  whole << in.rdbuf();
  const std::string text = whole.str();
  if (!in || text.empty() || text.back() != '\n') return false;
  const size_t last = text.rfind('\n', text.size() - 2);
  if (last == std::string::npos) return false;
  const std::string body = text.substr(0, last + 1);
  if (text.compare(last + 1, std::string::npos, "end\t" + HashText(TextHash(body)) + "\n") != 0) return false;

  std::istringstream lines(body);
  std::string line;
  Fields f;
  if (!std::getline(lines, line) || !SplitFields(line, &f) || f != Fields{kMagic, kFormatVersion, identity_})
    return false;
  Entry* entry = nullptr;
  while (std::getline(lines, line)) {
    if (!SplitFields(line, &f)) return false;
    if (f[0] == "binary") {
      long long size, modified;
      double hung_after;
      if (f.size() != 5 || f[1].empty() || !ParseInteger(f[2], 0, LLONG_MAX, &size) ||
          !ParseInteger(f[3], LLONG_MIN, LLONG_MAX, &modified) || !ParseSeconds(f[4], &hung_after))
        return false;
      entry = &(*entries)[f[1]];
      *entry = {{static_cast<std::uint64_t>(size), modified}, BinaryScan{}};
      entry->scan.binary = f[1];
      entry->scan.hung_after = hung_after;
      continue;
    }
    if (!entry) return false;
    EntryReader reader(&entry->scan);
    const bool understood = f[0] == "plugin" ? reader.Plugin(f) : f[0] == "problem" && reader.Problem(f);
    if (!understood) return false;
  }
  return true;
}

std::string ScanCache::Format(const Entries& entries) const {
  std::string text = JoinFields({kMagic, kFormatVersion, identity_});
  for (const auto& [binary, entry] : entries) {
    char hung_after[32];
    std::snprintf(hung_after, sizeof hung_after, "%.17g", entry.scan.hung_after);
    text += JoinFields({"binary", binary, std::to_string(entry.stamp.size), std::to_string(entry.stamp.modified),
                        hung_after});
    for (const ScannedPlugin& plugin : entry.scan.plugins) {
      Fields f = {"plugin",
                  std::to_string(plugin.index),
                  plugin.identifier,
                  std::to_string(plugin.version_major),
                  std::to_string(plugin.version_minor),
                  plugin.label};
      f.insert(f.end(), plugin.contexts.begin(), plugin.contexts.end());
      text += JoinFields(f);
    }
    for (const ScanProblem& problem : entry.scan.problems)
      text += JoinFields({"problem", std::to_string(problem.index), problem.identifier, problem.reason});
  }
  return text + "end\t" + HashText(TextHash(text)) + "\n";
}

void ScanCache::Save() const {
  if (file_.empty() || stored_.empty()) return;
  // Another run may have saved since this one loaded: keep what it found.
  Entries merged;
  if (!Read(&merged)) merged.clear();
  for (const auto& [binary, entry] : stored_) merged[binary] = entry;
  for (auto it = merged.begin(); it != merged.end();) {
    const std::optional<FileStamp> now = StampOf(it->first);
    it = now && *now == it->second.stamp ? std::next(it) : merged.erase(it);
  }
  static std::atomic<unsigned> counter{0};
  const std::string temporary = file_ + ".tmp" + std::to_string(ProcessId()) + "-" + std::to_string(counter++);
  std::error_code error;
  fs::create_directories(fs::path(file_).parent_path(), error);
  {
    std::ofstream out(fs::path(temporary), std::ios::binary | std::ios::trunc);
    out << Format(merged);
    out.close();
    if (out && ReplaceWith(temporary, file_)) return;
  }
  fs::remove(temporary, error);
}

}  // namespace lenstrove::host
