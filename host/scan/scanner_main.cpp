// lenstrove-scan BINARY [FIRST]: loads one plug-in binary and, for each of
// its plug-ins from FIRST on, runs load, describe and describe in context
// for every context it supports, then unload, writing what it finds to
// standard output (scan_protocol.h). The parent runs it in a process of its
// own so that a plug-in that crashes or hangs takes down only this program,
// and the last step marked says where it happened.

#include <fcntl.h>

#include "windows_headers.h"
#if defined(_WIN32)
#include <io.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "host.h"
#include "plugin_module.h"
#include "scan_protocol.h"
#include "scan_text.h"
#include "status.h"

namespace {

using namespace lenstrove::host;
namespace protocol = lenstrove::host::scan_protocol;

// The findings go through a channel of their own: whatever the plug-in
// prints to standard output is sent to standard error instead, so it cannot
// be mistaken for a finding.
class Findings {
 public:
  Findings() {
#if defined(_WIN32)
    DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_OUTPUT_HANDLE), GetCurrentProcess(), &channel_, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    _dup2(_fileno(stderr), _fileno(stdout));
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
#else
    channel_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
#endif
  }

  // One whole line per write, so the parent never sees half a record from
  // a process that died.
  void Write(const Fields& fields) {
    const std::string line = JoinFields(fields);
    size_t written = 0;
    while (written < line.size()) {
#if defined(_WIN32)
      DWORD wrote = 0;
      if (!WriteFile(channel_, line.data() + written, static_cast<DWORD>(line.size() - written), &wrote, nullptr))
        return;
#else
      const ssize_t wrote = ::write(channel_, line.data() + written, line.size() - written);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) return;
#endif
      written += static_cast<size_t>(wrote);
    }
  }

 private:
#if defined(_WIN32)
  HANDLE channel_ = nullptr;
#else
  int channel_ = -1;
#endif
};

#if defined(_WIN32)
LONG WINAPI EndWithTheException(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }
#else
extern "C" void EndWithTheSignal(int signal_number) { ::raise(signal_number); }
#endif

// A crash must end this process the plain way, so the parent reads the
// signal (or exception code) from how it ended: no sanitizer report that
// exits with a status instead, no crash dialog or debugger on Windows.
void CrashPlainly() {
#if defined(_WIN32)
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(EndWithTheException);
#else
  // Its own stack, so that a plug-in that overflows its stack still ends by
  // its signal.
  static char alternate_stack[64 * 1024];
  stack_t stack{};
  stack.ss_sp = alternate_stack;
  stack.ss_size = sizeof alternate_stack;
  ::sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = EndWithTheSignal;
  action.sa_flags = SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS})
    ::sigaction(signal_number, &action, nullptr);
#endif
}

// The host's messages name the binary; the parent names it already.
std::string WithoutPath(std::string text, const std::string& path) {
  const std::string cannot = "cannot load plug-in " + path + ": ";
  if (text.compare(0, cannot.size(), cannot) == 0) text = "cannot be loaded: " + text.substr(cannot.size());
  for (const std::string& named : {"plug-in " + path + ": ", path + ": ", path + " "}) {
    for (size_t at; (at = text.find(named)) != std::string::npos;) text.erase(at, named.size());
  }
  return text;
}

std::string Refusal(const PluginError& error) {
  return std::string("answered ") + StatusName(error.status()) + " to " + error.action() +
         (error.message().empty() ? "" : ": " + error.message());
}

std::string Label(Plugin& plugin) {
  const Property* label = plugin.Descriptor().Properties().Lookup(kOfxPropLabel);
  const std::string* text = label && !label->values.empty() ? std::get_if<std::string>(&label->values[0]) : nullptr;
  return text ? *text : std::string();
}

void ScanPlugin(Host& host, const std::shared_ptr<PluginModule>& module, int index, Findings& out) {
  const std::string at = std::to_string(index);
  out.Write({protocol::kStep, protocol::kGetStep, at});
  std::unique_ptr<Plugin> plugin;
  try {
    plugin = std::make_unique<Plugin>(host, module, index);
  } catch (const std::exception& error) {
    out.Write({protocol::kFailed, at, WithoutPath(error.what(), module->Path())});
    return;
  }
  const OfxPlugin& record = plugin->Record();
  out.Write({protocol::kPlugin, at, plugin->Identifier(), std::to_string(record.pluginVersionMajor),
             std::to_string(record.pluginVersionMinor)});
  try {
    plugin->Start(
        [&](const char* step, const std::string& context) { out.Write({protocol::kStep, step, at, context}); });
  } catch (const PluginError& error) {
    out.Write({protocol::kFailed, at, Refusal(error)});
    return;
  } catch (const std::exception& error) {
    out.Write({protocol::kFailed, at, WithoutPath(error.what(), module->Path())});
    return;
  }
  Fields described = {protocol::kDescribed, at, Label(*plugin)};
  for (const std::string& context : plugin->SupportedContexts()) described.push_back(context);
  out.Write(described);
  out.Write({protocol::kStep, kOfxActionUnload, at});
  try {
    plugin->Shutdown();
  } catch (const std::exception&) {
    // An unload that answers an error changes nothing that was found.
  }
}

void ScanBinary(const std::string& path, int first, Findings& out) {
  out.Write({protocol::kStep, protocol::kOpenStep});
  std::shared_ptr<PluginModule> module;
  try {
    module = std::make_shared<PluginModule>(path);
  } catch (const std::exception& error) {
    out.Write({protocol::kFailed, "-1", WithoutPath(error.what(), std::filesystem::absolute(path).string())});
    return;
  }
  out.Write({protocol::kStep, protocol::kCountStep});
  int count = 0;
  try {
    count = module->Count();
  } catch (const std::exception& error) {
    out.Write({protocol::kFailed, "-1", WithoutPath(error.what(), module->Path())});
    return;
  }
  if (count < 0) {
    out.Write({protocol::kFailed, "-1", "OfxGetNumberOfPlugins answered " + std::to_string(count)});
    return;
  }
  count = std::min(count, protocol::kMaxPlugins);
  out.Write({protocol::kCount, std::to_string(count)});
  {
    Host host;
    host.Log().SetEnabled(false);
    // Error messages come back with the failure they explain; the rest are
    // not the scan's business.
    host.SetMessageHandler([](const Message&) {});
    for (int index = first; index < count; ++index) ScanPlugin(host, module, index, out);
  }
  out.Write({protocol::kStep, protocol::kCloseStep});
  module.reset();
}

}  // namespace

int main(int argc, char** argv) {
  long long first = 0;
  if (argc < 2 || argc > 3 || (argc == 3 && !ParseInteger(argv[2], 0, protocol::kMaxPlugins, &first))) {
    std::fprintf(stderr, "usage: lenstrove-scan BINARY [FIRST-PLUG-IN]\n");
    return 2;
  }
  Findings out;
  CrashPlainly();
  ScanBinary(argv[1], static_cast<int>(first), out);
  out.Write({protocol::kDone});
  std::fflush(stdout);
  std::fflush(stderr);
  // Nothing of the plug-in's may run after the findings are complete: no
  // exit handlers, no leak report on a sanitizer build.
  std::_Exit(0);
}
