// What the loader and a host see first: the exported symbols, the libraries
// the module needs, the bundle layout and the plug-in descriptor.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "plugin_module.h"
#include "support/elf_reader.h"
#include "support/pe_reader.h"
#include "support/plugin_harness.h"

namespace lenstrove::testing {
namespace {

DynamicInfo ModuleInfo() {
#if defined(_WIN32)
  return ReadPeDynamicInfo(kModulePath);
#else
  return ReadDynamicInfo(kModulePath);
#endif
}

TEST(ModuleFile, ExportsExactlyTheTwoEntryPoints) {
  DynamicInfo info = ModuleInfo();
  std::sort(info.exportedSymbols.begin(), info.exportedSymbols.end());
  EXPECT_EQ(info.exportedSymbols, (std::vector<std::string>{"OfxGetNumberOfPlugins", "OfxGetPlugin"}));
}

TEST(ModuleFile, NeedsNothingButTheCLibraries) {
#ifndef LENSTROVE_SHIPPING_MODULE
  GTEST_SKIP() << "sanitizer builds link their runtime dynamically";
#else
#if defined(_WIN32)
  // The system's own DLLs; Windows matches their names without case.
  const std::vector<std::string> allowed{"kernel32.dll", "msvcrt.dll"};
#else
  const std::vector<std::string> allowed{"libc.so.6", "libm.so.6"};
#endif
  const DynamicInfo info = ModuleInfo();
  EXPECT_FALSE(info.neededLibraries.empty());
  for (std::string library : info.neededLibraries) {
    for (char& c : library) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), library), allowed.end()) << library;
  }
#endif
}

#if !defined(_WIN32)
// Studios run long-lived distributions: the module must load with the C
// library of the oldest one still in use on each processor.
TEST(ModuleFile, AsksForNoNewerCLibraryThanTheOldestSupported) {
#ifndef LENSTROVE_SHIPPING_MODULE
  GTEST_SKIP() << "sanitizer builds link their runtime dynamically";
#else
#if defined(__aarch64__)
  const std::pair<int, int> newest{2, 17};
#else
  const std::pair<int, int> newest{2, 14};
#endif
  int glibcVersions = 0;
  for (const std::string& version : ModuleInfo().neededVersions) {
    int major = 0, minor = 0;
    if (std::sscanf(version.c_str(), "GLIBC_%d.%d", &major, &minor) < 1) continue;
    ++glibcVersions;
    EXPECT_LE(std::make_pair(major, minor), newest) << version;
  }
  EXPECT_GT(glibcVersions, 0) << "no C library versions read";
#endif
}
#endif

TEST(ModuleFile, SitsInTheStandardBundleLayout) {
  const std::filesystem::path bundle(kBundlePath);
  const std::string binary = "Contents/" LENSTROVE_BUNDLE_PLATFORM "/QelLenstrove.ofx";
  EXPECT_EQ(bundle.filename(), "QelLenstrove.ofx.bundle");
  EXPECT_TRUE(std::filesystem::is_regular_file(bundle / binary));
  // Compared as paths: Windows may write either separator.
  EXPECT_EQ(std::filesystem::path(host::ResolveModulePath(kBundlePath)).lexically_normal(),
            (bundle / binary).lexically_normal());
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
