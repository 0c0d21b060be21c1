// SPDX-License-Identifier: Apache-2.0
// Run-length encoded 8-bit images: compact storage for segmentations, masks and blob regions
// that are mostly constant, and the region operations the calibration stages need on them.
//
// Coordinates follow ccPelBuffer: the buffer covers a window of the image frame whose
// upper-left pixel sits at offset(); value(x, y) takes image-frame coordinates. Each row is
// stored as runs that partition it from left to right; adjacent runs never share a value.
#ifndef PLATFORM_FOUNDATION_RLE_BUFFER_H
#define PLATFORM_FOUNDATION_RLE_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/persistent.h"
#include "platform/foundation/rect.h"

class CCALIB_EXPORT ccRLEBuffer : public ccPersistent {
 public:
  // One run: `length` pixels of `value` starting `start` columns right of the window's left
  // edge.
  struct Run {
    std::int32_t start;
    std::int32_t length;
    unsigned char value;
  };

  // Structuring elements of gmorphMax, each centred on the pixel it writes.
  enum Shape {
    eShapeHorizontal3 = 0,  // 3 x 1: the pixel and its left and right neighbours
    eShapeVertical3 = 1,    // 1 x 3: the pixel and the ones above and below
    eShapeSquare3 = 2,      // 3 x 3 square
    eShapeCross3 = 3,       // the pixel and its four edge neighbours
  };

  // The degenerate buffer: no pixels, offset (0, 0).
  ccRLEBuffer() = default;
  // Encodes the window of `image`; throws ccPel::UnboundWindow for an unbound image.
  explicit ccRLEBuffer(const ccPelBuffer_const<unsigned char>& image);
  // A buffer over `window` with every pixel `value`. Throws ccPel::BadWindow for a negative size.
  ccRLEBuffer(const ccPelRect& window, unsigned char value);
  // From rows of runs: runs[rowStart[j] .. rowStart[j + 1]) describe row j and must partition
  // it (starts increasing from 0, positive lengths summing to the width). Adjacent runs of
  // equal value are merged. Throws ccBadArgument when the runs do not fit the window.
  ccRLEBuffer(const ccPelRect& window, const std::vector<Run>& runs,
              const std::vector<std::size_t>& rowStart);
  ~ccRLEBuffer() override;
  // Replaces the content as the constructor above would, reusing this buffer's storage.
  void assign(const ccPelRect& window, const std::vector<Run>& runs,
              const std::vector<std::size_t>& rowStart);
  // The same with row j given as the range [rows[j].first, rows[j].second), for runs that
  // are not stored in one array.
  using RowRange = std::pair<const Run*, const Run*>;
  void assign(const ccPelRect& window, const std::vector<RowRange>& rows);
  ccRLEBuffer(const ccRLEBuffer&) = default;
  ccRLEBuffer& operator=(const ccRLEBuffer&) = default;
  ccRLEBuffer(ccRLEBuffer&&) = default;
  ccRLEBuffer& operator=(ccRLEBuffer&&) = default;

  static ccPersistent* make();

  // Replaces the content with the window of `image` (same offset). Throws ccPel::UnboundWindow.
  void encode(const ccPelBuffer_const<unsigned char>& image);
  // The pixels as a new image over the same window of the image frame (identity client
  // transform). A degenerate buffer gives a bound 0 x 0 image.
  ccPelBuffer<unsigned char> image() const;

  long width() const { return width_; }
  long height() const { return height_; }
  ccPair<long> offset() const { return ccPair<long>(x_, y_); }
  // Renumbers the image frame so that the upper-left pixel is at `ul`; pixels are unchanged.
  void offset(const ccPair<long>& ul) {
    mutating();
    x_ = ul.x();
    y_ = ul.y();
  }
  ccPelRect window() const { return ccPelRect(x_, y_, width_, height_); }
  // True when the buffer has no pixels.
  bool degen() const { return width_ <= 0 || height_ <= 0; }

  // The value at image-frame pixel (x, y). Throws ccPel::BadWindow outside the window.
  unsigned char value(long x, long y) const;

  // A copy with every value v replaced by table[v]. The table may be shorter than 256 entries
  // as long as it has an entry for every value present; otherwise throws ccBadArgument.
  ccRLEBuffer map(const std::vector<unsigned char>& table) const;
  // The same in place. Throws ccBadArgument (leaving the buffer as it was) as map() does.
  void remap(const std::vector<unsigned char>& table);

  // In place: every pixel whose value in `m` equals maskValue (differs from it when `invert`)
  // becomes setValue. Only pixels inside both windows (aligned in the image frame) are
  // looked at. Throws ccBadArgument when a value is outside 0..255.
  void mask(const ccRLEBuffer& m, int maskValue, int setValue, bool invert);

  // Grey dilation: each pixel becomes the maximum over the structuring element `shape`
  // (see Shape) centred on it, over the same window; neighbours outside the window are left
  // out. Throws ccBadArgument for an unknown shape.
  ccRLEBuffer gmorphMax(int shape) const;

  // A copy over another window of the image frame: pixels inside both windows keep their
  // values, the others get `fill`. Throws ccPel::BadWindow for a negative size.
  ccRLEBuffer rewindow(const ccPelRect& window, unsigned char fill) const;

  // 256-bin histogram of the buffer's own values.
  std::vector<unsigned long> histogram() const;
  // 256-bin histogram of `image` over the pixels where this buffer is non-zero (aligned in
  // the image frame). Throws ccPel::UnboundWindow for an unbound image and ccPel::BadWindow
  // when a non-zero pixel lies outside the image's window.
  std::vector<unsigned long> histogramUnder(const ccPelBuffer_const<unsigned char>& image) const;
  // Number of pixels whose value is not zero.
  std::size_t countNonZero() const;

  // Read access to the runs of row j (0 = top row of the window).
  const Run* rowBegin(long j) const {
    return runs_.data() + rowStart_[static_cast<std::size_t>(j)];
  }
  const Run* rowEnd(long j) const {
    return runs_.data() + rowStart_[static_cast<std::size_t>(j) + 1];
  }
  std::size_t runCount() const { return runs_.size(); }

  // Same window, offset and pixels.
  bool operator==(const ccRLEBuffer& o) const;
  bool operator!=(const ccRLEBuffer& o) const { return !(*this == o); }

 protected:
  // Version byte 0; offset, height (as a count), width, then per row a run count and the
  // runs as (length, value). Loading rejects sizes above kMaxArchivedPixels, run counts
  // the stream cannot hold and runs that do not partition their row (ccArchive::BadData).
  void dispatchSerialize(ccArchive& ar) override;

 private:
  void appendRow(const unsigned char* pixels, long n);
  void makeDegenerate();

  long x_ = 0;
  long y_ = 0;
  long width_ = 0;
  long height_ = 0;
  std::vector<Run> runs_;
  std::vector<std::size_t> rowStart_ = {0};  // height_ + 1 entries
};

#endif  // PLATFORM_FOUNDATION_RLE_BUFFER_H
