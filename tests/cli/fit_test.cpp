// --fit on image files: stills and sequences are scaled before the aids
// are drawn, and everything else a file holds is scaled with the picture.

#include <gtest/gtest.h>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <filesystem>

#include "command_runner.h"
#include "temp_folder.h"

namespace lenstrove::cli {
namespace {
namespace fs = std::filesystem;
using testing::CommandResult;
using testing::RunQuietRender;

// The columns of file row `row` whose pixel is white.
std::vector<int> WhiteColumns(const OIIO::ImageBuf& image, int row) {
  std::vector<int> columns;
  for (int x = 0; x < image.spec().width; ++x) {
    float rgb[3];
    image.getpixel(x, row, rgb, 3);
    if (rgb[0] == 1.0f && rgb[1] == 1.0f && rgb[2] == 1.0f) columns.push_back(x);
  }
  return columns;
}

// The thirds lines are three pixels wide at the size written: drawn after
// the photograph was scaled, not scaled with it.
TEST(Fit, StillsAndSequencesAreScaledBeforeTheAidsAreDrawn) {
  TempFolder folder;
  for (const char* frame : {"in.1.png", "in.2.png"}) fs::copy_file(LENSTROVE_TEST_DATA_DIR "/coffee.png", folder / frame);
  const CommandResult r =
      RunQuietRender({folder / "in.#.png", folder / "out.#.png", "-f", "1-2", "--fit", "300x300", "GuideThirds=on"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* frame : {"out.1.png", "out.2.png"}) {
    const OIIO::ImageBuf out(folder / frame);
    ASSERT_EQ(out.spec().width, 300) << frame;  // 600x400 into 300x300
    ASSERT_EQ(out.spec().height, 200) << frame;
    EXPECT_EQ(WhiteColumns(out, 50), (std::vector<int>{99, 100, 101, 199, 200, 201})) << frame;
  }
}

// An OpenEXR frame with 2:1 pixels, a data window inside its display
// window and a depth channel: the display window fits the box in square
// pixels, the data window and depth scale with it.
TEST(Fit, AnOpenExrFrameScalesItsWindowsChannelsAndPixelAspect) {
  TempFolder folder;
  OIIO::ImageSpec header(100, 50, 5, OIIO::TypeDesc::HALF);
  header.channelnames = {"R", "G", "B", "A", "Z"};
  header.alpha_channel = 3;
  header.x = 20;
  header.y = 10;
  header.full_width = 200;
  header.full_height = 100;
  header.attribute("PixelAspectRatio", 2.0f);
  OIIO::ImageBuf plate(header);
  const float fill[] = {0.25f, 0.5f, 0.75f, 1.0f, 5.0f};
  OIIO::ImageBufAlgo::fill(plate, fill);
  ASSERT_TRUE(plate.write(folder / "plate.exr"));

  const CommandResult r = RunQuietRender({folder / "plate.exr", folder / "fitted.exr", "--fit", "100x100"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const OIIO::ImageBuf fitted(folder / "fitted.exr");
  const OIIO::ImageSpec& written = fitted.spec();
  EXPECT_EQ(written.full_width, 100);  // shown 400x100, so 100x25
  EXPECT_EQ(written.full_height, 25);
  EXPECT_EQ(written.get_float_attribute("PixelAspectRatio", 0.0f), 1.0f);
  EXPECT_EQ(written.channelnames, header.channelnames);
  EXPECT_EQ(written.x, 10);
  EXPECT_EQ(written.width, 50);
  float centre[5];
  fitted.getpixel(written.x + written.width / 2, written.y + written.height / 2, centre, 5);
  EXPECT_NEAR(centre[4], 5.0f, 0.01f);
  EXPECT_NEAR(centre[1], 0.5f, 0.01f);
}

}  // namespace
}  // namespace lenstrove::cli
