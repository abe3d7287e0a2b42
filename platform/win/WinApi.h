#pragma once
// <windows.h> without its rarely used parts and without the min and max
// macros, which break std::min and std::max. The C++ library of mingw-w64
// may have set NOMINMAX already.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
