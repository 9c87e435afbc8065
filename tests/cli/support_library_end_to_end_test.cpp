// The lenstrove command with plug-ins of our own written on the standard's
// C++ support library (tests/plugins/support_library), end to end: list,
// describe, and render -p with values of every parameter type, in byte,
// short, half and float, with tiles and workers, temporal access, the
// general context, and messages.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "command_runner.h"
#include "temp_folder.h"
#include "test_pictures.h"

namespace lenstrove::cli {
namespace {
namespace fs = std::filesystem;
using testing::CommandResult;
using testing::RunLenstrove;

const std::string kCoffee = std::string(LENSTROVE_TEST_DATA_DIR) + "/coffee.png";

class SdkPlugins : public ::testing::Test {
 protected:
  // `lenstrove render -q -p org.lenstrove.sdk.PLUGIN ARGS...` with the test bundles on the search path.
  CommandResult render(const std::string& plugin, std::vector<std::string> args) {
    args.insert(args.begin(), {"render", "-q", "-p", "org.lenstrove.sdk." + plugin});
    return RunLenstrove(args, LENSTROVE_SUPPORT_PLUGIN_DIR);
  }
  void renderOk(const std::string& plugin, const std::vector<std::string>& args) {
    const CommandResult r = render(plugin, args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  // An 8-bit RGBA picture with straight alpha (64 to 254), of even values
  // only, so halving them never meets a tie in rounding.
  std::string writeRgba(const std::string& name, int w = 37, int h = 23) {
    const float alphas[] = {64, 128, 192, 254};
    WritePicture(folder / name, w, h, 4, OIIO::TypeDesc::UINT8, [&](int x, int y, int c) {
      return (c == 3 ? alphas[(x + y) % 4] : (x * 7 + y * 3 + c * 50) % 128 * 2) / 255.0f;
    });
    return folder / name;
  }

  TempFolder folder;
};

TEST_F(SdkPlugins, ListAndDescribeShowEveryPluginOfEveryBinary) {
  const CommandResult list = RunLenstrove({"list"}, LENSTROVE_SUPPORT_PLUGIN_DIR);
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const std::vector<std::pair<std::string, std::string>> listed = {
      {"Gain", "1.0      SDK Gain"}, {"Invert", "1.2      SDK Invert"}, {"Darken", "2.0      SDK Darken"},
      {"Pattern", "1.0      SDK Pattern"}, {"Preferences", "1.0"}, {"Threaded", "1.0"}, {"Temporal", "1.0"},
      {"Messages", "1.0"}};
  for (const auto& [name, rest] : listed) {
    const std::size_t line = list.out.find("\norg.lenstrove.sdk." + name + " ");
    ASSERT_NE(line, std::string::npos) << name << "\n" << list.out;
    const std::string text = list.out.substr(line + 1, list.out.find('\n', line + 1) - line - 1);
    EXPECT_NE(text.find(" " + rest), std::string::npos) << text;
  }
  EXPECT_EQ(list.err, "");

  const CommandResult describe = RunLenstrove({"describe", "org.lenstrove.sdk.Gain"}, LENSTROVE_SUPPORT_PLUGIN_DIR);
  ASSERT_EQ(describe.exitCode, 0) << describe.err;
  EXPECT_NE(describe.out.find("depths      byte, short, half, float"), std::string::npos) << describe.out;
  EXPECT_NE(describe.out.find("17 parameters in 3 groups"), std::string::npos) << describe.out;
  for (const char* row : {"Channels  choice       Channels          RGBA                    RGBA|RGB|Alpha  yes",
                          "Size      2D integer   Size              640,480", "Cells     3D integer",
                          "Scale     3D double", "Note      string       Note              hello",
                          "Curve     custom", "Reset     push button", "Tint      RGBA colour  Tint      Colour  1,1,1,1",
                          "Lift      RGB colour", "Centre    2D double    Centre    Place   0.5,0.5 of the frame"})
    EXPECT_NE(describe.out.find(row), std::string::npos) << row << "\n" << describe.out;
}

// The plug-in logs every value it reads at render time (Report=on), so
// what reached it from the command line is read back from its own words.
TEST_F(SdkPlugins, GainTakesEveryParameterTypeFromTheCommandLine) {
  const CommandResult defaults = render("Gain", {kCoffee, folder / "defaults.png", "Report=on"});
  ASSERT_EQ(defaults.exitCode, 0) << defaults.err;
  // Fractions of the 600x400 frame become its pixels; Corner is read as
  // fractions by its plug-in.
  EXPECT_NE(defaults.err.find("Centre=300,200 Corner=0.25,0.75 Offset=8,-4 Radius=60"), std::string::npos)
      << defaults.err;

  std::vector<std::string> every = {
      kCoffee,          folder / "set.####.png", "-f",          "5-5",           "Report=on",     "Gain=0.5",
      "Invert@0=off",   "Invert@4=on",           "Channels=rgb", "Count@0=2",     "Count@10=7",    "Size=320,200",
      "Cells=4,5,6",    "Scale@0=1,1,1",         "Scale@10=3,5,7", "Centre=10,20", "Corner=150,100", "Offset=2,3",
      "Radius=1:0,9:90", "Tint=0.5,0.25,1",      "Lift=0.125,0.25,0.375", "Note=a:b,c=d", "Curve="};
  every.push_back("Reset=1");
  const CommandResult refused = render("Gain", every);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("parameter 'Reset' is a push button and holds no value"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(folder / "set.0005.png"));
  every.pop_back();
  const CommandResult applied = render("Gain", every);
  ASSERT_EQ(applied.exitCode, 0) << applied.err;
  EXPECT_NE(applied.err.find("SDK Gain: log: t=5 Gain=0.5 Invert=1 Channels=1 Count=5 Size=320,200 Cells=4,5,6 "
                             "Scale=2,3,4 Centre=10,20 Corner=0.25,0.25 Offset=2,3 Radius=45 Tint=0.5,0.25,1,1 "
                             "Lift=0.125,0.25,0.375 Note=[a:b,c=d] Curve=[]"),
            std::string::npos)
      << applied.err;
}

TEST_F(SdkPlugins, GainRendersByteAndFloatFilesInTheirOwnDepth) {
  const std::string png = writeRgba("in.png");
  renderOk("Gain", {png, folder / "half.png", "Gain=0.5", "-t", "3"});
  WritePicture(folder / "in.exr", 9, 7, 4, OIIO::TypeDesc::FLOAT, [](int x, int y, int c) { return (x - y + c) * 0.75f; });
  renderOk("Gain", {folder / "in.exr", folder / "out.exr", "Gain=0.5", "Lift=1,0,0"});
  const Picture in = ReadPicture(png), out = ReadPicture(folder / "half.png");
  const Picture exrIn = ReadPicture(folder / "in.exr"), exrOut = ReadPicture(folder / "out.exr");
  for (int c = 0; c < 4; ++c) {
    EXPECT_NEAR(out.at(5, 6, c), in.at(5, 6, c) * 0.5f, 0.51f / 255) << c;
    // Negative and above-one values pass through a float render untouched by clamping.
    EXPECT_EQ(exrOut.at(2, 6, c), exrIn.at(2, 6, c) * 0.5f + (c == 0 ? 1.0f : 0.0f)) << c;
  }
}

// The plug-in fails any render whose images are not what its clip
// preferences asked for, so each success proves the host converted the
// picture into the asked depth, components and premultiplication and back.
TEST_F(SdkPlugins, ClipPreferencesDriveEveryDepthComponentsAndPremultiplication) {
  const std::string in = writeRgba("in.png");
  for (const char* depth : {"byte", "short", "3", "float"})
    renderOk("Preferences", {in, folder / (std::string(depth) + ".png"), "Gain=0.5", std::string("Depth=") + depth});
  const std::vector<unsigned char> byte = ReadRaw(folder / "byte.png");
  EXPECT_EQ(ReadRaw(folder / "short.png"), byte);
  EXPECT_EQ(ReadRaw(folder / "float.png"), byte);
  const std::vector<unsigned char> half = ReadRaw(folder / "3.png");
  ASSERT_EQ(half.size(), byte.size());
  for (std::size_t i = 0; i < half.size(); ++i) ASSERT_LE(std::abs(half[i] - byte[i]), 1) << "half is within a step at " << i;
  EXPECT_NE(byte, ReadRaw(in)) << "the gain was applied";

  renderOk("Preferences", {in, folder / "alpha.png", "Components=Alpha", "Depth=half"});
  renderOk("Preferences", {in, folder / "rgb.png", "Components=RGB", "Depth=short"});
  renderOk("Preferences", {in, folder / "premultiplied.png", "Premultiplication=premultiplied"});
  const Picture source = ReadPicture(in), alpha = ReadPicture(folder / "alpha.png"), rgb = ReadPicture(folder / "rgb.png");
  const Picture premultiplied = ReadPicture(folder / "premultiplied.png");
  for (int c = 0; c < 4; ++c) EXPECT_EQ(alpha.byteAt(3, 4, c), source.byteAt(3, 4, 3)) << c;
  EXPECT_EQ(rgb.byteAt(5, 6, 1), source.byteAt(5, 6, 1));
  EXPECT_EQ(rgb.byteAt(5, 6, 3), 255);
  // Premultiplied for the plug-in and straight again in the file: within
  // what dividing a byte by its alpha can lose.
  EXPECT_NEAR(premultiplied.at(5, 6, 0), source.at(5, 6, 0), 4.1f / 255);
}

// Rows split over the host's pool by the library's processor, in four
// tiles at once, on two frames at once: the same bytes as the plain gain.
TEST_F(SdkPlugins, TheLibrarysProcessorRendersInBandsTilesAndWorkersAtOnce) {
  for (int frame = 1; frame <= 4; ++frame) fs::copy_file(kCoffee, folder / ("in." + std::to_string(frame) + ".png"));
  renderOk("Threaded", {folder / "in.#.png", folder / "threaded.#.png", "-j", "2", "-t", "4", "Threads=8", "Gain=0.5"});
  renderOk("Gain", {folder / "in.#.png", folder / "plain.#.png", "-j", "1", "Gain=0.5"});
  for (int frame = 1; frame <= 4; ++frame) {
    const std::string n = std::to_string(frame);
    EXPECT_EQ(ReadRaw(folder / ("threaded." + n + ".png")), ReadRaw(folder / ("plain." + n + ".png"))) << frame;
  }
}

TEST_F(SdkPlugins, TemporalAccessFetchesOtherFramesOfTheSequenceOnly) {
  for (int frame = 1; frame <= 3; ++frame)
    WritePicture(folder / ("in." + std::to_string(frame) + ".png"), 9, 5, 4, OIIO::TypeDesc::UINT8,
                 [frame](int x, int, int c) { return c == 3 ? 1.0f : (frame * 40 + x + c) / 255.0f; });
  renderOk("Temporal", {"-f", "2-3", folder / "in.#.png", folder / "out.#.png", "-j", "2"});
  EXPECT_EQ(ReadRaw(folder / "out.2.png"), ReadRaw(folder / "in.1.png")) << "frame 1 is on disk, though not rendered";
  EXPECT_EQ(ReadRaw(folder / "out.3.png"), ReadRaw(folder / "in.2.png"));
  renderOk("Temporal", {"-f", "2-2", folder / "in.#.png", folder / "next.#.png", "Offset=1"});
  EXPECT_EQ(ReadRaw(folder / "next.2.png"), ReadRaw(folder / "in.3.png"));
  const CommandResult before = render("Temporal", {"-f", "1-1", folder / "in.#.png", folder / "first.#.png"});
  EXPECT_EQ(before.exitCode, 1);
  EXPECT_NE(before.err.find("SDK Temporal: error: no source frame at time 0"), std::string::npos) << before.err;
  EXPECT_FALSE(fs::exists(folder / "first.1.png"));
}

// A general plug-in with a Source and an Output renders as a filter, its
// optional matte unconnected; a generator is refused with its context.
TEST_F(SdkPlugins, GeneralPluginsRenderAsFiltersAndOtherContextsAreNamed) {
  const std::string in = writeRgba("in.png");
  renderOk("Darken", {in, folder / "darker.png"});
  renderOk("Invert", {in, folder / "inverted.png"});
  const Picture source = ReadPicture(in), darker = ReadPicture(folder / "darker.png");
  const Picture inverted = ReadPicture(folder / "inverted.png");
  EXPECT_NEAR(darker.at(4, 2, 1), source.at(4, 2, 1) * 0.5f, 0.51f / 255);
  EXPECT_EQ(darker.byteAt(4, 2, 3), source.byteAt(4, 2, 3));
  EXPECT_EQ(inverted.byteAt(4, 2, 0), 255 - source.byteAt(4, 2, 0));
  const CommandResult generator = render("Pattern", {in, folder / "pattern.png"});
  EXPECT_EQ(generator.exitCode, 1);
  EXPECT_NE(generator.err.find("plug-in 'org.lenstrove.sdk.Pattern' cannot render as a filter: its contexts are "
                               "generator"),
            std::string::npos)
      << generator.err;
  EXPECT_FALSE(fs::exists(folder / "pattern.png"));
  const CommandResult described = RunLenstrove({"describe", "org.lenstrove.sdk.Darken"}, LENSTROVE_SUPPORT_PLUGIN_DIR);
  EXPECT_NE(described.out.find("clips       Source (RGBA), Output (RGBA), Matte (Alpha, optional)"), std::string::npos)
      << described.out;
}

TEST_F(SdkPlugins, MessagesAreShownAndAnErrorFailsTheFrameItNames) {
  const CommandResult warned = render("Messages", {kCoffee, folder / "warned.png", "--time", "12"});
  ASSERT_EQ(warned.exitCode, 0) << warned.err;
  EXPECT_NE(warned.err.find("SDK Messages: warning: frame 12 looks dark\n"), std::string::npos) << warned.err;
  EXPECT_EQ(ReadRaw(folder / "warned.png"), ReadRaw(kCoffee));
  const CommandResult failed = render("Messages", {kCoffee, folder / "failed.png", "Fail=on", "Warn=off"});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_NE(failed.err.find("lenstrove: error: plug-in 'org.lenstrove.sdk.Messages' answered kOfxStatFailed to "
                            "OfxImageEffectActionRender: cannot render frame 0"),
            std::string::npos)
      << failed.err;
  EXPECT_FALSE(fs::exists(folder / "failed.png"));
}

}  // namespace
}  // namespace lenstrove::cli
