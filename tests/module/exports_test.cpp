// What the loader and a host see first: the exported symbols, the libraries
// the module needs, the bundle layout and the plug-in descriptor.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "plugin_module.h"
#include "support/elf_reader.h"
#include "support/plugin_harness.h"

namespace lenstrove::testing {
namespace {

TEST(ModuleFile, ExportsExactlyTheTwoEntryPoints) {
  DynamicInfo info = ReadDynamicInfo(kModulePath);
  std::sort(info.exportedSymbols.begin(), info.exportedSymbols.end());
  EXPECT_EQ(info.exportedSymbols, (std::vector<std::string>{"OfxGetNumberOfPlugins", "OfxGetPlugin"}));
}

TEST(ModuleFile, NeedsNothingButTheCLibraries) {
#ifndef LENSTROVE_SHIPPING_MODULE
  GTEST_SKIP() << "sanitizer builds link their runtime dynamically";
#else
  for (const std::string& library : ReadDynamicInfo(kModulePath).neededLibraries)
    EXPECT_TRUE(library == "libc.so.6" || library == "libm.so.6") << library;
#endif
}

TEST(ModuleFile, SitsInTheStandardBundleLayout) {
  const std::filesystem::path bundle(kBundlePath);
  EXPECT_EQ(bundle.filename(), "QelLenstrove.ofx.bundle");
  EXPECT_TRUE(std::filesystem::is_regular_file(bundle / "Contents/Linux-x86-64/QelLenstrove.ofx"));
  EXPECT_EQ(host::ResolveModulePath(kBundlePath), (bundle / "Contents/Linux-x86-64/QelLenstrove.ofx").string());
}

TEST(Descriptor, CountIsOneAndOnlyIndexZeroHasAPlugin) {
  host::PluginModule module(kBundlePath);
  EXPECT_EQ(module.Count(), 1);
  EXPECT_EQ(module.Get(1), nullptr);
  EXPECT_EQ(module.Get(-1), nullptr);
  EXPECT_EQ(module.Get(2147483647), nullptr);
}

TEST(Descriptor, CarriesTheIdentityAndTheSameAddressEveryTime) {
  host::PluginModule module(kBundlePath);
  const OfxPlugin* first = module.Get(0);
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->pluginApi, "OfxImageEffectPluginAPI");
  EXPECT_EQ(first->apiVersion, 1);
  EXPECT_STREQ(first->pluginIdentifier, "com.Qel.Lenstrove.V111");
  EXPECT_EQ(first->pluginVersionMajor, 1u);
  EXPECT_EQ(first->pluginVersionMinor, 11u);
  EXPECT_NE(first->setHost, nullptr);
  EXPECT_NE(first->mainEntry, nullptr);

  const OfxPlugin copy = *first;
  const OfxPlugin* second = module.Get(0);
  EXPECT_EQ(second, first);
  EXPECT_EQ(second->pluginIdentifier, copy.pluginIdentifier);
  EXPECT_EQ(second->setHost, copy.setHost);
  EXPECT_EQ(second->mainEntry, copy.mainEntry);
}

}  // namespace
}  // namespace lenstrove::testing
