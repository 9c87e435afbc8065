#include "scanner.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

#include "child_process.h"
#include "ofx/ofxImageEffect.h"
#include "plugin.h"
#include "scan_cache.h"
#include "scan_protocol.h"
#include "scan_text.h"
#include "status.h"

namespace lenstrove::host {

namespace fs = std::filesystem;
namespace protocol = scan_protocol;

namespace {

constexpr double kDefaultTimeLimit = 30;
// The scanner's own start (slow under an emulator on a busy machine) is not
// the plug-in's to answer for.
constexpr double kStartAllowance = 60;
// How long a child that has closed its output, or was killed, may take to end.
constexpr double kEndAllowance = 10;

struct Step {
  std::string name;
  int index = -1;
  std::string context;
};

// What one run of the scanner wrote.
struct Report {
  int count = -1;
  std::map<int, ScannedPlugin> announced;  // identifier and version, by index
  std::map<int, ScannedPlugin> described;
  std::vector<ScanProblem> problems;
  std::optional<Step> step;  // the last one begun
  bool done = false;

  std::string IdentifierOf(int index) const {
    const auto found = announced.find(index);
    return found != announced.end() ? found->second.identifier : "";
  }
};

int IndexField(const Fields& f, size_t at) {
  long long index = -1;
  return at < f.size() && ParseInteger(f[at], -1, protocol::kMaxPlugins, &index) ? static_cast<int>(index) : -1;
}

int VersionField(const Fields& f, size_t at) {
  long long version = 0;
  return ParseInteger(f[at], 0, 0xFFFFFFFFll, &version) ? static_cast<int>(std::min<long long>(version, 0x7FFFFFFF))
                                                         : 0;
}

// Lines the scanner did not write (there are none, but a plug-in could
// reach the channel) are ignored.
void Note(const Fields& f, Report* report) {
  const std::string& kind = f[0];
  if (kind == protocol::kStep && f.size() >= 2) {
    report->step = Step{f[1], IndexField(f, 2), f.size() > 3 ? f[3] : ""};
  } else if (kind == protocol::kCount && f.size() == 2) {
    report->count = IndexField(f, 1);
  } else if (kind == protocol::kPlugin && f.size() == 5) {
    const int index = IndexField(f, 1);
    report->announced[index] = {index, f[2], VersionField(f, 3), VersionField(f, 4), "", {}};
  } else if (kind == protocol::kDescribed && f.size() >= 3) {
    const int index = IndexField(f, 1);
    if (report->announced.count(index) == 0) return;
    ScannedPlugin plugin = report->announced[index];
    plugin.label = f[2];
    plugin.contexts.assign(f.begin() + 3, f.end());
    report->described[index] = plugin;
  } else if (kind == protocol::kFailed && f.size() == 3) {
    const int index = IndexField(f, 1);
    report->problems.push_back({index, report->IdentifierOf(index), f[2]});
    report->described.erase(index);
  } else if (kind == protocol::kDone) {
    report->done = true;
  }
}

struct Run {
  Report report;
  bool hung = false;
  ChildExit exit;
};

// One run of the scanner over `binary` from plug-in `first` on. Each step
// must be marked within the time limit of the one before.
Run RunScanner(const std::string& binary, int first, const ScanOptions& options) {
  std::vector<std::string> command = options.launcher;
  command.insert(command.end(), {options.scanner, binary, std::to_string(first)});
  ChildProcess child(command.front(), {command.begin() + 1, command.end()});
  Run run;
  std::string pending;
  double limit = std::max(options.time_limit, kStartAllowance);
  for (;;) {
    const ChildProcess::Read read = child.ReadSome(&pending, limit);
    if (read == ChildProcess::Read::kEnd) break;
    if (read == ChildProcess::Read::kTimeout) {
      run.hung = true;
      break;
    }
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      Fields f;
      if (SplitFields(pending.substr(0, end), &f)) Note(f, &run.report);
      limit = options.time_limit;
    }
  }
  if (!run.hung && !child.Wait(options.time_limit)) run.hung = true;
  if (run.hung) {
    child.Kill();
    child.Wait(kEndAllowance);
  }
  run.exit = child.Exit();
  return run;
}

// "OfxImageEffectContextFilter" -> "filter".
std::string ContextWord(std::string context) {
  const std::string prefix = "OfxImageEffectContext";
  if (context.compare(0, prefix.size(), prefix) == 0 && context.size() > prefix.size()) {
    context.erase(0, prefix.size());
    context[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(context[0])));
  }
  return context;
}

std::string StepPhrase(const Step& step) {
  if (step.name == protocol::kOpenStep) return "loading the binary";
  if (step.name == protocol::kCountStep) return "counting its plug-ins";
  if (step.name == protocol::kGetStep) return "handing out plug-in " + std::to_string(step.index);
  if (step.name == protocol::kCloseStep) return "releasing the binary";
  if (step.name == Plugin::kSetHostStep) return "setting the host";
  if (step.name == kOfxActionLoad) return "loading";
  if (step.name == kOfxActionDescribe) return "describing";
  if (step.name == kOfxImageEffectActionDescribeInContext)
    return "describing the " + ContextWord(step.context) + " context";
  if (step.name == kOfxActionUnload) return "unloading";
  return "in step " + step.name;
}

std::string LimitText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

// Why a run that did not finish ended, and where.
std::string Ending(const Run& run, const ScanOptions& options) {
  const std::string where = " while " + StepPhrase(*run.report.step);
  if (run.hung) return "hung" + where + " (stopped after " + LimitText(options.time_limit) + " s)";
  if (run.exit.crashed) return "crashed" + where + " (" + run.exit.Text() + ")";
  return "quit" + where + " (" + run.exit.Text() + ")";
}

void Absorb(const Report& report, BinaryScan* scan) {
  for (const auto& entry : report.described) scan->plugins.push_back(entry.second);
  scan->problems.insert(scan->problems.end(), report.problems.begin(), report.problems.end());
}

std::string ScannerIdentity(const std::string& scanner) {
  const std::optional<FileStamp> stamp = StampOf(scanner);
  return scanner + (stamp ? "|" + std::to_string(stamp->size) + "|" + std::to_string(stamp->modified) : "");
}

}  // namespace

const ScanProblem* BinaryScan::ProblemOf(int index) const {
  for (const ScanProblem& problem : problems)
    if (problem.index == index || problem.index < 0) return &problem;
  return nullptr;
}

std::string ProblemText(const BinaryScan& scan, const ScanProblem& problem) {
  return "skipped " + scan.binary + (problem.identifier.empty() ? "" : " (" + problem.identifier + ")") + ": " +
         problem.reason;
}

double DefaultScanTimeLimit() {
  if (const char* text = std::getenv("LENSTROVE_SCAN_TIME_LIMIT")) {
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end != text && *end == '\0' && std::isfinite(seconds) && seconds > 0) return seconds;
  }
  return kDefaultTimeLimit;
}

std::string DefaultScanCacheFile() {
  fs::path folder;
#if defined(_WIN32)
  if (const char* local = std::getenv("LOCALAPPDATA"); local && *local) folder = fs::path(local) / "lenstrove";
#else
  // The XDG rule: a relative XDG_CACHE_HOME is ignored.
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/') {
    folder = fs::path(cache) / "lenstrove";
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    folder = fs::path(home) / ".cache" / "lenstrove";
  }
#endif
  return folder.empty() ? std::string() : (folder / "plugins.cache").string();
}

BinaryScan ScanBinary(const std::string& binary, const ScanOptions& given) {
  ScanOptions options = given;
  if (options.time_limit <= 0) options.time_limit = DefaultScanTimeLimit();
  BinaryScan scan;
  scan.binary = binary;
  // A plug-in that takes its process down is marked and the scan goes on
  // from the next one in a new process.
  for (int first = 0;;) {
    const Run run = RunScanner(binary, first, options);
    Absorb(run.report, &scan);
    if (run.report.done && !run.hung && !run.exit.crashed && run.exit.code == 0) break;
    if (!run.report.step)
      throw HostError("the plug-in scanner " + options.scanner + " ended before it began (" +
                      (run.hung ? "no answer" : run.exit.Text()) + ")");
    if (run.hung) scan.hung_after = options.time_limit;
    const Step& step = *run.report.step;
    const std::string reason = Ending(run, options);
    if (step.index < 0) {
      // The binary itself: nothing in it is used.
      scan.plugins.clear();
      scan.problems.push_back({-1, "", reason});
      break;
    }
    scan.plugins.erase(std::remove_if(scan.plugins.begin(), scan.plugins.end(),
                                      [&](const ScannedPlugin& p) { return p.index == step.index; }),
                       scan.plugins.end());
    scan.problems.push_back({step.index, run.report.IdentifierOf(step.index), reason});
    first = step.index + 1;
    if (first >= run.report.count) break;
  }
  return scan;
}

std::vector<BinaryScan> ScanBinaries(const std::vector<std::string>& binaries, const ScanOptions& given) {
  ScanOptions options = given;
  if (options.time_limit <= 0) options.time_limit = DefaultScanTimeLimit();
  ScanCache cache(options.cache_file, ScannerIdentity(options.scanner));
  cache.Load();
  std::vector<BinaryScan> scans;
  bool stored = false;
  for (const std::string& given_path : binaries) {
    std::error_code error;
    const std::string binary = fs::absolute(given_path, error).lexically_normal().string();
    const std::optional<FileStamp> stamp = StampOf(binary);
    BinaryScan scan;
    if (!stamp) {
      scan.binary = binary;
      scan.problems.push_back({-1, "", "does not exist"});
      scan.remember = false;
    } else if (const BinaryScan* known = cache.Find(binary, *stamp);
               known && !(known->hung_after > 0 && known->hung_after < options.time_limit)) {
      scan = *known;
      scan.from_cache = true;
    } else {
      try {
        scan = ScanBinary(binary, options);
      } catch (const std::exception& failure) {
        scan = BinaryScan{};
        scan.binary = binary;
        scan.problems.push_back({-1, "", std::string("could not be scanned: ") + failure.what()});
        scan.remember = false;
      }
      if (scan.remember) {
        cache.Store(scan, *stamp);
        stored = true;
      }
    }
    scans.push_back(std::move(scan));
  }
  if (stored) cache.Save();
  return scans;
}

}  // namespace lenstrove::host
