// SPDX-License-Identifier: Apache-2.0
// Clamped pixel arithmetic over the common part of two image windows.
#include "platform/vision/pel_arith.h"

#include <algorithm>
#include <cstdint>

#include "platform/foundation/exception.h"

namespace {

// Applies op(a, b) -> new a over the overlap of the two windows in the image frame.
template <class Op>
void combineOverlap(ccPelBuffer<unsigned char>& a, const ccPelBuffer_const<unsigned char>& b,
                    const char* name, Op op) {
  a.requireBound();
  b.requireBound();
  const ccPelRect r = a.window() & b.window();
  if (r.isNull()) {
    throw ccBadArgument(cfWiden(name) + L": the two image windows do not overlap");
  }
  for (long y = r.y(); y < r.y() + r.height(); ++y) {
    unsigned char* pa = &a.at(r.x(), y);
    const unsigned char* pb = &b.at(r.x(), y);
    for (long i = 0; i < r.width(); ++i) pa[i] = op(pa[i], pb[i]);
  }
}

// Two's complement byte of a value in -128 .. 127, and back.
unsigned char toSigned(int v) {
  return static_cast<unsigned char>(v & 0xFF);
}
int fromSigned(unsigned char v) {
  return static_cast<int>(static_cast<std::int8_t>(v));
}

}  // namespace

void cf_PelSubClamp(ccPelBuffer<unsigned char>& a, const ccPelBuffer_const<unsigned char>& b,
                    int limit) {
  if (limit < 0 || limit > kPelSubClampMaxLimit)
    throw ccBadArgument(L"cf_PelSubClamp: the limit must lie in [0, 127]");
  combineOverlap(a, b, "cf_PelSubClamp", [limit](unsigned char x, unsigned char y) {
    return toSigned(std::clamp(int(x) - int(y), -limit, limit));
  });
}

void cf_PelAddClamp(ccPelBuffer<unsigned char>& a, const ccPelBuffer_const<unsigned char>& b) {
  combineOverlap(a, b, "cf_PelAddClamp", [](unsigned char x, unsigned char y) {
    return static_cast<unsigned char>(std::clamp(fromSigned(x) + int(y), 0, 255));
  });
}
