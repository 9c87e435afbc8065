#include "image/image_parts.h"

#include <algorithm>

#include "image/image_channels.h"

namespace lenstrove::cli {
namespace {

int ChannelNamed(const OIIO::ImageSpec& header, const char* name) {
  for (int c = 0; c < header.nchannels; ++c)
    if (header.channel_name(c) == name) return c;
  return -1;
}

// The alpha a header declares, unless it is one of the colour channels.
int DeclaredAlpha(const OIIO::ImageSpec& header, const std::vector<int>& colour) {
  const int alpha = header.alpha_channel;
  if (alpha < 0 || alpha >= header.nchannels) return -1;
  return std::find(colour.begin(), colour.end(), alpha) == colour.end() ? alpha : -1;
}

// Channels named R, G and B make the picture, with A (or the declared
// alpha) as its alpha.
bool FindNamedPicture(const OIIO::ImageSpec& header, PictureChannels& picture) {
  const std::vector<int> colour = {ChannelNamed(header, "R"), ChannelNamed(header, "G"), ChannelNamed(header, "B")};
  if (std::find(colour.begin(), colour.end(), -1) != colour.end()) return false;
  picture.colour = colour;
  picture.alpha = ChannelNamed(header, "A");
  if (picture.alpha < 0) picture.alpha = DeclaredAlpha(header, colour);
  return true;
}

// Without named colour channels the picture is taken by position, as files
// without channel names lay it out: gray, gray and alpha, RGB, RGBA.
PictureChannels PositionalPicture(const OIIO::ImageSpec& header) {
  PictureChannels picture;
  const int n = header.nchannels;
  picture.colour = n < 3 ? std::vector<int>{0} : std::vector<int>{0, 1, 2};
  picture.alpha = DeclaredAlpha(header, picture.colour);
  if (picture.alpha < 0 && (n == 2 || n >= 4)) picture.alpha = n == 2 ? 1 : 3;
  return picture;
}

std::string PartList(const std::vector<ImagePart>& parts) {
  std::string list;
  for (std::size_t i = 0; i < parts.size(); ++i) list += (i ? ", " : "") + PartLabel(parts[i], i);
  return list;
}

int ChooseRenderedPart(const std::string& path, const std::vector<ImagePart>& parts, const std::string& partName) {
  for (std::size_t i = 0; i < parts.size(); ++i) {
    PictureChannels unused;
    if (partName.empty() ? FindNamedPicture(parts[i].header, unused) : parts[i].name() == partName)
      return static_cast<int>(i);
  }
  if (partName.empty()) return 0;
  FailRead(path, "it has no part named '" + partName + "' (its parts: " + PartList(parts) + ")");
}

ImagePart ReadPart(const std::string& path, OIIO::ImageInput& reader, int subimage) {
  ImagePart part;
  part.header = reader.spec();
  part.samples.resize(part.header.image_bytes(true));
  if (!reader.read_image(subimage, 0, 0, part.header.nchannels, OIIO::TypeUnknown, part.samples.data()))
    FailRead(path, FirstLine(reader.geterror()));
  // A reader that finishes a damaged file and only records why has made
  // part of the picture up; that is refused like a missing picture.
  if (reader.has_error()) FailRead(path, FirstLine(reader.geterror()));
  return part;
}

// Many channels at the pixel limit are as dangerous as many pixels.
constexpr std::int64_t kChannelsAtTheLimit = 16;

void CheckTotals(const std::string& path, std::int64_t pixels, std::int64_t samples, std::int64_t pixelLimit) {
  if (pixels > pixelLimit || samples > pixelLimit * kChannelsAtTheLimit)
    FailRead(path, "its parts and channels together declare " + std::to_string(samples) +
                       " samples, above the limit for " + std::to_string(pixelLimit) +
                       " pixels (raise it with --max-pixels)");
}

template <typename Sample>
void FillChannel(RgbaImage& image, const PixelWindow& area, int slot, Sample value) {
  const PixelWindow common = Intersection(image.window(), area);
  for (int row = common.y; row < common.bottom(); ++row) {
    Sample* pixel = reinterpret_cast<Sample*>(image.fileRow(row - image.y)) + 4 * (common.x - image.x);
    for (int i = 0; i < common.width; ++i) pixel[4 * i + slot] = value;
  }
}

}  // namespace

void SetWindows(OIIO::ImageSpec& header, const PixelWindow& data, const PixelWindow& display) {
  header.x = data.x;
  header.y = data.y;
  header.width = data.width;
  header.height = data.height;
  header.full_x = display.x;
  header.full_y = display.y;
  header.full_width = display.width;
  header.full_height = display.height;
}

std::string ImagePart::name() const {
  const std::string name = header.get_string_attribute("oiio:subimagename");
  return name.empty() ? std::string(header.get_string_attribute("name")) : name;
}

PixelWindow ImagePart::dataWindow() const { return {header.x, header.y, header.width, header.height}; }

PixelWindow ImagePart::displayWindow() const {
  return {header.full_x, header.full_y, header.full_width, header.full_height};
}

OIIO::TypeDesc ImageFile::pictureStorage() const { return rendered().header.channelformat(picture.colour[0]); }

PixelDepth ImageFile::naturalDepth() const {
  const OIIO::TypeDesc storage = pictureStorage();
  return storage.basetype == OIIO::TypeDesc::UINT8 || storage.basetype == OIIO::TypeDesc::INT8 ? PixelDepth::Byte
                                                                                                : PixelDepth::Float;
}

AlphaMode ImageFile::alphaMode() const {
  if (!hasAlpha()) return AlphaMode::Opaque;
  return rendered().header.get_int_attribute("oiio:UnassociatedAlpha", 0) != 0 ? AlphaMode::Straight
                                                                                 : AlphaMode::Premultiplied;
}

ImageFile ReadImageFile(const std::string& path, std::int64_t pixelLimit, const std::string& partName) {
  OpenedInput opened = OpenInput(path);
  OIIO::ImageInput& reader = *opened.reader;
  ImageFile file;
  file.formatName = reader.format_name();
  std::int64_t pixels = 0, samples = 0;
  for (int subimage = 0; subimage == 0 || reader.seek_subimage(subimage, 0); ++subimage) {
    const OIIO::ImageSpec& header = reader.spec();
    CheckHeader(path, header, pixelLimit);
    pixels += std::int64_t{header.width} * header.height;
    samples += std::int64_t{header.width} * header.height * header.nchannels;
    CheckTotals(path, pixels, samples, pixelLimit);
    file.parts.push_back(ReadPart(path, reader, subimage));
  }
  file.renderedPart = ChooseRenderedPart(path, file.parts, partName);
  const OIIO::ImageSpec& header = file.rendered().header;
  if (!FindNamedPicture(header, file.picture)) file.picture = PositionalPicture(header);
  const std::int64_t rendered = RenderedWindow(file.rendered()).pixelCount();
  if (rendered > pixelLimit)
    FailRead(path, "its data and display windows together cover " + std::to_string(rendered) +
                       " pixels, above the limit of " + std::to_string(pixelLimit) +
                       " pixels (raise it with --max-pixels)");
  return file;
}

PixelWindow RenderedWindow(const ImagePart& part) {
  const PixelWindow display = part.displayWindow();
  // A header without a sane display window has only its data window.
  if (display.width <= 0 || display.height <= 0) return part.dataWindow();
  return Union(part.dataWindow(), display);
}

RgbaImage PictureToRender(const ImageFile& file, PixelDepth depth) {
  const ImagePart& part = file.rendered();
  const PixelWindow window = RenderedWindow(part);
  RgbaImage image(window.width, window.height, depth);
  image.x = window.x;
  image.y = window.y;
  image.display = part.displayWindow().pixelCount() > 0 ? part.displayWindow() : part.dataWindow();
  image.alphaMode = file.alphaMode();
  const OIIO::TypeDesc type = depth == PixelDepth::Byte ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::FLOAT;
  const OIIO::stride_t pixel = static_cast<OIIO::stride_t>(image.pixelBytes());
  const OIIO::stride_t row = static_cast<OIIO::stride_t>(image.rowBytes());
  const std::vector<int>& colour = file.picture.colour;
  for (int slot = 0; slot < 3; ++slot) {
    const int channel = colour.size() == 1 ? colour[0] : colour[static_cast<std::size_t>(slot)];
    CopyChannel(PartChannel(part, channel), window, image.pixels.data() + slot * BytesPerChannel(depth), type, pixel,
                row);
  }
  if (file.hasAlpha())
    CopyChannel(PartChannel(part, file.picture.alpha), window, image.pixels.data() + 3 * BytesPerChannel(depth), type,
                pixel, row);
  else if (depth == PixelDepth::Byte)
    FillChannel<unsigned char>(image, part.dataWindow(), 3, 255);
  else
    FillChannel<float>(image, part.dataWindow(), 3, 1.0f);
  return image;
}

}  // namespace lenstrove::cli
