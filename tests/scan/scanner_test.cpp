// Scanning plug-in binaries in child processes: a plug-in that fails,
// crashes or hangs is named with the step it was in and the rest are still
// found; the cache remembers both until a binary changes, and a cache file
// that is damaged, foreign or being written by another run is never
// trusted.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "scan/scan_test_support.h"
#include "scan_cache.h"
#include "scan_text.h"
#include "scanner.h"

namespace lenstrove::testing {
namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
const std::string kCrashed = "crashed while describing (exception 0xC0000005)";
// Every step of a scan starts a little later under Wine.
constexpr double kTimeLimit = 5;
#else
const std::string kCrashed = "crashed while describing (signal 11)";
constexpr double kTimeLimit = 3;
#endif

// "IDENTIFIER VERSION LABEL CONTEXT..." for every plug-in found, in order.
std::vector<std::string> Found(const std::vector<host::BinaryScan>& scans) {
  std::vector<std::string> found;
  for (const host::BinaryScan& scan : scans)
    for (const host::ScannedPlugin& p : scan.plugins) {
      std::string line = p.identifier + " " + std::to_string(p.version_major) + "." +
                         std::to_string(p.version_minor) + " '" + p.label + "'";
      for (const std::string& context : p.contexts) line += " " + context;
      found.push_back(line);
    }
  return found;
}

// "IDENTIFIER: REASON" for every problem, in order.
std::vector<std::string> Problems(const std::vector<host::BinaryScan>& scans) {
  std::vector<std::string> problems;
  for (const host::BinaryScan& scan : scans)
    for (const host::ScanProblem& problem : scan.problems)
      problems.push_back(problem.identifier + ": " + problem.reason);
  return problems;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// `text` closed with the line holding its hash, as cache files end.
std::string Hashed(const std::string& text) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(host::TextHash(text)));
  return text + "end\t" + hash + "\n";
}

bool Whole(const std::string& text) {
  const size_t end = text.rfind("end\t");
  return end != std::string::npos && Hashed(text.substr(0, end)) == text;
}

TEST(Scanner, NamesThePluginsThatFailCrashOrHangAndFindsTheRest) {
#ifndef LENSTROVE_FAILING_PLUGIN_DIR
  GTEST_SKIP() << "no OpenFX support library: its failing plug-ins were not built";
#else
  const std::vector<std::string> binaries = {
      LENSTROVE_MODULE_PATH,
      LENSTROVE_SUITE_USER_PLUGIN,
      BinaryIn(LENSTROVE_FAILING_PLUGIN_DIR, "FailsToLoad"),
      BinaryIn(LENSTROVE_FAILING_PLUGIN_DIR, "FailsToDescribe"),
      BinaryIn(LENSTROVE_FAILING_PLUGIN_DIR, "CrashesDescribing"),
      BinaryIn(LENSTROVE_HANGING_PLUGIN_DIR, "HangsDescribing"),
  };
  const std::vector<host::BinaryScan> scans = host::ScanBinaries(binaries, ScannerOptions(kTimeLimit));
  EXPECT_EQ(Found(scans), (std::vector<std::string>{
                              "com.Qel.Lenstrove.V111 1.11 ' ~ Qel Lenstrove ~ ' OfxImageEffectContextFilter "
                              "OfxImageEffectContextGeneral",
                              "org.lenstrove.tests.SuiteUser 1.0 'Suite User' OfxImageEffectContextFilter",
                              "org.lenstrove.tests.UnsafeUser 1.0 'Suite User' OfxImageEffectContextFilter",
                              "org.lenstrove.tests.ShortUser 1.0 'Suite User' OfxImageEffectContextFilter"}));
  EXPECT_EQ(Problems(scans),
            (std::vector<std::string>{
                "org.lenstrove.tests.FailsToLoad: answered kOfxStatFailed to OfxActionLoad",
                "org.lenstrove.tests.RefusesHost: answered kOfxStatErrMissingHostFeature to OfxActionDescribe",
                "org.lenstrove.tests.ThrowsInDescribe: answered kOfxStatFailed to OfxActionDescribe",
                "org.lenstrove.tests.CrashesDescribing: " + kCrashed,
                "org.lenstrove.tests.ScannedAfterTheCrash: answered kOfxStatFailed to OfxActionDescribe",
                "org.lenstrove.tests.HangsDescribing: hung while describing (stopped after " +
                    std::to_string(static_cast<int>(kTimeLimit)) + " s)"}));
  const host::BinaryScan& crashed = scans[4];
  EXPECT_EQ(host::ProblemText(crashed, crashed.problems[0]),
            "skipped " + crashed.binary + " (org.lenstrove.tests.CrashesDescribing): " + kCrashed);
  EXPECT_EQ(scans[5].hung_after, kTimeLimit);
#endif
}

TEST(ScanCache, RescansOnlyBinariesThatChangedOrHungUnderAShorterLimit) {
#ifndef LENSTROVE_FAILING_PLUGIN_DIR
  GTEST_SKIP() << "no OpenFX support library: its failing plug-ins were not built";
#else
  ScratchFolder scratch;
  ActionLog log(scratch / "actions.txt");
  // Copies, so that one can be changed.
  const std::string crashes = scratch / "CrashesDescribing.ofx", hangs = scratch / "HangsDescribing.ofx";
  fs::copy_file(BinaryIn(LENSTROVE_FAILING_PLUGIN_DIR, "CrashesDescribing"), crashes);
  fs::copy_file(BinaryIn(LENSTROVE_HANGING_PLUGIN_DIR, "HangsDescribing"), hangs);
  const std::vector<std::string> binaries = {LENSTROVE_SUITE_USER_PLUGIN, crashes, hangs};
  const std::string cache = scratch / "cache/plugins.cache";
  const auto scan = [&](double limit) { return host::ScanBinaries(binaries, ScannerOptions(limit, cache)); };
  const auto from_cache = [](const std::vector<host::BinaryScan>& scans) {
    std::vector<bool> cached;
    for (const auto& s : scans) cached.push_back(s.from_cache);
    return cached;
  };

  const std::vector<host::BinaryScan> first = scan(kTimeLimit);
  EXPECT_EQ(from_cache(first), (std::vector<bool>{false, false, false}));
  const std::vector<host::BinaryScan> second = scan(kTimeLimit);
  EXPECT_EQ(from_cache(second), (std::vector<bool>{true, true, true}));
  EXPECT_EQ(Found(second), Found(first));
  EXPECT_EQ(Problems(second), Problems(first));
  EXPECT_EQ(log.Count("describe org.lenstrove.tests.CrashesDescribing"), 1u);

  // A changed binary is scanned again; so is one that hung, once it is
  // given longer than it hung for.
  fs::last_write_time(crashes, fs::last_write_time(crashes) + std::chrono::hours(1));
  const std::vector<host::BinaryScan> third = scan(kTimeLimit + 1);
  EXPECT_EQ(from_cache(third), (std::vector<bool>{true, false, false}));
  EXPECT_EQ(log.Count("describe org.lenstrove.tests.CrashesDescribing"), 2u);
  EXPECT_EQ(log.Count("describe org.lenstrove.tests.HangsDescribing"), 2u);
#endif
}

TEST(ScanCache, DamagedOrForeignFilesAreIgnoredAndReplaced) {
  ScratchFolder scratch;
  const std::string cache = scratch / "plugins.cache";
  const std::vector<std::string> binaries = {LENSTROVE_SUITE_USER_PLUGIN};
  const auto scan = [&] { return host::ScanBinaries(binaries, ScannerOptions(kTimeLimit, cache)); };
  const std::vector<std::string> found = Found(scan());
  ASSERT_EQ(found.size(), 3u);
  const std::string valid = ReadText(cache);
  ASSERT_TRUE(scan()[0].from_cache);

  // Besides damage, well-formed and correctly hashed files whose header or
  // records are wrong.
  ASSERT_TRUE(Whole(valid));
  const std::string header = valid.substr(0, valid.find('\n') + 1);
  const std::string body = valid.substr(header.size(), valid.rfind("end\t") - header.size());
  std::string forged = body;
  forged.replace(forged.find("org.lenstrove.tests.SuiteUser"), 29, "org.lenstrove.tests.Forgery!");
  const struct {
    const char* what;
    std::string text;
  } damaged[] = {
      {"empty", ""},
      {"binary junk", std::string("\0\xff\x01garbage\n", 12)},
      {"cut short", valid.substr(0, valid.size() - 9)},
      {"edited after it was hashed", forged + valid.substr(valid.rfind("end\t"))},
      {"another scanner's", Hashed(host::JoinFields({"lenstrove plug-in scan cache", "1", "elsewhere"}) + forged)},
      {"a record before its binary", Hashed(header + host::JoinFields({"plugin", "0", "x", "1", "0", "x"}) + body)},
      {"a negative size", Hashed(header + host::JoinFields({"binary", "/x.ofx", "-4", "0", "0"}))},
  };
  for (const auto& d : damaged) {
    WriteText(cache, d.text);
    const std::vector<host::BinaryScan> scans = scan();
    EXPECT_FALSE(scans[0].from_cache) << d.what;
    EXPECT_EQ(Found(scans), found) << d.what;
    EXPECT_EQ(ReadText(cache), valid) << d.what << ": written again whole";
  }
  // The valid file's own text, hashed here, is accepted: the cases above
  // fail for what they damage.
  WriteText(cache, Hashed(header + body));
  EXPECT_TRUE(scan()[0].from_cache);
}

TEST(ScanCache, RunsSavingAtOnceLeaveAWholeFileAndKeepEachOthersEntries) {
  ScratchFolder scratch;
  const std::string file = scratch / "plugins.cache";
  const auto entry = [&](const std::string& name) {
    WriteText(scratch / name, name);
    host::BinaryScan scan;
    scan.binary = scratch / name;
    // Every character the line format escapes survives the trip.
    scan.plugins.push_back(
        {0, "org.example." + name, 2, 7, "tab\there\nnew \\line\r", {"OfxImageEffectContextFilter"}});
    scan.problems.push_back({1, "", "crashed while describing (signal 11)"});
    return scan;
  };
  const host::BinaryScan first = entry("first.ofx"), second = entry("second.ofx");
  const auto save = [&](const host::BinaryScan& scan, int times) {
    for (int i = 0; i < times; ++i) {
      host::ScanCache cache(file, "scanner");
      cache.Load();
      cache.Store(scan, *host::StampOf(scan.binary));
      cache.Save();
    }
  };
  std::atomic<bool> saving{true};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (saving) {
      const std::string text = ReadText(file);
      if (!text.empty() && !Whole(text)) ++torn;
    }
  });
  std::thread one(save, first, 40), two(save, second, 40);
  one.join();
  two.join();
  saving = false;
  reader.join();
  EXPECT_EQ(torn, 0) << "a reader saw a file that was not whole";

  // Saves at the same moment may each miss the other's newest entry, but a
  // save keeps whatever the file held before it.
  save(first, 1);
  save(second, 1);
  host::ScanCache cache(file, "scanner");
  cache.Load();
  EXPECT_EQ(cache.Size(), 2u);
  const host::BinaryScan* found = cache.Find(first.binary, *host::StampOf(first.binary));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(Found({*found}), Found({first}));
  EXPECT_EQ(Problems({*found}), Problems({first}));
  for (const auto& item : fs::directory_iterator(scratch.path()))
    EXPECT_EQ(item.path().filename().string().find(".tmp"), std::string::npos) << item.path();
}

}  // namespace
}  // namespace lenstrove::testing
