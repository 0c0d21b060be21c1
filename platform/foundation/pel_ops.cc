// SPDX-License-Identifier: Apache-2.0
// Pixel operations on 8-bit images.
#include "platform/foundation/pel_ops.h"

#include <cstdint>
#include <cstdlib>

void cfPelMap(const ccPelBuffer_const<unsigned char>& src, const std::vector<unsigned char>& table,
              ccPelBuffer<unsigned char>& dst) {
  src.requireBound();
  if (table.size() < 256) {
    // Values without a table entry would read past its end; refuse rather than guess.
    throw ccBadArgument(L"cfPelMap: the table needs 256 entries");
  }
  if (!dst.isBound()) {
    dst = ccPelBuffer<unsigned char>(src.window());
    dst.copyXforms(src);
  } else if (dst.width() != src.width() || dst.height() != src.height()) {
    throw ccBadArgument(L"cfPelMap: the destination differs in size from the source");
  }
  const unsigned char* t = table.data();
  for (long j = 0; j < src.height(); ++j) {
    const unsigned char* s = src.row(j);
    unsigned char* d = dst.row(j);
    for (long i = 0; i < src.width(); ++i) d[i] = t[s[i]];
  }
}

ccPelBuffer<unsigned char> cfPelSub(const ccPelBuffer_const<unsigned char>& a,
                                    const ccPelBuffer_const<unsigned char>& b, int mode) {
  a.requireBound();
  b.requireBound();
  ccPelRect r = a.window() & b.window();
  if (r.isNull()) throw ccBadArgument(L"cfPelSub: the two image windows do not overlap");
  if (mode < ePelSubWrap || mode > ePelSubClampZero) throw ccBadArgument(L"cfPelSub: unknown mode");
  ccPelBuffer<unsigned char> out(r);
  out.copyXforms(a);
  for (long y = r.y(); y < r.y() + r.height(); ++y) {
    const unsigned char* pa = &a.at(r.x(), y);
    const unsigned char* pb = &b.at(r.x(), y);
    unsigned char* po = &out.at(r.x(), y);
    for (long i = 0; i < r.width(); ++i) {
      int d = static_cast<int>(pa[i]) - static_cast<int>(pb[i]);
      switch (mode) {
        case ePelSubWrap:
          po[i] = static_cast<unsigned char>(d & 0xFF);
          break;
        case ePelSubAbsolute:
          po[i] = static_cast<unsigned char>(std::abs(d));
          break;
        case ePelSubOffset:
          po[i] = static_cast<unsigned char>(std::min(255, std::max(0, d + 128)));
          break;
        default:
          po[i] = static_cast<unsigned char>(d > 0 ? d : 0);
          break;
      }
    }
  }
  return out;
}

void cfPelMax(const ccPelBuffer_const<unsigned char>& a, const ccPelBuffer_const<unsigned char>& b,
              ccPelBuffer<unsigned char>& dst) {
  a.requireBound();
  b.requireBound();
  dst.requireBound();
  ccPelRect r = a.window() & b.window() & dst.window();
  if (r.isNull()) return;
  for (long y = r.y(); y < r.y() + r.height(); ++y) {
    const unsigned char* pa = &a.at(r.x(), y);
    const unsigned char* pb = &b.at(r.x(), y);
    unsigned char* pd = &dst.at(r.x(), y);
    for (long i = 0; i < r.width(); ++i) pd[i] = std::max(pa[i], pb[i]);
  }
}

void cfPelHistogram(const ccPelBuffer_const<unsigned char>& image,
                    std::vector<unsigned long>& histogram) {
  image.requireBound();
  // Four interleaved count tables: images dominated by one value (edge maps are mostly 0)
  // would otherwise serialise on one counter's load-add-store chain.
  std::vector<std::uint32_t> banks(4 * 256, 0);
  std::uint32_t* b0 = banks.data();
  std::uint32_t* b1 = b0 + 256;
  std::uint32_t* b2 = b1 + 256;
  std::uint32_t* b3 = b2 + 256;
  const long w = image.width();
  histogram.assign(256, 0);
  for (long j = 0; j < image.height(); ++j) {
    const unsigned char* s = image.row(j);
    long i = 0;
    for (; i + 4 <= w; i += 4) {
      ++b0[s[i]];
      ++b1[s[i + 1]];
      ++b2[s[i + 2]];
      ++b3[s[i + 3]];
    }
    for (; i < w; ++i) ++b0[s[i]];
    // Fold the banks before any 32-bit count can overflow (at most 2^32 / 4 per row set).
    if ((j & 1023) == 1023 || j + 1 == image.height()) {
      for (int v = 0; v < 256; ++v) {
        histogram[v] += static_cast<unsigned long>(b0[v]) + b1[v] + b2[v] + b3[v];
        b0[v] = b1[v] = b2[v] = b3[v] = 0;
      }
    }
  }
}

std::vector<unsigned long> cfPelHistogram(const ccPelBuffer_const<unsigned char>& image) {
  std::vector<unsigned long> h;
  cfPelHistogram(image, h);
  return h;
}
