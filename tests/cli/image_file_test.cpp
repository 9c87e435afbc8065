// Image files through OpenImageIO: channel layouts in, conversions out, the
// pixel limit, and the temporary-name-then-rename rule on every failure.

#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <filesystem>
#include <fstream>

#include "image/image_file.h"
#include "image/temp_file.h"

namespace lenstrove::cli {
namespace {
namespace fs = std::filesystem;

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lenstrove-img-XXXXXX";
    folder_ = ::mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string path(const std::string& name) const { return folder_ + "/" + name; }

  // A file written straight through OpenImageIO, as another program would.
  template <typename Sample>
  void writeRaw(const std::string& name, int w, int h, int channels, OIIO::TypeDesc type,
                const std::vector<Sample>& samples) {
    auto out = OIIO::ImageOutput::create(path(name));
    ASSERT_TRUE(out);
    OIIO::ImageSpec header(w, h, channels, type);
    header.attribute("oiio:UnassociatedAlpha", 1);  // the samples as given
    ASSERT_TRUE(out->open(path(name), header));
    ASSERT_TRUE(out->write_image(OIIO::BaseTypeFromC<Sample>::value, samples.data()));
    ASSERT_TRUE(out->close());
  }

  OIIO::ImageSpec headerOf(const std::string& name) const {
    auto in = OIIO::ImageInput::open(path(name));
    return in ? in->spec_dimensions(0) : OIIO::ImageSpec();
  }

  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_))
      if (entry.path().filename().string().find(".tmp") != std::string::npos)
        names.push_back(entry.path().filename().string());
    return names;
  }

  std::string folder_;
};

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(no error)";
}

TEST_F(ImageFileTest, RgbFilesGainOpaqueAlphaAndKeepTheirRowOrder) {
  // Two rows: the top one red, the bottom one blue.
  writeRaw<unsigned char>("rgb.png", 1, 2, 3, OIIO::TypeDesc::UINT8, {255, 0, 0, 0, 0, 255});
  const ImageFileInfo info = ReadImageInfo(path("rgb.png"), 1000);
  EXPECT_EQ(info.channels, 3);
  EXPECT_FALSE(info.hasAlpha());
  EXPECT_EQ(info.naturalDepth(), PixelDepth::Byte);
  const RgbaImage image = ReadRgbaImage(path("rgb.png"), PixelDepth::Byte, 1000);
  EXPECT_EQ(image.pixels, (std::vector<unsigned char>{255, 0, 0, 255, 0, 0, 255, 255}));
  const RgbaImage asFloat = ReadRgbaImage(path("rgb.png"), PixelDepth::Float, 1000);
  const float* f = reinterpret_cast<const float*>(asFloat.pixels.data());
  EXPECT_EQ(f[0], 1.0f);
  EXPECT_EQ(f[3], 1.0f);
  EXPECT_EQ(f[6], 1.0f);
}

TEST_F(ImageFileTest, GrayAndGrayAlphaSpreadOverTheColourChannels) {
  writeRaw<unsigned char>("g.png", 2, 1, 1, OIIO::TypeDesc::UINT8, {10, 200});
  EXPECT_EQ(ReadRgbaImage(path("g.png"), PixelDepth::Byte, 10).pixels,
            (std::vector<unsigned char>{10, 10, 10, 255, 200, 200, 200, 255}));
  writeRaw<unsigned char>("ga.png", 1, 1, 2, OIIO::TypeDesc::UINT8, {77, 128});
  EXPECT_EQ(ReadRgbaImage(path("ga.png"), PixelDepth::Byte, 10).pixels,
            (std::vector<unsigned char>{77, 77, 77, 128}));
}

TEST_F(ImageFileTest, SixteenBitFilesRoundTripExactlyThroughFloat) {
  std::vector<unsigned short> samples;
  for (int i = 0; i < 4 * 4 * 4; ++i) samples.push_back(static_cast<unsigned short>(i * 1031 + 7));
  writeRaw("deep.png", 4, 4, 4, OIIO::TypeDesc::UINT16, samples);
  const ImageFileInfo info = ReadImageInfo(path("deep.png"), 100);
  EXPECT_EQ(info.naturalDepth(), PixelDepth::Float);
  const RgbaImage image = ReadRgbaImage(path("deep.png"), PixelDepth::Float, 100);
  WriteRgbaImage(path("copy.png"), image, {StorageForOutput(PixelDepth::Float, info.storage), true});
  EXPECT_EQ(headerOf("copy.png").format, OIIO::TypeDesc::UINT16);
  std::vector<unsigned short> back(samples.size());
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path("copy.png"), &config);
  ASSERT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::UINT16, back.data()));
  EXPECT_EQ(back, samples);
}

TEST_F(ImageFileTest, OutputsAreConvertedAsTheirFormatNeeds) {
  RgbaImage image(2, 2, PixelDepth::Byte);
  std::fill(image.pixels.begin(), image.pixels.end(), 255);
  WriteRgbaImage(path("opaque.png"), image, {OIIO::TypeDesc::UINT8, false});
  EXPECT_EQ(headerOf("opaque.png").nchannels, 3);  // nothing to say in alpha
  WriteRgbaImage(path("kept.png"), image, {OIIO::TypeDesc::UINT8, true});
  EXPECT_EQ(headerOf("kept.png").nchannels, 4);  // the source had alpha
  image.pixels[3] = 100;
  WriteRgbaImage(path("partial.png"), image, {OIIO::TypeDesc::UINT8, false});
  EXPECT_EQ(headerOf("partial.png").nchannels, 4);  // alpha now carries something
  WriteRgbaImage(path("photo.jpg"), image, {OIIO::TypeDesc::UINT8, true});
  EXPECT_EQ(headerOf("photo.jpg").nchannels, 3);  // JPEG has no alpha
  WriteRgbaImage(path("wide.exr"), image, {StorageForOutput(PixelDepth::Float, OIIO::TypeDesc::UINT8), true});
  EXPECT_EQ(headerOf("wide.exr").format, OIIO::TypeDesc::FLOAT);
  EXPECT_EQ(StorageForOutput(PixelDepth::Byte, OIIO::TypeDesc::HALF), OIIO::TypeDesc::UINT8);
  EXPECT_EQ(StorageForOutput(PixelDepth::Float, OIIO::TypeDesc::HALF), OIIO::TypeDesc::HALF);
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(ImageFileTest, PicturesAboveThePixelLimitAreRefusedFromTheHeader) {
  writeRaw<unsigned char>("big.png", 20, 10, 1, OIIO::TypeDesc::UINT8, std::vector<unsigned char>(200, 1));
  EXPECT_NO_THROW(ReadImageInfo(path("big.png"), 200));
  const std::string message = ErrorOf([&] { ReadRgbaImage(path("big.png"), PixelDepth::Byte, 199); });
  EXPECT_NE(message.find("declared size 20x10 is above the limit of 199 pixels"), std::string::npos) << message;
}

TEST_F(ImageFileTest, UnreadableInputsAreNamed) {
  std::ofstream(path("text.png")) << "not a picture";
  fs::create_directory(path("folder.png"));
  for (const char* name : {"missing.png", "text.png", "folder.png"}) {
    const std::string message = ErrorOf([&] { ReadImageInfo(path(name), 100); });
    EXPECT_NE(message.find("cannot read input '" + path(name) + "'"), std::string::npos) << message;
  }
}

TEST_F(ImageFileTest, FailedWritesNameTheOutputAndLeaveNothingBehind) {
  RgbaImage image(2, 2, PixelDepth::Byte);
  fs::create_directory(path("taken.png"));
  EXPECT_NE(ErrorOf([&] { WriteRgbaImage(path("no/such/out.png"), image, {}); }).find("folder"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { WriteRgbaImage(path("out.unknownformat"), image, {}); }).find("no image format"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { WriteRgbaImage(path("taken.png"), image, {}); }).find("it is a folder"), std::string::npos);
  EXPECT_FALSE(fs::exists(path("out.unknownformat")));
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(ImageFileTest, TempFilesVanishUnlessCommitted) {
  std::string dropped;
  {
    TempFile temp(path("a.txt"));
    dropped = temp.path();
    std::ofstream(temp.path()) << "half";
    EXPECT_EQ(fs::path(dropped).parent_path(), fs::path(folder_));
    EXPECT_EQ(fs::path(dropped).filename().string()[0], '.');
  }
  EXPECT_FALSE(fs::exists(dropped));
  {
    TempFile temp(path("b.txt"));
    std::ofstream(temp.path()) << "whole";
    temp.commit();
  }
  EXPECT_TRUE(fs::exists(path("b.txt")));
  EXPECT_TRUE(leftovers().empty());
}

}  // namespace
}  // namespace lenstrove::cli
