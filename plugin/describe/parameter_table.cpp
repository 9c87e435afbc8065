#include "describe/parameter_table.h"

#include <cstring>
#include <iterator>

namespace lenstrove {

using namespace param;

namespace {
constexpr DoubleRange kNoRange{0.0, 0.0, 0.0, 0.0, 0.0};
constexpr DoubleRange kFraction(double defaultValue) { return {defaultValue, 0.0, 1.0, 0.0, 1.0}; }
}  // namespace

// The position labels say "(%)" but the values are fractions of the height;
// the labels are what users of earlier versions know, so they stay.
const ParamDeclaration kParamDeclarations[] = {
    {kGroupLegal, ParamKind::Group, "Legalize it!", "Legal", nullptr, kNoRange},
    {kLegalizeLevels, ParamKind::Boolean, "Legalize Levels", "Legalize", kGroupLegal, kNoRange},
    {kGroupRef, ParamKind::Group, "Reference it!", "Ref", nullptr, kNoRange},
    {kFalseColorMode, ParamKind::Boolean, "False Color Assist", "False Color", kGroupRef, kNoRange},
    {kShowSkinTonePatches, ParamKind::Boolean, "Macbeth Skin Tone Patches", "Patches", kGroupRef, kNoRange},
    {kShowSkinToneLine, ParamKind::Boolean, "Macbeth Skin Tone Line", "Line", kGroupRef, kNoRange},
    {kSkinLinePos, ParamKind::Double, "Skin Line Position (%)", "Skin Pos", kGroupRef, kFraction(0.73)},
    {kShowMiddleGray, ParamKind::Boolean, "18% Middle Gray", "Gray", kGroupRef, kNoRange},
    {kGrayLinePos, ParamKind::Double, "Gray Line Position (%)", "Gray Pos", kGroupRef, kFraction(0.12)},
    {kLineThickness, ParamKind::Double, "Guide Line Thickness (%)", "Thickness", kGroupRef,
     {15.0, 0.1, 30.0, 0.1, 30.0}},
    {kGroupGuides, ParamKind::Group, "Compose it!", "Guides", nullptr, kNoRange},
    {kGuideThirds, ParamKind::Boolean, "Rule of Thirds", "Thirds", kGroupGuides, kNoRange},
    {kGuideGolden, ParamKind::Boolean, "Golden Ratio (Phi Grid)", "Golden", kGroupGuides, kNoRange},
    {kGuideCrosshair, ParamKind::Boolean, "Center Crosshair", "Crosshair", kGroupGuides, kNoRange},
    {kGroupCrops, ParamKind::Group, "Cinematize it!", "Crops", nullptr, kNoRange},
    {kCrop185, ParamKind::Boolean, "1.85:1 (Widescreen Drama)", "1.85:1", kGroupCrops, kNoRange},
    {kCrop235, ParamKind::Boolean, "2.35:1 (Cinemascope Vintage)", "2.35:1", kGroupCrops, kNoRange},
    {kCrop239, ParamKind::Boolean, "2.39:1 (Anamorphic Blockbuster)", "2.39:1", kGroupCrops, kNoRange},
    {kCropOpacity, ParamKind::Double, "Cinematic Bar Opacity", "Opacity", kGroupCrops, kFraction(1.0)},
};

const std::size_t kParamDeclarationCount = std::size(kParamDeclarations);

const ParamDeclaration* FindParamDeclaration(const char* name) {
  for (const ParamDeclaration& declaration : kParamDeclarations)
    if (std::strcmp(declaration.name, name) == 0) return &declaration;
  return nullptr;
}

}  // namespace lenstrove
