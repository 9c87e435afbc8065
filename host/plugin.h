#ifndef LENSTROVE_HOST_PLUGIN_H
#define LENSTROVE_HOST_PLUGIN_H

// One plug-in inside a loaded module, and the actions the host sends it.
//
// Every step of the standard host sequence is a separate call so a test can
// run them in any order or skip some; Start, Instantiate and Shutdown run
// the usual sequence and throw on the first failure. Action calls return
// the plug-in's status in an ActionResult; call Check() on it to turn a
// failure into a PluginError.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "effect.h"
#include "status.h"

namespace lenstrove::host {

class Host;
class PluginModule;

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

  const OfxPlugin& Record() const { return *record_; }
  std::string Identifier() const;
  Host& GetHost() const { return host_; }

  // Throws HostError unless the plug-in is an image effect of API version 1.
  void CheckApi() const;
  void SetHost();

  // mainEntry exactly as given, for tests that send odd actions or handles.
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
  // Sets the instance's time to the frame's, then renders.
  ActionResult Render(Effect& instance, const RenderRequest& request);
  // Tells the plug-in, then frees the instance whatever it answered. An
  // instance already freed (by Shutdown, say) gets kOfxStatErrBadHandle and
  // the plug-in is not called.
  ActionResult DestroyInstance(Effect& instance);
  // Frees an instance without telling the plug-in (after a failed create).
  void DiscardInstance(Effect& instance);
  ActionResult Unload();

  // CheckApi, SetHost, Load, Describe, then DescribeInContext for every
  // context the plug-in supports; unloads again if describing fails.
  void Start();
  // NewInstance and CreateInstance; a failed instance is discarded.
  Effect& Instantiate(const std::string& context);
  // Destroys every instance left, then unloads.
  void Shutdown();

  Effect& Descriptor();  // throws HostError before Describe
  Effect* ContextDescriptor(const std::string& context);  // null if not described
  // The plug-in's OfxImageEffectPropSupportedContexts.
  std::vector<std::string> SupportedContexts();
  std::vector<Effect*> Instances();

 private:
  bool Holds(const Effect& instance);
  ActionResult Run(const char* action, const void* handle, PropertySet* in_args, PropertySet* out_args);

  Host& host_;
  std::shared_ptr<PluginModule> module_;
  OfxPlugin* record_;
  std::unique_ptr<Effect> descriptor_;
  std::vector<std::unique_ptr<Effect>> context_descriptors_;
  std::mutex instances_mutex_;
  std::vector<std::unique_ptr<Effect>> instances_;
};

}  // namespace lenstrove::host

#endif
