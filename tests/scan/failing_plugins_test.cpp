// The standard's rules when a plug-in fails, in this process, against real
// plug-ins on the standard's support library: a plug-in whose load fails
// gets no other action, and one that fails describe, or throws inside it,
// is reported with its reason and gets no unload either (the library frees
// on unload a description that a failed describe never made, and crashes:
// this test process would die with it).

#include <gtest/gtest.h>

#include <memory>

#include "host.h"
#include "plugin_module.h"
#include "scan/scan_test_support.h"
#include "status.h"

#if defined(__SANITIZE_ADDRESS__)
#define LENSTROVE_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LENSTROVE_LEAK_CHECKED 1
#endif
#endif
#ifdef LENSTROVE_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace lenstrove::testing {
namespace {

// The support library leaks the descriptor it made when describe throws:
// its fault, not the host's, and not this test's concern.
class LibraryLeaksIgnored {
 public:
#ifdef LENSTROVE_LEAK_CHECKED
  LibraryLeaksIgnored() { __lsan_disable(); }
  ~LibraryLeaksIgnored() { __lsan_enable(); }
#endif
};

TEST(FailingPlugins, LoadOrDescribeFailuresAreReportedAndGetNoUnload) {
#ifndef LENSTROVE_FAILING_PLUGIN_DIR
  GTEST_SKIP() << "no OpenFX support library: its failing plug-ins were not built";
#else
  ScratchFolder scratch;
  ActionLog log(scratch / "actions.txt");
  struct Case {
    const char* bundle;
    int index;
    const char* identifier;
    const char* action;
    OfxStatus status;
  };
  const Case cases[] = {
      {"FailsToLoad", 0, "org.lenstrove.tests.FailsToLoad", kOfxActionLoad, kOfxStatFailed},
      {"FailsToDescribe", 0, "org.lenstrove.tests.RefusesHost", kOfxActionDescribe, kOfxStatErrMissingHostFeature},
      {"FailsToDescribe", 1, "org.lenstrove.tests.ThrowsInDescribe", kOfxActionDescribe, kOfxStatFailed},
  };
  for (const Case& c : cases) {
    host::Host host;
    auto module = std::make_shared<host::PluginModule>(BinaryIn(LENSTROVE_FAILING_PLUGIN_DIR, c.bundle));
    host::Plugin plugin(host, module, c.index);
    try {
      [[maybe_unused]] LibraryLeaksIgnored ignored;
      plugin.Start();
      ADD_FAILURE() << c.identifier << " started";
    } catch (const host::PluginError& error) {
      EXPECT_EQ(error.action(), c.action) << c.identifier;
      EXPECT_EQ(error.status(), c.status) << c.identifier;
    }
    plugin.Shutdown();  // a caller that tidies up anyway sends nothing more
    EXPECT_EQ(plugin.Identifier(), c.identifier);
  }
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"load org.lenstrove.tests.FailsToLoad",
                                                   "load org.lenstrove.tests.RefusesHost",
                                                   "describe org.lenstrove.tests.RefusesHost",
                                                   "load org.lenstrove.tests.ThrowsInDescribe",
                                                   "describe org.lenstrove.tests.ThrowsInDescribe"}));
#endif
}

}  // namespace
}  // namespace lenstrove::testing
