// The render action: fetch both images, read their layout, the render window,
// the picture's frame and the parameters, work out the frame's geometry once, run the pixel loop
// and give the images back. The host calls below are made in a fixed order
// that hosts and their tests may observe; no host function is called inside
// the pixel loop.

#include <cstring>

#include "actions.h"
#include "entry/host_suites.h"
#include "render/frame_geometry.h"
#include "render/pixel_loop.h"
#include "render/render_settings.h"

namespace lenstrove {
namespace {

struct FrameImages {
  OfxImageClipHandle sourceClip = nullptr;
  OfxPropertySetHandle source = nullptr;
  OfxPropertySetHandle output = nullptr;
};

OfxImageClipHandle GetClip(const OfxImageEffectSuiteV1& effects, OfxImageEffectHandle instance, const char* name) {
  OfxImageClipHandle clip = nullptr;
  effects.clipGetHandle(instance, name, &clip, nullptr);
  return clip;
}

OfxPropertySetHandle GetImage(const OfxImageEffectSuiteV1& effects, OfxImageClipHandle clip, OfxTime time) {
  OfxPropertySetHandle image = nullptr;
  // A clip the host could not find has no image to ask for.
  if (clip != nullptr) effects.clipGetImage(clip, time, nullptr, &image);
  return image;
}

FrameImages FetchImages(const OfxImageEffectSuiteV1& effects, OfxImageEffectHandle instance, OfxTime time) {
  const OfxImageClipHandle source = GetClip(effects, instance, kOfxImageEffectSimpleSourceClipName);
  const OfxImageClipHandle output = GetClip(effects, instance, kOfxImageEffectOutputClipName);
  FrameImages images;
  images.sourceClip = source;
  images.source = GetImage(effects, source, time);
  images.output = GetImage(effects, output, time);
  return images;
}

void ReleaseImages(const OfxImageEffectSuiteV1& effects, const FrameImages& images) {
  if (images.source != nullptr) effects.clipReleaseImage(images.source);
  if (images.output != nullptr) effects.clipReleaseImage(images.output);
}

// Float when the output's depth names it, or when a source row is wide
// enough for float pixels: some hosts report no depth at all.
PixelLayout DecidePixelLayout(const char* outputDepth, const FrameGeometry& geometry) {
  if (outputDepth != nullptr && std::strstr(outputDepth, "Float") != nullptr) return PixelLayout::FloatRGBA;
  const int64_t width = RectWidth(geometry.SourceBounds);
  if (width > 0 && int64_t{geometry.SourceRowBytes} >= 16 * width) return PixelLayout::FloatRGBA;
  return PixelLayout::ByteRGBA;
}

int* AsInts(OfxRectI& rect) { return &rect.x1; }

// The picture the overlays are placed on: the source clip's region of
// definition, in pixels at this render's scale. An image's bounds are not
// the picture: a tiling host may hand out images that hold one tile only.
OfxRectI ReadFrame(const HostSuites& suites, OfxPropertySetHandle inArgs, OfxTime time, const FrameImages& images,
                   const OfxRectI& sourceBounds) {
  PictureDescription picture;
  double scale[2] = {1.0, 1.0};
  if (suites.property->propGetDoubleN(inArgs, kOfxImageEffectPropRenderScale, 2, scale) == kOfxStatOK) {
    picture.scaleX = UsableRatio(scale[0]);
    picture.scaleY = UsableRatio(scale[1]);
  }
  double aspect = 1.0;
  if (suites.property->propGetDouble(images.source, kOfxImagePropPixelAspectRatio, 0, &aspect) == kOfxStatOK)
    picture.pixelAspect = UsableRatio(aspect);
  picture.regionKnown = suites.imageEffect->clipGetRegionOfDefinition(images.sourceClip, time, &picture.region) ==
                        kOfxStatOK;
  return PixelFrame(picture, sourceBounds);
}

void RenderImages(const HostSuites& suites, OfxImageEffectHandle instance, OfxPropertySetHandle inArgs,
                  OfxTime time, const FrameImages& images) {
  const OfxPropertySuiteV1& props = *suites.property;
  FrameGeometry geometry;
  char* outputDepth = nullptr;
  props.propGetString(images.output, kOfxImageEffectPropPixelDepth, 0, &outputDepth);
  props.propGetInt(images.source, kOfxImagePropRowBytes, 0, &geometry.SourceRowBytes);
  props.propGetIntN(images.source, kOfxImagePropBounds, 4, AsInts(geometry.SourceBounds));
  const PixelLayout layout = DecidePixelLayout(outputDepth, geometry);

  void* sourceData = nullptr;
  void* outputData = nullptr;
  props.propGetPointer(images.source, kOfxImagePropData, 0, &sourceData);
  props.propGetPointer(images.output, kOfxImagePropData, 0, &outputData);
  props.propGetInt(images.output, kOfxImagePropRowBytes, 0, &geometry.OutputRowBytes);
  props.propGetIntN(images.output, kOfxImagePropBounds, 4, AsInts(geometry.OutputBounds));

  geometry.RenderWindow = geometry.SourceBounds;
  props.propGetIntN(inArgs, kOfxImageEffectPropRenderWindow, 4, AsInts(geometry.RenderWindow));
  geometry.Frame = ReadFrame(suites, inArgs, time, images, geometry.SourceBounds);

  const RenderSettings settings = ReadRenderSettings(suites, instance, time);
  ComputeDerivedGeometry(settings, geometry);

  const ImagePlane source{static_cast<unsigned char*>(sourceData), geometry.SourceRowBytes, geometry.SourceBounds};
  const ImagePlane output{static_cast<unsigned char*>(outputData), geometry.OutputRowBytes, geometry.OutputBounds};
  if (const auto job = PlanPixelJob(layout, source, output, geometry.RenderWindow))
    RunPixelLoop(*job, geometry, settings);
}

}  // namespace

OfxStatus RenderFrame(OfxImageEffectHandle instance, OfxPropertySetHandle inArgs, OfxPropertySetHandle) {
  const HostSuites& suites = gHostSuites;
  if (suites.property == nullptr || suites.imageEffect == nullptr) return kOfxStatErrMissingHostFeature;

  OfxTime time = 0.0;
  suites.property->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  const FrameImages images = FetchImages(*suites.imageEffect, instance, time);
  if (images.source != nullptr && images.output != nullptr) RenderImages(suites, instance, inArgs, time, images);
  ReleaseImages(*suites.imageEffect, images);
  return kOfxStatOK;
}

}  // namespace lenstrove
