#ifndef LENSTROVE_HOST_WINDOWS_HEADERS_H
#define LENSTROVE_HOST_WINDOWS_HEADERS_H

// windows.h as the host library includes it, on Windows only: without its
// min and max macros (MinGW's C++ headers may already ask for that) and
// without the rarely used interfaces.

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#endif
