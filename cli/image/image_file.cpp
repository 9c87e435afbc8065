#include "image/image_file.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "image/temp_file.h"

namespace lenstrove::cli {
namespace fs = std::filesystem;
namespace {

OIIO::TypeDesc ChannelType(PixelDepth depth) {
  return depth == PixelDepth::Byte ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::FLOAT;
}

// The pixels a reader decodes at once: a tile, or a strip of rows in a TIFF
// file. Readers allocate a whole chunk before they look at the data, so a
// forged chunk size must be refused like a forged picture size.
std::int64_t DeclaredChunkPixels(const OIIO::ImageSpec& header) {
  if (header.tile_width > 0)
    return std::int64_t{header.tile_width} * std::max(header.tile_height, 1) * std::max(header.tile_depth, 1);
  const std::int64_t rowsPerStrip = static_cast<unsigned int>(header.get_int_attribute("tiff:RowsPerStrip", 0));
  return std::int64_t{header.width} * rowsPerStrip;
}

ImageFileInfo InfoFromHeader(const std::string& path, const OpenedInput& input, std::int64_t pixelLimit) {
  const OIIO::ImageSpec& header = input.header;
  CheckHeader(path, header, pixelLimit);
  ImageFileInfo info;
  info.width = header.width;
  info.height = header.height;
  info.channels = header.nchannels;
  info.storage = header.format;
  info.formatName = input.reader->format_name();
  const float aspect = header.get_float_attribute("PixelAspectRatio", 1.0f);
  if (std::isfinite(aspect) && aspect > 0.0f) info.pixelAspect = aspect;
  return info;
}

// Spreads gray (and gray+alpha) samples, read into R (and G), over RGBA.
template <typename Sample>
void ExpandChannels(RgbaImage& image, int fileChannels, Sample opaque) {
  Sample* sample = reinterpret_cast<Sample*>(image.pixels.data());
  const std::size_t count = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  for (std::size_t i = 0; i < count; ++i, sample += 4) {
    if (fileChannels == 1) sample[1] = sample[2] = sample[0];
    if (fileChannels == 2) {
      sample[3] = sample[1];
      sample[1] = sample[2] = sample[0];
    }
    if (fileChannels == 1 || fileChannels == 3) sample[3] = opaque;
  }
}

void CompleteRgba(RgbaImage& image, int fileChannels) {
  if (fileChannels >= 4) return;
  if (image.depth == PixelDepth::Byte)
    ExpandChannels<unsigned char>(image, fileChannels, 255);
  else
    ExpandChannels<float>(image, fileChannels, 1.0f);
}

void CheckOutputFolder(const std::string& path) {
  const fs::path folder = fs::path(path).parent_path();
  std::error_code error;
  if (!folder.empty() && !fs::is_directory(folder, error))
    FailWrite(path, "folder '" + folder.string() + "' does not exist");
  if (fs::is_directory(path, error)) FailWrite(path, "it is a folder");
}

// Writes `bytes` to `file` and makes sure they reached the disk; a full or
// read-only file system or an I/O error fails, naming `path`.
void WriteWholeFile(const std::string& path, const std::string& file, const std::vector<unsigned char>& bytes) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) FailWrite(path, std::strerror(errno));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      ::close(fd);
      FailWrite(path, std::strerror(error));
    }
    done += static_cast<std::size_t>(n);
  }
  // Some file systems report a full disk only when the data is flushed.
  if (::fsync(fd) != 0 && errno != EINVAL) {
    const int error = errno;
    ::close(fd);
    FailWrite(path, std::strerror(error));
  }
  if (::close(fd) != 0) FailWrite(path, std::strerror(errno));
}

// Makes sure a file a writer wrote itself reached the disk.
void SyncFile(const std::string& path, const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) FailWrite(path, std::strerror(errno));
  if (::fsync(fd) != 0 && errno != EINVAL) {
    const int error = errno;
    ::close(fd);
    FailWrite(path, std::strerror(error));
  }
  ::close(fd);
}

// Decodes every part of a file just written, so a file cut short fails
// here rather than in the hands of whoever reads it next.
void CheckReadsBack(const std::string& path, const std::string& file, const char* formatName) {
  auto reader = OIIO::ImageInput::create(formatName);
  OIIO::ImageSpec header;
  if (!reader || !reader->open(file, header)) FailWrite(path, "the written file does not read back");
  for (int part = 0; part == 0 || reader->seek_subimage(part, 0); ++part) {
    const OIIO::ImageSpec& partHeader = reader->spec();
    std::vector<unsigned char> samples(partHeader.image_bytes(true));
    if (!reader->read_image(part, 0, 0, partHeader.nchannels, OIIO::TypeUnknown, samples.data()) || reader->has_error())
      FailWrite(path, "the written file does not read back: " + FirstLine(reader->geterror()));
  }
}

}  // namespace

[[noreturn]] void FailRead(const std::string& path, const std::string& why) {
  throw std::runtime_error("cannot read input '" + path + "': " + why);
}

[[noreturn]] void FailWrite(const std::string& path, const std::string& why) {
  throw std::runtime_error("cannot write output '" + path + "': " + why);
}

std::string FirstLine(std::string text) {
  const std::size_t newline = text.find('\n');
  if (newline != std::string::npos) text.resize(newline);
  return text.empty() ? "unknown error" : text;
}

namespace {

// The readers a file is tried with when the one its name implies cannot
// open it (a PNG saved as .exr, a name without an extension), each after
// its own signature check. OpenImageIO would otherwise try every reader it
// has, and some rarely used ones (RLA among them) abort the whole process
// on a malformed header instead of answering an error.
constexpr const char* kFormatsByContent[] = {"openexr", "tiff", "png", "jpeg", "bmp", "hdr", "pnm", "dpx"};

std::unique_ptr<OIIO::ImageInput> ReaderByContent(const std::string& path, const OIIO::ImageSpec& config) {
  // Not the one already tried: a broken file can cost a reader seconds.
  const auto named = OIIO::ImageInput::create(path, false);
  const std::string tried = named ? named->format_name() : "";
  for (const char* format : kFormatsByContent) {
    if (tried == format) continue;
    auto reader = OIIO::ImageInput::create(format);
    if (!reader || !reader->valid_file(path)) continue;
    OIIO::ImageSpec header;
    if (reader->open(path, header, config)) return reader;
  }
  OIIO::geterror();  // what the failed attempts left behind
  return nullptr;
}

}  // namespace

OpenedInput OpenInput(const std::string& path) {
  std::error_code error;
  if (!fs::exists(path, error)) FailRead(path, "no such file");
  if (fs::is_directory(path, error)) FailRead(path, "it is a folder");
  // Samples are handed to the plug-in as stored: PNG and TIFF alpha would
  // otherwise be multiplied in on reading and divided out on writing, which
  // changes the colour of every partly transparent pixel.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  static const bool onlyTheNamedReader = OIIO::attribute("try_all_readers", 0);
  (void)onlyTheNamedReader;
  // Creating the reader opens the file with the format its name implies,
  // else with the formats above; opening it again with the chosen reader
  // hands over the header, metadata included.
  OpenedInput input;
  input.reader = OIIO::ImageInput::create(path, true, &config);
  if (!input.reader) {
    const std::string why = FirstLine(OIIO::geterror());
    input.reader = ReaderByContent(path, config);
    if (!input.reader) FailRead(path, why);
  }
  input.reader->close();
  if (!input.reader->open(path, input.header, config)) FailRead(path, FirstLine(input.reader->geterror()));
  return input;
}

void CheckHeader(const std::string& path, const OIIO::ImageSpec& header, std::int64_t pixelLimit) {
  if (header.deep) FailRead(path, "deep images are not supported");
  if (header.width <= 0 || header.height <= 0 || header.depth > 1 || header.nchannels <= 0)
    FailRead(path, "its header declares no usable picture size");
  // Checked in 64 bits before anything is allocated: a forged header must
  // not be able to make the program ask for terabytes.
  const std::int64_t pixels = std::int64_t{header.width} * header.height;
  if (pixels > pixelLimit)
    FailRead(path, "its declared size " + std::to_string(header.width) + "x" + std::to_string(header.height) +
                       " is above the limit of " + std::to_string(pixelLimit) +
                       " pixels (raise it with --max-pixels)");
  if (DeclaredChunkPixels(header) > pixelLimit)
    FailRead(path, "its declared strip or tile of " + std::to_string(DeclaredChunkPixels(header)) +
                       " pixels is above the limit of " + std::to_string(pixelLimit) + " pixels");
}

bool PixelWindow::contains(const PixelWindow& o) const {
  return o.x >= x && o.y >= y && o.right() <= right() && o.bottom() <= bottom();
}

bool PixelWindow::operator==(const PixelWindow& o) const {
  return x == o.x && y == o.y && width == o.width && height == o.height;
}

PixelWindow Union(const PixelWindow& a, const PixelWindow& b) {
  if (a.pixelCount() <= 0) return b;
  if (b.pixelCount() <= 0) return a;
  const int x = std::min(a.x, b.x), y = std::min(a.y, b.y);
  return {x, y, static_cast<int>(std::max(a.right(), b.right()) - x),
          static_cast<int>(std::max(a.bottom(), b.bottom()) - y)};
}

PixelWindow Intersection(const PixelWindow& a, const PixelWindow& b) {
  const int x = std::max(a.x, b.x), y = std::max(a.y, b.y);
  const std::int64_t right = std::min(a.right(), b.right()), bottom = std::min(a.bottom(), b.bottom());
  if (right <= x || bottom <= y) return {x, y, 0, 0};
  return {x, y, static_cast<int>(right - x), static_cast<int>(bottom - y)};
}

std::size_t BytesPerChannel(PixelDepth depth) { return depth == PixelDepth::Byte ? 1 : 4; }

RgbaImage::RgbaImage(int w, int h, PixelDepth d) : width(w), height(h), depth(d), display{0, 0, w, h} {
  pixels.resize(rowBytes() * static_cast<std::size_t>(height));
}

bool RgbaImage::alphaIsOpaque() const {
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (depth == PixelDepth::Byte) {
    for (std::size_t i = 0; i < count; ++i)
      if (pixels[4 * i + 3] != 255) return false;
    return true;
  }
  const float* samples = reinterpret_cast<const float*>(pixels.data());
  for (std::size_t i = 0; i < count; ++i)
    if (samples[4 * i + 3] != 1.0f) return false;
  return true;
}

PixelDepth ImageFileInfo::naturalDepth() const {
  return storage.basetype == OIIO::TypeDesc::UINT8 || storage.basetype == OIIO::TypeDesc::INT8 ? PixelDepth::Byte
                                                                                                : PixelDepth::Float;
}

ImageFileInfo ReadImageInfo(const std::string& path, std::int64_t pixelLimit) {
  return InfoFromHeader(path, OpenInput(path), pixelLimit);
}

RgbaImage ReadRgbaImage(const std::string& path, PixelDepth depth, std::int64_t pixelLimit) {
  const OpenedInput opened = OpenInput(path);
  const ImageFileInfo info = InfoFromHeader(path, opened, pixelLimit);
  OIIO::ImageInput* input = opened.reader.get();
  RgbaImage image(info.width, info.height, depth);
  const int channelsRead = std::min(info.channels, 4);
  // The samples land straight in their RGBA slots: the pixel stride is four
  // channels whatever the file holds.
  if (!input->read_image(0, 0, 0, channelsRead, ChannelType(depth), image.pixels.data(),
                         static_cast<OIIO::stride_t>(image.pixelBytes()),
                         static_cast<OIIO::stride_t>(image.rowBytes())))
    FailRead(path, FirstLine(input->geterror()));
  // Some readers finish a damaged file anyway and only record why: a
  // truncated JPEG comes back "read", its missing part filled with gray.
  // A picture that is partly made up is refused like one that is missing.
  if (input->has_error()) FailRead(path, FirstLine(input->geterror()));
  CompleteRgba(image, info.channels);
  return image;
}

OIIO::TypeDesc StorageForOutput(PixelDepth renderDepth, OIIO::TypeDesc inputStorage) {
  if (renderDepth == PixelDepth::Byte) return OIIO::TypeDesc::UINT8;
  // A float render of an 8-bit file was asked for its precision: keep it.
  if (inputStorage.basetype == OIIO::TypeDesc::UINT8) return OIIO::TypeDesc::FLOAT;
  return inputStorage;
}

void WriteImageSafely(const std::string& path,
                      const std::function<void(OIIO::ImageOutput& output, const std::string& openAs)>& write,
                      bool onePart) {
  CheckOutputFolder(path);
  // The format is chosen by the final name; the temporary name has no
  // meaningful extension.
  auto output = OIIO::ImageOutput::create(path);
  if (!output) FailWrite(path, "no image format is known for this file name");
  TempFile temp(path);
  // Writers encode into memory and the file is written here: not every
  // writer notices a failed write (PNG reports success on a full disk,
  // libjpeg's writer ends the process), so the bytes go to disk through
  // calls whose every failure is checked.
  OIIO::Filesystem::IOVecOutput encoded;
  // Two writers cannot: OpenEXR's writer of several parts writes to its file
  // itself, whatever target it is given, and the TIFF writer's directory of
  // camera (Exif) data comes out broken in memory. Their files are read back
  // whole instead, which catches what a full disk cut short.
  const bool inMemory = onePart && std::string(output->format_name()) != "tiff" && output->supports("ioproxy") &&
                        output->set_ioproxy(&encoded);
  write(*output, temp.path());
  if (!output->close()) FailWrite(path, FirstLine(output->geterror()));
  if (inMemory) {
    WriteWholeFile(path, temp.path(), encoded.buffer());
  } else {
    SyncFile(path, temp.path());
    CheckReadsBack(path, temp.path(), output->format_name());
  }
  temp.commit();
}

void WriteRgbaImage(const std::string& path, const RgbaImage& image, const WriteRequest& request) {
  WriteImageSafely(path, [&](OIIO::ImageOutput& output, const std::string& openAs) {
    const bool writeAlpha = output.supports("alpha") && (request.sourceHadAlpha || !image.alphaIsOpaque());
    OIIO::ImageSpec header(image.width, image.height, writeAlpha ? 4 : 3, request.storage);
    if (writeAlpha) header.alpha_channel = 3;
    header.attribute("oiio:UnassociatedAlpha", 1);  // written as read, see OpenInput
    if (!output.open(openAs, header)) FailWrite(path, FirstLine(output.geterror()));
    if (!output.write_image(ChannelType(image.depth), image.pixels.data(),
                            static_cast<OIIO::stride_t>(image.pixelBytes()),
                            static_cast<OIIO::stride_t>(image.rowBytes())))
      FailWrite(path, FirstLine(output.geterror()));
  });
}

}  // namespace lenstrove::cli
