#pragma once

// The actions the plug-in does real work for. The main entry routes the
// host's calls here; each handler answers with an OpenFX status.

#include "ofx/ofxImageEffect.h"

namespace lenstrove {

OfxStatus DescribePlugin(OfxImageEffectHandle descriptor);
OfxStatus DescribeInContext(OfxImageEffectHandle descriptor, OfxPropertySetHandle inArgs);
OfxStatus RenderFrame(OfxImageEffectHandle instance, OfxPropertySetHandle inArgs, OfxPropertySetHandle outArgs);

}  // namespace lenstrove
