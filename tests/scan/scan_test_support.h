#ifndef LENSTROVE_TESTS_SCAN_TEST_SUPPORT_H
#define LENSTROVE_TESTS_SCAN_TEST_SUPPORT_H

// What the scanner's tests share: where the test plug-ins and the scanner
// are, a scratch folder, and the file the failing plug-ins note their
// actions in. Written for every platform the host library is tested on.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "plugin_module.h"
#include "scanner.h"

namespace lenstrove::testing {

// The bundle NAME.ofx.bundle in `folder`, as the binary a scan takes.
inline std::string BinaryIn(const std::string& folder, const std::string& name) {
  return host::ResolveModulePath(folder + "/" + name + ".ofx.bundle");
}

inline host::ScanOptions ScannerOptions(double time_limit, const std::string& cache_file = "") {
  host::ScanOptions options;
  options.scanner = LENSTROVE_SCANNER;
#ifdef LENSTROVE_SCAN_LAUNCHER
  // "qemu-aarch64|-L|/usr/aarch64-linux-gnu": the emulator the tests run under.
  std::istringstream words(LENSTROVE_SCAN_LAUNCHER);
  for (std::string word; std::getline(words, word, '|');) options.launcher.push_back(word);
#endif
  options.time_limit = time_limit;
  options.cache_file = cache_file;
  return options;
}

inline void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

// A fresh folder, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("lenstrove-scan-test-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The failing plug-ins write "ACTION IDENTIFIER" lines here while it is set.
class ActionLog {
 public:
  explicit ActionLog(const std::string& file) : file_(file) { SetVariable("LENSTROVE_TEST_ACTION_LOG", file); }
  ~ActionLog() { SetVariable("LENSTROVE_TEST_ACTION_LOG", ""); }

  std::vector<std::string> Lines() const {
    std::ifstream in(file_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  size_t Count(const std::string& line) const {
    size_t count = 0;
    for (const std::string& noted : Lines()) count += noted == line;
    return count;
  }

 private:
  std::string file_;
};

}  // namespace lenstrove::testing

#endif
