#pragma once

#include "entry/host_suites.h"
#include "render/render_types.h"

namespace lenstrove {

// Reads the fifteen parameter values at the render time. A value the host
// cannot deliver keeps its fallback; so does a double that arrives as NaN or
// infinity, which no slider can produce and no stage can use.
RenderSettings ReadRenderSettings(const HostSuites& suites, OfxImageEffectHandle instance, OfxTime time);

// Brings doubles a careless host left unchecked back to values the stages
// can use: non-finite values become their fallbacks and the opacity is kept
// to its declared 0..1 (beyond it the bar factor can overflow a float).
void SanitizeRenderSettings(RenderSettings& settings);

}  // namespace lenstrove
