// SPDX-License-Identifier: Apache-2.0
// Images. A pel buffer is a window onto shared pixel storage: copies share pixels (use
// cfPelCopy for a deep copy), sub-windows share pixels with their parent, and each buffer
// object carries its own client-from-image transform.
//
// Coordinates: pixel (x, y) of the image frame has its centre at (x, y) and covers
// [x - 0.5, x + 0.5) x [y - 0.5, y + 0.5). The window's upper-left pixel sits at offset()
// in the image frame; `at(x, y)` takes image-frame coordinates, `row(j)` a row index
// counted from the top of the window.
#ifndef PLATFORM_FOUNDATION_PEL_BUFFER_H
#define PLATFORM_FOUNDATION_PEL_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/exception.h"
#include "platform/foundation/rect.h"
#include "platform/foundation/xform_base.h"

template <class T>
class ccPelBuffer;

template <class T>
class ccPelBuffer_const {
 public:
  // An unbound buffer: no pixels, zero size.
  ccPelBuffer_const() = default;

  bool isBound() const { return static_cast<bool>(storage_); }
  long width() const { return width_; }
  long height() const { return height_; }
  // Image-frame position of the window's upper-left pixel.
  ccPair<long> offset() const { return ccPair<long>(winX_, winY_); }
  // Renumbers the image frame so the window's upper-left pixel gets the given position.
  // The pixels, the window and the transforms stay as they are.
  void offset(const ccPair<long>& ul) {
    rootX_ += ul.x() - winX_;
    rootY_ += ul.y() - winY_;
    winX_ = ul.x();
    winY_ = ul.y();
  }
  void offset(long x, long y) { offset(ccPair<long>(x, y)); }
  // The window in the image frame.
  ccPelRect window() const { return ccPelRect(winX_, winY_, width_, height_); }
  // Restricts (or moves) the window to `r`, given in the image frame; r must lie inside the
  // allocated pixels. Throws ccPel::UnboundWindow or ccPel::BadWindow.
  void window(const ccPelRect& r) {
    requireBound();
    if (r.width() < 0 || r.height() < 0 || r.x() < rootX_ || r.y() < rootY_ ||
        r.x() + r.width() > rootX_ + rootWidth_ || r.y() + r.height() > rootY_ + rootHeight_) {
      throw ccPel::BadWindow(L"The requested window lies outside the image");
    }
    winX_ = r.x();
    winY_ = r.y();
    width_ = r.width();
    height_ = r.height();
  }
  // The whole allocated area in the image frame.
  ccPelRect rootWindow() const { return ccPelRect(rootX_, rootY_, rootWidth_, rootHeight_); }

  // Elements between the starts of successive rows.
  std::ptrdiff_t rowUpdate() const { return stride_; }
  // Row j of the window (0 = top), or null when unbound.
  const T* row(long j) const { return storage_ ? base() + j * stride_ : nullptr; }
  // The pixel at image-frame position (x, y); the position must lie in the window.
  const T& at(long x, long y) const { return base()[(y - winY_) * stride_ + (x - winX_)]; }

  // Client-from-image transform; the identity unless set.
  cc2XformBasePtrh clientFromImageXformBase() const {
    return xform_ ? xform_ : std::make_shared<cc2XformLinear>();
  }
  // The linear client-from-image transform. Throws ccBadArgument when it is not linear.
  ccXform<2> clientFromImageXform() const {
    if (!xform_) return ccXform<2>();
    if (!xform_->isLinear()) throw ccBadArgument(L"The image's client transform is not linear");
    return xform_->linearAt(ccVector<2>());
  }
  ccXform<2> imageFromClientXform() const {
    ccXform<2> x = clientFromImageXform();
    if (x.isSingular()) throw ccMathError(L"The image's client transform is singular");
    return x.inverse();
  }
  void clientFromImageXform(const ccXform<2>& x) { xform_ = std::make_shared<cc2XformLinear>(x); }
  void clientFromImageXformBase(const cc2XformBasePtrh& x) { xform_ = x; }
  // Takes the other buffer's client transform (shares it).
  template <class U>
  void copyXforms(const ccPelBuffer_const<U>& other) {
    xform_ = other.xform_;
  }

  void requireBound() const {
    if (!storage_) throw ccPel::UnboundWindow();
  }

 protected:
  template <class U>
  friend class ccPelBuffer_const;

  T* base() const { return storage_.get() + (winY_ - rootY_) * stride_ + (winX_ - rootX_); }

  void allocate(const ccPelRect& r, int rowAlignmentBytes) {
    if (r.width() < 0 || r.height() < 0)
      throw ccPel::BadWindow(L"An image size cannot be negative");
    std::ptrdiff_t stride = r.width();
    if (rowAlignmentBytes > static_cast<int>(sizeof(T))) {
      std::ptrdiff_t perRow = rowAlignmentBytes / static_cast<std::ptrdiff_t>(sizeof(T));
      stride = (stride + perRow - 1) / perRow * perRow;
    }
    std::size_t n = static_cast<std::size_t>(stride) * static_cast<std::size_t>(r.height());
    storage_ = std::shared_ptr<T>(new T[n > 0 ? n : 1](), std::default_delete<T[]>());
    stride_ = stride;
    rootX_ = winX_ = r.x();
    rootY_ = winY_ = r.y();
    rootWidth_ = width_ = r.width();
    rootHeight_ = height_ = r.height();
  }

  std::shared_ptr<T> storage_;
  std::ptrdiff_t stride_ = 0;
  long rootX_ = 0, rootY_ = 0, rootWidth_ = 0, rootHeight_ = 0;  // allocated area, image frame
  long winX_ = 0, winY_ = 0, width_ = 0, height_ = 0;            // window, image frame
  cc2XformBasePtrh xform_;                                       // null: identity
};

template <class T>
class ccPelBuffer : public ccPelBuffer_const<T> {
 public:
  ccPelBuffer() = default;
  // New zero-filled pixels of the given size, window at offset (0, 0). Rows start on
  // multiples of rowAlignmentBytes.
  ccPelBuffer(long width, long height, int rowAlignmentBytes = 1) {
    this->allocate(ccPelRect(0, 0, width, height), rowAlignmentBytes);
  }
  // New zero-filled pixels covering `window` of the image frame.
  explicit ccPelBuffer(const ccPelRect& window, int rowAlignmentBytes = 1) {
    this->allocate(window, rowAlignmentBytes);
  }

  using ccPelBuffer_const<T>::row;
  using ccPelBuffer_const<T>::at;
  T* row(long j) { return this->storage_ ? this->base() + j * this->stride_ : nullptr; }
  T& at(long x, long y) {
    return this->base()[(y - this->winY_) * this->stride_ + (x - this->winX_)];
  }
};

#endif  // PLATFORM_FOUNDATION_PEL_BUFFER_H
