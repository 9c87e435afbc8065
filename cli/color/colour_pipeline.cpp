#include "colour_pipeline.h"

#include <OpenImageIO/color.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace lenstrove::cli::color {
namespace {

// The aids that judge exposure: their thresholds mean display values.
constexpr const char* kExposureAids[] = {"FalseColorMode", "LegalizeLevels"};

// Without a configuration OpenImageIO knows colour spaces but no displays;
// its sRGB space is then the display picture.
constexpr const char* kBuiltInDisplaySpace = "sRGB";
constexpr const char* kKeepDisplay = "display";

std::string SpaceList(const OIIO::ColorConfig& config) {
  std::string names;
  for (const std::string& name : config.getColorSpaceNames()) names += (names.empty() ? "" : ", ") + name;
  return names;
}

// The conversions from one space to another, applied in turn. OpenImageIO's
// built-in spaces convert only to and from linear, so without a
// configuration other pairs go by way of linear.
using Conversion = std::vector<OIIO::ColorProcessorHandle>;

Conversion Processor(const OIIO::ColorConfig& config, const std::string& from, const std::string& to) {
  if (from == to) return {};
  if (OIIO::ColorProcessorHandle direct = config.createColorProcessor(from, to)) return {direct};
  OIIO::ColorProcessorHandle in = config.createColorProcessor(from, "linear");
  OIIO::ColorProcessorHandle out = config.createColorProcessor("linear", to);
  if (in && out && std::getenv("OCIO") == nullptr) return {in, out};
  const std::vector<std::string> names = config.getColorSpaceNames();
  const std::string unknown = std::find(names.begin(), names.end(), from) == names.end() ? from : to;
  throw std::runtime_error("unknown colour space '" + unknown + "' (" +
                           (std::getenv("OCIO") ? "in $OCIO" : "built-in") + " spaces: " + SpaceList(config) + ")");
}

class OcioPipeline : public ColourPipeline {
 public:
  explicit OcioPipeline(const ColourOptions& options) {
    const std::string displaySpace = DisplaySpace(options);
    const std::string outputSpace = options.outputSpace.empty() ? options.inputSpace : options.outputSpace;
    toDisplay_ = Processor(config_, options.inputSpace, displaySpace);
    if (outputSpace != kKeepDisplay) toOutput_ = Processor(config_, displaySpace, outputSpace);
    summary_ = options.inputSpace + " -> " + displaySpace + " -> " + (outputSpace == kKeepDisplay ? displaySpace : outputSpace);
  }

  void toDisplay(RgbaImage& image, bool premultiplied) const override { Apply(toDisplay_, image, premultiplied); }
  void toOutput(RgbaImage& image, bool premultiplied) const override { Apply(toOutput_, image, premultiplied); }
  std::string summary() const override { return summary_; }

 private:
  std::string DisplaySpace(const ColourOptions& options) const {
    if (config_.getNumDisplays() == 0) {
      if (!options.display.empty() || !options.view.empty())
        throw std::runtime_error("--display and --view need an OpenColorIO configuration in $OCIO");
      return kBuiltInDisplaySpace;
    }
    const std::string display = options.display.empty() ? config_.getDefaultDisplayName() : options.display;
    const std::vector<std::string> displays = config_.getDisplayNames();
    if (std::find(displays.begin(), displays.end(), display) == displays.end())
      throw std::runtime_error("unknown display '" + display + "' in $OCIO");
    const std::string view = options.view.empty() ? config_.getDefaultViewName(display) : options.view;
    const char* space = config_.getDisplayViewColorSpaceName(display, view);
    if (space == nullptr || *space == '\0')
      throw std::runtime_error("display '" + display + "' has no view '" + view + "' in $OCIO");
    return space;
  }

  static void Apply(const Conversion& conversion, RgbaImage& image, bool premultiplied) {
    if (conversion.empty()) return;
    const OIIO::TypeDesc type = image.depth == PixelDepth::Byte ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::FLOAT;
    OIIO::ImageBuf buffer(OIIO::ImageSpec(image.width, image.height, 4, type), image.pixels.data());
    for (const OIIO::ColorProcessorHandle& step : conversion)
      if (!OIIO::ImageBufAlgo::colorconvert(buffer, buffer, step.get(), premultiplied, OIIO::ROI::All(), 1))
        throw std::runtime_error("colour conversion failed: " + buffer.geterror());
  }

  OIIO::ColorConfig config_;
  Conversion toDisplay_;
  Conversion toOutput_;
  std::string summary_;
};

}  // namespace

std::unique_ptr<ColourPipeline> ColourPipeline::Create(const ColourOptions& options) {
  if (!options.enabled()) {
    if (!options.display.empty() || !options.view.empty() || !options.outputSpace.empty())
      throw std::runtime_error("--display, --view and --to need the input's colour space (--colorspace)");
    return nullptr;
  }
  return std::make_unique<OcioPipeline>(options);
}

std::string SceneLinearWarning(const std::vector<ResolvedSetting>& settings, bool floatRender,
                               const ColourOptions& options) {
  if (!floatRender || options.enabled()) return "";
  for (const ResolvedSetting& s : settings)
    for (const char* aid : kExposureAids)
      if (s.name == aid && (s.number() != 0.0 || !s.keys.empty()))
        return "warning: " + std::string(aid) +
               " judges display values, but this float picture has no colour space: give its space with "
               "--colorspace (for example --colorspace linear) to judge it as it will be seen";
  return "";
}

}  // namespace lenstrove::cli::color
