// SPDX-License-Identifier: Apache-2.0
// Grey-scale erosion and dilation by chains of 3 x 3 elements.
#include "platform/vision/morphology.h"

#include <algorithm>

#include "platform/foundation/attention.h"
#include "platform/foundation/exception.h"
#include "platform/foundation/pel_ops.h"

namespace {

// One pass of a single element: out(x, y) = reduce over the element of in(x+dx, y+dy). out
// covers in's window shrunk by one pixel on every side.
template <class Reduce>
ccPelBuffer<unsigned char> applyElement(const ccPelBuffer_const<unsigned char>& in,
                                        const ccGMorph3x3Element& e, Reduce reduce) {
  const ccPelRect w = in.window();
  ccPelBuffer<unsigned char> out(w.trim(1, 1, 1, 1));
  int dxs[9], dys[9], n = 0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      if (e.contains(dx, dy)) {
        dxs[n] = dx;
        dys[n] = dy;
        ++n;
      }
  const long ow = out.width();
  for (long j = 0; j < out.height(); ++j) {
    ccAttention::check();
    // Row j of out sits over row j + 1 of in; column i over column i + 1.
    const unsigned char* rows[3] = {in.row(j), in.row(j + 1), in.row(j + 2)};
    unsigned char* o = out.row(j);
    for (long i = 0; i < ow; ++i) {
      unsigned char v = rows[dys[0] + 1][i + 1 + dxs[0]];
      for (int k = 1; k < n; ++k) v = reduce(v, rows[dys[k] + 1][i + 1 + dxs[k]]);
      o[i] = v;
    }
  }
  return out;
}

template <class Reduce>
void applyChain(const std::vector<ccGMorph3x3Element>& elements,
                const ccPelBuffer_const<unsigned char>& src, ccPelBuffer<unsigned char>& dst,
                const char* name, Reduce reduce) {
  src.requireBound();
  const long n = static_cast<long>(elements.size());
  const ccPelRect shrunk = src.window().trim(n, n, n, n);
  if (shrunk.width() <= 0 || shrunk.height() <= 0) {
    throw ccPel::BadWindow(cfWiden(name) +
                           L": the source window is too small for the structuring element");
  }
  if (dst.isBound() && (dst.width() != shrunk.width() || dst.height() != shrunk.height())) {
    throw ccBadArgument(cfWiden(name) +
                        L": the destination must be the source window shrunk by the element");
  }
  ccPelBuffer<unsigned char> cur = applyElement(src, elements[0], reduce);
  for (std::size_t k = 1; k < elements.size(); ++k) cur = applyElement(cur, elements[k], reduce);
  if (!dst.isBound()) {
    cur.copyXforms(src);
    dst = cur;
  } else {
    cfPelCopy(cur, dst);
  }
}

}  // namespace

ccGMorph3x3Element::ccGMorph3x3Element(ccGMorphDefs::ElementType type) : type_(type) {
  if (type < ccGMorphDefs::eCross || type > ccGMorphDefs::eVerticalLine) {
    throw ccBadArgument(L"ccGMorph3x3Element: unknown element type");
  }
}

bool ccGMorph3x3Element::contains(int dx, int dy) const {
  if (dx < -1 || dx > 1 || dy < -1 || dy > 1) return false;
  switch (type_) {
    case ccGMorphDefs::eCross:
      return dx == 0 || dy == 0;
    case ccGMorphDefs::eHorizontalLine:
      return dy == 0;
    case ccGMorphDefs::eVerticalLine:
      return dx == 0;
    default:
      return true;
  }
}

ccGMorphElement::ccGMorphElement(const std::vector<ccGMorph3x3Element>& elements)
    : elements_(elements) {
  if (elements_.empty()) throw ccBadArgument(L"ccGMorphElement: the element list is empty");
}

ccGMorphElement::ccGMorphElement(const ccGMorph3x3Element& element) : elements_(1, element) {}

void ccGMorphElement::erode(const ccPelBuffer_const<unsigned char>& src,
                            ccPelBuffer<unsigned char>& dst) const {
  applyChain(elements_, src, dst, "ccGMorphElement::erode",
             [](unsigned char a, unsigned char b) { return std::min(a, b); });
}

void ccGMorphElement::dilate(const ccPelBuffer_const<unsigned char>& src,
                             ccPelBuffer<unsigned char>& dst) const {
  applyChain(elements_, src, dst, "ccGMorphElement::dilate",
             [](unsigned char a, unsigned char b) { return std::max(a, b); });
}
