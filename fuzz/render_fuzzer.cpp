// Fuzz target: one render action in which the input decides everything a
// host controls. Both images' bounds, row bytes, depth string and data
// pointer, whether the host has an image at all, properties it withholds or
// hands out with the wrong type or size, the render window and time, every
// parameter value (NaN, infinities, values outside the declared range,
// keyframes), parameter look-ups and suite functions that fail, and suites
// the host lacks.
//
// The host is lying only in what it says, never in what it has: each image
// really owns the memory its claims describe, fenced by inaccessible pages,
// so a plug-in that stays inside what it was told never faults, and one
// that strays faults on the spot. After the render the harness also checks
// that every image went back and that no output row outside the render
// window was written.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
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
using lenstrove::fuzz::GuardedBuffer;
using lenstrove::fuzz::Session;

// Per image. Larger frames reach no code that smaller ones miss, and two of
// them with their guards stay far below the 256 MiB an input may use.
constexpr int64_t kMaxImageBytes = int64_t{16} << 20;

constexpr const char* kSwitchParams[] = {
    "ShowSkinTonePatches", "ShowSkinToneLine", "ShowMiddleGray", "LegalizeLevels",
    "FalseColorMode",      "GuideThirds",      "GuideGolden",    "GuideCrosshair",
    "Crop185",             "Crop235",          "Crop239"};
constexpr const char* kDoubleParams[] = {"CropOpacity", "LineThickness", "SkinLinePos", "GrayLinePos"};

constexpr const char* kWithholdable[] = {
    kOfxImagePropBounds,           kOfxImagePropRowBytes,          kOfxImagePropData,
    kOfxImageEffectPropPixelDepth, kOfxImageEffectPropRenderWindow, kOfxPropTime,
    kOfxImageEffectPropComponents, kOfxImageEffectPropRenderScale};

constexpr const char* kRejectable[] = {
    "clipGetHandle",  "clipGetImage",        "clipReleaseImage", "getParamSet",    "paramGetHandle",
    "paramGetValue",  "paramGetValueAtTime", "propGetInt",       "propGetIntN",    "propGetPointer",
    "propGetString",  "propGetDouble",       "propGetDimension", "getPropertySet", "clipGetPropertySet"};

constexpr const char* kSuites[] = {kOfxPropertySuite, kOfxImageEffectSuite, kOfxParameterSuite};

int32_t Wrap(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

int32_t Coordinate(FuzzInput& in) {
  switch (in.Below(4)) {
    case 0: return static_cast<int8_t>(in.U8());
    case 1: return in.I32();
    case 2: return std::numeric_limits<int32_t>::max() - in.U8();
    default: return std::numeric_limits<int32_t>::min() + in.U8();
  }
}

// The far edge: usually a small extent, sometimes any value at all.
int32_t FarEdge(FuzzInput& in, int32_t near) {
  switch (in.Below(4)) {
    case 0: return in.I32();
    case 1: return Wrap(int64_t{near} - in.Below(8));
    default: return Wrap(int64_t{near} + in.Below(80));
  }
}

// What the host says about one image, and what it really stores.
struct ImageClaim {
  OfxRectI bounds{0, 0, 0, 0};
  int32_t rowBytes = 0;
  std::optional<std::string> depth;  // none: the property is left out
  int64_t storedPixelBytes = 16;     // what a pixel really takes in memory
  enum class Data { Real, Null, Absent, WrongType } data = Data::Real;
  bool noImage = false;              // clipGetImage fails
  bool boundsWrongSize = false;      // bounds with only two values
  bool againstUpperGuard = true;

  int64_t Width() const { return std::max<int64_t>(0, int64_t{bounds.x2} - bounds.x1); }
  int64_t Height() const { return std::max<int64_t>(0, int64_t{bounds.y2} - bounds.y1); }
  int64_t Stride() const { return std::llabs(int64_t{rowBytes}); }

  // Bytes the claims cover: as many rows as the bounds hold, each of the
  // row bytes' magnitude. That is all a plug-in may rely on; it is also
  // what the project's own depth guess assumes (rows wide enough for float
  // pixels hold float pixels). Empty when the claim needs more than the cap.
  std::optional<int64_t> MemoryBytes() const {
    const int64_t w = Width(), h = Height(), stride = Stride();
    if (w == 0 || h == 0) return 0;
    if (stride > 0 && h > kMaxImageBytes / stride) return std::nullopt;
    return stride * h;
  }
};

ImageClaim ReadClaim(FuzzInput& in) {
  ImageClaim claim;
  claim.bounds.x1 = Coordinate(in);
  claim.bounds.y1 = Coordinate(in);
  claim.bounds.x2 = FarEdge(in, claim.bounds.x1);
  claim.bounds.y2 = FarEdge(in, claim.bounds.y1);
  switch (in.Below(8)) {
    case 0: claim.depth = kOfxBitDepthByte; claim.storedPixelBytes = 4; break;
    case 1: case 2: case 3: claim.depth = kOfxBitDepthFloat; claim.storedPixelBytes = 16; break;
    case 4: claim.depth = kOfxBitDepthShort; claim.storedPixelBytes = 8; break;
    case 5: claim.depth = kOfxBitDepthHalf; claim.storedPixelBytes = 8; break;
    case 6:
      claim.depth = in.String(24);
      claim.storedPixelBytes = in.Bool() ? 16 : 4;
      break;
    default:
      claim.depth.reset();
      claim.storedPixelBytes = in.Bool() ? 16 : 4;
      break;
  }
  const int64_t tight = claim.Width() * claim.storedPixelBytes;
  const int32_t tight32 = tight > std::numeric_limits<int32_t>::max() ? in.I32() : static_cast<int32_t>(tight);
  switch (in.Below(8)) {
    case 0: claim.rowBytes = 0; break;
    case 1: claim.rowBytes = in.I32(); break;
    case 2: claim.rowBytes = Wrap(-int64_t{tight32}); break;
    case 3: claim.rowBytes = Wrap(int64_t{tight32} - 1 - in.Below(16)); break;
    case 4: claim.rowBytes = Wrap(int64_t{tight32} + in.Below(256)); break;
    default: claim.rowBytes = tight32; break;
  }
  switch (in.Below(16)) {
    case 0: claim.data = ImageClaim::Data::Null; break;
    case 1: claim.data = ImageClaim::Data::Absent; break;
    case 2: claim.data = ImageClaim::Data::WrongType; break;
    default: break;
  }
  claim.noImage = in.Below(16) == 0;
  claim.boundsWrongSize = in.Below(32) == 0;
  claim.againstUpperGuard = in.Bool();
  return claim;
}

// An image over harness memory, described by the claim's words.
Image Describe(const ImageClaim& claim, unsigned char* data) {
  Image image = Image::External(data, {0, 0, 0, 0}, 0);
  PropertySet& p = image.Properties();
  const OfxRectI& b = claim.bounds;
  if (claim.boundsWrongSize)
    p.SetN(kOfxImagePropBounds, PropertyType::kInt, {b.x1, b.y1});
  else
    p.SetN(kOfxImagePropBounds, PropertyType::kInt, {b.x1, b.y1, b.x2, b.y2});
  p.SetN(kOfxImagePropRegionOfDefinition, PropertyType::kInt, {b.x1, b.y1, b.x2, b.y2});
  p.Set(kOfxImagePropRowBytes, 0, claim.rowBytes);
  p.Erase(kOfxImageEffectPropPixelDepth);
  if (claim.depth) p.Set(kOfxImageEffectPropPixelDepth, 0, *claim.depth);
  switch (claim.data) {
    case ImageClaim::Data::Real: p.Set(kOfxImagePropData, 0, static_cast<void*>(data)); break;
    case ImageClaim::Data::Null: p.Set(kOfxImagePropData, 0, static_cast<void*>(nullptr)); break;
    case ImageClaim::Data::Absent: p.Erase(kOfxImagePropData); break;
    case ImageClaim::Data::WrongType:
      p.Erase(kOfxImagePropData);
      p.Set(kOfxImagePropData, 0, std::string("pixels"));
      break;
  }
  return image;
}

// Where pixel (x1, y1) lives inside a buffer holding the claimed rows: the
// first row for positive row bytes, the last for negative ones.
unsigned char* Origin(const ImageClaim& claim, unsigned char* buffer) {
  if (claim.rowBytes < 0 && claim.Height() > 0) return buffer + claim.Stride() * (claim.Height() - 1);
  return buffer;
}

void SetParameters(FuzzInput& in, Effect& instance) {
  ParamSet& params = instance.Params();
  for (const char* name : kSwitchParams) {
    Param* param = params.Find(name);
    if (param == nullptr) continue;
    switch (in.Below(4)) {
      case 0: param->SetInt(0); break;
      case 1: param->SetInt(1); break;
      case 2: param->SetInt(in.I32()); break;
      default: break;
    }
  }
  for (const char* name : kDoubleParams) {
    Param* param = params.Find(name);
    if (param == nullptr) continue;
    const int mode = in.Below(4);
    if (mode == 0) continue;
    // Without limits the host stores whatever it is given.
    param->Properties().Erase(kOfxParamPropMin);
    param->Properties().Erase(kOfxParamPropMax);
    if (mode == 1) {
      param->SetDouble(in.Double());
    } else if (mode == 2) {
      param->SetDouble(static_cast<int8_t>(in.U8()) / 64.0);
    } else {
      const int keys = 1 + in.Below(3);
      for (int k = 0; k < keys; ++k) {
        double time = in.Double();
        // Key times order a map: a NaN would break the host's own container.
        if (!std::isfinite(time)) time = k;
        param->SetDoubleAt(time, in.Double());
      }
    }
  }
}

FaultPlan ReadFaults(FuzzInput& in) {
  FaultPlan plan;
  if (in.Below(4) == 0) {
    const uint32_t mask = in.U32();
    for (size_t i = 0; i < std::size(kWithholdable); ++i)
      if (mask & (1u << i)) plan.withheld_properties.insert(kWithholdable[i]);
  }
  if (in.Below(4) == 0) {
    const uint32_t mask = in.U32();
    for (size_t i = 0; i < std::size(kRejectable); ++i)
      if (mask & (1u << i)) plan.rejected_functions.insert(kRejectable[i]);
  }
  if (in.Below(4) == 0) {
    const uint32_t mask = in.U32();
    for (size_t i = 0; i < std::size(kSwitchParams); ++i)
      if (mask & (1u << i)) plan.failing_param_handles.insert(kSwitchParams[i]);
    for (size_t i = 0; i < std::size(kDoubleParams); ++i)
      if (mask & (1u << (16 + i))) plan.failing_param_handles.insert(kDoubleParams[i]);
  }
  if (in.Below(8) == 0) {
    const uint32_t mask = in.U8();
    for (size_t i = 0; i < std::size(kSuites); ++i)
      if (mask & (1u << i)) plan.missing_suites.insert(kSuites[i]);
  }
  plan.reject_everything = in.Below(64) == 0;
  return plan;
}

OfxRectI ReadWindow(FuzzInput& in, const ImageClaim& source, const ImageClaim& output) {
  switch (in.Below(5)) {
    case 0: return {in.I32(), in.I32(), in.I32(), in.I32()};
    case 1: return source.bounds;
    case 2: {
      const OfxRectI& b = output.bounds;
      return {Wrap(int64_t{b.x1} + in.Below(8)), Wrap(int64_t{b.y1} + in.Below(8)),
              Wrap(int64_t{b.x2} - in.Below(8)), Wrap(int64_t{b.y2} - in.Below(8))};
    }
    default: return output.bounds;
  }
}

bool RowIn(int64_t y, int32_t low, int32_t high) { return y >= low && y < high; }

// Output bytes the plug-in had no business writing: every byte of a row
// outside both the render window and the source's rows (where a plug-in
// that cannot read the window renders) must still hold the fill pattern.
void CheckUntouchedRows(const ImageClaim& claim, const GuardedBuffer& buffer, unsigned char fill,
                        const OfxRectI& window, const ImageClaim& source) {
  const int64_t stride = claim.Stride();
  const int64_t h = claim.Height();
  for (size_t i = 0; i < buffer.Size(); ++i) {
    if (buffer.Bytes()[i] == fill) continue;
    bool allowed = false;
    if (stride > 0) {
      const int64_t fromBottom = static_cast<int64_t>(i) / stride;
      const int64_t row = claim.rowBytes < 0 ? h - 1 - fromBottom : fromBottom;
      const int64_t y = claim.bounds.y1 + row;
      allowed = RowIn(y, window.y1, window.y2) || RowIn(y, source.bounds.y1, source.bounds.y2);
    }
    if (!allowed) {
      std::fprintf(stderr, "render wrote output byte %zu, outside the rows it was asked to render\n", i);
      std::abort();
    }
  }
}

void FillFromInput(FuzzInput& in, unsigned char* bytes, size_t size) {
  std::vector<unsigned char> pattern(std::min<size_t>(in.Remaining(), 256));
  in.Bytes(pattern.data(), pattern.size());
  if (pattern.empty()) pattern.push_back(0x3C);
  for (size_t i = 0; i < size; ++i) bytes[i] = pattern[i % pattern.size()];
}

void RunOne(FuzzInput& in) {
  Session& session = Session::Get();
  ImageClaim source = ReadClaim(in);
  ImageClaim output = ReadClaim(in);
  // Hosts may render in place, or hand over output memory that overlaps
  // the source: the output then describes the very same rows.
  const int aliasing = in.Below(8);
  const size_t aliasShift = aliasing == 1 ? in.Below(64) : 0;
  if (aliasing <= 1) {
    const ImageClaim::Data data = output.data;
    const bool noImage = output.noImage;
    output = source;
    output.data = data;
    output.noImage = noImage;
  }
  const std::optional<int64_t> sourceBytes = source.MemoryBytes();
  const std::optional<int64_t> outputBytes = output.MemoryBytes();
  // A claim no host could back with memory under the cap is not a case.
  if (!sourceBytes || !outputBytes) return;

  GuardedBuffer sourceBuffer(static_cast<size_t>(*sourceBytes) + aliasShift, source.againstUpperGuard);
  std::optional<GuardedBuffer> ownOutput;
  unsigned char* outputMemory = sourceBuffer.Bytes() + aliasShift;
  if (aliasing > 1) {
    ownOutput.emplace(static_cast<size_t>(*outputBytes), output.againstUpperGuard);
    outputMemory = ownOutput->Bytes();
  }

  const OfxRectI window = ReadWindow(in, source, output);
  const int windowShape = in.Below(8);
  const double time = in.Below(4) == 0 ? in.Double() : static_cast<double>(static_cast<int8_t>(in.U8()));
  const double scaleX = in.Below(4) == 0 ? in.Double() : 1.0;
  const double scaleY = in.Below(4) == 0 ? in.Double() : 1.0;

  Effect* instance = nullptr;
  try {
    instance = &session.plugin->Instantiate(in.Bool() ? kOfxImageEffectContextFilter : kOfxImageEffectContextGeneral);
  } catch (const std::exception&) {
    std::fprintf(stderr, "the plug-in refused an instance from a well-behaved host\n");
    std::abort();
  }
  SetParameters(in, *instance);
  const FaultPlan faults = ReadFaults(in);
  const bool rebind = !faults.missing_suites.empty();

  FillFromInput(in, sourceBuffer.Bytes(), sourceBuffer.Size());
  constexpr unsigned char kOutputFill = 0xA7;
  if (ownOutput) std::memset(ownOutput->Bytes(), kOutputFill, ownOutput->Size());

  Image sourceImage = Describe(source, Origin(source, sourceBuffer.Bytes()));
  Image outputImage = Describe(output, Origin(output, outputMemory));
  instance->GetClip(kOfxImageEffectSimpleSourceClipName)
      .SetImageSource([&](OfxTime) { return source.noImage ? nullptr : &sourceImage; });
  instance->GetClip(kOfxImageEffectOutputClipName)
      .SetImageSource([&](OfxTime) { return output.noImage ? nullptr : &outputImage; });

  PropertySet inArgs("render inArgs");
  inArgs.Set(kOfxPropTime, 0, time);
  inArgs.Set(kOfxImageEffectPropFieldToRender, 0, kOfxImageFieldNone);
  switch (windowShape) {
    case 0: inArgs.SetN(kOfxImageEffectPropRenderWindow, PropertyType::kInt, {window.x1, window.y1}); break;
    case 1:
      inArgs.SetN(kOfxImageEffectPropRenderWindow, PropertyType::kDouble,
                  {static_cast<double>(window.x1), static_cast<double>(window.y1), static_cast<double>(window.x2),
                   static_cast<double>(window.y2)});
      break;
    case 2: break;
    default:
      inArgs.SetN(kOfxImageEffectPropRenderWindow, PropertyType::kInt, {window.x1, window.y1, window.x2, window.y2});
  }
  inArgs.SetN(kOfxImageEffectPropRenderScale, PropertyType::kDouble, {scaleX, scaleY});
  PropertySet outArgs("render outArgs");
  {
    Registration inRegistration(&inArgs, HandleKind::kPropertySet, session.host);
    Registration outRegistration(&outArgs, HandleKind::kPropertySet, session.host);
    session.host.Faults() = faults;
    if (rebind) session.plugin->SetHost();
    instance->SetTime(time);
    session.plugin->CallAction(kOfxImageEffectActionRender, instance->Handle(), inArgs.Handle(), outArgs.Handle());
    session.RestoreHost();
  }

  // A host that refuses clipReleaseImage keeps its images whatever the
  // plug-in does; otherwise every image fetched must have gone back.
  if (!faults.Rejects("clipReleaseImage") && instance->ImagesOutstanding() != 0) {
    std::fprintf(stderr, "render kept %d image(s) it never released\n", instance->ImagesOutstanding());
    std::abort();
  }
  // A window the plug-in could not read falls back to the source's bounds,
  // whose rows the check allows anyway.
  if (ownOutput) CheckUntouchedRows(output, *ownOutput, kOutputFill, window, source);
  session.plugin->DestroyInstance(*instance);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Session::Get();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  RunOne(in);
  return 0;
}
