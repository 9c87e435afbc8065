#ifndef LENSTROVE_SESSION_INSTANCE_IMPL_H
#define LENSTROVE_SESSION_INSTANCE_IMPL_H

// Internal to the session: the plug-in loaded into this process, and an
// instance of it with what it keeps between renders.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "effect.h"
#include "host.h"
#include "plugin.h"
#include "session/session.h"
#include "session/wrapped_picture.h"

namespace lenstrove::session {

struct Plugin::Loaded {
  Loaded(const std::string& binary, int index);
  ~Loaded();  // shuts the plug-in down

  host::Host host;
  std::unique_ptr<host::Plugin> plugin;
  std::string context;  // what renders use; empty when nothing fits
  PluginDescription description;
  std::mutex mutex;  // one instance made at a time
};

class Instance::Impl {
 public:
  Impl(std::shared_ptr<Plugin::Loaded> loaded, host::Effect& effect, std::string self);
  ~Impl();

  const PluginDescription& Description() const { return loaded_->description; }
  const std::string& Self() const { return self_; }
  void Apply(const ResolvedSetting& setting);
  void SetFrameRange(double first, double last) { effect_.SetTimeBounds({first, last}); }
  void SetFrameSource(FrameSource source) { frames_ = std::move(source); }
  void SetProgressListener(std::function<void(double)> listener) { effect_.SetProgressListener(std::move(listener)); }
  void AllowGrowth(std::int64_t pixelLimit, const std::string& limitName);
  void Render(const Picture& source, const OutputMaker& output, double time, const std::vector<RenderWindow>& windows);

 private:
  // Another frame of the source, as the plug-in asked for it.
  struct Borrowed {
    HeldPicture held;
    std::unique_ptr<host::Image> wrapped;
    std::optional<host::Image> converted;
  };

  void PlaceInFrame(const PixelRect& frame);
  std::string OfferFormat(host::Image& source, const Picture& picture);
  WantedFormat Wanted(const char* clip, host::AlphaChange alpha, const std::string& premultiplication) const;
  void AskPreferences(const std::string& premultiplication);
  void RenderWrapped(const Picture& source, host::Image& sourceImage, const OutputMaker& output, double time,
                     const std::vector<RenderWindow>& windows);
  OfxRectI RenderedRegion(double time, const OfxRectI& whole, const Picture& source, PixelRect& window);
  void RenderFrame(double time, const std::vector<OfxRectI>& rects, const OfxRectI& region, host::Image& output);
  void CopyIdentity(const host::Identity& identity, host::Image& output);
  host::Image* OtherFrame(OfxTime at);
  void SetClip(const char* name, host::Image* image, host::Clip::ImageSource source = nullptr);
  void DetachClips();
  const std::string& Identifier() const { return loaded_->plugin->Identifier(); }

  std::shared_ptr<Plugin::Loaded> loaded_;
  host::Plugin& plugin_;
  host::Effect& effect_;
  std::string self_;
  std::optional<host::ClipPreferences> preferences_;
  std::string askedWith_;  // the premultiplication the preferences were asked with
  std::vector<ResolvedSetting> framed_;  // settings whose stored value depends on the frame
  FrameSource frames_;
  std::int64_t pixelLimit_ = 0;  // 0: the output keeps the source's data window
  std::string limitName_;
  // The caller's format of the picture being rendered and what the host
  // offers the plug-in.
  std::string depth_, components_, offeredDepth_, offeredComponents_;
  SampleType sample_ = SampleType::Float;
  WantedFormat sourceWanted_;
  std::mutex borrowedMutex_;
  std::vector<std::unique_ptr<Borrowed>> borrowed_;
};

}  // namespace lenstrove::session

#endif
