// SPDX-License-Identifier: Apache-2.0
// Constant-time median filter (Perreault and Hebert, 2007): one 256-bin histogram per image
// column covering the window's rows, and a kernel histogram that slides along the row by
// adding one column histogram and removing another. Each histogram has two levels, 16
// coarse bins of 16 grey levels over 256 fine bins; the kernel keeps its coarse level
// current at every step and brings a fine segment up to date only when the median search
// enters it. The cost per pixel does not grow with the window size.
#include "platform/vision/median.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/foundation/attention.h"
#include "platform/foundation/exception.h"
#include "platform/foundation/pel_ops.h"

namespace {

constexpr int kBins = 256;
constexpr int kCoarse = 16;  // coarse bins, each covering kSeg fine bins
constexpr int kSeg = 16;

using Count = std::uint16_t;     // a kernel holds at most 181 * 181 = 32761 pixels
using ColCount = std::uint16_t;  // a column holds at most 181 pixels; 16 bits vectorise best

class MedianFilter {
 public:
  MedianFilter(const ccPelBuffer_const<unsigned char>& image,
               const ccPelBuffer_const<unsigned char>* mask, const ccPelMedianParams& params)
      : image_(image),
        mask_(mask),
        w_(image.width()),
        h_(image.height()),
        rx_(params.size().x() / 2),
        ry_(params.size().y() / 2),
        padLeft_(2 * rx_ + 1),
        keepInput_(params.keepInputWhenEmpty()) {
    for (int v = 0; v < kBins; ++v)
      valid_[v] = v >= params.valueRange().x() && v <= params.valueRange().y();
    const std::size_t columns = static_cast<std::size_t>(padLeft_ + w_ + rx_);
    fine_.assign(columns * kBins, 0);
    coarse_.assign(columns * kCoarse, 0);
    count_.assign(columns, 0);
  }

  // Writes the filtered window into out, which has the image's size.
  void run(ccPelBuffer<unsigned char>& out) {
    for (long y = 0; y <= std::min(ry_ - 1, h_ - 1); ++y) updateRow(y, +1);
    for (long y = 0; y < h_; ++y) {
      ccAttention::check();
      if (y - ry_ - 1 >= 0) updateRow(y - ry_ - 1, -1);
      if (y + ry_ < h_) updateRow(y + ry_, +1);
      filterRow(y, out.row(y));
    }
  }

 private:
  // Adds (sign +1) or removes (-1) image row y from the column histograms.
  void updateRow(long y, int sign) {
    const unsigned char* s = image_.row(y);
    const unsigned char* m = mask_ ? mask_->row(y) : nullptr;
    const ColCount d = static_cast<ColCount>(sign);  // -1 wraps to 0xFFFF: modular add
    for (long x = 0; x < w_; ++x) {
      const unsigned char v = s[x];
      if (!valid_[v] || (m && !m[x])) continue;
      const std::size_t c = static_cast<std::size_t>(x + padLeft_);
      fine_[c * kBins + v] += d;
      coarse_[c * kCoarse + (v >> 4)] += d;
      count_[c] += d;
    }
  }

  const ColCount* fineSeg(long x, int seg) const {
    return &fine_[static_cast<std::size_t>(x + padLeft_) * kBins + seg * kSeg];
  }
  const ColCount* coarseOf(long x) const {
    return &coarse_[static_cast<std::size_t>(x + padLeft_) * kCoarse];
  }

  // Brings fine segment seg of the kernel to the window centred on column x.
  void refreshSegment(int seg, long x) {
    Count* k = &kernelFine_[seg * kSeg];
    const long last = lastUpdate_[seg];
    if (x - last > 2 * rx_ + 1) {
      std::fill(k, k + kSeg, Count(0));
      for (long c = x - rx_; c <= x + rx_; ++c) {
        const ColCount* f = fineSeg(c, seg);
        for (int i = 0; i < kSeg; ++i) k[i] = static_cast<Count>(k[i] + f[i]);
      }
    } else {
      for (long p = last + 1; p <= x; ++p) {
        const ColCount* add = fineSeg(p + rx_, seg);
        const ColCount* sub = fineSeg(p - rx_ - 1, seg);
        for (int i = 0; i < kSeg; ++i) k[i] = static_cast<Count>(k[i] + add[i] - sub[i]);
      }
    }
    lastUpdate_[seg] = x;
  }

  void filterRow(long y, unsigned char* out) {
    // The kernel starts centred on column -rx - 1, where it covers padding columns only.
    std::fill(kernelFine_, kernelFine_ + kBins, Count(0));
    std::fill(kernelCoarse_, kernelCoarse_ + kCoarse, Count(0));
    std::fill(lastUpdate_, lastUpdate_ + kCoarse, -rx_ - 1);
    long n = 0;
    for (long x = -rx_; x < 0; ++x) slide(x, n);
    const unsigned char* in = image_.row(y);
    for (long x = 0; x < w_; ++x) {
      slide(x, n);
      if (n == 0) {
        out[x] = keepInput_ ? in[x] : 0;
        continue;
      }
      const long rank = (n - 1) / 2;
      int below = 0;
      const int seg = countAtOrBelow(kernelCoarse_, static_cast<int>(rank), below);
      refreshSegment(seg, x);
      int belowInSegment = 0;
      const int i =
          countAtOrBelow(&kernelFine_[seg * kSeg], static_cast<int>(rank) - below, belowInSegment);
      out[x] = static_cast<unsigned char>(seg * kSeg + i);
    }
  }

  // The number of leading bins among 16 whose running sum stays at or below rank, i.e. the
  // index of the bin holding rank; below gets the sum of the bins before it. Branch-free,
  // as the median's bin is too erratic to predict on noisy images.
  static int countAtOrBelow(const Count* bins, int rank, int& below) {
    int prefix[16];
    int acc = 0;
    for (int i = 0; i < 16; ++i) prefix[i] = acc += bins[i];
    int index = 0;
    for (int i = 0; i < 16; ++i) index += prefix[i] <= rank;
    below = index > 0 ? prefix[index - 1] : 0;
    return index;
  }

  // Moves the kernel's coarse level and pixel count to the window centred on column x.
  void slide(long x, long& n) {
    const ColCount* add = coarseOf(x + rx_);
    const ColCount* sub = coarseOf(x - rx_ - 1);
    for (int i = 0; i < kCoarse; ++i)
      kernelCoarse_[i] = static_cast<Count>(kernelCoarse_[i] + add[i] - sub[i]);
    n += static_cast<long>(count_[static_cast<std::size_t>(x + rx_ + padLeft_)]) -
         static_cast<long>(count_[static_cast<std::size_t>(x - rx_ - 1 + padLeft_)]);
  }

  const ccPelBuffer_const<unsigned char>& image_;
  const ccPelBuffer_const<unsigned char>* mask_;
  const long w_, h_, rx_, ry_;
  // Column histograms are stored for columns -padLeft_ .. w_ + rx_ - 1; those outside the
  // image stay empty, so the kernel needs no clipping at the row ends.
  const long padLeft_;
  const bool keepInput_;
  bool valid_[kBins];
  std::vector<ColCount> fine_, coarse_, count_;
  Count kernelFine_[kBins];
  Count kernelCoarse_[kCoarse];
  long lastUpdate_[kCoarse];
};

void medianOver(const ccPelBuffer_const<unsigned char>& image,
                const ccPelBuffer_const<unsigned char>* mask, const ccPelRect& window,
                const ccPelMedianParams& params, ccPelBuffer<unsigned char>& out) {
  if (out.isBound() && (out.width() != window.width() || out.height() != window.height())) {
    throw ccBadArgument(L"cfPelMedian: the output image differs in size from the filtered window");
  }
  ccPelBuffer_const<unsigned char> src = image;
  src.window(window);
  ccPelBuffer_const<unsigned char> msk;
  if (mask) {
    msk = *mask;
    msk.window(window);
  }
  // Computed into new pixels, so that out may share pixels with the input.
  ccPelBuffer<unsigned char> result(window);
  result.copyXforms(image);
  MedianFilter(src, mask ? &msk : nullptr, params).run(result);
  if (out.isBound()) {
    cfPelCopy(result, out);
  } else {
    out = result;
  }
}

void requireImage(const ccPelBuffer_const<unsigned char>& image) {
  image.requireBound();
  if (image.window().isNull()) throw ccPel::BadWindow(L"cfPelMedian: the image window is empty");
}

}  // namespace

ccPelMedianParams::ccPelMedianParams(const ccPair<long>& size, const ccPair<long>& valueRange,
                                     bool keepInputWhenEmpty)
    : size_(size), range_(valueRange), keepInput_(keepInputWhenEmpty) {
  auto okSize = [](long s) { return s >= 1 && s <= kMaxSize && (s & 1) == 1; };
  if (!okSize(size.x()) || !okSize(size.y())) {
    throw ccBadArgument(L"ccPelMedianParams: window sizes must be odd and between 1 and 181");
  }
  if (valueRange.x() < 0 || valueRange.y() > 255 || valueRange.x() > valueRange.y()) {
    throw ccBadArgument(L"ccPelMedianParams: the value range must satisfy 0 <= low <= high <= 255");
  }
}

void cfPelMedian(const ccPelBuffer_const<unsigned char>& image, const ccPelMedianParams& params,
                 ccPelBuffer<unsigned char>& out) {
  requireImage(image);
  medianOver(image, nullptr, image.window(), params, out);
}

void cfPelMedian(const ccPelBuffer_const<unsigned char>& image,
                 const ccPelBuffer_const<unsigned char>& mask, const ccPelMedianParams& params,
                 ccPelBuffer<unsigned char>& out) {
  requireImage(image);
  if (!mask.isBound()) {
    medianOver(image, nullptr, image.window(), params, out);
    return;
  }
  const ccPelRect overlap = image.window() & mask.window();
  if (overlap.isNull()) throw ccBadArgument(L"cfPelMedian: the mask does not overlap the image");
  medianOver(image, &mask, overlap, params, out);
}
