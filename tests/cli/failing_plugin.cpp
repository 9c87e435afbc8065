// Minimal filter plug-ins for the command's tests: they describe themselves
// like any filter, then org.lenstrove.tests.AlwaysFails answers
// kOfxStatFailed to every render, so the test can check how the command
// reports a plug-in that answers an error, and
// org.lenstrove.tests.CrashesRendering writes to an unmapped address in
// every render, so it can check what a crash leaves behind;
// org.lenstrove.tests.ThrowsOutOfDescribe lets a C++ exception out of its
// describe action, through the C interface, which the host must survive.

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <stdexcept>

#include "ofx/ofxCore.h"
#include "ofx/ofxImageEffect.h"
#include "ofx/ofxParam.h"
#include "ofx/ofxProperty.h"

namespace {

const OfxPropertySuiteV1* gProperties = nullptr;
const OfxImageEffectSuiteV1* gEffects = nullptr;
const OfxParameterSuiteV1* gParameters = nullptr;

void SetHost(OfxHost* host) {
  gProperties = static_cast<const OfxPropertySuiteV1*>(host->fetchSuite(host->host, kOfxPropertySuite, 1));
  gEffects = static_cast<const OfxImageEffectSuiteV1*>(host->fetchSuite(host->host, kOfxImageEffectSuite, 1));
  gParameters = static_cast<const OfxParameterSuiteV1*>(host->fetchSuite(host->host, kOfxParameterSuite, 1));
}

OfxImageEffectHandle Effect(const void* handle) {
  return static_cast<OfxImageEffectHandle>(const_cast<void*>(handle));
}

OfxStatus Describe(const void* handle) {
  OfxPropertySetHandle props = nullptr;
  gEffects->getPropertySet(Effect(handle), &props);
  gProperties->propSetString(props, kOfxPropLabel, 0, "Always Fails");
  gProperties->propSetString(props, kOfxImageEffectPluginPropGrouping, 0, "Lenstrove Tests");
  gProperties->propSetString(props, kOfxImageEffectPropSupportedContexts, 0, kOfxImageEffectContextFilter);
  gProperties->propSetString(props, kOfxImageEffectPropSupportedPixelDepths, 0, kOfxBitDepthFloat);
  return kOfxStatOK;
}

OfxStatus DescribeInContext(const void* handle) {
  for (const char* name : {kOfxImageEffectOutputClipName, kOfxImageEffectSimpleSourceClipName}) {
    OfxPropertySetHandle clip = nullptr;
    gEffects->clipDefine(Effect(handle), name, &clip);
    gProperties->propSetString(clip, kOfxImageEffectPropSupportedComponents, 0, kOfxImageComponentRGBA);
  }
  OfxParamSetHandle params = nullptr;
  gEffects->getParamSet(Effect(handle), &params);
  OfxPropertySetHandle gain = nullptr;
  gParameters->paramDefine(params, kOfxParamTypeDouble, "Gain", &gain);
  gProperties->propSetDouble(gain, kOfxParamPropDefault, 0, 1.0);
  return kOfxStatOK;
}

// An address no process maps, read through a volatile pointer so that no
// compiler can see it and turn the write into a trap instruction; not null,
// so that a sanitizer's null check does not turn the crash into an exit
// status.
int* volatile gNowhere = reinterpret_cast<int*>(std::uintptr_t{64});

template <bool kCrash>
OfxStatus MainEntry(const char* action, const void* handle, OfxPropertySetHandle, OfxPropertySetHandle) {
  if (std::strcmp(action, kOfxActionDescribe) == 0) return Describe(handle);
  if (std::strcmp(action, kOfxImageEffectActionDescribeInContext) == 0) return DescribeInContext(handle);
  if (std::strcmp(action, kOfxImageEffectActionRender) == 0) {
    if (kCrash) *gNowhere = 1;
    return kOfxStatFailed;
  }
  return kOfxStatReplyDefault;
}

OfxStatus ThrowingEntry(const char* action, const void*, OfxPropertySetHandle, OfxPropertySetHandle) {
  if (std::strcmp(action, kOfxActionDescribe) == 0) throw std::runtime_error("no description today");
  return kOfxStatReplyDefault;
}

OfxPlugin gPlugins[] = {
    {kOfxImageEffectPluginApi, 1, "org.lenstrove.tests.AlwaysFails", 2, 5, SetHost, MainEntry<false>},
    {kOfxImageEffectPluginApi, 1, "org.lenstrove.tests.CrashesRendering", 1, 0, SetHost, MainEntry<true>},
    {kOfxImageEffectPluginApi, 1, "org.lenstrove.tests.ThrowsOutOfDescribe", 1, 0, SetHost, ThrowingEntry},
};
constexpr int kPluginCount = sizeof gPlugins / sizeof gPlugins[0];

}  // namespace

extern "C" {
OfxExport int OfxGetNumberOfPlugins(void) { return kPluginCount; }
OfxExport OfxPlugin* OfxGetPlugin(int nth) { return nth >= 0 && nth < kPluginCount ? &gPlugins[nth] : nullptr; }
}
