// The actions a host sends an instance around a render, in the standard's
// order: clip preferences, regions of definition and of interest, frames
// needed, is identity, begin and end of a sequence, the render itself
// under the locks the plug-in's thread safety asks for, and instance
// changed.

#include "plugin.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <thread>

#include "host.h"
#include "property_table.h"

namespace lenstrove::host {

namespace {

// The arguments render and is identity share.
PropertySet RenderArgs(const char* label, const RenderRequest& request) {
  const OfxRectI& window = request.window;
  PropertySet in_args(label);
  in_args.Set(kOfxPropTime, 0, request.time);
  in_args.Set(kOfxImageEffectPropFieldToRender, 0, kOfxImageFieldNone);
  in_args.SetN(kOfxImageEffectPropRenderWindow, PropertyType::kInt, {window.x1, window.y1, window.x2, window.y2});
  in_args.SetN(kOfxImageEffectPropRenderScale, PropertyType::kDouble, {request.scale_x, request.scale_y});
  AddStandardProperties(in_args, kRenderArgs);
  return in_args;
}

std::string StringOf(const PropertySet& properties, const std::string& name, const std::string& fallback) {
  const Property* found = properties.Lookup(name);
  if (!found || found->values.empty()) return fallback;
  const auto* text = std::get_if<std::string>(&found->values[0]);
  return text ? *text : fallback;
}

double DoubleOf(const PropertySet& properties, const std::string& name, double fallback, size_t index = 0) {
  const Property* found = properties.Lookup(name);
  if (!found || found->values.size() <= index) return fallback;
  if (const auto* number = std::get_if<double>(&found->values[index])) return *number;
  if (const auto* integer = std::get_if<int>(&found->values[index])) return *integer;
  return fallback;
}

OfxRectD RectOf(const PropertySet& properties, const std::string& name, const OfxRectD& fallback) {
  return {DoubleOf(properties, name, fallback.x1, 0), DoubleOf(properties, name, fallback.y1, 1),
          DoubleOf(properties, name, fallback.x2, 2), DoubleOf(properties, name, fallback.y2, 3)};
}

// Input clips are every clip but the output.
std::vector<Clip*> InputClips(Effect& instance) {
  std::vector<Clip*> inputs;
  for (const auto& clip : instance.Clips()) {
    if (clip->Name() != kOfxImageEffectOutputClipName) inputs.push_back(clip.get());
  }
  return inputs;
}

// An unsafe plug-in's renders are serialised across the whole process.
std::mutex& UnsafeRenderMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

const ClipPreference* ClipPreferences::Find(const std::string& clip) const {
  for (const auto& preference : clips) {
    if (preference.clip == clip) return &preference;
  }
  return nullptr;
}

std::string Plugin::RenderThreadSafety() {
  return StringOf(Descriptor().Properties(), kOfxImageEffectPluginRenderThreadSafety,
                  kOfxImageEffectRenderInstanceSafe);
}

ActionResult Plugin::RenderCall(Effect& instance, const RenderRequest& request) {
  PropertySet in_args = RenderArgs("render inArgs", request);
  in_args.Set(kOfxImageEffectPropSequentialRenderStatus, 0, request.sequential ? 1 : 0);
  in_args.Set(kOfxImageEffectPropInteractiveRenderStatus, 0, request.interactive ? 1 : 0);
  std::string safety = RenderThreadSafety();
  std::unique_lock<std::mutex> process_lock, instance_lock;
  if (safety == kOfxImageEffectRenderUnsafe) process_lock = std::unique_lock(UnsafeRenderMutex());
  if (safety != kOfxImageEffectRenderFullySafe) instance_lock = std::unique_lock(instance.RenderMutex());
  // Tiles of one frame render at the same time and all set the same time.
  if (instance.Params().Time() != request.time) instance.SetTime(request.time);
  // The standard passes no outArgs to a render.
  return Run(kOfxImageEffectActionRender, instance.Handle(), &in_args, nullptr);
}

namespace {

// The errors posted since the render began fail it, whatever it answered.
void FailOnErrors(Effect& instance, ActionResult* result) {
  result->message = instance.TakeErrors();
  if (!result->message.empty() && result->Succeeded()) result->status = kOfxStatFailed;
}

}  // namespace

ActionResult Plugin::Render(Effect& instance, const RenderRequest& request) {
  instance.TakeErrors();
  ActionResult result = RenderCall(instance, request);
  FailOnErrors(instance, &result);
  return result;
}

ActionResult Plugin::RenderWindows(Effect& instance, RenderRequest request, const std::vector<OfxRectI>& windows,
                                   bool parallel) {
  instance.SetTime(request.time);
  instance.TakeErrors();
  ActionResult first_failure{kOfxImageEffectActionRender, kOfxStatOK};
  if (!parallel || windows.size() < 2 || RenderThreadSafety() != kOfxImageEffectRenderFullySafe) {
    for (const OfxRectI& window : windows) {
      request.window = window;
      first_failure = RenderCall(instance, request);
      if (!first_failure.Succeeded()) break;
    }
  } else {
    std::mutex failure_mutex;
    std::vector<std::thread> threads;
    for (const OfxRectI& window : windows) {
      threads.emplace_back([&, window] {
        RenderRequest tile = request;
        tile.window = window;
        ActionResult result = RenderCall(instance, tile);
        std::lock_guard lock(failure_mutex);
        if (!result.Succeeded() && first_failure.Succeeded()) first_failure = result;
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  FailOnErrors(instance, &first_failure);
  return first_failure;
}

ActionResult Plugin::GetClipPreferences(Effect& instance, ClipPreferences* preferences) {
  PropertySet out_args("clip preferences outArgs");
  // The host's defaults: what each clip is now.
  for (const auto& clip : instance.Clips()) {
    const PropertySet& properties = clip->Properties();
    out_args.Set(std::string(kOfxImageClipPropComponents) + "_" + clip->Name(), 0,
                 StringOf(properties, kOfxImageEffectPropComponents, kOfxImageComponentRGBA));
    out_args.Set(std::string(kOfxImageClipPropDepth) + "_" + clip->Name(), 0,
                 StringOf(properties, kOfxImageEffectPropPixelDepth, kOfxBitDepthFloat));
    out_args.Set(std::string(kOfxImageClipPropPAR) + "_" + clip->Name(), 0,
                 DoubleOf(properties, kOfxImagePropPixelAspectRatio, 1.0));
  }
  out_args.Set(kOfxImageEffectPropFrameRate, 0, DoubleOf(instance.Properties(), kOfxImageEffectPropFrameRate, 24));
  // The output is offered as the input is: a plug-in that says nothing
  // about premultiplication gets its pictures as they are.
  std::vector<Clip*> inputs = InputClips(instance);
  out_args.Set(kOfxImageEffectPropPreMultiplication, 0,
               inputs.empty() ? std::string(kOfxImagePreMultiplied)
                              : StringOf(inputs.front()->Properties(), kOfxImageEffectPropPreMultiplication,
                                         kOfxImagePreMultiplied));
  out_args.Set(kOfxImageClipPropFieldOrder, 0, kOfxImageFieldNone);
  out_args.Set(kOfxImageClipPropContinuousSamples, 0, 0);
  out_args.Set(kOfxImageEffectFrameVarying, 0, 0);
  ActionResult result = Run(kOfxImageEffectActionGetClipPreferences, instance.Handle(), nullptr, &out_args);
  preferences->clips.clear();
  if (result.status != kOfxStatOK) return result;
  for (const auto& clip : instance.Clips()) {
    ClipPreference preference{clip->Name(),
                              StringOf(out_args, std::string(kOfxImageClipPropComponents) + "_" + clip->Name(), ""),
                              StringOf(out_args, std::string(kOfxImageClipPropDepth) + "_" + clip->Name(), ""),
                              DoubleOf(out_args, std::string(kOfxImageClipPropPAR) + "_" + clip->Name(), 1.0)};
    preferences->clips.push_back(preference);
  }
  preferences->output_premultiplication =
      StringOf(out_args, kOfxImageEffectPropPreMultiplication, kOfxImagePreMultiplied);
  preferences->frame_rate = DoubleOf(out_args, kOfxImageEffectPropFrameRate, 24);
  preferences->frame_varying = DoubleOf(out_args, kOfxImageEffectFrameVarying, 0) != 0;
  preferences->continuous_samples = DoubleOf(out_args, kOfxImageClipPropContinuousSamples, 0) != 0;
  return result;
}

ActionResult Plugin::GetRegionOfDefinition(Effect& instance, OfxTime time, OfxRectD* region) {
  PropertySet in_args("region of definition inArgs");
  in_args.Set(kOfxPropTime, 0, time);
  in_args.SetN(kOfxImageEffectPropRenderScale, PropertyType::kDouble, {1.0, 1.0});
  PropertySet out_args("region of definition outArgs");
  out_args.SetN(kOfxImageEffectPropRegionOfDefinition, PropertyType::kDouble,
                {region->x1, region->y1, region->x2, region->y2});
  ActionResult result = Run(kOfxImageEffectActionGetRegionOfDefinition, instance.Handle(), &in_args, &out_args);
  if (result.status == kOfxStatOK) *region = RectOf(out_args, kOfxImageEffectPropRegionOfDefinition, *region);
  return result;
}

ActionResult Plugin::GetRegionsOfInterest(Effect& instance, OfxTime time, const OfxRectD& region,
                                          std::vector<std::pair<std::string, OfxRectD>>* rois) {
  PropertySet in_args("regions of interest inArgs");
  in_args.Set(kOfxPropTime, 0, time);
  in_args.SetN(kOfxImageEffectPropRenderScale, PropertyType::kDouble, {1.0, 1.0});
  in_args.SetN(kOfxImageEffectPropRegionOfInterest, PropertyType::kDouble, {region.x1, region.y1, region.x2, region.y2});
  PropertySet out_args("regions of interest outArgs");
  std::vector<Clip*> inputs = InputClips(instance);
  for (Clip* clip : inputs) {
    out_args.SetN(std::string(kOfxImageClipPropRoI) + "_" + clip->Name(), PropertyType::kDouble,
                  {region.x1, region.y1, region.x2, region.y2});
  }
  ActionResult result = Run(kOfxImageEffectActionGetRegionsOfInterest, instance.Handle(), &in_args, &out_args);
  rois->clear();
  for (Clip* clip : inputs) {
    rois->emplace_back(clip->Name(), RectOf(out_args, std::string(kOfxImageClipPropRoI) + "_" + clip->Name(), region));
  }
  return result;
}

ActionResult Plugin::GetFramesNeeded(Effect& instance, OfxTime time,
                                     std::vector<std::pair<std::string, OfxRangeD>>* frames) {
  PropertySet in_args("frames needed inArgs");
  in_args.Set(kOfxPropTime, 0, time);
  PropertySet out_args("frames needed outArgs");
  std::vector<Clip*> inputs = InputClips(instance);
  for (Clip* clip : inputs) {
    out_args.SetN(std::string(kOfxImageClipPropFrameRange) + "_" + clip->Name(), PropertyType::kDouble, {time, time});
  }
  ActionResult result = Run(kOfxImageEffectActionGetFramesNeeded, instance.Handle(), &in_args, &out_args);
  frames->clear();
  for (Clip* clip : inputs) {
    std::string name = std::string(kOfxImageClipPropFrameRange) + "_" + clip->Name();
    // Any number of ranges, as pairs; the host needs only their extent,
    // which need not include `time` itself.
    OfxRangeD range{time, time};
    const Property* found = out_args.Lookup(name);
    for (size_t i = 0; found && i < found->values.size(); ++i) {
      double bound = DoubleOf(out_args, name, time, i);
      range.min = i == 0 ? bound : std::min(range.min, bound);
      range.max = i == 0 ? bound : std::max(range.max, bound);
    }
    frames->emplace_back(clip->Name(), range);
  }
  return result;
}

ActionResult Plugin::IsIdentity(Effect& instance, const RenderRequest& request, std::optional<Identity>* identity) {
  PropertySet in_args = RenderArgs("is identity inArgs", request);
  PropertySet out_args("is identity outArgs");
  out_args.Set(kOfxPropName, 0, "");
  out_args.Set(kOfxPropTime, 0, request.time);
  instance.SetTime(request.time);
  ActionResult result = Run(kOfxImageEffectActionIsIdentity, instance.Handle(), &in_args, &out_args);
  identity->reset();
  if (result.status == kOfxStatOK) {
    *identity = Identity{StringOf(out_args, kOfxPropName, ""), DoubleOf(out_args, kOfxPropTime, request.time)};
  }
  return result;
}

namespace {

PropertySet SequenceArgs(const char* label, OfxRangeD frames, bool sequential) {
  PropertySet in_args(label);
  in_args.SetN(kOfxImageEffectPropFrameRange, PropertyType::kDouble, {frames.min, frames.max});
  in_args.Set(kOfxImageEffectPropFrameStep, 0, 1.0);
  in_args.Set(kOfxPropIsInteractive, 0, 0);
  in_args.SetN(kOfxImageEffectPropRenderScale, PropertyType::kDouble, {1.0, 1.0});
  in_args.Set(kOfxImageEffectPropSequentialRenderStatus, 0, sequential ? 1 : 0);
  in_args.Set(kOfxImageEffectPropInteractiveRenderStatus, 0, 0);
  AddStandardProperties(in_args, kSequenceArgs);
  return in_args;
}

}  // namespace

ActionResult Plugin::BeginSequenceRender(Effect& instance, OfxRangeD frames, bool sequential) {
  PropertySet in_args = SequenceArgs("begin sequence inArgs", frames, sequential);
  return Run(kOfxImageEffectActionBeginSequenceRender, instance.Handle(), &in_args, nullptr);
}

ActionResult Plugin::EndSequenceRender(Effect& instance, OfxRangeD frames, bool sequential) {
  PropertySet in_args = SequenceArgs("end sequence inArgs", frames, sequential);
  return Run(kOfxImageEffectActionEndSequenceRender, instance.Handle(), &in_args, nullptr);
}

ActionResult Plugin::ParamChanged(Effect& instance, const std::string& param, OfxTime time) {
  PropertySet reason("instance changed inArgs");
  reason.Set(kOfxPropChangeReason, 0, kOfxChangeUserEdited);
  ActionResult begin = Run(kOfxActionBeginInstanceChanged, instance.Handle(), &reason, nullptr);
  if (!begin.Succeeded()) return begin;
  PropertySet in_args("instance changed inArgs");
  in_args.Set(kOfxPropType, 0, kOfxTypeParameter);
  in_args.Set(kOfxPropName, 0, param);
  in_args.Set(kOfxPropChangeReason, 0, kOfxChangeUserEdited);
  in_args.Set(kOfxPropTime, 0, time);
  in_args.SetN(kOfxImageEffectPropRenderScale, PropertyType::kDouble, {1.0, 1.0});
  ActionResult changed = Run(kOfxActionInstanceChanged, instance.Handle(), &in_args, nullptr);
  ActionResult end = Run(kOfxActionEndInstanceChanged, instance.Handle(), &reason, nullptr);
  return changed.Succeeded() ? end : changed;
}

}  // namespace lenstrove::host
