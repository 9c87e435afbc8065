#ifndef LENSTROVE_HOST_SCANNER_H
#define LENSTROVE_HOST_SCANNER_H

// Scanning plug-in binaries safely. Each binary is loaded and described in
// a child process, the lenstrove-scan program, as professional hosts' plug-in
// scanners do: a plug-in that crashes or hangs while it loads or describes
// itself takes down only that child, and is reported with the step it was
// in ("crashed while describing (signal 11)"). The child marks each step
// before it starts it; every step has its own time limit, after which the
// child is killed.
//
// Results are kept per binary (path, size, modification time) in a cache
// file, so only binaries that are new or changed are scanned again; a
// binary that failed stays remembered until it changes (or, for one that
// hung, until the time limit is raised above the one it hung under).
//
//   ScanOptions options;
//   options.scanner = "/usr/lib/lenstrove/lenstrove-scan";
//   options.cache_file = DefaultScanCacheFile();
//   for (const BinaryScan& scan : ScanBinaries(binaries, options)) ...

#include <string>
#include <vector>

namespace lenstrove::host {

// A plug-in that loaded and described itself in every context it named.
struct ScannedPlugin {
  int index = 0;  // for OfxGetPlugin
  std::string identifier;
  int version_major = 0;
  int version_minor = 0;
  std::string label;                  // kOfxPropLabel, possibly empty
  std::vector<std::string> contexts;  // kOfxImageEffectContextFilter, ...
};

// Why a plug-in, or a whole binary, cannot be used.
struct ScanProblem {
  int index = -1;          // the plug-in's index, or -1 for the binary itself
  std::string identifier;  // empty when not known
  std::string reason;      // "crashed while describing (signal 11)"
};

struct BinaryScan {
  std::string binary;  // absolute path
  std::vector<ScannedPlugin> plugins;
  std::vector<ScanProblem> problems;
  // The time limit a step ran out of, 0 when none did.
  double hung_after = 0;
  bool from_cache = false;
  // False for failures of the scan itself (the scanner missing, the binary
  // unreadable), which are not the binary's and are not remembered.
  bool remember = true;

  // The problem, if any, that keeps plug-in `index` from being used: its
  // own or the binary's.
  const ScanProblem* ProblemOf(int index) const;
};

// "skipped PATH: REASON" or, for one plug-in of the binary,
// "skipped PATH (IDENTIFIER): REASON".
std::string ProblemText(const BinaryScan& scan, const ScanProblem& problem);

struct ScanOptions {
  std::string scanner;  // the lenstrove-scan program
  // A program (and its first arguments) the scanner is run through, such
  // as an emulator when the tests of a cross build run under qemu-user.
  std::vector<std::string> launcher;
  // Seconds each step may take; 0 for DefaultScanTimeLimit().
  double time_limit = 0;
  std::string cache_file;  // empty: no cache
};

// LENSTROVE_SCAN_TIME_LIMIT (seconds, a positive number) when set, else 30:
// generous, since a real plug-in may take seconds to describe itself on a
// loaded machine, and a hang is only paid for once.
double DefaultScanTimeLimit();

// $XDG_CACHE_HOME/lenstrove/plugins.cache, else ~/.cache/lenstrove/... (on
// Windows %LOCALAPPDATA%\lenstrove\plugins.cache); empty when none of these
// is set.
std::string DefaultScanCacheFile();

// Scans one binary in child processes, without the cache. Throws HostError
// only when the scanner itself cannot be run.
BinaryScan ScanBinary(const std::string& binary, const ScanOptions& options);

// Every binary, in order: from the cache when it is unchanged there, else
// scanned (and the cache updated). Never throws for one binary's sake.
std::vector<BinaryScan> ScanBinaries(const std::vector<std::string>& binaries, const ScanOptions& options);

}  // namespace lenstrove::host

#endif
