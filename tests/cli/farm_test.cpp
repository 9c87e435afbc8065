// Farm rendering: splitting frames into chunks, reading the chunk from a
// Slurm array job, resuming with --skip-existing, and the job script.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

#include "farm/chunks.h"
#include "farm/slurm_submit.h"
#include "temp_folder.h"

namespace lenstrove::cli {
namespace {

using Environment = std::map<std::string, std::string>;

std::function<const char*(const char*)> Lookup(const Environment& environment) {
  return [&environment](const char* name) -> const char* {
    const auto found = environment.find(name);
    return found == environment.end() ? nullptr : found->second.c_str();
  };
}

std::string ChunkError(const Environment& environment) {
  try {
    const ChunkChoice c = ChunkFromEnvironment(Lookup(environment));
    return "(accepted " + std::to_string(c.index) + "/" + std::to_string(c.count) + ")";
  } catch (const std::runtime_error& error) {
    return error.what();
  }
}

TEST(Chunks, EveryFrameFallsInExactlyOneNearEqualContiguousChunk) {
  for (std::size_t frames : {0u, 1u, 5u, 48u, 50u, 1001u})
    for (int count : {1, 2, 3, 6, 7, 64}) {
      std::size_t next = 0, smallest = frames, largest = 0;
      for (int k = 1; k <= count; ++k) {
        const ChunkSpan span = ChunkOfFrames(frames, k, count);
        ASSERT_EQ(span.begin, next) << frames << " frames, chunk " << k << "/" << count;
        next = span.end;
        smallest = std::min(smallest, span.end - span.begin);
        largest = std::max(largest, span.end - span.begin);
      }
      EXPECT_EQ(next, frames);
      EXPECT_LE(largest - smallest, 1u) << frames << " frames in " << count;
    }
}

TEST(Chunks, AutoReadsTheArrayTaskAndRefusesWhatItCannotNumber) {
  EXPECT_EQ(ChunkError({{"SLURM_ARRAY_TASK_ID", "3"}, {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_MAX", "6"}}),
            "(accepted 3/6)");
  EXPECT_EQ(ChunkError({{"SLURM_ARRAY_TASK_ID", "0"}, {"SLURM_ARRAY_TASK_MIN", "0"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}),
            "(accepted 1/4)");
  EXPECT_EQ(ChunkError({{"SLURM_ARRAY_TASK_ID", "14"},
                        {"SLURM_ARRAY_TASK_MIN", "10"},
                        {"SLURM_ARRAY_TASK_MAX", "16"},
                        {"SLURM_ARRAY_TASK_STEP", "2"},
                        {"SLURM_ARRAY_TASK_COUNT", "4"}}),
            "(accepted 3/4)");
  EXPECT_NE(ChunkError({}).find("needs a Slurm array job"), std::string::npos);
  // 1,2,6: three tasks whose indices do not number three chunks.
  EXPECT_NE(ChunkError({{"SLURM_ARRAY_TASK_ID", "6"},
                        {"SLURM_ARRAY_TASK_MIN", "1"},
                        {"SLURM_ARRAY_TASK_MAX", "6"},
                        {"SLURM_ARRAY_TASK_COUNT", "3"}})
                .find("evenly spaced"),
            std::string::npos);
  EXPECT_NE(ChunkError({{"SLURM_ARRAY_TASK_ID", "x"}, {"SLURM_ARRAY_TASK_MIN", "1"}}).find("not a whole number"),
            std::string::npos);
}

TEST(Chunks, SkipExistingTakesTheChunkFirstAndClearsOnlyItsOwnLeftovers) {
  TempFolder folder;
  std::vector<FrameTask> all;
  for (int frame = 1; frame <= 6; ++frame) {
    const std::string name = "out.000" + std::to_string(frame) + ".png";
    all.push_back({"in.png", folder / name, static_cast<double>(frame)});
  }
  folder.touch("out.0004.png");                // finished by an earlier run
  folder.touch(".out.0005.png.tmp4242-0");     // a killed run's unfinished frame
  folder.touch(".out.0001.png.tmp4242-1");     // another chunk's: not this run's to remove
  folder.touch(".out.0006.png.tmp-notours");   // not a name the command writes
  RenderCommand command;
  command.chunk = ChunkChoice{false, 2, 2};
  command.skipExisting = true;
  const std::vector<FrameTask> chosen = SelectFramesToRender(command, all, Lookup({}));
  // Chunk 2/2 is frames 4-6 whatever exists; 4 is done.
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_EQ(chosen[0].time, 5.0);
  EXPECT_EQ(chosen[1].time, 6.0);
  EXPECT_FALSE(folder.has(".out.0005.png.tmp4242-0"));
  EXPECT_TRUE(folder.has(".out.0001.png.tmp4242-1"));
  EXPECT_TRUE(folder.has(".out.0006.png.tmp-notours"));

  command.chunk = ChunkChoice{true, 1, 1};
  EXPECT_THROW(SelectFramesToRender(command, all, Lookup({})), std::runtime_error);
}

TEST(SlurmJobs, TheScriptCarriesTheOptionsAndQuotesEveryWord) {
  SubmitCommand command;
  command.chunkSize = 8;
  command.partition = "render";
  command.timeLimit = "1:00:00";
  command.cpusPerTask = 4;
  SlurmJobSetting setting{"/opt/bin/lenstrove", "/shows/a", "/shows/a/logs", 50, {"in.png", "it's.####.png"}};
  const std::string script = SlurmArrayScript(command, setting);
  for (const char* line : {"#SBATCH --array=1-7\n", "#SBATCH --partition=render\n", "#SBATCH --time=1:00:00\n",
                           "#SBATCH --cpus-per-task=4\n", "#SBATCH --output=/shows/a/logs/%x-%A_%a.log\n",
                           "#SBATCH --chdir=/shows/a\n",
                           "exec '/opt/bin/lenstrove' render --chunk \"${SLURM_ARRAY_TASK_ID}/7\" 'in.png' "
                           "'it'\\''s.####.png'\n"})
    EXPECT_NE(script.find(line), std::string::npos) << line << " missing from\n" << script;
  EXPECT_EQ(script.find("--mem"), std::string::npos);
  EXPECT_EQ(TaskCount(48, 8), 6);
  EXPECT_EQ(TaskCount(1, 8), 1);
}

TEST(SlurmJobs, ASequenceOnDiskIsPinnedToItsFramesBeforeSubmitting) {
  TempFolder folder;
  for (const char* name : {"in.0001.png", "in.0003.png", "in.0005.png"}) folder.touch(name);
  const auto dryRun = [&](const std::vector<std::string>& render) {
    std::vector<std::string> words = {"submit", "slurm", "--dry-run", "--", "render"};
    words.insert(words.end(), render.begin(), render.end());
    std::ostringstream out;
    RunSubmit(std::get<SubmitCommand>(ParseCommandLine(words)), out);
    return out.str();
  };
  const std::string script = dryRun({folder / "in.####.png", folder / "out.####.png"});
  EXPECT_NE(script.find("'--jobs' '1' '--frames' '1-5x2' '" + folder / "in.####.png"), std::string::npos) << script;
  folder.touch("in.0006.png");
  EXPECT_THROW(dryRun({folder / "in.####.png", folder / "out.####.png"}), std::runtime_error);
  EXPECT_NE(dryRun({"-f", "1-3x2", folder / "in.####.png", folder / "out.####.png"}).find("#SBATCH --array=1-1\n"),
            std::string::npos);
}

}  // namespace
}  // namespace lenstrove::cli
