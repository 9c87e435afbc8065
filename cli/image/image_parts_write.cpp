// Writing an image file back whole: the rendered picture in place of the
// input's, every other channel, part and attribute as it was read.

#include "image/image_parts.h"

#include <algorithm>
#include <cstring>

#include "image/image_channels.h"

namespace lenstrove::cli {
namespace {

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
