#include "render/render_job.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "image/image_fit.h"

namespace lenstrove::cli {
namespace {

const char* DepthWord(PixelDepth depth) { return depth == PixelDepth::Byte ? "byte" : "float"; }

PixelDepth Other(PixelDepth depth) { return depth == PixelDepth::Byte ? PixelDepth::Float : PixelDepth::Byte; }

// The source at other times, read on demand for plug-ins that ask for it:
// any frame of the input sequence on disk (rendered or not), or the
// picture of a rendered time. The few most recently read stay, since such
// plug-ins tend to ask for the neighbours of each frame in turn.
class FrameCache {
 public:
  explicit FrameCache(const RenderPlan& plan) : pattern_(plan.input), pixelLimit_(plan.pixelLimit), fit_(plan.fit) {
    for (const FrameTask& task : plan.tasks) inputs_[task.time] = task.input;
  }

  std::shared_ptr<const RgbaImage> read(double time, PixelDepth depth) {
    const std::optional<std::string> input = pathAt(time);
    if (!input) return nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const Entry& entry : recent_)
        if (entry.time == time && entry.depth == depth) return entry.picture;
    }
    auto picture = std::make_shared<const RgbaImage>(read(*input, depth));
    std::lock_guard<std::mutex> lock(mutex_);
    recent_.push_front({time, depth, picture});
    if (recent_.size() > kKept) recent_.pop_back();
    return picture;
  }

 private:
  std::optional<std::string> pathAt(double time) const {
    if (pattern_.isSequence() && time == std::floor(time) && std::fabs(time) < 1e9) {
      const std::string path = FramePath(pattern_, static_cast<long>(time));
      std::error_code error;
      if (std::filesystem::is_regular_file(path, error)) return path;
    }
    const auto rendered = inputs_.find(time);
    if (rendered == inputs_.end()) return std::nullopt;
    return rendered->second;
  }

  // Other frames are fitted as the rendered ones are, so they match.
  RgbaImage read(const std::string& path, PixelDepth depth) const {
    if (!fit_) return ReadRgbaImage(path, depth, pixelLimit_);
    ImageFile file = ReadImageFile(path, pixelLimit_);
    FitImageFile(file, path, *fit_, pixelLimit_);
    return PictureToRender(file, depth);
  }

  static constexpr std::size_t kKept = 4;
  struct Entry {
    double time;
    PixelDepth depth;
    std::shared_ptr<const RgbaImage> picture;
  };
  FramePattern pattern_;
  std::map<double, std::string> inputs_;
  std::int64_t pixelLimit_;
  std::optional<PictureSize> fit_;
  std::mutex mutex_;
  std::deque<Entry> recent_;
};

// Everything one worker needs, shared between workers.
struct SharedState {
  SharedState(const RenderPlan& p, const PluginDescription& d, ProgressBar& b)
      : plan(p), description(d), progress(b), frames(p) {}

  const RenderPlan& plan;
  const PluginDescription& description;
  ProgressBar& progress;
  std::atomic<std::size_t> nextTask{0};
  std::atomic<bool> failed{false};
  FrameCache frames;
  std::mutex errorMutex;
  std::exception_ptr firstError;

  // A sequence meets the same limits of its output format at every frame;
  // each warning is printed once.
  std::set<std::string> warned;
  void warn(const std::vector<std::string>& warnings) {
    std::lock_guard<std::mutex> lock(errorMutex);
    for (const std::string& warning : warnings)
      if (warned.insert(warning).second) std::cerr << "lenstrove: " << warning << "\n";
  }

  void fail(std::exception_ptr error) {
    std::lock_guard<std::mutex> lock(errorMutex);
    if (!firstError) firstError = error;
    failed = true;
  }
};

void RenderTask(EffectInstance& instance, const FrameTask& task, SharedState& shared) {
  const RenderPlan& plan = shared.plan;
  ImageFile file = ReadImageFile(task.input, plan.pixelLimit, plan.part);
  if (plan.fit) FitImageFile(file, task.input, *plan.fit, plan.pixelLimit);
  const PixelDepth depth = ChooseDepth(plan.depth, file.naturalDepth(), shared.description);
  RgbaImage source = PictureToRender(file, depth);
  // The colour conversion and the plug-in see the same alpha state: the
  // one the file declares.
  const bool premultiplied = source.alphaMode == AlphaMode::Premultiplied;
  if (plan.colour) plan.colour->toDisplay(source, premultiplied);
  RgbaImage output(source.width, source.height, depth);
  output.x = source.x;
  output.y = source.y;
  output.display = source.display;
  instance.render(source, output, task.time,
                  session::WindowsFor(shared.description, source.width, source.height, plan.tiles));
  if (plan.colour) plan.colour->toOutput(output, premultiplied);
  const FileWriteRequest request{StorageForOutput(depth, file.pictureStorage()), plan.compression, plan.history};
  shared.warn(WriteImageFile(task.output, file, output, request));
}

void WorkLoop(EffectInstance& instance, SharedState& shared) {
  try {
    while (!shared.failed) {
      const std::size_t index = shared.nextTask++;
      if (index >= shared.plan.tasks.size()) return;
      RenderTask(instance, shared.plan.tasks[index], shared);
      shared.progress.frameDone();
    }
  } catch (...) {
    shared.fail(std::current_exception());
  }
}

// Instances are made and set up on the calling thread, before any render:
// a plug-in may not expect instance creation to race with rendering.
std::vector<std::unique_ptr<EffectInstance>> MakeInstances(LoadedPlugin& plugin, const RenderPlan& plan,
                                                           int count) {
  std::vector<std::unique_ptr<EffectInstance>> instances;
  double first = plan.tasks.front().time, last = first;
  for (const FrameTask& task : plan.tasks) {
    first = std::min(first, task.time);
    last = std::max(last, task.time);
  }
  for (int i = 0; i < count; ++i) {
    instances.push_back(plugin.createInstance());
    instances.back()->setFrameRange(first, last);
    instances.back()->setOutputPixelLimit(plan.pixelLimit);
    instances.back()->applySettings(plan.settings);
  }
  return instances;
}

}  // namespace

PixelDepth ChooseDepth(DepthChoice choice, PixelDepth natural, const PluginDescription& plugin) {
  if (choice != DepthChoice::Auto) {
    const PixelDepth wanted = choice == DepthChoice::Byte ? PixelDepth::Byte : PixelDepth::Float;
    if (!SupportsDepth(plugin, wanted))
      throw std::runtime_error("plug-in '" + plugin.summary.identifier + "' does not render at " +
                               DepthWord(wanted) + " depth");
    return wanted;
  }
  if (SupportsDepth(plugin, natural)) return natural;
  if (SupportsDepth(plugin, Other(natural))) return Other(natural);
  // Files are read as bytes or floats; a plug-in working only in 16-bit
  // integers or half floats gets the floats converted to its depth.
  if (plugin.SupportsDepth("short") || plugin.SupportsDepth("half")) return PixelDepth::Float;
  throw std::runtime_error("plug-in '" + plugin.summary.identifier +
                           "' renders at no depth this host offers (byte, short, half or float)");
}

void RunRenderPlan(LoadedPlugin& plugin, const RenderPlan& plan, ProgressBar& progress) {
  if (plan.tasks.empty()) return;
  const int workers = session::WorkersFor(plugin.description(), plan.jobs, plan.tasks.size());
  std::vector<std::unique_ptr<EffectInstance>> instances = MakeInstances(plugin, plan, workers);
  SharedState shared{plan, plugin.description(), progress};
  for (auto& instance : instances) {
    instance->setProgressListener([&progress](double fraction) { progress.framePart(fraction); });
    instance->setFrameReader([&shared](double time, PixelDepth depth) { return shared.frames.read(time, depth); });
  }
  std::vector<std::thread> threads;
  for (int i = 1; i < workers; ++i) threads.emplace_back(WorkLoop, std::ref(*instances[i]), std::ref(shared));
  WorkLoop(*instances[0], shared);
  for (std::thread& thread : threads) thread.join();
  if (shared.firstError) std::rethrow_exception(shared.firstError);
}

}  // namespace lenstrove::cli
