#include "image/temp_file.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <system_error>

namespace lenstrove::cli {
namespace fs = std::filesystem;
namespace {

// A signal handler may only read plain memory and call unlink(), so the
// unfinished names live in fixed slots rather than in a std::vector.
constexpr int kSlotCount = 64;
constexpr std::size_t kMaxPathLength = 4096;

struct Slot {
  std::atomic<bool> inUse{false};
  std::atomic<bool> ready{false};
  char path[kMaxPathLength];
};
Slot gSlots[kSlotCount];
std::atomic<unsigned> gTempCounter{0};

int ClaimSlot(const std::string& path) {
  if (path.size() >= kMaxPathLength) return -1;
  for (int i = 0; i < kSlotCount; ++i) {
    bool expected = false;
    if (!gSlots[i].inUse.compare_exchange_strong(expected, true)) continue;
    std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
    gSlots[i].ready.store(true);
    return i;
  }
  return -1;  // more files at once than slots: only the destructor cleans up
}

void ReleaseSlot(int slot) {
  if (slot < 0) return;
  gSlots[slot].ready.store(false);
  gSlots[slot].inUse.store(false);
}

extern "C" void RemoveUnfinishedFiles(int signalNumber) {
  for (Slot& slot : gSlots)
    if (slot.ready.load()) ::unlink(slot.path);
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

struct SplitPath {
  std::string folder;  // with its trailing slash, or empty
  std::string name;
};

SplitPath Split(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// The temporary name of `name` without its process and counter numbers.
std::string TempStem(const std::string& name) { return "." + name + ".tmp"; }

std::string TempPathFor(const std::string& finalPath) {
  const SplitPath split = Split(finalPath);
  return split.folder + TempStem(split.name) + std::to_string(::getpid()) + "-" + std::to_string(gTempCounter++);
}

// PID-COUNTER, as TempPathFor writes them.
bool IsTempNumbering(const std::string& text) {
  const std::size_t dash = text.find('-');
  const auto digits = [](const std::string& part) {
    return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  return dash != std::string::npos && digits(text.substr(0, dash)) && digits(text.substr(dash + 1));
}

}  // namespace

TempFile::TempFile(std::string finalPath)
    : finalPath_(std::move(finalPath)), tempPath_(TempPathFor(finalPath_)), slot_(ClaimSlot(tempPath_)) {}

TempFile::~TempFile() {
  if (!committed_) ::unlink(tempPath_.c_str());
  ReleaseSlot(slot_);
}

void TempFile::commit() {
  if (std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0)
    throw std::runtime_error("cannot write output '" + finalPath_ + "': " + std::strerror(errno));
  committed_ = true;
}

void RemoveLeftoverTempFiles(const std::vector<std::string>& finalPaths) {
  // One listing per folder: a sequence may hold many thousand frames.
  std::map<std::string, std::set<std::string>> namesByFolder;
  for (const std::string& path : finalPaths) {
    SplitPath split = Split(path);
    namesByFolder[split.folder].insert(std::move(split.name));
  }
  for (const auto& [folder, names] : namesByFolder) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.empty() ? "." : folder, error)) {
      const std::string file = entry.path().filename().string();
      const std::size_t stemEnd = file.rfind(".tmp");
      if (file.size() < 2 || file[0] != '.' || stemEnd == std::string::npos) continue;
      if (names.count(file.substr(1, stemEnd - 1)) && IsTempNumbering(file.substr(stemEnd + 4)))
        fs::remove(entry.path(), error);
    }
  }
}

void RemoveUnfinishedFilesOnSignal() {
  for (int signalNumber : {SIGINT, SIGTERM, SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
    std::signal(signalNumber, RemoveUnfinishedFiles);
}

}  // namespace lenstrove::cli
