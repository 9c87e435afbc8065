#include "tile_bounded_render.h"

#include <algorithm>
#include <cstring>

namespace lenstrove::host {
namespace {

OfxRectI Intersection(const OfxRectI& a, const OfxRectI& b) {
  OfxRectI r{std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2)};
  if (r.x1 >= r.x2 || r.y1 >= r.y2) return {0, 0, 0, 0};
  return r;
}

bool IsEmpty(const OfxRectI& r) { return r.x1 >= r.x2 || r.y1 >= r.y2; }

// Both images have one pixel size; rows may be stored either way up.
void CopyPixels(const Image& from, Image& to, const OfxRectI& area) {
  if (IsEmpty(area)) return;
  const size_t row_bytes = static_cast<size_t>(area.x2 - area.x1) * from.PixelBytes();
  for (int y = area.y1; y < area.y2; ++y) std::memcpy(to.PixelAddress(area.x1, y), from.PixelAddress(area.x1, y), row_bytes);
}

Image BlankLike(const Image& like, const OfxRectI& bounds) {
  const PropertySet& props = like.Properties();
  Image image(bounds, props.GetString(kOfxImageEffectPropPixelDepth), props.GetString(kOfxImageEffectPropComponents));
  image.Properties().Set(kOfxImagePropPixelAspectRatio, 0, props.GetDouble(kOfxImagePropPixelAspectRatio));
  return image;
}

int Edge(int from, int to, int index, int count) {
  return static_cast<int>(from + (int64_t{to} - from) * index / count);
}

}  // namespace

std::vector<OfxRectI> SplitIntoTiles(const OfxRectI& bounds, int count) {
  count = std::max(1, count);
  const int bands = (count + 1) / 2;
  std::vector<OfxRectI> tiles;
  for (int band = 0; band < bands; ++band) {
    const int y1 = Edge(bounds.y1, bounds.y2, band, bands), y2 = Edge(bounds.y1, bounds.y2, band + 1, bands);
    const bool halved = 2 * (band + 1) <= count;
    const int middle = halved ? Edge(bounds.x1, bounds.x2, 1, 2) : bounds.x2;
    tiles.push_back({bounds.x1, y1, middle, y2});
    if (halved) tiles.push_back({middle, y1, bounds.x2, y2});
  }
  return tiles;
}

ActionResult RenderTileBounded(Plugin& plugin, Effect& instance, Image& source, Image& output,
                               RenderRequest request, const std::vector<OfxRectI>& windows) {
  Clip& source_clip = instance.GetClip(kOfxImageEffectSimpleSourceClipName);
  Clip& output_clip = instance.GetClip(kOfxImageEffectOutputClipName);
  const bool region_given = source_clip.RegionOfDefinition().has_value();
  if (!region_given) {
    const OfxRectI& b = source.Bounds();
    source_clip.SetRegionOfDefinition({double(b.x1), double(b.y1), double(b.x2), double(b.y2)});
  }
  ActionResult result{kOfxImageEffectActionRender, kOfxStatOK};
  for (const OfxRectI& window : windows) {
    Image tile_source = BlankLike(source, window);
    Image tile_output = BlankLike(output, window);
    CopyPixels(source, tile_source, Intersection(window, source.Bounds()));
    source_clip.SetImage(&tile_source);
    output_clip.SetImage(&tile_output);
    request.window = window;
    result = plugin.Render(instance, request);
    if (!result.Succeeded()) break;
    CopyPixels(tile_output, output, Intersection(window, output.Bounds()));
  }
  // The tile images are gone: the clips must not hand them out again.
  source_clip.SetImage(&source);
  output_clip.SetImage(&output);
  if (!region_given) source_clip.ClearRegionOfDefinition();
  return result;
}

}  // namespace lenstrove::host
