// A fully thread-safe gain filter that renders through the standard's C++
// support library's image processor, which splits each render window into
// bands and runs them on the host's multithread suite. One template per
// pixel type, as the library's users write them.
//
// Each band checks what the host promised it: it runs on a spawned thread
// whose index is its band's, every band runs once, and the host's mutex
// keeps the shared count of processed pixels exact. A render that finds
// otherwise fails with a message naming the fault.
//
//   Gain     out = in * Gain on every channel (as org.lenstrove.sdk.Gain)
//   Threads  bands per window, whatever the processor count (default 4)

#include <string>
#include <vector>

#include "ofxsImageEffect.h"
#include "ofxsMultiThread.h"
#include "ofxsProcessing.h"
#include "pixels.h"

namespace {

// What the bands of one window report, under the host's mutex.
struct BandLedger {
  OFX::MultiThread::Mutex mutex;
  std::vector<int> runs;
  long pixels = 0;
  std::string fault;
};

template <class Channel>
class GainProcessor : public OFX::ImageProcessor {
 public:
  GainProcessor(OFX::ImageEffect& effect, const OFX::Image* source, float gain, unsigned bands, BandLedger& ledger)
      : ImageProcessor(effect), source_(source), gain_(gain), bands_(bands), ledger_(ledger) {}

  // However many processors the machine has, the host gets `bands_` calls.
  void multiThread(unsigned int) override { Processor::multiThread(bands_); }

  void multiThreadFunction(unsigned int index, unsigned int count) override {
    std::string fault;
    if (count > 1 && !OFX::MultiThread::isSpawnedThread()) fault = "band " + std::to_string(index) + " is not on a spawned thread";
    if (count > 1 && OFX::MultiThread::getThreadIndex() != index) fault = "band " + std::to_string(index) + " has another thread index";
    {
      OFX::MultiThread::AutoMutex lock(ledger_.mutex);
      if (index < ledger_.runs.size()) ++ledger_.runs[index];
      if (ledger_.fault.empty()) ledger_.fault = fault;
    }
    ImageProcessor::multiThreadFunction(index, count);
  }

  void multiThreadProcessImages(OfxRectI window) override {
    long done = 0;
    lenstrove_sdk::ProcessTyped<Channel>(source_, *_dstImg, window, [&](int, int, const float in[4], float out[4]) {
      for (int c = 0; c < 4; ++c) out[c] = in[c] * gain_;
      ++done;
    });
    OFX::MultiThread::AutoMutex lock(ledger_.mutex);
    ledger_.pixels += done;
  }

 private:
  const OFX::Image* source_;
  float gain_;
  unsigned bands_;
  BandLedger& ledger_;
};

class ThreadedEffect : public OFX::ImageEffect {
 public:
  explicit ThreadedEffect(OfxImageEffectHandle handle)
      : ImageEffect(handle),
        output_(fetchClip(kOfxImageEffectOutputClipName)),
        source_(fetchClip(kOfxImageEffectSimpleSourceClipName)),
        // Fetched once here: the library caches what an instance fetches
        // without a lock, and the windows of a frame render at once.
        gain_(fetchDoubleParam("Gain")),
        threads_(fetchIntParam("Threads")) {}

  void render(const OFX::RenderArguments& args) override {
    std::unique_ptr<OFX::Image> output(output_->fetchImage(args.time));
    std::unique_ptr<OFX::Image> source(source_->fetchImage(args.time));
    if (!output) throw OFX::Exception::Suite(kOfxStatFailed);
    const float gain = static_cast<float>(gain_->getValueAtTime(args.time));
    int bands = 1;
    threads_->getValueAtTime(args.time, bands);
    switch (output->getPixelDepth()) {
      case OFX::eBitDepthUByte: return Run<unsigned char>(args, *output, source.get(), gain, bands);
      case OFX::eBitDepthUShort: return Run<unsigned short>(args, *output, source.get(), gain, bands);
      case OFX::eBitDepthHalf: return Run<lenstrove_sdk::Half>(args, *output, source.get(), gain, bands);
      case OFX::eBitDepthFloat: return Run<float>(args, *output, source.get(), gain, bands);
      default: throw OFX::Exception::Suite(kOfxStatErrFormat);
    }
  }

 private:
  template <class Channel>
  void Run(const OFX::RenderArguments& args, OFX::Image& output, const OFX::Image* source, float gain, int bands) {
    BandLedger ledger;
    ledger.runs.assign(static_cast<size_t>(bands), 0);
    GainProcessor<Channel> processor(*this, source, gain, static_cast<unsigned>(bands), ledger);
    processor.setDstImg(&output);
    processor.setRenderWindow(args.renderWindow);
    processor.process();
    const OfxRectI& w = args.renderWindow;
    const long expected = static_cast<long>(w.x2 - w.x1) * (w.y2 - w.y1);
    for (size_t band = 0; band < ledger.runs.size() && ledger.fault.empty(); ++band)
      if (ledger.runs[band] != 1) ledger.fault = "band " + std::to_string(band) + " ran " + std::to_string(ledger.runs[band]) + " times";
    if (ledger.fault.empty() && ledger.pixels != expected)
      ledger.fault = std::to_string(ledger.pixels) + " pixels processed of " + std::to_string(expected);
    if (!ledger.fault.empty()) {
      sendMessage(OFX::Message::eMessageError, "", ledger.fault);
      throw OFX::Exception::Suite(kOfxStatFailed);
    }
  }

  OFX::Clip* output_;
  OFX::Clip* source_;
  OFX::DoubleParam* gain_;
  OFX::IntParam* threads_;
};

mDeclarePluginFactory(ThreadedFactory, {}, {});

void ThreadedFactory::describe(OFX::ImageEffectDescriptor& desc) {
  desc.setLabel("SDK Threaded");
  desc.addSupportedContext(OFX::eContextFilter);
  for (OFX::BitDepthEnum depth : {OFX::eBitDepthUByte, OFX::eBitDepthUShort, OFX::eBitDepthHalf, OFX::eBitDepthFloat})
    desc.addSupportedBitDepth(depth);
  desc.setSupportsTiles(true);
  desc.setHostFrameThreading(false);
  desc.setRenderThreadSafety(OFX::eRenderFullySafe);
}

void ThreadedFactory::describeInContext(OFX::ImageEffectDescriptor& desc, OFX::ContextEnum) {
  for (const char* name : {kOfxImageEffectSimpleSourceClipName, kOfxImageEffectOutputClipName})
    desc.defineClip(name)->addSupportedComponent(OFX::ePixelComponentRGBA);
  desc.defineDoubleParam("Gain")->setDefault(1.0);
  OFX::IntParamDescriptor* threads = desc.defineIntParam("Threads");
  threads->setDefault(4);
  threads->setRange(1, 64);
}

OFX::ImageEffect* ThreadedFactory::createInstance(OfxImageEffectHandle handle, OFX::ContextEnum) {
  return new ThreadedEffect(handle);
}

}  // namespace

namespace OFX {
namespace Plugin {
void getPluginIDs(OFX::PluginFactoryArray& ids) {
  static ThreadedFactory threaded("org.lenstrove.sdk.Threaded", 1, 0);
  ids.push_back(&threaded);
}
}  // namespace Plugin
}  // namespace OFX
