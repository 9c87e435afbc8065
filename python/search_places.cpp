#include "search_places.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace lenstrove::python {
namespace {

bool LoadedFromBuildTree() {
#ifdef LENSTROVE_BUILD_MODULE_DIR
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LoadedFromBuildTree), &info) == 0 || info.dli_fname == nullptr) return false;
  std::error_code error;
  const std::filesystem::path self = std::filesystem::weakly_canonical(info.dli_fname, error);
  return !error && std::filesystem::equivalent(self.parent_path(), LENSTROVE_BUILD_MODULE_DIR, error);
#else
  return false;
#endif
}

}  // namespace

session::SearchOptions SearchOptionsFor(const std::vector<std::string>& searchPath) {
  session::SearchOptions options = session::DefaultSearchOptions();
  options.scanners = session::ScannerCandidates();
#if defined(LENSTROVE_BUILD_BUNDLE_PARENT) && defined(LENSTROVE_BUILD_SCANNER)
  if (LoadedFromBuildTree()) {
    // The session lists the system's folder last; the fresh bundle and
    // scanner come before installed ones.
    options.folders.insert(options.folders.end() - (options.folders.empty() ? 0 : 1), LENSTROVE_BUILD_BUNDLE_PARENT);
    options.scanners.insert(options.scanners.begin(), LENSTROVE_BUILD_SCANNER);
  }
#endif
  options.folders.insert(options.folders.begin(), searchPath.begin(), searchPath.end());
  options.self = "this module";
  options.listHint = " (see lenstrove.plugins())";
  return options;
}

}  // namespace lenstrove::python
