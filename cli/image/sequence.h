#pragma once

// Numbered sequences: a file name with a frame-number field, written as #
// signs (one per digit: shot.####.exr) or as a printf field (shot.%04d.exr),
// expanded into one file name per frame.

#include <optional>
#include <string>
#include <vector>

#include "interface/arguments.h"

namespace lenstrove::cli {

struct FramePattern {
  std::string prefix;  // everything before the field, folder included
  std::string suffix;  // everything after it
  int digits = 0;      // zero-padded width; 0 for a plain file name
  bool isSequence() const { return digits > 0; }
};

// The field is looked for in the file-name part only, so a folder called
// "take#2" is left alone. A name without a field is a plain file.
FramePattern ParseFramePattern(const std::string& path);

// The file of one frame: negative frames carry a minus before the padded
// digits (shot.-0005.exr), as sequence tools write them.
std::string FramePath(const FramePattern& pattern, long frame);

// The frame numbers whose files exist, in increasing order.
std::vector<long> FramesOnDisk(const FramePattern& pattern);

// One file to render: where it comes from, where it goes and at what time.
struct FrameTask {
  std::string input;
  std::string output;
  double time;
};

// Every frame of a render, checked before any is started: the input files
// exist, and the names agree on whether this is a sequence. A still input
// with a sequence output renders the same picture at each frame's time,
// which shows keyframes at work. Throws std::runtime_error naming the fault.
std::vector<FrameTask> PlanFrames(const RenderCommand& command);

}  // namespace lenstrove::cli
