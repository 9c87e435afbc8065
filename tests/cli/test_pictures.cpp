#include "test_pictures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace lenstrove::cli {
namespace {

OIIO::ImageSpec UnassociatedConfig() {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  return config;
}

}  // namespace

Picture ReadPicture(const std::string& path) {
  const OIIO::ImageSpec config = UnassociatedConfig();
  auto in = OIIO::ImageInput::open(path, &config);
  Picture p;
  if (!in) {
    ADD_FAILURE() << "cannot open " << path;
    return p;
  }
  const OIIO::ImageSpec header = in->spec_dimensions(0);
  p.width = header.width;
  p.height = header.height;
  p.channels = header.nchannels;
  p.format = header.format;
  p.samples.resize(static_cast<std::size_t>(p.width) * p.height * p.channels);
  EXPECT_TRUE(in->read_image(0, 0, 0, p.channels, OIIO::TypeDesc::FLOAT, p.samples.data()));
  return p;
}

std::vector<unsigned char> ReadRaw(const std::string& path) {
  const OIIO::ImageSpec config = UnassociatedConfig();
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) return {};
  const OIIO::ImageSpec header = in->spec_dimensions(0);
  std::vector<unsigned char> raw(header.image_bytes());
  in->read_image(0, 0, 0, header.nchannels, header.format, raw.data());
  return raw;
}

void WritePicture(const std::string& path, int w, int h, int channels, OIIO::TypeDesc type,
                  const std::function<float(int, int, int)>& sample) {
  std::vector<float> samples;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) samples.push_back(sample(x, y, c));
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out);
  OIIO::ImageSpec header(w, h, channels, type);
  header.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(out->open(path, header));
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, samples.data()));
  ASSERT_TRUE(out->close());
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace lenstrove::cli
