// Colour management through the lenstrove command, checked against the
// same conversions done by OpenImageIO alone.

#include <gtest/gtest.h>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

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

}  // namespace
}  // namespace lenstrove::cli
