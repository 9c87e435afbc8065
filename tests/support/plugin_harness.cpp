#include "support/plugin_harness.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <ostream>

namespace lenstrove::testing {

std::ostream& operator<<(std::ostream& out, const Rgba8& p) {
  return out << "(" << int{p.r} << ", " << int{p.g} << ", " << int{p.b} << ", " << int{p.a} << ")";
}

std::string FreshModuleCopy() {
  static std::atomic<int> copies{0};
  const auto path = std::filesystem::temp_directory_path() /
                    ("lenstrove-" + std::to_string(getpid()) + "-" + std::to_string(copies++) + ".ofx");
  std::filesystem::copy_file(kModulePath, path, std::filesystem::copy_options::overwrite_existing);
  return path.string();
}

std::vector<std::string> CallList(const host::CallLog& log, const std::vector<std::string>& only) {
  std::vector<std::string> calls;
  for (const host::CallRecord& record : log.Records()) {
    if (!only.empty() && std::find(only.begin(), only.end(), record.function) == only.end()) continue;
    calls.push_back(record.function + "(" + record.args + ")");
  }
  return calls;
}

PluginHarness::PluginHarness() {
  plugin_ = host_.Open(kBundlePath);
  instance_ = &plugin_->Instantiate(kOfxImageEffectContextFilter);
}

PluginHarness::~PluginHarness() { plugin_->Shutdown(); }

void PluginHarness::SetSwitch(const std::string& name, bool on) { instance_->Params().Get(name).SetInt(on ? 1 : 0); }

void PluginHarness::SetDouble(const std::string& name, double value) {
  instance_->Params().Get(name).SetDouble(value);
}

OfxStatus PluginHarness::Render(host::Image& source, host::Image& output, double time) {
  return Render(source, output, output.Bounds(), time);
}

OfxStatus PluginHarness::Render(host::Image& source, host::Image& output, const OfxRectI& window, double time) {
  instance_->GetClip(kOfxImageEffectSimpleSourceClipName).SetImage(&source);
  instance_->GetClip(kOfxImageEffectOutputClipName).SetImage(&output);
  return plugin_->Render(*instance_, {time, window}).status;
}

host::Image ByteImage(const OfxRectI& bounds, const std::function<Rgba8(int, int)>& fill, int rowBytes) {
  host::Image image(bounds, kOfxBitDepthByte, kOfxImageComponentRGBA, rowBytes);
  for (int y = bounds.y1; y < bounds.y2; ++y)
    for (int x = bounds.x1; x < bounds.x2; ++x) {
      const Rgba8 pixel = fill(x, y);
      std::memcpy(image.PixelAddress(x, y), &pixel, sizeof pixel);
    }
  return image;
}

host::Image FloatImage(const OfxRectI& bounds, const std::function<RgbaF(int, int)>& fill, int rowBytes) {
  host::Image image(bounds, kOfxBitDepthFloat, kOfxImageComponentRGBA, rowBytes);
  for (int y = bounds.y1; y < bounds.y2; ++y)
    for (int x = bounds.x1; x < bounds.x2; ++x) {
      const RgbaF pixel = fill(x, y);
      std::memcpy(image.PixelAddress(x, y), &pixel, sizeof pixel);
    }
  return image;
}

host::Image NoiseByteImage(const OfxRectI& bounds, uint32_t seed, int rowBytes) {
  uint32_t state = seed * 2654435761u + 1;
  return ByteImage(
      bounds,
      [&](int, int) {
        state = state * 1664525u + 1013904223u;
        return Rgba8{uint8_t(state >> 24), uint8_t(state >> 16), uint8_t(state >> 8), uint8_t(state >> 4)};
      },
      rowBytes);
}

Rgba8 BytePixel(const host::Image& image, int x, int y) {
  Rgba8 pixel;
  std::memcpy(&pixel, image.PixelAddress(x, y), 4);
  return pixel;
}

RgbaF FloatPixel(const host::Image& image, int x, int y) {
  RgbaF pixel;
  std::memcpy(&pixel, image.PixelAddress(x, y), sizeof pixel);
  return pixel;
}

std::vector<uint8_t> PixelBytes(const host::Image& image) {
  const OfxRectI& b = image.Bounds();
  const size_t rowLength = size_t(b.x2 - b.x1) * image.PixelBytes();
  std::vector<uint8_t> bytes;
  for (int y = b.y1; y < b.y2; ++y) {
    const unsigned char* row = image.PixelAddress(b.x1, y);
    bytes.insert(bytes.end(), row, row + rowLength);
  }
  return bytes;
}

}  // namespace lenstrove::testing

namespace lenstrove::testing {

void ClaimBounds(host::Image& image, const OfxRectI& b) {
  image.Properties().SetN(kOfxImagePropBounds, host::PropertyType::kInt, {b.x1, b.y1, b.x2, b.y2});
}

void ClaimRowBytes(host::Image& image, int rowBytes) { image.Properties().Set(kOfxImagePropRowBytes, 0, rowBytes); }

void ClaimDepth(host::Image& image, const std::string& depth) {
  image.Properties().Set(kOfxImageEffectPropPixelDepth, 0, depth);
}

}  // namespace lenstrove::testing
