// Saturating pixel arithmetic over the common part of two image windows.
#include "platform/vision/pel_arith.h"

#include <algorithm>

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

}  // namespace

void cf_PelAddClamp(ccPelBuffer<unsigned char>& a, const ccPelBuffer_const<unsigned char>& b) {
  combineOverlap(a, b, "cf_PelAddClamp", [](unsigned char x, unsigned char y) {
    return static_cast<unsigned char>(std::min(255, int(x) + int(y)));
  });
}

void cf_PelSubClamp(ccPelBuffer<unsigned char>& a, const ccPelBuffer_const<unsigned char>& b,
                    int offset) {
  // Offsets beyond +-510 saturate every result anyway; limiting them keeps the sum in int.
  const int off = std::max(-510, std::min(510, offset));
  combineOverlap(a, b, "cf_PelSubClamp", [off](unsigned char x, unsigned char y) {
    return static_cast<unsigned char>(std::max(0, std::min(255, int(x) - int(y) + off)));
  });
}
