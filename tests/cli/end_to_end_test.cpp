// The lenstrove command end to end: the real program, the real plug-in
// bundle from the build tree and real image files read back through
// OpenImageIO.
//
// OpenFX rows count up from the bottom and file rows down from the top, so
// OpenFX row y of an H-row picture is file row H - 1 - y.

#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "command_runner.h"
#include "test_pictures.h"

namespace lenstrove::cli {
namespace {
namespace fs = std::filesystem;
using testing::CommandResult;
using testing::RunLenstrove;

const std::string kData = LENSTROVE_TEST_DATA_DIR;

// ---- fixture ---------------------------------------------------------------

class Lenstrove : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lenstrove-e2e-XXXXXX";
    folder_ = ::mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string path(const std::string& name) const { return folder_ + "/" + name; }

  CommandResult render(std::vector<std::string> args, const std::string& pluginPath = "") {
    args.insert(args.begin(), {"render", "-q"});
    return RunLenstrove(args, pluginPath);
  }

  // Renders and insists on success, showing the command's complaint if not.
  void renderOk(const std::vector<std::string>& args) {
    const CommandResult r = render(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }

  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // A flat 8-bit RGB picture of one gray level.
  void writeFlat(const std::string& name, int w, int h, int level) {
    WritePicture(path(name), w, h, 3, OIIO::TypeDesc::UINT8, [=](int, int, int) { return level / 255.0f; });
  }

  std::string folder_;
};

// ---- everything off: the input comes back ---------------------------------

TEST_F(Lenstrove, AllOffReturnsThePngPixelsExactlyAtByteDepth) {
  renderOk({kData + "/astronaut.png", path("out.png")});
  const Picture in = ReadPicture(kData + "/astronaut.png"), out = ReadPicture(path("out.png"));
  EXPECT_EQ(out.channels, 3);  // an RGB file stays RGB: its gained alpha is all opaque
  EXPECT_EQ(out.format, OIIO::TypeDesc::UINT8);
  EXPECT_EQ(ReadRaw(path("out.png")), ReadRaw(kData + "/astronaut.png"));
}

TEST_F(Lenstrove, AllOffKeepsPartlyTransparentPixelsAsStored) {
  WritePicture(path("in.png"), 16, 16, 4, OIIO::TypeDesc::UINT8,
               [](int x, int y, int c) { return ((x * 16 + y) * 7 + c * 31) % 256 / 255.0f; });
  renderOk({path("in.png"), path("out.png")});
  EXPECT_EQ(ReadRaw(path("out.png")), ReadRaw(path("in.png")));
}

TEST_F(Lenstrove, AllOffReturnsTheExrBitForBitAtFloatDepth) {
  const float values[] = {-0.3f, 0.0f, 1.7f, 1e-8f, 0.5f, 65504.0f, -0.0f, 0.1f};
  WritePicture(path("in.exr"), 33, 17, 4, OIIO::TypeDesc::FLOAT,
               [&](int x, int y, int c) { return values[(x + 3 * y + c) % 8] * (1 + x * 0.01f); });
  renderOk({path("in.exr"), path("out.exr"), "--tiles", "5"});
  const std::vector<unsigned char> in = ReadRaw(path("in.exr")), out = ReadRaw(path("out.exr"));
  ASSERT_EQ(in.size(), 33u * 17 * 4 * 4);
  EXPECT_EQ(std::memcmp(in.data(), out.data(), in.size()), 0);
  EXPECT_EQ(ReadPicture(path("out.exr")).format, OIIO::TypeDesc::FLOAT);
}

TEST_F(Lenstrove, SixteenBitFilesRenderAtFloatAndKeepTheirPrecision) {
  WritePicture(path("in.png"), 40, 30, 3, OIIO::TypeDesc::UINT16,
               [](int x, int y, int c) { return ((x * 30 + y) * 37 + c * 1001) % 65536 / 65535.0f; });
  renderOk({path("in.png"), path("out.png")});
  EXPECT_EQ(ReadPicture(path("out.png")).format, OIIO::TypeDesc::UINT16);
  EXPECT_EQ(ReadRaw(path("out.png")), ReadRaw(path("in.png")));
}

// ---- same bytes however the work is split ---------------------------------

TEST_F(Lenstrove, OutputBytesDoNotChangeWithTilesOrWorkers) {
  for (int f = 1; f <= 4; ++f) fs::copy_file(kData + "/coffee.png", path("in." + std::to_string(f) + ".png"));
  const std::vector<std::string> aids = {"GuideThirds=on",   "GuideGolden=on",     "GuideCrosshair=on",
                                         "ShowMiddleGray=on", "ShowSkinToneLine=on", "ShowSkinTonePatches=on",
                                         "Crop235=on",        "CropOpacity=1:0.2,4:0.9", "LegalizeLevels=on"};
  const std::vector<std::vector<std::string>> splits = {{"-t", "1", "-j", "1"}, {"-t", "7", "-j", "2"},
                                                       {"-t", "16", "-j", "4"}, {"-d", "float", "-t", "3"}};
  std::vector<std::vector<std::string>> results;
  for (std::size_t s = 0; s < splits.size(); ++s) {
    std::vector<std::string> args = {path("in.#.png"), path("out" + std::to_string(s) + ".#.png")};
    args.insert(args.end(), splits[s].begin(), splits[s].end());
    args.insert(args.end(), aids.begin(), aids.end());
    renderOk(args);
    std::vector<std::string> bytes;
    for (int f = 1; f <= 4; ++f) bytes.push_back(FileBytes(path("out" + std::to_string(s) + "." + std::to_string(f) + ".png")));
    results.push_back(bytes);
  }
  EXPECT_EQ(results[1], results[0]);
  EXPECT_EQ(results[2], results[0]);
  // The frames differ among themselves (the opacity animates), so the
  // comparison above compares something.
  EXPECT_NE(results[0][0], results[0][3]);
  // A float render stored in 8 bits may round differently from a byte
  // render, so it is only compared with itself across splits.
  std::vector<std::string> floatAgain;
  renderOk({path("in.#.png"), path("f.#.png"), "-d", "float", "-t", "11", "-j", "3", aids[0], aids[1], aids[2],
            aids[3], aids[4], aids[5], aids[6], aids[7], aids[8]});
  for (int f = 1; f <= 4; ++f) floatAgain.push_back(FileBytes(path("f." + std::to_string(f) + ".png")));
  EXPECT_EQ(floatAgain, results[3]);
}

// ---- known pixels of the aids at the file's orientation -------------------

class KnownPixels : public Lenstrove {
 protected:
  void SetUp() override {
    Lenstrove::SetUp();
    writeFlat("hd.png", 1920, 1080, 51);
  }
  Picture renderHd(const std::string& setting) {
    const CommandResult r = render({path("hd.png"), path("out.png"), setting});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return ReadPicture(path("out.png"));
  }
};

TEST_F(KnownPixels, CropBarsOf239CoverOpenFxRows0To137And942To1079) {
  const Picture p = renderHd("Crop239=on");
  for (int row : {0, 137, 942, 1079}) EXPECT_EQ(p.byteAt(700, row, 1), 0) << "file row " << row;
  for (int row : {138, 540, 941}) EXPECT_EQ(p.byteAt(700, row, 1), 51) << "file row " << row;
}

TEST_F(KnownPixels, ThirdsLinesLieOnColumns639To641And1279To1281) {
  const Picture p = renderHd("GuideThirds=on");
  const int row = 100;  // on no horizontal line
  for (int x : {639, 640, 641, 1279, 1280, 1281}) EXPECT_EQ(p.byteAt(x, row, 0), 255) << "column " << x;
  for (int x : {638, 642, 1278, 1282}) EXPECT_EQ(p.byteAt(x, row, 0), 51) << "column " << x;
}

TEST_F(KnownPixels, ThirdsRowsAreOpenFxRows359To361And719To721CountedFromTheBottom) {
  const Picture p = renderHd("GuideThirds=on");
  const int x = 100;
  // OpenFX rows 719..721 are file rows 358..360; 359..361 are 718..720.
  for (int fileRow : {358, 359, 360, 718, 719, 720}) EXPECT_EQ(p.byteAt(x, fileRow, 2), 255) << fileRow;
  // A picture handed over the other way up would light rows 361 and 721.
  for (int fileRow : {357, 361, 717, 721}) EXPECT_EQ(p.byteAt(x, fileRow, 2), 51) << fileRow;
}

TEST_F(KnownPixels, GrayBandAtDefaultsIsOpenFxRows129To290AtValue127) {
  const Picture p = renderHd("ShowMiddleGray=on");
  // OpenFX rows 129..290 are file rows 789..950.
  for (int fileRow : {789, 870, 950})
    for (int c = 0; c < 3; ++c) EXPECT_EQ(p.byteAt(1000, fileRow, c), 127) << fileRow;
  for (int fileRow : {788, 951, 129, 290}) EXPECT_EQ(p.byteAt(1000, fileRow, 0), 51) << fileRow;
}

TEST_F(KnownPixels, CrosshairArmsMeetAtTheCentreOfTheFrame) {
  const Picture p = renderHd("GuideCrosshair=on");
  // Centre: column 960, OpenFX row 540 = file row 539; arms reach 19 pixels.
  EXPECT_EQ(p.byteAt(960, 539, 0), 255);
  EXPECT_EQ(p.byteAt(960 + 19, 539, 0), 255);
  EXPECT_EQ(p.byteAt(960 + 20, 539, 0), 51);
  EXPECT_EQ(p.byteAt(960, 539 - 19, 0), 255);
  EXPECT_EQ(p.byteAt(960, 539 - 20, 0), 51);
}

// ---- keyframes -------------------------------------------------------------

TEST_F(Lenstrove, KeyframedOpacityIsInterpolatedBetweenFrames) {
  writeFlat("white.png", 64, 64, 255);
  renderOk({path("white.png"), path("anim.##.png"), "-f", "1-5", "Crop239=on", "CropOpacity=1:0,5:1"});
  // 64 / 2.39 leaves 26 rows between bars of 19 rows. The bar multiplies
  // by 1 - opacity and byte output truncates.
  const int expected[] = {255, 191, 127, 63, 0};
  for (int f = 1; f <= 5; ++f) {
    const Picture p = ReadPicture(path("anim.0" + std::to_string(f) + ".png"));
    EXPECT_EQ(p.byteAt(10, 0, 0), expected[f - 1]) << "frame " << f;
    EXPECT_EQ(p.byteAt(10, 63, 0), expected[f - 1]) << "frame " << f;
    EXPECT_EQ(p.byteAt(10, 32, 0), 255) << "frame " << f;
  }
}

TEST_F(Lenstrove, KeyframedPositionMovesTheGrayBandInFloat) {
  WritePicture(path("in.exr"), 8, 100, 3, OIIO::TypeDesc::FLOAT, [](int, int, int) { return 2.0f; });
  renderOk({path("in.exr"), path("out.%d.exr"), "-f", "0-10", "ShowMiddleGray=on", "GrayLinePos=0:0,10:0.5",
            "LineThickness=10"});
  // Frame 4: position 0.2, so OpenFX rows 20..29, file rows 70..79.
  const Picture p = ReadPicture(path("out.4.exr"));
  EXPECT_EQ(p.at(3, 79, 0), 0.5f);
  EXPECT_EQ(p.at(3, 70, 0), 0.5f);
  EXPECT_EQ(p.at(3, 80, 0), 2.0f);  // float keeps values above 1
  EXPECT_EQ(p.at(3, 69, 0), 2.0f);
  EXPECT_EQ(ReadPicture(path("out.10.exr")).at(3, 49, 1), 0.5f);
  EXPECT_EQ(ReadPicture(path("out.10.exr")).at(3, 50, 1), 2.0f);
}

// ---- errors: a message naming the fault, non-zero exit, no file -----------

struct ErrorCase {
  std::vector<std::string> args;
  std::string message;
};

TEST_F(Lenstrove, EachErrorNamesTheFaultAndLeavesNoFile) {
  fs::copy_file(kData + "/coffee.png", path("in.png"));
  std::ofstream(path("text.png")) << "this is not a picture";
  fs::create_directory(path("taken.png"));
  // A PPM header may declare any size; this one asks for 40 gigapixels.
  std::ofstream(path("huge.ppm"), std::ios::binary) << "P6\n200000 200000\n255\n" << std::string(64, '\x7f');
  const std::string in = path("in.png"), out = path("out.png");
  const std::vector<ErrorCase> cases = {
      {{in, out, "-p", "com.nobody.Nothing"}, "unknown plug-in 'com.nobody.Nothing'"},
      {{in, out, "-p", path("none.ofx")}, "plug-in file '" + path("none.ofx") + "' does not exist"},
      {{in, out, "GuideThird=on"}, "unknown parameter 'GuideThird'"},
      {{in, out, "CropOpacity=lots"}, "parameter 'CropOpacity' is a double: 'lots' is not a number"},
      {{in, out, "GuideThirds=maybe"}, "parameter 'GuideThirds' is a boolean: 'maybe'"},
      {{in, out, "GuideThirds=0:1,2:0"}, "only doubles take keyframes"},
      {{path("missing.png"), out}, "input file '" + path("missing.png") + "' does not exist"},
      {{path("text.png"), out}, "cannot read input '" + path("text.png") + "'"},
      {{in, path("no/folder/out.png")}, "cannot write output '" + path("no/folder/out.png") + "'"},
      {{in, path("taken.png")}, "it is a folder"},
      {{in, path("out.nosuchformat")}, "no image format is known"},
      {{path("huge.ppm"), out}, "declared size 200000x200000 is above the limit"},
      {{in, out, "--max-pixels", "1000"}, "declared size 600x400 is above the limit of 1000 pixels"},
      {{in, out, "-d", "half"}, "depth 'half' is not byte, float or auto"},
  };
  for (const ErrorCase& c : cases) {
    const CommandResult r = render(c.args);
    EXPECT_NE(r.exitCode, 0) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << "wanted: " << c.message << "\ngot: " << r.err;
    EXPECT_EQ(files(), (std::vector<std::string>{"huge.ppm", "in.png", "taken.png", "text.png"})) << c.message;
  }
}

TEST_F(Lenstrove, APluginThatAnswersAnErrorIsReportedAndTheOldOutputSurvives) {
  fs::copy_file(kData + "/coffee.png", path("in.png"));
  std::ofstream(path("out.png")) << "previous contents";
  const CommandResult r =
      render({path("in.png"), path("out.png"), "-p", "org.lenstrove.tests.AlwaysFails"}, LENSTROVE_TEST_PLUGIN_DIR);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("plug-in 'org.lenstrove.tests.AlwaysFails' answered kOfxStatFailed"), std::string::npos)
      << r.err;
  EXPECT_EQ(FileBytes(path("out.png")), "previous contents");
  EXPECT_EQ(files(), (std::vector<std::string>{"in.png", "out.png"}));
}

// ---- a plug-in built the way the standard's support library builds them --

// The test plug-in multiplies by Gain in whatever depth and components it
// asked the host for, splitting rows over the host's threads; see
// tests/plugins/suite_user_plugin.cpp.
TEST_F(Lenstrove, ASupportLibraryStylePluginRendersInEveryDepthItAsksFor) {
  const std::string in = path("in.png");
  WritePicture(in, 37, 23, 4, OIIO::TypeDesc::UINT8,
               [](int x, int y, int c) { return c == 3 ? (x + y) % 5 / 4.0f : ((x * 7 + y * 3 + c * 50) % 256) / 255.0f; });
  const std::string plugin = "org.lenstrove.tests.SuiteUser";
  auto run = [&](const std::string& out, std::vector<std::string> settings) {
    std::vector<std::string> args = {in, path(out), "-p", plugin, "-t", "4", "Ordered=on"};
    args.insert(args.end(), settings.begin(), settings.end());
    const CommandResult r = render(args, LENSTROVE_TEST_PLUGIN_DIR);
    EXPECT_EQ(r.exitCode, 0) << out << ": " << r.err;
  };
  run("copy.png", {});
  EXPECT_EQ(ReadRaw(path("copy.png")), ReadRaw(in)) << "gain 1 in the file's own depth";
  run("byte.png", {"Gain=0.5"});
  run("short.png", {"Gain=0.5", "Depth=2"});
  run("float.png", {"Gain=0.5", "Depth=3"});
  EXPECT_EQ(ReadRaw(path("short.png")), ReadRaw(path("byte.png")));
  EXPECT_EQ(ReadRaw(path("float.png")), ReadRaw(path("byte.png")));
  // A plug-in declaring 16-bit integers alone is offered them.
  const CommandResult onlyShort =
      render({in, path("only-short.png"), "-p", "org.lenstrove.tests.ShortUser", "Gain=0.5"}, LENSTROVE_TEST_PLUGIN_DIR);
  EXPECT_EQ(onlyShort.exitCode, 0) << onlyShort.err;
  EXPECT_EQ(ReadRaw(path("only-short.png")), ReadRaw(path("byte.png")));
  // Half carries 11 significant bits: at most one step off in bytes.
  run("half.png", {"Gain=0.5", "Depth=4"});
  const std::vector<unsigned char> half = ReadRaw(path("half.png")), byte = ReadRaw(path("byte.png"));
  ASSERT_EQ(half.size(), byte.size());
  for (std::size_t i = 0; i < half.size(); ++i) ASSERT_LE(std::abs(half[i] - byte[i]), 1) << i;
  // Only alpha, as float: every channel of the result is the alpha.
  run("alpha.png", {"Components=2", "Depth=3"});
  const Picture alpha = ReadPicture(path("alpha.png"));
  const Picture source = ReadPicture(in);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(alpha.byteAt(3, 4, c), source.byteAt(3, 4, 3)) << c;
  // RGB, as short: colour kept, alpha opaque.
  run("rgb.png", {"Components=1", "Depth=2"});
  const Picture rgb = ReadPicture(path("rgb.png"));
  EXPECT_EQ(rgb.byteAt(5, 6, 1), source.byteAt(5, 6, 1));
  EXPECT_EQ(rgb.byteAt(5, 6, 3), 255);
  // Identity: the source is copied, the gain never applied.
  run("identity.png", {"Identity=on", "Gain=0"});
  EXPECT_EQ(ReadRaw(path("identity.png")), ReadRaw(in));
}

// PNG alpha is straight and OpenEXR's premultiplied; a plug-in asking for
// the other way gets its source converted, and its output is converted
// back. Colour under an alpha of 0 does not survive the trip.
TEST_F(Lenstrove, APluginGetsItsSourcePremultipliedOrStraightAsItAsks) {
  const float alphas[] = {0.0f, 1.0f, 0.5f, 0.2f};
  auto sample = [&](int x, int, int c) { return c == 3 ? alphas[x] : (100 + 30 * c + x) / 255.0f; };
  WritePicture(path("straight.png"), 4, 1, 4, OIIO::TypeDesc::UINT8, sample);
  WritePicture(path("premultiplied.exr"), 4, 1, 4, OIIO::TypeDesc::FLOAT, sample);
  auto run = [&](const std::string& in, const std::string& out, std::vector<std::string> settings) {
    std::vector<std::string> args = {path(in), path(out), "-p", "org.lenstrove.tests.SuiteUser"};
    args.insert(args.end(), settings.begin(), settings.end());
    const CommandResult r = render(args, LENSTROVE_TEST_PLUGIN_DIR);
    EXPECT_EQ(r.exitCode, 0) << out << ": " << r.err;
    return ReadPicture(path(out));
  };
  const Picture png = ReadPicture(path("straight.png")), exr = ReadPicture(path("premultiplied.exr"));
  const struct {
    const Picture& in;
    Picture out;
    float step;  // one rounding step at the plug-in's depth; dividing by alpha scales it up
  } trips[] = {{png, run("straight.png", "float.png", {"Premultiply=1", "Depth=3"}), 1e-6f},
               {png, run("straight.png", "byte.png", {"Premultiply=1"}), 1.01f / 255},
               {exr, run("premultiplied.exr", "straight.exr", {"Premultiply=2"}), 1e-6f}};
  for (const auto& trip : trips) {
    ASSERT_EQ(trip.out.samples.size(), trip.in.samples.size());
    for (int c = 0; c < 3; ++c) EXPECT_EQ(trip.out.at(0, 0, c), 0.0f) << "colour under alpha 0";
    for (int x = 1; x < 4; ++x)
      for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(trip.out.at(x, 0, c), trip.in.at(x, 0, c), trip.step / alphas[x]) << x << c;
  }
}

// The output follows the plug-in's region of definition: grown by two
// pixels, the file's data window grows with it and its frame stays.
TEST_F(Lenstrove, APluginsRegionOfDefinitionSizesTheOutput) {
  auto sample = [](int x, int y, int c) { return c == 3 ? 1.0f : (x + 10 * y + 100 * c) / 1000.0f; };
  WritePicture(path("in.exr"), 6, 4, 4, OIIO::TypeDesc::FLOAT, sample);
  auto run = [&](const std::string& out, const std::string& grow) {
    return render({path("in.exr"), path(out), "-p", "org.lenstrove.tests.SuiteUser", "-t", "3", "Grow=" + grow},
                  LENSTROVE_TEST_PLUGIN_DIR);
  };
  const CommandResult grown = run("grown.exr", "2");
  ASSERT_EQ(grown.exitCode, 0) << grown.err;
  auto in = OIIO::ImageInput::open(path("grown.exr"));
  ASSERT_TRUE(in);
  const OIIO::ImageSpec header = in->spec();
  EXPECT_EQ(std::vector<int>({header.x, header.y, header.width, header.height}), std::vector<int>({-2, -2, 10, 8}));
  EXPECT_EQ(std::vector<int>({header.full_x, header.full_y, header.full_width, header.full_height}),
            std::vector<int>({0, 0, 6, 4}));
  std::vector<float> samples(static_cast<std::size_t>(10 * 8 * 4));
  ASSERT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::FLOAT, samples.data()));
  for (int y = -2; y < 6; ++y) {
    for (int x = -2; x < 8; ++x) {
      const bool source = x >= 0 && x < 6 && y >= 0 && y < 4;
      for (int c = 0; c < 4; ++c) {
        const float expected = source ? sample(x, y, c) : c == 3 ? 1.0f : 0.0f;
        ASSERT_EQ(samples[static_cast<std::size_t>(((y + 2) * 10 + x + 2) * 4 + c)], expected) << x << "," << y;
      }
    }
  }
  const CommandResult empty = run("empty.exr", "-3");
  EXPECT_EQ(empty.exitCode, 1);
  EXPECT_NE(empty.err.find("answered a region of definition of (3, 3)-(3, 1), which is empty"), std::string::npos)
      << empty.err;
  const CommandResult huge = run("huge.exr", "100000");
  EXPECT_EQ(huge.exitCode, 1);
  EXPECT_NE(huge.err.find("above the limit of 100000000 pixels (raise it with --max-pixels)"), std::string::npos)
      << huge.err;
  EXPECT_FALSE(fs::exists(path("empty.exr")) || fs::exists(path("huge.exr")));
}

TEST_F(Lenstrove, AnErrorMessagePostedDuringARenderFailsItWithTheMessage) {
  fs::copy_file(kData + "/coffee.png", path("in.png"));
  const CommandResult r = render({path("in.png"), path("out.png"), "-p", "org.lenstrove.tests.SuiteUser",
                                  "Complain=on"},
                                 LENSTROVE_TEST_PLUGIN_DIR);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Suite User: error: the picture at frame 0 is not good enough\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("lenstrove: error: plug-in 'org.lenstrove.tests.SuiteUser' answered kOfxStatFailed to "
                       "OfxImageEffectActionRender: the picture at frame 0 is not good enough"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Suite User: log: Complain changed (OfxChangeUserEdited)"), std::string::npos)
      << "instance changed, with the reason";
  EXPECT_EQ(files(), (std::vector<std::string>{"in.png"}));
}

TEST_F(Lenstrove, APluginWithTemporalAccessFetchesOtherFramesOfTheSequenceOnly) {
  for (int frame = 1; frame <= 3; ++frame) {
    WritePicture(path("in." + std::to_string(frame) + ".png"), 9, 5, 4, OIIO::TypeDesc::UINT8,
                 [frame](int x, int, int c) { return c == 3 ? 1.0f : (frame * 40 + x + c) / 255.0f; });
  }
  const std::vector<std::string> common = {"-p", "org.lenstrove.tests.SuiteUser", "Neighbour=-1", "-j", "2"};
  std::vector<std::string> args = {"-f", "2-3", path("in.#.png"), path("out.#.png")};
  args.insert(args.end(), common.begin(), common.end());
  const CommandResult r = render(args, LENSTROVE_TEST_PLUGIN_DIR);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadRaw(path("out.2.png")), ReadRaw(path("in.1.png"))) << "frame 1 is on disk, though not rendered";
  EXPECT_EQ(ReadRaw(path("out.3.png")), ReadRaw(path("in.2.png")));
  args = {"-f", "1-1", path("in.#.png"), path("first.#.png")};
  args.insert(args.end(), common.begin(), common.end());
  const CommandResult before = render(args, LENSTROVE_TEST_PLUGIN_DIR);
  EXPECT_EQ(before.exitCode, 1);
  EXPECT_NE(before.err.find("no source frame at time 0"), std::string::npos) << before.err;
}

TEST_F(Lenstrove, AValueOutsideItsRangeIsClampedWithAWarning) {
  const std::string in = kData + "/coffee.png";
  const CommandResult r = render({in, path("clamped.png"), "Crop185=on", "CropOpacity=7"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("warning: CropOpacity=7 is outside its range 0..1; using 1"), std::string::npos) << r.err;
  renderOk({in, path("limit.png"), "Crop185=on", "CropOpacity=1"});
  EXPECT_EQ(FileBytes(path("clamped.png")), FileBytes(path("limit.png")));
}

TEST_F(Lenstrove, UsageMistakesExitWithStatus2AndAHint) {
  const CommandResult r = RunLenstrove({"rendr"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("unknown command 'rendr'"), std::string::npos);
  EXPECT_NE(r.err.find("lenstrove --help"), std::string::npos);
  const CommandResult help = RunLenstrove({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("render [OPTIONS] IN OUT"), std::string::npos);
}

// ---- list, describe, demo --------------------------------------------------

TEST_F(Lenstrove, ListShowsPluginsOnTheSearchPathAndTheBuildTree) {
  const CommandResult r = RunLenstrove({"list"}, LENSTROVE_TEST_PLUGIN_DIR);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::size_t line = r.out.find("\norg.lenstrove.tests.AlwaysFails ");
  ASSERT_NE(line, std::string::npos) << r.out;
  EXPECT_NE(r.out.substr(line, r.out.find('\n', line + 1) - line).find(" 2.5      Always Fails "), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("com.Qel.Lenstrove.V111"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1.11"), std::string::npos);
  EXPECT_NE(r.out.find("~ Qel Lenstrove ~"), std::string::npos);
}

TEST_F(Lenstrove, DescribeListsTheParametersInHostOrder) {
  const CommandResult r = RunLenstrove({"describe"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("contexts    filter, general"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("depths      byte, float"), std::string::npos);
  EXPECT_NE(r.out.find("clips       Output (RGBA), Source (RGBA)"), std::string::npos);
  EXPECT_NE(r.out.find("15 parameters in 4 groups"), std::string::npos);
  const char* order[] = {"GroupLegal", "LegalizeLevels", "GroupRef", "FalseColorMode", "ShowSkinTonePatches",
                         "ShowSkinToneLine", "SkinLinePos", "ShowMiddleGray", "GrayLinePos", "LineThickness",
                         "GroupGuides", "GuideThirds", "GuideGolden", "GuideCrosshair", "GroupCrops", "Crop185",
                         "Crop235", "Crop239", "CropOpacity"};
  std::size_t previous = 0;
  for (const char* name : order) {
    const std::size_t at = r.out.find("\n" + std::string(name) + " ", previous);
    ASSERT_NE(at, std::string::npos) << name;
    previous = at + 1;
  }
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind("LineThickness ", 0) == 0) {
      EXPECT_NE(line.find(" double "), std::string::npos) << line;
      EXPECT_NE(line.find(" 15 "), std::string::npos) << line;
      EXPECT_NE(line.find(" 0.1..30 "), std::string::npos) << line;
      EXPECT_NE(line.find(" yes"), std::string::npos) << line;
    }
  // The bundle folder names the same plug-in.
  const CommandResult byPath = RunLenstrove({"describe", LENSTROVE_TEST_BUNDLE_DIR});
  EXPECT_EQ(byPath.exitCode, 0) << byPath.err;
  EXPECT_NE(byPath.out.find("com.Qel.Lenstrove.V111"), std::string::npos);
}

TEST_F(Lenstrove, DemoRendersEveryAidAndALabelledContactSheet) {
  const CommandResult r = RunLenstrove({"demo", path("demo"), "--data", kData, "-q"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Demo pictures (27)"), std::string::npos) << r.out;
  for (const char* aid : {"original", "false-colour", "legal-levels", "skin-line", "skin-patches", "gray-band",
                          "thirds", "golden", "crosshair", "crop-185", "crop-235", "crop-239", "combination"}) {
    EXPECT_TRUE(fs::exists(path("demo/astronaut-" + std::string(aid) + ".png"))) << aid;
    EXPECT_TRUE(fs::exists(path("demo/coffee-" + std::string(aid) + ".png"))) << aid;
  }
  EXPECT_EQ(ReadRaw(path("demo/coffee-original.png")), ReadRaw(kData + "/coffee.png"));
  EXPECT_NE(ReadRaw(path("demo/coffee-thirds.png")), ReadRaw(kData + "/coffee.png"));
  const Picture sheet = ReadPicture(path("demo/contact-sheet.png"));
  EXPECT_GT(sheet.width, 1000);
  EXPECT_GT(sheet.height, 600);
  EXPECT_NE(r.out.find(path("demo/contact-sheet.png")), std::string::npos);
}

}  // namespace
}  // namespace lenstrove::cli
