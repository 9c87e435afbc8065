#ifndef LENSTROVE_HOST_PLUGIN_H
#define LENSTROVE_HOST_PLUGIN_H

// One plug-in inside a loaded module, and the actions the host sends it.
//
// Every step of the standard host sequence is a separate call so a test can
// run them in any order or skip some; Start, Instantiate and Shutdown run
// the usual sequence and throw on the first failure. Action calls return
// the plug-in's status in an ActionResult; call Check() on it to turn a
// failure into a PluginError.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "effect.h"
#include "status.h"

namespace lenstrove::host {

class Host;
class PluginModule;

// What a plug-in answered to the clip preferences action: what it wants
// each clip's images to be. Clips it said nothing about keep what they were.
struct ClipPreference {
  std::string clip;
  std::string components;  // kOfxImageComponentRGBA, ...
  std::string depth;       // kOfxBitDepthByte, ...
  double pixel_aspect_ratio = 1;
};

struct ClipPreferences {
  std::vector<ClipPreference> clips;
  std::string output_premultiplication;  // kOfxImagePreMultiplied, ...
  double frame_rate = 24;
  bool frame_varying = false;
  bool continuous_samples = false;
  const ClipPreference* Find(const std::string& clip) const;
};

// What is identity answered: render nothing, copy `clip` at `time`.
struct Identity {
  std::string clip;
  OfxTime time = 0;
};

// The arguments of a render action.
struct RenderRequest {
  OfxTime time = 0;
  OfxRectI window = {0, 0, 0, 0};
  double scale_x = 1;
  double scale_y = 1;
  bool sequential = false;
  bool interactive = false;
};

class Plugin {
 public:
  // Takes plug-in `index` of `module` (OfxGetPlugin); throws HostError when
  // the module answers null. Does not call the plug-in yet.
  Plugin(Host& host, std::shared_ptr<PluginModule> module, int index);
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // The record is the plug-in's own: a plug-in may free it on unload (the
  // standard's support library does), so read it only while loaded.
  const OfxPlugin& Record() const { return *record_; }
  // Taken when the plug-in is constructed, so it stays valid after unload.
  const std::string& Identifier() const { return identifier_; }
  Host& GetHost() const { return host_; }

  // Throws HostError unless the plug-in is an image effect of API version 1.
  void CheckApi() const;
  void SetHost();

  // mainEntry exactly as given, for tests that send odd actions or handles.
  // An exception the plug-in lets out of mainEntry is caught and answered
  // as kOfxStatFailed, its text in the result's message.
  ActionResult CallAction(const char* action, const void* handle, OfxPropertySetHandle in_args,
                          OfxPropertySetHandle out_args);
  ActionResult Load();
  // Describe makes a fresh descriptor and has the plug-in fill it in.
  ActionResult Describe();
  // Makes a fresh descriptor for `context` from the one Describe filled in.
  ActionResult DescribeInContext(const std::string& context);
  // Makes an instance of the context's descriptor without telling the
  // plug-in; throws HostError when the context was not described.
  Effect& NewInstance(const std::string& context);
  ActionResult CreateInstance(Effect& instance);
  // Sets the instance's time to the frame's, then renders. Honours the
  // plug-in's render thread safety: an unsafe plug-in renders one call at a
  // time in the whole process, an instance-safe one one call at a time per
  // instance; a fully safe one is not held back. An error message the
  // plug-in posts during the render fails it, with the message.
  ActionResult Render(Effect& instance, const RenderRequest& request);
  // Renders every window of one frame: at the same time on several threads
  // when the plug-in is fully safe and `parallel` is set, else in order.
  // The first failure is returned.
  ActionResult RenderWindows(Effect& instance, RenderRequest request, const std::vector<OfxRectI>& windows,
                             bool parallel);
  // The plug-in's OfxImageEffectPluginRenderThreadSafety.
  std::string RenderThreadSafety();

  // The actions a host sends around a render, in the standard's order.
  // Each fills in what the plug-in answered; a plug-in that answers
  // kOfxStatReplyDefault leaves the host's defaults in place.
  ActionResult GetClipPreferences(Effect& instance, ClipPreferences* preferences);
  ActionResult GetRegionOfDefinition(Effect& instance, OfxTime time, OfxRectD* region);
  // `region` is the region of the output to be rendered; `rois` gets one
  // region per input clip (by default the same region).
  ActionResult GetRegionsOfInterest(Effect& instance, OfxTime time, const OfxRectD& region,
                                    std::vector<std::pair<std::string, OfxRectD>>* rois);
  // Frame ranges of every input clip the frame at `time` needs (by default
  // just `time`).
  ActionResult GetFramesNeeded(Effect& instance, OfxTime time,
                               std::vector<std::pair<std::string, OfxRangeD>>* frames);
  // Sets `identity` when the plug-in answered that it would only copy a
  // clip (kOfxStatOK); otherwise leaves it unset.
  ActionResult IsIdentity(Effect& instance, const RenderRequest& request, std::optional<Identity>* identity);
  ActionResult BeginSequenceRender(Effect& instance, OfxRangeD frames, bool sequential);
  ActionResult EndSequenceRender(Effect& instance, OfxRangeD frames, bool sequential);
  // Begin instance changed, instance changed for `param` and end, as when a
  // user edits the parameter at `time` (reason kOfxChangeUserEdited).
  ActionResult ParamChanged(Effect& instance, const std::string& param, OfxTime time);
  // Tells the plug-in, then frees the instance whatever it answered. An
  // instance already freed (by Shutdown, say) gets kOfxStatErrBadHandle and
  // the plug-in is not called.
  ActionResult DestroyInstance(Effect& instance);
  // Frees an instance without telling the plug-in (after a failed create).
  void DiscardInstance(Effect& instance);
  // Sends unload whatever came before, for tests of odd orders; Start and
  // Shutdown send it only when it is owed.
  ActionResult Unload();

  // Told before each step of Start: "setHost" (CheckApi and SetHost), then
  // kOfxActionLoad, kOfxActionDescribe and, with the context,
  // kOfxImageEffectActionDescribeInContext. The scanner writes these down
  // so that a crash can be placed.
  using StepListener = std::function<void(const char* step, const std::string& context)>;
  static constexpr const char* kSetHostStep = "setHost";

  // CheckApi, SetHost, Load, Describe, then DescribeInContext for every
  // context the plug-in supports; throws on the first failure. The
  // standard's rules on failure: a plug-in whose load failed gets no other
  // action; one that fails describe is not used and gets no other action
  // either (the standard's support library frees, on unload, a description
  // that a failed describe never made, and crashes); one that fails to
  // describe a context is unloaded.
  void Start(const StepListener& before_step = nullptr);
  // NewInstance and CreateInstance; a failed instance is discarded.
  Effect& Instantiate(const std::string& context);
  // Destroys every instance left, then unloads if the plug-in is owed it.
  void Shutdown();

  Effect& Descriptor();  // throws HostError before Describe
  Effect* ContextDescriptor(const std::string& context);  // null if not described
  // The plug-in's OfxImageEffectPropSupportedContexts.
  std::vector<std::string> SupportedContexts();
  std::vector<Effect*> Instances();

 private:
  // One render action, under the locks the plug-in's thread safety asks for.
  ActionResult RenderCall(Effect& instance, const RenderRequest& request);
  bool Holds(const Effect& instance);
  ActionResult Run(const char* action, const void* handle, PropertySet* in_args, PropertySet* out_args);

  Host& host_;
  std::shared_ptr<PluginModule> module_;
  OfxPlugin* record_;
  std::string identifier_;
  // Set by a load that succeeded; cleared by unload and by a failed describe.
  bool owes_unload_ = false;
  std::unique_ptr<Effect> descriptor_;
  std::vector<std::unique_ptr<Effect>> context_descriptors_;
  std::mutex instances_mutex_;
  std::vector<std::unique_ptr<Effect>> instances_;
};

}  // namespace lenstrove::host

#endif
