#pragma once

// Every group and parameter the effect declares, in the order the host
// lists them. The names are the keys under which hosts store the values
// with a project, so they never change.

#include <cstddef>

namespace lenstrove {

enum class ParamKind { Group, Boolean, Double };

struct DoubleRange {
  double defaultValue;
  double min;
  double max;
  double displayMin;
  double displayMax;
};

struct ParamDeclaration {
  const char* name;
  ParamKind kind;
  const char* label;
  const char* shortLabel;
  const char* parent;   // null for groups
  DoubleRange range;    // doubles only
};

namespace param {
constexpr const char* kGroupLegal = "GroupLegal";
constexpr const char* kLegalizeLevels = "LegalizeLevels";
constexpr const char* kGroupRef = "GroupRef";
constexpr const char* kFalseColorMode = "FalseColorMode";
constexpr const char* kShowSkinTonePatches = "ShowSkinTonePatches";
constexpr const char* kShowSkinToneLine = "ShowSkinToneLine";
constexpr const char* kSkinLinePos = "SkinLinePos";
constexpr const char* kShowMiddleGray = "ShowMiddleGray";
constexpr const char* kGrayLinePos = "GrayLinePos";
constexpr const char* kLineThickness = "LineThickness";
constexpr const char* kGroupGuides = "GroupGuides";
constexpr const char* kGuideThirds = "GuideThirds";
constexpr const char* kGuideGolden = "GuideGolden";
constexpr const char* kGuideCrosshair = "GuideCrosshair";
constexpr const char* kGroupCrops = "GroupCrops";
constexpr const char* kCrop185 = "Crop185";
constexpr const char* kCrop235 = "Crop235";
constexpr const char* kCrop239 = "Crop239";
constexpr const char* kCropOpacity = "CropOpacity";
}  // namespace param

extern const ParamDeclaration kParamDeclarations[];
extern const std::size_t kParamDeclarationCount;

// The declaration of a double parameter by name, or null.
const ParamDeclaration* FindParamDeclaration(const char* name);

}  // namespace lenstrove
