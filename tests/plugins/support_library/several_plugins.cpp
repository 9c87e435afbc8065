// One binary holding three plug-ins on the standard's C++ support library,
// as plug-in collections ship them, each in another context:
//
//   org.lenstrove.sdk.Invert  1.2  filter: colour becomes 1 - colour
//   org.lenstrove.sdk.Darken  2.0  general only, with a Source, an Output
//                                  and an optional Matte that stays
//                                  unconnected: out = in * Amount (0.5)
//   org.lenstrove.sdk.Pattern 1.0  generator only: a host that renders
//                                  filters has nothing to give it

#include "ofxsImageEffect.h"
#include "pixels.h"

namespace {

// The pictures of the two that take a source, told apart by `darken`.
class ColourEffect : public OFX::ImageEffect {
 public:
  ColourEffect(OfxImageEffectHandle handle, bool darken)
      : ImageEffect(handle),
        darken_(darken),
        output_(fetchClip(kOfxImageEffectOutputClipName)),
        source_(fetchClip(kOfxImageEffectSimpleSourceClipName)) {}

  void render(const OFX::RenderArguments& args) override {
    std::unique_ptr<OFX::Image> output(output_->fetchImage(args.time));
    std::unique_ptr<OFX::Image> source(source_->fetchImage(args.time));
    if (!output || !source) throw OFX::Exception::Suite(kOfxStatFailed);
    const float amount = darken_ ? static_cast<float>(fetchDoubleParam("Amount")->getValueAtTime(args.time)) : 0.0f;
    const bool darken = darken_;
    lenstrove_sdk::Process(source.get(), *output, args.renderWindow, [&](int, int, const float in[4], float out[4]) {
      for (int c = 0; c < 3; ++c) out[c] = darken ? in[c] * amount : 1.0f - in[c];
      out[3] = in[3];
    });
  }

 private:
  bool darken_;
  OFX::Clip* output_;
  OFX::Clip* source_;
};

void DescribeCommon(OFX::ImageEffectDescriptor& desc, const char* label, OFX::ContextEnum context) {
  desc.setLabel(label);
  desc.setPluginGrouping("Lenstrove Tests/Collection");
  desc.addSupportedContext(context);
  desc.addSupportedBitDepth(OFX::eBitDepthUByte);
  desc.addSupportedBitDepth(OFX::eBitDepthFloat);
}

void DefineClips(OFX::ImageEffectDescriptor& desc, bool withSource) {
  if (withSource) desc.defineClip(kOfxImageEffectSimpleSourceClipName)->addSupportedComponent(OFX::ePixelComponentRGBA);
  desc.defineClip(kOfxImageEffectOutputClipName)->addSupportedComponent(OFX::ePixelComponentRGBA);
}

mDeclarePluginFactory(InvertFactory, {}, {});

void InvertFactory::describe(OFX::ImageEffectDescriptor& desc) { DescribeCommon(desc, "SDK Invert", OFX::eContextFilter); }

void InvertFactory::describeInContext(OFX::ImageEffectDescriptor& desc, OFX::ContextEnum) { DefineClips(desc, true); }

OFX::ImageEffect* InvertFactory::createInstance(OfxImageEffectHandle handle, OFX::ContextEnum) {
  return new ColourEffect(handle, false);
}

mDeclarePluginFactory(DarkenFactory, {}, {});

void DarkenFactory::describe(OFX::ImageEffectDescriptor& desc) { DescribeCommon(desc, "SDK Darken", OFX::eContextGeneral); }

void DarkenFactory::describeInContext(OFX::ImageEffectDescriptor& desc, OFX::ContextEnum) {
  DefineClips(desc, true);
  OFX::ClipDescriptor* matte = desc.defineClip("Matte");
  matte->addSupportedComponent(OFX::ePixelComponentAlpha);
  matte->setOptional(true);
  matte->setIsMask(true);
  OFX::DoubleParamDescriptor* amount = desc.defineDoubleParam("Amount");
  amount->setDefault(0.5);
  amount->setRange(0.0, 1.0);
}

OFX::ImageEffect* DarkenFactory::createInstance(OfxImageEffectHandle handle, OFX::ContextEnum) {
  return new ColourEffect(handle, true);
}

class PatternEffect : public OFX::ImageEffect {
 public:
  explicit PatternEffect(OfxImageEffectHandle handle) : ImageEffect(handle), output_(fetchClip(kOfxImageEffectOutputClipName)) {}

  void render(const OFX::RenderArguments& args) override {
    std::unique_ptr<OFX::Image> output(output_->fetchImage(args.time));
    if (!output) throw OFX::Exception::Suite(kOfxStatFailed);
    lenstrove_sdk::Process(nullptr, *output, args.renderWindow, [](int x, int y, const float*, float out[4]) {
      out[0] = out[1] = out[2] = ((x / 8 + y / 8) % 2) != 0 ? 1.0f : 0.0f;
      out[3] = 1.0f;
    });
  }

 private:
  OFX::Clip* output_;
};

mDeclarePluginFactory(PatternFactory, {}, {});

void PatternFactory::describe(OFX::ImageEffectDescriptor& desc) {
  DescribeCommon(desc, "SDK Pattern", OFX::eContextGenerator);
}

void PatternFactory::describeInContext(OFX::ImageEffectDescriptor& desc, OFX::ContextEnum) { DefineClips(desc, false); }

OFX::ImageEffect* PatternFactory::createInstance(OfxImageEffectHandle handle, OFX::ContextEnum) {
  return new PatternEffect(handle);
}

}  // namespace

namespace OFX {
namespace Plugin {
void getPluginIDs(OFX::PluginFactoryArray& ids) {
  static InvertFactory invert("org.lenstrove.sdk.Invert", 1, 2);
  static DarkenFactory darken("org.lenstrove.sdk.Darken", 2, 0);
  static PatternFactory pattern("org.lenstrove.sdk.Pattern", 1, 0);
  ids.push_back(&invert);
  ids.push_back(&darken);
  ids.push_back(&pattern);
}
}  // namespace Plugin
}  // namespace OFX
