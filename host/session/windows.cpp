#include "session/windows.h"

#include <algorithm>
#include <thread>

namespace lenstrove::session {
namespace {

// The grid's column count: the largest divisor of the tile count not above
// its square root, so the tiles come out as square as possible.
int GridColumns(int tiles) {
  int columns = 1;
  for (int c = 1; static_cast<long long>(c) * c <= tiles; ++c)
    if (tiles % c == 0) columns = c;
  return columns;
}

// Edges that split `length` into `parts` nearly equal spans.
std::vector<int> Edges(int start, int length, int parts) {
  std::vector<int> edges;
  for (int i = 0; i <= parts; ++i)
    edges.push_back(start + static_cast<int>(static_cast<long long>(length) * i / parts));
  return edges;
}

}  // namespace

std::vector<RenderWindow> SplitIntoWindows(int width, int height, int tiles) {
  tiles = std::max(1, tiles);
  const int fewer = GridColumns(tiles), more = tiles / fewer;
  // More cuts across the longer side keep the tiles near square.
  const int columns = std::min(width >= height ? more : fewer, std::max(1, width));
  const int rows = std::min(width >= height ? fewer : more, std::max(1, height));
  const std::vector<int> xs = Edges(0, width, columns);
  const std::vector<int> ys = Edges(0, height, rows);
  std::vector<RenderWindow> windows;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) windows.push_back({xs[c], ys[r], xs[c + 1], ys[r + 1]});
  return windows;
}

int WorkerCount(int requested, std::size_t taskCount) {
  int workers = requested > 0 ? requested : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return static_cast<int>(std::max<std::size_t>(1, std::min<std::size_t>(workers, taskCount)));
}

int WorkersFor(const PluginDescription& plugin, int requested, std::size_t taskCount) {
  return plugin.rendersInParallel ? WorkerCount(requested, taskCount) : 1;
}

std::vector<RenderWindow> WindowsFor(const PluginDescription& plugin, int width, int height, int tiles) {
  return SplitIntoWindows(width, height, plugin.supportsTiles ? tiles : 1);
}

}  // namespace lenstrove::session
