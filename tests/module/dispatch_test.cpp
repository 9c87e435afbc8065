// Binding to the host and routing its actions.

#include <gtest/gtest.h>

#include <filesystem>

#include "plugin_module.h"
#include "support/plugin_harness.h"

namespace lenstrove::testing {
namespace {

// A plug-in taken from a fresh copy of the module, so its suites start
// unbound.
struct FreshPlugin {
  explicit FreshPlugin(host::Host& host) : path(FreshModuleCopy()) {
    plugin = std::make_unique<host::Plugin>(host, std::make_shared<host::PluginModule>(path), 0);
  }
  ~FreshPlugin() {
    plugin.reset();
    std::filesystem::remove(path);
  }
  std::string path;
  std::unique_ptr<host::Plugin> plugin;
};

TEST(SetHost, FetchesTheThreeSuitesInOrderAtVersionOne) {
  host::Host host;
  FreshPlugin fresh(host);
  fresh.plugin->SetHost();
  EXPECT_EQ(CallList(host.Log()), (std::vector<std::string>{"fetchSuite(OfxPropertySuite, 1)",
                                                             "fetchSuite(OfxImageEffectSuite, 1)",
                                                             "fetchSuite(OfxParameterSuite, 1)"}));
}

TEST(SetHost, ANullFetchSuiteKeepsTheSuitesBoundBefore) {
  host::Host host;
  FreshPlugin fresh(host);
  fresh.plugin->SetHost();
  host.Faults().null_fetch_suite = true;
  fresh.plugin->SetHost();
  EXPECT_EQ(fresh.plugin->Describe().status, kOfxStatOK);
}

TEST(SetHost, ANullFetchSuiteOnTheFirstCallLeavesNoSuites) {
  host::Host host;
  FreshPlugin fresh(host);
  host.Faults().null_fetch_suite = true;
  fresh.plugin->SetHost();
  host.Log().Clear();
  EXPECT_EQ(fresh.plugin->Describe().status, kOfxStatErrMissingHostFeature);
  EXPECT_TRUE(host.Log().Records().empty());
}

TEST(Describe, BeforeSetHostAnswersMissingFeatureWithoutCallingTheHost) {
  host::Host host;
  FreshPlugin fresh(host);
  EXPECT_EQ(fresh.plugin->Load().status, kOfxStatOK);
  EXPECT_EQ(fresh.plugin->Describe().status, kOfxStatErrMissingHostFeature);
  EXPECT_EQ(fresh.plugin->DescribeInContext(kOfxImageEffectContextFilter).status, kOfxStatErrMissingHostFeature);
  EXPECT_EQ(fresh.plugin->Unload().status, kOfxStatOK);
  EXPECT_TRUE(host.Log().Records().empty());
}

TEST(Describe, WithoutAPropertySuiteAnswersMissingFeatureWithoutCallingTheHost) {
  host::Host host;
  host.Faults().missing_suites = {"OfxPropertySuite"};
  FreshPlugin fresh(host);
  fresh.plugin->SetHost();
  host.Log().Clear();
  EXPECT_EQ(fresh.plugin->Load().status, kOfxStatOK);
  EXPECT_EQ(fresh.plugin->Describe().status, kOfxStatErrMissingHostFeature);
  EXPECT_EQ(fresh.plugin->DescribeInContext(kOfxImageEffectContextGeneral).status, kOfxStatErrMissingHostFeature);
  EXPECT_TRUE(host.Log().Records().empty());
}

TEST(Describe, WithoutAnImageEffectSuiteCallsNothingThroughIt) {
  host::Host host;
  host.Faults().missing_suites = {"OfxImageEffectSuite"};
  FreshPlugin fresh(host);
  fresh.plugin->SetHost();
  host.Log().Clear();
  EXPECT_EQ(fresh.plugin->Describe().status, kOfxStatErrMissingHostFeature);
  EXPECT_TRUE(host.Log().Records().empty());
}

TEST(Describe, AFailedPropertySetLookupIsReportedAndNothingIsSet) {
  host::Host host;
  host.Faults().rejected_functions = {"getPropertySet"};
  FreshPlugin fresh(host);
  fresh.plugin->SetHost();
  host.Log().Clear();
  EXPECT_EQ(fresh.plugin->Describe().status, kOfxStatFailed);
  EXPECT_EQ(host.Log().Count("propSetString"), 0u);
}

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin = host.Open(kBundlePath);
    instance = &plugin->Instantiate(kOfxImageEffectContextFilter);
    host.Log().Clear();
  }
  void TearDown() override { plugin->Shutdown(); }

  OfxStatus Send(const char* action) { return plugin->CallAction(action, instance->Handle(), nullptr, nullptr).status; }

  host::Host host;
  std::unique_ptr<host::Plugin> plugin;
  host::Effect* instance = nullptr;
};

TEST_F(Dispatch, AnswersTheHandledActionsWithoutWork) {
  EXPECT_EQ(Send("OfxActionLoad"), kOfxStatOK);
  EXPECT_EQ(Send("OfxActionCreateInstance"), kOfxStatOK);
  EXPECT_EQ(Send("OfxActionInstanceChanged"), kOfxStatOK);
  EXPECT_TRUE(host.Log().Records().empty()) << host.Log().ToString();
}

TEST_F(Dispatch, LeavesEveryOtherActionToTheHostsDefault) {
  for (const char* action :
       {"OfxActionDestroyInstance", "OfxImageEffectActionGetRegionOfDefinition",
        "OfxImageEffectActionGetRegionsOfInterest", "OfxImageEffectActionGetClipPreferences",
        "OfxImageEffectActionIsIdentity", "OfxImageEffectActionBeginSequenceRender",
        "OfxImageEffectActionEndSequenceRender", "OfxActionBeginInstanceChanged", "OfxActionEndInstanceChanged",
        "OfxActionPurgeCaches", "OfxActionSyncPrivateData", "OfxImageEffectActionGetTimeDomain",
        "ofxactionload", "OfxActionLoad ", "OfxActionLoa", "", "OfxImageEffectActionRenderX"})
    EXPECT_EQ(Send(action), kOfxStatReplyDefault) << '"' << action << '"';
  EXPECT_EQ(Send(nullptr), kOfxStatReplyDefault);
  EXPECT_TRUE(host.Log().Records().empty()) << host.Log().ToString();
}

TEST_F(Dispatch, RoutesDescribeInContextAndRenderToTheirHandlers) {
  host::Image source({0, 0, 1, 1}, kOfxBitDepthByte), output({0, 0, 1, 1}, kOfxBitDepthByte);
  instance->GetClip("Source").SetImage(&source);
  instance->GetClip("Output").SetImage(&output);
  EXPECT_EQ(plugin->Render(*instance, {0.0, {0, 0, 1, 1}}).status, kOfxStatOK);
  EXPECT_GT(host.Log().Count("clipGetImage"), 0u);
  EXPECT_EQ(plugin->DescribeInContext(kOfxImageEffectContextGeneral).status, kOfxStatOK);
  EXPECT_GT(host.Log().Count("clipDefine"), 0u);
}

}  // namespace
}  // namespace lenstrove::testing
