#include "render/render_settings.h"

#include <cmath>

#include "describe/parameter_table.h"

namespace lenstrove {
namespace {

struct SwitchField {
  const char* name;
  int32_t RenderSettings::*field;
};

struct DoubleField {
  const char* name;
  double RenderSettings::*field;
};

// The order the values are read in.
constexpr SwitchField kSwitchFields[] = {
    {param::kShowSkinTonePatches, &RenderSettings::ShowSkinTonePatches},
    {param::kShowSkinToneLine, &RenderSettings::ShowSkinToneLine},
    {param::kShowMiddleGray, &RenderSettings::ShowMiddleGray},
    {param::kLegalizeLevels, &RenderSettings::LegalizeLevels},
    {param::kFalseColorMode, &RenderSettings::FalseColorMode},
    {param::kGuideThirds, &RenderSettings::GuideThirds},
    {param::kGuideGolden, &RenderSettings::GuideGolden},
    {param::kGuideCrosshair, &RenderSettings::GuideCrosshair},
    {param::kCrop185, &RenderSettings::Crop185},
    {param::kCrop235, &RenderSettings::Crop235},
    {param::kCrop239, &RenderSettings::Crop239},
};

constexpr DoubleField kDoubleFields[] = {
    {param::kCropOpacity, &RenderSettings::CropOpacity},
    {param::kLineThickness, &RenderSettings::LineThickness},
    {param::kSkinLinePos, &RenderSettings::SkinLinePos},
    {param::kGrayLinePos, &RenderSettings::GrayLinePos},
};

template <typename Value>
void ReadValue(const OfxParameterSuiteV1& params, OfxParamSetHandle paramSet, const char* name, OfxTime time,
               Value* value) {
  OfxParamHandle handle = nullptr;
  if (params.paramGetHandle(paramSet, name, &handle, nullptr) != kOfxStatOK) return;
  params.paramGetValueAtTime(handle, time, value);
}

}  // namespace

void SanitizeRenderSettings(RenderSettings& settings) {
  const RenderSettings fallbacks;
  for (const DoubleField& d : kDoubleFields)
    if (!std::isfinite(settings.*d.field)) settings.*d.field = fallbacks.*d.field;
  const ParamDeclaration* opacity = FindParamDeclaration(param::kCropOpacity);
  settings.CropOpacity = std::fmin(std::fmax(settings.CropOpacity, opacity->range.min), opacity->range.max);
}

RenderSettings ReadRenderSettings(const HostSuites& suites, OfxImageEffectHandle instance, OfxTime time) {
  RenderSettings settings;
  if (suites.parameter == nullptr) return settings;
  OfxParamSetHandle paramSet = nullptr;
  suites.imageEffect->getParamSet(instance, &paramSet);
  if (paramSet == nullptr) return settings;

  for (const SwitchField& s : kSwitchFields) ReadValue(*suites.parameter, paramSet, s.name, time, &(settings.*s.field));
  for (const DoubleField& d : kDoubleFields) ReadValue(*suites.parameter, paramSet, d.name, time, &(settings.*d.field));
  SanitizeRenderSettings(settings);
  return settings;
}

}  // namespace lenstrove
