// A gain filter written on the standard's C++ support library that
// declares a parameter of every type the host offers, so that the host's
// parameters are tested against what the library asks of them: every
// descriptor and instance property it reads, defaults of every type, values
// and keys set from outside, spatial kinds in canonical and normalised
// coordinates, pages and groups.
//
// Its picture: for the channels Channels selects (0 RGBA, 1 RGB, 2 Alpha),
// out = (Invert ? 1 - in : in) * Gain * Tint + Lift, Lift on colour only;
// in every depth and components it is handed.
//
// With Report on it posts a log message at every render listing the value
// of every parameter at the render's time, so a test can read what reached
// the plug-in from the command line or the host library.

#include <cstdio>
#include <string>

#include "ofxsImageEffect.h"
#include "pixels.h"

namespace {

constexpr const char* kIdentifier = "org.lenstrove.sdk.Gain";

class GainEffect : public OFX::ImageEffect {
 public:
  explicit GainEffect(OfxImageEffectHandle handle)
      : ImageEffect(handle),
        output_(fetchClip(kOfxImageEffectOutputClipName)),
        source_(fetchClip(kOfxImageEffectSimpleSourceClipName)),
        gain_(fetchDoubleParam("Gain")),
        invert_(fetchBooleanParam("Invert")),
        channels_(fetchChoiceParam("Channels")),
        report_(fetchBooleanParam("Report")),
        tint_(fetchRGBAParam("Tint")),
        lift_(fetchRGBParam("Lift")) {}

  void render(const OFX::RenderArguments& args) override {
    const double t = args.time;
    if (report_->getValueAtTime(t)) sendMessage(OFX::Message::eMessageLog, "", Report(t));
    const float gain = static_cast<float>(gain_->getValueAtTime(t));
    const bool invert = invert_->getValueAtTime(t);
    int channels = 0;
    channels_->getValueAtTime(t, channels);
    double tint[4], lift[3];
    tint_->getValueAtTime(t, tint[0], tint[1], tint[2], tint[3]);
    lift_->getValueAtTime(t, lift[0], lift[1], lift[2]);
    std::unique_ptr<OFX::Image> output(output_->fetchImage(t));
    std::unique_ptr<OFX::Image> source(source_->fetchImage(t));
    if (!output) OFX::throwSuiteStatusException(kOfxStatFailed);
    lenstrove_sdk::Process(source.get(), *output, args.renderWindow, [&](int, int, const float in[4], float out[4]) {
      for (int c = 0; c < 4; ++c) {
        const bool chosen = channels == 0 || (channels == 1 && c < 3) || (channels == 2 && c == 3);
        const float v = invert ? 1.0f - in[c] : in[c];
        out[c] = chosen ? v * gain * static_cast<float>(tint[c]) + (c < 3 ? static_cast<float>(lift[c]) : 0.0f)
                        : in[c];
      }
    });
  }

 private:
  // "t=1 Gain=0.5 ...": every value as the plug-in reads it at time t.
  std::string Report(double t) {
    std::string text = "t=" + Number(t);
    const auto add = [&](const char* name, const std::string& value) { text += std::string(" ") + name + "=" + value; };
    add("Gain", Number(gain_->getValueAtTime(t)));
    add("Invert", invert_->getValueAtTime(t) ? "1" : "0");
    int choice = 0, count = 0, x = 0, y = 0, z = 0;
    channels_->getValueAtTime(t, choice);
    add("Channels", std::to_string(choice));
    fetchIntParam("Count")->getValueAtTime(t, count);
    add("Count", std::to_string(count));
    fetchInt2DParam("Size")->getValueAtTime(t, x, y);
    add("Size", std::to_string(x) + "," + std::to_string(y));
    fetchInt3DParam("Cells")->getValueAtTime(t, x, y, z);
    add("Cells", std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(z));
    double a = 0, b = 0, c = 0, d = 0;
    fetchDouble3DParam("Scale")->getValueAtTime(t, a, b, c);
    add("Scale", Number(a) + "," + Number(b) + "," + Number(c));
    for (const char* name : {"Centre", "Corner", "Offset"}) {
      fetchDouble2DParam(name)->getValueAtTime(t, a, b);
      add(name, Number(a) + "," + Number(b));
    }
    add("Radius", Number(fetchDoubleParam("Radius")->getValueAtTime(t)));
    tint_->getValueAtTime(t, a, b, c, d);
    add("Tint", Number(a) + "," + Number(b) + "," + Number(c) + "," + Number(d));
    lift_->getValueAtTime(t, a, b, c);
    add("Lift", Number(a) + "," + Number(b) + "," + Number(c));
    std::string note, curve;
    fetchStringParam("Note")->getValueAtTime(t, note);
    fetchCustomParam("Curve")->getValueAtTime(t, curve);
    add("Note", "[" + note + "]");
    add("Curve", "[" + curve + "]");
    return text;
  }

  static std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
  }

  OFX::Clip* output_;
  OFX::Clip* source_;
  OFX::DoubleParam* gain_;
  OFX::BooleanParam* invert_;
  OFX::ChoiceParam* channels_;
  OFX::BooleanParam* report_;
  OFX::RGBAParam* tint_;
  OFX::RGBParam* lift_;
};

mDeclarePluginFactory(GainFactory, {}, {});

void GainFactory::describe(OFX::ImageEffectDescriptor& desc) {
  desc.setLabels("SDK Gain", "Gain", "SDK Gain (support library)");
  desc.setPluginGrouping("Lenstrove Tests");
  desc.addSupportedContext(OFX::eContextFilter);
  for (OFX::BitDepthEnum depth : {OFX::eBitDepthUByte, OFX::eBitDepthUShort, OFX::eBitDepthHalf, OFX::eBitDepthFloat})
    desc.addSupportedBitDepth(depth);
  desc.setSupportsTiles(true);
  desc.setRenderThreadSafety(OFX::eRenderFullySafe);
}

// The controls, the colour and the spatial parameters on one page; the
// colours and the positions each in a group.
void DescribeValues(OFX::ImageEffectDescriptor& desc, OFX::PageParamDescriptor& page) {
  OFX::DoubleParamDescriptor* gain = desc.defineDoubleParam("Gain");
  gain->setDefault(1.0);
  gain->setRange(0.0, 4.0);
  OFX::BooleanParamDescriptor* invert = desc.defineBooleanParam("Invert");
  OFX::ChoiceParamDescriptor* channels = desc.defineChoiceParam("Channels");
  for (const char* option : {"RGBA", "RGB", "Alpha"}) channels->appendOption(option);
  OFX::BooleanParamDescriptor* report = desc.defineBooleanParam("Report");
  report->setAnimates(false);
  OFX::IntParamDescriptor* count = desc.defineIntParam("Count");
  count->setDefault(3);
  count->setRange(0, 10);
  desc.defineInt2DParam("Size")->setDefault(640, 480);
  desc.defineInt3DParam("Cells")->setDefault(1, 2, 3);
  desc.defineDouble3DParam("Scale")->setDefault(1.0, 1.0, 1.0);
  OFX::StringParamDescriptor* note = desc.defineStringParam("Note");
  note->setDefault("hello");
  desc.defineCustomParam("Curve")->setDefault("0 0 1 1");
  OFX::PushButtonParamDescriptor* reset = desc.definePushButtonParam("Reset");
  for (OFX::ParamDescriptor* param : std::initializer_list<OFX::ParamDescriptor*>{
           gain, invert, channels, report, count, desc.getParamDescriptor("Size"), desc.getParamDescriptor("Cells"),
           desc.getParamDescriptor("Scale"), note, desc.getParamDescriptor("Curve"), reset})
    page.addChild(*param);
}

void DescribeGroups(OFX::ImageEffectDescriptor& desc, OFX::PageParamDescriptor& page) {
  OFX::GroupParamDescriptor* colour = desc.defineGroupParam("Colour");
  OFX::RGBAParamDescriptor* tint = desc.defineRGBAParam("Tint");
  tint->setDefault(1.0, 1.0, 1.0, 1.0);
  tint->setParent(*colour);
  desc.defineRGBParam("Lift")->setParent(*colour);
  OFX::GroupParamDescriptor* place = desc.defineGroupParam("Place");
  place->setOpen(false);
  // A position given as a fraction of the frame, as the standard's newer
  // plug-ins declare it: the host turns the default into pixels.
  OFX::Double2DParamDescriptor* centre = desc.defineDouble2DParam("Centre");
  centre->setDoubleType(OFX::eDoubleTypeXYAbsolute);
  centre->setDefaultCoordinateSystem(OFX::eCoordinatesNormalised);
  centre->setDefault(0.5, 0.5);
  // The older normalised kind: the plug-in itself reads fractions.
  OFX::Double2DParamDescriptor* corner = desc.defineDouble2DParam("Corner");
  corner->getPropertySet().propSetString(kOfxParamPropDoubleType, "OfxParamDoubleTypeNormalisedXYAbsolute");
  corner->setDefault(0.25, 0.75);
  OFX::Double2DParamDescriptor* offset = desc.defineDouble2DParam("Offset");
  offset->setDoubleType(OFX::eDoubleTypeXY);
  offset->setDefault(8.0, -4.0);
  OFX::DoubleParamDescriptor* radius = desc.defineDoubleParam("Radius");
  radius->setDoubleType(OFX::eDoubleTypeX);
  radius->setDefaultCoordinateSystem(OFX::eCoordinatesNormalised);
  radius->setDefault(0.1);
  for (OFX::ParamDescriptor* param : std::initializer_list<OFX::ParamDescriptor*>{centre, corner, offset, radius})
    param->setParent(*place);
  page.addChild(*colour);
  page.addChild(*place);
}

void GainFactory::describeInContext(OFX::ImageEffectDescriptor& desc, OFX::ContextEnum) {
  for (const char* name : {kOfxImageEffectSimpleSourceClipName, kOfxImageEffectOutputClipName}) {
    OFX::ClipDescriptor* clip = desc.defineClip(name);
    for (OFX::PixelComponentEnum components : {OFX::ePixelComponentRGBA, OFX::ePixelComponentRGB, OFX::ePixelComponentAlpha})
      clip->addSupportedComponent(components);
    clip->setSupportsTiles(true);
  }
  OFX::PageParamDescriptor* page = desc.definePageParam("Controls");
  DescribeValues(desc, *page);
  DescribeGroups(desc, *page);
}

OFX::ImageEffect* GainFactory::createInstance(OfxImageEffectHandle handle, OFX::ContextEnum) {
  return new GainEffect(handle);
}

}  // namespace

namespace OFX {
namespace Plugin {
void getPluginIDs(OFX::PluginFactoryArray& ids) {
  static GainFactory gain(kIdentifier, 1, 0);
  ids.push_back(&gain);
}
}  // namespace Plugin
}  // namespace OFX
