// Images over caller memory may describe any 32-bit bounds: the fuzzers and
// hosts wrapping foreign buffers hand such bounds to the host library, which
// must take them without overflowing its own arithmetic.

#include <gtest/gtest.h>

#include <limits>

#include "host.h"
#include "image.h"
#include "status.h"

namespace lenstrove::testing {
namespace {

constexpr int kMin = std::numeric_limits<int>::min();
constexpr int kMax = std::numeric_limits<int>::max();

TEST(ExternalImageBounds, SpanningTheWholeIntRangeAreDescribedAsGiven) {
  unsigned char pixel[16] = {};
  host::Image image = host::Image::External(pixel, {kMin, kMin, kMax, kMax}, 16);
  EXPECT_EQ(image.Properties().GetInt(kOfxImagePropBounds, 0), kMin);
  EXPECT_EQ(image.Properties().GetInt(kOfxImagePropBounds, 2), kMax);
  EXPECT_TRUE(image.GuardsIntact());
}

TEST(ExternalImageBounds, InvertedBoundsAreRefusedEvenAtTheLimits) {
  unsigned char pixel[16] = {};
  EXPECT_THROW(host::Image::External(pixel, {kMax, 0, kMin, 1}, 16), host::HostError);
  EXPECT_THROW(host::Image::External(pixel, {0, kMax, 1, kMin}, 16), host::HostError);
}

}  // namespace
}  // namespace lenstrove::testing
