// The describe action: what the host shows for the plug-in and which depths
// and contexts it may use it in.

#include "actions.h"
#include "entry/host_suites.h"

namespace lenstrove {
namespace {

struct StringProperty {
  const char* name;
  int index;
  const char* value;
};

constexpr StringProperty kPluginProperties[] = {
    {kOfxPropLabel, 0, " ~ Qel Lenstrove ~ "},
    {kOfxImageEffectPluginPropGrouping, 0, "Marrowdale Plugins!"},
    {kOfxImageEffectPropSupportedPixelDepths, 0, kOfxBitDepthByte},
    {kOfxImageEffectPropSupportedPixelDepths, 1, kOfxBitDepthFloat},
    {kOfxImageEffectPropSupportedContexts, 0, kOfxImageEffectContextFilter},
    {kOfxImageEffectPropSupportedContexts, 1, kOfxImageEffectContextGeneral},
};

}  // namespace

OfxStatus DescribePlugin(OfxImageEffectHandle descriptor) {
  const HostSuites& suites = gHostSuites;
  if (suites.property == nullptr || suites.imageEffect == nullptr) return kOfxStatErrMissingHostFeature;

  OfxPropertySetHandle properties = nullptr;
  // Without the descriptor's property set nothing can be declared; saying so
  // is better than letting the host believe the plug-in has no depths.
  if (suites.imageEffect->getPropertySet(descriptor, &properties) != kOfxStatOK || properties == nullptr)
    return kOfxStatFailed;

  for (const StringProperty& p : kPluginProperties)
    suites.property->propSetString(properties, p.name, p.index, p.value);
  return kOfxStatOK;
}

}  // namespace lenstrove
