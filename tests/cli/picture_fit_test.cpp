// Fitting a picture into a box, and finding the tiles a render changed.

#include <gtest/gtest.h>

#include "image/image_fit.h"
#include "movie/changed_tiles.h"

namespace lenstrove::cli {
namespace {

TEST(Fit, KeepsTheDisplayAspectInSquarePixelsAndTheCodecsSteps) {
  const struct {
    int width, height;
    double aspect;
    PictureSize box;
    int step;
    std::int64_t fittedWidth, fittedHeight;
  } cases[] = {
      {1920, 1080, 1.0, {1280, 720}, 2, 1280, 720},    // UHD-style downscale, exact
      {1440, 1080, 4.0 / 3, {1280, 720}, 2, 1280, 720},  // anamorphic: 4:3 pixels show 16:9
      {4096, 2160, 1.0, {1280, 720}, 2, 1280, 676},    // 675 is odd: the nearest even size within the box
      {1080, 1920, 1.0, {1280, 720}, 1, 405, 720},     // portrait: the height limits
      {320, 180, 1.0, {1280, 720}, 1, 1280, 720},      // smaller pictures grow to the box
      {720, 576, 64.0 / 45, {2000, 576}, 1, 1024, 576},  // PAL widescreen
  };
  for (const auto& c : cases) {
    const PictureSize fitted = FittedSize(c.width, c.height, c.aspect, c.box, c.step, c.step);
    EXPECT_EQ(fitted.width, c.fittedWidth) << c.width << "x" << c.height;
    EXPECT_EQ(fitted.height, c.fittedHeight) << c.width << "x" << c.height;
  }
  EXPECT_THROW(FittedSize(600, 400, 1.0, {1, 1}, 2, 2), std::runtime_error);
}

TEST(ChangedTiles, AdjacentChangedTilesOfABandMergeIntoOneRun) {
  RgbaImage before(100, 40, PixelDepth::Byte), after(100, 40, PixelDepth::Byte);
  EXPECT_TRUE(movie::ChangedRuns(before, after, 32, 16).empty());
  after.fileRow(5)[4 * 5] = 1;    // band 0, tile 0
  after.fileRow(15)[4 * 40] = 1;  // band 0, tile 1: merges with tile 0
  after.fileRow(30)[4 * 99 + 3] = 1;  // band 1, the last, narrower tile; only alpha changed
  const std::vector<movie::TileRun> runs = movie::ChangedRuns(before, after, 32, 16);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(std::vector<int>({runs[0].x, runs[0].y, runs[0].width, runs[0].height}), std::vector<int>({0, 0, 64, 16}));
  EXPECT_EQ(std::vector<int>({runs[1].x, runs[1].y, runs[1].width, runs[1].height}), std::vector<int>({96, 16, 4, 16}));
}

}  // namespace
}  // namespace lenstrove::cli
