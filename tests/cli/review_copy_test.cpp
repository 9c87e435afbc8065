// Review copies: camera footage with its audio rendered into any container,
// fitted to a size, in sync. Clips are made by Debian's ffmpeg program and
// read back through FFmpeg's libraries.

#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "command_runner.h"
#include "movie_reading.h"
#include "temp_folder.h"

namespace lenstrove::cli {
namespace {
namespace fs = std::filesystem;
using namespace testing;

constexpr double kFrame = 1001.0 / 24000.0;  // one frame at 23.976
constexpr const char* kOp1a = "060e2b34.04010101.0d010201.01010900";

class ReviewCopies : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/lenstrove-review-XXXXXX";
    clips_ = ::mkdtemp(pattern);
  }
  static void TearDownTestSuite() { fs::remove_all(clips_); }

  // cam.mov: what a camera writes, small: anamorphic 1440x1080 (4:3
  // pixels) ProRes 4444, flat gray, 24 frames at 23.976 from 01:00:00:00,
  // with 24-bit stereo PCM silent but for a tone burst at frame 12's time,
  // and a second stream, mono 16-bit at 44.1 kHz.
  // ffv1.mov: lossless FFV1 in QuickTime, with a timecode.
  // h264.mkv: 8-bit 4:2:0 H.264 with detail everywhere.
  static std::string clip(const std::string& name) {
    const std::string path = clips_ + "/" + name;
    if (fs::exists(path)) return path;
    if (name == "cam.mov")
      Ffmpeg("-f lavfi -i color=c=gray:size=1440x1080:rate=24000/1001 "
             "-f lavfi -i 'aevalsrc=exprs=if(between(t\\,0.5005\\,0.5205)\\,0.8*sin(6283*t)\\,0)|"
             "if(between(t\\,0.5005\\,0.5205)\\,0.8*sin(6283*t)\\,0):s=48000' "
             "-f lavfi -i sine=frequency=300:sample_rate=44100 -t 1.001 -map 0 -map 1 -map 2 -vf setsar=4/3 "
             "-c:v prores_ks -profile:v 4444 -pix_fmt yuv444p10le -timecode 01:00:00:00 "
             "-c:a:0 pcm_s24le -c:a:1 pcm_s16le " + path);
    else if (name == "ffv1.mov")
      Ffmpeg("-f lavfi -i testsrc2=size=256x144:rate=25 -frames:v 6 -c:v ffv1 -timecode 02:00:00:00 " + path);
    else if (name == "h264.mkv")
      Ffmpeg("-f lavfi -i testsrc2=size=640x360:rate=25 -frames:v 4 -c:v libx264 -pix_fmt yuv420p " + path);
    return path;
  }

  // How long after frame 12 the source's tone burst passes the level the
  // tests look for: a few samples, as the tone rises from zero.
  static double BurstAfterFrame12() { return DecodeSound(clip("cam.mov")).onset(0.3f) - 12 * kFrame; }

  std::string path(const std::string& name) const { return folder_ / name; }
  CommandResult renderOk(std::vector<std::string> args) {
    const CommandResult r = RunQuietRender(std::move(args));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r;
  }
  static int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

  static std::string clips_;
  TempFolder folder_;
};
std::string ReviewCopies::clips_;

// The job the command is for, in one command: every frame, both audio
// streams with their rates and channels, the timecode, sync to the
// sample's worth of an AAC frame, and guides drawn at the output size.
TEST_F(ReviewCopies, CameraFootageBecomesAFittedH264AacReviewCopyInOneCommand) {
  const CommandResult r = renderOk({clip("cam.mov"), path("review.mp4"), "--fit", "1280x720", "GuideThirds=on",
                                    "Crop239=on"});
  EXPECT_EQ(Lines(r.err), 1) << r.err;  // the note that the PCM became AAC
  EXPECT_NE(r.err.find("encoded stream 1 (pcm_s24le) as aac, stream 2 (pcm_s16le) as aac"), std::string::npos)
      << r.err;
  const MovieFacts facts = ReadFacts(path("review.mp4"));
  EXPECT_EQ(facts.codec, AV_CODEC_ID_H264);
  EXPECT_EQ(facts.width, 1280);  // 1440x1080 in 4:3 pixels shows as 16:9
  EXPECT_EQ(facts.height, 720);
  EXPECT_TRUE(facts.aspect.num == facts.aspect.den || facts.aspect.num == 0);
  EXPECT_EQ(facts.videoPackets, 24);
  EXPECT_EQ(facts.timecode, "01:00:00:00");
  std::vector<StreamFacts> audio;
  for (const StreamFacts& s : facts.streams)
    if (s.type == AVMEDIA_TYPE_AUDIO) audio.push_back(s);
  ASSERT_EQ(audio.size(), 2u);
  EXPECT_EQ(audio[0].codec, AV_CODEC_ID_AAC);
  EXPECT_EQ(audio[0].sampleRate, 48000);
  EXPECT_EQ(audio[0].channels, 2);
  EXPECT_EQ(audio[1].sampleRate, 44100);
  EXPECT_EQ(audio[1].channels, 1);

  const std::vector<Picture> pictures = DecodePictures(path("review.mp4"));
  ASSERT_EQ(pictures.size(), 24u);
  for (int stream = 0; stream < 2; ++stream)
    EXPECT_NEAR(DecodeSound(path("review.mp4"), stream).seconds(), 24 * kFrame, kFrame) << stream;
  EXPECT_NEAR(DecodeSound(path("review.mp4")).onset(0.3f) - pictures[12].seconds, BurstAfterFrame12(), 0.003);

  // Row 360 of the luma: gray, crossed by the two vertical thirds lines,
  // each three white pixels wide, as drawn at 1280 wide; row 10 is bar.
  const std::uint8_t* row = pictures[0].bytes.data() + 360 * 1280;
  std::vector<int> white;
  for (int x = 0; x < 1280; ++x)
    if (row[x] > 200) white.push_back(x);
  EXPECT_EQ(white, (std::vector<int>{425, 426, 427, 852, 853, 854}));
  EXPECT_LT(pictures[0].bytes[10 * 1280 + 640], 24);
}

// --frames: the audio is cut to the frames' span, to the sample when it is
// copied as PCM, and stays in sync whether copied or encoded.
TEST_F(ReviewCopies, AFrameRangeKeepsItsAudioInSync) {
  for (const char* name : {"cut.mp4", "cut.mov"}) {
    renderOk({clip("cam.mov"), path(name), "-f", "6-17", "--fit", "320x180", "--codec", "h264"});
    const MovieFacts facts = ReadFacts(path(name));
    EXPECT_EQ(facts.videoPackets, 12) << name;
    EXPECT_EQ(facts.timecode, "01:00:00:06") << name;
    const std::vector<Picture> pictures = DecodePictures(path(name));
    ASSERT_EQ(pictures.size(), 12u) << name;
    const Sound sound = DecodeSound(path(name));
    const bool copied = std::string(name) == "cut.mov";
    EXPECT_NEAR(sound.onset(0.3f) - pictures[6].seconds, BurstAfterFrame12(), copied ? 0.5 / 48000 : 0.003) << name;
    if (copied)
      EXPECT_EQ(sound.samples.size(), 24024u);  // 12 frames at 48 kHz, exactly
    else
      EXPECT_NEAR(sound.seconds(), 12 * kFrame, kFrame) << name;
  }
}

TEST_F(ReviewCopies, AudioIsCopiedEncodedOrLeftOutAsAsked) {
  const struct {
    const char* name;
    const char* audio;
    std::vector<AVCodecID> codecs;
    bool noted;
  } cases[] = {
      {"copy.mkv", "auto", {AV_CODEC_ID_PCM_S24LE, AV_CODEC_ID_PCM_S16LE}, false},
      {"encode.mov", "encode", {AV_CODEC_ID_PCM_S24LE, AV_CODEC_ID_PCM_S16LE}, true},
      {"none.mp4", "none", {}, false},
  };
  for (const auto& c : cases) {
    const CommandResult r =
        renderOk({clip("cam.mov"), path(c.name), "--audio", c.audio, "--fit", "320x180", "--codec", "h264"});
    EXPECT_EQ(Lines(r.err), c.noted ? 1 : 0) << c.name << ": " << r.err;
    std::vector<AVCodecID> codecs;
    for (const StreamFacts& s : ReadFacts(path(c.name)).streams)
      if (s.type == AVMEDIA_TYPE_AUDIO) codecs.push_back(s.codec);
    EXPECT_EQ(codecs, c.codecs) << c.name;
  }
}

// What a container holds is its muxer's call: FFV1 goes into QuickTime,
// Matroska carries the timecode both ways, MXF is OP1a and takes ProRes.
TEST_F(ReviewCopies, ContainersTakeWhatTheirMuxersTake) {
  renderOk({clip("ffv1.mov"), path("same.mov"), "GuideCrosshair=on"});
  EXPECT_EQ(ReadFacts(path("same.mov")).codec, AV_CODEC_ID_FFV1);  // no --codec: the source's own
  renderOk({path("same.mov"), path("tc.mkv")});
  EXPECT_EQ(ReadFacts(path("tc.mkv")).timecode, "02:00:00:00");
  renderOk({path("tc.mkv"), path("back.mov"), "-f", "2-5", "--codec", "prores_lt"});
  EXPECT_EQ(ReadFacts(path("back.mov")).timecode, "02:00:00:02");
  for (const char* codec : {"dnxhr_hq", "prores_hq"}) {
    const std::string name = std::string(codec) + ".mxf";
    renderOk({clip("ffv1.mov"), path(name), "--codec", codec});
    const MovieFacts facts = ReadFacts(path(name));
    EXPECT_EQ(facts.videoPackets, 6) << codec;
    EXPECT_EQ(facts.operationalPattern, kOp1a) << codec;
  }
}

// Sequences are fitted on their way into a movie, movie frames on their
// way out to pictures.
TEST_F(ReviewCopies, SequencesAreFittedIntoMoviesAndMoviesIntoStills) {
  Ffmpeg("-f lavfi -i testsrc2=size=192x108 -frames:v 3 -start_number 1 " + path("f.%d.png"));
  renderOk({path("f.#.png"), path("seq.mkv"), "--fit", "96x96", "GuideThirds=on"});
  const MovieFacts facts = ReadFacts(path("seq.mkv"));
  EXPECT_EQ(facts.videoPackets, 3);
  EXPECT_EQ(facts.width, 96);
  EXPECT_EQ(facts.height, 54);
  renderOk({clip("ffv1.mov"), path("still.#.png"), "-f", "4-5", "--fit", "128x128"});
  for (const char* still : {"still.4.png", "still.5.png"}) {
    auto in = OIIO::ImageInput::open(path(still));
    ASSERT_TRUE(in) << still;
    EXPECT_EQ(in->spec().width, 128);
    EXPECT_EQ(in->spec().height, 72);
  }
}

// Movie to movie in the same samples: what the plug-in leaves alone is
// written as it was decoded, bit for bit, even where 8-bit RGB could not
// hold the YUV values.
TEST_F(ReviewCopies, UntouchedPicturesKeepTheSourcesOwnSamples) {
  renderOk({clip("h264.mkv"), path("off.mkv"), "--codec", "ffv1"});
  renderOk({clip("h264.mkv"), path("thirds.mkv"), "--codec", "ffv1", "GuideThirds=on"});
  const std::vector<Picture> source = DecodePictures(clip("h264.mkv"));
  const std::vector<Picture> off = DecodePictures(path("off.mkv")), thirds = DecodePictures(path("thirds.mkv"));
  ASSERT_EQ(off.size(), source.size());
  ASSERT_EQ(thirds.size(), source.size());
  for (std::size_t f = 0; f < source.size(); ++f) {
    ASSERT_EQ(off[f].format, AV_PIX_FMT_YUV420P);
    EXPECT_TRUE(off[f].bytes == source[f].bytes) << "frame " << f;
    // The top-left 64x64 lies 100 pixels from every thirds line.
    std::size_t differences = 0;
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) differences += thirds[f].bytes[y * 640 + x] != source[f].bytes[y * 640 + x];
    EXPECT_EQ(differences, 0u) << "frame " << f;
    EXPECT_FALSE(thirds[f].bytes == source[f].bytes);
  }
}

}  // namespace
}  // namespace lenstrove::cli
