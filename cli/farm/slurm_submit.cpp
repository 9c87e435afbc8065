#include "farm/slurm_submit.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include "image/sequence.h"

extern char** environ;

namespace lenstrove::cli {
namespace fs = std::filesystem;
namespace {

// One word for a POSIX shell, whatever it holds.
std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string RangeText(long first, long last, long step) {
  std::string text = std::to_string(first);
  if (last != first) text += "-" + std::to_string(last);
  if (step != 1 && last != first) text += "x" + std::to_string(step);
  return text;
}

// Every task must plan the same frame list, or chunks would overlap. A
// sequence found on disk is pinned now as an explicit range, so frames
// appearing while the job waits in the queue cannot shift the chunks.
std::vector<std::string> PinnedRenderWords(const SubmitCommand& command, const std::vector<FrameTask>& tasks) {
  std::vector<std::string> words;
  if (command.render.jobs == 0) {
    // Without a limit a task would start a worker per core of the node,
    // whatever share of the node Slurm gave it.
    words.push_back("--jobs");
    words.push_back(std::to_string(command.cpusPerTask > 0 ? command.cpusPerTask : 1));
  }
  const bool onDisk = !command.render.frames && ParseFramePattern(command.render.input).isSequence();
  if (onDisk && !tasks.empty()) {
    const long first = static_cast<long>(tasks.front().time), last = static_cast<long>(tasks.back().time);
    const long step = tasks.size() > 1 ? static_cast<long>(tasks[1].time) - first : 1;
    for (std::size_t i = 0; i < tasks.size(); ++i)
      if (static_cast<long>(tasks[i].time) != first + static_cast<long>(i) * step)
        throw std::runtime_error("the frames of '" + command.render.input +
                                 "' on disk have gaps; give the frames to render with --frames");
    words.push_back("--frames");
    words.push_back(RangeText(first, last, step));
  }
  words.insert(words.end(), command.renderWords.begin(), command.renderWords.end());
  return words;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  if (error) throw std::runtime_error("cannot resolve '" + path + "': " + error.message());
  return absolute.lexically_normal().string();
}

std::string ThisProgram() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) throw std::runtime_error("cannot find the lenstrove program's own path: " + error.message());
  return program.string();
}

// Runs a program with the caller's environment and returns what it wrote
// on standard output; its standard error goes straight to ours.
std::string Capture(const std::vector<std::string>& words) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawnError = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  std::string output;
  if (spawnError == 0) {
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
      if (got > 0) output.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipeEnds[0]);
  if (spawnError != 0) throw std::runtime_error("cannot run " + words[0] + ": " + std::strerror(spawnError));
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(words[0] + " failed (see its message above)");
  return output;
}

std::string ScriptFileName(const SubmitCommand& command) {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  return command.jobName + "-" + std::to_string(seconds) + "-" + std::to_string(::getpid()) + ".sbatch";
}

}  // namespace

int TaskCount(std::size_t frameCount, int chunkSize) {
  const std::size_t size = static_cast<std::size_t>(std::max(1, chunkSize));
  return static_cast<int>(std::max<std::size_t>(1, (frameCount + size - 1) / size));
}

std::string SlurmArrayScript(const SubmitCommand& command, const SlurmJobSetting& setting) {
  const int tasks = TaskCount(setting.frameCount, command.chunkSize);
  std::string script = "#!/bin/sh\n";
  const auto directive = [&script](const std::string& option, const std::string& value) {
    if (!value.empty()) script += "#SBATCH --" + option + "=" + value + "\n";
  };
  directive("job-name", command.jobName);
  directive("array", "1-" + std::to_string(tasks));
  // %A is the job, %a the task: one log per task.
  directive("output", setting.logFolder + "/%x-%A_%a.log");
  directive("chdir", setting.workingFolder);
  directive("partition", command.partition);
  directive("time", command.timeLimit);
  directive("mem", command.memory);
  directive("cpus-per-task", command.cpusPerTask > 0 ? std::to_string(command.cpusPerTask) : "");
  script += "\n# " + std::to_string(setting.frameCount) + " frames in " + std::to_string(tasks) +
            " contiguous chunks; each task renders the one its array index names.\n"
            "# Exit status 0: the chunk is done; otherwise the last log line says why.\n";
  // The chunk count is written out rather than read from the array's
  // size, so resubmitting some of the tasks (sbatch --array=3,5) renders
  // exactly their chunks.
  script += "exec " + ShellQuote(setting.program) + " render --chunk \"${SLURM_ARRAY_TASK_ID}/" +
            std::to_string(tasks) + "\"";
  for (const std::string& word : setting.renderWords) script += " " + ShellQuote(word);
  return script + "\n";
}

void RunSubmit(const SubmitCommand& command, std::ostream& out) {
  const std::vector<FrameTask> frames = PlanFrames(command.render);
  SlurmJobSetting setting;
  setting.program = ThisProgram();
  setting.workingFolder = fs::current_path().string();
  setting.logFolder = AbsolutePath(command.logFolder);
  setting.frameCount = frames.size();
  setting.renderWords = PinnedRenderWords(command, frames);
  const std::string script = SlurmArrayScript(command, setting);
  if (command.dryRun) {
    out << script;
    return;
  }
  // Slurm does not make the log folder, and a task whose log cannot be
  // opened fails without a word.
  std::error_code error;
  fs::create_directories(setting.logFolder, error);
  if (error) throw std::runtime_error("cannot make log folder '" + setting.logFolder + "': " + error.message());
  const std::string scriptPath = setting.logFolder + "/" + ScriptFileName(command);
  std::ofstream(scriptPath) << script;
  if (!fs::is_regular_file(scriptPath, error) || fs::file_size(scriptPath, error) != script.size())
    throw std::runtime_error("cannot write job script '" + scriptPath + "'");
  // --parsable prints "JOBID" or "JOBID;CLUSTER".
  std::string reply = Capture({"sbatch", "--parsable", scriptPath});
  reply = reply.substr(0, reply.find_first_of(";\n"));
  if (reply.empty()) throw std::runtime_error("sbatch printed no job id");
  out << reply << "\n";
  std::cerr << "lenstrove: submitted " << TaskCount(frames.size(), command.chunkSize) << " tasks for "
            << frames.size() << " frames; logs in " << setting.logFolder << ", script " << scriptPath << "\n";
}

}  // namespace lenstrove::cli
