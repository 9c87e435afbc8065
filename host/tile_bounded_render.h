#ifndef LENSTROVE_HOST_TILE_BOUNDED_RENDER_H
#define LENSTROVE_HOST_TILE_BOUNDED_RENDER_H

// Rendering the way many tiling hosts do: each render call gets a source and
// an output image of its own that hold only that call's window (the region
// of interest of a plug-in that asks for none), while the source clip goes
// on reporting the whole picture as its region of definition. A plug-in
// that places anything from an image's bounds instead of the clip's region
// draws it once per tile.

#include <vector>

#include "effect.h"
#include "image.h"
#include "plugin.h"

namespace lenstrove::host {

// `bounds` cut into `count` windows that cover every pixel once: bands of
// rows, each but an odd last one cut into a left and a right half, so the
// windows are bounded across both axes.
std::vector<OfxRectI> SplitIntoTiles(const OfxRectI& bounds, int count);

// Renders `windows` one call at a time, at `request`'s time and scale, into
// `output`. For each call the source clip hands out a copy of `source`
// clipped to the window, with its depth, components and pixel aspect ratio,
// and the output clip a blank image of the window, copied into `output`
// after the call. Unless the source clip already has a region of definition,
// it reports `source`'s bounds. The clips are connected to `source` and
// `output` again afterwards. Stops at the first call that fails.
ActionResult RenderTileBounded(Plugin& plugin, Effect& instance, Image& source, Image& output,
                               RenderRequest request, const std::vector<OfxRectI>& windows);

}  // namespace lenstrove::host

#endif
