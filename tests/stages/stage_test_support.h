#pragma once

// Rendering whole frames through the module with chosen settings, and
// reading back where the aids landed.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/plugin_harness.h"

namespace lenstrove::testing {

// Parameter values by name; switches take 1 or 0.
using Settings = std::vector<std::pair<std::string, double>>;

void Apply(PluginHarness& harness, const Settings& settings);

// Renders a byte picture filled with `fill` (or a float one) and returns the
// output; the window defaults to the whole frame.
host::Image RenderBytes(const OfxRectI& bounds, const Settings& settings, Rgba8 fill = {40, 80, 120, 200});
host::Image RenderBytes(const host::Image& source, const Settings& settings);
host::Image RenderBytes(const host::Image& source, const Settings& settings, const OfxRectI& window);
host::Image RenderFloats(const host::Image& source, const Settings& settings);

// The rows (at column x) or columns (at row y) whose pixel passes the test,
// written as ranges: "129-290" or "639-641 1279-1281".
std::string RowsWhere(const host::Image& image, int x, const std::function<bool(Rgba8)>& test);
std::string ColumnsWhere(const host::Image& image, int y, const std::function<bool(Rgba8)>& test);

inline std::function<bool(Rgba8)> Is(Rgba8 expected) {
  return [expected](Rgba8 pixel) { return pixel == expected; };
}
inline bool IsWhite(Rgba8 p) { return p.r == 255 && p.g == 255 && p.b == 255; }

}  // namespace lenstrove::testing
