#pragma once

// `lenstrove submit slurm`: a render handed to Slurm as an array job, one
// task per chunk of frames, each task running `lenstrove render --chunk`.

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "interface/arguments.h"

namespace lenstrove::cli {

// What the job script needs besides the command line.
struct SlurmJobSetting {
  std::string program;        // the lenstrove to run, an absolute path
  std::string workingFolder;  // where relative file names are resolved
  std::string logFolder;      // absolute
  std::size_t frameCount = 0;
  std::vector<std::string> renderWords;  // after "render", frames pinned
};

// How many tasks a render of frameCount frames needs at chunkSize frames
// per task at most.
int TaskCount(std::size_t frameCount, int chunkSize);

// The sbatch script of the array job.
std::string SlurmArrayScript(const SubmitCommand& command, const SlurmJobSetting& setting);

// Writes the script and submits it, printing the job id on `out`; with
// --dry-run prints the script instead. Throws std::runtime_error.
void RunSubmit(const SubmitCommand& command, std::ostream& out);

}  // namespace lenstrove::cli
