#pragma once

// Colour management around a render, through OpenColorIO (by way of
// OpenImageIO's colour configuration: $OCIO when it is set, otherwise
// OpenImageIO's built-in spaces such as linear, sRGB and Rec709).
//
// The aids are drawn on a display-referred picture: the input is converted
// from its colour space (--colorspace) into the space of a display's view
// (--display, --view; the config's defaults, or sRGB without a config),
// rendered, and converted on into the output's space (--to: by default
// back into the input's space, so a linear plate stays linear; "display"
// keeps the display picture). Looks are not applied, so the way back is the
// exact inverse of the way in.

#include <memory>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "interface/arguments.h"
#include "render/parameter_values.h"

namespace lenstrove::cli::color {

class ColourPipeline {
 public:
  // Null when no input colour space is given: pixels then pass untouched.
  // Throws std::runtime_error for a colour space, display or view the
  // configuration does not have.
  static std::unique_ptr<ColourPipeline> Create(const ColourOptions& options);
  virtual ~ColourPipeline() = default;

  // In place; safe to call from several threads at once. A premultiplied
  // picture (OpenEXR, associated TIFF) is converted unpremultiplied and
  // premultiplied again, as OpenImageIO does; straight alpha (PNG, movies)
  // is left as it is.
  virtual void toDisplay(RgbaImage& image, bool premultiplied) const = 0;
  virtual void toOutput(RgbaImage& image, bool premultiplied) const = 0;
  // "linear -> sRGB (display sRGB, view Film) -> linear", for messages.
  virtual std::string summary() const = 0;
};

// The warning for false colour or legal levels judged on scene-linear
// values: given when either is on, the render is at float depth and no
// colour space was named. Empty when there is nothing to warn about.
std::string SceneLinearWarning(const std::vector<ResolvedSetting>& settings, bool floatRender,
                               const ColourOptions& options);

}  // namespace lenstrove::cli::color
