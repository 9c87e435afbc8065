// Reading what a plug-in described into plain values.

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <climits>
#include <cmath>
#include <utility>

#include "effect.h"
#include "session/session_internal.h"

namespace lenstrove::session {
namespace {

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

}  // namespace

std::string StringProperty(const host::PropertySet& properties, const char* name, int index) {
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

std::optional<double> NumberProperty(const host::PropertySet& properties, const char* name) {
  const host::Property* found = properties.Lookup(name);
  if (found == nullptr || found->values.empty()) return std::nullopt;
  if (const double* d = std::get_if<double>(&found->values[0])) return *d;
  if (const int* i = std::get_if<int>(&found->values[0])) return static_cast<double>(*i);
  return std::nullopt;
}

std::string ShortName(const std::string& name, const std::string& prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size()) return name;
  std::string rest = name.substr(prefix.size());
  if (prefix != "OfxImageComponent") rest[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
  return rest;
}

std::string RenderContext(host::Plugin& plugin, const std::string& self, std::string& why) {
  if (plugin.ContextDescriptor(kOfxImageEffectContextFilter) != nullptr) return kOfxImageEffectContextFilter;
  std::vector<std::string> contexts = ShortNames(plugin.SupportedContexts(), "OfxImageEffectContext");
  why = "plug-in '" + plugin.Identifier() + "' cannot render as a filter: its contexts are " + CommaList(contexts) +
        "; " + self + " renders the filter context, and the general one with a Source and an Output clip";
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

PluginDescription DescribePlugin(host::Plugin& plugin, const std::string& file, const std::string& context) {
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

Error PluginFailure(const std::string& identifier, const host::PluginError& error) {
  return Error("plug-in '" + identifier + "' answered " + host::StatusName(error.status()) + " to " + error.action() +
                   (error.message().empty() ? "" : ": " + error.message()),
               error.message());
}

bool PluginDescription::SupportsDepth(const std::string& depth) const {
  return std::find(depths.begin(), depths.end(), depth) != depths.end();
}

}  // namespace lenstrove::session
