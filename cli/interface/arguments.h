#pragma once

// The command line, parsed into one plain record per subcommand. Parsing
// checks only the shape of the words; whether a parameter exists or a value
// suits it is decided later, against the plug-in's own description.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace lenstrove::cli {

// A command line the program cannot make sense of; the message says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kDefaultPluginIdentifier = "com.Qel.Lenstrove.V111";
// A frame of this many pixels already needs 1.6 GB as float RGBA; a header
// that claims more is far more likely broken or hostile than real.
inline constexpr std::int64_t kDefaultPixelLimit = 100'000'000;

enum class DepthChoice { Auto, Byte, Float };

// NAME=VALUE, or NAME@TIME=VALUE for a key at TIME, as typed. VALUE stays
// text until the parameter's type is known: a string may hold ':' and ','
// where a double's T:V,T:V would be keyframes.
struct ParameterSetting {
  std::string name;
  std::string value;
  std::optional<double> time;  // set for NAME@TIME=VALUE
  bool isKey() const { return time.has_value(); }
};

// FIRST-LAST, or FIRST-LASTxSTEP for every STEP-th frame from FIRST.
struct FrameRange {
  long first;
  long last;
  long step = 1;
};

// Which share of the frames one farm task renders: the K-th of N contiguous
// chunks, or K and N read from a Slurm array job's environment.
struct ChunkChoice {
  bool fromEnvironment = false;
  int index = 1;  // K, counted from 1
  int count = 1;  // N
};

// A frame rate as a fraction: 24000/1001 for 23.976.
struct FrameRate {
  int numerator;
  int denominator;
};

// What becomes of a source movie's audio streams in an output movie: Auto
// copies what the container can hold untouched and encodes the rest to
// the container's usual codec; Copy refuses what it cannot copy; Encode
// encodes every stream; None leaves the audio out.
enum class AudioChoice { Auto, Copy, Encode, None };

// How a movie output is encoded, and how fast an image sequence plays when
// it becomes a movie.
struct MovieOptions {
  std::string codec;  // empty: the input's codec or the container's usual one
  std::optional<double> quality;
  std::optional<std::int64_t> bitrate;  // bits per second
  std::optional<FrameRate> fps;
  AudioChoice audio = AudioChoice::Auto;
};

// A picture size in pixels, as --fit WxH gives the box to fit into.
struct PictureSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
};

// Colour management: off unless an input colour space is named.
struct ColourOptions {
  std::string inputSpace;  // --colorspace
  std::string display;     // --display
  std::string view;        // --view
  std::string outputSpace; // --to
  bool enabled() const { return !inputSpace.empty(); }
};

struct ListCommand {};

struct DescribeCommand {
  std::string plugin = kDefaultPluginIdentifier;
};

struct RenderCommand {
  std::string plugin = kDefaultPluginIdentifier;
  std::string input;
  std::string output;
  std::vector<ParameterSetting> settings;
  std::optional<FrameRange> frames;
  double singleImageTime = 0.0;
  DepthChoice depth = DepthChoice::Auto;
  int tiles = 1;
  int jobs = 0;  // 0: one per processor core
  bool quiet = false;
  std::int64_t pixelLimit = kDefaultPixelLimit;
  std::string part;         // --part: the part of a multi-part file to render
  std::string compression;  // --compression: NAME or NAME:LEVEL for the output
  std::optional<ChunkChoice> chunk;
  bool skipExisting = false;  // resume: frames whose output exists are done
  MovieOptions movie;
  ColourOptions colour;
  // --fit: the picture is scaled to fit inside this box before the
  // plug-in sees it. Whether the box is usable (not empty, within
  // --max-pixels) is checked when the render starts.
  std::optional<PictureSize> fit;
};

// Hands a render to a farm manager as one task per chunk of frames.
struct SubmitCommand {
  std::string manager;  // "slurm"
  int chunkSize = 10;   // frames per task, at most
  std::string partition, timeLimit, memory, jobName = "lenstrove", logFolder = "lenstrove-logs";
  int cpusPerTask = 0;  // 0: the manager's default
  bool dryRun = false;
  RenderCommand render;                  // the render words, parsed
  std::vector<std::string> renderWords;  // and as typed, after "render"
};

struct DemoCommand {
  std::string folder = "lenstrove-demo";
  std::string plugin = kDefaultPluginIdentifier;
  std::string dataFolder;  // empty: the installed or source-tree samples
  int jobs = 0;
  bool quiet = false;
};

struct HelpCommand {
  std::string topic;  // empty: the overview
};

struct VersionCommand {};

using Command =
    std::variant<ListCommand, DescribeCommand, RenderCommand, DemoCommand, HelpCommand, VersionCommand,
                 SubmitCommand>;

// argv without the program name. Throws UsageError.
Command ParseCommandLine(const std::vector<std::string>& words);

// Pieces of the parser, reachable for tests.
ParameterSetting ParseParameterSetting(const std::string& word);
FrameRange ParseFrameRange(const std::string& text);
DepthChoice ParseDepth(const std::string& text);
ChunkChoice ParseChunk(const std::string& text);
// "24", "23.976", "24000/1001"; 23.976, 29.97 and 59.94 mean the NTSC
// fractions.
FrameRate ParseFrameRate(const std::string& text);
// "50000000", "50M", "800k".
std::int64_t ParseBitrate(const std::string& text);
// "copy", "encode", "none" (or "auto").
AudioChoice ParseAudioChoice(const std::string& text);
// "1280x720": two whole numbers of pixels, zero allowed here.
PictureSize ParsePictureSize(const std::string& text);

// The help text for a subcommand, or the overview for an empty or unknown
// topic.
std::string HelpText(const std::string& topic);

}  // namespace lenstrove::cli
