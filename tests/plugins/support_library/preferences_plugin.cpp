// A filter on the standard's C++ support library that asks, in its clip
// preferences, for another depth, other components and another
// premultiplication than the host offers, and fails any render whose
// images are not what it asked for, naming the difference. So a render
// that succeeds proves the host converted the pictures both ways.
//
//   Depth             0 as offered, 1 byte, 2 short, 3 half, 4 float
//   Components        0 as offered, 1 RGBA, 2 RGB, 3 Alpha
//   Premultiplication 0 as offered, 1 premultiplied, 2 straight
//   Gain              out = in * Gain on every channel it is handed

#include <string>
#include <utility>
#include <vector>

#include "ofxsImageEffect.h"
#include "pixels.h"

namespace {

constexpr OFX::BitDepthEnum kDepths[] = {OFX::eBitDepthNone, OFX::eBitDepthUByte, OFX::eBitDepthUShort,
                                         OFX::eBitDepthHalf, OFX::eBitDepthFloat};
constexpr OFX::PixelComponentEnum kComponents[] = {OFX::ePixelComponentNone, OFX::ePixelComponentRGBA,
                                                   OFX::ePixelComponentRGB, OFX::ePixelComponentAlpha};
constexpr OFX::PreMultiplicationEnum kPremultiplications[] = {OFX::eImageOpaque, OFX::eImagePreMultiplied,
                                                              OFX::eImageUnPreMultiplied};

class PreferencesEffect : public OFX::ImageEffect {
 public:
  explicit PreferencesEffect(OfxImageEffectHandle handle)
      : ImageEffect(handle),
        output_(fetchClip(kOfxImageEffectOutputClipName)),
        source_(fetchClip(kOfxImageEffectSimpleSourceClipName)) {}

  void getClipPreferences(OFX::ClipPreferencesSetter& preferences) override {
    if (const int depth = Choice("Depth")) {
      preferences.setClipBitDepth(*source_, kDepths[depth]);
      preferences.setClipBitDepth(*output_, kDepths[depth]);
    }
    if (const int components = Choice("Components")) {
      preferences.setClipComponents(*source_, kComponents[components]);
      preferences.setClipComponents(*output_, kComponents[components]);
    }
    if (const int premultiplication = Choice("Premultiplication"))
      preferences.setOutputPremultiplication(kPremultiplications[premultiplication]);
  }

  void render(const OFX::RenderArguments& args) override {
    std::unique_ptr<OFX::Image> output(output_->fetchImage(args.time));
    std::unique_ptr<OFX::Image> source(source_->fetchImage(args.time));
    if (!output || !source) Fail("no image to render with");
    for (const OFX::Image* image : {source.get(), output.get()}) Check(*image, image == source.get() ? "source" : "output");
    const float gain = static_cast<float>(fetchDoubleParam("Gain")->getValueAtTime(args.time));
    lenstrove_sdk::Process(source.get(), *output, args.renderWindow, [gain](int, int, const float in[4], float out[4]) {
      for (int c = 0; c < 4; ++c) out[c] = in[c] * gain;
    });
  }

 private:
  int Choice(const char* name) {
    int value = 0;
    fetchChoiceParam(name)->getValue(value);
    return value;
  }

  // The render fails, with a message saying why, when an image is not what
  // the preferences asked for.
  void Check(const OFX::Image& image, const std::string& which) {
    const int depth = Choice("Depth"), components = Choice("Components"), premultiplication = Choice("Premultiplication");
    if (depth != 0 && image.getPixelDepth() != kDepths[depth]) Fail("the " + which + " image has another depth");
    if (components != 0 && image.getPixelComponents() != kComponents[components])
      Fail("the " + which + " image has other components");
    // An opaque picture is both premultiplied and straight.
    const OFX::PreMultiplicationEnum state = image.getPreMultiplication();
    const bool alpha = image.getPixelComponents() != OFX::ePixelComponentRGB && state != OFX::eImageOpaque;
    if (premultiplication != 0 && alpha && state != kPremultiplications[premultiplication])
      Fail("the " + which + " image is premultiplied otherwise");
  }

  [[noreturn]] void Fail(const std::string& why) {
    sendMessage(OFX::Message::eMessageError, "", why);
    throw OFX::Exception::Suite(kOfxStatFailed);
  }

  OFX::Clip* output_;
  OFX::Clip* source_;
};

mDeclarePluginFactory(PreferencesFactory, {}, {});

void PreferencesFactory::describe(OFX::ImageEffectDescriptor& desc) {
  desc.setLabel("SDK Preferences");
  desc.addSupportedContext(OFX::eContextFilter);
  for (OFX::BitDepthEnum depth : {OFX::eBitDepthUByte, OFX::eBitDepthUShort, OFX::eBitDepthHalf, OFX::eBitDepthFloat})
    desc.addSupportedBitDepth(depth);
  desc.setRenderThreadSafety(OFX::eRenderInstanceSafe);
}

void PreferencesFactory::describeInContext(OFX::ImageEffectDescriptor& desc, OFX::ContextEnum) {
  for (const char* name : {kOfxImageEffectSimpleSourceClipName, kOfxImageEffectOutputClipName}) {
    OFX::ClipDescriptor* clip = desc.defineClip(name);
    for (OFX::PixelComponentEnum components : {OFX::ePixelComponentRGBA, OFX::ePixelComponentRGB, OFX::ePixelComponentAlpha})
      clip->addSupportedComponent(components);
  }
  const std::pair<const char*, std::vector<const char*>> choices[] = {
      {"Depth", {"offered", "byte", "short", "half", "float"}},
      {"Components", {"offered", "RGBA", "RGB", "Alpha"}},
      {"Premultiplication", {"offered", "premultiplied", "straight"}},
  };
  for (const auto& [name, options] : choices) {
    OFX::ChoiceParamDescriptor* choice = desc.defineChoiceParam(name);
    for (const char* option : options) choice->appendOption(option);
    choice->setAnimates(false);
    desc.addClipPreferencesSlaveParam(*choice);
  }
  desc.defineDoubleParam("Gain")->setDefault(1.0);
}

OFX::ImageEffect* PreferencesFactory::createInstance(OfxImageEffectHandle handle, OFX::ContextEnum) {
  return new PreferencesEffect(handle);
}

}  // namespace

namespace OFX {
namespace Plugin {
void getPluginIDs(OFX::PluginFactoryArray& ids) {
  static PreferencesFactory preferences("org.lenstrove.sdk.Preferences", 1, 0);
  ids.push_back(&preferences);
}
}  // namespace Plugin
}  // namespace OFX
