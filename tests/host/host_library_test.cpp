// The host library's own behaviour that the plug-in tests and the command
// rely on: interpolated keys, clamping, property semantics, image layout and
// error reporting.

#include <gtest/gtest.h>

#include "host.h"
#include "image.h"
#include "ofx/ofxProperty.h"
#include "param_set.h"
#include "property_table.h"
#include "status.h"
#include "support/plugin_harness.h"

namespace lenstrove::testing {
namespace {

TEST(HostParams, DoublesInterpolateBetweenKeysAndHoldOutside) {
  PluginHarness harness;
  host::Param& opacity = harness.Instance().Params().Get("CropOpacity");
  EXPECT_EQ(opacity.DoubleAt(42.0), 1.0) << "the declared default";
  opacity.SetDoubleAt(10.0, 0.2);
  opacity.SetDoubleAt(20.0, 0.6);
  EXPECT_EQ(opacity.DoubleAt(0.0), 0.2);
  EXPECT_DOUBLE_EQ(opacity.DoubleAt(12.5), 0.3);
  EXPECT_EQ(opacity.DoubleAt(20.0), 0.6);
  EXPECT_EQ(opacity.DoubleAt(99.0), 0.6);
  opacity.SetDouble(0.5);
  EXPECT_TRUE(opacity.Keys().empty());
  EXPECT_EQ(opacity.DoubleAt(12.5), 0.5);
}

TEST(HostParams, ValuesAreClampedToTheDeclaredRange) {
  PluginHarness harness;
  host::Param& thickness = harness.Instance().Params().Get("LineThickness");
  EXPECT_TRUE(thickness.SetDouble(45.0));
  EXPECT_EQ(thickness.DoubleAt(0.0), 30.0);
  EXPECT_TRUE(thickness.SetDoubleAt(3.0, 0.0));
  EXPECT_EQ(thickness.DoubleAt(3.0), 0.1);
  EXPECT_FALSE(thickness.SetDouble(12.0));
}

TEST(HostProperties, KeepTheirTypeAndRefuseBadIndices) {
  host::PropertySet set("test");
  EXPECT_EQ(set.Set("Count", 2, 7), kOfxStatOK);
  EXPECT_EQ(set.Dimension("Count"), 3);
  EXPECT_EQ(set.GetInt("Count", 0), 0);
  EXPECT_EQ(set.Set("Count", 0, std::string("seven")), kOfxStatErrValue);
  const host::PropertyValue* value = nullptr;
  EXPECT_EQ(set.Find("Count", 3, host::PropertyType::kInt, &value), kOfxStatErrBadIndex);
  EXPECT_EQ(set.Find("Missing", 0, host::PropertyType::kInt, &value), kOfxStatErrUnknown);
  EXPECT_EQ(value, nullptr);
}

// Each object a plug-in can look at holds every property of the table
// from the start, of the table's type and, where fixed, dimension; so a
// multi-valued property nothing has filled answers a dimension of 0.
TEST(HostProperties, EveryObjectStartsWithTheStandardsPropertiesOfItsKind) {
  host::Host host;
  host::Effect descriptor(host, "", host::PropertySet());
  host::Effect context(host, kOfxImageEffectContextFilter, descriptor.Properties());
  host::Clip* clip = nullptr;
  ASSERT_EQ(context.DefineClip("Source", &clip), kOfxStatOK);
  std::vector<std::pair<uint32_t, std::string>> params;
  for (const char* type : {kOfxParamTypeGroup, kOfxParamTypePage, kOfxParamTypePushButton, kOfxParamTypeBoolean,
                           kOfxParamTypeChoice, kOfxParamTypeInteger, kOfxParamTypeInteger2D, kOfxParamTypeInteger3D,
                           kOfxParamTypeDouble, kOfxParamTypeDouble2D, kOfxParamTypeDouble3D, kOfxParamTypeRGB,
                           kOfxParamTypeRGBA, kOfxParamTypeString, kOfxParamTypeCustom}) {
    host::Param* param = nullptr;
    ASSERT_EQ(context.Params().Define(type, type, &param), kOfxStatOK);
    params.emplace_back(host::ParamCarrier(type), type);
  }
  std::unique_ptr<host::Effect> instance = host::Effect::Instantiate(context);
  host::Image image({0, 0, 2, 2});
  std::vector<std::pair<uint32_t, const host::PropertySet*>> objects = {
      {host::kHostObject, &host.Properties()},          {host::kEffectDescriptor, &descriptor.Properties()},
      {host::kEffectInstance, &instance->Properties()}, {host::kClipDescriptor, &clip->Properties()},
      {host::kClipInstance, &instance->GetClip("Source").Properties()}, {host::kImageObject, &image.Properties()},
      {host::kParamSetObject, &instance->Params().Properties()}};
  for (const auto& [carrier, name] : params) {
    objects.emplace_back(carrier, &context.Params().Get(name).Properties());
    objects.emplace_back(carrier, &instance->Params().Get(name).Properties());
  }
  for (const host::StandardProperty& row : host::StandardProperties()) {
    for (const auto& [carrier, properties] : objects) {
      if ((row.carriers & carrier) == 0) continue;
      const host::Property* found = properties->Lookup(row.name);
      ASSERT_NE(found, nullptr) << properties->Label() << " lacks " << row.name;
      EXPECT_EQ(found->type, row.type) << properties->Label() << " " << row.name;
      if (row.dimension != 0) EXPECT_EQ(found->values.size(), size_t(row.dimension)) << properties->Label() << " " << row.name;
    }
  }
  // Through the suite, as the support library asks before it sets them.
  const auto* suite = static_cast<const OfxPropertySuiteV1*>(host.FetchSuite(kOfxPropertySuite, 1));
  OfxPropertySetHandle handle = descriptor.Properties().Handle();
  int dimension = -1;
  EXPECT_EQ(suite->propGetDimension(handle, kOfxImageEffectPropSupportedContexts, &dimension), kOfxStatOK);
  EXPECT_EQ(dimension, 0);
  // What the standard does not define is kept, as the plug-in set it.
  EXPECT_EQ(suite->propSetString(handle, "com.example.Private", 1, "kept"), kOfxStatOK);
  char* kept = nullptr;
  EXPECT_EQ(suite->propGetString(handle, "com.example.Private", 1, &kept), kOfxStatOK);
  EXPECT_STREQ(kept, "kept");
}

TEST(HostImages, AddressRowsUpwardEvenWhenStoredTopDown) {
  host::Image image({10, 20, 13, 24}, kOfxBitDepthByte, kOfxImageComponentRGBA, -12);
  image.SetByte(10, 20, 0, 1);
  image.SetByte(10, 21, 0, 2);
  EXPECT_EQ(image.PixelAddress(10, 21), image.PixelAddress(10, 20) - 12);
  EXPECT_EQ(image.Properties().GetPointer(kOfxImagePropData), image.PixelAddress(10, 20));
  EXPECT_TRUE(image.GuardsIntact());
  image.PixelAddress(10, 23)[-1] = 0;  // just before the lowest row in memory
  EXPECT_FALSE(image.GuardsIntact());
}

TEST(HostErrors, PluginFailuresReachTheCaller) {
  const host::ActionResult failed{kOfxImageEffectActionRender, kOfxStatFailed};
  EXPECT_FALSE(failed.Succeeded());
  try {
    failed.Check();
    FAIL() << "Check must throw";
  } catch (const host::PluginError& error) {
    EXPECT_STREQ(error.what(), "OfxImageEffectActionRender failed: kOfxStatFailed (1)");
  }
  EXPECT_TRUE((host::ActionResult{kOfxActionDestroyInstance, kOfxStatReplyDefault}.Succeeded()));
  EXPECT_FALSE((host::ActionResult{kOfxActionDescribe, kOfxStatReplyDefault}.Succeeded()));
  EXPECT_THROW(host::Host().Open("/nonexistent/Nothing.ofx.bundle"), host::HostError);
}

}  // namespace
}  // namespace lenstrove::testing
