#include "plugin_session.h"

#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "convert.h"
#include "host.h"
#include "image.h"
#include "plugin_module.h"
#include "scanner.h"
#include "status.h"

namespace lenstrove::cli {
namespace fs = std::filesystem;
namespace host = lenstrove::host;
namespace {

constexpr const char* kFilterContext = kOfxImageEffectContextFilter;

// ---- reading descriptor properties ------------------------------------

std::string StringProperty(const host::PropertySet& properties, const char* name, int index = 0) {
  const host::Property* found = properties.Lookup(name);
  if (found == nullptr || index >= static_cast<int>(found->values.size())) return "";
  const std::string* text = std::get_if<std::string>(&found->values[index]);
  return text != nullptr ? *text : "";
}

std::vector<std::string> StringValues(const host::PropertySet& properties, const char* name) {
  std::vector<std::string> values;
  if (const host::Property* found = properties.Lookup(name))
    for (const host::PropertyValue& value : found->values)
      if (const std::string* text = std::get_if<std::string>(&value)) values.push_back(*text);
  return values;
}

// Plug-ins may store numbers as doubles or ints; both read as a double.
std::optional<double> NumberProperty(const host::PropertySet& properties, const char* name) {
  const host::Property* found = properties.Lookup(name);
  if (found == nullptr || found->values.empty()) return std::nullopt;
  if (const double* d = std::get_if<double>(&found->values[0])) return *d;
  if (const int* i = std::get_if<int>(&found->values[0])) return static_cast<double>(*i);
  return std::nullopt;
}

// "OfxBitDepthFloat" -> "float", "OfxImageContextFilter" -> "filter".
std::string ShortName(const std::string& name, const std::string& prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size()) return name;
  std::string rest = name.substr(prefix.size());
  if (prefix != "OfxImageComponent") rest[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
  return rest;
}

std::string CommaList(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
  return text;
}

std::vector<std::string> ShortNames(const std::vector<std::string>& names, const std::string& prefix) {
  std::vector<std::string> shorter;
  for (const std::string& name : names) shorter.push_back(ShortName(name, prefix));
  return shorter;
}

ParameterType TypeOf(const std::string& ofxType) {
  static const std::pair<const char*, ParameterType> kTypes[] = {
      {kOfxParamTypeBoolean, ParameterType::Boolean},     {kOfxParamTypeInteger, ParameterType::Integer},
      {kOfxParamTypeDouble, ParameterType::Double},       {kOfxParamTypeChoice, ParameterType::Choice},
      {kOfxParamTypeString, ParameterType::String},       {kOfxParamTypeGroup, ParameterType::Group},
      {kOfxParamTypePage, ParameterType::Page},           {kOfxParamTypeInteger2D, ParameterType::Integer2D},
      {kOfxParamTypeInteger3D, ParameterType::Integer3D}, {kOfxParamTypeDouble2D, ParameterType::Double2D},
      {kOfxParamTypeDouble3D, ParameterType::Double3D},   {kOfxParamTypeRGB, ParameterType::RGB},
      {kOfxParamTypeRGBA, ParameterType::RGBA},           {kOfxParamTypeCustom, ParameterType::Custom},
      {kOfxParamTypePushButton, ParameterType::PushButton},
  };
  for (const auto& [name, type] : kTypes)
    if (ofxType == name) return type;
  return ParameterType::Other;
}

// Every value of a numeric property as doubles (ints included).
std::vector<double> Numbers(const host::PropertySet& properties, const char* name) {
  std::vector<double> numbers;
  if (const host::Property* found = properties.Lookup(name))
    for (const host::PropertyValue& value : found->values) {
      if (const double* d = std::get_if<double>(&value)) numbers.push_back(*d);
      if (const int* i = std::get_if<int>(&value)) numbers.push_back(static_cast<double>(*i));
    }
  return numbers;
}

// The host's own limits for a parameter with no declared range mean "no
// limit": they become infinities, which are neither shown nor enforced.
std::vector<double> DeclaredLimits(const host::PropertySet& properties, const char* name) {
  std::vector<double> limits = Numbers(properties, name);
  for (double& limit : limits) {
    if (limit <= -DBL_MAX || limit == INT_MIN) limit = -HUGE_VAL;
    if (limit >= DBL_MAX || limit == INT_MAX) limit = HUGE_VAL;
  }
  return limits;
}

// Whether a spatial double parameter's default or values are fractions of
// the frame (see Param::PlaceDefault and Param::FromCanonical).
Spatial SpatialOf(const host::PropertySet& p) {
  const std::string kind = StringProperty(p, kOfxParamPropDoubleType);
  if (kind.rfind("OfxParamDoubleTypeNormalised", 0) == 0) return Spatial::Fractions;
  const bool spatial = kind == kOfxParamDoubleTypeX || kind == kOfxParamDoubleTypeY || kind == kOfxParamDoubleTypeXY ||
                       kind == kOfxParamDoubleTypeXAbsolute || kind == kOfxParamDoubleTypeYAbsolute ||
                       kind == kOfxParamDoubleTypeXYAbsolute;
  const bool fractionDefault = StringProperty(p, kOfxParamPropDefaultCoordinateSystem) == kOfxParamCoordinatesNormalised;
  return spatial && fractionDefault ? Spatial::FractionDefault : Spatial::None;
}

ParameterInfo DescribeParameter(const host::Param& param) {
  const host::PropertySet& p = param.Properties();
  ParameterInfo info;
  info.name = param.Name();
  info.typeName = param.Type();
  info.type = TypeOf(param.Type());
  info.label = StringProperty(p, kOfxPropLabel);
  info.parent = StringProperty(p, kOfxParamPropParent);
  info.animates = NumberProperty(p, kOfxParamPropAnimates).value_or(0.0) != 0.0;
  info.defaults = Numbers(p, kOfxParamPropDefault);
  info.defaultText = StringProperty(p, kOfxParamPropDefault);
  info.minimum = DeclaredLimits(p, kOfxParamPropMin);
  info.maximum = DeclaredLimits(p, kOfxParamPropMax);
  info.spatial = SpatialOf(p);
  if (info.type == ParameterType::Choice) {
    // Options are numbered from 0.
    info.options = StringValues(p, kOfxParamPropChoiceOption);
    info.minimum = {0.0};
    info.maximum = {static_cast<double>(info.options.size()) - 1};
  }
  return info;
}

ClipInfo DescribeClip(host::Clip& clip) {
  const host::PropertySet& p = clip.Properties();
  return {clip.Name(), ShortNames(StringValues(p, kOfxImageEffectPropSupportedComponents), "OfxImageComponent"),
          NumberProperty(p, kOfxImageClipPropOptional).value_or(0.0) != 0.0};
}

PluginSummary Summarise(host::Plugin& plugin, const std::string& file) {
  const OfxPlugin& record = plugin.Record();
  const std::string label = StringProperty(plugin.Descriptor().Properties(), kOfxPropLabel);
  return {plugin.Identifier(),
          std::to_string(record.pluginVersionMajor) + "." + std::to_string(record.pluginVersionMinor),
          label.empty() ? plugin.Identifier() : label, file};
}

// The context a filter render uses: the filter context, or else the
// general one when it has a Source and an Output clip and every other clip
// may stay unconnected, as most plug-in collections declare. Empty when
// neither fits, with `why` saying so.
std::string RenderContext(host::Plugin& plugin, std::string& why) {
  if (plugin.ContextDescriptor(kFilterContext) != nullptr) return kFilterContext;
  std::vector<std::string> contexts = ShortNames(plugin.SupportedContexts(), "OfxImageEffectContext");
  why = "plug-in '" + plugin.Identifier() + "' cannot render as a filter: its contexts are " +
        CommaList(contexts) + "; this command renders the filter context, and the general one with a " +
        "Source and an Output clip";
  host::Effect* general = plugin.ContextDescriptor(kOfxImageEffectContextGeneral);
  if (general == nullptr) return "";
  std::vector<std::string> needed, missing = {kOfxImageEffectSimpleSourceClipName, kOfxImageEffectOutputClipName};
  for (const auto& clip : general->Clips()) {
    missing.erase(std::remove(missing.begin(), missing.end(), clip->Name()), missing.end());
    const bool standard = clip->Name() == kOfxImageEffectSimpleSourceClipName || clip->Name() == kOfxImageEffectOutputClipName;
    if (!standard && NumberProperty(clip->Properties(), kOfxImageClipPropOptional).value_or(0.0) == 0.0)
      needed.push_back(clip->Name());
  }
  if (missing.empty() && needed.empty()) return kOfxImageEffectContextGeneral;
  why += !missing.empty() ? " (its general context has no " + CommaList(missing) + " clip)"
                          : " (its general context also needs " + CommaList(needed) + ")";
  return "";
}

// Clips and parameters as the context renders use declares them; without
// one, as the first context the plug-in declares.
PluginDescription Describe(host::Plugin& plugin, const std::string& file, const std::string& context) {
  PluginDescription d;
  d.summary = Summarise(plugin, file);
  const host::PropertySet& p = plugin.Descriptor().Properties();
  d.grouping = StringProperty(p, kOfxImageEffectPluginPropGrouping);
  d.contexts = ShortNames(plugin.SupportedContexts(), "OfxImageEffectContext");
  d.depths = ShortNames(StringValues(p, kOfxImageEffectPropSupportedPixelDepths), "OfxBitDepth");
  d.rendersInParallel = StringProperty(p, kOfxImageEffectPluginRenderThreadSafety) != kOfxImageEffectRenderUnsafe;
  d.supportsTiles = NumberProperty(p, kOfxImageEffectPropSupportsTiles).value_or(1.0) != 0.0;
  const std::vector<std::string> declared = plugin.SupportedContexts();
  const std::string shown = !context.empty() ? context : declared.empty() ? std::string() : declared.front();
  if (host::Effect* described = plugin.ContextDescriptor(shown)) {
    for (const auto& clip : described->Clips()) d.clips.push_back(DescribeClip(*clip));
    for (const auto& param : described->Params().Params()) d.parameters.push_back(DescribeParameter(*param));
  }
  return d;
}

// ---- finding plug-ins ---------------------------------------------------

std::string ProgramFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

bool RunningFromBuildTree() {
#ifdef LENSTROVE_BUILD_PROGRAM_DIR
  std::error_code error;
  return fs::equivalent(ProgramFolder(), LENSTROVE_BUILD_PROGRAM_DIR, error);
#else
  return false;
#endif
}

bool LooksLikePath(const std::string& which) {
  const auto endsWith = [&](const std::string& tail) {
    return which.size() >= tail.size() && which.compare(which.size() - tail.size(), tail.size(), tail) == 0;
  };
  return which.find('/') != std::string::npos || endsWith(".ofx") || endsWith(".ofx.bundle") ||
         endsWith(".ofx.bundle/");
}

// The scanner program: the build tree's when the command runs from there,
// else beside the program or where the command's installation puts it
// (PREFIX/lib/lenstrove beside PREFIX/bin); last the build tree's again,
// for other programs built with the command's code (benchmarks).
std::string ScannerProgram() {
  std::vector<fs::path> candidates;
#ifdef LENSTROVE_BUILD_SCANNER
  if (RunningFromBuildTree()) candidates.push_back(LENSTROVE_BUILD_SCANNER);
#endif
  const fs::path folder = ProgramFolder();
  candidates.push_back(folder / "lenstrove-scan");
  candidates.push_back(folder.parent_path() / "lib" / "lenstrove" / "lenstrove-scan");
#ifdef LENSTROVE_BUILD_SCANNER
  candidates.push_back(LENSTROVE_BUILD_SCANNER);
#endif
  std::string looked;
  for (const fs::path& candidate : candidates) {
    std::error_code error;
    if (fs::is_regular_file(candidate, error)) return candidate.string();
    looked += (looked.empty() ? "" : ", ") + candidate.string();
  }
  throw std::runtime_error("cannot find the plug-in scanner lenstrove-scan (looked for " + looked + ")");
}

// Each binary is scanned in a child process, or found unchanged in the
// cache, so no plug-in is loaded into this process just to be listed.
std::vector<host::BinaryScan> Scan(const std::vector<std::string>& binaries) {
  host::ScanOptions options;
  options.scanner = ScannerProgram();
  options.cache_file = host::DefaultScanCacheFile();
  return host::ScanBinaries(binaries, options);
}

std::vector<host::BinaryScan> ScanSearchPath() {
  std::vector<std::string> binaries;
  for (const std::string& bundle : host::FindBundles(PluginSearchFolders()))
    binaries.push_back(host::ResolveModulePath(bundle));
  return Scan(binaries);
}

// "plug-in 'ID' in PATH cannot be used: it crashed while describing (signal 11)"
std::string CannotUse(const std::string& asked, const host::BinaryScan& scan, const host::ScanProblem& problem) {
  const bool sameName = problem.identifier.empty() || problem.identifier == asked;
  return "plug-in '" + asked + "'" + (LooksLikePath(asked) ? "" : " in " + scan.binary) + " cannot be used: " +
         (sameName ? "it " : problem.identifier + " ") + problem.reason;
}

struct Located {
  std::string binary;
  int index;
};

// The first working plug-in with that identifier on the search path. Throws
// when there is none but one that failed its scan.
std::optional<Located> FindIdentifier(const std::string& identifier, std::vector<std::string>& problems) {
  std::string failure;
  for (const host::BinaryScan& scan : ScanSearchPath()) {
    for (const host::ScannedPlugin& plugin : scan.plugins)
      if (plugin.identifier == identifier) return Located{scan.binary, plugin.index};
    for (const host::ScanProblem& problem : scan.problems) {
      if (problem.identifier == identifier && failure.empty()) failure = CannotUse(identifier, scan, problem);
      if (problem.identifier.empty()) problems.push_back(host::ProblemText(scan, problem));
    }
  }
  if (!failure.empty()) throw std::runtime_error(failure);
  return std::nullopt;
}

std::string JoinFolders(const std::vector<std::string>& folders) {
  std::string text;
  for (const std::string& folder : folders) text += (text.empty() ? "" : ", ") + folder;
  return text;
}

// ---- images -------------------------------------------------------------

const char* DepthName(PixelDepth depth) { return depth == PixelDepth::Byte ? kOfxBitDepthByte : kOfxBitDepthFloat; }

// The picture's pixels in OpenFX coordinates. Files count rows down from
// the top and OpenFX up from the bottom, so rows are flipped within the
// display window, whose bottom-left corner becomes (0, 0).
OfxRectI OfxBounds(const RgbaImage& picture) {
  const int top = picture.display.y + picture.display.height;
  return {picture.x - picture.display.x, top - (picture.y + picture.height), picture.x - picture.display.x + picture.width,
          top - picture.y};
}

// The image starts at the file's last row and steps back one row at a
// time. Its region of definition is the display window: the frame the
// aids are composed on, wherever the pixels lie.
host::Image WrapFileImage(const RgbaImage& picture) {
  const int rowBytes = static_cast<int>(picture.rowBytes());
  void* bottomRow = const_cast<unsigned char*>(picture.fileRow(picture.height - 1));
  host::Image image =
      host::Image::External(bottomRow, OfxBounds(picture), -rowBytes, DepthName(picture.depth), kOfxImageComponentRGBA);
  const int frame[4] = {0, 0, picture.display.width, picture.display.height};
  for (int i = 0; i < 4; ++i) image.Properties().Set(kOfxImagePropRegionOfDefinition, i, frame[i]);
  return image;
}

void CheckImageFitsOfx(const RgbaImage& picture) {
  if (picture.rowBytes() > static_cast<std::size_t>(INT_MAX))
    throw std::runtime_error("a row of " + std::to_string(picture.width) +
                             " pixels is too wide for an OpenFX image at this depth");
}

std::string PluginFailure(const std::string& identifier, const host::PluginError& error) {
  return "plug-in '" + identifier + "' answered " + host::StatusName(error.status()) + " to " + error.action() +
         (error.message().empty() ? "" : ": " + error.message());
}

// What the plug-in asked for a clip in its preferences, or what the file is.
std::string Preferred(const host::ClipPreferences& preferences, const char* clip, const std::string& fallback,
                      std::string host::ClipPreference::*field) {
  const host::ClipPreference* preference = preferences.Find(clip);
  const std::string wanted = preference != nullptr ? preference->*field : "";
  return wanted.empty() ? fallback : wanted;
}

const char* PremultiplicationName(AlphaMode mode) {
  switch (mode) {
    case AlphaMode::Straight:
      return kOfxImageUnPreMultiplied;
    case AlphaMode::Premultiplied:
      return kOfxImagePreMultiplied;
    case AlphaMode::Opaque:
      break;
  }
  return kOfxImageOpaque;
}

// What the plug-in asked for a picture: its depth, its components and how
// its colour stands to its alpha.
struct WantedFormat {
  std::string depth, components;
  host::AlphaChange alpha = host::AlphaChange::kNone;  // from the file's way to the plug-in's
  std::string premultiplication;                      // the plug-in's way, as OpenFX names it
};

// The file's picture as the plug-in asked for it: the picture itself when
// it already is that, else a converted copy in `converted`.
host::Image* InFormat(host::Image& file, const WantedFormat& wanted, std::optional<host::Image>& converted,
                      bool copyPixels) {
  const std::string& depth = wanted.depth;
  const std::string& components = wanted.components;
  const std::string fileDepth = StringProperty(file.Properties(), kOfxImageEffectPropPixelDepth);
  file.Properties().Set(kOfxImageEffectPropPreMultiplication, 0, wanted.premultiplication);
  if (depth == fileDepth && components == kOfxImageComponentRGBA && wanted.alpha == host::AlphaChange::kNone)
    return &file;
  if (!host::ConvertibleDepth(depth))
    throw std::runtime_error("cannot convert pictures to depth " + ShortName(depth, "OfxBitDepth"));
  converted.emplace(file.Bounds(), depth, components);
  // The copy stands for the same picture: the same frame.
  if (const host::Property* frame = file.Properties().Lookup(kOfxImagePropRegionOfDefinition))
    converted->Properties().SetN(kOfxImagePropRegionOfDefinition, frame->type, frame->values);
  if (components == kOfxImageComponentRGBA)
    converted->Properties().Set(kOfxImageEffectPropPreMultiplication, 0, wanted.premultiplication);
  if (copyPixels) {
    host::ConvertPixels(file, *converted);
    host::ChangeAlpha(*converted, wanted.alpha);
  }
  return &*converted;
}

// ---- regions of definition ---------------------------------------------------

bool SameRect(const OfxRectI& a, const OfxRectI& b) {
  return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

std::string RectText(const OfxRectD& r) {
  std::ostringstream text;
  text << "(" << r.x1 << ", " << r.y1 << ")-(" << r.x2 << ", " << r.y2 << ")";
  return text.str();
}

// The pixels a region touches. Regions beyond 2^30 pixels from the origin
// are refused before they reach int arithmetic.
OfxRectI WholePixels(const OfxRectD& region, const std::string& identifier) {
  const auto refuse = [&](const std::string& why) {
    return std::runtime_error("plug-in '" + identifier + "' answered a region of definition of " + RectText(region) +
                              ", which " + why);
  };
  constexpr double kFarthest = 1 << 30;
  for (const double edge : {region.x1, region.y1, region.x2, region.y2}) {
    if (!std::isfinite(edge)) throw refuse("is not finite");
    if (std::fabs(edge) > kFarthest) throw refuse("lies too far out to hold in pixels");
  }
  const OfxRectI pixels{static_cast<int>(std::floor(region.x1)), static_cast<int>(std::floor(region.y1)),
                        static_cast<int>(std::ceil(region.x2)), static_cast<int>(std::ceil(region.y2))};
  if (pixels.x1 >= pixels.x2 || pixels.y1 >= pixels.y2) throw refuse("is empty");
  return pixels;
}

// Makes `output` (of the size `whole`) cover `covered` instead, both in
// OpenFX coordinates, blank; its display window stays.
void Regrow(RgbaImage& output, const OfxRectI& whole, const OfxRectI& covered) {
  RgbaImage grown(covered.x2 - covered.x1, covered.y2 - covered.y1, output.depth);
  grown.display = output.display;
  grown.alphaMode = output.alphaMode;
  grown.x = output.x + (covered.x1 - whole.x1);
  grown.y = output.y + (whole.y2 - covered.y2);  // file rows count down from the top
  CheckImageFitsOfx(grown);
  output = std::move(grown);
}

// Windows count from the picture's own corner, which sits where the data
// window lies within the display window. When the plug-in's region is not
// the picture's, each window's edges are carried over to the region in
// proportion, so the windows still cover it once.
std::vector<OfxRectI> RenderRects(const std::vector<RenderWindow>& windows, const OfxRectI& whole,
                                  const OfxRectI& region) {
  const bool same = SameRect(whole, region);
  // An edge `edge` pixels into the picture, that far into the region in proportion.
  const auto along = [](int edge, std::int64_t fromSize, int to, std::int64_t toSize) {
    return static_cast<int>(to + edge * toSize / std::max<std::int64_t>(1, fromSize));
  };
  std::vector<OfxRectI> rects;
  for (const RenderWindow& w : windows) {
    if (same) {
      rects.push_back({whole.x1 + w.x1, whole.y1 + w.y1, whole.x1 + w.x2, whole.y1 + w.y2});
      continue;
    }
    const std::int64_t wholeWidth = std::int64_t{whole.x2} - whole.x1, wholeHeight = std::int64_t{whole.y2} - whole.y1;
    const std::int64_t width = std::int64_t{region.x2} - region.x1, height = std::int64_t{region.y2} - region.y1;
    const OfxRectI rect{along(w.x1, wholeWidth, region.x1, width), along(w.y1, wholeHeight, region.y1, height),
                        along(w.x2, wholeWidth, region.x1, width), along(w.y2, wholeHeight, region.y1, height)};
    if (rect.x1 < rect.x2 && rect.y1 < rect.y2) rects.push_back(rect);
  }
  return rects;
}

// ---- the session objects --------------------------------------------------

class HostInstance : public EffectInstance {
 public:
  HostInstance(host::Plugin& plugin, host::Effect& effect) : plugin_(plugin), effect_(effect) {}
  ~HostInstance() override {
    // A failing destroy cannot be reported from a destructor, and the
    // instance is freed either way.
    try {
      plugin_.DestroyInstance(effect_);
    } catch (const std::exception&) {
      // Nothing more can be done for an instance that is going away.
    }
  }

  void applySettings(const std::vector<ResolvedSetting>& settings) override {
    for (const ResolvedSetting& setting : settings) apply(setting);
  }

  void setFrameRange(double first, double last) override { effect_.SetTimeBounds({first, last}); }

  void setFrameReader(FrameReader reader) override { reader_ = std::move(reader); }

  void setOutputPixelLimit(std::int64_t pixelLimit) override { outputPixelLimit_ = pixelLimit; }

  void setProgressListener(std::function<void(double)> listener) override {
    effect_.SetProgressListener(std::move(listener));
  }

  // The standard's order for one frame: clip preferences (once, and again
  // after settings change), region of definition, regions of interest,
  // frames needed, is identity, then begin sequence, a render per window
  // and end sequence.
  void render(const RgbaImage& source, RgbaImage& output, double time,
              const std::vector<RenderWindow>& windows) override {
    CheckImageFitsOfx(source);
    frame(source);
    host::Image sourceFile = WrapFileImage(source);
    try {
      const std::string fileDepth = DepthName(source.depth);
      // What the host offers by default is the file's own format, for the
      // output as for the source.
      SetClip(kOfxImageEffectSimpleSourceClipName, &sourceFile, fileDepth);
      SetClip(kOfxImageEffectOutputClipName, &sourceFile, fileDepth);
      // A plug-in that cannot take the file's depth is offered one it can.
      const std::string offered = OfferedDepth(fileDepth);
      for (const char* clip : {kOfxImageEffectSimpleSourceClipName, kOfxImageEffectOutputClipName})
        effect_.FindClip(clip)->Properties().Set(kOfxImageEffectPropPixelDepth, 0, offered);
      const std::string filePremultiplication = PremultiplicationName(source.alphaMode);
      if (!preferences_ || askedWith_ != filePremultiplication) askPreferences(filePremultiplication);
      std::optional<host::Image> sourceConverted, outputConverted;
      const host::AlphaChange alpha =
          host::AlphaChangeBetween(filePremultiplication, preferences_->output_premultiplication);
      const std::string pluginPremultiplication =
          alpha == host::AlphaChange::kNone ? filePremultiplication : preferences_->output_premultiplication;
      sourceWanted_ = wanted(kOfxImageEffectSimpleSourceClipName, offered, alpha, pluginPremultiplication);
      fileDepth_ = source.depth;
      host::Image* sourceImage = InFormat(sourceFile, sourceWanted_, sourceConverted, true);
      SetClip(kOfxImageEffectSimpleSourceClipName, sourceImage, fileDepth, [this, time, sourceImage](OfxTime at) {
        return at == time ? sourceImage : otherFrame(at);
      });
      effect_.FindClip(kOfxImageEffectSimpleSourceClipName)
          ->Properties()
          .Set(kOfxImageEffectPropPreMultiplication, 0, pluginPremultiplication);
      const OfxRectI whole = sourceFile.Bounds();
      const OfxRectI region = renderedRegion(time, whole, output);
      host::Image outputFile = WrapFileImage(output);
      host::Image* outputImage =
          InFormat(outputFile, wanted(kOfxImageEffectOutputClipName, offered, alpha, pluginPremultiplication),
                   outputConverted, false);
      SetClip(kOfxImageEffectOutputClipName, outputImage, fileDepth);
      renderFrame(time, RenderRects(windows, whole, region), region, *outputImage);
      if (outputConverted) {
        // Back to the file's own way, then its depth and components.
        host::ChangeAlpha(*outputConverted, host::Inverse(alpha));
        host::ConvertPixels(*outputConverted, outputFile);
      }
    } catch (const host::PluginError& error) {
      DetachClips();
      throw std::runtime_error(PluginFailure(plugin_.Identifier(), error));
    } catch (...) {
      DetachClips();
      throw;
    }
    DetachClips();
  }

 private:
  // The file's depth when the plug-in declares it, else the first it
  // declares of float, half, short and byte, the ones losing least.
  std::string OfferedDepth(const std::string& fileDepth) const {
    const std::vector<std::string> declared =
        StringValues(plugin_.Descriptor().Properties(), kOfxImageEffectPropSupportedPixelDepths);
    const auto declares = [&](const std::string& depth) {
      return std::find(declared.begin(), declared.end(), depth) != declared.end();
    };
    if (declares(fileDepth)) return fileDepth;
    for (const char* depth : {kOfxBitDepthFloat, kOfxBitDepthHalf, kOfxBitDepthShort, kOfxBitDepthByte})
      if (declares(depth)) return depth;
    return fileDepth;
  }

  // What the plug-in's preferences ask for a clip, the offered format where
  // they say nothing.
  WantedFormat wanted(const char* clip, const std::string& offeredDepth, host::AlphaChange alpha,
                      const std::string& premultiplication) const {
    return {Preferred(*preferences_, clip, offeredDepth, &host::ClipPreference::depth),
            Preferred(*preferences_, clip, kOfxImageComponentRGBA, &host::ClipPreference::components), alpha,
            premultiplication};
  }

  // The host offers the file's premultiplication as the default, so the
  // answer depends on it as well as on the parameters.
  void askPreferences(const std::string& filePremultiplication) {
    if (host::Clip* clip = effect_.FindClip(kOfxImageEffectSimpleSourceClipName))
      clip->Properties().Set(kOfxImageEffectPropPreMultiplication, 0, filePremultiplication);
    host::ClipPreferences preferences;
    plugin_.GetClipPreferences(effect_, &preferences).Check();
    if (preferences.output_premultiplication.empty()) preferences.output_premultiplication = filePremultiplication;
    preferences_ = preferences;
    askedWith_ = filePremultiplication;
    if (host::Clip* clip = effect_.FindClip(kOfxImageEffectOutputClipName))
      clip->Properties().Set(kOfxImageEffectPropPreMultiplication, 0, preferences.output_premultiplication);
  }

  // What is rendered: the source's pixels, and where the output may follow
  // the plug-in's region of definition, that region too (in whole pixels),
  // with `output` regrown to cover both. A region inside the source crops
  // nothing: the source's pixels are what the file holds, and the source
  // clip's own region is only the display window.
  OfxRectI renderedRegion(double time, const OfxRectI& whole, RgbaImage& output) {
    OfxRectD answer{double(whole.x1), double(whole.y1), double(whole.x2), double(whole.y2)};
    plugin_.GetRegionOfDefinition(effect_, time, &answer).Check();
    if (outputPixelLimit_ == 0) return whole;
    const OfxRectI region = WholePixels(answer, plugin_.Identifier());
    if (SameRect(region, whole)) return whole;
    const OfxRectI covered = {std::min(region.x1, whole.x1), std::min(region.y1, whole.y1),
                              std::max(region.x2, whole.x2), std::max(region.y2, whole.y2)};
    const std::int64_t pixels =
        (std::int64_t{covered.x2} - covered.x1) * (std::int64_t{covered.y2} - covered.y1);
    if (pixels > outputPixelLimit_)
      throw std::runtime_error("plug-in '" + plugin_.Identifier() + "' answered a region of definition of " +
                               RectText(answer) + ", which with the source covers " + std::to_string(pixels) +
                               " pixels, above the limit of " + std::to_string(outputPixelLimit_) +
                               " pixels (raise it with --max-pixels)");
    if (SameRect(covered, whole)) return whole;
    Regrow(output, whole, covered);
    return covered;
  }

  void renderFrame(double time, const std::vector<OfxRectI>& rects, const OfxRectI& region,
                   host::Image& outputImage) {
    const OfxRectD regionD{double(region.x1), double(region.y1), double(region.x2), double(region.y2)};
    std::vector<std::pair<std::string, OfxRectD>> regions;
    plugin_.GetRegionsOfInterest(effect_, time, regionD, &regions).Check();
    std::vector<std::pair<std::string, OfxRangeD>> frames;
    plugin_.GetFramesNeeded(effect_, time, &frames).Check();
    std::optional<host::Identity> identity;
    plugin_.IsIdentity(effect_, {time, region}, &identity).Check();
    if (identity) return copyIdentity(*identity, outputImage);
    plugin_.BeginSequenceRender(effect_, {time, time}, false).Check();
    const host::ActionResult rendered = plugin_.RenderWindows(effect_, {time, region}, rects, true);
    plugin_.EndSequenceRender(effect_, {time, time}, false).Check();
    rendered.Check();
  }

  void copyIdentity(const host::Identity& identity, host::Image& outputImage) {
    host::Clip* clip = effect_.FindClip(identity.clip);
    host::Image* image = clip != nullptr ? clip->ImageAt(identity.time) : nullptr;
    if (image == nullptr)
      throw std::runtime_error("plug-in '" + plugin_.Identifier() + "' answered that the frame is clip '" +
                               identity.clip + "' at time " + std::to_string(identity.time) +
                               ", which has no picture there");
    host::ConvertPixels(*image, outputImage);
  }

  // Sets the parameter and tells the plug-in, as a user edit. Values of the
  // kinds a plug-in reads as fractions of the frame are given in pixels and
  // converted for the current project.
  void apply(const ResolvedSetting& setting) {
    host::Param& param = effect_.Params().Get(setting.name);
    const auto stored = [&](const ResolvedValue& value) {
      return param.FromCanonical(host::ParamValue{value.numbers, value.text}, effect_.Project());
    };
    if (setting.keys.empty()) param.SetValue(stored(setting.value));
    for (const ResolvedKey& key : setting.keys) param.SetValueAt(key.time, stored(key.value));
    try {
      plugin_.ParamChanged(effect_, setting.name, effect_.Params().Time()).Check();
    } catch (const host::PluginError& error) {
      throw std::runtime_error(PluginFailure(plugin_.Identifier(), error));
    }
    preferences_.reset();  // a parameter may change what the plug-in prefers
    if (param.HoldsFractions()) framed_.push_back(setting);
  }

  // The project is the frame being rendered (its display window). When it
  // changes, the spatial defaults given as fractions of it, and the
  // settings given in pixels for parameters that hold fractions, are
  // placed in the new one.
  void frame(const RgbaImage& source) {
    const host::ProjectFrame project{double(source.display.width), double(source.display.height), 0, 0};
    const host::ProjectFrame& now = effect_.Project();
    if (now.width == project.width && now.height == project.height) return;
    effect_.SetProject(project);
    for (const ResolvedSetting& setting : std::exchange(framed_, {})) apply(setting);
  }

  // The source at another time, for a plug-in that declared temporal clip
  // access: read from the sequence on demand and kept until the frame is
  // done. Null for a time the sequence has no frame at, which fails the
  // plug-in's fetch as the standard has it.
  host::Image* otherFrame(OfxTime at) {
    if (!reader_ || NumberProperty(effect_.Properties(), kOfxImageEffectPropTemporalClipAccess).value_or(0) == 0)
      return nullptr;
    std::lock_guard<std::mutex> lock(borrowedMutex_);
    try {
      auto borrowed = std::make_unique<Borrowed>();
      borrowed->picture = reader_(at, fileDepth_);
      if (!borrowed->picture) return nullptr;
      borrowed->wrapped = std::make_unique<host::Image>(WrapFileImage(*borrowed->picture));
      host::Image* image = InFormat(*borrowed->wrapped, sourceWanted_, borrowed->converted, true);
      borrowed_.push_back(std::move(borrowed));
      return image;
    } catch (const std::exception& error) {
      effect_.NoteError(error.what());  // an unreadable neighbour fails the render with its reason
      return nullptr;
    }
  }

  void SetClip(const char* name, host::Image* image, const std::string& fileDepth,
               host::Clip::ImageSource source = nullptr) {
    host::Clip* clip = effect_.FindClip(name);
    if (clip == nullptr) throw std::runtime_error("plug-in '" + plugin_.Identifier() + "' has no " + name + " clip");
    host::PropertySet& properties = clip->Properties();
    properties.Set(kOfxImageEffectPropPixelDepth, 0, StringProperty(image->Properties(), kOfxImageEffectPropPixelDepth));
    properties.Set(kOfxImageEffectPropComponents, 0, StringProperty(image->Properties(), kOfxImageEffectPropComponents));
    properties.Set(kOfxImageClipPropUnmappedPixelDepth, 0, fileDepth);
    properties.Set(kOfxImageClipPropUnmappedComponents, 0, std::string(kOfxImageComponentRGBA));
    if (source) {
      clip->SetImageSource(std::move(source));
    } else {
      clip->SetImage(image);
    }
  }

  // The images live on the caller's stack: no clip may keep pointing at
  // them after the render.
  void DetachClips() {
    for (const char* name : {kOfxImageEffectSimpleSourceClipName, kOfxImageEffectOutputClipName})
      if (host::Clip* clip = effect_.FindClip(name)) clip->SetImage(nullptr);
    borrowed_.clear();
  }

  // Another frame of the sequence, as the plug-in asked for it.
  struct Borrowed {
    std::shared_ptr<const RgbaImage> picture;
    std::unique_ptr<host::Image> wrapped;
    std::optional<host::Image> converted;
  };

  std::optional<host::ClipPreferences> preferences_;
  std::vector<ResolvedSetting> framed_;  // settings whose stored value depends on the project
  FrameReader reader_;
  std::int64_t outputPixelLimit_ = 0;  // 0: the output keeps the source's size
  PixelDepth fileDepth_ = PixelDepth::Byte;
  std::string askedWith_;  // the file premultiplication the preferences were asked with
  WantedFormat sourceWanted_;
  std::mutex borrowedMutex_;
  std::vector<std::unique_ptr<Borrowed>> borrowed_;
  host::Plugin& plugin_;
  host::Effect& effect_;
};

class HostPlugin : public LoadedPlugin {
 public:
  HostPlugin(const std::string& path, int index) {
    host_.Log().SetEnabled(false);  // a long render would otherwise keep every call
    plugin_ = host_.Open(path, index);
    context_ = RenderContext(*plugin_, notRenderable_);
    description_ = Describe(*plugin_, host::ResolveModulePath(path), context_);
  }
  ~HostPlugin() override {
    try {
      plugin_->Shutdown();
    } catch (const std::exception&) {
      // Unloading is the last thing the program does with the plug-in;
      // there is nothing left to recover.
    }
    plugin_.reset();  // plug-ins go before their host
  }

  const PluginDescription& description() const override { return description_; }

  std::unique_ptr<EffectInstance> createInstance() override {
    if (context_.empty()) throw std::runtime_error(notRenderable_);
    std::lock_guard<std::mutex> lock(mutex_);
    try {
      host::Effect& effect = plugin_->Instantiate(context_);
      return std::make_unique<HostInstance>(*plugin_, effect);
    } catch (const host::PluginError& error) {
      throw std::runtime_error(PluginFailure(plugin_->Identifier(), error));
    }
  }

 private:
  host::Host host_;
  std::unique_ptr<host::Plugin> plugin_;
  std::string context_;  // what renders use; empty when nothing fits
  std::string notRenderable_;
  PluginDescription description_;
  std::mutex mutex_;
};

std::unique_ptr<LoadedPlugin> OpenAt(const std::string& path, int index, const std::string& asked) {
  try {
    return std::make_unique<HostPlugin>(path, index);
  } catch (const host::PluginError& error) {
    throw std::runtime_error("plug-in '" + asked + "' failed to start: it answered " +
                             host::StatusName(error.status()) + " to " + error.action());
  } catch (const host::HostError& error) {
    throw std::runtime_error("cannot load plug-in '" + asked + "': " + error.what());
  }
}

}  // namespace

bool PluginDescription::supportsDepth(PixelDepth depth) const {
  return supportsDepth(depth == PixelDepth::Byte ? "byte" : "float");
}

bool PluginDescription::supportsDepth(const std::string& shortName) const {
  return std::find(depths.begin(), depths.end(), shortName) != depths.end();
}

std::vector<std::string> PluginSearchFolders() {
  std::vector<std::string> folders = host::DefaultPluginFolders();
#ifdef LENSTROVE_BUILD_BUNDLE_PARENT
  // From the build tree, its fresh bundle comes before an installed one.
  if (RunningFromBuildTree()) {
    // The host library lists /usr/OFX/Plugins last.
    const std::size_t insertAt = folders.empty() ? 0 : folders.size() - 1;
    folders.insert(folders.begin() + static_cast<long>(insertAt), LENSTROVE_BUILD_BUNDLE_PARENT);
  }
#endif
  return folders;
}

std::vector<PluginSummary> ListPlugins(std::vector<std::string>& problems) {
  std::vector<PluginSummary> found;
  for (const host::BinaryScan& scan : ScanSearchPath()) {
    for (const host::ScannedPlugin& plugin : scan.plugins) {
      found.push_back({plugin.identifier,
                       std::to_string(plugin.version_major) + "." + std::to_string(plugin.version_minor),
                       plugin.label.empty() ? plugin.identifier : plugin.label, scan.binary});
    }
    for (const host::ScanProblem& problem : scan.problems) problems.push_back(host::ProblemText(scan, problem));
  }
  return found;
}

std::unique_ptr<LoadedPlugin> OpenPlugin(const std::string& which) {
  if (LooksLikePath(which)) {
    std::error_code error;
    if (!fs::exists(which, error)) throw std::runtime_error("plug-in file '" + which + "' does not exist");
    // Scanned first, so that a binary that crashes or hangs is refused
    // rather than taking this process with it.
    const host::BinaryScan scan = Scan({host::ResolveModulePath(which)}).front();
    if (const host::ScanProblem* problem = scan.ProblemOf(0)) throw std::runtime_error(CannotUse(which, scan, *problem));
    return OpenAt(which, 0, which);
  }
  std::vector<std::string> problems;
  const std::optional<Located> located = FindIdentifier(which, problems);
  if (!located) {
    std::string message = "unknown plug-in '" + which + "': none with that identifier in " +
                          JoinFolders(PluginSearchFolders()) + " (see 'lenstrove list')";
    for (const std::string& problem : problems) message += "\n  " + problem;
    throw std::runtime_error(message);
  }
  return OpenAt(located->binary, located->index, which);
}

}  // namespace lenstrove::cli
