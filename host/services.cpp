// The service suites a plug-in fetches besides the property, image-effect
// and parameter ones: memory, multithread, message, progress and timeline.
// Like the other suites, every member finds the host object behind its
// handle before touching it, logs the call and keeps exceptions out of the
// plug-in's C code.

#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>

#include "effect.h"
#include "host.h"
#include "ofx/ofxMemory.h"
#include "ofx/ofxMessage.h"
#include "ofx/ofxMultiThread.h"
#include "ofx/ofxProgress.h"
#include "ofx/ofxTimeLine.h"
#include "suites.h"
#include "thread_pool.h"

namespace lenstrove::host {

namespace {

// The host to log a call to: the owner of `handle` if it is a live effect,
// else the one calling into a plug-in on this thread (or the newest).
struct Caller {
  Effect* effect;
  Host* host;
};

Caller Find(const void* handle) {
  HandleRegistry& registry = HandleRegistry::Instance();
  Host* owner = handle ? registry.Owner(handle, HandleKind::kEffect) : nullptr;
  if (owner) return {static_cast<Effect*>(const_cast<void*>(handle)), owner};
  return {nullptr, registry.Fallback()};
}

// No host is only possible once every host is gone, when no plug-in
// should still be calling.
template <class Body>
OfxStatus Call(Host* host, const char* function, const std::string& args, Body&& body) {
  if (!host) return kOfxStatErrBadHandle;
  OfxStatus status = kOfxStatErrUnknown;
  if (!host->Faults().Rejects(function)) {
    try {
      status = body();
    } catch (const std::bad_alloc&) {
      status = kOfxStatErrMemory;
    } catch (...) {
      status = kOfxStatErrFatal;
    }
  }
  if (host->Log().Enabled()) host->Log().Add({function, args, status});
  return status;
}

std::string EffectArg(const Caller& caller, const void* handle) {
  if (caller.effect) return caller.effect->Label();
  return handle ? "<bad handle>" : "null";
}

std::string Quoted(const char* text) { return text ? "\"" + std::string(text) + "\"" : "null"; }

// ---- Memory ----------------------------------------------------------------

OfxStatus MemoryAlloc(void* handle, size_t size, void** data) {
  Caller caller = Find(handle);
  return Call(caller.host, "memoryAlloc", EffectArg(caller, handle) + ", " + std::to_string(size), [&] {
    if (!data || (handle && !caller.effect)) return kOfxStatErrBadHandle;
    return caller.host->AllocateGeneralMemory(size, data);
  });
}

OfxStatus MemoryFree(void* data) {
  Host* host = HandleRegistry::Instance().Fallback();
  return Call(host, "memoryFree", data ? "ptr" : "null", [&] {
    return host->FreeGeneralMemory(data) ? kOfxStatOK : kOfxStatErrBadHandle;
  });
}

constexpr OfxMemorySuiteV1 kMemorySuite = {MemoryAlloc, MemoryFree};

// ---- Multithread -------------------------------------------------------------

OfxStatus MultiThread(OfxThreadFunctionV1 function, unsigned count, void* argument) {
  Host* host = HandleRegistry::Instance().Fallback();
  return Call(host, "multiThread", std::to_string(count), [&] {
    if (!function) return kOfxStatErrBadHandle;
    // The standard forbids starting threads from a spawned one.
    if (ThreadPool::OnWorkerThread()) return kOfxStatErrExists;
    ThreadPool::Shared().Run(
        [&](unsigned index, unsigned total) {
          // Calls from the workers are reported to the host that asked.
          ActiveHostScope scope(*host);
          function(index, total, argument);
        },
        count);
    return kOfxStatOK;
  });
}

OfxStatus MultiThreadNumCPUs(unsigned* count) {
  return Call(HandleRegistry::Instance().Fallback(), "multiThreadNumCPUs", "", [&] {
    if (!count) return kOfxStatErrBadHandle;
    *count = ThreadPool::ProcessorCount();
    return kOfxStatOK;
  });
}

// Threads the host did not spawn count as index 0.
OfxStatus MultiThreadIndex(unsigned* index) {
  return Call(HandleRegistry::Instance().Fallback(), "multiThreadIndex", "", [&] {
    if (!index) return kOfxStatErrBadHandle;
    if (!ThreadPool::CurrentIndex(index)) *index = 0;
    return kOfxStatOK;
  });
}

int MultiThreadIsSpawnedThread() {
  int spawned = ThreadPool::OnWorkerThread() ? 1 : 0;
  Call(HandleRegistry::Instance().Fallback(), "multiThreadIsSpawnedThread", "", [&] { return kOfxStatOK; });
  return spawned;
}

// A recursive mutex that any thread may be asked about: unlocking one this
// thread does not hold is refused instead of being undefined.
class PluginMutex {
 public:
  explicit PluginMutex(int locks) : owner_(std::this_thread::get_id()), count_(locks > 0 ? locks : 0) {}

  void Lock() {
    std::unique_lock lock(mutex_);
    auto self = std::this_thread::get_id();
    free_.wait(lock, [&] { return count_ == 0 || owner_ == self; });
    owner_ = self;
    ++count_;
  }
  bool TryLock() {
    std::lock_guard lock(mutex_);
    if (count_ > 0 && owner_ != std::this_thread::get_id()) return false;
    owner_ = std::this_thread::get_id();
    ++count_;
    return true;
  }
  bool Unlock() {
    std::lock_guard lock(mutex_);
    if (count_ == 0 || owner_ != std::this_thread::get_id()) return false;
    if (--count_ == 0) free_.notify_one();
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable free_;
  std::thread::id owner_;
  int count_;
};

// Live mutexes, so a stale or made-up handle is refused.
class MutexRegistry {
 public:
  static MutexRegistry& Instance() {
    static MutexRegistry* registry = new MutexRegistry;
    return *registry;
  }
  OfxMutexHandle Create(int locks) {
    auto* created = new PluginMutex(locks);
    std::lock_guard lock(mutex_);
    live_.insert(created);
    return reinterpret_cast<OfxMutexHandle>(created);
  }
  PluginMutex* Find(OfxMutexHandle handle) {
    std::lock_guard lock(mutex_);
    auto found = live_.find(reinterpret_cast<PluginMutex*>(handle));
    return found == live_.end() ? nullptr : *found;
  }
  bool Destroy(OfxMutexHandle handle) {
    std::lock_guard lock(mutex_);
    if (!live_.erase(reinterpret_cast<PluginMutex*>(handle))) return false;
    delete reinterpret_cast<PluginMutex*>(handle);
    return true;
  }

 private:
  std::mutex mutex_;
  std::unordered_set<PluginMutex*> live_;
};

OfxStatus MutexCreate(OfxMutexHandle* mutex, int locks) {
  return Call(HandleRegistry::Instance().Fallback(), "mutexCreate", std::to_string(locks), [&] {
    if (!mutex) return kOfxStatErrBadHandle;
    *mutex = MutexRegistry::Instance().Create(locks);
    return kOfxStatOK;
  });
}

OfxStatus MutexDestroy(const OfxMutexHandle mutex) {
  return Call(HandleRegistry::Instance().Fallback(), "mutexDestroy", "", [&] {
    return MutexRegistry::Instance().Destroy(mutex) ? kOfxStatOK : kOfxStatErrBadHandle;
  });
}

template <class Action>
OfxStatus WithMutex(const char* function, OfxMutexHandle handle, Action&& action) {
  return Call(HandleRegistry::Instance().Fallback(), function, "", [&] {
    PluginMutex* mutex = MutexRegistry::Instance().Find(handle);
    return mutex ? action(*mutex) : kOfxStatErrBadHandle;
  });
}

OfxStatus MutexLock(const OfxMutexHandle handle) {
  return WithMutex("mutexLock", handle, [](PluginMutex& mutex) {
    mutex.Lock();
    return kOfxStatOK;
  });
}

OfxStatus MutexUnLock(const OfxMutexHandle handle) {
  return WithMutex("mutexUnLock", handle,
                   [](PluginMutex& mutex) { return mutex.Unlock() ? kOfxStatOK : kOfxStatErrValue; });
}

OfxStatus MutexTryLock(const OfxMutexHandle handle) {
  return WithMutex("mutexTryLock", handle,
                   [](PluginMutex& mutex) { return mutex.TryLock() ? kOfxStatOK : kOfxStatFailed; });
}

constexpr OfxMultiThreadSuiteV1 kMultiThreadSuite = {
    MultiThread, MultiThreadNumCPUs, MultiThreadIndex, MultiThreadIsSpawnedThread, MutexCreate,
    MutexDestroy, MutexLock,         MutexUnLock,      MutexTryLock,
};

// ---- Message -------------------------------------------------------------------

std::string Format(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size < 0) return format;
  std::string text(static_cast<size_t>(size) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(size));
  return text;
}

// Questions cannot be asked on a command line: they are answered no.
OfxStatus Post(const char* function, void* handle, const char* type, const char* id, const char* format,
               va_list args) {
  Caller caller = Find(handle);
  return Call(caller.host, function, EffectArg(caller, handle) + ", " + Quoted(type) + ", " + Quoted(id), [&] {
    if (!type || !format || (handle && !caller.effect)) return kOfxStatErrBadHandle;
    Message message{caller.effect, type, id ? id : "", Format(format, args)};
    caller.host->PostMessage(message);
    return std::string_view(type) == kOfxMessageQuestion ? kOfxStatReplyNo : kOfxStatOK;
  });
}

OfxStatus MessageV1(void* handle, const char* type, const char* id, const char* format, ...) {
  va_list args;
  va_start(args, format);
  OfxStatus status = Post("message", handle, type, id, format, args);
  va_end(args);
  return status;
}

OfxStatus SetPersistentMessage(void* handle, const char* type, const char* id, const char* format, ...) {
  va_list args;
  va_start(args, format);
  OfxStatus status = Post("setPersistentMessage", handle, type, id, format, args);
  va_end(args);
  return status;
}

// Nothing stays on screen on a command line, so there is nothing to clear.
OfxStatus ClearPersistentMessage(void* handle) {
  Caller caller = Find(handle);
  return Call(caller.host, "clearPersistentMessage", EffectArg(caller, handle),
              [&] { return caller.effect ? kOfxStatOK : kOfxStatErrBadHandle; });
}

constexpr OfxMessageSuiteV1 kMessageSuiteV1 = {MessageV1};
constexpr OfxMessageSuiteV2 kMessageSuiteV2 = {MessageV1, SetPersistentMessage, ClearPersistentMessage};

// ---- Progress ------------------------------------------------------------------

template <class Body>
OfxStatus OnInstance(const char* function, void* handle, const std::string& args, Body&& body) {
  Caller caller = Find(handle);
  std::string shown = EffectArg(caller, handle) + (args.empty() ? "" : ", " + args);
  return Call(caller.host, function, shown, [&] { return caller.effect ? body(*caller.effect) : kOfxStatErrBadHandle; });
}

OfxStatus ProgressStartV1(void* handle, const char* label) {
  return OnInstance("progressStart", handle, Quoted(label), [&](Effect& effect) {
    effect.ReportProgress(0);
    return kOfxStatOK;
  });
}

OfxStatus ProgressStartV2(void* handle, const char* message, const char* id) {
  return OnInstance("progressStart", handle, Quoted(message) + ", " + Quoted(id), [&](Effect& effect) {
    effect.ReportProgress(0);
    return kOfxStatOK;
  });
}

// Answers kOfxStatReplyNo once the render has been asked to stop.
OfxStatus ProgressUpdate(void* handle, double progress) {
  return OnInstance("progressUpdate", handle, std::to_string(progress), [&](Effect& effect) {
    effect.ReportProgress(progress);
    return effect.AbortRequested() ? kOfxStatReplyNo : kOfxStatOK;
  });
}

OfxStatus ProgressEnd(void* handle) {
  return OnInstance("progressEnd", handle, "", [&](Effect& effect) {
    effect.ReportProgress(1);
    return kOfxStatOK;
  });
}

constexpr OfxProgressSuiteV1 kProgressSuiteV1 = {ProgressStartV1, ProgressUpdate, ProgressEnd};
constexpr OfxProgressSuiteV2 kProgressSuiteV2 = {ProgressStartV2, ProgressUpdate, ProgressEnd};

// ---- Timeline ------------------------------------------------------------------

OfxStatus GetTime(void* handle, double* time) {
  return OnInstance("getTime", handle, "", [&](Effect& effect) {
    if (!time) return kOfxStatErrBadHandle;
    *time = effect.Params().Time();
    return kOfxStatOK;
  });
}

OfxStatus GotoTime(void* handle, double time) {
  return OnInstance("gotoTime", handle, std::to_string(time), [&](Effect& effect) {
    effect.SetTime(time);
    return kOfxStatOK;
  });
}

OfxStatus GetTimeBounds(void* handle, double* first, double* last) {
  return OnInstance("getTimeBounds", handle, "", [&](Effect& effect) {
    if (!first || !last) return kOfxStatErrBadHandle;
    *first = effect.TimeBounds().min;
    *last = effect.TimeBounds().max;
    return kOfxStatOK;
  });
}

constexpr OfxTimeLineSuiteV1 kTimeLineSuite = {GetTime, GotoTime, GetTimeBounds};

}  // namespace

const void* FindServiceSuite(std::string_view name, int version) {
  if (name == kOfxMemorySuite && version == 1) return &kMemorySuite;
  if (name == kOfxMultiThreadSuite && version == 1) return &kMultiThreadSuite;
  if (name == kOfxMessageSuite && version == 1) return &kMessageSuiteV1;
  if (name == kOfxMessageSuite && version == 2) return &kMessageSuiteV2;
  if (name == kOfxProgressSuite && version == 1) return &kProgressSuiteV1;
  if (name == kOfxProgressSuite && version == 2) return &kProgressSuiteV2;
  if (name == kOfxTimeLineSuite && version == 1) return &kTimeLineSuite;
  return nullptr;
}

}  // namespace lenstrove::host
