#ifndef OFX_PROGRESS_H
#define OFX_PROGRESS_H

/* The progress suite: a plug-in reports how far a long render has got. */

#include "ofxCore.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kOfxProgressSuite "OfxProgressSuite"

typedef struct OfxProgressSuiteV1 {
  OfxStatus (*progressStart)(void *effectInstance, const char *label);
  OfxStatus (*progressUpdate)(void *effectInstance, double progress);
  OfxStatus (*progressEnd)(void *effectInstance);
} OfxProgressSuiteV1;

typedef struct OfxProgressSuiteV2 {
  OfxStatus (*progressStart)(void *effectInstance, const char *message, const char *messageid);
  OfxStatus (*progressUpdate)(void *effectInstance, double progress);
  OfxStatus (*progressEnd)(void *effectInstance);
} OfxProgressSuiteV2;

#ifdef __cplusplus
}
#endif

#endif
