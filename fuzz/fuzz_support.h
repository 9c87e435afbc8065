#pragma once

// Pieces the fuzz targets share: a reader that turns the fuzzer's bytes into
// typed choices, pixel memory fenced by inaccessible pages, and the module
// opened once per process through the project's host.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "host.h"
#include "plugin.h"

namespace lenstrove::fuzz {

// Hands out the input's bytes as values. Once the bytes run out every read
// answers zero, so short inputs still describe a complete (dull) case.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  void Bytes(void* out, size_t count) {
    const size_t take = count < Remaining() ? count : Remaining();
    if (take > 0) std::memcpy(out, data_ + offset_, take);
    if (count > take) std::memset(static_cast<unsigned char*>(out) + take, 0, count - take);
    offset_ += take;
  }
  uint8_t U8() {
    uint8_t v;
    Bytes(&v, sizeof v);
    return v;
  }
  bool Bool() { return (U8() & 1) != 0; }
  uint32_t U32() {
    uint32_t v;
    Bytes(&v, sizeof v);
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  // Every bit pattern, so NaNs with payloads, infinities and denormals too.
  double Double() {
    double v;
    Bytes(&v, sizeof v);
    return v;
  }
  // A number below `bound` (which must be positive): one byte decides
  // small choices, so that a mutation flips one choice at a time.
  uint32_t Below(uint32_t bound) { return bound <= 256 ? U8() % bound : U32() % bound; }
  // A length-prefixed run of bytes, possibly holding zeros.
  std::string String(size_t maxLength = 64) {
    std::string text(U8() % (maxLength + 1), '\0');
    Bytes(text.data(), text.size());
    return text;
  }
  size_t Remaining() const { return size_ - offset_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

// `size` usable bytes with an inaccessible page on each side, so a read or a
// write one byte outside faults at once. The bytes sit against the upper
// guard (catching overruns exactly) or against the lower one (catching
// underruns exactly), as the caller chooses.
class GuardedBuffer {
 public:
  GuardedBuffer(size_t size, bool againstUpperGuard) : size_(size) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t inner = (size + page - 1) / page * page;
    mappingSize_ = inner + 2 * page;
    void* mapping = ::mmap(nullptr, mappingSize_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) std::abort();
    mapping_ = static_cast<unsigned char*>(mapping);
    if (inner > 0 && ::mprotect(mapping_ + page, inner, PROT_READ | PROT_WRITE) != 0) std::abort();
    bytes_ = againstUpperGuard ? mapping_ + page + inner - size : mapping_ + page;
  }
  ~GuardedBuffer() { ::munmap(mapping_, mappingSize_); }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  unsigned char* Bytes() const { return bytes_; }
  size_t Size() const { return size_; }

 private:
  size_t size_;
  size_t mappingSize_ = 0;
  unsigned char* mapping_ = nullptr;
  unsigned char* bytes_ = nullptr;
};

// The module under test: LENSTROVE_FUZZ_MODULE in the environment, else the
// one this build made.
inline std::string ModulePath() {
  if (const char* path = std::getenv("LENSTROVE_FUZZ_MODULE")) return path;
  return LENSTROVE_FUZZ_MODULE_PATH;
}

// One host with the plug-in started, kept for the whole process: loading
// the module again for every input would be slow, and libFuzzer must see
// the module's coverage counters before the first input runs. It is never
// destroyed, so no plug-in code runs during the process's exit.
struct Session {
  host::Host host;
  std::unique_ptr<host::Plugin> plugin;

  static Session& Get() {
    static Session* session = [] {
      auto* s = new Session;
      s->host.Log().SetEnabled(false);
      s->plugin = s->host.Open(ModulePath());
      return s;
    }();
    return *session;
  }

  // Back to a host that behaves, with the plug-in holding the real suites.
  void RestoreHost() {
    host.Faults() = host::FaultPlan{};
    plugin->SetHost();
  }
};

}  // namespace lenstrove::fuzz
