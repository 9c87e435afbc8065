#include "image/image_parts.h"

#include <algorithm>
#include <cstring>

namespace lenstrove::cli {
namespace {

// ---- reading ----------------------------------------------------------------

std::vector<std::size_t> ChannelOffsets(const OIIO::ImageSpec& header) {
  std::vector<std::size_t> offsets;
  std::size_t offset = 0;
  for (int c = 0; c < header.nchannels; ++c) {
    offsets.push_back(offset);
    offset += header.channelformat(c).size();
  }
  return offsets;
}

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

std::string PartLabel(const ImagePart& part, std::size_t index) {
  const std::string name = part.name();
  return name.empty() ? "#" + std::to_string(index + 1) : "'" + name + "'";
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

// ---- converting samples -------------------------------------------------------

// Where the samples of one output channel come from: a channel of a part,
// or one of the rendered RGBA channels. Outside `window` they are zero.
struct ChannelSource {
  const unsigned char* corner = nullptr;  // the sample of the window's top-left pixel
  OIIO::TypeDesc type;
  OIIO::stride_t pixelStride = 0;
  OIIO::stride_t rowStride = 0;
  PixelWindow window;
};

ChannelSource PartChannel(const ImagePart& part, int channel) {
  const OIIO::stride_t pixel = static_cast<OIIO::stride_t>(part.header.pixel_bytes(true));
  return {part.samples.data() + ChannelOffsets(part.header)[static_cast<std::size_t>(channel)],
          part.header.channelformat(channel), pixel, pixel * part.header.width, part.dataWindow()};
}

ChannelSource RgbaChannel(const RgbaImage& image, int slot) {
  return {image.pixels.data() + static_cast<std::size_t>(slot) * BytesPerChannel(image.depth),
          image.depth == PixelDepth::Byte ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::FLOAT,
          static_cast<OIIO::stride_t>(image.pixelBytes()), static_cast<OIIO::stride_t>(image.rowBytes()),
          image.window()};
}

// Copies the samples of `from` that fall in `target` into one channel of a
// buffer laid out over `target`, converting the type.
void CopyChannel(const ChannelSource& from, const PixelWindow& target, unsigned char* firstSample,
                 OIIO::TypeDesc type, OIIO::stride_t pixelStride, OIIO::stride_t rowStride) {
  const PixelWindow common = Intersection(target, from.window);
  if (common.pixelCount() <= 0) return;
  const unsigned char* source = from.corner + (common.y - from.window.y) * from.rowStride +
                                (common.x - from.window.x) * from.pixelStride;
  unsigned char* destination = firstSample + (common.y - target.y) * rowStride + (common.x - target.x) * pixelStride;
  OIIO::convert_image(1, common.width, common.height, 1, source, from.type, from.pixelStride, from.rowStride,
                      OIIO::AutoStride, destination, type, pixelStride, rowStride, OIIO::AutoStride);
}

template <typename Sample>
void FillChannel(RgbaImage& image, const PixelWindow& area, int slot, Sample value) {
  const PixelWindow common = Intersection(image.window(), area);
  for (int row = common.y; row < common.bottom(); ++row) {
    Sample* pixel = reinterpret_cast<Sample*>(image.fileRow(row - image.y)) + 4 * (common.x - image.x);
    for (int i = 0; i < common.width; ++i) pixel[4 * i + slot] = value;
  }
}

// ---- what the rendered picture holds ------------------------------------------

bool AllZero(const unsigned char* begin, std::size_t count) {
  return std::all_of(begin, begin + count, [](unsigned char b) { return b == 0; });
}

// True when every pixel of `image` outside `area` is still transparent black.
bool NothingOutside(const RgbaImage& image, const PixelWindow& area) {
  const PixelWindow inside = Intersection(image.window(), area);
  for (int row = 0; row < image.height; ++row) {
    const unsigned char* line = image.fileRow(row);
    const int fileRow = image.y + row;
    if (fileRow < inside.y || fileRow >= inside.bottom() || inside.width == 0) {
      if (!AllZero(line, image.rowBytes())) return false;
      continue;
    }
    const std::size_t before = static_cast<std::size_t>(inside.x - image.x) * image.pixelBytes();
    const std::size_t after = static_cast<std::size_t>(image.x + image.width - inside.right()) * image.pixelBytes();
    if (!AllZero(line, before) || !AllZero(line + image.rowBytes() - after, after)) return false;
  }
  return true;
}

template <typename Sample>
bool AlphaIs(const RgbaImage& image, const PixelWindow& area, Sample value) {
  const PixelWindow common = Intersection(image.window(), area);
  for (int row = common.y; row < common.bottom(); ++row) {
    const Sample* pixel = reinterpret_cast<const Sample*>(image.fileRow(row - image.y)) + 4 * (common.x - image.x);
    for (int i = 0; i < common.width; ++i)
      if (pixel[4 * i + 3] != value) return false;
  }
  return true;
}

// True when red, green and blue are equal in every pixel: a gray picture
// the render left gray.
bool StaysGray(const RgbaImage& image) {
  const std::size_t channel = BytesPerChannel(image.depth), count = image.pixels.size() / image.pixelBytes();
  const unsigned char* pixel = image.pixels.data();
  for (std::size_t i = 0; i < count; ++i, pixel += image.pixelBytes())
    if (std::memcmp(pixel, pixel + channel, channel) != 0 || std::memcmp(pixel, pixel + 2 * channel, channel) != 0)
      return false;
  return true;
}

bool AlphaOpaqueWithin(const RgbaImage& image, const PixelWindow& area) {
  return image.depth == PixelDepth::Byte ? AlphaIs<unsigned char>(image, area, 255) : AlphaIs<float>(image, area, 1.0f);
}

// ---- the output ---------------------------------------------------------------

// What the output's format can hold, as its writer declares it.
struct FormatAbilities {
  std::string name;
  bool windows, negativeOrigin, anyChannels, channelTypes, parts, tiles, alpha;

  explicit FormatAbilities(const OIIO::ImageOutput& output)
      : name(output.format_name()),
        windows(output.supports("displaywindow") && output.supports("origin")),
        negativeOrigin(output.supports("negativeorigin")),
        anyChannels(output.supports("nchannels")),
        channelTypes(output.supports("channelformats")),
        parts(output.supports("multiimage")),
        tiles(output.supports("tiles")),
        alpha(output.supports("alpha")) {}
};

struct PartToWrite {
  OIIO::ImageSpec header;
  std::vector<ChannelSource> channels;  // one per channel of the header
};

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// The attributes every written part carries, whatever its channels.
void CarryAttributes(OIIO::ImageSpec& header, const std::string& inputFormat, const FormatAbilities& format,
                     const FileWriteRequest& request) {
  // A compression name means something only to its own format; the level
  // of a DWA compression travels in the name.
  const int dwaLevel = header.get_int_attribute("openexr:dwaCompressionLevel", 0);
  const std::string compression = header.get_string_attribute("compression");
  if (!request.compression.empty())
    header.attribute("compression", request.compression);
  else if (inputFormat != format.name)
    header.erase_attribute("compression");
  else if (dwaLevel > 0 && compression.rfind("dwa", 0) == 0 && compression.find(':') == std::string::npos)
    header.attribute("compression", compression + ":" + std::to_string(dwaLevel));
  if (!format.tiles) header.tile_width = header.tile_height = header.tile_depth = 0;
  header.attribute("oiio:UnassociatedAlpha", 1);  // written as read, see OpenInput
}

void AddHistory(OIIO::ImageSpec& header, const std::string& entry) {
  if (entry.empty()) return;
  const std::string history = header.get_string_attribute("Exif:ImageHistory");
  header.attribute("Exif:ImageHistory", history.empty() ? entry : history + "\n" + entry);
}

// The channels of the rendered part as written: the rendered picture in
// place of the input's, every other channel after it as it was.
class RenderedPartBuilder {
 public:
  RenderedPartBuilder(const ImageFile& file, const RgbaImage& rendered, const FormatAbilities& format,
                      const FileWriteRequest& request)
      : file_(file), rendered_(rendered), format_(format), request_(request) {}

  PartToWrite build(std::vector<std::string>& warnings) {
    const ImagePart& input = file_.rendered();
    part_.header = input.header;
    writeAlpha_ = format_.alpha && (file_.hasAlpha() || !AlphaOpaqueWithin(rendered_, input.dataWindow()));
    for (int c = 0; c < input.header.nchannels; ++c) addChannel(c);
    if (!dropped_.empty())
      warnings.push_back("warning: " + format_.name + " cannot hold channels " + JoinNames(dropped_) +
                         ": written without them");
    setChannelTypes(warnings);
    setWindows(warnings);
    CarryAttributes(part_.header, file_.formatName, format_, request_);
    AddHistory(part_.header, request_.history);
    return part_;
  }

 private:
  void addChannel(int c) {
    const PictureChannels& picture = file_.picture;
    const OIIO::ImageSpec& header = file_.rendered().header;
    const auto colourAt = std::find(picture.colour.begin(), picture.colour.end(), c);
    if (colourAt != picture.colour.end()) {
      if (picture.colour.size() == 1 && StaysGray(rendered_)) {
        addRendered(header.channel_name(c), 0);
      } else if (picture.colour.size() == 1) {
        for (int slot = 0; slot < 3; ++slot) addRendered(std::string(1, "RGB"[slot]), slot);
      } else {
        addRendered(header.channel_name(c), static_cast<int>(colourAt - picture.colour.begin()));
      }
      // A picture that gained an alpha worth keeping has it next to its
      // colour channels.
      const bool lastColour = c == *std::max_element(picture.colour.begin(), picture.colour.end());
      if (lastColour && !file_.hasAlpha() && writeAlpha_) addRendered("A", 3);
    } else if (c == picture.alpha) {
      if (writeAlpha_)
        addRendered(header.channel_name(c), 3);
      else
        dropped_.push_back(header.channel_name(c));
    } else if (format_.anyChannels) {
      add(header.channel_name(c), header.channelformat(c), PartChannel(file_.rendered(), c));
    } else {
      dropped_.push_back(header.channel_name(c));
    }
  }

  void addRendered(const std::string& name, int slot) {
    if (slot == 3) alphaIndex_ = static_cast<int>(names_.size());
    add(name, request_.storage, RgbaChannel(rendered_, slot));
  }

  void add(const std::string& name, OIIO::TypeDesc type, const ChannelSource& source) {
    names_.push_back(name);
    types_.push_back(type);
    part_.channels.push_back(source);
  }

  // One sample type per channel where the format allows it; otherwise every
  // channel takes the picture's, and a changed channel is reported.
  void setChannelTypes(std::vector<std::string>& warnings) {
    OIIO::ImageSpec& header = part_.header;
    header.nchannels = static_cast<int>(names_.size());
    header.channelnames = names_;
    header.format = request_.storage;
    header.alpha_channel = alphaIndex_;
    header.z_channel = -1;
    for (std::size_t c = 0; c < names_.size(); ++c)
      if (names_[c] == "Z") header.z_channel = static_cast<int>(c);
    const bool mixed =
        std::any_of(types_.begin(), types_.end(), [&](OIIO::TypeDesc t) { return t != request_.storage; });
    header.channelformats.clear();
    if (mixed && format_.channelTypes) {
      header.channelformats = types_;
      return;
    }
    std::vector<std::string> converted;
    for (std::size_t c = 0; c < names_.size(); ++c)
      if (types_[c] != request_.storage) converted.push_back(names_[c]);
    if (!converted.empty())
      warnings.push_back("warning: " + format_.name + " holds one sample type per picture: channels " +
                         JoinNames(converted) + " stored as " + request_.storage.c_str());
  }

  // The output covers the input's data window, grown to the rendered one
  // only when the render drew outside it. A format without windows holds
  // the display window.
  void setWindows(std::vector<std::string>& warnings) {
    const ImagePart& input = file_.rendered();
    const PixelWindow data = input.dataWindow(), display = input.displayWindow();
    const PixelWindow written = NothingOutside(rendered_, data) ? data : rendered_.window();
    const bool nonNegative = written.x >= 0 && written.y >= 0 && display.x >= 0 && display.y >= 0;
    if (format_.windows && (format_.negativeOrigin || nonNegative)) {
      SetWindows(part_.header, written, display);
      return;
    }
    if (!display.contains(written))
      warnings.push_back("warning: " + format_.name +
                         " cannot hold a data window: pixels outside the display window are not written");
    SetWindows(part_.header, {0, 0, display.width, display.height}, {0, 0, display.width, display.height});
    for (ChannelSource& source : part_.channels) {
      source.window.x -= display.x;
      source.window.y -= display.y;
    }
  }

  const ImageFile& file_;
  const RgbaImage& rendered_;
  const FormatAbilities& format_;
  const FileWriteRequest& request_;
  PartToWrite part_;
  bool writeAlpha_ = false;
  int alphaIndex_ = -1;
  std::vector<std::string> names_;
  std::vector<OIIO::TypeDesc> types_;
  std::vector<std::string> dropped_;
};

PartToWrite CopiedPart(const ImagePart& part, const ImageFile& file, const FormatAbilities& format,
                       const FileWriteRequest& request) {
  PartToWrite copy;
  copy.header = part.header;
  if (!format.channelTypes) copy.header.channelformats.clear();
  CarryAttributes(copy.header, file.formatName, format, request);
  for (int c = 0; c < part.header.nchannels; ++c) copy.channels.push_back(PartChannel(part, c));
  return copy;
}

// Writes the samples of one part in the types the writer settled on.
void WritePart(const std::string& path, OIIO::ImageOutput& output, const PartToWrite& part) {
  const OIIO::ImageSpec& actual = output.spec();
  if (actual.nchannels != static_cast<int>(part.channels.size()))
    FailWrite(path, "the format cannot hold " + std::to_string(part.channels.size()) + " channels");
  std::vector<unsigned char> buffer(actual.image_bytes(true));
  const std::vector<std::size_t> offsets = ChannelOffsets(actual);
  const OIIO::stride_t pixel = static_cast<OIIO::stride_t>(actual.pixel_bytes(true));
  const PixelWindow target{actual.x, actual.y, actual.width, actual.height};
  for (std::size_t c = 0; c < part.channels.size(); ++c)
    CopyChannel(part.channels[c], target, buffer.data() + offsets[c], actual.channelformat(static_cast<int>(c)), pixel,
                pixel * actual.width);
  if (!output.write_image(OIIO::TypeUnknown, buffer.data())) FailWrite(path, FirstLine(output.geterror()));
}

// How many parts the output will have: all of them where the format holds
// several.
std::size_t WrittenPartCount(const ImageFile& file, const std::string& path) {
  if (file.parts.size() == 1) return 1;
  const auto output = OIIO::ImageOutput::create(path);
  return output && output->supports("multiimage") ? file.parts.size() : 1;
}

// Attributes that describe how the input's own format stored the picture
// (its layout, its compression) rather than the picture; another format has
// no use for them.
bool BelongsToInputFormat(const std::string& name, const std::string& inputFormat) {
  return name == "compression" || name.rfind(inputFormat + ":", 0) == 0;
}

// Reads the written file's header back and names the input's attributes
// that its format did not keep: writers drop what they cannot store
// without a word.
void WarnAboutLostAttributes(const std::string& path, const ImageFile& file, int writtenPart,
                             std::vector<std::string>& warnings) {
  auto reader = OIIO::ImageInput::open(path);
  if (!reader || !reader->seek_subimage(writtenPart, 0)) return;
  const OIIO::ImageSpec written = reader->spec();
  const std::string outputFormat = reader->format_name();
  std::vector<std::string> lost;
  for (const OIIO::ParamValue& attribute : file.rendered().header.extra_attribs) {
    const std::string name = attribute.name().string();
    // "oiio:" attributes are what the reader worked out, not what the file said.
    if (written.find_attribute(name) != nullptr || name.rfind("oiio:", 0) == 0) continue;
    if (outputFormat != file.formatName && BelongsToInputFormat(name, file.formatName)) continue;
    lost.push_back(name);
  }
  if (!lost.empty())
    warnings.push_back("warning: " + outputFormat + " cannot hold attributes " + JoinNames(lost) +
                       ": written without them");
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

std::vector<std::string> WriteImageFile(const std::string& path, const ImageFile& file, const RgbaImage& rendered,
                                        const FileWriteRequest& request) {
  std::vector<std::string> warnings;
  WriteImageSafely(path, [&](OIIO::ImageOutput& output, const std::string& openAs) {
    const FormatAbilities format(output);
    std::vector<PartToWrite> parts;
    std::vector<std::string> droppedParts;
    for (std::size_t i = 0; i < file.parts.size(); ++i) {
      if (static_cast<int>(i) == file.renderedPart)
        parts.push_back(RenderedPartBuilder(file, rendered, format, request).build(warnings));
      else if (format.parts)
        parts.push_back(CopiedPart(file.parts[i], file, format, request));
      else
        droppedParts.push_back(PartLabel(file.parts[i], i));
    }
    if (!droppedParts.empty())
      warnings.push_back("warning: " + format.name + " holds one part: parts " + JoinNames(droppedParts) +
                         " are not written");
    std::vector<OIIO::ImageSpec> headers;
    for (const PartToWrite& part : parts) headers.push_back(part.header);
    if (!output.open(openAs, static_cast<int>(headers.size()), headers.data()))
      FailWrite(path, FirstLine(output.geterror()));
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (i > 0 && !output.open(openAs, headers[i], OIIO::ImageOutput::AppendSubimage))
        FailWrite(path, FirstLine(output.geterror()));
      WritePart(path, output, parts[i]);
    }
  }, WrittenPartCount(file, path) == 1);
  WarnAboutLostAttributes(path, file, WrittenPartCount(file, path) == 1 ? 0 : file.renderedPart, warnings);
  return warnings;
}

}  // namespace lenstrove::cli
