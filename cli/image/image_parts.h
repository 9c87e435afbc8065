#pragma once

// Everything an image file holds, kept as stored: every part (an OpenEXR
// part, a TIFF page), every channel in its own sample type, both windows
// and every attribute. The plug-in renders the picture of one part, its
// colour and alpha channels; everything else is written back untouched.

#include <cstdint>
#include <string>
#include <vector>

#include "image/image_file.h"

namespace lenstrove::cli {

// One part of a file: its header (channels, sample types, windows,
// attributes) and its samples as stored, each channel in its own type,
// rows of the data window top first.
struct ImagePart {
  OIIO::ImageSpec header;
  std::vector<unsigned char> samples;

  std::string name() const;  // empty when the part has none
  PixelWindow dataWindow() const;
  PixelWindow displayWindow() const;
};

// The channels of a part that make the picture the plug-in sees: red, green
// and blue, or one gray channel spread over all three; alpha when there is
// one.
struct PictureChannels {
  std::vector<int> colour;  // three channel indices, or one for gray
  int alpha = -1;
};

struct ImageFile {
  std::string formatName;  // "openexr", "png", ...
  std::vector<ImagePart> parts;
  int renderedPart = 0;
  PictureChannels picture;

  const ImagePart& rendered() const { return parts[static_cast<std::size_t>(renderedPart)]; }
  // The sample type of the picture's channels as stored.
  OIIO::TypeDesc pictureStorage() const;
  bool hasAlpha() const { return picture.alpha >= 0; }
  // 8-bit pictures render at byte depth; deeper ones at float.
  PixelDepth naturalDepth() const;
  // Opaque without an alpha channel; straight when the reader kept the
  // file's unassociated alpha ("oiio:UnassociatedAlpha"); otherwise
  // premultiplied, OpenImageIO's convention (OpenEXR, associated TIFF).
  AlphaMode alphaMode() const;
};

// Reads every part of PATH. `partName` chooses the part to render; empty
// means the first part with R, G and B channels, or else the first part.
// Throws std::runtime_error naming the file, as ReadRgbaImage does, and for
// a part name the file does not have. pixelLimit bounds all parts together.
ImageFile ReadImageFile(const std::string& path, std::int64_t pixelLimit, const std::string& partName = "");

// Sets a header's data window (x, y, width, height) and display window
// (full_x, ...).
void SetWindows(OIIO::ImageSpec& header, const PixelWindow& data, const PixelWindow& display);

// The window the rendered picture covers: the data window grown to cover
// the display window, so aids drawn on the frame are never cut off.
PixelWindow RenderedWindow(const ImagePart& part);

// The rendered part's picture as RGBA at `depth` over RenderedWindow, with
// the display window and alpha mode set. Pixels the file does not hold are transparent
// black, as the formats with windows define them; a picture without alpha
// gains an opaque one over its data window.
RgbaImage PictureToRender(const ImageFile& file, PixelDepth depth);

struct FileWriteRequest {
  // The picture channels' sample type (see StorageForOutput); the other
  // channels keep their own where the format allows.
  OIIO::TypeDesc storage = OIIO::TypeDesc::UINT8;
  std::string compression;  // empty: as the input when the format is the same
  std::string history;      // the line added to the file's history
};

// Writes `rendered` as the picture of `file`'s rendered part, with every
// other channel, part and attribute of `file`, safely as WriteRgbaImage
// does. The data window is the input's unless something was drawn outside
// it. Returns one warning for each kind of thing the output format cannot
// hold (channels, parts, pixels outside the display window, sample types).
std::vector<std::string> WriteImageFile(const std::string& path, const ImageFile& file, const RgbaImage& rendered,
                                        const FileWriteRequest& request);

}  // namespace lenstrove::cli
