#pragma once

// The register widths the fast pixel loop computes with, which of them the
// running processor has, and the one a render uses.

#include <cstddef>

namespace lenstrove {

// SSE2 is part of every x86-64 processor; AVX2 and AVX-512 are used only
// where the running processor reports them. NEON is part of every 64-bit
// ARM processor.
enum class VectorWidth {
  Scalar,  // one pixel at a time, through the stage functions
  SSE2,    // four channels of one kind at a time
  AVX2,    // eight
  AVX512,  // sixteen
  NEON,    // four
};

// The name LENSTROVE_MAX_ISA takes for the width: "scalar", "sse2", "avx2",
// "avx512" or "neon".
const char* VectorWidthName(VectorWidth width);

// The widths this machine can run, narrowest first. A fixed list rather than
// a container: nothing in the module may allocate or throw outside a render.
struct VectorWidthList {
  VectorWidth widths[4];
  size_t count = 0;
  const VectorWidth* begin() const { return widths; }
  const VectorWidth* end() const { return widths + count; }
  size_t size() const { return count; }
  VectorWidth operator[](size_t i) const { return widths[i]; }
  VectorWidth back() const { return widths[count - 1]; }
};
VectorWidthList SupportedVectorWidths();

// The widest width in `available` that is no wider than the one `cap` names
// (in any letter case). A cap wider than the machine's widest changes
// nothing; a name this processor family has no kernels for, an empty one or
// none at all is ignored, so the widest is used.
VectorWidth CapVectorWidth(const VectorWidthList& available, const char* cap);

// The width RunPixelLoop uses: the widest this machine has, capped by the
// LENSTROVE_MAX_ISA environment variable as it stood when the module was
// loaded.
VectorWidth ChosenVectorWidth();

}  // namespace lenstrove
