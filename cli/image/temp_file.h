#pragma once

// A file written under a temporary name and moved into place only when it
// is complete. Until then the name is on a list that an interrupt (Ctrl-C,
// SIGTERM) or a crash (a plug-in that segfaults mid-render) clears, so a
// stopped render leaves no half-written picture.

#include <string>
#include <vector>

namespace lenstrove::cli {

class TempFile {
 public:
  // The temporary name lies in the same folder as finalPath, so the rename
  // never crosses file systems, and starts with a dot so it stays out of
  // sequence scans and file browsers.
  explicit TempFile(std::string finalPath);
  ~TempFile();  // removes the temporary file unless it was committed
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return tempPath_; }
  // Renames the temporary file to the final name. Throws on failure.
  void commit();

 private:
  std::string finalPath_;
  std::string tempPath_;
  int slot_;
  bool committed_ = false;
};

// Removes temporary files left beside these final names by a run that was
// killed before it could clean up (SIGKILL, a lost machine). Only call it
// for files no other running process is writing.
void RemoveLeftoverTempFiles(const std::vector<std::string>& finalPaths);

// Installs the handler of SIGINT, SIGTERM and the crash signals (SIGSEGV,
// SIGBUS, SIGILL, SIGFPE, SIGABRT) that removes unfinished files; the
// process then ends by the same signal.
void RemoveUnfinishedFilesOnSignal();

}  // namespace lenstrove::cli
