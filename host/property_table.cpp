#include "property_table.h"

#include <cfloat>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "ofx/ofxImageEffect.h"
#include "ofx/ofxParam.h"

namespace lenstrove::host {

namespace {

constexpr PropertyType kP = PropertyType::kPointer;
constexpr PropertyType kS = PropertyType::kString;
constexpr PropertyType kD = PropertyType::kDouble;
constexpr PropertyType kI = PropertyType::kInt;
constexpr int kAny = 0;  // any number of values

constexpr uint32_t kClips = kClipDescriptor | kClipInstance;
constexpr uint32_t kIntegerParams = kIntegerParam | kInteger2DParam | kInteger3DParam;
constexpr uint32_t kDoubleParams = kDoubleParam | kDouble2DParam | kDouble3DParam;
constexpr uint32_t kColourParams = kRGBParam | kRGBAParam;
constexpr uint32_t kNumericParams = kIntegerParams | kDoubleParams | kColourParams;
constexpr uint32_t kValueParams = kNumericParams | kBooleanParam | kChoiceParam | kStringParam | kCustomParam;
constexpr uint32_t kAllParams = kValueParams | kGroupParam | kPageParam | kPushButtonParam;
// Parameters that may have an interact or a host handle: all but groups and pages.
constexpr uint32_t kInteractParams = kValueParams | kPushButtonParam;

// Taken from the standard's headers: the objects from their property-set
// lists, types and dimensions from each property's definition (booleans
// are ints, enumerations strings), defaults as the standard documents them.
const std::vector<StandardProperty> kTable = {
    // ---- every object -------------------------------------------------
    {kOfxPropType, kS, 1, kOfxTypeImageEffectHost, kHostObject},
    {kOfxPropType, kS, 1, kOfxTypeImageEffect, kEffectDescriptor},
    {kOfxPropType, kS, 1, kOfxTypeImageEffectInstance, kEffectInstance},
    {kOfxPropType, kS, 1, kOfxTypeClip, kClips},
    {kOfxPropType, kS, 1, kOfxTypeImage, kImageObject},
    {kOfxPropType, kS, 1, kOfxTypeParameter, kAllParams},
    {kOfxPropName, kS, 1, "", kHostObject | kClips | kAllParams},
    {kOfxPropLabel, kS, 1, "", kHostObject | kEffectDescriptor | kClips | kAllParams},
    {kOfxPropShortLabel, kS, 1, "", kEffectDescriptor | kClips | kAllParams},
    {kOfxPropLongLabel, kS, 1, "", kEffectDescriptor | kClips | kAllParams},
    {kOfxPropVersion, kI, kAny, "", kHostObject | kEffectDescriptor},
    {kOfxPropVersionLabel, kS, 1, "", kHostObject | kEffectDescriptor},
    {kOfxPropIsInteractive, kI, 1, "0", kHostObject | kEffectInstance},

    // ---- the host ---------------------------------------------------------
    {kOfxPropAPIVersion, kI, kAny, "", kHostObject},
    {kOfxPropHostOSHandle, kP, 1, "", kHostObject},
    {kOfxImageEffectHostPropIsBackground, kI, 1, "1", kHostObject},
    {kOfxImageEffectHostPropNativeOrigin, kS, 1, kOfxHostNativeOriginBottomLeft, kHostObject},
    {kOfxImageEffectPropSupportsOverlays, kI, 1, "0", kHostObject},
    {kOfxImageEffectPropSupportedComponents, kS, kAny, "", kHostObject | kClips},
    {kOfxImageEffectPropSupportedContexts, kS, kAny, "", kHostObject | kEffectDescriptor},
    {kOfxImageEffectPropSupportedPixelDepths, kS, kAny, "", kHostObject | kEffectDescriptor},
    {kOfxImageEffectPropSetableFrameRate, kI, 1, "0", kHostObject},
    {kOfxImageEffectPropSetableFielding, kI, 1, "0", kHostObject},
    {kOfxImageEffectPropRenderQualityDraft, kI, 1, "0", kHostObject},
    {kOfxParamHostPropSupportsCustomInteract, kI, 1, "0", kHostObject},
    {kOfxParamHostPropSupportsStringAnimation, kI, 1, "0", kHostObject},
    {kOfxParamHostPropSupportsChoiceAnimation, kI, 1, "0", kHostObject},
    {kOfxParamHostPropSupportsBooleanAnimation, kI, 1, "0", kHostObject},
    {kOfxParamHostPropSupportsCustomAnimation, kI, 1, "0", kHostObject},
    {kOfxParamHostPropSupportsStrChoice, kI, 1, "0", kHostObject},
    {kOfxParamHostPropSupportsStrChoiceAnimation, kI, 1, "0", kHostObject},
    {kOfxParamHostPropSupportsParametricAnimation, kI, 1, "0", kHostObject},
    {kOfxParamHostPropMaxParameters, kI, 1, "-1", kHostObject},
    {kOfxParamHostPropMaxPages, kI, 1, "0", kHostObject},
    {kOfxParamHostPropPageRowColumnCount, kI, 2, "0,0", kHostObject},

    // ---- effect descriptors (and, copied from them, instances) -----------
    {kOfxPropPluginDescription, kS, 1, "", kEffectDescriptor},
    {kOfxPluginPropFilePath, kS, 1, "", kEffectDescriptor},
    {kOfxImageEffectPluginPropGrouping, kS, 1, "", kEffectDescriptor},
    {kOfxImageEffectPluginPropObsolete, kI, 1, "0", kEffectDescriptor},
    {kOfxImageEffectPluginPropSingleInstance, kI, 1, "0", kEffectDescriptor},
    {kOfxImageEffectPluginRenderThreadSafety, kS, 1, kOfxImageEffectRenderInstanceSafe, kEffectDescriptor},
    {kOfxImageEffectPluginPropHostFrameThreading, kI, 1, "0", kHostObject | kEffectDescriptor},
    {kOfxImageEffectPluginPropOverlayInteractV1, kP, 1, "", kEffectDescriptor},
    {kOfxImageEffectPluginPropOverlayInteractV2, kP, 1, "", kEffectDescriptor},
    {kOfxImageEffectPluginPropFieldRenderTwiceAlways, kI, 1, "1", kEffectDescriptor},
    {kOfxImageEffectPropSupportsMultiResolution, kI, 1, "1", kHostObject | kEffectDescriptor},
    {kOfxImageEffectPropSupportsTiles, kI, 1, "1", kHostObject | kEffectDescriptor | kEffectInstance | kClips},
    {kOfxImageEffectPropTemporalClipAccess, kI, 1, "0", kHostObject | kEffectDescriptor | kClips},
    {kOfxImageEffectPropSupportsMultipleClipDepths, kI, 1, "0", kHostObject | kEffectDescriptor},
    {kOfxImageEffectPropSupportsMultipleClipPARs, kI, 1, "0", kHostObject | kEffectDescriptor},
    {kOfxImageEffectPropClipPreferencesSlaveParam, kS, kAny, "", kEffectDescriptor},
    {kOfxImageEffectPropNoSpatialAwareness, kS, 1, "false", kEffectDescriptor},
    {kOfxImageEffectPropOpenGLRenderSupported, kS, 1, "false", kHostObject | kEffectDescriptor | kEffectInstance},
    {kOfxOpenGLPropPixelDepth, kS, kAny, "", kEffectDescriptor},
    {kOfxImageEffectPropCPURenderSupported, kS, 1, "true", kHostObject | kEffectDescriptor | kEffectInstance},
    {kOfxImageEffectPropOpenCLSupported, kS, 1, "false", kHostObject | kEffectDescriptor},
    {kOfxImageEffectPropOpenCLRenderSupported, kS, 1, "false", kHostObject | kEffectDescriptor},
    {kOfxImageEffectPropCudaRenderSupported, kS, 1, "false", kHostObject | kEffectDescriptor},
    {kOfxImageEffectPropCudaStreamSupported, kS, 1, "false", kHostObject | kEffectDescriptor},
    {kOfxImageEffectPropMetalRenderSupported, kS, 1, "false", kHostObject | kEffectDescriptor},
    {kOfxImageEffectPropColourManagementStyle, kS, 1, kOfxImageEffectColourManagementNone,
     kHostObject | kEffectDescriptor | kEffectInstance},
    {kOfxImageEffectPropColourManagementAvailableConfigs, kS, kAny, "", kHostObject | kEffectDescriptor},
    {kOfxImageEffectInstancePropSequentialRender, kI, 1, "0", kHostObject | kEffectInstance},

    // ---- effect instances ---------------------------------------------------
    {kOfxImageEffectPropContext, kS, 1, "", kEffectInstance},
    {kOfxPropInstanceData, kP, 1, "", kEffectInstance},
    {kOfxImageEffectPropProjectSize, kD, 2, "1920,1080", kEffectInstance},
    {kOfxImageEffectPropProjectOffset, kD, 2, "0,0", kEffectInstance},
    {kOfxImageEffectPropProjectExtent, kD, 2, "1920,1080", kEffectInstance},
    {kOfxImageEffectPropProjectPixelAspectRatio, kD, 1, "1", kEffectInstance},
    {kOfxImageEffectInstancePropEffectDuration, kD, 1, "1", kEffectInstance},
    {kOfxImageEffectPropFrameRate, kD, 1, "24", kEffectInstance | kClipInstance},
    {kOfxImageEffectPropColourManagementConfig, kS, 1, "", kEffectInstance},
    {kOfxImageEffectPropOCIOConfig, kS, 1, "", kEffectInstance},
    {kOfxImageEffectPropOCIODisplay, kS, 1, "", kEffectInstance},
    {kOfxImageEffectPropOCIOView, kS, 1, "", kEffectInstance},
    {kOfxImageEffectPropDisplayColourspace, kS, 1, "", kEffectInstance},
    {kOfxImageEffectPropPluginHandle, kP, 1, "", kEffectInstance},

    // ---- clips ----------------------------------------------------------------
    {kOfxImageClipPropOptional, kI, 1, "0", kClips},
    {kOfxImageClipPropIsMask, kI, 1, "0", kClips},
    {kOfxImageClipPropFieldExtraction, kS, 1, kOfxImageFieldDoubled, kClips},
    {kOfxImageClipPropColourspace, kS, 1, "", kClipInstance},
    {kOfxImageClipPropPreferredColourspaces, kS, kAny, "", kClipInstance},
    {kOfxImageEffectPropPixelDepth, kS, 1, kOfxBitDepthFloat, kClipInstance | kImageObject},
    {kOfxImageEffectPropComponents, kS, 1, kOfxImageComponentRGBA, kClipInstance | kImageObject},
    {kOfxImageClipPropUnmappedPixelDepth, kS, 1, kOfxBitDepthFloat, kClipInstance},
    {kOfxImageClipPropUnmappedComponents, kS, 1, kOfxImageComponentRGBA, kClipInstance},
    {kOfxImageEffectPropPreMultiplication, kS, 1, kOfxImagePreMultiplied, kClipInstance | kImageObject},
    {kOfxImagePropPixelAspectRatio, kD, 1, "1", kClipInstance | kImageObject},
    {kOfxImageEffectPropFrameRange, kD, 2, "0,0", kClipInstance},
    {kOfxImageEffectPropUnmappedFrameRange, kD, 2, "0,0", kClipInstance},
    {kOfxImageEffectPropUnmappedFrameRate, kD, 1, "24", kClipInstance},
    {kOfxImageClipPropFieldOrder, kS, 1, kOfxImageFieldNone, kClipInstance},
    {kOfxImageClipPropConnected, kI, 1, "0", kClipInstance},
    {kOfxImageClipPropContinuousSamples, kI, 1, "0", kClipInstance},

    // ---- images -----------------------------------------------------------------
    {kOfxImageEffectPropRenderScale, kD, 2, "1,1", kImageObject},
    {kOfxImagePropData, kP, 1, "", kImageObject},
    {kOfxImagePropBounds, kI, 4, "0,0,0,0", kImageObject},
    {kOfxImagePropRegionOfDefinition, kI, 4, "0,0,0,0", kImageObject},
    {kOfxImagePropRowBytes, kI, 1, "0", kImageObject},
    {kOfxImagePropField, kS, 1, kOfxImageFieldNone, kImageObject},
    {kOfxImagePropUniqueIdentifier, kS, 1, "", kImageObject},
    {kOfxImageEffectPropOpenCLImage, kP, 1, "", kImageObject},

    // ---- what renders are not: on another device, a draft or a thumbnail ---
    {kOfxImageEffectPropRenderQualityDraft, kI, 1, "0", kRenderArgs},
    {kOfxImageEffectPropThumbnailRender, kS, 1, "false", kRenderArgs},
    {kOfxImageEffectPropOpenGLEnabled, kI, 1, "0", kRenderArgs | kSequenceArgs},
    {kOfxImageEffectPropOpenCLEnabled, kI, 1, "0", kRenderArgs | kSequenceArgs},
    {kOfxImageEffectPropOpenCLCommandQueue, kP, 1, "", kRenderArgs | kSequenceArgs},
    {kOfxImageEffectPropCudaEnabled, kI, 1, "0", kRenderArgs | kSequenceArgs},
    {kOfxImageEffectPropCudaStream, kP, 1, "", kRenderArgs | kSequenceArgs},
    {kOfxImageEffectPropMetalEnabled, kI, 1, "0", kRenderArgs | kSequenceArgs},
    {kOfxImageEffectPropMetalCommandQueue, kP, 1, "", kRenderArgs | kSequenceArgs},

    // ---- parameter sets ------------------------------------------------------------
    {kOfxPropParamSetNeedsSyncing, kI, 1, "0", kParamSetObject},
    {kOfxPluginPropParamPageOrder, kS, kAny, "", kParamSetObject},

    // ---- every parameter ------------------------------------------------------------
    {kOfxParamPropType, kS, 1, "", kAllParams},
    {kOfxParamPropSecret, kI, 1, "0", kAllParams},
    {kOfxParamPropHint, kS, 1, "", kAllParams},
    {kOfxParamPropScriptName, kS, 1, "", kAllParams},
    {kOfxParamPropParent, kS, 1, "", kAllParams},
    {kOfxParamPropEnabled, kI, 1, "1", kAllParams},
    {kOfxParamPropDataPtr, kP, 1, "", kAllParams},
    {kOfxPropIcon, kS, 2, ",", kAllParams},
    {kOfxParamPropInteractV1, kP, 1, "", kInteractParams},
    {kOfxParamPropInteractSize, kD, 2, "0,0", kInteractParams},
    {kOfxParamPropInteractSizeAspect, kD, 1, "1", kInteractParams},
    {kOfxParamPropInteractMinimumSize, kD, 2, "10,10", kInteractParams},
    {kOfxParamPropInteractPreferedSize, kI, 2, "10,10", kInteractParams},
    {kOfxParamPropHasHostOverlayHandle, kI, 1, "0", kInteractParams},
    {kOfxParamPropUseHostOverlayHandle, kI, 1, "0", kInteractParams},

    // ---- parameters that hold a value ---------------------------------------------
    {kOfxParamPropAnimates, kI, 1, "1", kValueParams},
    {kOfxParamPropIsAnimating, kI, 1, "0", kValueParams},
    {kOfxParamPropIsAutoKeying, kI, 1, "0", kValueParams},
    {kOfxParamPropPersistant, kI, 1, "1", kValueParams},
    {kOfxParamPropEvaluateOnChange, kI, 1, "1", kValueParams},
    {kOfxParamPropPluginMayWrite, kI, 1, "0", kValueParams},
    {kOfxParamPropCacheInvalidation, kS, 1, kOfxParamInvalidateValueChange, kValueParams},
    {kOfxParamPropCanUndo, kI, 1, "1", kValueParams},
    {kOfxParamPropDefault, kI, 1, "0", kBooleanParam | kChoiceParam | kIntegerParam},
    {kOfxParamPropDefault, kI, 2, "0,0", kInteger2DParam},
    {kOfxParamPropDefault, kI, 3, "0,0,0", kInteger3DParam},
    {kOfxParamPropDefault, kD, 1, "0", kDoubleParam},
    {kOfxParamPropDefault, kD, 2, "0,0", kDouble2DParam},
    {kOfxParamPropDefault, kD, 3, "0,0,0", kDouble3DParam | kRGBParam},
    {kOfxParamPropDefault, kD, 4, "0,0,0,0", kRGBAParam},
    {kOfxParamPropDefault, kS, 1, "", kStringParam | kCustomParam},

    // ---- numbers: limits, and for doubles their kind and step -------------------------
    {kOfxParamPropMin, kI, 1, "-max", kIntegerParam},
    {kOfxParamPropMax, kI, 1, "max", kIntegerParam},
    {kOfxParamPropDisplayMin, kI, 1, "-max", kIntegerParam},
    {kOfxParamPropDisplayMax, kI, 1, "max", kIntegerParam},
    {kOfxParamPropMin, kI, 2, "-max,-max", kInteger2DParam},
    {kOfxParamPropMax, kI, 2, "max,max", kInteger2DParam},
    {kOfxParamPropDisplayMin, kI, 2, "-max,-max", kInteger2DParam},
    {kOfxParamPropDisplayMax, kI, 2, "max,max", kInteger2DParam},
    {kOfxParamPropMin, kI, 3, "-max,-max,-max", kInteger3DParam},
    {kOfxParamPropMax, kI, 3, "max,max,max", kInteger3DParam},
    {kOfxParamPropDisplayMin, kI, 3, "-max,-max,-max", kInteger3DParam},
    {kOfxParamPropDisplayMax, kI, 3, "max,max,max", kInteger3DParam},
    {kOfxParamPropMin, kD, 1, "-max", kDoubleParam},
    {kOfxParamPropMax, kD, 1, "max", kDoubleParam},
    {kOfxParamPropDisplayMin, kD, 1, "-max", kDoubleParam},
    {kOfxParamPropDisplayMax, kD, 1, "max", kDoubleParam},
    {kOfxParamPropMin, kD, 2, "-max,-max", kDouble2DParam},
    {kOfxParamPropMax, kD, 2, "max,max", kDouble2DParam},
    {kOfxParamPropDisplayMin, kD, 2, "-max,-max", kDouble2DParam},
    {kOfxParamPropDisplayMax, kD, 2, "max,max", kDouble2DParam},
    {kOfxParamPropMin, kD, 3, "-max,-max,-max", kDouble3DParam | kRGBParam},
    {kOfxParamPropMax, kD, 3, "max,max,max", kDouble3DParam | kRGBParam},
    {kOfxParamPropDisplayMin, kD, 3, "-max,-max,-max", kDouble3DParam | kRGBParam},
    {kOfxParamPropDisplayMax, kD, 3, "max,max,max", kDouble3DParam | kRGBParam},
    {kOfxParamPropMin, kD, 4, "-max,-max,-max,-max", kRGBAParam},
    {kOfxParamPropMax, kD, 4, "max,max,max,max", kRGBAParam},
    {kOfxParamPropDisplayMin, kD, 4, "-max,-max,-max,-max", kRGBAParam},
    {kOfxParamPropDisplayMax, kD, 4, "max,max,max,max", kRGBAParam},
    {kOfxParamPropIncrement, kD, 1, "1", kDoubleParams},
    {kOfxParamPropDigits, kI, 1, "2", kDoubleParams},
    {kOfxParamPropDoubleType, kS, 1, kOfxParamDoubleTypePlain, kDoubleParams},
    {kOfxParamPropDefaultCoordinateSystem, kS, 1, kOfxParamCoordinatesCanonical, kDoubleParams},
    {kOfxParamPropShowTimeMarker, kI, 1, "0", kDoubleParam},
    {kOfxParamPropDimensionLabel, kS, 2, "x,y", kInteger2DParam | kDouble2DParam},
    {kOfxParamPropDimensionLabel, kS, 3, "x,y,z", kInteger3DParam | kDouble3DParam},
    {kOfxParamPropDimensionLabel, kS, 3, "r,g,b", kRGBParam},
    {kOfxParamPropDimensionLabel, kS, 4, "r,g,b,a", kRGBAParam},

    // ---- the other types' own ------------------------------------------------------------
    {kOfxParamPropChoiceOption, kS, kAny, "", kChoiceParam},
    {kOfxParamPropChoiceOrder, kI, kAny, "", kChoiceParam},
    {kOfxParamPropStringMode, kS, 1, kOfxParamStringIsSingleLine, kStringParam},
    {kOfxParamPropStringFilePathExists, kI, 1, "1", kStringParam},
    {kOfxParamPropCustomInterpCallbackV1, kP, 1, "", kCustomParam},
    {kOfxParamPropGroupOpen, kI, 1, "1", kGroupParam},
    {kOfxParamPropPageChild, kS, kAny, "", kPageParam},
};

// The defaults text split at commas; "" with one value gives one empty piece.
std::vector<std::string> Pieces(const char* text, int dimension) {
  std::vector<std::string> pieces;
  if (dimension == kAny && *text == '\0') return pieces;
  std::string piece;
  for (const char* c = text;; ++c) {
    if (*c == ',' || *c == '\0') {
      pieces.push_back(piece);
      piece.clear();
      if (*c == '\0') break;
    } else {
      piece += *c;
    }
  }
  return pieces;
}

PropertyValue ValueOf(PropertyType type, const std::string& text) {
  const bool highest = text == "max", lowest = text == "-max";
  switch (type) {
    case PropertyType::kPointer: return static_cast<void*>(nullptr);
    case PropertyType::kString: return text;
    case PropertyType::kDouble: return highest ? DBL_MAX : lowest ? -DBL_MAX : std::strtod(text.c_str(), nullptr);
    case PropertyType::kInt:
      return highest ? INT_MAX : lowest ? INT_MIN : static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
  }
  return 0;
}

struct ReadyProperty {
  const char* name;
  PropertyType type;
  std::vector<PropertyValue> values;
};

// Each carrier's rows as ready-made values, worked out once: images and
// parameters are made often.
const std::vector<ReadyProperty>& RowsOf(uint32_t carrier) {
  static std::mutex mutex;
  static std::map<uint32_t, std::vector<ReadyProperty>> made;
  std::lock_guard lock(mutex);
  auto found = made.find(carrier);
  if (found != made.end()) return found->second;
  auto& rows = made[carrier];
  for (const StandardProperty& row : kTable) {
    if ((row.carriers & carrier) != 0) rows.push_back({row.name, row.type, DefaultValues(row)});
  }
  return rows;
}

}  // namespace

const std::vector<StandardProperty>& StandardProperties() { return kTable; }

uint32_t ParamCarrier(std::string_view type) {
  static const std::pair<const char*, uint32_t> kTypes[] = {
      {kOfxParamTypeGroup, kGroupParam},         {kOfxParamTypePage, kPageParam},
      {kOfxParamTypePushButton, kPushButtonParam}, {kOfxParamTypeBoolean, kBooleanParam},
      {kOfxParamTypeChoice, kChoiceParam},       {kOfxParamTypeInteger, kIntegerParam},
      {kOfxParamTypeInteger2D, kInteger2DParam}, {kOfxParamTypeInteger3D, kInteger3DParam},
      {kOfxParamTypeDouble, kDoubleParam},       {kOfxParamTypeDouble2D, kDouble2DParam},
      {kOfxParamTypeDouble3D, kDouble3DParam},   {kOfxParamTypeRGB, kRGBParam},
      {kOfxParamTypeRGBA, kRGBAParam},           {kOfxParamTypeString, kStringParam},
      {kOfxParamTypeCustom, kCustomParam},
  };
  for (const auto& [name, carrier] : kTypes) {
    if (type == name) return carrier;
  }
  return 0;
}

std::vector<PropertyValue> DefaultValues(const StandardProperty& row) {
  std::vector<PropertyValue> values;
  for (const std::string& piece : Pieces(row.defaults, row.dimension)) values.push_back(ValueOf(row.type, piece));
  return values;
}

void AddStandardProperties(PropertySet& properties, uint32_t carrier) {
  for (const ReadyProperty& row : RowsOf(carrier)) {
    if (!properties.Has(row.name)) properties.SetN(row.name, row.type, row.values);
  }
}

}  // namespace lenstrove::host
