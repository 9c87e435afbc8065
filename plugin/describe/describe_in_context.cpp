// The describe-in-context action: the two clips and the parameter set. The
// context asked for makes no difference; every call makes the same
// declarations in the same order.

#include "actions.h"
#include "describe/parameter_table.h"
#include "entry/host_suites.h"

namespace lenstrove {
namespace {

// The clips are declared output first, as hosts list them.
constexpr const char* kClipNames[] = {kOfxImageEffectOutputClipName, kOfxImageEffectSimpleSourceClipName};

const char* ParamTypeName(ParamKind kind) {
  switch (kind) {
    case ParamKind::Group: return kOfxParamTypeGroup;
    case ParamKind::Boolean: return kOfxParamTypeBoolean;
    case ParamKind::Double: return kOfxParamTypeDouble;
  }
  return kOfxParamTypeGroup;
}

void DefineClips(const HostSuites& suites, OfxImageEffectHandle descriptor) {
  for (const char* name : kClipNames) {
    OfxPropertySetHandle clip = nullptr;
    // A clip the host refused has no property set to describe.
    if (suites.imageEffect->clipDefine(descriptor, name, &clip) != kOfxStatOK || clip == nullptr) continue;
    suites.property->propSetString(clip, kOfxImageEffectPropSupportedComponents, 0, kOfxImageComponentRGBA);
  }
}

void SetLabels(const OfxPropertySuiteV1& props, OfxPropertySetHandle item, const ParamDeclaration& p) {
  props.propSetString(item, kOfxPropLabel, 0, p.label);
  props.propSetString(item, kOfxPropShortLabel, 0, p.shortLabel);
  if (p.parent != nullptr) props.propSetString(item, kOfxParamPropParent, 0, p.parent);
}

void SetRange(const OfxPropertySuiteV1& props, OfxPropertySetHandle item, const DoubleRange& r) {
  props.propSetDouble(item, kOfxParamPropDefault, 0, r.defaultValue);
  props.propSetDouble(item, kOfxParamPropMin, 0, r.min);
  props.propSetDouble(item, kOfxParamPropMax, 0, r.max);
  props.propSetDouble(item, kOfxParamPropDisplayMin, 0, r.displayMin);
  props.propSetDouble(item, kOfxParamPropDisplayMax, 0, r.displayMax);
}

void DefineParam(const HostSuites& suites, OfxParamSetHandle paramSet, const ParamDeclaration& p) {
  OfxPropertySetHandle item = nullptr;
  if (suites.parameter->paramDefine(paramSet, ParamTypeName(p.kind), p.name, &item) != kOfxStatOK ||
      item == nullptr)
    return;
  const OfxPropertySuiteV1& props = *suites.property;
  SetLabels(props, item, p);
  // Switches hold one value for the whole clip; doubles keep the host's
  // default and animate.
  if (p.kind == ParamKind::Boolean) props.propSetInt(item, kOfxParamPropAnimates, 0, 0);
  if (p.kind == ParamKind::Double) SetRange(props, item, p.range);
}

}  // namespace

OfxStatus DescribeInContext(OfxImageEffectHandle descriptor, OfxPropertySetHandle /*inArgs*/) {
  const HostSuites& suites = gHostSuites;
  if (suites.property == nullptr || suites.imageEffect == nullptr) return kOfxStatErrMissingHostFeature;

  DefineClips(suites, descriptor);
  if (suites.parameter == nullptr) return kOfxStatOK;

  OfxParamSetHandle paramSet = nullptr;
  if (suites.imageEffect->getParamSet(descriptor, &paramSet) != kOfxStatOK || paramSet == nullptr)
    return kOfxStatOK;
  for (std::size_t i = 0; i < kParamDeclarationCount; ++i) DefineParam(suites, paramSet, kParamDeclarations[i]);
  return kOfxStatOK;
}

}  // namespace lenstrove
