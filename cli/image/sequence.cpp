#include "image/sequence.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace lenstrove::cli {
namespace fs = std::filesystem;
namespace {

// The most frames a range may name: a typo such as 1-10000000 should be
// refused at once, not after filling a disk.
constexpr long kMaxFrames = 1'000'000;

std::size_t FileNameStart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

std::optional<FramePattern> HashPattern(const std::string& path, std::size_t nameStart) {
  const std::size_t last = path.find_last_of('#');
  if (last == std::string::npos || last < nameStart) return std::nullopt;
  std::size_t first = last;
  while (first > nameStart && path[first - 1] == '#') --first;
  return FramePattern{path.substr(0, first), path.substr(last + 1), static_cast<int>(last - first + 1)};
}

// %d or %0Nd; anything else after a % is left as text.
std::optional<FramePattern> PrintfPattern(const std::string& path, std::size_t nameStart) {
  for (std::size_t at = path.find('%', nameStart); at != std::string::npos; at = path.find('%', at + 1)) {
    std::size_t i = at + 1;
    int width = 0;
    if (i < path.size() && path[i] == '0') {
      ++i;
      while (i < path.size() && std::isdigit(static_cast<unsigned char>(path[i])) && width < 100)
        width = width * 10 + (path[i++] - '0');
    }
    if (i < path.size() && path[i] == 'd')
      return FramePattern{path.substr(0, at), path.substr(i + 1), std::max(width, 1)};
  }
  return std::nullopt;
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

std::vector<long> FramesInRange(const FrameRange& range) {
  const long step = std::max(1L, range.step);
  if ((range.last - range.first) / step >= kMaxFrames)
    throw std::runtime_error("frame range " + std::to_string(range.first) + "-" + std::to_string(range.last) +
                             " has more than " + std::to_string(kMaxFrames) + " frames");
  std::vector<long> frames;
  // Counted rather than stepped to the end, so the last step cannot overflow.
  for (long i = 0; i <= (range.last - range.first) / step; ++i) frames.push_back(range.first + i * step);
  return frames;
}

std::vector<long> SequenceFrames(const RenderCommand& command, const FramePattern& input) {
  if (command.frames) return FramesInRange(*command.frames);
  std::vector<long> frames = FramesOnDisk(input);
  if (frames.empty()) throw std::runtime_error("no frames of input sequence '" + command.input + "' found");
  return frames;
}

void CheckInputExists(const std::string& path) {
  if (!FileExists(path)) throw std::runtime_error("input file '" + path + "' does not exist");
}

}  // namespace

FramePattern ParseFramePattern(const std::string& path) {
  const std::size_t nameStart = FileNameStart(path);
  if (std::optional<FramePattern> hashes = HashPattern(path, nameStart)) return *hashes;
  if (std::optional<FramePattern> printf = PrintfPattern(path, nameStart)) return *printf;
  return FramePattern{path, "", 0};
}

std::string FramePath(const FramePattern& pattern, long frame) {
  if (!pattern.isSequence()) return pattern.prefix;
  // Through unsigned so that the most negative frame has a magnitude too.
  const unsigned long magnitude = frame < 0 ? 0ul - static_cast<unsigned long>(frame) : static_cast<unsigned long>(frame);
  std::string digits = std::to_string(magnitude);
  if (digits.size() < static_cast<std::size_t>(pattern.digits))
    digits.insert(0, static_cast<std::size_t>(pattern.digits) - digits.size(), '0');
  return pattern.prefix + (frame < 0 ? "-" : "") + digits + pattern.suffix;
}

std::vector<long> FramesOnDisk(const FramePattern& pattern) {
  std::vector<long> frames;
  const std::size_t nameStart = FileNameStart(pattern.prefix);
  const std::string folder = nameStart == 0 ? "." : pattern.prefix.substr(0, nameStart);
  const std::string namePrefix = pattern.prefix.substr(nameStart);
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() <= namePrefix.size() + pattern.suffix.size()) continue;
    if (name.compare(0, namePrefix.size(), namePrefix) != 0) continue;
    if (name.compare(name.size() - pattern.suffix.size(), pattern.suffix.size(), pattern.suffix) != 0) continue;
    const std::string field = name.substr(namePrefix.size(), name.size() - namePrefix.size() - pattern.suffix.size());
    char* end = nullptr;
    const long frame = std::strtol(field.c_str(), &end, 10);
    // Written back, the number must give the same name: this rejects
    // shot.12.exr for shot.####.exr and any name with other text in it.
    if (*end != '\0' || FramePath(pattern, frame) != pattern.prefix + field + pattern.suffix) continue;
    if (entry.is_regular_file(error)) frames.push_back(frame);
  }
  std::sort(frames.begin(), frames.end());
  return frames;
}

std::vector<FrameTask> PlanFrames(const RenderCommand& command) {
  const FramePattern input = ParseFramePattern(command.input);
  const FramePattern output = ParseFramePattern(command.output);
  if (input.isSequence() && !output.isSequence())
    throw std::runtime_error("output '" + command.output +
                             "' needs a frame-number field (#### or %04d) for the sequence '" + command.input + "'");
  if (!output.isSequence()) {
    if (command.frames) throw std::runtime_error("--frames needs a sequence output name with #### or %04d in it");
    CheckInputExists(command.input);
    return {FrameTask{command.input, command.output, command.singleImageTime}};
  }
  if (!input.isSequence() && !command.frames)
    throw std::runtime_error("a still input rendered to the sequence '" + command.output + "' needs --frames");

  std::vector<FrameTask> tasks;
  for (long frame : input.isSequence() ? SequenceFrames(command, input) : FramesInRange(*command.frames)) {
    FrameTask task{FramePath(input, frame), FramePath(output, frame), static_cast<double>(frame)};
    CheckInputExists(task.input);
    tasks.push_back(std::move(task));
  }
  return tasks;
}

}  // namespace lenstrove::cli
