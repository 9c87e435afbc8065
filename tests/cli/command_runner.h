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

// `pluginPath` becomes OFX_PLUGIN_PATH for the run (empty: unset).
CommandResult RunLenstrove(const std::vector<std::string>& args, const std::string& pluginPath = "");
// `lenstrove render -q ARGS...`.
CommandResult RunQuietRender(std::vector<std::string> args);
// The same with files limited to `bytes` (as ulimit -f does): a stand-in
// for a full disk that needs no mount.
CommandResult RunQuietRenderWithFileLimit(std::vector<std::string> args, long bytes);

}  // namespace lenstrove::cli::testing
