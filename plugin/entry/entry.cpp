// The module's face to the host: the two exported functions, the plug-in
// descriptor, setHost and the action dispatch.

#include <cstring>

#include "actions.h"
#include "entry/host_suites.h"

namespace lenstrove {
namespace {

constexpr const char* kPluginIdentifier = "com.Qel.Lenstrove.V111";
constexpr unsigned int kPluginVersionMajor = 1;
constexpr unsigned int kPluginVersionMinor = 11;

void SetHost(OfxHost* host) { BindHostSuites(host); }

using ActionHandler = OfxStatus (*)(const void* handle, OfxPropertySetHandle inArgs,
                                    OfxPropertySetHandle outArgs);

OfxImageEffectHandle EffectHandle(const void* handle) {
  return static_cast<OfxImageEffectHandle>(const_cast<void*>(handle));
}

OfxStatus Succeed(const void*, OfxPropertySetHandle, OfxPropertySetHandle) { return kOfxStatOK; }

OfxStatus OnDescribe(const void* handle, OfxPropertySetHandle, OfxPropertySetHandle) {
  return DescribePlugin(EffectHandle(handle));
}

OfxStatus OnDescribeInContext(const void* handle, OfxPropertySetHandle inArgs, OfxPropertySetHandle) {
  return DescribeInContext(EffectHandle(handle), inArgs);
}

OfxStatus OnRender(const void* handle, OfxPropertySetHandle inArgs, OfxPropertySetHandle outArgs) {
  return RenderFrame(EffectHandle(handle), inArgs, outArgs);
}

struct ActionRoute {
  const char* action;
  ActionHandler handler;
};

// Matched in this order, byte for byte; every action not listed gets the
// host's own default. The plug-in keeps nothing per instance, so creating an
// instance or changing a parameter needs no work.
constexpr ActionRoute kActionRoutes[] = {
    {kOfxActionLoad, Succeed},
    {kOfxActionUnload, Succeed},
    {kOfxActionDescribe, OnDescribe},
    {kOfxImageEffectActionDescribeInContext, OnDescribeInContext},
    {kOfxActionInstanceChanged, Succeed},
    {kOfxImageEffectActionRender, OnRender},
    {kOfxActionCreateInstance, Succeed},
};

OfxStatus MainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                    OfxPropertySetHandle outArgs) {
  if (action == nullptr) return kOfxStatReplyDefault;
  for (const ActionRoute& route : kActionRoutes) {
    if (std::strcmp(action, route.action) == 0) return route.handler(handle, inArgs, outArgs);
  }
  return kOfxStatReplyDefault;
}

OfxPlugin gDescriptor;

}  // namespace
}  // namespace lenstrove

extern "C" {

OfxExport int OfxGetNumberOfPlugins(void) { return 1; }

// Every call with 0 writes the same constants again, so a host thread that
// reads the record while another asks for it always sees the same values.
OfxExport OfxPlugin* OfxGetPlugin(int nth) {
  using namespace lenstrove;
  if (nth != 0) return nullptr;
  gDescriptor.pluginApi = kOfxImageEffectPluginApi;
  gDescriptor.apiVersion = kOfxImageEffectPluginApiVersion;
  gDescriptor.pluginIdentifier = kPluginIdentifier;
  gDescriptor.pluginVersionMajor = kPluginVersionMajor;
  gDescriptor.pluginVersionMinor = kPluginVersionMinor;
  gDescriptor.setHost = SetHost;
  gDescriptor.mainEntry = MainEntry;
  return &gDescriptor;
}

}  // extern "C"
