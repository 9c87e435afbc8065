#ifndef LENSTROVE_HOST_CONVERT_H
#define LENSTROVE_HOST_CONVERT_H

// Converting pixels between the depths, components and premultiplication a
// plug-in may ask for in its clip preferences: byte, 16-bit short, half and
// float; RGBA, RGB and Alpha. Integers map 0..max to 0..1; floats going to
// integers are clamped and rounded to the nearest, floats going to half are
// rounded to the nearest half. RGB gains an opaque alpha; Alpha becomes
// grey (every channel the alpha) when colour is wanted, and RGB becomes
// opaque alpha when only alpha is.

#include <string>

#include "image.h"

namespace lenstrove::host {

// Converts the pixels where both images' bounds overlap. Throws HostError
// for a depth it does not know.
void ConvertPixels(const Image& from, Image& to);

// True for the depths ConvertPixels handles.
bool ConvertibleDepth(const std::string& depth);

// What turns colour premultiplied as `from` says (kOfxImagePreMultiplied,
// kOfxImageUnPreMultiplied or kOfxImageOpaque) into colour as `to` says.
// Opaque pictures, and anything unknown, need nothing.
enum class AlphaChange { kNone, kPremultiply, kUnpremultiply };
AlphaChange AlphaChangeBetween(const std::string& from, const std::string& to);
AlphaChange Inverse(AlphaChange change);

// In place over an RGBA image: premultiplying multiplies colour by alpha;
// unpremultiplying divides it out, and colour under an alpha of 0 becomes
// 0. Images of other components have no colour to change.
void ChangeAlpha(Image& image, AlphaChange change);

}  // namespace lenstrove::host

#endif
