#include "stages/stage_test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace lenstrove::testing {
namespace {

std::string AsRanges(const std::vector<int>& values) {
  std::ostringstream out;
  for (size_t i = 0; i < values.size();) {
    size_t j = i;
    while (j + 1 < values.size() && values[j + 1] == values[j] + 1) ++j;
    out << (i ? " " : "") << values[i];
    if (j > i) out << "-" << values[j];
    i = j + 1;
  }
  return out.str();
}

host::Image Render(const host::Image& source, const Settings& settings, const OfxRectI& window, const char* depth) {
  PluginHarness harness;
  Apply(harness, settings);
  host::Image output(source.Bounds(), depth);
  EXPECT_EQ(harness.Render(const_cast<host::Image&>(source), output, window), kOfxStatOK);
  EXPECT_TRUE(output.GuardsIntact());
  return output;
}

}  // namespace

void Apply(PluginHarness& harness, const Settings& settings) {
  for (const auto& [name, value] : settings) {
    host::Param& param = harness.Instance().Params().Get(name);
    if (param.Type() == kOfxParamTypeBoolean)
      param.SetInt(static_cast<int>(value));
    else {
      // Delivered as given, like a host that does not clamp to the declared
      // range: the plug-in must cope with whatever arrives.
      param.Properties().Erase(kOfxParamPropMin);
      param.Properties().Erase(kOfxParamPropMax);
      param.SetDouble(value);
    }
  }
}

host::Image RenderBytes(const OfxRectI& bounds, const Settings& settings, Rgba8 fill) {
  return RenderBytes(ByteImage(bounds, [fill](int, int) { return fill; }), settings);
}

host::Image RenderBytes(const host::Image& source, const Settings& settings) {
  return Render(source, settings, source.Bounds(), kOfxBitDepthByte);
}

host::Image RenderBytes(const host::Image& source, const Settings& settings, const OfxRectI& window) {
  return Render(source, settings, window, kOfxBitDepthByte);
}

host::Image RenderFloats(const host::Image& source, const Settings& settings) {
  return Render(source, settings, source.Bounds(), kOfxBitDepthFloat);
}

std::string RowsWhere(const host::Image& image, int x, const std::function<bool(Rgba8)>& test) {
  std::vector<int> rows;
  for (int y = image.Bounds().y1; y < image.Bounds().y2; ++y)
    if (test(BytePixel(image, x, y))) rows.push_back(y);
  return AsRanges(rows);
}

std::string ColumnsWhere(const host::Image& image, int y, const std::function<bool(Rgba8)>& test) {
  std::vector<int> columns;
  for (int x = image.Bounds().x1; x < image.Bounds().x2; ++x)
    if (test(BytePixel(image, x, y))) columns.push_back(x);
  return AsRanges(columns);
}

}  // namespace lenstrove::testing
