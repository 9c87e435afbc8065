#include "render/plugin_session.h"

#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

namespace lenstrove::cli {
namespace fs = std::filesystem;
namespace {

bool RunningFromBuildTree() {
#ifdef LENSTROVE_BUILD_PROGRAM_DIR
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return !error && fs::equivalent(self.parent_path(), LENSTROVE_BUILD_PROGRAM_DIR, error);
#else
  return false;
#endif
}

// The session's defaults, with the build tree's bundle and scanner first
// when the command runs from the build tree, and messages that name the
// command.
session::SearchOptions CommandSearchOptions() {
  session::SearchOptions options = session::DefaultSearchOptions();
  options.folders = PluginSearchFolders();
  options.scanners = session::ScannerCandidates();
#ifdef LENSTROVE_BUILD_SCANNER
  if (RunningFromBuildTree()) options.scanners.insert(options.scanners.begin(), LENSTROVE_BUILD_SCANNER);
#endif
  options.self = "this command";
  options.listHint = " (see 'lenstrove list')";
  return options;
}

// The output grown to the data window the render covers, blank; its
// display window stays.
void Regrow(RgbaImage& output, const session::PixelRect& window) {
  RgbaImage grown(window.width, window.height, output.depth);
  grown.display = output.display;
  grown.alphaMode = output.alphaMode;
  grown.x = window.x;
  grown.y = window.y;
  output = std::move(grown);
}

class SessionInstance : public EffectInstance {
 public:
  explicit SessionInstance(session::Instance instance) : instance_(std::move(instance)) {}

  void applySettings(const std::vector<ResolvedSetting>& settings) override { instance_.Apply(settings); }
  void setFrameRange(double first, double last) override { instance_.SetFrameRange(first, last); }
  void setOutputPixelLimit(std::int64_t pixelLimit) override { instance_.AllowGrowth(pixelLimit, "--max-pixels"); }
  void setProgressListener(std::function<void(double)> listener) override {
    instance_.SetProgressListener(std::move(listener));
  }

  void setFrameReader(FrameReader reader) override {
    instance_.SetFrameSource([reader = std::move(reader)](double time, session::SampleType sample) {
      const PixelDepth depth = sample == session::SampleType::Byte ? PixelDepth::Byte : PixelDepth::Float;
      std::shared_ptr<const RgbaImage> picture = reader(time, depth);
      if (!picture) return std::optional<session::HeldPicture>();
      return std::optional<session::HeldPicture>({PictureOf(*picture), picture});
    });
  }

  void render(const RgbaImage& source, RgbaImage& output, double time,
              const std::vector<RenderWindow>& windows) override {
    const session::OutputMaker into = [&output](const session::PixelRect& window) {
      if (window.x != output.x || window.y != output.y || window.width != output.width ||
          window.height != output.height)
        Regrow(output, window);
      return PictureOf(output);
    };
    instance_.Render(PictureOf(source), into, time, windows);
  }

 private:
  session::Instance instance_;
};

class SessionPlugin : public LoadedPlugin {
 public:
  explicit SessionPlugin(const std::string& which) : plugin_(which, CommandSearchOptions()) {}
  const PluginDescription& description() const override { return plugin_.Description(); }
  std::unique_ptr<EffectInstance> createInstance() override {
    return std::make_unique<SessionInstance>(plugin_.NewInstance());
  }

 private:
  session::Plugin plugin_;
};

}  // namespace

bool SupportsDepth(const PluginDescription& plugin, PixelDepth depth) {
  return plugin.SupportsDepth(depth == PixelDepth::Byte ? "byte" : "float");
}

std::vector<std::string> PluginSearchFolders() {
  std::vector<std::string> folders = session::DefaultSearchOptions().folders;
#ifdef LENSTROVE_BUILD_BUNDLE_PARENT
  // From the build tree, its fresh bundle comes before an installed one.
  if (RunningFromBuildTree()) {
    // The host library lists /usr/OFX/Plugins last.
    const std::size_t insertAt = folders.empty() ? 0 : folders.size() - 1;
    folders.insert(folders.begin() + static_cast<long>(insertAt), LENSTROVE_BUILD_BUNDLE_PARENT);
  }
#endif
  return folders;
}

std::vector<PluginSummary> ListPlugins(std::vector<std::string>& problems) {
  return session::ListPlugins(CommandSearchOptions(), problems);
}

std::unique_ptr<LoadedPlugin> OpenPlugin(const std::string& which) { return std::make_unique<SessionPlugin>(which); }

session::Picture PictureOf(const RgbaImage& image) {
  session::Picture picture;
  picture.data = const_cast<unsigned char*>(image.pixels.data());
  picture.width = image.width;
  picture.height = image.height;
  picture.channels = 4;
  picture.sample = image.depth == PixelDepth::Byte ? session::SampleType::Byte : session::SampleType::Float;
  picture.x = image.x;
  picture.y = image.y;
  picture.display = {image.display.x, image.display.y, image.display.width, image.display.height};
  picture.alpha = image.alphaMode == AlphaMode::Straight        ? session::AlphaState::Straight
                  : image.alphaMode == AlphaMode::Premultiplied ? session::AlphaState::Premultiplied
                                                                : session::AlphaState::Opaque;
  return picture;
}

}  // namespace lenstrove::cli
