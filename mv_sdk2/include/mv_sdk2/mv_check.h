// Debug checks of the SDK: in builds with MV_SDK_DEBUG_CHECKS they stop the process with the
// condition's text; everywhere else they compile to nothing and execution goes on.
#pragma once

#ifndef MV_SDK_DEBUG_CHECKS
#define MV_SDK_DEBUG_CHECKS 0
#endif

#if MV_SDK_DEBUG_CHECKS
void mv_check_failed(const char* text, const char* file, int line);
#define MV_CHECK(cond, text) ((cond) ? (void)0 : mv_check_failed(text, __FILE__, __LINE__))
#else
#define MV_CHECK(cond, text) ((void)0)
#endif
