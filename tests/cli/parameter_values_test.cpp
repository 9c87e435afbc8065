// Settings checked against declared parameters: types, ranges, clamping
// warnings, keyframes, and the errors that name what is wrong.

#include <gtest/gtest.h>

#include "parameter_values.h"

namespace lenstrove::cli {
namespace {

std::vector<ParameterInfo> Declared() {
  ParameterInfo group{"GroupCrops", ParameterType::Group, "OfxParamTypeGroup", "Crops", "", {}, {}, {}, false};
  ParameterInfo crop{"Crop239", ParameterType::Boolean, "OfxParamTypeBoolean", "2.39", "GroupCrops", 0.0, {}, {},
                     false};
  ParameterInfo opacity{"CropOpacity", ParameterType::Double, "OfxParamTypeDouble", "Opacity", "GroupCrops", 1.0,
                        0.0, 1.0, true};
  ParameterInfo steps{"Steps", ParameterType::Integer, "OfxParamTypeInteger", "Steps", "", 2.0, 1.0, 8.0, true};
  ParameterInfo fixed{"Fixed", ParameterType::Double, "OfxParamTypeDouble", "Fixed", "", 0.0, {}, {}, false};
  return {group, crop, opacity, steps, fixed};
}

ParameterSetting Setting(const std::string& word) { return ParseParameterSetting(word); }

std::string ErrorOf(const std::vector<std::string>& words) {
  std::vector<ParameterSetting> settings;
  for (const std::string& w : words) settings.push_back(Setting(w));
  try {
    ResolveSettings(settings, Declared());
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(ResolveSettings, ValuesAreConvertedByTheDeclaredType) {
  const ResolvedSettings r =
      ResolveSettings({Setting("Crop239=yes"), Setting("CropOpacity=0.25"), Setting("Steps=3")}, Declared());
  ASSERT_EQ(r.settings.size(), 3u);
  EXPECT_EQ(r.settings[0].type, ParameterType::Boolean);
  EXPECT_EQ(r.settings[0].value, 1.0);
  EXPECT_EQ(r.settings[1].value, 0.25);
  EXPECT_EQ(r.settings[2].value, 3.0);
  EXPECT_TRUE(r.warnings.empty());
}

TEST(ResolveSettings, OutOfRangeValuesAndKeysAreClampedWithAWarningEach) {
  const ResolvedSettings r =
      ResolveSettings({Setting("CropOpacity=1.5"), Setting("Steps=-4")}, Declared());
  EXPECT_EQ(r.settings[0].value, 1.0);
  EXPECT_EQ(r.settings[1].value, 1.0);
  ASSERT_EQ(r.warnings.size(), 2u);
  EXPECT_NE(r.warnings[0].find("CropOpacity=1.5 is outside its range 0..1; using 1"), std::string::npos);

  const ResolvedSettings keyed = ResolveSettings({Setting("CropOpacity=0:-1,10:0.5")}, Declared());
  ASSERT_EQ(keyed.settings[0].keyframes.size(), 2u);
  EXPECT_EQ(keyed.settings[0].keyframes[0].value, 0.0);
  EXPECT_EQ(keyed.settings[0].keyframes[1].value, 0.5);
  EXPECT_EQ(keyed.warnings.size(), 1u);
}

TEST(ResolveSettings, AValueAtTheLimitIsNotWarnedAbout) {
  const ResolvedSettings r = ResolveSettings({Setting("CropOpacity=0"), Setting("Steps=8")}, Declared());
  EXPECT_TRUE(r.warnings.empty());
}

TEST(ResolveSettings, EachFaultIsNamed) {
  EXPECT_NE(ErrorOf({"Crop=on"}).find("unknown parameter 'Crop'"), std::string::npos);
  // The list of known names helps with a typo, and leaves out groups.
  EXPECT_NE(ErrorOf({"Crop=on"}).find("Crop239, CropOpacity, Steps, Fixed)"), std::string::npos);
  EXPECT_NE(ErrorOf({"GroupCrops=1"}).find("is a group and holds no value"), std::string::npos);
  EXPECT_NE(ErrorOf({"Crop239=maybe"}).find("'maybe' is not on/off"), std::string::npos);
  EXPECT_NE(ErrorOf({"CropOpacity=half"}).find("is a double: 'half' is not a number"), std::string::npos);
  EXPECT_NE(ErrorOf({"Steps=2.5"}).find("'2.5' is not a whole number"), std::string::npos);
  EXPECT_NE(ErrorOf({"Crop239=0:0,1:1"}).find("only doubles take keyframes"), std::string::npos);
  EXPECT_NE(ErrorOf({"Fixed=0:0,1:1"}).find("does not animate"), std::string::npos);
  EXPECT_NE(ErrorOf({"Steps=1", "Steps=2"}).find("set twice"), std::string::npos);
}

}  // namespace
}  // namespace lenstrove::cli
