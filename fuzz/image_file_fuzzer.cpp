// Fuzz target: the command's image reading. The first byte picks the file
// name's extension (and so the reader OpenImageIO tries first); the rest is
// the file. Reading the header and then the pixels, at both depths, and then
// every part of the file, must end in a picture or in a clear error, never
// in a crash, and a header's claims must never make the reader allocate
// beyond the pixel limit.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "image/image_file.h"
#include "image/image_parts.h"

namespace {

using namespace lenstrove::cli;

constexpr const char* kExtensions[] = {".png", ".jpg", ".tif", ".exr", ".bmp", ".tga", ".hdr", ".ppm"};

// 1 Mpx: 16 MiB as float RGBA. Larger pictures reach no other code.
constexpr std::int64_t kPixelLimit = std::int64_t{1} << 20;

std::string ScratchFolder() {
  if (const char* folder = std::getenv("LENSTROVE_FUZZ_SCRATCH")) return folder;
  if (::access("/dev/shm", W_OK) == 0) return "/dev/shm";
  return "/tmp";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const std::string base = ScratchFolder() + "/lenstrove-fuzz-" + std::to_string(::getpid());
  const std::string path = base + kExtensions[data[0] % std::size(kExtensions)];
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  try {
    const ImageFileInfo info = ReadImageInfo(path, kPixelLimit);
    if (info.width <= 0 || info.height <= 0 || std::int64_t{info.width} * info.height > kPixelLimit) {
      std::fprintf(stderr, "header accepted with an unusable size %dx%d\n", info.width, info.height);
      std::abort();
    }
    for (PixelDepth depth : {PixelDepth::Byte, PixelDepth::Float}) {
      const RgbaImage image = ReadRgbaImage(path, depth, kPixelLimit);
      const std::size_t expected = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) *
                                   4 * BytesPerChannel(depth);
      if (image.pixels.size() != expected) {
        std::fprintf(stderr, "picture of %dx%d holds %zu bytes, not %zu\n", image.width, image.height,
                     image.pixels.size(), expected);
        std::abort();
      }
      image.alphaIsOpaque();
    }
    // The whole file, every part and channel as stored, and the picture
    // the plug-in would get from it.
    const ImageFile file = ReadImageFile(path, kPixelLimit);
    const RgbaImage picture = PictureToRender(file, file.naturalDepth());
    if (!picture.window().contains(file.rendered().dataWindow())) {
      std::fprintf(stderr, "rendered picture does not cover the data window\n");
      std::abort();
    }
  } catch (const std::runtime_error&) {
    // A clear refusal is the right answer to a broken file.
  }
  std::remove(path.c_str());
  return 0;
}
