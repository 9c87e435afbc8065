// lenstrove: the command-line OpenFX host. Parses the command line, hands
// the work to the subcommand and turns every failure into one line on
// standard error and a non-zero exit status.

#include <csignal>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "farm/slurm_submit.h"
#include "image/temp_file.h"
#include "interface/arguments.h"
#include "interface/commands.h"

#ifndef LENSTROVE_VERSION
#define LENSTROVE_VERSION "unknown"
#endif

namespace {

using namespace lenstrove::cli;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void Dispatch(const Command& command) {
  std::visit(
      [](const auto& c) {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, ListCommand>) RunList(std::cout);
        if constexpr (std::is_same_v<T, DescribeCommand>) RunDescribe(c, std::cout);
        if constexpr (std::is_same_v<T, RenderCommand>) RunRender(c);
        if constexpr (std::is_same_v<T, DemoCommand>) RunDemoCommand(c, std::cout);
        if constexpr (std::is_same_v<T, HelpCommand>) std::cout << HelpText(c.topic);
        if constexpr (std::is_same_v<T, SubmitCommand>) RunSubmit(c, std::cout);
        if constexpr (std::is_same_v<T, VersionCommand>) std::cout << "lenstrove " LENSTROVE_VERSION "\n";
      },
      command);
}

}  // namespace

int main(int argc, char** argv) {
  RemoveUnfinishedFilesOnSignal();
  // A file that reaches the size limit (ulimit -f, a farm's quota) makes
  // the write fail, which is reported like a full disk, rather than the
  // signal ending the program with a half-written temporary file.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    Dispatch(ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc)));
  } catch (const UsageError& error) {
    std::cerr << "lenstrove: " << error.what() << "\nTry 'lenstrove --help'.\n";
    return kExitUsage;
  } catch (const std::bad_alloc&) {
    std::cerr << "lenstrove: error: out of memory (try fewer --jobs or a lower --max-pixels)\n";
    return kExitFailure;
  } catch (const std::exception& error) {
    std::cerr << "lenstrove: error: " << error.what() << "\n";
    return kExitFailure;
  }
  return 0;
}
