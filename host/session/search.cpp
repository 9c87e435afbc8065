#include "session/search.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <optional>
#include <system_error>

#include "plugin_module.h"
#include "scanner.h"
#include "session/error.h"
#include "session/session_internal.h"

#include "windows_headers.h"

namespace lenstrove::session {
namespace fs = std::filesystem;
namespace {

#ifndef LENSTROVE_EXECUTABLE_SUFFIX
#define LENSTROVE_EXECUTABLE_SUFFIX ""
#endif
constexpr const char* kScannerName = "lenstrove-scan" LENSTROVE_EXECUTABLE_SUFFIX;

fs::path ProgramFolder() {
#ifdef _WIN32
  wchar_t path[32768];
  const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  if (length == 0 || length >= std::size(path)) return {};
  return fs::path(std::wstring(path, length)).parent_path();
#else
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : self.parent_path();
#endif
}

// Each binary is scanned in a child process, or found unchanged in the
// cache, so no plug-in is loaded into this process just to be listed.
std::vector<host::BinaryScan> Scan(const std::vector<std::string>& binaries, const SearchOptions& options) {
  host::ScanOptions scan;
  scan.scanner = FindScanner(options.scanners.empty() ? ScannerCandidates() : options.scanners);
  scan.launcher = options.launcher;
  scan.time_limit = options.timeLimit;
  scan.cache_file = options.cacheFile;
  return host::ScanBinaries(binaries, scan);
}

std::vector<host::BinaryScan> ScanFolders(const SearchOptions& options) {
  std::vector<std::string> binaries;
  for (const std::string& bundle : host::FindBundles(options.folders)) binaries.push_back(host::ResolveModulePath(bundle));
  return Scan(binaries, options);
}

// "plug-in 'ID' in PATH cannot be used: it crashed while describing (signal 11)"
std::string CannotUse(const std::string& asked, const host::BinaryScan& scan, const host::ScanProblem& problem) {
  const bool sameName = problem.identifier.empty() || problem.identifier == asked;
  return "plug-in '" + asked + "'" + (LooksLikePath(asked) ? "" : " in " + scan.binary) + " cannot be used: " +
         (sameName ? "it " : problem.identifier + " ") + problem.reason;
}

// The first working plug-in with that identifier in the folders. Throws
// when there is none but one that failed its scan.
std::optional<Located> FindIdentifier(const std::string& identifier, const SearchOptions& options,
                                      std::vector<std::string>& problems) {
  std::string failure;
  for (const host::BinaryScan& scan : ScanFolders(options)) {
    for (const host::ScannedPlugin& plugin : scan.plugins)
      if (plugin.identifier == identifier) return Located{scan.binary, plugin.index};
    for (const host::ScanProblem& problem : scan.problems) {
      if (problem.identifier == identifier && failure.empty()) failure = CannotUse(identifier, scan, problem);
      if (problem.identifier.empty()) problems.push_back(host::ProblemText(scan, problem));
    }
  }
  if (!failure.empty()) throw Error(failure);
  return std::nullopt;
}

std::string JoinFolders(const std::vector<std::string>& folders) {
  std::string text;
  for (const std::string& folder : folders) text += (text.empty() ? "" : ", ") + folder;
  return text;
}

}  // namespace

SearchOptions DefaultSearchOptions() {
  SearchOptions options;
  options.folders = host::DefaultPluginFolders();
  options.cacheFile = host::DefaultScanCacheFile();
  return options;
}

std::vector<std::string> ScannerCandidates() {
  const fs::path folder = ProgramFolder();
  std::vector<std::string> candidates = {(folder / kScannerName).string(),
                                         (folder.parent_path() / "lib" / "lenstrove" / kScannerName).string()};
  const auto add = [&](const std::string& path) {
    if (std::find(candidates.begin(), candidates.end(), path) == candidates.end()) candidates.push_back(path);
  };
#ifdef LENSTROVE_INSTALLED_SCANNER
  add(LENSTROVE_INSTALLED_SCANNER);
#endif
#ifdef LENSTROVE_BUILD_SCANNER
  add(LENSTROVE_BUILD_SCANNER);
#endif
  return candidates;
}

std::string FindScanner(const std::vector<std::string>& candidates) {
  std::string looked;
  for (const std::string& candidate : candidates) {
    std::error_code error;
    if (fs::is_regular_file(candidate, error)) return candidate;
    looked += (looked.empty() ? "" : ", ") + candidate;
  }
  throw Error("cannot find the plug-in scanner lenstrove-scan (looked for " + looked + ")");
}

std::vector<PluginSummary> ListPlugins(const SearchOptions& options, std::vector<std::string>& problems) {
  std::vector<PluginSummary> found;
  for (const host::BinaryScan& scan : ScanFolders(options)) {
    for (const host::ScannedPlugin& plugin : scan.plugins) {
      found.push_back({plugin.identifier,
                       std::to_string(plugin.version_major) + "." + std::to_string(plugin.version_minor),
                       plugin.label.empty() ? plugin.identifier : plugin.label, scan.binary});
    }
    for (const host::ScanProblem& problem : scan.problems) problems.push_back(host::ProblemText(scan, problem));
  }
  return found;
}

bool LooksLikePath(const std::string& which) {
  const auto endsWith = [&](const std::string& tail) {
    return which.size() >= tail.size() && which.compare(which.size() - tail.size(), tail.size(), tail) == 0;
  };
#ifdef _WIN32
  if (which.find('\\') != std::string::npos) return true;
#endif
  return which.find('/') != std::string::npos || endsWith(".ofx") || endsWith(".ofx.bundle") ||
         endsWith(".ofx.bundle/");
}

Located Locate(const std::string& which, const SearchOptions& options) {
  if (LooksLikePath(which)) {
    std::error_code error;
    if (!fs::exists(which, error)) throw Error("plug-in file '" + which + "' does not exist");
    // Scanned first, so that a binary that crashes or hangs is refused
    // rather than taking this process with it.
    const host::BinaryScan scan = Scan({host::ResolveModulePath(which)}, options).front();
    if (const host::ScanProblem* problem = scan.ProblemOf(0)) throw Error(CannotUse(which, scan, *problem));
    return {which, 0};
  }
  std::vector<std::string> problems;
  const std::optional<Located> located = FindIdentifier(which, options, problems);
  if (!located) {
    std::string message = "unknown plug-in '" + which + "': none with that identifier in " +
                          JoinFolders(options.folders) + options.listHint;
    for (const std::string& problem : problems) message += "\n  " + problem;
    throw Error(message);
  }
  return *located;
}

}  // namespace lenstrove::session
