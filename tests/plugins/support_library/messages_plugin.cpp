// A filter on the standard's C++ support library that talks to the user
// while it renders: progress through the frame, a warning, a question, a
// persistent message and, when asked, an error that fails the render.
//
//   Warn   on (default): a warning naming the frame
//   Ask    on: asks a question and logs the answer the host gave
//   Fail   on: posts an error naming the frame and fails the render
//   Stop   on: stops where the host's progress answer says to abort, and
//          logs at which step
// The picture is copied from the source, row band by row band, one
// progress step per band.

#include <string>

#include "ofxsImageEffect.h"
#include "pixels.h"

namespace {

constexpr int kSteps = 4;

class MessagesEffect : public OFX::ImageEffect {
 public:
  explicit MessagesEffect(OfxImageEffectHandle handle)
      : ImageEffect(handle),
        output_(fetchClip(kOfxImageEffectOutputClipName)),
        source_(fetchClip(kOfxImageEffectSimpleSourceClipName)) {}

  void render(const OFX::RenderArguments& args) override {
    const std::string frame = "frame " + std::to_string(static_cast<int>(args.time));
    if (Switch("Warn", args.time)) sendMessage(OFX::Message::eMessageWarning, "", frame + " looks dark");
    if (Switch("Ask", args.time)) {
      const OFX::Message::MessageReplyEnum reply =
          sendMessage(OFX::Message::eMessageQuestion, "", "render " + frame + "?");
      sendMessage(OFX::Message::eMessageLog, "", std::string("the answer was ") +
                                                     (reply == OFX::Message::eMessageReplyYes ? "yes" : "no"));
    }
    setPersistentMessage(OFX::Message::eMessageMessage, "", "rendering " + frame);
    if (Switch("Fail", args.time)) {
      sendMessage(OFX::Message::eMessageError, "", "cannot render " + frame);
      throw OFX::Exception::Suite(kOfxStatFailed);
    }
    std::unique_ptr<OFX::Image> output(output_->fetchImage(args.time));
    std::unique_ptr<OFX::Image> source(source_->fetchImage(args.time));
    if (!output) throw OFX::Exception::Suite(kOfxStatFailed);
    CopyInSteps(args, source.get(), *output);
    clearPersistentMessage();
  }

 private:
  bool Switch(const char* name, double time) { return fetchBooleanParam(name)->getValueAtTime(time); }

  void CopyInSteps(const OFX::RenderArguments& args, const OFX::Image* source, OFX::Image& output) {
    const OfxRectI& w = args.renderWindow;
    progressStart("Messages");
    for (int step = 0; step < kSteps; ++step) {
      const OfxRectI band{w.x1, w.y1 + (w.y2 - w.y1) * step / kSteps, w.x2, w.y1 + (w.y2 - w.y1) * (step + 1) / kSteps};
      lenstrove_sdk::Process(source, output, band, [](int, int, const float in[4], float out[4]) {
        for (int c = 0; c < 4; ++c) out[c] = in[c];
      });
      if (!progressUpdate(static_cast<double>(step + 1) / kSteps) && Switch("Stop", args.time)) {
        sendMessage(OFX::Message::eMessageLog, "", "stopped after step " + std::to_string(step + 1));
        break;
      }
    }
    progressEnd();
  }

  OFX::Clip* output_;
  OFX::Clip* source_;
};

mDeclarePluginFactory(MessagesFactory, {}, {});

void MessagesFactory::describe(OFX::ImageEffectDescriptor& desc) {
  desc.setLabel("SDK Messages");
  desc.addSupportedContext(OFX::eContextFilter);
  desc.addSupportedBitDepth(OFX::eBitDepthUByte);
  desc.addSupportedBitDepth(OFX::eBitDepthFloat);
}

void MessagesFactory::describeInContext(OFX::ImageEffectDescriptor& desc, OFX::ContextEnum) {
  for (const char* name : {kOfxImageEffectSimpleSourceClipName, kOfxImageEffectOutputClipName})
    desc.defineClip(name)->addSupportedComponent(OFX::ePixelComponentRGBA);
  desc.defineBooleanParam("Warn")->setDefault(true);
  for (const char* name : {"Ask", "Fail", "Stop"}) desc.defineBooleanParam(name);
}

OFX::ImageEffect* MessagesFactory::createInstance(OfxImageEffectHandle handle, OFX::ContextEnum) {
  return new MessagesEffect(handle);
}

}  // namespace

namespace OFX {
namespace Plugin {
void getPluginIDs(OFX::PluginFactoryArray& ids) {
  static MessagesFactory messages("org.lenstrove.sdk.Messages", 1, 0);
  ids.push_back(&messages);
}
}  // namespace Plugin
}  // namespace OFX
