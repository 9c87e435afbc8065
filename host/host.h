#ifndef LENSTROVE_HOST_HOST_H
#define LENSTROVE_HOST_HOST_H

// The host: its own property set, the suites it hands out, the log of calls
// plug-ins make into it and the faults it can be told to inject. Plug-ins
// opened through a Host must be destroyed before it.
//
// Typical use:
//   Host host;
//   auto plugin = host.Open("Blur.ofx.bundle");     // load .. describe in contexts
//   Effect& blur = plugin->Instantiate(kOfxImageEffectContextFilter);
//   Image source({0, 0, 64, 64}), output({0, 0, 64, 64});
//   blur.GetClip("Source").SetImage(&source);
//   blur.GetClip("Output").SetImage(&output);
//   plugin->Render(blur, {0.0, {0, 0, 64, 64}}).Check();
//   plugin->Shutdown();

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "call_log.h"
#include "faults.h"
#include "handles.h"
#include "ofx/ofxImageEffect.h"
#include "plugin.h"
#include "property_set.h"

namespace lenstrove::host {

// A block from imageMemoryAlloc.
class MemoryBlock {
 public:
  MemoryBlock(Host& host, size_t size);  // throws std::bad_alloc
  OfxImageMemoryHandle Handle() { return reinterpret_cast<OfxImageMemoryHandle>(this); }
  void* Lock();
  bool Unlock();  // false when the block was not locked

 private:
  std::unique_ptr<unsigned char[]> bytes_;
  int locks_ = 0;
  Registration registration_;
};

// A message a plug-in posted through the message suite.
struct Message {
  Effect* effect;    // the instance or descriptor it names; null for none
  std::string type;  // kOfxMessageError, kOfxMessageWarning, ...
  std::string id;
  std::string text;
};

class Host {
 public:
  using MessageHandler = std::function<void(const Message&)>;

  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // What the plug-in reads about the host (name, supported contexts, depths,
  // ...); change it before SetHost to pose as another host.
  PropertySet& Properties() { return properties_; }
  CallLog& Log() { return log_; }
  FaultPlan& Faults() { return faults_; }

  // The record setHost receives; fetchSuite is null under that fault.
  OfxHost* Record();
  // fetchSuite as the plug-in sees it: logged, and null for a suite this
  // host lacks or has been told to leave out.
  const void* FetchSuite(const char* name, int version);

  // Loads plug-in `index` of a bundle or binary and runs Plugin::Start.
  std::unique_ptr<Plugin> Open(const std::string& path, int index = 0);

  // Larger than any frame this host renders. Bigger requests fail with
  // kOfxStatErrMemory, as on a host that ran out, rather than tripping the
  // allocation limits of sanitizers and fuzzers.
  static constexpr size_t kMaxMemoryBlock = size_t{1} << 30;

  // imageMemoryAlloc and imageMemoryFree.
  OfxStatus AllocateMemory(size_t size, OfxImageMemoryHandle* handle);
  void FreeMemory(MemoryBlock& block);
  // Blocks allocated and not yet freed.
  size_t MemoryBlocks() const;

  // memoryAlloc and memoryFree of the memory suite; freeing a pointer this
  // host did not hand out (or already took back) answers false.
  OfxStatus AllocateGeneralMemory(size_t size, void** data);
  bool FreeGeneralMemory(void* data);
  size_t GeneralMemoryBlocks() const;

  // Where messages go: by default standard error, as "LABEL: error: text".
  // An error or fatal message also fails the render it was posted in.
  void SetMessageHandler(MessageHandler handler);
  void PostMessage(const Message& message);

 private:
  PropertySet properties_;
  CallLog log_;
  FaultPlan faults_;
  OfxHost record_;
  Registration properties_registration_;
  mutable std::mutex memory_mutex_;
  std::unordered_map<MemoryBlock*, std::unique_ptr<MemoryBlock>> memory_;
  std::unordered_map<void*, std::unique_ptr<unsigned char[]>> general_memory_;
  std::mutex message_mutex_;
  MessageHandler message_handler_;
};

}  // namespace lenstrove::host

#endif
