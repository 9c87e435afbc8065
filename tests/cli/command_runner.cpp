#include "command_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "temp_folder.h"

extern char** environ;

namespace lenstrove::cli::testing {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> Environment(const std::string& pluginPath, const std::vector<std::string>& extra) {
  // The scan cache of every command this test process runs, so that tests
  // neither write into the user's own cache nor depend on what it holds.
  static const TempFolder cache;
  std::vector<std::string> added = extra;
  if (!pluginPath.empty()) added.push_back("OFX_PLUGIN_PATH=" + pluginPath);
  const auto sets = [&](const std::string& name) {
    for (const std::string& entry : added)
      if (NameOf(entry) == name) return true;
    return false;
  };
  if (!sets("XDG_CACHE_HOME")) added.push_back("XDG_CACHE_HOME=" + cache.path());
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (NameOf(entry) != "OFX_PLUGIN_PATH" && !sets(NameOf(entry))) env.push_back(entry);
  }
  env.insert(env.end(), added.begin(), added.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (std::string& w : words) pointers.push_back(w.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

// Without a shell, so no word is ever re-split or expanded.
CommandResult RunLenstrove(const std::vector<std::string>& args, const std::string& pluginPath,
                           const std::vector<std::string>& environment) {
  char outName[] = "/tmp/lenstrove-out-XXXXXX";
  char errName[] = "/tmp/lenstrove-err-XXXXXX";
  const int outFd = ::mkstemp(outName);
  const int errFd = ::mkstemp(errName);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

  std::vector<std::string> argv = {LENSTROVE_COMMAND};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = Environment(pluginPath, environment);
  std::vector<char*> argvPointers = Pointers(argv), envPointers = Pointers(env);

  CommandResult result;
  pid_t child = 0;
  if (posix_spawn(&child, LENSTROVE_COMMAND, &actions, nullptr, argvPointers.data(), envPointers.data()) == 0) {
    int status = 0;
    struct rusage usage {};
    ::wait4(child, &status, 0, &usage);
    result.maxResidentKilobytes = usage.ru_maxrss;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(outFd);
  ::close(errFd);
  result.out = ReadAll(outName);
  result.err = ReadAll(errName);
  ::unlink(outName);
  ::unlink(errName);
  return result;
}

CommandResult RunQuietRender(std::vector<std::string> args) {
  args.insert(args.begin(), {"render", "-q"});
  return RunLenstrove(args);
}

// The child inherits the limit, so it is lowered around the spawn only;
// this process writes nothing until the child has ended.
CommandResult RunQuietRenderWithFileLimit(std::vector<std::string> args, long bytes) {
  struct rlimit saved {};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit limited = saved;
  limited.rlim_cur = static_cast<rlim_t>(bytes);
  ::setrlimit(RLIMIT_FSIZE, &limited);
  args.insert(args.begin(), {"render", "-q"});
  const CommandResult result = RunLenstrove(args);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  return result;
}

}  // namespace lenstrove::cli::testing
