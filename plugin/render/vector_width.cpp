// Which kernel sets the running processor can use, and the one renders use.
// The processor-feature check lives here and nowhere else.

#include "render/vector_width.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#endif

#include <cstdlib>

#include "render/row_kernels.h"

namespace lenstrove {
namespace {

#if defined(__x86_64__) || defined(__i386__)

// The widths this build has kernels for, narrowest first; a machine runs
// the first two and, depending on the processor, the next one or two.
constexpr VectorWidth kBuiltWidths[] = {VectorWidth::Scalar, VectorWidth::SSE2, VectorWidth::AVX2,
                                        VectorWidth::AVX512};

// Also called while the module is loaded, possibly before the C runtime's
// own start-up has filled in the processor model, so that is done first.
bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
bool HasAvx512() {
  return HasAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512dq");
}

size_t CountSupported() { return HasAvx512() ? 4 : HasAvx2() ? 3 : 2; }

#elif defined(__aarch64__)

constexpr VectorWidth kBuiltWidths[] = {VectorWidth::Scalar, VectorWidth::NEON};

size_t CountSupported() { return 2; }

#else
#error "no row kernels for this processor"
#endif

constexpr size_t kBuiltCount = sizeof kBuiltWidths / sizeof kBuiltWidths[0];

// ASCII only and without the C library's locale: the names are ASCII.
bool SameNameIgnoringCase(const char* a, const char* b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (lower(*a) != lower(*b)) return false;
  return *a == *b;
}

// Read once, as the module is loaded: a render never looks at the
// environment, which the host may change from another thread at any time.
const VectorWidth kChosenWidth = CapVectorWidth(SupportedVectorWidths(), std::getenv("LENSTROVE_MAX_ISA"));

}  // namespace

const char* VectorWidthName(VectorWidth width) {
  switch (width) {
    case VectorWidth::Scalar:
      return "scalar";
    case VectorWidth::SSE2:
      return "sse2";
    case VectorWidth::AVX2:
      return "avx2";
    case VectorWidth::AVX512:
      return "avx512";
    case VectorWidth::NEON:
      return "neon";
  }
  return "unknown";
}

VectorWidthList SupportedVectorWidths() {
  VectorWidthList list{};
  list.count = CountSupported();
  for (size_t i = 0; i < list.count; ++i) list.widths[i] = kBuiltWidths[i];
  return list;
}

VectorWidth CapVectorWidth(const VectorWidthList& available, const char* cap) {
  if (cap != nullptr)
    for (size_t i = 0; i < kBuiltCount; ++i)
      if (SameNameIgnoringCase(cap, VectorWidthName(kBuiltWidths[i])))
        return available[i < available.size() ? i : available.size() - 1];
  return available.back();
}

VectorWidth ChosenVectorWidth() { return kChosenWidth; }

namespace fast {

#if defined(__x86_64__) || defined(__i386__)

const KernelSet& KernelsFor(VectorWidth width) {
  switch (width) {
    case VectorWidth::AVX512:
      if (HasAvx512()) return Avx512Kernels();
      [[fallthrough]];
    case VectorWidth::AVX2:
      if (HasAvx2()) return Avx2Kernels();
      return Sse2Kernels();
    case VectorWidth::SSE2:
    case VectorWidth::NEON:
      return Sse2Kernels();
    case VectorWidth::Scalar:
      break;
  }
  return ScalarKernels();
}

// Streamed stores are weakly ordered; the fence makes them visible before
// the host gets the image back.
void FenceStreamedStores() { _mm_sfence(); }

#else

const KernelSet& KernelsFor(VectorWidth width) {
  return width == VectorWidth::Scalar ? ScalarKernels() : NeonKernels();
}

// The NEON kernels store through the cache; there is nothing to order.
void FenceStreamedStores() {}

#endif

}  // namespace fast
}  // namespace lenstrove
