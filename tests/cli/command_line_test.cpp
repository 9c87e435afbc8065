// The command line's grammar: subcommands, options, parameter settings,
// keyframes and frame ranges, and the messages for words it refuses.

#include <gtest/gtest.h>

#include "interface/arguments.h"
#include "interface/text.h"

namespace lenstrove::cli {
namespace {

template <typename T>
T Parse(const std::vector<std::string>& words) {
  const Command command = ParseCommandLine(words);
  EXPECT_TRUE(std::holds_alternative<T>(command));
  return std::get<T>(command);
}

std::string UsageMessage(const std::vector<std::string>& words) {
  try {
    ParseCommandLine(words);
  } catch (const UsageError& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(CommandLine, RenderTakesOptionsAnywhereAmongFilesAndSettings) {
  const RenderCommand r = Parse<RenderCommand>(
      {"render", "-j", "3", "in.png", "--tiles=4", "out.exr", "GuideThirds=on", "--depth", "float", "-q"});
  EXPECT_EQ(r.input, "in.png");
  EXPECT_EQ(r.output, "out.exr");
  EXPECT_EQ(r.jobs, 3);
  EXPECT_EQ(r.tiles, 4);
  EXPECT_EQ(r.depth, DepthChoice::Float);
  EXPECT_TRUE(r.quiet);
  ASSERT_EQ(r.settings.size(), 1u);
  EXPECT_EQ(r.settings[0].name, "GuideThirds");
  EXPECT_EQ(r.settings[0].value, "on");
  EXPECT_EQ(r.plugin, kDefaultPluginIdentifier);
}

TEST(CommandLine, DoubleDashEndsOptionsSoFilesMayStartWithADash) {
  const RenderCommand r = Parse<RenderCommand>({"render", "--", "-in.png", "-out.png"});
  EXPECT_EQ(r.input, "-in.png");
  EXPECT_EQ(r.output, "-out.png");
}

TEST(CommandLine, DescribeAndDemoTakeOptionalPositionals) {
  EXPECT_EQ(Parse<DescribeCommand>({"describe"}).plugin, kDefaultPluginIdentifier);
  EXPECT_EQ(Parse<DescribeCommand>({"describe", "x.ofx.bundle"}).plugin, "x.ofx.bundle");
  EXPECT_EQ(Parse<DemoCommand>({"demo"}).folder, "lenstrove-demo");
  EXPECT_EQ(Parse<DemoCommand>({"demo", "pics", "--data", "d"}).dataFolder, "d");
}

TEST(CommandLine, HelpAndVersionAreRecognisedEverywhere) {
  EXPECT_EQ(Parse<HelpCommand>({}).topic, "");
  EXPECT_EQ(Parse<HelpCommand>({"--help"}).topic, "");
  EXPECT_EQ(Parse<HelpCommand>({"help", "render"}).topic, "render");
  EXPECT_EQ(Parse<HelpCommand>({"render", "--help"}).topic, "render");
  Parse<VersionCommand>({"--version"});
  EXPECT_NE(HelpText("render").find("NAME=T:V"), std::string::npos);
  EXPECT_NE(HelpText("render").find("NAME@TIME=VALUE"), std::string::npos);
  EXPECT_NE(HelpText("").find("describe"), std::string::npos);
}

TEST(CommandLine, RefusedWordsAreNamedInTheMessage) {
  EXPECT_NE(UsageMessage({"paint"}).find("unknown command 'paint'"), std::string::npos);
  EXPECT_NE(UsageMessage({"render", "a.png"}).find("needs an input and an output"), std::string::npos);
  EXPECT_NE(UsageMessage({"render", "--bogus", "a", "b"}).find("'--bogus'"), std::string::npos);
  EXPECT_NE(UsageMessage({"render", "a", "b", "-j"}).find("needs a value"), std::string::npos);
  EXPECT_NE(UsageMessage({"render", "a", "b", "-j", "0"}).find("--jobs"), std::string::npos);
  EXPECT_NE(UsageMessage({"render", "a", "b", "--tiles", "two"}).find("'two'"), std::string::npos);
  EXPECT_NE(UsageMessage({"render", "a", "b", "-d", "half"}).find("'half'"), std::string::npos);
  EXPECT_NE(UsageMessage({"render", "a", "b", "stray"}).find("'stray'"), std::string::npos);
  EXPECT_NE(UsageMessage({"list", "extra"}).find("'extra'"), std::string::npos);
  EXPECT_NE(UsageMessage({"render", "--quiet=1", "a", "b"}).find("takes no value"), std::string::npos);
}

TEST(ParameterSettings, ValuesStayTextUntilTheTypeIsKnown) {
  const ParameterSetting s = ParseParameterSetting("CropOpacity=0.5");
  EXPECT_EQ(s.name, "CropOpacity");
  EXPECT_EQ(s.value, "0.5");
  EXPECT_FALSE(s.isKey());
  // Only the first '=' splits: a value may not contain one, but the name
  // must not swallow it either. ':' and ',' may belong to a string.
  EXPECT_EQ(ParseParameterSetting("A=b=c").value, "b=c");
  EXPECT_EQ(ParseParameterSetting("Note=1:x,,").value, "1:x,,");
  EXPECT_EQ(ParseParameterSetting("Note=").value, "");
  const ParameterSetting key = ParseParameterSetting("Centre@-12.5=3,4");
  EXPECT_EQ(key.name, "Centre");
  EXPECT_EQ(key.time, -12.5);
  EXPECT_EQ(key.value, "3,4");
}

TEST(ParameterSettings, MalformedSettingsAreRefused) {
  for (const char* word : {"NoEquals", "=1", "@3=1", "Op@=1", "Op@x=1", "Op@1:2=3"})
    EXPECT_THROW(ParseParameterSetting(word), UsageError) << word;
}

TEST(FrameRanges, AcceptRangesSingleFramesAndNegativeNumbers) {
  const FrameRange a = ParseFrameRange("1001-1024");
  EXPECT_EQ(a.first, 1001);
  EXPECT_EQ(a.last, 1024);
  const FrameRange b = ParseFrameRange("7");
  EXPECT_EQ(b.first, 7);
  EXPECT_EQ(b.last, 7);
  const FrameRange c = ParseFrameRange("-5--1");
  EXPECT_EQ(c.first, -5);
  EXPECT_EQ(c.last, -1);
  EXPECT_THROW(ParseFrameRange("10-1"), UsageError);
  EXPECT_THROW(ParseFrameRange("1-"), UsageError);
  EXPECT_THROW(ParseFrameRange("a-b"), UsageError);
}

TEST(FrameRanges, AStepTakesEveryNthFrameFromTheFirst) {
  const FrameRange r = ParseFrameRange("1001-1100x2");
  EXPECT_EQ(r.first, 1001);
  EXPECT_EQ(r.last, 1100);
  EXPECT_EQ(r.step, 2);
  EXPECT_EQ(ParseFrameRange("-6--1x5").first, -6);
  for (const char* bad : {"1-10x0", "1-10x-2", "1-10x", "1x2x3"}) EXPECT_THROW(ParseFrameRange(bad), UsageError) << bad;
}

TEST(FarmOptions, ChunksAndSubmitCommandsParseAndRefuseNonsense) {
  const RenderCommand r = Parse<RenderCommand>({"render", "--chunk", "2/5", "--skip-existing", "a.png", "b.png"});
  ASSERT_TRUE(r.chunk);
  EXPECT_EQ(r.chunk->index, 2);
  EXPECT_EQ(r.chunk->count, 5);
  EXPECT_TRUE(r.skipExisting);
  EXPECT_TRUE(ParseChunk("auto").fromEnvironment);
  for (const char* bad : {"0/5", "6/5", "1/0", "3", "1/", "a/b", "-1/2"})
    EXPECT_THROW(ParseChunk(bad), UsageError) << bad;

  const SubmitCommand s = Parse<SubmitCommand>({"submit", "slurm", "--chunk-size", "8", "--mem=4G", "--partition",
                                                "gpu", "--", "render", "-j", "2", "in.png", "out.png", "A=1"});
  EXPECT_EQ(s.chunkSize, 8);
  EXPECT_EQ(s.memory, "4G");
  EXPECT_EQ(s.partition, "gpu");
  EXPECT_EQ(s.render.jobs, 2);
  EXPECT_EQ(s.renderWords, (std::vector<std::string>{"-j", "2", "in.png", "out.png", "A=1"}));
  EXPECT_NE(UsageMessage({"submit", "slurm", "render", "a", "b"}).find("after '--'"), std::string::npos);
  EXPECT_NE(UsageMessage({"submit", "pbs", "--", "render", "a", "b"}).find("'slurm' only"), std::string::npos);
  EXPECT_NE(UsageMessage({"submit", "slurm", "--", "render", "--chunk", "1/2", "a", "b"}).find("--chunk"),
            std::string::npos);
  EXPECT_NE(UsageMessage({"submit", "slurm", "--time", "1:00 #x", "--", "render", "a", "b"}).find("one word"),
            std::string::npos);
  EXPECT_THROW(Parse<SubmitCommand>({"submit", "slurm", "--", "render", "only-input.png"}), UsageError);
}

// A box of zero pixels parses (the render refuses it, exit status 1);
// words that are not WxH or not an audio choice are usage errors.
TEST(CommandLine, FitTakesASizeAndAudioAChoice) {
  const RenderCommand r = Parse<RenderCommand>({"render", "in.mov", "out.mp4", "--fit", "1280x720", "--audio=none"});
  ASSERT_TRUE(r.fit);
  EXPECT_EQ(r.fit->width, 1280);
  EXPECT_EQ(r.fit->height, 720);
  EXPECT_EQ(r.movie.audio, AudioChoice::None);
  EXPECT_EQ(Parse<RenderCommand>({"render", "a", "b", "--fit", "0x0"}).fit->width, 0);
  for (const char* bad : {"1280", "1280x", "x720", "-1x2", "1280X720", "1e3x2", "1280x720x2", "99999999999x1"})
    EXPECT_NE(UsageMessage({"render", "a", "b", "--fit", bad}).find("--fit"), std::string::npos) << bad;
  EXPECT_NE(UsageMessage({"render", "a", "b", "--audio", "aac"}).find("copy, encode or none"), std::string::npos);
}

TEST(NumberWords, WholeWordMustBeTheNumber) {
  EXPECT_EQ(ParseDouble("0.5"), 0.5);
  EXPECT_EQ(ParseDouble("-1e-3"), -1e-3);
  EXPECT_FALSE(ParseDouble("0.5x"));
  EXPECT_FALSE(ParseDouble(" 1"));
  EXPECT_FALSE(ParseDouble("nan"));
  EXPECT_FALSE(ParseDouble("inf"));
  EXPECT_FALSE(ParseDouble("1e999"));
  EXPECT_EQ(ParseInteger("-12"), -12);
  EXPECT_FALSE(ParseInteger("1.0"));
  EXPECT_EQ(ParseSwitch("ON"), true);
  EXPECT_EQ(ParseSwitch("no"), false);
  EXPECT_FALSE(ParseSwitch("2"));
  EXPECT_EQ(FormatNumber(0.1), "0.1");
  EXPECT_EQ(FormatNumber(15), "15");
  EXPECT_EQ(FormatNumber(0.1 + 0.2), "0.30000000000000004");
}

}  // namespace
}  // namespace lenstrove::cli
