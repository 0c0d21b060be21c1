// SPDX-License-Identifier: Apache-2.0
// Internal consistency checks that report and carry on. A failed check is counted, handed
// to the installed handler (by default a line on standard error naming the condition, file
// and line) and execution continues; it never throws and never aborts. Tests observe
// failures through ccAssertion::failureCount().
#ifndef PLATFORM_FOUNDATION_ASSERT_H
#define PLATFORM_FOUNDATION_ASSERT_H

#include "ccalib_export.h"

class CCALIB_EXPORT ccAssertion {
 public:
  using Handler = void (*)(const char* condition, const char* file, int line);

  // Records one failed check (called by cstd_assert_).
  static void fail(const char* condition, const char* file, int line);
  // Failed checks so far on the calling thread.
  static unsigned long failureCount();
  // Installs a handler for the whole process (null restores the default); returns the old one.
  static Handler setHandler(Handler handler);
};

// Checks `cond`; on failure reports it with this source line and continues.
#define cstd_assert_(cond) \
  ((cond) ? static_cast<void>(0) : ccAssertion::fail(#cond, __FILE__, __LINE__))

#endif  // PLATFORM_FOUNDATION_ASSERT_H
