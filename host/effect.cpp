#include "effect.h"

#include <algorithm>
#include <utility>

#include "image.h"
#include "property_table.h"
#include "status.h"

namespace lenstrove::host {

namespace {

// What an instance adds to its descriptor's properties; the plug-in's own
// type and context replace the descriptor's.
void AddInstanceProperties(PropertySet& properties, const std::string& context) {
  properties.Set(kOfxPropType, 0, kOfxTypeImageEffectInstance);
  properties.Set(kOfxImageEffectPropContext, 0, context);
  AddStandardProperties(properties, kEffectInstance);
}

PropertySet ClipDefaults(std::string_view name) {
  PropertySet properties("clip " + std::string(name));
  properties.Set(kOfxPropName, 0, std::string(name));
  properties.Set(kOfxPropLabel, 0, std::string(name));
  AddStandardProperties(properties, kClipDescriptor);
  return properties;
}

}  // namespace

Clip::Clip(Host& host, Effect& owner, std::string name, PropertySet properties)
    : owner_(owner),
      name_(std::move(name)),
      properties_(std::move(properties)),
      self_registration_(this, HandleKind::kClip, host),
      properties_registration_(&properties_, HandleKind::kPropertySet, host) {}

void Clip::SetImageSource(ImageSource source) {
  source_ = std::move(source);
  properties_.Set(kOfxImageClipPropConnected, 0, source_ ? 1 : 0);
}

void Clip::SetImage(Image* image) {
  SetImageSource(image ? ImageSource([image](OfxTime) { return image; }) : ImageSource());
}

FetchedImage::FetchedImage(Host& host, Effect& owner, const PropertySet& image)
    : PropertySet(image), owner_(owner), registration_(static_cast<PropertySet*>(this), HandleKind::kImage, host) {}

Effect::Effect(Host& host, Role role, std::string context, PropertySet properties)
    : host_(host),
      role_(role),
      context_(std::move(context)),
      properties_(std::move(properties)),
      params_(host, role == Role::kDescriptor),
      self_registration_(this, HandleKind::kEffect, host),
      properties_registration_(&properties_, HandleKind::kPropertySet, host) {}

Effect::Effect(Host& host, std::string context, PropertySet properties)
    : Effect(host, Role::kDescriptor, std::move(context), std::move(properties)) {
  if (context_.empty()) {
    AddStandardProperties(properties_, kEffectDescriptor);
    properties_.SetLabel("descriptor");
  } else {
    // A context's descriptor starts from the main one, defaults included.
    properties_.Set(kOfxImageEffectPropContext, 0, context_);
    properties_.SetLabel("descriptor " + context_);
  }
}

std::unique_ptr<Effect> Effect::Instantiate(const Effect& descriptor) {
  PropertySet properties = descriptor.properties_;
  properties.SetLabel("instance");
  AddInstanceProperties(properties, descriptor.context_);
  std::unique_ptr<Effect> instance(
      new Effect(descriptor.host_, Role::kInstance, descriptor.context_, std::move(properties)));
  for (const auto& clip : descriptor.clips_) {
    PropertySet clip_properties = clip->Properties();
    // Unconnected until the caller hands it images: float RGBA,
    // premultiplied, square pixels.
    AddStandardProperties(clip_properties, kClipInstance);
    instance->clips_.push_back(
        std::make_unique<Clip>(instance->host_, *instance, clip->Name(), std::move(clip_properties)));
  }
  instance->params_.CopyDefinitions(descriptor.params_);
  // Until the caller names the project, the one the properties start with.
  instance->params_.PlaceDefaults(instance->project_);
  return instance;
}

OfxStatus Effect::DefineClip(std::string_view name, Clip** clip) {
  if (role_ == Role::kInstance) return kOfxStatErrUnsupported;
  if (FindClip(name)) return kOfxStatErrExists;
  clips_.push_back(std::make_unique<Clip>(host_, *this, std::string(name), ClipDefaults(name)));
  *clip = clips_.back().get();
  return kOfxStatOK;
}

Clip* Effect::FindClip(std::string_view name) {
  for (auto& clip : clips_) {
    if (clip->Name() == name) return clip.get();
  }
  return nullptr;
}

Clip& Effect::GetClip(std::string_view name) {
  Clip* clip = FindClip(name);
  if (!clip) throw HostError("no clip named \"" + std::string(name) + "\"");
  return *clip;
}

OfxStatus Effect::FetchImage(Clip& clip, OfxTime time, OfxPropertySetHandle* image) {
  Image* source = clip.ImageAt(time);
  if (!source) {
    *image = nullptr;
    return kOfxStatFailed;
  }
  auto fetched = std::make_unique<FetchedImage>(host_, *this, source->Properties());
  fetched->SetLabel("image " + clip.Name());
  *image = fetched->Handle();
  std::lock_guard lock(fetch_mutex_);
  fetched_.push_back(std::move(fetched));
  ++images_fetched_;
  return kOfxStatOK;
}

std::string Effect::PluginLabel() const {
  const Property* label = properties_.Lookup(kOfxPropLabel);
  if (label && !label->values.empty()) {
    if (auto* text = std::get_if<std::string>(&label->values[0]); text && !text->empty()) return *text;
  }
  return "plug-in";
}

void Effect::NoteError(const std::string& text) {
  std::lock_guard lock(errors_mutex_);
  errors_ += (errors_.empty() ? "" : "; ") + text;
}

std::string Effect::TakeErrors() {
  std::lock_guard lock(errors_mutex_);
  return std::exchange(errors_, std::string());
}

void Effect::SetTimeBounds(OfxRangeD bounds) {
  time_bounds_ = bounds;
  properties_.Set(kOfxImageEffectInstancePropEffectDuration, 0, bounds.max - bounds.min + 1);
  for (auto& clip : clips_) {
    for (const char* range : {kOfxImageEffectPropFrameRange, kOfxImageEffectPropUnmappedFrameRange})
      clip->Properties().SetN(range, PropertyType::kDouble, {bounds.min, bounds.max});
  }
}

void Effect::SetProject(const ProjectFrame& project) {
  project_ = project;
  properties_.SetN(kOfxImageEffectPropProjectSize, PropertyType::kDouble, {project.width, project.height});
  properties_.SetN(kOfxImageEffectPropProjectExtent, PropertyType::kDouble,
                   {project.x + project.width, project.y + project.height});
  properties_.SetN(kOfxImageEffectPropProjectOffset, PropertyType::kDouble, {project.x, project.y});
  params_.PlaceDefaults(project);
}

void Effect::ReportProgress(double fraction) {
  if (progress_listener_) progress_listener_(fraction < 0 ? 0 : fraction > 1 ? 1 : fraction);
}

void Effect::ReleaseImage(FetchedImage& image) {
  std::lock_guard lock(fetch_mutex_);
  auto found = std::find_if(fetched_.begin(), fetched_.end(), [&](const auto& held) { return held.get() == &image; });
  if (found == fetched_.end()) return;
  fetched_.erase(found);
  ++images_released_;
}

}  // namespace lenstrove::host
