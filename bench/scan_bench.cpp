// `list` over a folder of 20 plug-in binaries (copies of the built module,
// each its own bundle): scanned cold, one child process per binary, and
// from the cache, against describing the same binaries in this process,
// the way listing worked before plug-ins were scanned apart, in the same
// run. With the command built, the command itself too: `lenstrove list`
// cold and cached, against `lenstrove --version`, the command's own start.
// Times are wall-clock (the work is in child processes); bench/scan.sh
// prints them per binary and as ratios.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "host.h"
#include "scanner.h"

namespace lenstrove::host {
namespace {

namespace fs = std::filesystem;

constexpr int kBinaries = 20;
const fs::path kFolder = fs::temp_directory_path() / "lenstrove-bench-scan";
const std::string kCache = (kFolder / "cache" / "lenstrove" / "plugins.cache").string();

// The folder of bundles, made once per run.
const std::vector<std::string>& Binaries() {
  static const std::vector<std::string> binaries = [] {
    fs::remove_all(kFolder);
    std::vector<std::string> made;
    const fs::path module = LENSTROVE_BENCH_MODULE;
    for (int i = 0; i < kBinaries; ++i) {
      const std::string name = "Copy" + std::to_string(i);
      const fs::path folder =
          kFolder / "plugins" / (name + ".ofx.bundle") / "Contents" / module.parent_path().filename();
      fs::create_directories(folder);
      fs::copy_file(module, folder / (name + ".ofx"));
      made.push_back((folder / (name + ".ofx")).string());
    }
    return made;
  }();
  return binaries;
}

ScanOptions Options() {
  ScanOptions options;
  options.scanner = LENSTROVE_BENCH_SCANNER;
  options.cache_file = kCache;
  return options;
}

void ScanCold(benchmark::State& state) {
  for (auto _ : state) {
    fs::remove(kCache);
    benchmark::DoNotOptimize(ScanBinaries(Binaries(), Options()));
  }
}

void ScanCached(benchmark::State& state) {
  ScanBinaries(Binaries(), Options());
  for (auto _ : state) benchmark::DoNotOptimize(ScanBinaries(Binaries(), Options()));
}

void DescribeInProcess(benchmark::State& state) {
  for (auto _ : state) {
    Host host;
    host.Log().SetEnabled(false);
    for (const std::string& binary : Binaries()) host.Open(binary)->Shutdown();
  }
}

BENCHMARK(ScanCold)->Name("scan/cold")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ScanCached)->Name("scan/cached")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DescribeInProcess)->Name("scan/in-process")->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef LENSTROVE_BENCH_COMMAND
// Runs the command to its end, its output read and dropped.
void RunCommand(const std::vector<std::string>& arguments) {
  ChildProcess command(LENSTROVE_BENCH_COMMAND, arguments);
  std::string output;
  while (command.ReadSome(&output, 600) == ChildProcess::Read::kData) output.clear();
  command.Wait(600);
}

void UseTheFolder() {
  Binaries();
  setenv("OFX_PLUGIN_PATH", (kFolder / "plugins").c_str(), 1);
  setenv("XDG_CACHE_HOME", (kFolder / "cache").c_str(), 1);
}

void CommandListCold(benchmark::State& state) {
  UseTheFolder();
  for (auto _ : state) {
    fs::remove(kCache);
    RunCommand({"list"});
  }
}

void CommandListCached(benchmark::State& state) {
  UseTheFolder();
  RunCommand({"list"});
  for (auto _ : state) RunCommand({"list"});
}

void CommandStart(benchmark::State& state) {
  for (auto _ : state) RunCommand({"--version"});
}

BENCHMARK(CommandListCold)->Name("command/list-cold")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CommandListCached)->Name("command/list-cached")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CommandStart)->Name("command/--version")->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace
}  // namespace lenstrove::host

BENCHMARK_MAIN();
