#ifndef LENSTROVE_HOST_CHILD_PROCESS_H
#define LENSTROVE_HOST_CHILD_PROCESS_H

// A program run as a child process whose standard output the parent reads
// through a pipe, with a time limit on every wait: posix_spawn on POSIX
// systems, CreateProcess on Windows. Standard error is shared with the
// parent; standard input is empty.

#include <cstdint>
#include <string>
#include <vector>

namespace lenstrove::host {

// How a child ended.
struct ChildExit {
  bool crashed = false;  // by a signal (POSIX) or an unhandled exception (Windows)
  std::uint32_t code = 0;  // the signal, exception code or exit status
  // "signal 11", "exception 0xC0000005", "exit status 3"
  std::string Text() const;
};

class ChildProcess {
 public:
  // Starts `program` with `arguments`; throws HostError when it cannot.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
  // Kills and reaps a child that is still running.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  enum class Read { kData, kEnd, kTimeout };
  // Waits at most `seconds` for output and appends what came to `out`.
  // kEnd once the child has closed its output (or ended).
  Read ReadSome(std::string* out, double seconds);
  // Waits at most `seconds` for the child to end; false if it has not.
  bool Wait(double seconds);
  void Kill();
  // Valid after Wait returned true.
  const ChildExit& Exit() const { return exit_; }

 private:
  void Close();

#if defined(_WIN32)
  void* process_ = nullptr;
  void* output_ = nullptr;
#else
  int pid_ = -1;
  int output_ = -1;
#endif
  bool ended_ = false;
  ChildExit exit_;
};

}  // namespace lenstrove::host

#endif
