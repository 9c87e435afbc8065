// Rendering a picture through an instance, in the standard's order for one
// frame: clip preferences (once, and again after settings change), region
// of definition, regions of interest, frames needed, is identity, then
// begin sequence, a render per window and end sequence.

#include <algorithm>
#include <cmath>
#include <sstream>

#include "session/instance_impl.h"
#include "session/session_internal.h"

namespace lenstrove::session {
namespace {

constexpr const char* kSource = kOfxImageEffectSimpleSourceClipName;
constexpr const char* kOutput = kOfxImageEffectOutputClipName;

bool SameRect(const OfxRectI& a, const OfxRectI& b) {
  return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

std::string RectText(const OfxRectD& r) {
  std::ostringstream text;
  text << "(" << r.x1 << ", " << r.y1 << ")-(" << r.x2 << ", " << r.y2 << ")";
  return text.str();
}

// The pixels a region touches. Regions beyond 2^30 pixels from the origin
// are refused before they reach int arithmetic.
OfxRectI WholePixels(const OfxRectD& region, const std::string& identifier) {
  const auto refuse = [&](const std::string& why) {
    return Error("plug-in '" + identifier + "' answered a region of definition of " + RectText(region) + ", which " +
                 why);
  };
  constexpr double kFarthest = 1 << 30;
  for (const double edge : {region.x1, region.y1, region.x2, region.y2}) {
    if (!std::isfinite(edge)) throw refuse("is not finite");
    if (std::fabs(edge) > kFarthest) throw refuse("lies too far out to hold in pixels");
  }
  const OfxRectI pixels{static_cast<int>(std::floor(region.x1)), static_cast<int>(std::floor(region.y1)),
                        static_cast<int>(std::ceil(region.x2)), static_cast<int>(std::ceil(region.y2))};
  if (pixels.x1 >= pixels.x2 || pixels.y1 >= pixels.y2) throw refuse("is empty");
  return pixels;
}

// Windows count from the picture's own corner, which sits where the data
// window lies within the display window. When the plug-in's region is not
// the picture's, each window's edges are carried over to the region in
// proportion, so the windows still cover it once.
std::vector<OfxRectI> RenderRects(std::vector<RenderWindow> windows, const OfxRectI& whole, const OfxRectI& region) {
  if (windows.empty()) windows.push_back({0, 0, whole.x2 - whole.x1, whole.y2 - whole.y1});
  const bool same = SameRect(whole, region);
  // An edge `edge` pixels into the picture, that far into the region in proportion.
  const auto along = [](int edge, std::int64_t fromSize, int to, std::int64_t toSize) {
    return static_cast<int>(to + edge * toSize / std::max<std::int64_t>(1, fromSize));
  };
  std::vector<OfxRectI> rects;
  for (const RenderWindow& w : windows) {
    if (same) {
      rects.push_back({whole.x1 + w.x1, whole.y1 + w.y1, whole.x1 + w.x2, whole.y1 + w.y2});
      continue;
    }
    const std::int64_t wholeWidth = std::int64_t{whole.x2} - whole.x1, wholeHeight = std::int64_t{whole.y2} - whole.y1;
    const std::int64_t width = std::int64_t{region.x2} - region.x1, height = std::int64_t{region.y2} - region.y1;
    const OfxRectI rect{along(w.x1, wholeWidth, region.x1, width), along(w.y1, wholeHeight, region.y1, height),
                        along(w.x2, wholeWidth, region.x1, width), along(w.y2, wholeHeight, region.y1, height)};
    if (rect.x1 < rect.x2 && rect.y1 < rect.y2) rects.push_back(rect);
  }
  return rects;
}

// What the plug-in asked for a clip in its preferences, or `fallback`.
std::string Preferred(const host::ClipPreferences& preferences, const char* clip, const std::string& fallback,
                      std::string host::ClipPreference::*field) {
  const host::ClipPreference* preference = preferences.Find(clip);
  const std::string wanted = preference != nullptr ? preference->*field : "";
  return wanted.empty() ? fallback : wanted;
}

// The picture's depth when the plug-in declares it, else the first it
// declares of float, half, short and byte, the ones losing least.
std::string OfferedDepth(host::Plugin& plugin, const std::string& depth) {
  const std::vector<std::string> declared =
      StringValues(plugin.Descriptor().Properties(), kOfxImageEffectPropSupportedPixelDepths);
  const auto declares = [&](const std::string& d) { return std::find(declared.begin(), declared.end(), d) != declared.end(); };
  if (declares(depth)) return depth;
  for (const char* d : {kOfxBitDepthFloat, kOfxBitDepthHalf, kOfxBitDepthShort, kOfxBitDepthByte})
    if (declares(d)) return d;
  return depth;
}

// The picture's components when the clip takes them, else RGBA, which
// every image effect takes.
std::string OfferedComponents(host::Clip& clip, const std::string& components) {
  const std::vector<std::string> taken = StringValues(clip.Properties(), kOfxImageEffectPropSupportedComponents);
  return std::find(taken.begin(), taken.end(), components) != taken.end() ? components : kOfxImageComponentRGBA;
}

}  // namespace

void Instance::Impl::Render(const Picture& source, const OutputMaker& output, double time,
                            const std::vector<RenderWindow>& windows) {
  CheckPicture(source);
  PlaceInFrame(source.DisplayWindow());
  host::Image sourceImage = Wrap(source, source.DisplayWindow());
  try {
    RenderWrapped(source, sourceImage, output, time, windows);
  } catch (const host::PluginError& error) {
    DetachClips();
    throw PluginFailure(Identifier(), error);
  } catch (const host::HostError& error) {
    DetachClips();
    throw Error(error.what());
  } catch (...) {
    DetachClips();
    throw;
  }
  DetachClips();
}

void Instance::Impl::RenderWrapped(const Picture& source, host::Image& sourceImage, const OutputMaker& output,
                                   double time, const std::vector<RenderWindow>& windows) {
  const std::string premultiplication = OfferFormat(sourceImage, source);
  if (!preferences_ || askedWith_ != premultiplication) AskPreferences(premultiplication);
  const host::AlphaChange alpha = host::AlphaChangeBetween(premultiplication, preferences_->output_premultiplication);
  const std::string pluginPremultiplication =
      alpha == host::AlphaChange::kNone ? premultiplication : preferences_->output_premultiplication;
  sourceWanted_ = Wanted(kSource, alpha, pluginPremultiplication);
  std::optional<host::Image> sourceConverted, outputConverted;
  host::Image* sourceFetched = InFormat(sourceImage, sourceWanted_, sourceConverted, true);
  SetClip(kSource, sourceFetched, [this, time, sourceFetched](OfxTime at) {
    return at == time ? sourceFetched : OtherFrame(at);
  });
  effect_.FindClip(kSource)->Properties().Set(kOfxImageEffectPropPreMultiplication, 0, pluginPremultiplication);
  const OfxRectI whole = sourceImage.Bounds();
  PixelRect window;
  const OfxRectI region = RenderedRegion(time, whole, source, window);
  Picture out = output(window);
  out.x = window.x;
  out.y = window.y;
  CheckPicture(out);
  if (out.width != window.width || out.height != window.height)
    throw Error("the output picture is " + std::to_string(out.width) + "x" + std::to_string(out.height) +
                ", not the " + std::to_string(window.width) + "x" + std::to_string(window.height) + " rendered");
  host::Image outputImage = Wrap(out, source.DisplayWindow());
  host::Image* outputWritten =
      InFormat(outputImage, Wanted(kOutput, alpha, pluginPremultiplication), outputConverted, false);
  SetClip(kOutput, outputWritten);
  RenderFrame(time, RenderRects(windows, whole, region), region, *outputWritten);
  if (outputConverted) {
    // Back to the caller's own way, then its depth and components.
    host::ChangeAlpha(*outputConverted, host::Inverse(alpha));
    host::ConvertPixels(*outputConverted, outputImage);
  }
}

// What the host offers by default is the picture's own format, for the
// output as for the source, with a depth and components the plug-in
// takes. Returns the picture's premultiplication.
std::string Instance::Impl::OfferFormat(host::Image& source, const Picture& picture) {
  depth_ = DepthName(picture.sample);
  components_ = ComponentsName(picture.channels);
  sample_ = picture.sample;
  SetClip(kSource, &source);
  SetClip(kOutput, &source);
  offeredDepth_ = OfferedDepth(plugin_, depth_);
  offeredComponents_ = OfferedComponents(*effect_.FindClip(kSource), components_);
  for (const char* clip : {kSource, kOutput}) {
    effect_.FindClip(clip)->Properties().Set(kOfxImageEffectPropPixelDepth, 0, offeredDepth_);
    effect_.FindClip(clip)->Properties().Set(kOfxImageEffectPropComponents, 0, offeredComponents_);
  }
  return PremultiplicationName(picture);
}

// What the plug-in's preferences ask for a clip, the offered format where
// they say nothing.
WantedFormat Instance::Impl::Wanted(const char* clip, host::AlphaChange alpha,
                                    const std::string& premultiplication) const {
  return {Preferred(*preferences_, clip, offeredDepth_, &host::ClipPreference::depth),
          Preferred(*preferences_, clip, offeredComponents_, &host::ClipPreference::components), alpha,
          premultiplication};
}

// The host offers the picture's premultiplication as the default, so the
// answer depends on it as well as on the parameters.
void Instance::Impl::AskPreferences(const std::string& premultiplication) {
  if (host::Clip* clip = effect_.FindClip(kSource))
    clip->Properties().Set(kOfxImageEffectPropPreMultiplication, 0, premultiplication);
  host::ClipPreferences preferences;
  plugin_.GetClipPreferences(effect_, &preferences).Check();
  if (preferences.output_premultiplication.empty()) preferences.output_premultiplication = premultiplication;
  preferences_ = preferences;
  askedWith_ = premultiplication;
  if (host::Clip* clip = effect_.FindClip(kOutput))
    clip->Properties().Set(kOfxImageEffectPropPreMultiplication, 0, preferences.output_premultiplication);
}

// What is rendered: the source's pixels, and where the output may follow
// the plug-in's region of definition, that region too (in whole pixels),
// with `window` the data window covering both. A region inside the source
// crops nothing: the source's pixels are what the caller holds, and the
// source clip's own region is only the display window.
OfxRectI Instance::Impl::RenderedRegion(double time, const OfxRectI& whole, const Picture& source, PixelRect& window) {
  window = source.DataWindow();
  OfxRectD answer{double(whole.x1), double(whole.y1), double(whole.x2), double(whole.y2)};
  plugin_.GetRegionOfDefinition(effect_, time, &answer).Check();
  if (pixelLimit_ == 0) return whole;
  const OfxRectI region = WholePixels(answer, Identifier());
  if (SameRect(region, whole)) return whole;
  const OfxRectI covered = {std::min(region.x1, whole.x1), std::min(region.y1, whole.y1),
                            std::max(region.x2, whole.x2), std::max(region.y2, whole.y2)};
  const std::int64_t pixels = (std::int64_t{covered.x2} - covered.x1) * (std::int64_t{covered.y2} - covered.y1);
  if (pixels > pixelLimit_)
    throw Error("plug-in '" + Identifier() + "' answered a region of definition of " + RectText(answer) +
                ", which with the source covers " + std::to_string(pixels) + " pixels, above the limit of " +
                std::to_string(pixelLimit_) + " pixels" +
                (limitName_.empty() ? "" : " (raise it with " + limitName_ + ")"));
  if (SameRect(covered, whole)) return whole;
  // Rows of the data window count down from the top.
  window = {source.x + (covered.x1 - whole.x1), source.y + (whole.y2 - covered.y2), covered.x2 - covered.x1,
            covered.y2 - covered.y1};
  return covered;
}

void Instance::Impl::RenderFrame(double time, const std::vector<OfxRectI>& rects, const OfxRectI& region,
                                 host::Image& output) {
  const OfxRectD regionD{double(region.x1), double(region.y1), double(region.x2), double(region.y2)};
  std::vector<std::pair<std::string, OfxRectD>> regions;
  plugin_.GetRegionsOfInterest(effect_, time, regionD, &regions).Check();
  std::vector<std::pair<std::string, OfxRangeD>> frames;
  plugin_.GetFramesNeeded(effect_, time, &frames).Check();
  std::optional<host::Identity> identity;
  plugin_.IsIdentity(effect_, {time, region}, &identity).Check();
  if (identity) return CopyIdentity(*identity, output);
  plugin_.BeginSequenceRender(effect_, {time, time}, false).Check();
  const host::ActionResult rendered = plugin_.RenderWindows(effect_, {time, region}, rects, true);
  plugin_.EndSequenceRender(effect_, {time, time}, false).Check();
  rendered.Check();
}

void Instance::Impl::CopyIdentity(const host::Identity& identity, host::Image& output) {
  host::Clip* clip = effect_.FindClip(identity.clip);
  host::Image* image = clip != nullptr ? clip->ImageAt(identity.time) : nullptr;
  if (image == nullptr)
    throw Error("plug-in '" + Identifier() + "' answered that the frame is clip '" + identity.clip + "' at time " +
                std::to_string(identity.time) + ", which has no picture there");
  host::ConvertPixels(*image, output);
}

// The source at another time, for a plug-in that declared temporal clip
// access: asked of the caller on demand and kept until the frame is done.
// Null for a time there is no frame at, which fails the plug-in's fetch as
// the standard has it.
host::Image* Instance::Impl::OtherFrame(OfxTime at) {
  if (!frames_ || NumberProperty(effect_.Properties(), kOfxImageEffectPropTemporalClipAccess).value_or(0) == 0)
    return nullptr;
  std::lock_guard<std::mutex> lock(borrowedMutex_);
  try {
    auto borrowed = std::make_unique<Borrowed>();
    std::optional<HeldPicture> held = frames_(at, sample_);
    if (!held) return nullptr;
    borrowed->held = std::move(*held);
    const Picture& picture = borrowed->held.picture;
    CheckPicture(picture);
    borrowed->wrapped = std::make_unique<host::Image>(Wrap(picture, picture.DisplayWindow()));
    host::Image* image = InFormat(*borrowed->wrapped, sourceWanted_, borrowed->converted, true);
    borrowed_.push_back(std::move(borrowed));
    return image;
  } catch (const std::exception& error) {
    effect_.NoteError(error.what());  // an unreadable neighbour fails the render with its reason
    return nullptr;
  }
}

// The clip's image, and what it says of its depth and components; its
// unmapped ones are the caller's.
void Instance::Impl::SetClip(const char* name, host::Image* image, host::Clip::ImageSource source) {
  host::Clip* clip = effect_.FindClip(name);
  if (clip == nullptr) throw Error("plug-in '" + Identifier() + "' has no " + name + " clip");
  host::PropertySet& properties = clip->Properties();
  properties.Set(kOfxImageEffectPropPixelDepth, 0, StringProperty(image->Properties(), kOfxImageEffectPropPixelDepth));
  properties.Set(kOfxImageEffectPropComponents, 0, StringProperty(image->Properties(), kOfxImageEffectPropComponents));
  properties.Set(kOfxImageClipPropUnmappedPixelDepth, 0, depth_);
  properties.Set(kOfxImageClipPropUnmappedComponents, 0, components_);
  if (source) {
    clip->SetImageSource(std::move(source));
  } else {
    clip->SetImage(image);
  }
}

// The images lie over the caller's pixels and on the caller's stack: no
// clip may keep pointing at them after the render.
void Instance::Impl::DetachClips() {
  for (const char* name : {kSource, kOutput})
    if (host::Clip* clip = effect_.FindClip(name)) clip->SetImage(nullptr);
  borrowed_.clear();
}

}  // namespace lenstrove::session
