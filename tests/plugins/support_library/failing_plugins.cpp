// Plug-ins on the standard's C++ support library that fail on purpose, one
// way per bundle (the bundle's name is defined as LENSTROVE_BUNDLE_<NAME>
// when it is built):
//   FailsToLoad        its load throws, as a plug-in that finds no licence does
//   FailsToDescribe    two plug-ins: RefusesHost refuses the host in describe
//                      (the library's own way: kOfxStatErrMissingHostFeature),
//                      ThrowsInDescribe throws a std::runtime_error there
//                      (the library answers kOfxStatFailed)
//   CrashesDescribing  two plug-ins: CrashesDescribing writes to an unmapped
//                      address in describe (a real segmentation fault, an
//                      access violation on Windows); ScannedAfterTheCrash,
//                      after it, throws in describe, so its reason shows
//                      that the scan went on past the crash
//   HangsDescribing    never returns from describe
// Load, describe and unload each note "ACTION IDENTIFIER" on a line of the
// file LENSTROVE_TEST_ACTION_LOG names, when set, before doing anything
// else, so a test can see which actions the host sent.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include "ofxsImageEffect.h"

namespace {

enum class Failure { kLoad, kRefuseHost, kThrow, kCrash, kHang };

void Note(const char* action, const std::string& identifier) {
  const char* log = std::getenv("LENSTROVE_TEST_ACTION_LOG");
  if (!log) return;
  if (std::FILE* file = std::fopen(log, "a")) {
    std::fprintf(file, "%s %s\n", action, identifier.c_str());
    std::fclose(file);
  }
}

// An address no process maps, read through a volatile pointer so that no
// compiler can see it and turn the write into a trap instruction; not null,
// so that a sanitizer's null check does not turn the crash into an exit
// status.
int* volatile gNowhere = reinterpret_cast<int*>(std::uintptr_t{64});

template <Failure kFailure>
class FailingFactory : public OFX::PluginFactoryHelper<FailingFactory<kFailure>> {
 public:
  FailingFactory(const std::string& id, unsigned major, unsigned minor)
      : OFX::PluginFactoryHelper<FailingFactory<kFailure>>(id, major, minor) {}

  void load() override {
    Note("load", this->getID());
    if (kFailure == Failure::kLoad) throw std::runtime_error("no licence for this machine");
  }
  void unload() override { Note("unload", this->getID()); }

  void describe(OFX::ImageEffectDescriptor& descriptor) override {
    Note("describe", this->getID());
    switch (kFailure) {
      case Failure::kRefuseHost:
        throw OFX::Exception::HostInadequate("a host with an interact suite");
      case Failure::kThrow:
        throw std::runtime_error("describe went wrong");
      case Failure::kCrash:
        *gNowhere = 1;
        break;
      case Failure::kHang:
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
      case Failure::kLoad:
        break;
    }
    descriptor.setLabel("Never Seen");
    descriptor.addSupportedContext(OFX::eContextFilter);
    descriptor.addSupportedBitDepth(OFX::eBitDepthFloat);
  }

  void describeInContext(OFX::ImageEffectDescriptor&, OFX::ContextEnum) override {}
  OFX::ImageEffect* createInstance(OfxImageEffectHandle, OFX::ContextEnum) override { return nullptr; }
};

}  // namespace

namespace OFX::Plugin {

void getPluginIDs(OFX::PluginFactoryArray& ids) {
#if defined(LENSTROVE_BUNDLE_FailsToLoad)
  static FailingFactory<Failure::kLoad> fails_to_load("org.lenstrove.tests.FailsToLoad", 1, 0);
  ids.push_back(&fails_to_load);
#elif defined(LENSTROVE_BUNDLE_FailsToDescribe)
  static FailingFactory<Failure::kRefuseHost> refuses_host("org.lenstrove.tests.RefusesHost", 1, 0);
  static FailingFactory<Failure::kThrow> throws("org.lenstrove.tests.ThrowsInDescribe", 1, 0);
  ids.push_back(&refuses_host);
  ids.push_back(&throws);
#elif defined(LENSTROVE_BUNDLE_CrashesDescribing)
  static FailingFactory<Failure::kCrash> crashes("org.lenstrove.tests.CrashesDescribing", 1, 0);
  static FailingFactory<Failure::kThrow> after("org.lenstrove.tests.ScannedAfterTheCrash", 1, 0);
  ids.push_back(&crashes);
  ids.push_back(&after);
#elif defined(LENSTROVE_BUNDLE_HangsDescribing)
  static FailingFactory<Failure::kHang> hangs("org.lenstrove.tests.HangsDescribing", 1, 0);
  ids.push_back(&hangs);
#else
#error "build with LENSTROVE_BUNDLE_<NAME> defined"
#endif
}

}  // namespace OFX::Plugin
