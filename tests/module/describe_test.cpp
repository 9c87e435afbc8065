// What the host learns about the effect: the describe action, the clips and
// the parameter set, as calls in order and as the host ends up listing them.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "plugin_module.h"
#include "support/plugin_harness.h"

namespace lenstrove::testing {
namespace {

struct ExpectedItem {
  const char* name;
  const char* type;
  const char* label;
  const char* shortLabel;
  const char* parent;
  std::optional<std::array<double, 5>> range;  // default, min, max, display min, display max
};

constexpr std::array<double, 5> kFraction073{0.73, 0.0, 1.0, 0.0, 1.0};
constexpr std::array<double, 5> kFraction012{0.12, 0.0, 1.0, 0.0, 1.0};
constexpr std::array<double, 5> kThickness{15.0, 0.1, 30.0, 0.1, 30.0};
constexpr std::array<double, 5> kOpacity{1.0, 0.0, 1.0, 0.0, 1.0};

// The effect's parameters as users and stored projects know them.
const ExpectedItem kExpectedItems[] = {
    {"GroupLegal", "OfxParamTypeGroup", "Legalize it!", "Legal", nullptr, {}},
    {"LegalizeLevels", "OfxParamTypeBoolean", "Legalize Levels", "Legalize", "GroupLegal", {}},
    {"GroupRef", "OfxParamTypeGroup", "Reference it!", "Ref", nullptr, {}},
    {"FalseColorMode", "OfxParamTypeBoolean", "False Color Assist", "False Color", "GroupRef", {}},
    {"ShowSkinTonePatches", "OfxParamTypeBoolean", "Macbeth Skin Tone Patches", "Patches", "GroupRef", {}},
    {"ShowSkinToneLine", "OfxParamTypeBoolean", "Macbeth Skin Tone Line", "Line", "GroupRef", {}},
    {"SkinLinePos", "OfxParamTypeDouble", "Skin Line Position (%)", "Skin Pos", "GroupRef", kFraction073},
    {"ShowMiddleGray", "OfxParamTypeBoolean", "18% Middle Gray", "Gray", "GroupRef", {}},
    {"GrayLinePos", "OfxParamTypeDouble", "Gray Line Position (%)", "Gray Pos", "GroupRef", kFraction012},
    {"LineThickness", "OfxParamTypeDouble", "Guide Line Thickness (%)", "Thickness", "GroupRef", kThickness},
    {"GroupGuides", "OfxParamTypeGroup", "Compose it!", "Guides", nullptr, {}},
    {"GuideThirds", "OfxParamTypeBoolean", "Rule of Thirds", "Thirds", "GroupGuides", {}},
    {"GuideGolden", "OfxParamTypeBoolean", "Golden Ratio (Phi Grid)", "Golden", "GroupGuides", {}},
    {"GuideCrosshair", "OfxParamTypeBoolean", "Center Crosshair", "Crosshair", "GroupGuides", {}},
    {"GroupCrops", "OfxParamTypeGroup", "Cinematize it!", "Crops", nullptr, {}},
    {"Crop185", "OfxParamTypeBoolean", "1.85:1 (Widescreen Drama)", "1.85:1", "GroupCrops", {}},
    {"Crop235", "OfxParamTypeBoolean", "2.35:1 (Cinemascope Vintage)", "2.35:1", "GroupCrops", {}},
    {"Crop239", "OfxParamTypeBoolean", "2.39:1 (Anamorphic Blockbuster)", "2.39:1", "GroupCrops", {}},
    {"CropOpacity", "OfxParamTypeDouble", "Cinematic Bar Opacity", "Opacity", "GroupCrops", kOpacity},
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::vector<std::string> ExpectedClipCalls(const std::string& descriptor) {
  std::vector<std::string> calls;
  for (const char* clip : {"Output", "Source"}) {
    calls.push_back("clipDefine(" + descriptor + ", " + clip + ")");
    calls.push_back("propSetString(clip " + std::string(clip) +
                    ", OfxImageEffectPropSupportedComponents, 0, \"OfxImageComponentRGBA\")");
  }
  return calls;
}

// The calls, with doubles left out: their exact values are checked on the
// host's side, where no printing rounds them.
std::vector<std::string> ExpectedParamCalls(const std::string& descriptor) {
  std::vector<std::string> calls{"getParamSet(" + descriptor + ")"};
  for (const ExpectedItem& item : kExpectedItems) {
    const std::string param = "param " + std::string(item.name);
    calls.push_back("paramDefine(param set, " + std::string(item.type) + ", " + item.name + ")");
    calls.push_back("propSetString(" + param + ", OfxPropLabel, 0, " + Quoted(item.label) + ")");
    calls.push_back("propSetString(" + param + ", OfxPropShortLabel, 0, " + Quoted(item.shortLabel) + ")");
    if (item.parent) calls.push_back("propSetString(" + param + ", OfxParamPropParent, 0, " + Quoted(item.parent) + ")");
    if (std::string(item.type) == "OfxParamTypeBoolean")
      calls.push_back("propSetInt(" + param + ", OfxParamPropAnimates, 0, 0)");
  }
  return calls;
}

std::vector<std::string> WithoutDoubles(std::vector<std::string> calls) {
  calls.erase(std::remove_if(calls.begin(), calls.end(),
                             [](const std::string& c) { return c.rfind("propSetDouble(", 0) == 0; }),
              calls.end());
  return calls;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Description : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin = std::make_unique<host::Plugin>(host, std::make_shared<host::PluginModule>(kBundlePath), 0);
    plugin->SetHost();
    host.Log().Clear();
  }

  host::Host host;
  std::unique_ptr<host::Plugin> plugin;
};

TEST_F(Description, DescribeSetsTheSixPluginPropertiesInOrder) {
  ASSERT_EQ(plugin->Describe().status, kOfxStatOK);
  EXPECT_EQ(CallList(host.Log()),
            (std::vector<std::string>{
                "getPropertySet(descriptor)",
                "propSetString(descriptor, OfxPropLabel, 0, \" ~ Qel Lenstrove ~ \")",
                "propSetString(descriptor, OfxImageEffectPluginPropGrouping, 0, \"Marrowdale Plugins!\")",
                "propSetString(descriptor, OfxImageEffectPropSupportedPixelDepths, 0, \"OfxBitDepthByte\")",
                "propSetString(descriptor, OfxImageEffectPropSupportedPixelDepths, 1, \"OfxBitDepthFloat\")",
                "propSetString(descriptor, OfxImageEffectPropSupportedContexts, 0, \"OfxImageEffectContextFilter\")",
                "propSetString(descriptor, OfxImageEffectPropSupportedContexts, 1, \"OfxImageEffectContextGeneral\")",
            }));
  EXPECT_EQ(plugin->Descriptor().Properties().GetString(kOfxPropLabel), " ~ Qel Lenstrove ~ ");
  EXPECT_EQ(plugin->SupportedContexts(),
            (std::vector<std::string>{kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral}));
}

TEST_F(Description, BothContextsDeclareTheSameClipsAndParametersInOrder) {
  ASSERT_EQ(plugin->Describe().status, kOfxStatOK);
  for (const std::string context : {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral}) {
    host.Log().Clear();
    ASSERT_EQ(plugin->DescribeInContext(context).status, kOfxStatOK);
    const std::string descriptor = "descriptor " + context;
    EXPECT_EQ(WithoutDoubles(CallList(host.Log())),
              Concat(ExpectedClipCalls(descriptor), ExpectedParamCalls(descriptor)))
        << context;
    // Five doubles on each double parameter, in this order.
    std::vector<std::string> doubles = CallList(host.Log(), {"propSetDouble"});
    ASSERT_EQ(doubles.size(), 20u);
    for (size_t i = 0; i < doubles.size(); ++i) {
      const char* names[] = {"OfxParamPropDefault", "OfxParamPropMin", "OfxParamPropMax", "OfxParamPropDisplayMin",
                             "OfxParamPropDisplayMax"};
      EXPECT_NE(doubles[i].find(names[i % 5]), std::string::npos) << doubles[i];
    }
  }
}

TEST_F(Description, TheHostListsEveryItemWithItsExactValues) {
  ASSERT_EQ(plugin->Describe().status, kOfxStatOK);
  ASSERT_EQ(plugin->DescribeInContext(kOfxImageEffectContextFilter).status, kOfxStatOK);
  host::Effect& descriptor = *plugin->ContextDescriptor(kOfxImageEffectContextFilter);

  const auto& params = descriptor.Params().Params();
  ASSERT_EQ(params.size(), std::size(kExpectedItems));
  for (size_t i = 0; i < params.size(); ++i) {
    const ExpectedItem& expected = kExpectedItems[i];
    const host::Param& param = *params[i];
    SCOPED_TRACE(expected.name);
    EXPECT_EQ(param.Name(), expected.name);
    EXPECT_EQ(param.Type(), expected.type);
    EXPECT_EQ(param.Properties().GetString(kOfxPropLabel), expected.label);
    EXPECT_EQ(param.Properties().GetString(kOfxPropShortLabel), expected.shortLabel);
    if (expected.parent) {
      EXPECT_EQ(param.Properties().GetString(kOfxParamPropParent), expected.parent);
    }
    if (expected.range) {
      const char* names[] = {kOfxParamPropDefault, kOfxParamPropMin, kOfxParamPropMax, kOfxParamPropDisplayMin,
                             kOfxParamPropDisplayMax};
      for (int k = 0; k < 5; ++k) EXPECT_EQ(param.Properties().GetDouble(names[k]), (*expected.range)[k]) << names[k];
      EXPECT_EQ(param.Properties().GetInt(kOfxParamPropAnimates), 1) << "doubles keep the host's default";
    }
    if (std::string(expected.type) == kOfxParamTypeBoolean) {
      EXPECT_EQ(param.Properties().GetInt(kOfxParamPropAnimates), 0);
    }
  }

  ASSERT_EQ(descriptor.Clips().size(), 2u);
  EXPECT_EQ(descriptor.Clips()[0]->Name(), "Output");
  EXPECT_EQ(descriptor.Clips()[1]->Name(), "Source");
}

TEST_F(Description, AFreshInstanceShowsEverySwitchOffAndTheDoublesAtTheirDefaults) {
  plugin->Load();
  plugin->Describe();
  plugin->DescribeInContext(kOfxImageEffectContextFilter);
  host::Effect& instance = plugin->NewInstance(kOfxImageEffectContextFilter);
  for (const ExpectedItem& item : kExpectedItems) {
    const host::Param& param = instance.Params().Get(item.name);
    if (std::string(item.type) == kOfxParamTypeBoolean) {
      EXPECT_EQ(param.IntValue(), 0) << item.name;
    }
    if (item.range) {
      EXPECT_EQ(param.DoubleAt(0.0), (*item.range)[0]) << item.name;
    }
  }
}

TEST_F(Description, WithoutAParameterSuiteOnlyTheClipsAreDeclared) {
  host::Host bare;
  bare.Faults().missing_suites = {"OfxParameterSuite"};
  host::Plugin plugin2(bare, std::make_shared<host::PluginModule>(kBundlePath), 0);
  plugin2.SetHost();
  plugin2.Describe();
  bare.Log().Clear();
  EXPECT_EQ(plugin2.DescribeInContext(kOfxImageEffectContextFilter).status, kOfxStatOK);
  EXPECT_EQ(CallList(bare.Log()), ExpectedClipCalls("descriptor OfxImageEffectContextFilter"));
}

TEST_F(Description, RejectedCallsDoNotStopTheSequence) {
  ASSERT_EQ(plugin->Describe().status, kOfxStatOK);
  host.Faults().rejected_functions = {"propSetString", "propSetInt", "propSetDouble"};
  host.Log().Clear();
  EXPECT_EQ(plugin->DescribeInContext(kOfxImageEffectContextFilter).status, kOfxStatOK);
  const std::string descriptor = "descriptor OfxImageEffectContextFilter";
  EXPECT_EQ(WithoutDoubles(CallList(host.Log())),
            Concat(ExpectedClipCalls(descriptor), ExpectedParamCalls(descriptor)));
  EXPECT_EQ(host.Log().Count("propSetDouble"), 20u);
}

TEST_F(Description, ItemsTheHostRefusedGetNoProperties) {
  ASSERT_EQ(plugin->Describe().status, kOfxStatOK);
  host.Faults().rejected_functions = {"paramDefine", "clipDefine"};
  host.Log().Clear();
  EXPECT_EQ(plugin->DescribeInContext(kOfxImageEffectContextFilter).status, kOfxStatOK);
  EXPECT_EQ(host.Log().Count("paramDefine"), std::size(kExpectedItems));
  EXPECT_EQ(host.Log().Count("clipDefine"), 2u);
  EXPECT_EQ(host.Log().Count("propSetString") + host.Log().Count("propSetInt") + host.Log().Count("propSetDouble"),
            0u);
}

TEST_F(Description, AParameterSetTheHostWithholdsLeavesTheClipsDeclared) {
  ASSERT_EQ(plugin->Describe().status, kOfxStatOK);
  host.Faults().rejected_functions = {"getParamSet"};
  host.Log().Clear();
  EXPECT_EQ(plugin->DescribeInContext(kOfxImageEffectContextFilter).status, kOfxStatOK);
  EXPECT_EQ(host.Log().Count("clipDefine"), 2u);
  EXPECT_EQ(host.Log().Count("paramDefine"), 0u);
}

}  // namespace
}  // namespace lenstrove::testing
