#pragma once

// Runs the real lenstrove program as a user would, with a chosen plug-in
// search path, and collects its exit status and both output streams.

#include <string>
#include <vector>

namespace lenstrove::cli::testing {

struct CommandResult {
  int exitCode = -1;
  std::string out;
  std::string err;
  long maxResidentKilobytes = 0;  // the program's peak memory
};

// `pluginPath` becomes OFX_PLUGIN_PATH for the run (empty: unset);
// `environment` adds NAME=VALUE entries over the test's own. The plug-in
// scan cache is kept in a folder of the test process's own unless
// XDG_CACHE_HOME is given.
CommandResult RunLenstrove(const std::vector<std::string>& args, const std::string& pluginPath = "",
                           const std::vector<std::string>& environment = {});
// `lenstrove render -q ARGS...`.
CommandResult RunQuietRender(std::vector<std::string> args);
// The same with files limited to `bytes` (as ulimit -f does): a stand-in
// for a full disk that needs no mount.
CommandResult RunQuietRenderWithFileLimit(std::vector<std::string> args, long bytes);

}  // namespace lenstrove::cli::testing
