// SPDX-License-Identifier: Apache-2.0
// What the fuzz targets share: a failed invariant aborts (libFuzzer then keeps the input),
// and so does any internal check of the library, except two kinds: the preconditions of the
// parameter setters, which a target breaks on purpose to reach the run's own refusals, and
// the dot-grid run's check before it removes the grid angle. That one is reported and passed
// by design: a strongly sheared fit (three or four dots of a tiny image) can have a rotation
// beyond 45 degrees although each grid axis lies within the correspondence's cones, and the
// run removes the angle all the same.
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

inline bool cfFuzzFileIs(const char* file, const char* name) {
  const std::size_t n = std::strlen(file), m = std::strlen(name);
  return n >= m && std::strcmp(file + n - m, name) == 0;
}

inline void cfFuzzAssertionHandler(const char* condition, const char* file, int line) {
  if (cfFuzzFileIs(file, "grid_calib_params.cc")) return;
  if (cfFuzzFileIs(file, "calibration_run.cc") && std::strstr(condition, "kMaxGridAngle")) return;
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
