#pragma once

// The command's view of an OpenFX plug-in: the host library's render
// session (session/session.h) over the command's RGBA pictures, and where
// the command looks for plug-ins and their scanner.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "render/parameter_values.h"
#include "session/session.h"

namespace lenstrove::cli {

using session::ClipInfo;
using session::PluginDescription;
using session::PluginSummary;
using session::RenderWindow;

// Whether the plug-in renders at the depth the command reads files at.
bool SupportsDepth(const PluginDescription& plugin, PixelDepth depth);

// The folders searched for bundles, in order: OFX_PLUGIN_PATH's entries,
// /usr/OFX/Plugins, then the build tree's bundle folder when the command
// runs from the build tree.
std::vector<std::string> PluginSearchFolders();

// Every plug-in found on the search path. Modules that fail to load are
// reported in `problems` instead of stopping the listing.
std::vector<PluginSummary> ListPlugins(std::vector<std::string>& problems);

// Reads the source picture at another time of what is being rendered, at
// the depth given; null when there is no frame at that time. Called from
// the plug-in's threads.
using FrameReader = std::function<std::shared_ptr<const RgbaImage>(double time, PixelDepth depth)>;

class EffectInstance {
 public:
  virtual ~EffectInstance() = default;
  // Sets every parameter given, telling the plug-in of each change; the
  // rest keep their defaults.
  virtual void applySettings(const std::vector<ResolvedSetting>& settings) = 0;
  // The first and last frame times of the render, for plug-ins that ask.
  virtual void setFrameRange(double /*first*/, double /*last*/) {}
  // Where a plug-in that declares temporal clip access gets other frames.
  virtual void setFrameReader(FrameReader /*reader*/) {}
  // Lets the output follow the plug-in's region of definition where it
  // reaches beyond the source, up to `pixelLimit` pixels in all (a larger
  // region fails the render). Until this is called the output keeps the
  // source's size, as a movie's frames must.
  virtual void setOutputPixelLimit(std::int64_t /*pixelLimit*/) {}
  // Receives the plug-in's own progress through a frame, 0 to 1, from any
  // of its threads.
  virtual void setProgressListener(std::function<void(double)> /*listener*/) {}
  // Renders `source` into `output` (same size, windows and depth) at
  // `time`, one render call per window; see session::Instance::Render.
  // When the plug-in's region of definition reaches beyond the source,
  // `output` may be regrown to cover both and the windows are spread over
  // it (see setOutputPixelLimit). Throws std::runtime_error when the
  // plug-in answers an error or an unusable region.
  virtual void render(const RgbaImage& source, RgbaImage& output, double time,
                      const std::vector<RenderWindow>& windows) = 0;
};

class LoadedPlugin {
 public:
  virtual ~LoadedPlugin() = default;
  virtual const PluginDescription& description() const = 0;
  // A filter-context instance. Instances of one plug-in may render at the
  // same time on different threads; one instance renders one call at a time.
  virtual std::unique_ptr<EffectInstance> createInstance() = 0;
};

// `which` is an identifier (looked up on the search path), a .ofx file or a
// .ofx.bundle folder. Throws std::runtime_error for an unknown plug-in or a
// module that does not load or describe itself.
std::unique_ptr<LoadedPlugin> OpenPlugin(const std::string& which);

// The command's picture as the session reads and writes it: the same
// pixels, top row first.
session::Picture PictureOf(const RgbaImage& image);

}  // namespace lenstrove::cli
