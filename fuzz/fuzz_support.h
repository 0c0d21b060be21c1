// SPDX-License-Identifier: Apache-2.0
// What the fuzz targets share: a failed invariant aborts (libFuzzer then keeps the input),
// and so does any internal check of the library, except the preconditions of the
// parameter setters, which a target breaks on purpose to reach the run's own refusals.
#ifndef FUZZ_FUZZ_SUPPORT_H
#define FUZZ_FUZZ_SUPPORT_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/foundation/archive.h"
#include "platform/foundation/assert.h"

#define FUZZ_CHECK(cond)                                                                      \
  do {                                                                                        \
    if (!(cond)) {                                                                            \
      std::fprintf(stderr, "fuzz invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                           \
    }                                                                                         \
  } while (0)

inline void cfFuzzAssertionHandler(const char* condition, const char* file, int line) {
  const char* setters = "grid_calib_params.cc";
  const std::size_t n = std::strlen(file), m = std::strlen(setters);
  if (n >= m && std::strcmp(file + n - m, setters) == 0) return;
  std::fprintf(stderr, "internal check failed: %s (%s:%d)\n", condition, file, line);
  std::abort();
}

inline void cfFuzzInstallAssertionHandler() {
  ccAssertion::setHandler(&cfFuzzAssertionHandler);
}

// The bytes of one object exchanged in place.
inline std::vector<unsigned char> cfFuzzStore(ccPersistent& object) {
  std::vector<unsigned char> bytes;
  ccArchive out(bytes, ccArchive::eStoring);
  out || object;
  return bytes;
}

#endif  // FUZZ_FUZZ_SUPPORT_H
