#pragma once

// A fresh folder under /tmp for one test, removed with everything in it.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace lenstrove::cli {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/lenstrove-test-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  void touch(const std::string& name) const { std::ofstream(path_ + "/" + name) << "x"; }
  bool has(const std::string& name) const { return std::filesystem::exists(path_ + "/" + name); }

 private:
  std::string path_;
};

}  // namespace lenstrove::cli
