// Colour management through the lenstrove command, checked against the
// same conversions done by OpenImageIO alone.

#include <gtest/gtest.h>

#include <OpenImageIO/color.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "command_runner.h"

namespace lenstrove::cli {
namespace {
namespace fs = std::filesystem;
using testing::CommandResult;
using testing::RunLenstrove;

class Colour : public ::testing::Test {
 protected:
  // A scene-linear plate: shadows, mid grey, highlights above 1 and a
  // partly transparent alpha.
  void SetUp() override {
    char pattern[] = "/tmp/lenstrove-colour-XXXXXX";
    folder_ = ::mkdtemp(pattern);
    ::unsetenv("OCIO");
    OIIO::ImageBuf plate(OIIO::ImageSpec(48, 27, 4, OIIO::TypeDesc::FLOAT));
    const float top[] = {0.0f, 0.01f, 0.0f, 1.0f}, right[] = {6.0f, 0.18f, 1.5f, 0.5f};
    const float bottom[] = {0.18f, 0.18f, 0.18f, 1.0f}, corner[] = {1.0f, 2.0f, 0.02f, 0.25f};
    OIIO::ImageBufAlgo::fill(plate, top, right, bottom, corner);
    ASSERT_TRUE(plate.write(path("plate.exr")));
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string path(const std::string& name) const { return folder_ + "/" + name; }

  CommandResult render(std::vector<std::string> args) {
    args.insert(args.begin(), {"render", "-q"});
    return RunLenstrove(args);
  }

  static std::vector<float> Pixels(const OIIO::ImageBuf& image) {
    std::vector<float> pixels(image.spec().image_pixels() * image.nchannels());
    image.get_pixels(OIIO::ROI::All(), OIIO::TypeDesc::FLOAT, pixels.data());
    return pixels;
  }

  std::string folder_;
};

TEST_F(Colour, TheDisplayPictureIsOpenImageIOsOwnConversion) {
  const CommandResult r = render({path("plate.exr"), path("display.exr"), "--colorspace", "linear", "--to", "display"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const OIIO::ImageBuf expected = OIIO::ImageBufAlgo::colorconvert(OIIO::ImageBuf(path("plate.exr")), "linear", "sRGB");
  EXPECT_EQ(Pixels(OIIO::ImageBuf(path("display.exr"))), Pixels(expected));
}

// By default the picture goes back into the input's space: a plate
// without aids comes back as it was, up to float rounding, alpha exactly.
TEST_F(Colour, TheDefaultWayBackReturnsTheLinearPlate) {
  const CommandResult r = render({path("plate.exr"), path("back.exr"), "--colorspace", "linear"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<float> in = Pixels(OIIO::ImageBuf(path("plate.exr")));
  const std::vector<float> out = Pixels(OIIO::ImageBuf(path("back.exr")));
  ASSERT_EQ(in.size(), out.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (i % 4 == 3)
      EXPECT_EQ(out[i], in[i]);
    else
      EXPECT_NEAR(out[i], in[i], 1e-4f * std::max(1.0f, in[i])) << i;
  }
}

TEST_F(Colour, ExposureAidsOnAnUnmanagedFloatPictureWarnOnce) {
  const CommandResult unmanaged = render({path("plate.exr"), path("a.exr"), "FalseColorMode=on", "LegalizeLevels=on"});
  ASSERT_EQ(unmanaged.exitCode, 0) << unmanaged.err;
  EXPECT_EQ(std::count(unmanaged.err.begin(), unmanaged.err.end(), '\n'), 1) << unmanaged.err;
  EXPECT_NE(unmanaged.err.find("--colorspace"), std::string::npos) << unmanaged.err;
  const CommandResult managed = render({path("plate.exr"), path("b.exr"), "--colorspace", "linear", "FalseColorMode=on"});
  EXPECT_EQ(managed.err, "");
  const CommandResult unknown = render({path("plate.exr"), path("c.exr"), "--colorspace", "ACEScg-nope"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.err.find("unknown colour space 'ACEScg-nope'"), std::string::npos) << unknown.err;
  EXPECT_FALSE(fs::exists(path("c.exr")));
}

// A configuration of the kind a show uses: a log camera space, a linear
// reference, and one display with two views.
constexpr const char* kShowConfig = R"(ocio_profile_version: 2
roles:
  default: linear
  scene_linear: linear
displays:
  Monitor:
    - !<View> {name: Standard, colorspace: monitor_standard}
    - !<View> {name: Flat, colorspace: monitor_flat}
active_displays: [Monitor]
active_views: [Standard, Flat]
colorspaces:
  - !<ColorSpace>
    name: linear
  - !<ColorSpace>
    name: camlog
    to_scene_reference: !<LogCameraTransform> {base: 10, log_side_slope: 0.247, log_side_offset: 0.385, lin_side_slope: 5.556, lin_side_offset: 0.0523, lin_side_break: 0.011, direction: inverse}
  - !<ColorSpace>
    name: monitor_standard
    from_scene_reference: !<ExponentTransform> {value: [2.4, 2.4, 2.4, 1], direction: inverse}
  - !<ColorSpace>
    name: monitor_flat
    from_scene_reference: !<ExponentTransform> {value: [1.5, 1.5, 1.5, 1], direction: inverse}
)";

// The aids are drawn on the view named, and the way back leads to the
// camera's log values; each picture matches OpenColorIO's own conversion
// through OpenImageIO with the same configuration.
TEST_F(Colour, AShowConfigurationsLogSpaceDisplayAndViewsAreUsed) {
  std::ofstream(path("show.ocio")) << kShowConfig;
  ::setenv("OCIO", path("show.ocio").c_str(), 1);
  OIIO::ImageBuf log(OIIO::ImageSpec(48, 27, 4, OIIO::TypeDesc::FLOAT));
  const float dark[] = {0.1f, 0.2f, 0.15f, 1.0f}, bright[] = {0.7f, 0.5f, 0.6f, 1.0f};
  OIIO::ImageBufAlgo::fill(log, dark, dark, bright, bright);
  ASSERT_TRUE(log.write(path("log.exr")));
  OIIO::ColorConfig config(path("show.ocio"));

  for (const char* view : {"Standard", "Flat"}) {
    const std::string out = path(std::string(view) + ".exr");
    const CommandResult r =
        render({path("log.exr"), out, "--colorspace", "camlog", "--display", "Monitor", "--view", view, "--to", "display"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string space = std::string(view) == "Flat" ? "monitor_flat" : "monitor_standard";
    const OIIO::ImageBuf expected = OIIO::ImageBufAlgo::colorconvert(log, "camlog", space, true, "", "", &config);
    const std::vector<float> got = Pixels(OIIO::ImageBuf(out)), want = Pixels(expected);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-6f) << view << " " << i;
  }
  EXPECT_NE(Pixels(OIIO::ImageBuf(path("Standard.exr"))), Pixels(OIIO::ImageBuf(path("Flat.exr"))));

  // By default the picture returns to the camera's log values.
  const CommandResult back = render({path("log.exr"), path("back.exr"), "--colorspace", "camlog", "--view", "Flat",
                                     "GuideCrosshair=on"});
  ASSERT_EQ(back.exitCode, 0) << back.err;
  EXPECT_NEAR(Pixels(OIIO::ImageBuf(path("back.exr")))[0], 0.1f, 1e-4f);

  const CommandResult wrong = render({path("log.exr"), path("x.exr"), "--colorspace", "camlog", "--view", "Vivid"});
  EXPECT_EQ(wrong.exitCode, 1);
  EXPECT_NE(wrong.err.find("display 'Monitor' has no view 'Vivid'"), std::string::npos) << wrong.err;
  EXPECT_FALSE(fs::exists(path("x.exr")));
  ::unsetenv("OCIO");
}

}  // namespace
}  // namespace lenstrove::cli
