#ifndef LENSTROVE_HOST_EFFECT_H
#define LENSTROVE_HOST_EFFECT_H

// Effects and their clips. One Effect class serves both roles a plug-in
// sees: descriptors (what Describe and DescribeInContext fill in) and
// instances (made from a context's descriptor, rendered by the host).
//
// An instance is used by one thread at a time; different instances may run
// on different threads.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "handles.h"
#include "ofx/ofxImageEffect.h"
#include "param_set.h"
#include "property_set.h"

namespace lenstrove::host {

class Effect;
class Image;

class Clip {
 public:
  // Supplies the clip's image for a time, so a sequence can hand out a
  // different image per frame. Returning null makes clipGetImage fail.
  using ImageSource = std::function<Image*(OfxTime time)>;

  Clip(Host& host, Effect& owner, std::string name, PropertySet properties);
  Clip(const Clip&) = delete;
  Clip& operator=(const Clip&) = delete;

  OfxImageClipHandle Handle() { return reinterpret_cast<OfxImageClipHandle>(this); }
  const std::string& Name() const { return name_; }
  Effect& Owner() const { return owner_; }
  PropertySet& Properties() { return properties_; }
  const PropertySet& Properties() const { return properties_; }

  // Also sets OfxImageClipPropConnected: 1 with a source, 0 without.
  void SetImageSource(ImageSource source);
  // The same image at every time; null disconnects the clip.
  void SetImage(Image* image);
  Image* ImageAt(OfxTime time) const { return source_ ? source_(time) : nullptr; }

  // What clipGetRegionOfDefinition answers: the region set here, as a
  // tiling host knows the whole picture while it hands out one tile, or
  // else the region the clip's image at that time declares.
  void SetRegionOfDefinition(const OfxRectD& region) { region_of_definition_ = region; }
  void ClearRegionOfDefinition() { region_of_definition_.reset(); }
  const std::optional<OfxRectD>& RegionOfDefinition() const { return region_of_definition_; }

 private:
  Effect& owner_;
  std::string name_;
  PropertySet properties_;
  ImageSource source_;
  std::optional<OfxRectD> region_of_definition_;
  Registration self_registration_;
  Registration properties_registration_;
};

// What clipGetImage hands out: a copy of the image's properties that lives
// until clipReleaseImage, so a handle used after release is caught.
class FetchedImage : public PropertySet {
 public:
  FetchedImage(Host& host, Effect& owner, const PropertySet& image);
  Effect& Owner() const { return owner_; }

 private:
  Effect& owner_;
  Registration registration_;
};

class Effect {
 public:
  enum class Role { kDescriptor, kInstance };

  // A descriptor; `context` is empty for the one Describe fills in.
  Effect(Host& host, std::string context, PropertySet properties);
  // An instance of a context's descriptor, with copies of its clips and
  // parameters and the properties a host adds to instances.
  static std::unique_ptr<Effect> Instantiate(const Effect& descriptor);
  Effect(const Effect&) = delete;
  Effect& operator=(const Effect&) = delete;

  OfxImageEffectHandle Handle() { return reinterpret_cast<OfxImageEffectHandle>(this); }
  Role GetRole() const { return role_; }
  const std::string& Context() const { return context_; }
  const std::string& Label() const { return properties_.Label(); }
  PropertySet& Properties() { return properties_; }
  const PropertySet& Properties() const { return properties_; }
  ParamSet& Params() { return params_; }
  const ParamSet& Params() const { return params_; }

  // kOfxStatErrUnsupported on an instance, kOfxStatErrExists for a taken name.
  OfxStatus DefineClip(std::string_view name, Clip** clip);
  Clip* FindClip(std::string_view name);
  Clip& GetClip(std::string_view name);  // throws HostError when missing
  // In definition order.
  const std::vector<std::unique_ptr<Clip>>& Clips() const { return clips_; }

  // The time paramGetValue and paramSetValue work at.
  void SetTime(OfxTime time) { params_.SetTime(time); }

  // clipGetImage and clipReleaseImage; counted so tests can check that every
  // image went back.
  OfxStatus FetchImage(Clip& clip, OfxTime time, OfxPropertySetHandle* image);
  void ReleaseImage(FetchedImage& image);
  int ImagesFetched() const { return images_fetched_; }
  int ImagesReleased() const { return images_released_; }
  int ImagesOutstanding() const { return static_cast<int>(fetched_.size()); }

  // What the abort suite function answers.
  void RequestAbort(bool abort) { abort_requested_ = abort; }
  bool AbortRequested() const { return abort_requested_; }

  // Held by the host while an instance-safe plug-in renders this instance.
  std::mutex& RenderMutex() { return render_mutex_; }

  // The plug-in's OfxPropLabel, for messages shown to the user.
  std::string PluginLabel() const;

  // Error messages the plug-in posted (from any of its threads) since the
  // last TakeErrors; a render that posts one has failed.
  void NoteError(const std::string& text);
  std::string TakeErrors();

  // The progress suite's reports, 0 to 1, go to the listener.
  void SetProgressListener(std::function<void(double)> listener) { progress_listener_ = std::move(listener); }
  void ReportProgress(double fraction);

  // The first and last frame of what is being rendered, for the timeline;
  // also the instance's duration and its clips' frame ranges.
  void SetTimeBounds(OfxRangeD bounds);
  OfxRangeD TimeBounds() const { return time_bounds_; }

  // The project the instance renders in (OfxImageEffectPropProjectSize,
  // Offset and Extent); spatial defaults given as fractions of it are
  // placed in it (see Param::PlaceDefault).
  void SetProject(const ProjectFrame& project);
  const ProjectFrame& Project() const { return project_; }

 private:
  Effect(Host& host, Role role, std::string context, PropertySet properties);

  Host& host_;
  Role role_;
  std::string context_;
  PropertySet properties_;
  ParamSet params_;
  std::vector<std::unique_ptr<Clip>> clips_;
  std::vector<std::unique_ptr<FetchedImage>> fetched_;
  int images_fetched_ = 0;
  int images_released_ = 0;
  bool abort_requested_ = false;
  std::mutex render_mutex_;
  std::mutex fetch_mutex_;  // tiles of a fully safe plug-in fetch images at once
  std::mutex errors_mutex_;
  std::string errors_;
  std::function<void(double)> progress_listener_;
  OfxRangeD time_bounds_ = {0, 0};
  ProjectFrame project_{1920, 1080, 0, 0};
  Registration self_registration_;
  Registration properties_registration_;
};

}  // namespace lenstrove::host

#endif
