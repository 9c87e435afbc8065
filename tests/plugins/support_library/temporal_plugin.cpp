// A filter on the standard's C++ support library with temporal clip
// access: it asks, in the frames needed action, for its source Offset
// frames away and renders that frame instead of the current one, holding
// both images at once. A source the host cannot give fails the render with
// a message naming the time.
//
//   Offset   frames from the render time to the frame shown (default -1)

#include <cstdio>
#include <string>

#include "ofxsImageEffect.h"
#include "pixels.h"

namespace {

class TemporalEffect : public OFX::ImageEffect {
 public:
  explicit TemporalEffect(OfxImageEffectHandle handle)
      : ImageEffect(handle),
        output_(fetchClip(kOfxImageEffectOutputClipName)),
        source_(fetchClip(kOfxImageEffectSimpleSourceClipName)),
        offset_(fetchIntParam("Offset")) {}

  void getFramesNeeded(const OFX::FramesNeededArguments& args, OFX::FramesNeededSetter& frames) override {
    const double shown = Shown(args.time);
    frames.setFramesNeeded(*source_, OfxRangeD{shown, shown});
  }

  void render(const OFX::RenderArguments& args) override {
    const double shown = Shown(args.time);
    std::unique_ptr<OFX::Image> current(source_->fetchImage(args.time));
    std::unique_ptr<OFX::Image> other(source_->fetchImage(shown));
    std::unique_ptr<OFX::Image> output(output_->fetchImage(args.time));
    if (!current || !other || !output) {
      char text[64];
      std::snprintf(text, sizeof text, "no source frame at time %g", current ? shown : args.time);
      sendMessage(OFX::Message::eMessageError, "", text);
      throw OFX::Exception::Suite(kOfxStatFailed);
    }
    lenstrove_sdk::Process(other.get(), *output, args.renderWindow, [](int, int, const float in[4], float out[4]) {
      for (int c = 0; c < 4; ++c) out[c] = in[c];
    });
  }

 private:
  double Shown(double time) {
    int offset = 0;
    offset_->getValueAtTime(time, offset);
    return time + offset;
  }

  OFX::Clip* output_;
  OFX::Clip* source_;
  OFX::IntParam* offset_;
};

mDeclarePluginFactory(TemporalFactory, {}, {});

void TemporalFactory::describe(OFX::ImageEffectDescriptor& desc) {
  desc.setLabel("SDK Temporal");
  desc.addSupportedContext(OFX::eContextFilter);
  desc.addSupportedBitDepth(OFX::eBitDepthUByte);
  desc.addSupportedBitDepth(OFX::eBitDepthFloat);
  desc.setTemporalClipAccess(true);
}

void TemporalFactory::describeInContext(OFX::ImageEffectDescriptor& desc, OFX::ContextEnum) {
  OFX::ClipDescriptor* source = desc.defineClip(kOfxImageEffectSimpleSourceClipName);
  source->addSupportedComponent(OFX::ePixelComponentRGBA);
  source->setTemporalClipAccess(true);
  desc.defineClip(kOfxImageEffectOutputClipName)->addSupportedComponent(OFX::ePixelComponentRGBA);
  desc.defineIntParam("Offset")->setDefault(-1);
}

OFX::ImageEffect* TemporalFactory::createInstance(OfxImageEffectHandle handle, OFX::ContextEnum) {
  return new TemporalEffect(handle);
}

}  // namespace

namespace OFX {
namespace Plugin {
void getPluginIDs(OFX::PluginFactoryArray& ids) {
  static TemporalFactory temporal("org.lenstrove.sdk.Temporal", 1, 0);
  ids.push_back(&temporal);
}
}  // namespace Plugin
}  // namespace OFX
