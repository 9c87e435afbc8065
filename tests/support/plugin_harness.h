#pragma once

// The built module opened through the project's host library, described and
// instantiated as an editing application would, plus helpers to make images
// and render them.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "image.h"
#include "plugin.h"

namespace lenstrove::testing {

inline const std::string kBundlePath = LENSTROVE_BUNDLE_PATH;
inline const std::string kModulePath = LENSTROVE_MODULE_PATH;

struct Rgba8 {
  uint8_t r, g, b, a;
  bool operator==(const Rgba8& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};
std::ostream& operator<<(std::ostream& out, const Rgba8& p);

struct RgbaF {
  float r, g, b, a;
};

// A host with the plug-in started and one filter instance whose clips are
// connected to a source and an output image.
class PluginHarness {
 public:
  PluginHarness();
  ~PluginHarness();

  host::Host& Host() { return host_; }
  host::Plugin& Plugin() { return *plugin_; }
  host::Effect& Instance() { return *instance_; }

  void SetSwitch(const std::string& name, bool on);
  void SetDouble(const std::string& name, double value);

  // Connects the clips and renders at `time`; the window defaults to the
  // output's bounds.
  OfxStatus Render(host::Image& source, host::Image& output, double time = 0.0);
  OfxStatus Render(host::Image& source, host::Image& output, const OfxRectI& window, double time = 0.0);

 private:
  host::Host host_;
  std::unique_ptr<host::Plugin> plugin_;
  host::Effect* instance_ = nullptr;
};

// A private copy of the module file: the loader treats it as a library of its
// own, so its process-wide state starts fresh whatever other tests did.
std::string FreshModuleCopy();

// The calls in a log as "function(args)", without statuses; optionally only
// those of the named functions.
std::vector<std::string> CallList(const host::CallLog& log, const std::vector<std::string>& only = {});

// Images with every pixel set by `fill(x, y)`.
host::Image ByteImage(const OfxRectI& bounds, const std::function<Rgba8(int, int)>& fill, int rowBytes = 0);
host::Image FloatImage(const OfxRectI& bounds, const std::function<RgbaF(int, int)>& fill, int rowBytes = 0);
// A deterministic, varied picture, for tests that only compare renders.
host::Image NoiseByteImage(const OfxRectI& bounds, uint32_t seed = 1, int rowBytes = 0);

Rgba8 BytePixel(const host::Image& image, int x, int y);
RgbaF FloatPixel(const host::Image& image, int x, int y);
// Every stored pixel byte, row by row from the bottom.
std::vector<uint8_t> PixelBytes(const host::Image& image);

}  // namespace lenstrove::testing

namespace lenstrove::testing {

// Tells the plug-in other bounds or row bytes than the image really has, as
// a careless host might.
void ClaimBounds(host::Image& image, const OfxRectI& bounds);
void ClaimRowBytes(host::Image& image, int rowBytes);
void ClaimDepth(host::Image& image, const std::string& depth);

}  // namespace lenstrove::testing
