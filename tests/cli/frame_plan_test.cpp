// Numbered sequences: parsing the frame field, naming frames and turning a
// render command into the list of files to render.

#include <gtest/gtest.h>

#include "image/sequence.h"
#include "temp_folder.h"

namespace lenstrove::cli {
namespace {

TEST(FramePatterns, HashesAndPrintfFieldsAreFoundInTheFileNameOnly) {
  const FramePattern hashes = ParseFramePattern("take#2/shot.####.exr");
  EXPECT_EQ(hashes.prefix, "take#2/shot.");
  EXPECT_EQ(hashes.suffix, ".exr");
  EXPECT_EQ(hashes.digits, 4);
  const FramePattern printf = ParseFramePattern("a/b.%06d.png");
  EXPECT_EQ(printf.digits, 6);
  EXPECT_EQ(FramePath(printf, 42), "a/b.000042.png");
  EXPECT_EQ(ParseFramePattern("x.%d.tif").digits, 1);
  EXPECT_FALSE(ParseFramePattern("take#2/still.png").isSequence());
  EXPECT_FALSE(ParseFramePattern("100%.png").isSequence());
}

TEST(FramePatterns, FrameNamesPadAndKeepTheSignOutsideThePadding) {
  const FramePattern p = ParseFramePattern("s.###.exr");
  EXPECT_EQ(FramePath(p, 7), "s.007.exr");
  EXPECT_EQ(FramePath(p, 12345), "s.12345.exr");
  EXPECT_EQ(FramePath(p, -5), "s.-005.exr");
  EXPECT_EQ(FramePath(ParseFramePattern("still.png"), 3), "still.png");
}

TEST(FramePatterns, OnlyExactlyMatchingNamesCountAsFramesOnDisk) {
  TempFolder folder;
  for (const char* name : {"s.0001.png", "s.0003.png", "s.0002.png", "s.12.png", "s.0004.png.bak", "t.0005.png",
                           "s.00x6.png", "s.-0002.png"})
    folder.touch(name);
  const std::vector<long> frames = FramesOnDisk(ParseFramePattern(folder / "s.####.png"));
  EXPECT_EQ(frames, (std::vector<long>{-2, 1, 2, 3}));
}

TEST(FramePlans, ASequenceTakesItsFramesFromDiskOrFromTheRange) {
  TempFolder folder;
  for (const char* name : {"in.0009.png", "in.0010.png", "in.0011.png"}) folder.touch(name);
  RenderCommand command;
  command.input = folder / "in.####.png";
  command.output = folder / "out.%03d.exr";
  std::vector<FrameTask> tasks = PlanFrames(command);
  ASSERT_EQ(tasks.size(), 3u);
  EXPECT_EQ(tasks[0].input, folder / "in.0009.png");
  EXPECT_EQ(tasks[0].output, folder / "out.009.exr");
  EXPECT_EQ(tasks[0].time, 9.0);
  EXPECT_EQ(tasks[2].time, 11.0);

  command.frames = FrameRange{10, 11};
  tasks = PlanFrames(command);
  ASSERT_EQ(tasks.size(), 2u);
  EXPECT_EQ(tasks[0].time, 10.0);
}

TEST(FramePlans, AStillRenderedToASequenceRepeatsItAtEachTime) {
  TempFolder folder;
  folder.touch("still.png");
  RenderCommand command;
  command.input = folder / "still.png";
  command.output = folder / "anim.##.png";
  command.frames = FrameRange{1, 3};
  const std::vector<FrameTask> tasks = PlanFrames(command);
  ASSERT_EQ(tasks.size(), 3u);
  EXPECT_EQ(tasks[2].input, folder / "still.png");
  EXPECT_EQ(tasks[2].output, folder / "anim.03.png");
  EXPECT_EQ(tasks[2].time, 3.0);

  command.frames = FrameRange{1, 6, 2};
  const std::vector<FrameTask> stepped = PlanFrames(command);
  ASSERT_EQ(stepped.size(), 3u);
  EXPECT_EQ(stepped[2].output, folder / "anim.05.png");
}

TEST(FramePlans, ASingleImageRendersAtTheGivenTime) {
  TempFolder folder;
  folder.touch("a.png");
  RenderCommand command;
  command.input = folder / "a.png";
  command.output = folder / "b.png";
  command.singleImageTime = 12.5;
  const std::vector<FrameTask> tasks = PlanFrames(command);
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(tasks[0].time, 12.5);
}

std::string PlanError(const RenderCommand& command) {
  try {
    PlanFrames(command);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(FramePlans, InconsistentOrMissingFramesAreRefusedBeforeAnyRender) {
  TempFolder folder;
  folder.touch("in.0001.png");
  folder.touch("in.0003.png");
  RenderCommand command;
  command.input = folder / "in.####.png";
  command.output = folder / "out.png";
  EXPECT_NE(PlanError(command).find("needs a frame-number field"), std::string::npos);

  command.output = folder / "out.####.png";
  command.frames = FrameRange{1, 3};
  EXPECT_NE(PlanError(command).find("in.0002.png' does not exist"), std::string::npos);

  command.input = folder / "none.####.png";
  command.frames.reset();
  EXPECT_NE(PlanError(command).find("no frames of input sequence"), std::string::npos);

  command.input = folder / "in.0001.png";
  EXPECT_NE(PlanError(command).find("needs --frames"), std::string::npos);

  command.output = folder / "single.png";
  command.frames = FrameRange{1, 2};
  EXPECT_NE(PlanError(command).find("--frames needs a sequence output"), std::string::npos);

  command.output = folder / "s.####.png";
  command.frames = FrameRange{0, 50'000'000};
  EXPECT_NE(PlanError(command).find("more than"), std::string::npos);
}

}  // namespace
}  // namespace lenstrove::cli
