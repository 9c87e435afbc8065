// The image effect suite: clips, images, regions of definition, abort and
// image memory.

#include "suites.h"

#include "ofx/ofxImageEffect.h"
#include "suite_dispatch.h"

namespace lenstrove::host {

namespace {

using namespace suite_dispatch;

OfxStatus GetPropertySet(OfxImageEffectHandle handle, OfxPropertySetHandle* properties) {
  return Dispatch<Effect>("getPropertySet", handle, NoArgs(), [&](Effect& effect, Host&) {
    if (!properties) return kOfxStatErrBadHandle;
    *properties = effect.Properties().Handle();
    return kOfxStatOK;
  });
}

OfxStatus GetParamSet(OfxImageEffectHandle handle, OfxParamSetHandle* params) {
  return Dispatch<Effect>("getParamSet", handle, NoArgs(), [&](Effect& effect, Host&) {
    if (!params) return kOfxStatErrBadHandle;
    *params = effect.Params().Handle();
    return kOfxStatOK;
  });
}

OfxStatus ClipDefine(OfxImageEffectHandle handle, const char* name, OfxPropertySetHandle* properties) {
  return Dispatch<Effect>(
      "clipDefine", handle, [&] { return Args(name); },
      [&](Effect& effect, Host&) {
        if (!name) return kOfxStatErrBadHandle;
        Clip* clip = nullptr;
        OfxStatus status = effect.DefineClip(name, &clip);
        if (status == kOfxStatOK && properties) *properties = clip->Properties().Handle();
        return status;
      });
}

OfxStatus ClipGetHandle(OfxImageEffectHandle handle, const char* name, OfxImageClipHandle* clip,
                        OfxPropertySetHandle* properties) {
  return Dispatch<Effect>(
      "clipGetHandle", handle, [&] { return Args(name); },
      [&](Effect& effect, Host&) {
        if (!name || !clip) return kOfxStatErrBadHandle;
        Clip* found = effect.FindClip(name);
        if (!found) return kOfxStatErrUnknown;
        *clip = found->Handle();
        if (properties) *properties = found->Properties().Handle();
        return kOfxStatOK;
      });
}

OfxStatus ClipGetPropertySet(OfxImageClipHandle handle, OfxPropertySetHandle* properties) {
  return Dispatch<Clip>("clipGetPropertySet", handle, NoArgs(), [&](Clip& clip, Host&) {
    if (!properties) return kOfxStatErrBadHandle;
    *properties = clip.Properties().Handle();
    return kOfxStatOK;
  });
}

OfxStatus ClipGetImage(OfxImageClipHandle handle, OfxTime time, const OfxRectD* region,
                       OfxPropertySetHandle* image) {
  return Dispatch<Clip>(
      "clipGetImage", handle, [&] { return Args(time, RectArg(region)); },
      [&](Clip& clip, Host&) { return image ? clip.Owner().FetchImage(clip, time, image) : kOfxStatErrBadHandle; });
}

OfxStatus ClipReleaseImage(OfxPropertySetHandle handle) {
  return Dispatch<FetchedImage>("clipReleaseImage", handle, NoArgs(), [&](FetchedImage& image, Host&) {
    image.Owner().ReleaseImage(image);
    return kOfxStatOK;
  });
}

// The image's declared region of definition, or its bounds without one.
OfxRectD RegionOf(const Image& image) {
  OfxRectI region = image.Bounds();
  const Property* declared = image.Properties().Lookup(kOfxImagePropRegionOfDefinition);
  if (declared && declared->type == PropertyType::kInt && declared->values.size() == 4) {
    const auto& corner = declared->values;
    region = {std::get<int>(corner[0]), std::get<int>(corner[1]), std::get<int>(corner[2]), std::get<int>(corner[3])};
  }
  return {double(region.x1), double(region.y1), double(region.x2), double(region.y2)};
}

OfxStatus ClipGetRegionOfDefinition(OfxImageClipHandle handle, OfxTime time, OfxRectD* bounds) {
  return Dispatch<Clip>(
      "clipGetRegionOfDefinition", handle, [&] { return Args(time); },
      [&](Clip& clip, Host&) {
        if (!bounds) return kOfxStatErrBadHandle;
        if (clip.RegionOfDefinition()) {
          *bounds = *clip.RegionOfDefinition();
          return kOfxStatOK;
        }
        Image* image = clip.ImageAt(time);
        if (!image) return kOfxStatFailed;
        *bounds = RegionOf(*image);
        return kOfxStatOK;
      });
}

int Abort(OfxImageEffectHandle handle) {
  int abort = 0;
  Dispatch<Effect>("abort", handle, NoArgs(), [&](Effect& effect, Host&) {
    abort = effect.AbortRequested() ? 1 : 0;
    return kOfxStatOK;
  });
  return abort;
}

// The instance is optional here: memory need not belong to an instance.
OfxStatus ImageMemoryAlloc(OfxImageEffectHandle instance, size_t size, OfxImageMemoryHandle* memory) {
  Target<Effect> target = Resolve<Effect>(instance);
  bool instance_usable = !instance || target.object;
  bool logging = target.host && target.host->Log().Enabled();
  return Run(
      target.host, "imageMemoryAlloc", logging ? LabelOf(target, instance) : std::string(),
      [&] { return Args(size); },
      [&](Host& host) {
        if (!instance_usable || !memory) return kOfxStatErrBadHandle;
        return host.AllocateMemory(size, memory);
      });
}

OfxStatus ImageMemoryFree(OfxImageMemoryHandle handle) {
  return Dispatch<MemoryBlock>("imageMemoryFree", handle, NoArgs(), [&](MemoryBlock& block, Host& host) {
    host.FreeMemory(block);
    return kOfxStatOK;
  });
}

OfxStatus ImageMemoryLock(OfxImageMemoryHandle handle, void** pointer) {
  return Dispatch<MemoryBlock>("imageMemoryLock", handle, NoArgs(), [&](MemoryBlock& block, Host&) {
    if (!pointer) return kOfxStatErrBadHandle;
    *pointer = block.Lock();
    return kOfxStatOK;
  });
}

OfxStatus ImageMemoryUnlock(OfxImageMemoryHandle handle) {
  return Dispatch<MemoryBlock>("imageMemoryUnlock", handle, NoArgs(), [&](MemoryBlock& block, Host&) {
    return block.Unlock() ? kOfxStatOK : kOfxStatFailed;
  });
}

constexpr OfxImageEffectSuiteV1 kImageEffectSuite = {
    GetPropertySet,   GetParamSet,      ClipDefine,      ClipGetHandle,     ClipGetPropertySet,
    ClipGetImage,     ClipReleaseImage, ClipGetRegionOfDefinition,          Abort,
    ImageMemoryAlloc, ImageMemoryFree,  ImageMemoryLock, ImageMemoryUnlock,
};

}  // namespace

const OfxImageEffectSuiteV1& ImageEffectSuite() { return kImageEffectSuite; }

}  // namespace lenstrove::host
