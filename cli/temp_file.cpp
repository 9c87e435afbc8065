#include "temp_file.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace lenstrove::cli {
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

std::string TempPathFor(const std::string& finalPath) {
  const std::size_t slash = finalPath.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : finalPath.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  return folder + "." + name + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(gTempCounter++);
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

void RemoveUnfinishedFilesOnInterrupt() {
  std::signal(SIGINT, RemoveUnfinishedFiles);
  std::signal(SIGTERM, RemoveUnfinishedFiles);
}

}  // namespace lenstrove::cli
