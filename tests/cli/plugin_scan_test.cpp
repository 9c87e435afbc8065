// The command beside plug-ins that fail, crash or hang, each scanned in a
// child process: `list` names the bad ones and lists the rest, and
// remembers both; `describe` and `render -p` refuse a bad one with its
// reason and load only the binary they need; a plug-in that crashes
// mid-render leaves no output and no temporary file.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "command_runner.h"
#include "temp_folder.h"

namespace lenstrove::cli {
namespace {
namespace fs = std::filesystem;
using testing::CommandResult;
using testing::RunLenstrove;

#ifdef LENSTROVE_FAILING_PLUGIN_DIR
const std::string kFailing = LENSTROVE_FAILING_PLUGIN_DIR;
const std::string kWorkingAndFailing = std::string(LENSTROVE_TEST_PLUGIN_DIR) + ":" + kFailing;

std::string Binary(const std::string& folder, const std::string& name) {
  return folder + "/" + name + ".ofx.bundle/Contents/" LENSTROVE_BUNDLE_PLATFORM "/" + name + ".ofx";
}

size_t Count(const std::string& file, const std::string& line) {
  std::ifstream in(file);
  size_t count = 0;
  for (std::string noted; std::getline(in, noted);) count += noted == line;
  return count;
}
#endif

std::vector<std::string> Files(const TempFolder& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder.path())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PluginScan, ListNamesTheBadPluginsListsTheRestAndRemembersBoth) {
#ifndef LENSTROVE_FAILING_PLUGIN_DIR
  GTEST_SKIP() << "no OpenFX support library: its failing plug-ins were not built";
#else
  TempFolder folder;
  const std::vector<std::string> environment = {"XDG_CACHE_HOME=" + folder.path(),
                                                "LENSTROVE_TEST_ACTION_LOG=" + folder / "actions.txt"};
  const CommandResult first = RunLenstrove({"list"}, kWorkingAndFailing, environment);
  ASSERT_EQ(first.exitCode, 0) << first.err;
  for (const char* working : {"org.lenstrove.tests.AlwaysFails", "org.lenstrove.tests.SuiteUser",
                              "org.lenstrove.tests.CrashesRendering", "com.Qel.Lenstrove.V111"})
    EXPECT_NE(first.out.find(working), std::string::npos) << working << "\n" << first.out;
  EXPECT_EQ(first.out.find("CrashesDescribing"), std::string::npos) << first.out;
  const std::string skipped[] = {
      "lenstrove: skipped " + Binary(kFailing, "CrashesDescribing") +
          " (org.lenstrove.tests.CrashesDescribing): crashed while describing (signal 11)\n",
      "lenstrove: skipped " + Binary(kFailing, "FailsToLoad") +
          " (org.lenstrove.tests.FailsToLoad): answered kOfxStatFailed to OfxActionLoad\n",
      "(org.lenstrove.tests.ThrowsOutOfDescribe): answered kOfxStatFailed to OfxActionDescribe: threw an "
      "exception: no description today\n",
  };
  for (const std::string& line : skipped) EXPECT_NE(first.err.find(line), std::string::npos) << line << first.err;

  const CommandResult second = RunLenstrove({"list"}, kWorkingAndFailing, environment);
  EXPECT_EQ(second.out, first.out);
  EXPECT_EQ(second.err, first.err);
  EXPECT_EQ(Count(folder / "actions.txt", "describe org.lenstrove.tests.CrashesDescribing"), 1u)
      << "the second list scanned it again";
  EXPECT_TRUE(folder.has("lenstrove/plugins.cache"));
#endif
}

TEST(PluginScan, DescribeAndRenderRefuseABadPluginAndLoadOnlyWhatTheyNeed) {
#ifndef LENSTROVE_FAILING_PLUGIN_DIR
  GTEST_SKIP() << "no OpenFX support library: its failing plug-ins were not built";
#else
  const CommandResult byIdentifier = RunLenstrove({"describe", "org.lenstrove.tests.CrashesDescribing"}, kFailing);
  EXPECT_EQ(byIdentifier.exitCode, 1);
  EXPECT_NE(byIdentifier.err.find("plug-in 'org.lenstrove.tests.CrashesDescribing' in " +
                                  Binary(kFailing, "CrashesDescribing") +
                                  " cannot be used: it crashed while describing (signal 11)"),
            std::string::npos)
      << byIdentifier.err;
  const std::string hanging = std::string(LENSTROVE_HANGING_PLUGIN_DIR) + "/HangsDescribing.ofx.bundle";
  const CommandResult byPath = RunLenstrove({"describe", hanging}, "", {"LENSTROVE_SCAN_TIME_LIMIT=1"});
  EXPECT_EQ(byPath.exitCode, 1);
  EXPECT_NE(byPath.err.find("plug-in '" + hanging + "' cannot be used: org.lenstrove.tests.HangsDescribing "
                            "hung while describing (stopped after 1 s)"),
            std::string::npos)
      << byPath.err;

  TempFolder folder;
  fs::copy_file(std::string(LENSTROVE_TEST_DATA_DIR) + "/coffee.png", folder / "in.png");
  const CommandResult render = RunLenstrove(
      {"render", "-q", "-p", "org.lenstrove.tests.SuiteUser", folder / "in.png", folder / "out.png"},
      kWorkingAndFailing);
  EXPECT_EQ(render.exitCode, 0) << render.err;
  EXPECT_TRUE(folder.has("out.png"));
#endif
}

TEST(PluginScan, APluginThatCrashesWhileRenderingLeavesNoFileBehind) {
  TempFolder folder;
  fs::copy_file(std::string(LENSTROVE_TEST_DATA_DIR) + "/coffee.png", folder / "in.png");
  // A movie's file is opened before the first frame renders; a picture's
  // only once it has rendered.
  const std::vector<std::vector<std::string>> renders = {
      {folder / "in.png", folder / "out.png"},
      {"-f", "1-3", folder / "in.png", folder / "out.mov"},
  };
  for (const auto& files : renders) {
    std::vector<std::string> args = {"render", "-q", "-p", "org.lenstrove.tests.CrashesRendering"};
    args.insert(args.end(), files.begin(), files.end());
    const CommandResult r = RunLenstrove(args, LENSTROVE_TEST_PLUGIN_DIR);
    EXPECT_EQ(r.exitCode, 128 + SIGSEGV) << files.back() << ": " << r.err;
    EXPECT_EQ(Files(folder), std::vector<std::string>{"in.png"}) << files.back();
  }
}

}  // namespace
}  // namespace lenstrove::cli
