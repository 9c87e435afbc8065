// Fuzz target: describing and action dispatch. The input picks how the
// host misbehaves (suites missing, a null fetchSuite, functions or every
// call rejected, properties withheld) and then a short script of calls:
// any action string (or none) with any handle (null, a descriptor, an
// instance, an object of another kind, a destroyed instance, a pointer to
// no object at all) and any argument sets, fresh describes in any context
// name, and instances created and rendered under those faults.

#include <cstdint>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "effect.h"
#include "fuzz_support.h"
#include "handles.h"
#include "image.h"
#include "ofx/ofxParam.h"
#include "ofx/ofxProperty.h"
#include "status.h"

namespace {

using namespace lenstrove::host;
using lenstrove::fuzz::FuzzInput;
using lenstrove::fuzz::Session;

constexpr const char* kActions[] = {
    kOfxActionLoad,
    kOfxActionUnload,
    kOfxActionDescribe,
    kOfxImageEffectActionDescribeInContext,
    kOfxActionCreateInstance,
    kOfxActionDestroyInstance,
    kOfxActionInstanceChanged,
    kOfxActionBeginInstanceChanged,
    kOfxActionEndInstanceChanged,
    kOfxActionPurgeCaches,
    kOfxActionSyncPrivateData,
    kOfxImageEffectActionRender,
    kOfxImageEffectActionBeginSequenceRender,
    kOfxImageEffectActionEndSequenceRender,
    kOfxImageEffectActionGetRegionOfDefinition,
    kOfxImageEffectActionGetRegionsOfInterest,
    kOfxImageEffectActionGetClipPreferences,
    kOfxImageEffectActionIsIdentity,
    kOfxImageEffectActionGetTimeDomain,
};

constexpr const char* kContexts[] = {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral,
                                     kOfxImageEffectContextGenerator, kOfxImageEffectContextTransition};

// The host keeps one descriptor per context name, so describing takes its
// names from a fixed list (odd ones included) rather than from the input:
// endless fresh names would only grow the host.
constexpr const char* kDescribeContexts[] = {
    kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral, kOfxImageEffectContextGenerator,
    kOfxImageEffectContextTransition, "", "OfxImageEffectContextFilter ", "\xff\xfe", "OfxImageEffectContextPaint"};

constexpr const char* kSuiteNames[] = {kOfxPropertySuite, kOfxImageEffectSuite, kOfxParameterSuite};

constexpr const char* kSuiteFunctions[] = {
    "propSetPointer", "propSetString",  "propSetDouble",      "propSetInt",          "propGetPointer",
    "propGetString",  "propGetDouble",  "propGetInt",         "propGetIntN",         "propGetDimension",
    "getPropertySet", "getParamSet",    "clipDefine",         "clipGetHandle",       "clipGetImage",
    "clipReleaseImage", "paramDefine",  "paramGetHandle",     "paramGetValueAtTime", "paramGetValue",
    "clipGetPropertySet", "paramGetPropertySet"};

constexpr const char* kProperties[] = {
    kOfxPropLabel,          kOfxImageEffectPropSupportedContexts, kOfxImageEffectPropSupportedPixelDepths,
    kOfxImageEffectPropContext, kOfxPropTime,                     kOfxImageEffectPropRenderWindow,
    kOfxImagePropBounds,    kOfxImagePropData,                    kOfxImagePropRowBytes,
    kOfxImageEffectPropPixelDepth};

FaultPlan ReadFaults(FuzzInput& in) {
  FaultPlan plan;
  const uint32_t suites = in.U8();
  for (size_t i = 0; i < std::size(kSuiteNames); ++i)
    if (suites & (1u << i)) plan.missing_suites.insert(kSuiteNames[i]);
  plan.null_fetch_suite = in.Below(8) == 0;
  plan.reject_everything = in.Below(4) == 0;
  if (in.Bool()) {
    const uint32_t mask = in.U32();
    for (size_t i = 0; i < std::size(kSuiteFunctions); ++i)
      if (mask & (1u << i)) plan.rejected_functions.insert(kSuiteFunctions[i]);
  }
  if (in.Bool()) {
    const uint32_t mask = in.U32();
    for (size_t i = 0; i < std::size(kProperties); ++i)
      if (mask & (1u << i)) plan.withheld_properties.insert(kProperties[i]);
  }
  if (in.Bool()) plan.failing_param_handles.insert(in.String(24));
  return plan;
}

// Everything a script step may point at, kept alive for the whole input.
struct Objects {
  std::vector<Effect*> instances;
  std::vector<std::unique_ptr<PropertySet>> argumentSets;
  std::vector<std::unique_ptr<Registration>> registrations;
  std::vector<unsigned char> junk = std::vector<unsigned char>(64, 0xCD);
  const void* destroyedInstance = nullptr;
};

std::string ReadAction(FuzzInput& in, bool& isNull) {
  isNull = false;
  switch (in.Below(4)) {
    case 0: return in.String(48);
    case 1: isNull = true; return {};
    default: return kActions[in.Below(std::size(kActions))];
  }
}

const void* ReadHandle(FuzzInput& in, Session& session, Objects& objects) {
  Plugin& plugin = *session.plugin;
  switch (in.Below(9)) {
    case 0: return nullptr;
    case 1: return plugin.Descriptor().Handle();
    case 2: {
      Effect* described = plugin.ContextDescriptor(kContexts[in.Below(std::size(kContexts))]);
      return described != nullptr ? described->Handle() : nullptr;
    }
    case 3:
    case 4:
      if (!objects.instances.empty()) return objects.instances[in.Below(objects.instances.size())]->Handle();
      return nullptr;
    case 5: return objects.destroyedInstance;
    case 6: return objects.junk.data() + in.Below(static_cast<uint32_t>(objects.junk.size()));
    case 7: return session.host.Properties().Handle();  // a live object of another kind
    default: return reinterpret_cast<const void*>(static_cast<uintptr_t>(in.U32()) << 4);
  }
}

// An argument set as a host might build one, or something that is not.
OfxPropertySetHandle ReadArguments(FuzzInput& in, Session& session, Objects& objects) {
  switch (in.Below(6)) {
    case 0: return nullptr;
    case 1: return reinterpret_cast<OfxPropertySetHandle>(objects.junk.data());
    case 2: return session.host.Properties().Handle();
    default: break;
  }
  auto set = std::make_unique<PropertySet>("inArgs");
  set->Set(kOfxImageEffectPropContext, 0, in.Bool() ? std::string(kContexts[in.Below(4)]) : in.String(24));
  if (in.Bool()) set->Set(kOfxPropTime, 0, in.Double());
  if (in.Bool())
    set->SetN(kOfxImageEffectPropRenderWindow, PropertyType::kInt,
              {in.I32() % 64, in.I32() % 64, in.I32() % 64, in.I32() % 64});
  if (in.Bool()) set->Set(kOfxImageEffectPropRenderWindow, 0, in.String(8));
  OfxPropertySetHandle handle = set->Handle();
  objects.registrations.push_back(std::make_unique<Registration>(set.get(), HandleKind::kPropertySet, session.host));
  objects.argumentSets.push_back(std::move(set));
  return handle;
}

// A small render through the host's own render call, images included.
void RenderSmall(FuzzInput& in, Session& session, Effect& instance) {
  const int w = 1 + in.Below(24), h = 1 + in.Below(24);
  const bool byte = in.Bool();
  Image source({0, 0, w, h}, byte ? kOfxBitDepthByte : kOfxBitDepthFloat);
  Image output({0, 0, w, h}, byte ? kOfxBitDepthByte : kOfxBitDepthFloat);
  instance.GetClip(kOfxImageEffectSimpleSourceClipName).SetImage(in.Below(8) == 0 ? nullptr : &source);
  instance.GetClip(kOfxImageEffectOutputClipName).SetImage(in.Below(8) == 0 ? nullptr : &output);
  for (const auto& param : instance.Params().Params())
    if (param->Kind() == ValueKind::kInt) param->SetInt(in.Below(2));
  session.plugin->Render(instance, {static_cast<double>(in.U8()), {0, 0, w, h}});
  instance.GetClip(kOfxImageEffectSimpleSourceClipName).SetImage(nullptr);
  instance.GetClip(kOfxImageEffectOutputClipName).SetImage(nullptr);
  if (!source.GuardsIntact() || !output.GuardsIntact()) {
    std::fprintf(stderr, "render wrote outside the images\n");
    std::abort();
  }
  // Unless the host refused to take them back, every image went back.
  if (!session.host.Faults().Rejects("clipReleaseImage") && instance.ImagesOutstanding() != 0) {
    std::fprintf(stderr, "render kept images it never released\n");
    std::abort();
  }
}

void Step(FuzzInput& in, Session& session, Objects& objects) {
  Plugin& plugin = *session.plugin;
  switch (in.Below(6)) {
    case 0:
    case 1: {
      bool nullAction = false;
      const std::string action = ReadAction(in, nullAction);
      const void* handle = ReadHandle(in, session, objects);
      OfxPropertySetHandle inArgs = ReadArguments(in, session, objects);
      OfxPropertySetHandle outArgs = ReadArguments(in, session, objects);
      plugin.CallAction(nullAction ? nullptr : action.c_str(), handle, inArgs, outArgs);
      break;
    }
    case 2: plugin.Describe(); break;
    case 3: plugin.DescribeInContext(kDescribeContexts[in.Below(std::size(kDescribeContexts))]); break;
    case 4: {
      if (objects.instances.size() >= 4) break;
      Effect* described = plugin.ContextDescriptor(kContexts[in.Below(2)]);
      if (described == nullptr) break;
      Effect& instance = plugin.NewInstance(described->Context());
      if (plugin.CreateInstance(instance).Succeeded())
        objects.instances.push_back(&instance);
      else
        plugin.DiscardInstance(instance);
      break;
    }
    default:
      if (!objects.instances.empty()) RenderSmall(in, session, *objects.instances[in.Below(objects.instances.size())]);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Session::Get().host.Log().SetEnabled(true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Session& session = Session::Get();
  Plugin& plugin = *session.plugin;
  Objects objects;
  {
    // An instance destroyed before the script starts: its address names
    // nothing any more.
    Effect& gone = plugin.Instantiate(kOfxImageEffectContextFilter);
    objects.destroyedInstance = gone.Handle();
    plugin.DestroyInstance(gone);
  }
  session.host.Faults() = ReadFaults(in);
  try {
    plugin.SetHost();
    const int steps = 1 + in.Below(8);
    for (int i = 0; i < steps && in.Remaining() > 0; ++i) Step(in, session, objects);
  } catch (const lenstrove::host::HostError&) {
    // The host refusing the harness's own request (a context that was never
    // described, say) ends the script; it says nothing about the plug-in.
  }
  session.RestoreHost();
  for (Effect* instance : objects.instances) plugin.DestroyInstance(*instance);
  // Describing again with a host that behaves must work whatever came
  // before: the plug-in keeps no state that a hostile host can spoil.
  if (!plugin.Describe().Succeeded() || !plugin.DescribeInContext(kOfxImageEffectContextFilter).Succeeded()) {
    std::fprintf(stderr, "the plug-in no longer describes itself to a host that behaves\n");
    std::abort();
  }
  session.host.Log().Clear();
  return 0;
}
