#ifndef LENSTROVE_SESSION_WRAPPED_PICTURE_H
#define LENSTROVE_SESSION_WRAPPED_PICTURE_H

// Internal to the session: a caller's picture handed to the plug-in as an
// OpenFX image over the same pixels, and converted copies of it where the
// plug-in asked for another depth, components or premultiplication.

#include <optional>
#include <string>

#include "convert.h"
#include "image.h"
#include "session/picture.h"

namespace lenstrove::session {

// The OpenFX names of a picture's depth, components and premultiplication
// (an RGB picture is opaque whatever it says).
const char* DepthName(SampleType sample);
const char* ComponentsName(int channels);
const char* PremultiplicationName(const Picture& picture);

// Throws Error when the picture cannot be handed over: no pixels, a
// channel count other than 1, 3 or 4, or rows that overlap or are too
// wide for an OpenFX image.
void CheckPicture(const Picture& picture);

// The picture over its own pixels, in OpenFX coordinates within `frame`
// (the display window, whose bottom-left corner becomes (0, 0)); its
// region of definition is the frame.
host::Image Wrap(const Picture& picture, const PixelRect& frame);

// What the plug-in asked for a picture: its depth, its components and how
// its colour stands to its alpha.
struct WantedFormat {
  std::string depth, components;
  host::AlphaChange alpha = host::AlphaChange::kNone;  // from the caller's way to the plug-in's
  std::string premultiplication;                      // the plug-in's way, as OpenFX names it
};

// `picture` as the plug-in asked for it: itself when it already is that
// and its samples are aligned, else a copy in `converted` (its pixels
// converted when `copyPixels`).
host::Image* InFormat(host::Image& picture, const WantedFormat& wanted, std::optional<host::Image>& converted,
                      bool copyPixels);

}  // namespace lenstrove::session

#endif
