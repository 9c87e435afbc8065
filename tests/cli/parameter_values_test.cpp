// Settings checked against declared parameters: the shape each type takes,
// ranges and clamping warnings, keys, and the errors that name what is
// wrong.

#include <gtest/gtest.h>

#include <cmath>

#include "render/parameter_values.h"

namespace lenstrove::cli {
namespace {

ParameterInfo Info(const std::string& name, ParameterType type, std::vector<double> defaults = {},
                   std::vector<double> minimum = {}, std::vector<double> maximum = {}, bool animates = true) {
  ParameterInfo p;
  p.name = name;
  p.type = type;
  p.label = name;
  p.defaults = defaults;
  const std::size_t numbers = static_cast<std::size_t>(NumbersOf(type));
  p.minimum = minimum.empty() ? std::vector<double>(numbers, -HUGE_VAL) : minimum;
  p.maximum = maximum.empty() ? std::vector<double>(numbers, HUGE_VAL) : maximum;
  p.animates = animates;
  return p;
}

std::vector<ParameterInfo> Declared() {
  ParameterInfo mode = Info("Mode", ParameterType::Choice, {0}, {0}, {2});
  mode.options = {"Fill", "Fit", "fit width"};
  ParameterInfo other = Info("Curve2", ParameterType::Other);
  other.typeName = "OfxParamTypeParametric";
  return {Info("GroupCrops", ParameterType::Group, {}, {}, {}, false),
          Info("Crop239", ParameterType::Boolean, {0}, {}, {}, false),
          Info("CropOpacity", ParameterType::Double, {1}, {0}, {1}),
          Info("Steps", ParameterType::Integer, {2}, {1}, {8}),
          Info("Fixed", ParameterType::Double, {0}, {}, {}, false),
          Info("Size", ParameterType::Integer2D, {640, 480}, {1, 1}, {4096, 4096}),
          Info("Cells", ParameterType::Integer3D),
          Info("corner1", ParameterType::Double2D),
          Info("Axis", ParameterType::Double3D),
          Info("Lift", ParameterType::RGB),
          Info("Tint", ParameterType::RGBA),
          Info("Note", ParameterType::String),
          Info("Spline", ParameterType::Custom),
          Info("Reset", ParameterType::PushButton),
          mode,
          other};
}

ResolvedSettings Resolve(const std::vector<std::string>& words) {
  std::vector<ParameterSetting> settings;
  for (const std::string& w : words) settings.push_back(ParseParameterSetting(w));
  return ResolveSettings(settings, Declared());
}

std::string ErrorOf(const std::vector<std::string>& words) {
  try {
    Resolve(words);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(ResolveSettings, EveryTypeTakesItsOwnShape) {
  const ResolvedSettings r =
      Resolve({"Crop239=yes", "CropOpacity=0.25", "Steps=3", "Size=320,200", "Cells=1,-2,3", "corner1=40.5,30",
               "Axis=0,0,1", "Lift=0.1,0.2,0.3", "Tint=1,0.5,0.25", "Note=a:b,c=d", "Spline=", "Mode=fit"});
  ASSERT_EQ(r.settings.size(), 12u);
  const std::vector<std::vector<double>> numbers = {{1}, {0.25}, {3}, {320, 200}, {1, -2, 3}, {40.5, 30},
                                                    {0, 0, 1}, {0.1, 0.2, 0.3}, {1, 0.5, 0.25, 1}};
  for (std::size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(r.settings[i].value.numbers, numbers[i]) << i;
  EXPECT_EQ(r.settings[9].value.text, "a:b,c=d") << "strings as given";
  EXPECT_EQ(r.settings[10].value.text, "");
  EXPECT_EQ(r.settings[11].value.numbers, std::vector<double>{1}) << "the one label that matches in any case";
  EXPECT_EQ(Resolve({"Mode=fit width"}).settings[0].number(), 2) << "an exact label first";
  EXPECT_EQ(Resolve({"Mode=2"}).settings[0].number(), 2) << "by number as before";
  EXPECT_TRUE(r.warnings.empty());
}

TEST(ResolveSettings, OutOfRangeValuesAndKeysAreClampedWithAWarningEach) {
  const ResolvedSettings r = Resolve({"CropOpacity=1.5", "Steps=-4", "Size=9000,10"});
  EXPECT_EQ(r.settings[0].number(), 1.0);
  EXPECT_EQ(r.settings[1].number(), 1.0);
  EXPECT_EQ(r.settings[2].value.numbers, (std::vector<double>{4096, 10}));
  ASSERT_EQ(r.warnings.size(), 3u);
  EXPECT_NE(r.warnings[0].find("CropOpacity=1.5 is outside its range 0..1; using 1"), std::string::npos);
  EXPECT_NE(r.warnings[2].find("Size=9000,10 is outside its range 1,1..4096,4096; using 4096,10"), std::string::npos);

  const ResolvedSettings keyed = Resolve({"CropOpacity=10:0.5,0:-1"});
  ASSERT_EQ(keyed.settings[0].keys.size(), 2u);
  EXPECT_EQ(keyed.settings[0].keys[0].time, 0.0) << "sorted by time";
  EXPECT_EQ(keyed.settings[0].keys[0].value.numbers[0], 0.0);
  EXPECT_EQ(keyed.settings[0].keys[1].value.numbers[0], 0.5);
  EXPECT_EQ(keyed.warnings.size(), 1u);
  EXPECT_TRUE(Resolve({"CropOpacity=0", "Steps=8"}).warnings.empty()) << "a value at the limit is not warned about";
}

TEST(ResolveSettings, KeysForEveryAnimatingTypeInEitherForm) {
  const ResolvedSettings r = Resolve({"Note@10=b,c", "Size@5=2,3", "Note@-1=a:z", "Tint@0=1,1,1,0"});
  ASSERT_EQ(r.settings.size(), 3u);
  ASSERT_EQ(r.settings[0].keys.size(), 2u);
  EXPECT_EQ(r.settings[0].keys[0].time, -1);
  EXPECT_EQ(r.settings[0].keys[0].value.text, "a:z");
  EXPECT_EQ(r.settings[0].keys[1].value.text, "b,c");
  EXPECT_EQ(SettingText(r.settings[0]), "Note@-1=a:z Note@10=b,c");
  EXPECT_EQ(SettingText(r.settings[1]), "Size@5=2,3");
  EXPECT_EQ(Resolve({"CropOpacity@3=0.5", "CropOpacity=1:1"}).settings[0].keys.size(), 2u);
}

TEST(ResolveSettings, EachFaultIsNamedWithTheFormItTakes) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"Crop=on"}, "unknown parameter 'Crop' (the plug-in has: Crop239, CropOpacity, Steps, Fixed, Size"},
      {{"GroupCrops=1"}, "parameter 'GroupCrops' is a group and holds no value"},
      {{"Reset=1"}, "parameter 'Reset' is a push button and holds no value"},
      {{"Curve2=1"}, "parameter 'Curve2' is of a type this command cannot set (OfxParamTypeParametric)"},
      {{"Crop239=maybe"}, "parameter 'Crop239' is a boolean: 'maybe' is not on/off, true/false, yes/no or 1/0"},
      {{"CropOpacity=half"}, "parameter 'CropOpacity' is a double: 'half' is not a number"},
      {{"Steps=2.5"}, "parameter 'Steps' is an integer: '2.5' is not a whole number"},
      {{"corner1=40"}, "parameter 'corner1' is a 2D double: '40' is not X,Y (two numbers)"},
      {{"Size=1,2.5"}, "parameter 'Size' is a 2D integer: '1,2.5' is not X,Y (two whole numbers)"},
      {{"Axis=1,2,3,4"}, "is a 3D double: '1,2,3,4' is not X,Y,Z (three numbers)"},
      {{"Lift=1,1,1,1"}, "is an RGB colour: '1,1,1,1' is not R,G,B (three numbers)"},
      {{"Tint=1,1"}, "is an RGBA colour: '1,1' is not R,G,B or R,G,B,A (three or four numbers)"},
      {{"Mode=Stretch"}, "is a choice: 'Stretch' is not an option's number (0 to 2) or label (Fill, Fit, fit width)"},
      {{"CropOpacity="}, "parameter 'CropOpacity' is given no value"},
      {{"Crop239=0:0,1:1"}, "only doubles take keyframes as T:V; give each key as Crop239@TIME=VALUE"},
      {{"Crop239@2=on"}, "parameter 'Crop239' does not animate, so it takes no keys"},
      {{"Fixed=0:0,1:1"}, "does not animate"},
      {{"Steps=1", "Steps=2"}, "parameter 'Steps' is set twice"},
      {{"Steps=1", "Steps@2=2"}, "parameter 'Steps' is given a value and keys"},
      {{"Note@1=a", "Note@1=b"}, "parameter 'Note' has two keys at time 1"},
  };
  for (const auto& [words, message] : cases) EXPECT_NE(ErrorOf(words).find(message), std::string::npos) << ErrorOf(words);
  // The older T:V form for doubles, each malformed pair named.
  for (const char* word : {"CropOpacity=1:", "CropOpacity=:1", "CropOpacity=1:x", "CropOpacity=0:1,", "CropOpacity=0:1,,2:3"})
    EXPECT_NE(ErrorOf({word}).find("of parameter 'CropOpacity' is not TIME:VALUE"), std::string::npos) << word;
  EXPECT_NE(ErrorOf({"CropOpacity=1:0,1:1"}).find("has two keys at time 1"), std::string::npos);
}

}  // namespace
}  // namespace lenstrove::cli
