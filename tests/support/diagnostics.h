#pragma once
#include <gtest/gtest.h>

// A test that reads the diagnostic lines has nothing to read in a build that compiles them out
// (ZEL_DEBUG_OUTPUT=OFF); it says so instead of failing.
#ifdef ZEL_NO_DEBUG_OUTPUT
#define ZEL_SKIP_WITHOUT_DIAGNOSTICS() GTEST_SKIP() << "diagnostics are compiled out"
#else
#define ZEL_SKIP_WITHOUT_DIAGNOSTICS() (void)0
#endif
