// Movies through the lenstrove command: clips are made once by Debian's
// ffmpeg program, rendered by the real command, and read back here through
// FFmpeg's libraries, independently of the command's own reader.

#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "command_runner.h"
#include "interface/arguments.h"
#include "movie_reading.h"
#include "temp_folder.h"

namespace lenstrove::cli {
namespace {
namespace fs = std::filesystem;
using testing::CommandResult;
using testing::DecodePictures;
using testing::Ffmpeg;
using testing::MovieFacts;
using testing::Picture;
using testing::ReadFacts;
using testing::RunQuietRender;

// ---- reading images back -------------------------------------------------

// Raw 8-bit RGB samples of an image file.
std::vector<std::uint8_t> ReadRgb(const std::string& path) {
  auto in = OIIO::ImageInput::open(path);
  if (!in) return {};
  const OIIO::ImageSpec& header = in->spec();
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(header.width) * header.height * 3);
  in->read_image(0, 0, 0, 3, OIIO::TypeDesc::UINT8, rgb.data());
  return rgb;
}

OIIO::TypeDesc StoredType(const std::string& path) {
  auto in = OIIO::ImageInput::open(path);
  return in ? in->spec().format : OIIO::TypeDesc::UNKNOWN;
}

// ---- clips -----------------------------------------------------------------

class Movies : public ::testing::Test {
 protected:
  // Clips shared by the suite, each made the first time a test asks for
  // it (CTest runs every test in its own process): a lossless RGB clip with
  // its frames as PNG, and a 10-bit ProRes clip at 23.976 with a timecode, a
  // pixel aspect, colour tags and a stereo audio stream.
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/lenstrove-movies-XXXXXX";
    clips_ = ::mkdtemp(pattern);
  }
  static std::string clip(const std::string& name) {
    const std::string path = clips_ + "/" + name;
    if (fs::exists(path)) return path;
    if (name == "rgb.mkv" || name.rfind("png/", 0) == 0) {
      Ffmpeg("-f lavfi -i testsrc2=size=192x108:rate=25 -frames:v 12 -pix_fmt bgr0 -c:v ffv1 " + clips_ + "/rgb.mkv");
      fs::create_directory(clips_ + "/png");
      Ffmpeg("-i " + clips_ + "/rgb.mkv -start_number 0 " + clips_ + "/png/f.%04d.png");
    } else if (name == "prores.mov") {
      Ffmpeg("-f lavfi -i testsrc2=size=192x108:rate=24000/1001 -f lavfi -i sine=frequency=500:sample_rate=48000 "
             "-frames:v 24 -t 1.001 -ac 2 "
             "-vf setsar=4/3,setparams=color_primaries=bt709:color_trc=bt709:colorspace=bt709 "
             "-c:v prores_ks -profile:v hq -pix_fmt yuv422p10le -timecode 01:00:00:00 -c:a pcm_s16le " + path);
    }
    return path;
  }
  static void TearDownTestSuite() { fs::remove_all(clips_); }


  std::string path(const std::string& name) const { return folder_ / name; }

  CommandResult render(std::vector<std::string> args) { return RunQuietRender(std::move(args)); }
  void renderOk(const std::vector<std::string>& args) {
    const CommandResult r = render(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }

  static std::string clips_;
  TempFolder folder_;
};
std::string Movies::clips_;

// ---- pictures ----------------------------------------------------------------

TEST_F(Movies, AllOffFfv1RenderDecodesToTheInputsFrames) {
  renderOk({clip("rgb.mkv"), path("out.mkv"), "-j", "3"});
  const std::vector<Picture> in = DecodePictures(clip("rgb.mkv")), out = DecodePictures(path("out.mkv"));
  ASSERT_EQ(out.size(), 12u);
  ASSERT_EQ(out.size(), in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    EXPECT_EQ(out[i].format, in[i].format);
    EXPECT_TRUE(out[i].bytes == in[i].bytes) << "frame " << i;
  }
}

// The movie path and the image path must hand the plug-in the same
// pictures at the same times.
TEST_F(Movies, GuidesOnAMovieMatchTheSameFramesRenderedFromPng) {
  const std::vector<std::string> aids = {"GuideThirds=on", "Crop239=on", "CropOpacity=0:0.2,11:1"};
  std::vector<std::string> movieArgs = {clip("rgb.mkv"), path("guides.mkv"), "-j", "2"};
  std::vector<std::string> pngArgs = {clip("png/f.####.png"), path("g.####.png")};
  movieArgs.insert(movieArgs.end(), aids.begin(), aids.end());
  pngArgs.insert(pngArgs.end(), aids.begin(), aids.end());
  renderOk(movieArgs);
  renderOk(pngArgs);
  const std::vector<Picture> frames = DecodePictures(path("guides.mkv"));
  ASSERT_EQ(frames.size(), 12u);
  for (std::size_t f = 0; f < frames.size(); ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "g.%04zu.png", f);
    const std::vector<std::uint8_t> png = ReadRgb(path(name));
    const std::size_t pixels = 192 * 108;
    ASSERT_EQ(png.size(), pixels * 3);
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < pixels; ++i)
      for (int c = 0; c < 3; ++c) mismatches += png[3 * i + c] != frames[f].rgb(i, c);
    EXPECT_EQ(mismatches, 0u) << "frame " << f;
  }
}

TEST_F(Movies, TenBitProResRendersInFloatAndEightBitInByte) {
  renderOk({clip("prores.mov"), path("deep.png"), "-f", "5"});
  renderOk({clip("rgb.mkv"), path("shallow.png"), "-f", "5"});
  EXPECT_EQ(StoredType(path("deep.png")), OIIO::TypeDesc::UINT16);
  EXPECT_EQ(StoredType(path("shallow.png")), OIIO::TypeDesc::UINT8);
}

// ---- what a movie keeps ------------------------------------------------------

TEST_F(Movies, RateTimeBaseAspectTagsTimecodeAndAudioArePreserved) {
  renderOk({clip("prores.mov"), path("out.mov"), "--codec", "prores_hq", "GuideThirds=on"});
  const MovieFacts in = ReadFacts(clip("prores.mov")), out = ReadFacts(path("out.mov"));
  EXPECT_EQ(out.videoPackets, 24);
  EXPECT_EQ(av_cmp_q(out.rate, AVRational{24000, 1001}), 0);
  EXPECT_EQ(av_cmp_q(out.timeBase, in.timeBase), 0);
  EXPECT_EQ(av_cmp_q(out.aspect, AVRational{4, 3}), 0);
  EXPECT_EQ(out.primaries, AVCOL_PRI_BT709);
  EXPECT_EQ(out.transfer, AVCOL_TRC_BT709);
  EXPECT_EQ(out.matrix, AVCOL_SPC_BT709);
  EXPECT_EQ(out.timecode, "01:00:00:00");
  EXPECT_EQ(out.profile, FF_PROFILE_PRORES_HQ);
  EXPECT_FALSE(in.audioBytes.empty());
  EXPECT_TRUE(out.audioBytes == in.audioBytes) << out.audioBytes.size() << " vs " << in.audioBytes.size();
}

// A range keeps its place in time: the timecode moves with its first frame.
TEST_F(Movies, AFrameRangeStartsAtItsOwnTimecode) {
  renderOk({clip("prores.mov"), path("part.mov"), "-f", "10-19"});
  const MovieFacts part = ReadFacts(path("part.mov"));
  EXPECT_EQ(part.videoPackets, 10);
  EXPECT_EQ(part.timecode, "01:00:00:10");
  EXPECT_EQ(part.codec, AV_CODEC_ID_PRORES);  // no --codec: the source's own
}

TEST_F(Movies, EveryListedCodecWritesAMovieOfThatCodec) {
  const struct {
    const char* codec;
    const char* file;
    AVCodecID id;
  } cases[] = {{"prores_proxy", "a.mov", AV_CODEC_ID_PRORES}, {"prores_4444", "b.mov", AV_CODEC_ID_PRORES},
               {"h264", "d.mp4", AV_CODEC_ID_H264},
               {"h265", "e.mkv", AV_CODEC_ID_HEVC},          {"ffv1", "f.mkv", AV_CODEC_ID_FFV1}};
  for (const auto& c : cases) {
    renderOk({clip("rgb.mkv"), path(c.file), "--codec", c.codec, "-f", "0-3"});
    const MovieFacts facts = ReadFacts(path(c.file));
    EXPECT_EQ(facts.codec, c.id) << c.codec;
    EXPECT_EQ(facts.videoPackets, 4) << c.codec;
  }
}

// ---- movies and sequences ----------------------------------------------------

TEST_F(Movies, ASequenceBecomesAMovieAtTheRateAsked) {
  renderOk({clip("png/f.####.png"), path("seq.mkv"), "--fps", "23.976"});
  const MovieFacts facts = ReadFacts(path("seq.mkv"));
  EXPECT_EQ(facts.videoPackets, 12);
  EXPECT_EQ(av_cmp_q(facts.rate, AVRational{24000, 1001}), 0);
  // The lossless codec keeps the PNG's pixels.
  const std::vector<Picture> frames = DecodePictures(path("seq.mkv"));
  ASSERT_FALSE(frames.empty());
  const std::vector<std::uint8_t> first = ReadRgb(clip("png/f.0000.png"));
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < first.size() / 3; ++i)
    for (int c = 0; c < 3; ++c) mismatches += first[3 * i + c] != frames[0].rgb(i, c);
  EXPECT_EQ(mismatches, 0u);
}

// Decimal NTSC rates mean their exact fractions, or a 23.976 movie would
// drift from its audio by a frame every 42 seconds.
TEST(MovieOptions, RatesAndBitRatesParseToExactValues) {
  const struct {
    const char* text;
    int numerator, denominator;
  } rates[] = {{"23.976", 24000, 1001}, {"29.97", 30000, 1001}, {"59.94", 60000, 1001},
               {"25", 25, 1},           {"24000/1001", 24000, 1001}, {"12.5", 12500, 1000}};
  for (const auto& r : rates) {
    const FrameRate rate = ParseFrameRate(r.text);
    EXPECT_EQ(rate.numerator, r.numerator) << r.text;
    EXPECT_EQ(rate.denominator, r.denominator) << r.text;
  }
  EXPECT_THROW(ParseFrameRate("0"), UsageError);
  EXPECT_THROW(ParseFrameRate("24/0"), UsageError);
  EXPECT_EQ(ParseBitrate("50M"), 50'000'000);
  EXPECT_EQ(ParseBitrate("800k"), 800'000);
  EXPECT_THROW(ParseBitrate("fast"), UsageError);
}

// ---- refusals ----------------------------------------------------------------

TEST_F(Movies, BrokenInputsAndImpossibleOutputsFailWithOneLineAndNoFile) {
  const std::string bytes = [] {
    std::ifstream in(clip("prores.mov"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  std::ofstream(path("truncated.mov"), std::ios::binary).write(bytes.data(), bytes.size() / 2);
  Ffmpeg("-f lavfi -i testsrc2=size=192x108 -frames:v 12 -c:v prores_ks " + path("picture.mov"));
  std::string damaged = [&] {
    std::ifstream in(path("picture.mov"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  for (std::size_t i = damaged.size() / 3; i < damaged.size() / 3 + 2000; ++i) damaged[i] = static_cast<char>(i * 37);
  std::ofstream(path("damaged.mov"), std::ios::binary) << damaged;
  fs::remove(path("picture.mov"));
  Ffmpeg("-f lavfi -i sine=sample_rate=8000 -t 0.2 -c:a pcm_s16le " + path("sound.mov"));
  // AAC has no profile for 192 kHz, so this audio cannot go into a .mp4.
  Ffmpeg("-f lavfi -i testsrc2=size=192x108 -f lavfi -i sine=sample_rate=192000 -t 0.5 -c:v ffv1 -c:a pcm_s24le " +
         path("hirate.mov"));

  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{path("truncated.mov"), path("out.mov")}, "truncated.mov"},
      {{path("damaged.mov"), path("out.mov")}, "damaged.mov"},
      {{path("sound.mov"), path("out.mov")}, "no video stream"},
      {{clip("rgb.mkv"), path("out.mov"), "--codec", "cinepak9"}, "unknown codec"},
      {{clip("rgb.mkv"), path("out.mp4"), "--codec", "prores_hq"}, "cannot hold"},
      {{clip("prores.mov"), path("out.mp4"), "--codec", "h264", "--audio", "copy"}, "audio untouched"},
      {{clip("rgb.mkv"), path("out.mov"), "-f", "5-40"}, "range"},
      {{path("hirate.mov"), path("out.mp4")}, "cannot encode audio stream 1 (pcm_s24le) as aac at 192000 Hz"},
      {{clip("rgb.mkv"), path("out.mov"), "--fit", "0x0"}, "--fit 0x0 has no area"},
      {{clip("rgb.mkv"), path("out.mov"), "--fit", "1000x1000", "--max-pixels", "500000"}, "larger than the limit"},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> before = [&] {
      std::vector<std::string> names;
      for (const auto& e : fs::directory_iterator(folder_.path())) names.push_back(e.path().filename());
      std::sort(names.begin(), names.end());
      return names;
    }();
    const CommandResult r = render(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    std::vector<std::string> after;
    for (const auto& e : fs::directory_iterator(folder_.path())) after.push_back(e.path().filename());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before) << c.says;  // nothing written, not even a temporary file
  }
}

// A disk that fills up mid-render (here a file-size limit) ends the render
// with one line naming the output, and leaves nothing behind.
TEST_F(Movies, AFullDiskFailsWithOneLineAndLeavesNoFile) {
  const CommandResult r = testing::RunQuietRenderWithFileLimit({clip("prores.mov"), path("out.mov")}, 200'000);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find("cannot write output '" + path("out.mov") + "': File too large"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_empty(folder_.path()));
}

// ---- memory ------------------------------------------------------------------

// Frames flow through a fixed number of slots, so a clip ten times longer
// may not need more memory. Had every frame been kept, the long run would
// hold over 100 MB more.
TEST_F(Movies, PeakMemoryDoesNotGrowWithTheClipsLength) {
#if defined(LENSTROVE_SANITIZED)
  GTEST_SKIP() << "sanitizers keep freed memory in quarantine";
#endif
  Ffmpeg("-f lavfi -i testsrc2=size=320x180:rate=25 -frames:v 480 -c:v ffv1 " + path("long.mkv"));
  const CommandResult shortRun = render({path("long.mkv"), path("short.mkv"), "-f", "0-47", "-j", "2"});
  const CommandResult longRun = render({path("long.mkv"), path("full.mkv"), "-j", "2"});
  ASSERT_EQ(shortRun.exitCode, 0) << shortRun.err;
  ASSERT_EQ(longRun.exitCode, 0) << longRun.err;
  EXPECT_EQ(ReadFacts(path("full.mkv")).videoPackets, 480);
  std::printf("peak memory: %ld kB for 48 frames, %ld kB for 480 frames\n", shortRun.maxResidentKilobytes,
              longRun.maxResidentKilobytes);
  EXPECT_LT(longRun.maxResidentKilobytes, shortRun.maxResidentKilobytes + 24 * 1024);
}

}  // namespace
}  // namespace lenstrove::cli
