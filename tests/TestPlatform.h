#pragma once

// Cases that cannot run on Windows (no FIFOs, umask, POSIX signals or
// fork there) stay in the suite and are reported as skipped with the reason.
// A body that uses POSIX-only calls sits in `#if !defined(_WIN32)` after it.

#include <gtest/gtest.h>

#if defined(_WIN32)
#define VELQORA_SKIP_ON_WINDOWS(reason) GTEST_SKIP() << "not on Windows: " << (reason)
#else
#define VELQORA_SKIP_ON_WINDOWS(reason) static_cast<void>(reason)
#endif
