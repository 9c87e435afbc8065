#include "farm/chunks.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "image/temp_file.h"
#include "interface/text.h"

namespace lenstrove::cli {
namespace {

std::optional<long> Variable(const std::function<const char*(const char*)>& lookup, const char* name) {
  const char* value = lookup(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  const std::optional<long> number = ParseInteger(value);
  if (!number) throw std::runtime_error(std::string(name) + " is '" + value + "', not a whole number");
  return number;
}

bool OutputExists(const FrameTask& task) {
  std::error_code error;
  return std::filesystem::is_regular_file(task.output, error);
}

}  // namespace

ChunkSpan ChunkOfFrames(std::size_t frameCount, int index, int count) {
  const auto edge = [&](int k) { return frameCount * static_cast<std::size_t>(k) / static_cast<std::size_t>(count); };
  return {edge(index - 1), edge(index)};
}

ChunkChoice ChunkFromEnvironment(const std::function<const char*(const char*)>& lookup) {
  const std::optional<long> id = Variable(lookup, "SLURM_ARRAY_TASK_ID");
  const std::optional<long> minimum = Variable(lookup, "SLURM_ARRAY_TASK_MIN");
  if (!id || !minimum)
    throw std::runtime_error(
        "--chunk auto needs a Slurm array job (SLURM_ARRAY_TASK_ID is not set); use --chunk K/N elsewhere");
  const long step = Variable(lookup, "SLURM_ARRAY_TASK_STEP").value_or(1);
  const std::optional<long> maximum = Variable(lookup, "SLURM_ARRAY_TASK_MAX");
  const std::optional<long> listed = Variable(lookup, "SLURM_ARRAY_TASK_COUNT");
  const long count = maximum ? (*maximum - *minimum) / std::max(1L, step) + 1 : listed.value_or(0);
  // An array such as 1,2,5 has gaps: its indices do not number the chunks,
  // and guessing would render some frames twice and others never.
  if (count < 1 || (listed && *listed != count) || step < 1 || (*id - *minimum) % step != 0 || *id < *minimum ||
      (*id - *minimum) / step >= count)
    throw std::runtime_error("--chunk auto needs an array of evenly spaced indices (task " + std::to_string(*id) +
                             " is not one); use --chunk K/N");
  return ChunkChoice{false, static_cast<int>((*id - *minimum) / step + 1), static_cast<int>(count)};
}

std::vector<FrameTask> SelectFramesToRender(const RenderCommand& command, std::vector<FrameTask> all,
                                            const std::function<const char*(const char*)>& lookup) {
  if (command.chunk) {
    const ChunkChoice chunk = command.chunk->fromEnvironment ? ChunkFromEnvironment(lookup) : *command.chunk;
    const ChunkSpan span = ChunkOfFrames(all.size(), chunk.index, chunk.count);
    all = std::vector<FrameTask>(all.begin() + static_cast<std::ptrdiff_t>(span.begin),
                                 all.begin() + static_cast<std::ptrdiff_t>(span.end));
  }
  if (!command.skipExisting) return all;
  // A task killed hard (SIGKILL, a lost node) cannot remove its temporary
  // files; the frames are this run's own, so their leftovers go now.
  std::vector<std::string> outputs;
  for (const FrameTask& task : all) outputs.push_back(task.output);
  RemoveLeftoverTempFiles(outputs);
  std::vector<FrameTask> missing;
  for (FrameTask& task : all)
    if (!OutputExists(task)) missing.push_back(std::move(task));
  return missing;
}

}  // namespace lenstrove::cli
