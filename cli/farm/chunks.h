#pragma once

// Splitting a render between the tasks of a farm job, and resuming one: each
// task takes a contiguous chunk of the frame list, and with --skip-existing
// leaves out the frames a previous attempt finished.

#include <cstddef>
#include <functional>
#include <vector>

#include "image/sequence.h"
#include "interface/arguments.h"

namespace lenstrove::cli {

// Task K of N takes frames [begin, end) of the list: contiguous chunks
// whose sizes differ by one at most, covering every frame exactly once.
struct ChunkSpan {
  std::size_t begin;
  std::size_t end;
};
ChunkSpan ChunkOfFrames(std::size_t frameCount, int index, int count);

// K and N from a Slurm array job's variables, read through `lookup` (getenv
// in the command). Throws std::runtime_error outside an array job or when
// the array is not one index per chunk.
ChunkChoice ChunkFromEnvironment(const std::function<const char*(const char*)>& lookup);

// The frames this run renders: its chunk of `all` (the chunk is taken from
// the whole list, so it never depends on what other tasks have finished),
// less, with skipExisting, the frames whose output file exists.
std::vector<FrameTask> SelectFramesToRender(const RenderCommand& command, std::vector<FrameTask> all,
                                            const std::function<const char*(const char*)>& lookup);

}  // namespace lenstrove::cli
