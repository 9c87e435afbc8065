#pragma once

// Pictures for the command's end-to-end tests: written with OpenImageIO
// from a function of position, read back as floats or as the raw samples
// stored, alpha as the file stores it.

#include <OpenImageIO/imageio.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace lenstrove::cli {

struct Picture {
  int width = 0, height = 0, channels = 0;
  OIIO::TypeDesc format;
  std::vector<float> samples;  // as float, whatever the file stores

  float at(int x, int fileRow, int channel) const {
    return samples[(static_cast<std::size_t>(fileRow) * width + x) * channels + channel];
  }
  // The 8-bit value a sample was stored as.
  int byteAt(int x, int fileRow, int channel) const { return static_cast<int>(at(x, fileRow, channel) * 255.0f + 0.5f); }
};

// Fails the calling test when the file cannot be opened.
Picture ReadPicture(const std::string& path);
// Raw samples as stored, for bit-exact comparisons; empty when unreadable.
std::vector<unsigned char> ReadRaw(const std::string& path);
// Writes a picture whose every sample comes from `sample(x, fileRow, channel)`.
void WritePicture(const std::string& path, int w, int h, int channels, OIIO::TypeDesc type,
                  const std::function<float(int, int, int)>& sample);
std::string FileBytes(const std::string& path);

}  // namespace lenstrove::cli
