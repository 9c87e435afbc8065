#include "child_process.h"

#include "windows_headers.h"
#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "status.h"

#if !defined(_WIN32)
extern char** environ;
#endif

namespace lenstrove::host {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point After(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Polls stop after a few milliseconds at first, then every 10: a child that
// ends at once is noticed at once, a slow one costs little.
class Backoff {
 public:
  void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_));
    pause_ = std::min(pause_ * 2, 10);
  }

 private:
  int pause_ = 1;
};

}  // namespace

std::string ChildExit::Text() const {
  char text[48];
#if defined(_WIN32)
  if (crashed) std::snprintf(text, sizeof text, "exception 0x%08lX", static_cast<unsigned long>(code));
#else
  if (crashed) std::snprintf(text, sizeof text, "signal %lu", static_cast<unsigned long>(code));
#endif
  else std::snprintf(text, sizeof text, "exit status %lu", static_cast<unsigned long>(code));
  return text;
}

#if defined(_WIN32)

namespace {

// The paths are narrow strings in the system's code page, as the module
// loader takes them.
std::wstring Widen(const std::string& text) { return std::filesystem::path(text).wstring(); }

// Quoted so that the C runtime's command-line parser gives it back as it was.
std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  for (auto it = argument.begin();; ++it) {
    size_t backslashes = 0;
    for (; it != argument.end() && *it == L'\\'; ++it) ++backslashes;
    if (it == argument.end()) {
      quoted.append(backslashes * 2, L'\\');
      break;
    }
    quoted.append(*it == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    quoted.push_back(*it);
  }
  return quoted + L"\"";
}

HANDLE Inheritable(HANDLE handle) {
  HANDLE copy = nullptr;
  if (!handle || handle == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

void CloseIfOpen(HANDLE handle) {
  if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 1 << 16))
    throw HostError("cannot make a pipe for " + program + ": Windows error " + std::to_string(GetLastError()));
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             nullptr);
  HANDLE error = Inheritable(GetStdHandle(STD_ERROR_HANDLE));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = write;
  startup.hStdError = error;
  std::wstring command = QuoteArgument(Widen(program));
  for (const auto& argument : arguments) command += L" " + QuoteArgument(Widen(argument));
  PROCESS_INFORMATION info{};
  const BOOL started = CreateProcessW(Widen(program).c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info);
  const DWORD failure = GetLastError();
  CloseIfOpen(write);
  CloseIfOpen(input);
  CloseIfOpen(error);
  if (!started) {
    CloseHandle(read);
    throw HostError("cannot start " + program + ": Windows error " + std::to_string(failure));
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  output_ = read;
}

ChildProcess::Read ChildProcess::ReadSome(std::string* out, double seconds) {
  const auto deadline = After(seconds);
  Backoff backoff;
  while (output_) {
    DWORD available = 0;
    if (!PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr)) break;  // the child closed it
    if (available > 0) {
      char buffer[4096];
      DWORD got = 0;
      if (!ReadFile(output_, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) || got == 0) break;
      out->append(buffer, got);
      return Read::kData;
    }
    // A child that ended may have left a grandchild holding the pipe open.
    if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
      if (PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr) && available > 0) continue;
      break;
    }
    if (Clock::now() >= deadline) return Read::kTimeout;
    backoff.Pause();
  }
  CloseIfOpen(output_);
  output_ = nullptr;
  return Read::kEnd;
}

bool ChildProcess::Wait(double seconds) {
  if (ended_) return true;
  const double milliseconds = std::min(seconds * 1000.0, 4.0e9);
  if (WaitForSingleObject(process_, static_cast<DWORD>(std::max(milliseconds, 0.0))) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  // NTSTATUS error codes: what an unhandled exception ends a process with.
  exit_.crashed = (code & 0xF0000000u) == 0xC0000000u;
  exit_.code = code;
  ended_ = true;
  return true;
}

void ChildProcess::Kill() {
  if (!ended_) TerminateProcess(process_, 1);
}

void ChildProcess::Close() {
  CloseIfOpen(output_);
  CloseIfOpen(process_);
  output_ = process_ = nullptr;
}

ChildProcess::~ChildProcess() {
  if (!ended_) {
    Kill();
    WaitForSingleObject(process_, INFINITE);
  }
  Close();
}

#else

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) throw HostError("cannot make a pipe for " + program + ": " + std::strerror(errno));
  for (int end : pipe_ends) ::fcntl(end, F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // The child starts with every signal at its default and none blocked,
  // whatever the parent ignores or blocks.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::vector<std::string> words = {program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int error = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_ends[1]);
  if (error != 0) {
    ::close(pipe_ends[0]);
    throw HostError("cannot start " + program + ": " + std::strerror(error));
  }
  output_ = pipe_ends[0];
}

ChildProcess::Read ChildProcess::ReadSome(std::string* out, double seconds) {
  if (output_ < 0) return Read::kEnd;
  const auto deadline = After(seconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd wanted{output_, POLLIN, 0};
    const int ready = ::poll(&wanted, 1, static_cast<int>(std::clamp<long long>(left, 0, 1 << 30)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return Read::kTimeout;
    char buffer[4096];
    ssize_t got;
    do got = ::read(output_, buffer, sizeof buffer);
    while (got < 0 && errno == EINTR);
    if (got <= 0) break;
    out->append(buffer, static_cast<size_t>(got));
    return Read::kData;
  }
  ::close(output_);
  output_ = -1;
  return Read::kEnd;
}

bool ChildProcess::Wait(double seconds) {
  const auto deadline = After(seconds);
  Backoff backoff;
  while (!ended_) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exit_.crashed = WIFSIGNALED(status);
      exit_.code = static_cast<std::uint32_t>(exit_.crashed ? WTERMSIG(status) : WEXITSTATUS(status));
      ended_ = true;
    } else if (done < 0 && errno != EINTR) {
      ended_ = true;  // not ours to wait for any more
    } else if (Clock::now() >= deadline) {
      return false;
    } else {
      backoff.Pause();
    }
  }
  return true;
}

void ChildProcess::Kill() {
  if (!ended_) ::kill(pid_, SIGKILL);
}

void ChildProcess::Close() {
  if (output_ >= 0) ::close(output_);
  output_ = -1;
}

ChildProcess::~ChildProcess() {
  if (!ended_) {
    Kill();
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  Close();
}

#endif

}  // namespace lenstrove::host
