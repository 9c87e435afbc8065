// How the render session spreads a job out: the windows a frame is
// rendered in, and the workers frames are rendered by.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "session/windows.h"

namespace lenstrove::session {
namespace {

TEST(RenderWindows, EveryPixelIsCoveredExactlyOnce) {
  for (int tiles : {1, 2, 4, 6, 7, 12, 64}) {
    for (auto [width, height] : {std::pair{1, 1}, {3, 2}, {17, 5}, {1920, 1080}, {5, 31}}) {
      const std::vector<RenderWindow> windows = SplitIntoWindows(width, height, tiles);
      std::vector<int> hits(static_cast<std::size_t>(width) * height, 0);
      for (const RenderWindow& w : windows) {
        ASSERT_LT(w.x1, w.x2);
        ASSERT_LT(w.y1, w.y2);
        for (int y = w.y1; y < w.y2; ++y)
          for (int x = w.x1; x < w.x2; ++x) ++hits[static_cast<std::size_t>(y) * width + x];
      }
      for (int h : hits) ASSERT_EQ(h, 1) << tiles << " tiles of " << width << "x" << height;
      EXPECT_LE(windows.size(), static_cast<std::size_t>(tiles));
    }
  }
}

TEST(RenderWindows, TileCountsGiveNearSquareGrids) {
  EXPECT_EQ(SplitIntoWindows(100, 100, 4).size(), 4u);
  const std::vector<RenderWindow> six = SplitIntoWindows(300, 200, 6);
  ASSERT_EQ(six.size(), 6u);
  EXPECT_EQ(six[0].x2 - six[0].x1, 100);  // three across the wider side
  EXPECT_EQ(six[0].y2 - six[0].y1, 100);
  EXPECT_EQ(SplitIntoWindows(10, 3, 7).size(), 7u);  // a prime: bands across
}

TEST(Workers, NeverMoreThanThereAreFramesAndOneWhenThePluginRendersAlone) {
  EXPECT_EQ(WorkerCount(8, 3), 3);
  EXPECT_EQ(WorkerCount(2, 100), 2);
  EXPECT_GE(WorkerCount(0, 100), 1);
  EXPECT_EQ(WorkerCount(4, 0), 1);
  // A plug-in that renders one call at a time gets one worker; one that
  // takes no tiles, whole frames.
  PluginDescription plugin;
  EXPECT_EQ(WorkersFor(plugin, 4, 10), 4);
  EXPECT_EQ(WindowsFor(plugin, 64, 64, 4).size(), 4u);
  plugin.rendersInParallel = false;
  plugin.supportsTiles = false;
  EXPECT_EQ(WorkersFor(plugin, 4, 10), 1);
  ASSERT_EQ(WindowsFor(plugin, 64, 48, 4).size(), 1u);
  EXPECT_EQ(WindowsFor(plugin, 64, 48, 4)[0].x2, 64);
}

}  // namespace
}  // namespace lenstrove::session
