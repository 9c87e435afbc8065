#ifndef LENSTROVE_HOST_CONVERT_H
#define LENSTROVE_HOST_CONVERT_H

// Converting pixels between the depths and components a plug-in may ask
// for in its clip preferences: byte, 16-bit short and float; RGBA, RGB and
// Alpha. Integers map 0..max to 0..1; floats going to integers are clamped
// and rounded to the nearest. RGB gains an opaque alpha; Alpha becomes grey
// (every channel the alpha) when colour is wanted, and RGB becomes opaque
// alpha when only alpha is.

#include "image.h"

namespace lenstrove::host {

// Converts the pixels where both images' bounds overlap. Throws HostError
// for a depth or components this does not handle (half floats).
void ConvertPixels(const Image& from, Image& to);

// True for the depths ConvertPixels handles.
bool ConvertibleDepth(const std::string& depth);

}  // namespace lenstrove::host

#endif
