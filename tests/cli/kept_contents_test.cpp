// What an image file holds besides its RGBA pixels survives a render:
// windows, extra channels and their sample types, parts, attributes,
// compression and tiling. Files are made and read back through OpenImageIO,
// never through the command's own reader.

#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <filesystem>
#include <functional>

#include "command_runner.h"
#include "temp_folder.h"

namespace lenstrove::cli {
namespace {
namespace fs = std::filesystem;
using testing::CommandResult;
using testing::RunQuietRender;

struct StoredPart {
  OIIO::ImageSpec header;
  std::vector<unsigned char> samples;  // as stored, each channel in its own type
};

OIIO::ImageSpec Header(int w, int h, const std::vector<std::string>& channels, OIIO::TypeDesc type) {
  OIIO::ImageSpec header(w, h, static_cast<int>(channels.size()), type);
  header.channelnames = channels;
  header.alpha_channel = -1;
  for (std::size_t c = 0; c < channels.size(); ++c)
    if (channels[c] == "A") header.alpha_channel = static_cast<int>(c);
  return header;
}

void SetWindows(OIIO::ImageSpec& header, int x, int y, int fullWidth, int fullHeight) {
  header.x = x;
  header.y = y;
  header.full_x = header.full_y = 0;
  header.full_width = fullWidth;
  header.full_height = fullHeight;
}

// Every sample differs from its neighbours, so a moved, swapped or
// converted sample shows.
float SampleAt(int x, int y, int c) { return static_cast<float>((x * 7 + y * 13 + c * 29 + 1000) % 61) / 64.0f; }

void WriteParts(const std::string& path, const std::vector<OIIO::ImageSpec>& headers) {
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out);
  for (std::size_t i = 0; i < headers.size(); ++i) {
    const OIIO::ImageSpec& h = headers[i];
    const bool opened = i == 0 ? out->open(path, static_cast<int>(headers.size()), headers.data())
                               : out->open(path, h, OIIO::ImageOutput::AppendSubimage);
    ASSERT_TRUE(opened) << out->geterror();
    std::vector<float> samples;
    for (int y = h.y; y < h.y + h.height; ++y)
      for (int x = h.x; x < h.x + h.width; ++x)
        for (int c = 0; c < h.nchannels; ++c) samples.push_back(SampleAt(x, y, c + static_cast<int>(i)));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, samples.data())) << out->geterror();
  }
  ASSERT_TRUE(out->close());
}

std::vector<StoredPart> ReadParts(const std::string& path) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  std::vector<StoredPart> parts;
  if (!in) {
    ADD_FAILURE() << "cannot open " << path;
    return parts;
  }
  for (int s = 0; in->seek_subimage(s, 0); ++s) {
    StoredPart part{in->spec(), {}};
    part.samples.resize(part.header.image_bytes(true));
    EXPECT_TRUE(in->read_image(s, 0, 0, part.header.nchannels, OIIO::TypeUnknown, part.samples.data()));
    parts.push_back(std::move(part));
  }
  return parts;
}

// The writer chooses its own strip height.
bool LayoutChoice(const std::string& name) { return name == "tiff:RowsPerStrip"; }

void ExpectSameAttributes(const OIIO::ImageSpec& in, const OIIO::ImageSpec& out, const std::string& file) {
  for (const OIIO::ParamValue& attribute : in.extra_attribs) {
    const std::string name = attribute.name().string();
    if (name == "Exif:ImageHistory" || LayoutChoice(name)) continue;
    const OIIO::ParamValue* kept = out.find_attribute(name);
    if (!kept) {
      ADD_FAILURE() << file << ": attribute " << name << " lost";
      continue;
    }
    EXPECT_EQ(kept->type(), attribute.type()) << file << ": " << name;
    EXPECT_EQ(kept->get_string(), attribute.get_string()) << file << ": " << name;
  }
}

void ExpectSameContents(const std::string& inPath, const std::string& outPath) {
  const std::vector<StoredPart> in = ReadParts(inPath), out = ReadParts(outPath);
  ASSERT_EQ(out.size(), in.size()) << outPath;
  for (std::size_t p = 0; p < in.size(); ++p) {
    const OIIO::ImageSpec &a = in[p].header, &b = out[p].header;
    SCOPED_TRACE(inPath + " part " + std::to_string(p));
    EXPECT_EQ(std::vector<int>({b.x, b.y, b.width, b.height}), std::vector<int>({a.x, a.y, a.width, a.height}));
    EXPECT_EQ(std::vector<int>({b.full_x, b.full_y, b.full_width, b.full_height}),
              std::vector<int>({a.full_x, a.full_y, a.full_width, a.full_height}));
    EXPECT_EQ(b.channelnames, a.channelnames);
    for (int c = 0; c < std::min(a.nchannels, b.nchannels); ++c)
      EXPECT_EQ(b.channelformat(c), a.channelformat(c)) << a.channel_name(c);
    EXPECT_EQ(std::vector<int>({b.tile_width, b.tile_height}), std::vector<int>({a.tile_width, a.tile_height}));
    EXPECT_TRUE(out[p].samples == in[p].samples) << "samples differ";
    ExpectSameAttributes(a, b, outPath);
  }
}

class KeptContents : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return folder_ / name; }

  CommandResult render(std::vector<std::string> args) { return RunQuietRender(std::move(args)); }

  // A plate with overscan: pixels reach past the frame on every side.
  std::string overscanExr() {
    OIIO::ImageSpec h = Header(80, 52, {"R", "G", "B", "A"}, OIIO::TypeDesc::HALF);
    SetWindows(h, -5, -3, 70, 46);
    h.attribute("compression", "piz");
    h.attribute("FramesPerSecond", OIIO::TypeRational, std::vector<int>{24000, 1001}.data());
    const unsigned int timecode[2] = {0x01000112, 0};
    h.attribute("smpte:TimeCode", OIIO::TypeTimeCode, timecode);
    h.attribute("PixelAspectRatio", 2.0f);
    const float chromaticities[8] = {0.64f, 0.33f, 0.3f, 0.6f, 0.15f, 0.06f, 0.3127f, 0.329f};
    h.attribute("chromaticities", OIIO::TypeDesc(OIIO::TypeDesc::FLOAT, 8), chromaticities);
    h.attribute("Make", "Arri");
    h.attribute("focalLength", 35.0f);
    h.attribute("owner", "Marrowdale");
    h.attribute("ImageDescription", "plate for the chase");
    h.attribute("studio:shot", "sq010_0040");
    WriteParts(path("overscan.exr"), {h});
    return path("overscan.exr");
  }

  // A CG element rendered only where it has something: the data window
  // sits inside the frame.
  std::string croppedExr() {
    OIIO::ImageSpec h = Header(20, 12, {"R", "G", "B", "A"}, OIIO::TypeDesc::HALF);
    SetWindows(h, 30, 20, 90, 60);
    h.attribute("compression", "dwaa:45");
    h.attribute("openexr:lineOrder", "decreasingY");
    WriteParts(path("cropped.exr"), {h});
    return path("cropped.exr");
  }

  std::string layeredExr() {
    OIIO::ImageSpec h =
        Header(24, 16, {"R", "G", "B", "A", "Z", "diffuse.R", "diffuse.G", "diffuse.B", "id"}, OIIO::TypeDesc::HALF);
    h.channelformats = {OIIO::TypeDesc::HALF,  OIIO::TypeDesc::HALF, OIIO::TypeDesc::HALF,
                        OIIO::TypeDesc::HALF,  OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::HALF,
                        OIIO::TypeDesc::HALF,  OIIO::TypeDesc::HALF, OIIO::TypeDesc::UINT32};
    h.tile_width = h.tile_height = 8;
    h.attribute("compression", "zips");
    WriteParts(path("layered.exr"), {h});
    return path("layered.exr");
  }

  std::string twoPartExr() {
    OIIO::ImageSpec beauty = Header(32, 20, {"R", "G", "B", "A"}, OIIO::TypeDesc::HALF);
    beauty.attribute("name", "beauty");
    OIIO::ImageSpec depth = Header(40, 24, {"Z"}, OIIO::TypeDesc::FLOAT);
    SetWindows(depth, -4, -2, 32, 20);
    depth.attribute("name", "depth");
    WriteParts(path("two-part.exr"), {beauty, depth});
    return path("two-part.exr");
  }

  TempFolder folder_;
};

TEST_F(KeptContents, AllOffRoundTripsKeepEverythingTheFileHolds) {
  OIIO::ImageSpec dpx = Header(30, 20, {"R", "G", "B"}, OIIO::TypeDesc::UINT16);
  dpx.attribute("oiio:BitsPerSample", 10);
  const unsigned int timecode[2] = {0x10203004, 0};
  dpx.attribute("smpte:TimeCode", OIIO::TypeTimeCode, timecode);
  dpx.attribute("dpx:FrameRate", 25.0f);
  dpx.attribute("dpx:InputDevice", "scanner 3");
  WriteParts(path("plate.dpx"), {dpx});
  OIIO::ImageSpec tiff = Header(30, 20, {"R", "G", "B", "A"}, OIIO::TypeDesc::UINT16);
  tiff.attribute("compression", "lzw");
  tiff.attribute("Artist", "Ann Example");
  tiff.attribute("Copyright", "Marrowdale 2026");
  tiff.attribute("XResolution", 300.0f);
  tiff.attribute("ImageDescription", "scan of reel 4");
  tiff.attribute("Exif:FocalLength", 35.0f);  // camera data has a directory of its own
  WriteParts(path("scan.tif"), {tiff});

  for (const std::string& in :
       {overscanExr(), croppedExr(), layeredExr(), twoPartExr(), path("plate.dpx"), path("scan.tif")}) {
    const std::string out = path("out-" + fs::path(in).filename().string());
    const CommandResult r = render({in, out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "") << in;
    ExpectSameContents(in, out);
  }
  // The writer's own line is added to the history.
  const OIIO::ImageSpec written = ReadParts(path("out-overscan.exr"))[0].header;
  EXPECT_NE(written.get_string_attribute("Exif:ImageHistory").find("lenstrove render: com.Qel.Lenstrove.V111"),
            std::string::npos);
  // An option changes the compression and nothing else.
  ASSERT_EQ(render({layeredExr(), path("zip.exr"), "--compression", "zip"}).exitCode, 0);
  EXPECT_EQ(ReadParts(path("zip.exr"))[0].header.get_string_attribute("compression"), "zip");
  EXPECT_TRUE(ReadParts(path("zip.exr"))[0].samples == ReadParts(layeredExr())[0].samples);
}

TEST_F(KeptContents, GuidesOfACroppedRenderCoverTheWholeFrame) {
  const CommandResult r = render({croppedExr(), path("guides.exr"), "GuideThirds=on"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path("guides.exr"), &config);
  ASSERT_TRUE(in);
  const OIIO::ImageSpec h = in->spec();
  // The data window grew to the frame, which stays as it was.
  EXPECT_EQ(std::vector<int>({h.x, h.y, h.width, h.height}), std::vector<int>({0, 0, 90, 60}));
  EXPECT_EQ(std::vector<int>({h.full_x, h.full_y, h.full_width, h.full_height}), std::vector<int>({0, 0, 90, 60}));
  std::vector<float> red(90 * 60);
  ASSERT_TRUE(in->read_image(0, 0, 0, 1, OIIO::TypeDesc::FLOAT, red.data()));
  const auto lit = [&](int x, int y) { return red[static_cast<std::size_t>(y) * 90 + x] == 1.0f; };
  // Thirds of a 90x60 frame: the lines run through columns 30 and 60 and
  // rows 20 and 40, far outside the 20x12 pixels the file held.
  for (int y : {2, 57}) {
    EXPECT_TRUE(lit(30, y) || lit(29, y)) << "left line at row " << y;
    EXPECT_TRUE(lit(60, y) || lit(59, y)) << "right line at row " << y;
    EXPECT_FALSE(lit(45, y)) << "between the lines at row " << y;
  }
  for (int x : {2, 87}) {
    EXPECT_TRUE(lit(x, 20) || lit(x, 19)) << "upper line at column " << x;
    EXPECT_TRUE(lit(x, 40) || lit(x, 39)) << "lower line at column " << x;
  }
}

TEST_F(KeptContents, FormatsThatCannotHoldItAllSayWhatIsDropped) {
  const CommandResult channels = render({layeredExr(), path("layered.png")});
  ASSERT_EQ(channels.exitCode, 0) << channels.err;
  // Named in the order the file lists them, which OpenEXR sorts.
  EXPECT_NE(channels.err.find("warning: png cannot hold channels Z, id, diffuse.R, diffuse.G, diffuse.B:"),
            std::string::npos)
      << channels.err;
  EXPECT_EQ(ReadParts(path("layered.png"))[0].header.nchannels, 4);
  const CommandResult parts = render({twoPartExr(), path("two.png")});
  EXPECT_NE(parts.err.find("parts 'depth' are not written"), std::string::npos) << parts.err;
  const CommandResult overscan = render({overscanExr(), path("overscan.png")});
  EXPECT_NE(overscan.err.find("pixels outside the display window are not written"), std::string::npos)
      << overscan.err;
  EXPECT_EQ(ReadParts(path("overscan.png"))[0].header.width, 70);
}

TEST_F(KeptContents, PartOptionChoosesThePartToRender) {
  const std::string in = twoPartExr();
  ASSERT_EQ(render({in, path("out.exr"), "--part", "depth", "GuideCrosshair=on"}).exitCode, 0);
  const std::vector<StoredPart> before = ReadParts(in), after = ReadParts(path("out.exr"));
  ASSERT_EQ(after.size(), 2u);
  EXPECT_TRUE(after[0].samples == before[0].samples);  // beauty copied
  EXPECT_FALSE(after[1].samples == before[1].samples);  // depth rendered
  EXPECT_EQ(after[1].header.channelnames, std::vector<std::string>{"Z"});  // white on gray stays gray
  const CommandResult missing = render({in, path("none.exr"), "--part", "matte"});
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_NE(missing.err.find("no part named 'matte' (its parts: 'beauty', 'depth')"), std::string::npos)
      << missing.err;
}

}  // namespace
}  // namespace lenstrove::cli
