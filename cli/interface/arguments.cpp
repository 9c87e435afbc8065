#include "interface/arguments.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>

#include "interface/text.h"

namespace lenstrove::cli {
namespace {

// One option of a subcommand: its spellings and what to do with its value
// (an empty string for options without one).
struct OptionRule {
  std::string shortName;  // "-j", or empty
  std::string longName;   // "--jobs"
  bool takesValue;
  std::function<void(const std::string&)> apply;
};

struct ScannedWords {
  std::vector<std::string> positionals;
};

const OptionRule* FindRule(const std::vector<OptionRule>& rules, const std::string& name) {
  for (const OptionRule& rule : rules)
    if (name == rule.longName || (!rule.shortName.empty() && name == rule.shortName)) return &rule;
  return nullptr;
}

bool LooksLikeOption(const std::string& word) {
  // "-" alone names standard input in many tools, and "-5" is a number.
  return word.size() > 1 && word[0] == '-' && !std::isdigit(static_cast<unsigned char>(word[1]));
}

// Options may come anywhere among the positional words; "--" ends them.
ScannedWords ScanWords(const std::string& command, const std::vector<std::string>& words,
                       const std::vector<OptionRule>& rules) {
  ScannedWords scanned;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded || !LooksLikeOption(word)) {
      scanned.positionals.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = word.find('=');
    const bool inlineValue = word.rfind("--", 0) == 0 && equals != std::string::npos;
    const std::string name = inlineValue ? word.substr(0, equals) : word;
    const OptionRule* rule = FindRule(rules, name);
    if (rule == nullptr) throw UsageError("unknown option '" + name + "' for '" + command + "'");
    if (!rule->takesValue) {
      if (inlineValue) throw UsageError("option '" + name + "' takes no value");
      rule->apply("");
      continue;
    }
    if (inlineValue) {
      rule->apply(word.substr(equals + 1));
    } else {
      if (i + 1 >= words.size()) throw UsageError("option '" + name + "' needs a value");
      rule->apply(words[++i]);
    }
  }
  return scanned;
}

int ParseCount(const std::string& option, const std::string& text, int minimum) {
  const std::optional<long> value = ParseInteger(text);
  if (!value || *value < minimum || *value > 1'000'000)
    throw UsageError("option '" + option + "' needs a whole number of at least " + std::to_string(minimum) +
                     ", not '" + text + "'");
  return static_cast<int>(*value);
}

// NAME or NAME:LEVEL, the way image formats spell a compression ("zip",
// "dwaa:45"); which names a format knows is its writer's business.
std::string ParseCompression(const std::string& text) {
  const std::size_t colon = text.find(':');
  const std::string name = text.substr(0, colon);
  const bool nameOk = !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char ch) {
    return std::isalnum(ch) || ch == '_' || ch == '-';
  });
  const bool levelOk = colon == std::string::npos || ParseInteger(text.substr(colon + 1)).has_value();
  if (!nameOk || !levelOk) throw UsageError("compression '" + text + "' is not NAME or NAME:LEVEL (zip, dwaa:45, ...)");
  return text;
}

OptionRule PluginOption(std::string& target) {
  return {"-p", "--plugin", true, [&target](const std::string& v) { target = v; }};
}
OptionRule QuietOption(bool& target) {
  return {"-q", "--quiet", false, [&target](const std::string&) { target = true; }};
}
OptionRule JobsOption(int& target) {
  return {"-j", "--jobs", true, [&target](const std::string& v) { target = ParseCount("--jobs", v, 1); }};
}

void ExpectAtMost(const std::string& command, const ScannedWords& scanned, std::size_t count) {
  if (scanned.positionals.size() > count)
    throw UsageError("unexpected argument '" + scanned.positionals[count] + "' for '" + command + "'");
}

ListCommand ParseList(const std::vector<std::string>& words) {
  ExpectAtMost("list", ScanWords("list", words, {}), 0);
  return {};
}

DescribeCommand ParseDescribe(const std::vector<std::string>& words) {
  DescribeCommand command;
  const ScannedWords scanned = ScanWords("describe", words, {PluginOption(command.plugin)});
  ExpectAtMost("describe", scanned, 1);
  if (!scanned.positionals.empty()) command.plugin = scanned.positionals[0];
  return command;
}

std::vector<OptionRule> RenderRules(RenderCommand& c) {
  return {
      PluginOption(c.plugin),
      QuietOption(c.quiet),
      JobsOption(c.jobs),
      {"-f", "--frames", true, [&c](const std::string& v) { c.frames = ParseFrameRange(v); }},
      {"", "--time", true,
       [&c](const std::string& v) {
         const std::optional<double> time = ParseDouble(v);
         if (!time) throw UsageError("option '--time' needs a number, not '" + v + "'");
         c.singleImageTime = *time;
       }},
      {"-d", "--depth", true, [&c](const std::string& v) { c.depth = ParseDepth(v); }},
      {"-t", "--tiles", true, [&c](const std::string& v) { c.tiles = ParseCount("--tiles", v, 1); }},
      {"", "--max-pixels", true,
       [&c](const std::string& v) {
         const std::optional<long> limit = ParseInteger(v);
         if (!limit || *limit < 1) throw UsageError("option '--max-pixels' needs a positive number, not '" + v + "'");
         c.pixelLimit = *limit;
       }},
      {"", "--part", true,
       [&c](const std::string& v) {
         if (v.empty()) throw UsageError("option '--part' needs a part name");
         c.part = v;
       }},
      {"", "--compression", true, [&c](const std::string& v) { c.compression = ParseCompression(v); }},
      {"", "--chunk", true, [&c](const std::string& v) { c.chunk = ParseChunk(v); }},
      {"", "--skip-existing", false, [&c](const std::string&) { c.skipExisting = true; }},
      {"", "--codec", true, [&c](const std::string& v) { c.movie.codec = v; }},
      {"", "--quality", true,
       [&c](const std::string& v) {
         const std::optional<double> q = ParseDouble(v);
         if (!q || *q < 0) throw UsageError("option '--quality' needs a number of at least 0, not '" + v + "'");
         c.movie.quality = *q;
       }},
      {"", "--bitrate", true, [&c](const std::string& v) { c.movie.bitrate = ParseBitrate(v); }},
      {"", "--fps", true, [&c](const std::string& v) { c.movie.fps = ParseFrameRate(v); }},
      {"", "--colorspace", true, [&c](const std::string& v) { c.colour.inputSpace = v; }},
      {"", "--display", true, [&c](const std::string& v) { c.colour.display = v; }},
      {"", "--view", true, [&c](const std::string& v) { c.colour.view = v; }},
      {"", "--to", true, [&c](const std::string& v) { c.colour.outputSpace = v; }},
      {"", "--audio", true, [&c](const std::string& v) { c.movie.audio = ParseAudioChoice(v); }},
      {"", "--fit", true, [&c](const std::string& v) { c.fit = ParsePictureSize(v); }},
  };
}

RenderCommand ParseRender(const std::vector<std::string>& words) {
  RenderCommand command;
  const ScannedWords scanned = ScanWords("render", words, RenderRules(command));
  const std::vector<std::string>& p = scanned.positionals;
  if (p.size() < 2) throw UsageError("'render' needs an input and an output file (see 'lenstrove help render')");
  command.input = p[0];
  command.output = p[1];
  for (std::size_t i = 2; i < p.size(); ++i) command.settings.push_back(ParseParameterSetting(p[i]));
  return command;
}

bool IsOneWord(const std::string& text) {
  return !text.empty() &&
         std::none_of(text.begin(), text.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

// The value goes into a line of the job script, so it must stay one word.
OptionRule WordOption(const char* name, std::string& target) {
  return {"", name, true, [name, &target](const std::string& v) {
            if (!IsOneWord(v)) throw UsageError(std::string("option '") + name + "' needs one word, not '" + v + "'");
            target = v;
          }};
}

std::vector<OptionRule> SubmitRules(SubmitCommand& c) {
  return {
      {"", "--chunk-size", true, [&c](const std::string& v) { c.chunkSize = ParseCount("--chunk-size", v, 1); }},
      WordOption("--partition", c.partition),
      WordOption("--time", c.timeLimit),
      WordOption("--mem", c.memory),
      {"", "--cpus-per-task", true,
       [&c](const std::string& v) { c.cpusPerTask = ParseCount("--cpus-per-task", v, 1); }},
      WordOption("--job-name", c.jobName),
      WordOption("--logs", c.logFolder),
      {"-n", "--dry-run", false, [&c](const std::string&) { c.dryRun = true; }},
  };
}

// submit MANAGER [OPTIONS] -- render ARGS: everything after the "--" is a
// render command line, checked here so a typo fails before it reaches the
// farm.
SubmitCommand ParseSubmit(const std::vector<std::string>& words) {
  const auto separator = std::find(words.begin(), words.end(), "--");
  if (separator == words.end() || separator + 1 == words.end() || *(separator + 1) != "render")
    throw UsageError("'submit' needs the render command after '--' (see 'lenstrove help submit')");
  SubmitCommand c;
  const ScannedWords scanned = ScanWords("submit", std::vector<std::string>(words.begin(), separator), SubmitRules(c));
  if (scanned.positionals.empty() || scanned.positionals[0] != "slurm")
    throw UsageError("'submit' knows the farm manager 'slurm' only");
  ExpectAtMost("submit", scanned, 1);
  c.manager = scanned.positionals[0];
  c.renderWords.assign(separator + 2, words.end());
  c.render = ParseRender(c.renderWords);
  if (c.render.chunk) throw UsageError("'submit' chooses each task's --chunk itself");
  return c;
}

DemoCommand ParseDemo(const std::vector<std::string>& words) {
  DemoCommand command;
  const ScannedWords scanned =
      ScanWords("demo", words,
                {PluginOption(command.plugin), QuietOption(command.quiet), JobsOption(command.jobs),
                 {"", "--data", true, [&command](const std::string& v) { command.dataFolder = v; }}});
  ExpectAtMost("demo", scanned, 1);
  if (!scanned.positionals.empty()) command.folder = scanned.positionals[0];
  return command;
}

HelpCommand ParseHelp(const std::vector<std::string>& words) {
  HelpCommand command;
  if (!words.empty()) command.topic = words[0];
  return command;
}

}  // namespace

ParameterSetting ParseParameterSetting(const std::string& word) {
  const std::size_t equals = word.find('=');
  if (equals == std::string::npos)
    throw UsageError("unexpected argument '" + word + "': parameters are set as NAME=VALUE or NAME@TIME=VALUE");
  ParameterSetting setting;
  setting.name = word.substr(0, equals);
  setting.value = word.substr(equals + 1);
  // The last '@' before the '=' starts a key's time.
  const std::size_t at = setting.name.rfind('@');
  if (at != std::string::npos) {
    setting.time = ParseDouble(setting.name.substr(at + 1));
    if (!setting.time)
      throw UsageError("'" + word + "': the time after '@' must be a number (NAME@TIME=VALUE)");
    setting.name.resize(at);
  }
  if (setting.name.empty()) throw UsageError("'" + word + "' names no parameter");
  return setting;
}

FrameRange ParseFrameRange(const std::string& fullText) {
  // An x after the last frame gives the step: 1001-1100x2.
  const std::size_t x = fullText.find('x');
  const std::string text = fullText.substr(0, x);
  long step = 1;
  if (x != std::string::npos) {
    const std::optional<long> parsed = ParseInteger(fullText.substr(x + 1));
    if (!parsed || *parsed < 1) throw UsageError("frame range '" + fullText + "' needs a positive step after the x");
    step = *parsed;
  }
  // The dash that separates the ends is the first one after a digit, so
  // negative frame numbers ("-5--1") still parse.
  std::size_t dash = std::string::npos;
  for (std::size_t i = 1; i < text.size(); ++i)
    if (text[i] == '-' && std::isdigit(static_cast<unsigned char>(text[i - 1]))) {
      dash = i;
      break;
    }
  const std::optional<long> first = ParseInteger(text.substr(0, dash));
  const std::optional<long> last = dash == std::string::npos ? first : ParseInteger(text.substr(dash + 1));
  if (!first || !last)
    throw UsageError("frame range '" + fullText + "' is not FIRST-LAST, FIRST-LASTxSTEP or a single frame");
  if (*last < *first) throw UsageError("frame range '" + fullText + "' ends before it starts");
  return {*first, *last, step};
}

ChunkChoice ParseChunk(const std::string& text) {
  if (text == "auto") return ChunkChoice{true, 1, 1};
  const std::size_t slash = text.find('/');
  const std::optional<long> index = ParseInteger(text.substr(0, slash));
  const std::optional<long> count = slash == std::string::npos ? std::nullopt : ParseInteger(text.substr(slash + 1));
  if (!index || !count || *count < 1 || *count > 1'000'000 || *index < 1 || *index > *count)
    throw UsageError("chunk '" + text + "' is not K/N with 1 <= K <= N, or auto");
  return ChunkChoice{false, static_cast<int>(*index), static_cast<int>(*count)};
}

DepthChoice ParseDepth(const std::string& text) {
  if (text == "auto") return DepthChoice::Auto;
  if (text == "byte" || text == "8") return DepthChoice::Byte;
  if (text == "float" || text == "32") return DepthChoice::Float;
  throw UsageError("depth '" + text + "' is not byte, float or auto");
}

FrameRate ParseFrameRate(const std::string& text) {
  const std::size_t slash = text.find('/');
  if (slash != std::string::npos) {
    const std::optional<long> n = ParseInteger(text.substr(0, slash));
    const std::optional<long> d = ParseInteger(text.substr(slash + 1));
    if (n && d && *n > 0 && *d > 0 && *n <= 1'000'000 && *d <= 1'000'000)
      return {static_cast<int>(*n), static_cast<int>(*d)};
  } else if (const std::optional<double> rate = ParseDouble(text); rate && *rate > 0 && *rate <= 1000) {
    for (const double ntsc : {23.976, 29.97, 47.952, 59.94, 119.88})
      if (std::abs(*rate - ntsc) < 0.001) return {static_cast<int>(std::lround(ntsc * 1.001)) * 1000, 1001};
    const long thousandths = std::lround(*rate * 1000);
    return thousandths % 1000 == 0 ? FrameRate{static_cast<int>(thousandths / 1000), 1}
                                   : FrameRate{static_cast<int>(thousandths), 1000};
  }
  throw UsageError("frame rate '" + text + "' is not a number such as 24, 23.976 or 24000/1001");
}

std::int64_t ParseBitrate(const std::string& text) {
  const char unit = text.empty() ? '\0' : static_cast<char>(std::tolower(static_cast<unsigned char>(text.back())));
  const double scale = unit == 'k' ? 1e3 : unit == 'm' ? 1e6 : unit == 'g' ? 1e9 : 1.0;
  const std::optional<double> value = ParseDouble(scale == 1.0 ? text : text.substr(0, text.size() - 1));
  if (!value || *value * scale < 1000 || *value * scale > 1e12)
    throw UsageError("bit rate '" + text + "' is not bits per second such as 50M or 800k");
  return static_cast<std::int64_t>(*value * scale);
}

AudioChoice ParseAudioChoice(const std::string& text) {
  if (text == "auto") return AudioChoice::Auto;
  if (text == "copy") return AudioChoice::Copy;
  if (text == "encode") return AudioChoice::Encode;
  if (text == "none") return AudioChoice::None;
  throw UsageError("option '--audio' takes copy, encode or none, not '" + text + "'");
}

PictureSize ParsePictureSize(const std::string& text) {
  const std::size_t x = text.find('x');
  const std::string width = text.substr(0, x), height = x == std::string::npos ? "" : text.substr(x + 1);
  const auto digits = [](const std::string& word) {
    return !word.empty() && word.size() <= 9 &&
           std::all_of(word.begin(), word.end(), [](unsigned char c) { return std::isdigit(c); });
  };
  if (!digits(width) || !digits(height))
    throw UsageError("option '--fit' needs a size WxH such as 1280x720, not '" + text + "'");
  return {std::stoll(width), std::stoll(height)};
}

Command ParseCommandLine(const std::vector<std::string>& words) {
  if (words.empty()) return HelpCommand{};
  const std::string& first = words[0];
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  const bool wantsHelp = std::find_if(rest.begin(), rest.end(), [](const std::string& w) {
                           return w == "-h" || w == "--help";
                         }) != rest.end();
  if (first == "-h" || first == "--help" || first == "help") return first == "help" ? ParseHelp(rest) : HelpCommand{};
  if (first == "-V" || first == "--version") return VersionCommand{};
  if (wantsHelp) return HelpCommand{first};
  if (first == "list") return ParseList(rest);
  if (first == "describe") return ParseDescribe(rest);
  if (first == "render") return ParseRender(rest);
  if (first == "demo") return ParseDemo(rest);
  if (first == "submit") return ParseSubmit(rest);
  throw UsageError("unknown command '" + first + "' (commands: list, describe, render, submit, demo, help)");
}

}  // namespace lenstrove::cli
