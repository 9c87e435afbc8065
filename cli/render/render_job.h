#pragma once

// Rendering a list of frames: each worker thread owns one plug-in instance
// (the plug-in's default thread safety allows one render per instance at a
// time) and takes the next frame until none is left or one has failed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "color/colour_pipeline.h"
#include "image/image_file.h"
#include "image/image_parts.h"
#include "image/sequence.h"
#include "interface/arguments.h"
#include "interface/progress.h"
#include "render/parameter_values.h"
#include "render/plugin_session.h"

namespace lenstrove::cli {

struct RenderPlan {
  std::vector<FrameTask> tasks;
  // Where other frames of an input sequence are, for plug-ins that fetch
  // their source at other times; a plain file has none.
  FramePattern input;
  std::vector<ResolvedSetting> settings;
  DepthChoice depth = DepthChoice::Auto;
  int tiles = 1;
  int jobs = 0;  // 0: one per processor core
  std::int64_t pixelLimit = kDefaultPixelLimit;
  const color::ColourPipeline* colour = nullptr;  // null: pixels pass untouched
  std::string part;         // the part of each input to render; empty: its RGBA part
  std::string compression;  // empty: each input's own
  std::string history;      // the line added to each output's history
  std::optional<PictureSize> fit;  // --fit: each picture scaled into this box first
};

// Renders every task. On the first failure the other workers stop after
// their current frame and the error is thrown; frames already written stay
// (each is complete), the failed one leaves no file.
void RunRenderPlan(LoadedPlugin& plugin, const RenderPlan& plan, ProgressBar& progress);

// The depth to render a file at: the one asked for, or for Auto the file's
// natural depth, falling back to the other one when the plug-in lacks it.
// Throws when the plug-in supports neither the one asked for nor (for Auto)
// any of the two.
PixelDepth ChooseDepth(DepthChoice choice, PixelDepth natural, const PluginDescription& plugin);

// How frames are split into render windows and workers: see
// session/windows.h.
using session::SplitIntoWindows;
using session::WorkerCount;

}  // namespace lenstrove::cli
