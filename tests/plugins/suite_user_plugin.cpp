// A filter written the way plug-ins built on the standard's C++ support
// library behave, so the command's host can be tested against them: it
// fetches every suite at load and refuses to load without the ones such
// plug-ins require, reads the host's description, declares parameters of
// every type, asks for a depth and components in its clip preferences,
// can report identity, splits its rows over the multithread suite, and
// posts progress and messages.
//
// Its picture: output = source * Gain, per channel, in whatever depth and
// components it asked for. Parameters that steer it:
//   Depth       0 keep, 1 byte, 2 short, 3 float, 4 half (clip preferences)
//   Components  0 keep, 1 RGB, 2 Alpha
//   Premultiply 0 keep, 1 premultiplied, 2 straight (clip preferences); the
//               render fails when its source is not handed over that way
//   Grow        N: answers the source's region of definition grown by N
//               pixels on every side, and renders opaque black outside
//               the source
//   Identity    on: answers is identity with the source at the same time
//   Complain    on: posts an error message while rendering
//   Neighbour   N: scales the source at the frame N frames away instead
//               (it declares temporal clip access)
//   Ordered     on: checks each frame's actions against the standard's
//               order and fails the render after a step out of it
// Every other parameter is read at render time and checked against its
// default, so a host that hands back a wrong value fails the render.
//
// The module holds two more plug-ins: org.lenstrove.tests.UnsafeUser,
// the same filter declaring its renders unsafe, each of whose renders
// lingers a moment and fails when another render of it, from any instance,
// is running at the same time; and org.lenstrove.tests.ShortUser, the same
// filter declaring 16-bit integers as its only depth.

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "ofx/ofxCore.h"
#include "ofx/ofxImageEffect.h"
#include "ofx/ofxMemory.h"
#include "ofx/ofxMessage.h"
#include "ofx/ofxMultiThread.h"
#include "ofx/ofxParam.h"
#include "ofx/ofxProgress.h"
#include "ofx/ofxProperty.h"
#include "ofx/ofxTimeLine.h"

namespace {

OfxHost* gHost = nullptr;
const OfxPropertySuiteV1* gProps = nullptr;
const OfxImageEffectSuiteV1* gEffects = nullptr;
const OfxParameterSuiteV1* gParams = nullptr;
const OfxMemorySuiteV1* gMemory = nullptr;
const OfxMultiThreadSuiteV1* gThreads = nullptr;
const OfxMessageSuiteV1* gMessages = nullptr;
const OfxMessageSuiteV2* gMessagesV2 = nullptr;
const OfxProgressSuiteV1* gProgress = nullptr;
const OfxProgressSuiteV2* gProgressV2 = nullptr;
const OfxTimeLineSuiteV1* gTimeLine = nullptr;

template <class Suite>
const Suite* Fetch(const char* name, int version) {
  return static_cast<const Suite*>(gHost->fetchSuite(gHost->host, name, version));
}

OfxStatus Load() {
  gProps = Fetch<OfxPropertySuiteV1>(kOfxPropertySuite, 1);
  gEffects = Fetch<OfxImageEffectSuiteV1>(kOfxImageEffectSuite, 1);
  gParams = Fetch<OfxParameterSuiteV1>(kOfxParameterSuite, 1);
  gMemory = Fetch<OfxMemorySuiteV1>(kOfxMemorySuite, 1);
  gThreads = Fetch<OfxMultiThreadSuiteV1>(kOfxMultiThreadSuite, 1);
  gMessages = Fetch<OfxMessageSuiteV1>(kOfxMessageSuite, 1);
  gMessagesV2 = Fetch<OfxMessageSuiteV2>(kOfxMessageSuite, 2);
  gProgress = Fetch<OfxProgressSuiteV1>(kOfxProgressSuite, 1);
  gProgressV2 = Fetch<OfxProgressSuiteV2>(kOfxProgressSuite, 2);
  gTimeLine = Fetch<OfxTimeLineSuiteV1>(kOfxTimeLineSuite, 1);
  if (!gProps || !gEffects || !gParams || !gMemory || !gThreads || !gMessages) return kOfxStatErrMissingHostFeature;
  // The description such plug-ins read; a host lacking one of these fails.
  char* name = nullptr;
  int version = 0, tiles = 0, depths = 0;
  OfxPropertySetHandle host = gHost->host;
  if (gProps->propGetString(host, kOfxPropName, 0, &name) != kOfxStatOK ||
      gProps->propGetInt(host, kOfxPropAPIVersion, 0, &version) != kOfxStatOK ||
      gProps->propGetInt(host, kOfxImageEffectPropSupportsTiles, 0, &tiles) != kOfxStatOK ||
      gProps->propGetInt(host, kOfxImageEffectPropSupportsMultipleClipDepths, 0, &depths) != kOfxStatOK ||
      gProps->propGetInt(host, kOfxImageEffectPropSupportsOverlays, 0, &tiles) != kOfxStatOK) {
    return kOfxStatErrMissingHostFeature;
  }
  return version == 1 ? kOfxStatOK : kOfxStatErrMissingHostFeature;
}

OfxImageEffectHandle Effect(const void* handle) { return static_cast<OfxImageEffectHandle>(const_cast<void*>(handle)); }

const char* const kEveryDepth[] = {kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthHalf, kOfxBitDepthFloat};
const char* const kShortOnly[] = {kOfxBitDepthShort};

template <int DepthCount>
OfxStatus Describe(const void* handle, const char* threadSafety, const char* const (&depths)[DepthCount]) {
  OfxPropertySetHandle props = nullptr;
  gEffects->getPropertySet(Effect(handle), &props);
  gProps->propSetString(props, kOfxPropLabel, 0, "Suite User");
  gProps->propSetString(props, kOfxImageEffectPropSupportedContexts, 0, kOfxImageEffectContextFilter);
  gProps->propSetStringN(props, kOfxImageEffectPropSupportedPixelDepths, DepthCount, depths);
  gProps->propSetString(props, kOfxImageEffectPluginRenderThreadSafety, 0, threadSafety);
  gProps->propSetInt(props, kOfxImageEffectPropSupportsMultipleClipDepths, 0, 1);
  gProps->propSetInt(props, kOfxImageEffectPropTemporalClipAccess, 0, 1);
  return kOfxStatOK;
}

struct ParamDef {
  const char* type;
  const char* name;
};

// Every type the host offers; the scalar ones steer the render.
constexpr ParamDef kParams[] = {
    {kOfxParamTypePage, "Main"},         {kOfxParamTypeGroup, "Controls"},     {kOfxParamTypeDouble, "Gain"},
    {kOfxParamTypeInteger, "Depth"},     {kOfxParamTypeChoice, "Components"}, {kOfxParamTypeBoolean, "Identity"},
    {kOfxParamTypeBoolean, "Complain"},  {kOfxParamTypeInteger, "Neighbour"}, {kOfxParamTypeChoice, "Premultiply"},
    {kOfxParamTypeInteger, "Grow"},      {kOfxParamTypeBoolean, "Ordered"},
    {kOfxParamTypeRGBA, "Tint"},         {kOfxParamTypeRGB, "Lift"},
    {kOfxParamTypeDouble2D, "Centre"},   {kOfxParamTypeDouble3D, "Axis"},     {kOfxParamTypeInteger2D, "Size"},
    {kOfxParamTypeInteger3D, "Cells"},   {kOfxParamTypeString, "Note"},       {kOfxParamTypeCustom, "Curve"},
    {kOfxParamTypePushButton, "Reset"},
};

OfxStatus DescribeInContext(const void* handle) {
  for (const char* name : {kOfxImageEffectOutputClipName, kOfxImageEffectSimpleSourceClipName}) {
    OfxPropertySetHandle clip = nullptr;
    gEffects->clipDefine(Effect(handle), name, &clip);
    const char* components[] = {kOfxImageComponentRGBA, kOfxImageComponentRGB, kOfxImageComponentAlpha};
    gProps->propSetStringN(clip, kOfxImageEffectPropSupportedComponents, 3, components);
    gProps->propSetInt(clip, kOfxImageEffectPropTemporalClipAccess, 0, std::strcmp(name, "Source") == 0);
  }
  OfxParamSetHandle params = nullptr;
  gEffects->getParamSet(Effect(handle), &params);
  for (const ParamDef& def : kParams) {
    OfxPropertySetHandle p = nullptr;
    if (gParams->paramDefine(params, def.type, def.name, &p) != kOfxStatOK) return kOfxStatFailed;
    gProps->propSetString(p, kOfxParamPropParent, 0, std::strcmp(def.name, "Controls") ? "Controls" : "");
  }
  OfxPropertySetHandle p = nullptr;
  OfxParamHandle param = nullptr;
  gParams->paramGetHandle(params, "Gain", &param, &p);
  gProps->propSetDouble(p, kOfxParamPropDefault, 0, 1.0);
  gParams->paramGetHandle(params, "Components", &param, &p);
  const char* options[] = {"keep", "RGB", "Alpha"};
  gProps->propSetStringN(p, kOfxParamPropChoiceOption, 3, options);
  gParams->paramGetHandle(params, "Premultiply", &param, &p);
  const char* ways[] = {"keep", "premultiplied", "straight"};
  gProps->propSetStringN(p, kOfxParamPropChoiceOption, 3, ways);
  gParams->paramGetHandle(params, "Tint", &param, &p);
  const double tint[] = {0.25, 0.5, 0.75, 1.0};
  gProps->propSetDoubleN(p, kOfxParamPropDefault, 4, tint);
  gParams->paramGetHandle(params, "Size", &param, &p);
  const int size[] = {640, 480};
  gProps->propSetIntN(p, kOfxParamPropDefault, 2, size);
  gParams->paramGetHandle(params, "Note", &param, &p);
  gProps->propSetString(p, kOfxParamPropDefault, 0, "hello");
  return kOfxStatOK;
}

OfxParamHandle Param(OfxImageEffectHandle effect, const char* name) {
  OfxParamSetHandle params = nullptr;
  gEffects->getParamSet(effect, &params);
  OfxParamHandle param = nullptr;
  gParams->paramGetHandle(params, name, &param, nullptr);
  return param;
}

int IntParam(OfxImageEffectHandle effect, const char* name, OfxTime time) {
  int value = 0;
  gParams->paramGetValueAtTime(Param(effect, name), time, &value);
  return value;
}

// Reads every other parameter through the variadic getters; the name of
// the first one whose value is not its declared default, or null.
const char* WrongDefault(OfxImageEffectHandle effect, OfxTime time) {
  double r, g, b, a, x, y, z;
  int i, j, k;
  char* text = nullptr;
  auto get = [&](const char* name, auto... out) {
    return gParams->paramGetValueAtTime(Param(effect, name), time, out...) == kOfxStatOK;
  };
  if (!get("Tint", &r, &g, &b, &a) || r != 0.25 || g != 0.5 || b != 0.75 || a != 1.0) return "Tint";
  if (!get("Lift", &r, &g, &b) || r + g + b != 0) return "Lift";
  if (!get("Centre", &x, &y) || x + y != 0) return "Centre";
  if (!get("Axis", &x, &y, &z) || x + y + z != 0) return "Axis";
  if (!get("Size", &i, &j) || i != 640 || j != 480) return "Size";
  if (!get("Cells", &i, &j, &k) || i + j + k != 0) return "Cells";
  if (!get("Note", &text) || std::string(text) != "hello") return "Note";
  if (!get("Curve", &text) || text[0] != '\0') return "Curve";
  return nullptr;
}

const char* const kDepths[] = {nullptr, kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat, kOfxBitDepthHalf};
const char* const kComponents[] = {nullptr, kOfxImageComponentRGB, kOfxImageComponentAlpha};
const char* const kPremultiplications[] = {nullptr, kOfxImagePreMultiplied, kOfxImageUnPreMultiplied};

OfxStatus ClipPreferences(const void* handle, OfxPropertySetHandle out) {
  OfxImageEffectHandle effect = Effect(handle);
  int depth = IntParam(effect, "Depth", 0), components = IntParam(effect, "Components", 0);
  int premultiply = IntParam(effect, "Premultiply", 0);
  if (depth < 0 || depth > 4 || components < 0 || components > 2 || premultiply < 0 || premultiply > 2) {
    return kOfxStatFailed;
  }
  if (premultiply) gProps->propSetString(out, kOfxImageEffectPropPreMultiplication, 0, kPremultiplications[premultiply]);
  for (const char* clip : {"Source", "Output"}) {
    if (depth) gProps->propSetString(out, (std::string("OfxImageClipPropDepth_") + clip).c_str(), 0, kDepths[depth]);
    if (components) {
      gProps->propSetString(out, (std::string("OfxImageClipPropComponents_") + clip).c_str(), 0,
                            kComponents[components]);
    }
  }
  return kOfxStatOK;
}

OfxStatus RegionOfDefinition(const void* handle, OfxPropertySetHandle in, OfxPropertySetHandle out) {
  OfxImageEffectHandle effect = Effect(handle);
  double time = 0;
  gProps->propGetDouble(in, kOfxPropTime, 0, &time);
  const int grow = IntParam(effect, "Grow", time);
  if (grow == 0) return kOfxStatReplyDefault;
  OfxImageClipHandle source = nullptr;
  OfxRectD region{};
  if (gEffects->clipGetHandle(effect, "Source", &source, nullptr) != kOfxStatOK ||
      gEffects->clipGetRegionOfDefinition(source, time, &region) != kOfxStatOK) {
    return kOfxStatFailed;
  }
  const double grown[] = {region.x1 - grow, region.y1 - grow, region.x2 + grow, region.y2 + grow};
  gProps->propSetDoubleN(out, kOfxImageEffectPropRegionOfDefinition, 4, grown);
  return kOfxStatOK;
}

OfxStatus IsIdentity(const void* handle, OfxPropertySetHandle in, OfxPropertySetHandle out) {
  double time = 0;
  gProps->propGetDouble(in, kOfxPropTime, 0, &time);
  if (!IntParam(Effect(handle), "Identity", time)) return kOfxStatReplyDefault;
  gProps->propSetString(out, kOfxPropName, 0, kOfxImageEffectSimpleSourceClipName);
  gProps->propSetDouble(out, kOfxPropTime, 0, time);
  return kOfxStatOK;
}

struct Picture {
  char* data = nullptr;
  OfxRectI bounds{};
  int rowBytes = 0;
  int channelBytes = 0;
  int channels = 0;
  bool half = false;
};

bool ReadPicture(OfxPropertySetHandle image, Picture* picture) {
  char* depth = nullptr;
  char* components = nullptr;
  void* data = nullptr;
  if (gProps->propGetPointer(image, kOfxImagePropData, 0, &data) != kOfxStatOK ||
      gProps->propGetIntN(image, kOfxImagePropBounds, 4, &picture->bounds.x1) != kOfxStatOK ||
      gProps->propGetInt(image, kOfxImagePropRowBytes, 0, &picture->rowBytes) != kOfxStatOK ||
      gProps->propGetString(image, kOfxImageEffectPropPixelDepth, 0, &depth) != kOfxStatOK ||
      gProps->propGetString(image, kOfxImageEffectPropComponents, 0, &components) != kOfxStatOK) {
    return false;
  }
  picture->data = static_cast<char*>(data);
  std::string d = depth, c = components;
  picture->channelBytes = d == kOfxBitDepthByte ? 1 : d == kOfxBitDepthShort || d == kOfxBitDepthHalf ? 2 : 4;
  picture->half = d == kOfxBitDepthHalf;
  picture->channels = c == kOfxImageComponentRGBA ? 4 : c == kOfxImageComponentRGB ? 3 : 1;
  return true;
}

char* Address(const Picture& p, int x, int y) {
  return p.data + static_cast<std::ptrdiff_t>(y - p.bounds.y1) * p.rowBytes +
         static_cast<std::ptrdiff_t>(x - p.bounds.x1) * p.channels * p.channelBytes;
}

// What the row workers share.
struct Job {
  Picture source, output;
  OfxRectI window;
  double gain;
  OfxImageEffectHandle effect;
  OfxMutexHandle mutex;
  int rowsDone = 0;
  bool wrongThread = false;
};

// Half floats as far as this plug-in meets them: non-negative values
// below 2 (the host's pictures scaled by a gain of at most one).
float FromHalf(uint16_t bits) {
  const int exponent = bits >> 10;
  const float fraction = (bits & 0x3ff) / 1024.0f;
  return exponent == 0 ? std::ldexp(fraction, -14) : std::ldexp(1.0f + fraction, exponent - 15);
}

uint16_t ToHalf(float value) {
  if (value < std::ldexp(1.0f, -14)) return static_cast<uint16_t>(std::nearbyint(std::ldexp(value, 24)));
  int exponent = 0;
  const float fraction = std::frexp(value, &exponent);
  return static_cast<uint16_t>(((exponent + 14) << 10) + static_cast<int>(std::nearbyint(fraction * 2048.0f)) - 1024);
}

void ScaleChannel(const char* in, char* out, int bytes, bool half, double gain) {
  if (half) {
    uint16_t v;
    std::memcpy(&v, in, 2);
    v = ToHalf(static_cast<float>(FromHalf(v) * gain));
    std::memcpy(out, &v, 2);
  } else if (bytes == 1) {
    *reinterpret_cast<unsigned char*>(out) =
        static_cast<unsigned char>(std::fmin(255.0, std::nearbyint(*reinterpret_cast<const unsigned char*>(in) * gain)));
  } else if (bytes == 2) {
    uint16_t v;
    std::memcpy(&v, in, 2);
    v = static_cast<uint16_t>(std::fmin(65535.0, std::nearbyint(v * gain)));
    std::memcpy(out, &v, 2);
  } else {
    float v;
    std::memcpy(&v, in, 4);
    v = static_cast<float>(v * gain);
    std::memcpy(out, &v, 4);
  }
}

bool Inside(const OfxRectI& bounds, int x, int y) {
  return x >= bounds.x1 && x < bounds.x2 && y >= bounds.y1 && y < bounds.y2;
}

// Where the picture grew beyond its source: colour 0, alpha 1.
void FillOpaqueBlack(char* out, const Picture& picture) {
  const int bytes = picture.channelBytes;
  std::memset(out, 0, static_cast<size_t>(picture.channels * bytes));
  if (picture.channels == 3) return;
  char* alpha = out + (picture.channels - 1) * bytes;
  const uint16_t wide = picture.half ? 0x3c00 : 0xffff;
  const float one = 1.0f;
  if (bytes == 1) {
    *alpha = static_cast<char>(0xff);
  } else {
    std::memcpy(alpha, bytes == 2 ? static_cast<const void*>(&wide) : static_cast<const void*>(&one), bytes);
  }
}

void RenderRows(unsigned index, unsigned count, void* argument) {
  Job& job = *static_cast<Job*>(argument);
  unsigned self = 99;
  gThreads->multiThreadIndex(&self);
  if (self != index || !gThreads->multiThreadIsSpawnedThread()) job.wrongThread = true;
  int height = job.window.y2 - job.window.y1;
  int y1 = job.window.y1 + static_cast<int>(static_cast<long long>(height) * index / count);
  int y2 = job.window.y1 + static_cast<int>(static_cast<long long>(height) * (index + 1) / count);
  int bytes = job.output.channelBytes;
  for (int y = y1; y < y2; ++y) {
    for (int x = job.window.x1; x < job.window.x2; ++x) {
      char* out = Address(job.output, x, y);
      if (!Inside(job.source.bounds, x, y)) {
        FillOpaqueBlack(out, job.output);
        continue;
      }
      const char* in = Address(job.source, x, y);
      for (int c = 0; c < job.output.channels; ++c) {
        ScaleChannel(in + c * bytes, out + c * bytes, bytes, job.output.half, job.gain);
      }
    }
    gThreads->mutexLock(job.mutex);
    int done = ++job.rowsDone;
    gThreads->mutexUnLock(job.mutex);
    if (gProgress) gProgress->progressUpdate(job.effect, double(done) / (job.window.y2 - job.window.y1));
  }
}

// What is wrong with the source's premultiplication when it is not the
// way the plug-in asked for it, or null.
const char* WrongPremultiplication(OfxImageEffectHandle effect, OfxPropertySetHandle source, OfxTime time) {
  int asked = IntParam(effect, "Premultiply", time);
  char* way = nullptr;
  if (asked == 0 || gProps->propGetString(source, kOfxImageEffectPropPreMultiplication, 0, &way) != kOfxStatOK) {
    return nullptr;
  }
  // An opaque source is the same either way.
  if (std::strcmp(way, kPremultiplications[asked]) == 0 || std::strcmp(way, kOfxImageOpaque) == 0) return nullptr;
  return asked == 1 ? "straight, not premultiplied" : "premultiplied, not straight";
}

// Renders of the unsafe plug-in running now, in the whole process.
std::atomic<int> gUnsafeRenders{0};

// Where each instance stands in the actions of a frame: regions of
// definition and interest, frames needed, is identity, then begin sequence,
// renders and end sequence (none of those after an identity answer).
enum class Step { kIdle, kDefinition, kInterest, kFramesNeeded, kIdentity, kBegun };
struct Order {
  Step now = Step::kIdle;
  std::string fault;  // the first step out of order
};
std::mutex gOrderMutex;
std::map<const void*, Order> gOrders;

bool Ordered(const void* handle) { return IntParam(Effect(handle), "Ordered", 0) != 0; }

void Track(const std::string& action, const void* handle) {
  Step next;
  if (action == kOfxImageEffectActionGetRegionOfDefinition) next = Step::kDefinition;
  else if (action == kOfxImageEffectActionGetRegionsOfInterest) next = Step::kInterest;
  else if (action == kOfxImageEffectActionGetFramesNeeded) next = Step::kFramesNeeded;
  else if (action == kOfxImageEffectActionIsIdentity) next = Step::kIdentity;
  else if (action == kOfxImageEffectActionBeginSequenceRender) next = Step::kBegun;
  else if (action == kOfxImageEffectActionEndSequenceRender) next = Step::kIdle;
  else return;
  if (!Ordered(handle)) return;
  std::lock_guard<std::mutex> lock(gOrderMutex);
  Order& order = gOrders[handle];
  const bool inOrder = next == Step::kDefinition ? order.now != Step::kInterest && order.now != Step::kFramesNeeded &&
                                                       order.now != Step::kBegun
                       : next == Step::kIdle     ? order.now == Step::kBegun
                                                 : static_cast<int>(order.now) == static_cast<int>(next) - 1;
  if (!inOrder && order.fault.empty()) order.fault = action + " came out of order";
  order.now = next;
}

// Why a render now breaks the order, or empty.
std::string RenderOutOfOrder(const void* handle) {
  if (!Ordered(handle)) return {};
  std::lock_guard<std::mutex> lock(gOrderMutex);
  const Order& order = gOrders[handle];
  if (!order.fault.empty()) return order.fault;
  return order.now == Step::kBegun ? std::string() : "a render came outside begin and end sequence";
}

OfxStatus Render(const void* handle, OfxPropertySetHandle in) {
  OfxImageEffectHandle effect = Effect(handle);
  if (const std::string fault = RenderOutOfOrder(handle); !fault.empty()) {
    gMessages->message(effect, kOfxMessageError, "", "%s", fault.c_str());
    return kOfxStatFailed;
  }
  double time = 0;
  gProps->propGetDouble(in, kOfxPropTime, 0, &time);
  Job job{};
  job.effect = effect;
  gProps->propGetIntN(in, kOfxImageEffectPropRenderWindow, 4, &job.window.x1);
  gParams->paramGetValueAtTime(Param(effect, "Gain"), time, &job.gain);
  if (IntParam(effect, "Complain", time)) {
    gMessages->message(effect, kOfxMessageError, "", "the picture at frame %g is not good enough", time);
  }
  if (const char* wrong = WrongDefault(effect, time)) {
    gMessages->message(effect, kOfxMessageError, "", "parameter %s did not read back as declared", wrong);
    return kOfxStatFailed;
  }
  OfxImageClipHandle sourceClip = nullptr, outputClip = nullptr;
  gEffects->clipGetHandle(effect, "Source", &sourceClip, nullptr);
  gEffects->clipGetHandle(effect, "Output", &outputClip, nullptr);
  OfxPropertySetHandle source = nullptr, output = nullptr;
  const double sourceTime = time + IntParam(effect, "Neighbour", time);
  if (gEffects->clipGetImage(sourceClip, sourceTime, nullptr, &source) != kOfxStatOK) {
    gMessages->message(effect, kOfxMessageError, "", "no source frame at time %g", sourceTime);
    return kOfxStatFailed;
  }
  if (gEffects->clipGetImage(outputClip, time, nullptr, &output) != kOfxStatOK) {
    gEffects->clipReleaseImage(source);
    return kOfxStatFailed;
  }
  OfxStatus status = kOfxStatOK;
  if (!ReadPicture(source, &job.source) || !ReadPicture(output, &job.output) ||
      job.source.channelBytes != job.output.channelBytes || job.source.channels != job.output.channels ||
      job.source.half != job.output.half) {
    status = kOfxStatErrImageFormat;
  } else if (const char* wrong = WrongPremultiplication(effect, source, time)) {
    gMessages->message(effect, kOfxMessageError, "", "the source came %s", wrong);
    status = kOfxStatFailed;
  } else {
    // Scratch memory from the host, as support-library plug-ins take it.
    void* scratch = nullptr;
    if (gMemory->memoryAlloc(handle ? const_cast<void*>(handle) : nullptr, 1024, &scratch) != kOfxStatOK) {
      status = kOfxStatErrMemory;
    } else {
      gMemory->memoryFree(scratch);
    }
    unsigned cpus = 0;
    gThreads->multiThreadNumCPUs(&cpus);
    gThreads->mutexCreate(&job.mutex, 0);
    if (gProgressV2) gProgressV2->progressStart(effect, "Scaling", "scale");
    if (gThreads->multiThread(RenderRows, cpus < 3 ? 3 : cpus, &job) != kOfxStatOK) status = kOfxStatFailed;
    if (gProgressV2) gProgressV2->progressEnd(effect);
    gThreads->mutexDestroy(job.mutex);
    if (job.wrongThread || job.rowsDone != job.window.y2 - job.window.y1) {
      gMessages->message(effect, kOfxMessageError, "", "the host's threads did not cover every row once");
    }
  }
  gEffects->clipReleaseImage(source);
  gEffects->clipReleaseImage(output);
  return status;
}

// One render of the unsafe plug-in: it stays inside long enough that a
// host letting two run at once would almost surely be caught.
OfxStatus UnsafeRender(const void* handle, OfxPropertySetHandle in) {
  const bool alone = ++gUnsafeRenders == 1;
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  OfxStatus status = Render(handle, in);
  if (--gUnsafeRenders != 0 || !alone) {
    gMessages->message(const_cast<void*>(handle), kOfxMessageError, "", "another unsafe render ran at the same time");
  }
  return status;
}

OfxStatus MainEntry(const char* action, const void* handle, OfxPropertySetHandle in, OfxPropertySetHandle out) {
  std::string a = action;
  if (a == kOfxActionLoad) return Load();
  Track(a, handle);
  if (a == kOfxActionDestroyInstance) {
    std::lock_guard<std::mutex> lock(gOrderMutex);
    gOrders.erase(handle);
  }
  if (a == kOfxActionDescribe) return Describe(handle, kOfxImageEffectRenderFullySafe, kEveryDepth);
  if (a == kOfxImageEffectActionDescribeInContext) return DescribeInContext(handle);
  if (a == kOfxImageEffectActionGetClipPreferences) return ClipPreferences(handle, out);
  if (a == kOfxImageEffectActionIsIdentity) return IsIdentity(handle, in, out);
  if (a == kOfxImageEffectActionGetRegionOfDefinition) return RegionOfDefinition(handle, in, out);
  if (a == kOfxImageEffectActionRender) return Render(handle, in);
  if (a == kOfxActionInstanceChanged) {
    char* name = nullptr;
    char* reason = nullptr;
    gProps->propGetString(in, kOfxPropName, 0, &name);
    gProps->propGetString(in, kOfxPropChangeReason, 0, &reason);
    if (gMessagesV2) gMessagesV2->message(const_cast<void*>(handle), kOfxMessageLog, "", "%s changed (%s)", name, reason);
    return kOfxStatOK;
  }
  return kOfxStatReplyDefault;
}

OfxStatus UnsafeMainEntry(const char* action, const void* handle, OfxPropertySetHandle in, OfxPropertySetHandle out) {
  std::string a = action;
  if (a == kOfxActionDescribe) return Describe(handle, kOfxImageEffectRenderUnsafe, kEveryDepth);
  if (a == kOfxImageEffectActionRender) return UnsafeRender(handle, in);
  return MainEntry(action, handle, in, out);
}

// A render of the 16-bit plug-in handed clips of any other depth fails.
OfxStatus ShortRender(const void* handle, OfxPropertySetHandle in) {
  for (const char* name : {kOfxImageEffectSimpleSourceClipName, kOfxImageEffectOutputClipName}) {
    OfxImageClipHandle clip = nullptr;
    OfxPropertySetHandle props = nullptr;
    char* depth = nullptr;
    if (gEffects->clipGetHandle(Effect(handle), name, &clip, nullptr) != kOfxStatOK ||
        gEffects->clipGetPropertySet(clip, &props) != kOfxStatOK ||
        gProps->propGetString(props, kOfxImageEffectPropPixelDepth, 0, &depth) != kOfxStatOK ||
        std::string(depth) != kOfxBitDepthShort) {
      gMessages->message(const_cast<void*>(handle), kOfxMessageError, "", "clip %s is not 16-bit", name);
      return kOfxStatFailed;
    }
  }
  return Render(handle, in);
}

OfxStatus ShortMainEntry(const char* action, const void* handle, OfxPropertySetHandle in, OfxPropertySetHandle out) {
  const std::string a = action;
  if (a == kOfxActionDescribe) return Describe(handle, kOfxImageEffectRenderFullySafe, kShortOnly);
  if (a == kOfxImageEffectActionRender) return ShortRender(handle, in);
  return MainEntry(action, handle, in, out);
}

void SetHost(OfxHost* host) { gHost = host; }

OfxPlugin gPlugins[] = {
    {kOfxImageEffectPluginApi, 1, "org.lenstrove.tests.SuiteUser", 1, 0, SetHost, MainEntry},
    {kOfxImageEffectPluginApi, 1, "org.lenstrove.tests.UnsafeUser", 1, 0, SetHost, UnsafeMainEntry},
    {kOfxImageEffectPluginApi, 1, "org.lenstrove.tests.ShortUser", 1, 0, SetHost, ShortMainEntry},
};

}  // namespace

extern "C" {
OfxExport int OfxGetNumberOfPlugins(void) { return 3; }
OfxExport OfxPlugin* OfxGetPlugin(int nth) { return nth >= 0 && nth < 3 ? &gPlugins[nth] : nullptr; }
}
