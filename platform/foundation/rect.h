// SPDX-License-Identifier: Apache-2.0
// Axis-aligned rectangles: ccRect (real coordinates) and ccPelRect (pixel windows).
// A rectangle is its upper-left corner and its size; lr() = ul() + size is the corner just
// outside it, so a pixel window of width w starting at x covers columns x .. x + w - 1.
#ifndef PLATFORM_FOUNDATION_RECT_H
#define PLATFORM_FOUNDATION_RECT_H

#include <algorithm>
#include <type_traits>

#include "platform/foundation/vector.h"

template <class T>
class ccRectangle {
 public:
  // Corner type: ccPair<long> for integer rectangles, ccVector<2> for real ones.
  using Point = std::conditional_t<std::is_integral<T>::value, ccPair<long>, ccVector<2>>;

  // The null rectangle (no area; joining it to another gives the other).
  constexpr ccRectangle() = default;
  ccRectangle(T x, T y, T width, T height) : x_(x), y_(y), w_(width), h_(height) {}
  ccRectangle(const Point& ul, const Point& size)
      : x_(static_cast<T>(ul.x())),
        y_(static_cast<T>(ul.y())),
        w_(static_cast<T>(size.x())),
        h_(static_cast<T>(size.y())) {}

  T x() const { return x_; }
  T y() const { return y_; }
  T width() const { return w_; }
  T height() const { return h_; }
  Point ul() const { return Point(x_, y_); }
  Point lr() const { return Point(x_ + w_, y_ + h_); }
  Point size() const { return Point(w_, h_); }
  Point center() const { return Point((x_ + x_ + w_) / 2, (y_ + y_ + h_) / 2); }
  T area() const { return w_ * h_; }

  // No area: width or height not positive.
  bool isNull() const { return !(w_ > 0) || !(h_ > 0); }
  bool degen() const { return isNull(); }

  // True when the point lies in [x, x + w) x [y, y + h).
  bool contains(T px, T py) const { return px >= x_ && py >= y_ && px < x_ + w_ && py < y_ + h_; }
  bool contains(const Point& p) const {
    return contains(static_cast<T>(p.x()), static_cast<T>(p.y()));
  }
  // True when `r` lies wholly inside this rectangle.
  bool encloses(const ccRectangle& r) const {
    return r.x_ >= x_ && r.y_ >= y_ && r.x_ + r.w_ <= x_ + w_ && r.y_ + r.h_ <= y_ + h_;
  }

  // Intersection; null (zero size, at the clipped corner) when they do not overlap.
  ccRectangle operator&(const ccRectangle& o) const {
    T x0 = std::max(x_, o.x_), y0 = std::max(y_, o.y_);
    T x1 = std::min(x_ + w_, o.x_ + o.w_), y1 = std::min(y_ + h_, o.y_ + o.h_);
    if (!(x1 > x0) || !(y1 > y0)) return ccRectangle(x0, y0, 0, 0);
    return ccRectangle(x0, y0, x1 - x0, y1 - y0);
  }
  // Smallest rectangle holding both; a null operand is ignored.
  ccRectangle operator|(const ccRectangle& o) const {
    if (isNull()) return o;
    if (o.isNull()) return *this;
    T x0 = std::min(x_, o.x_), y0 = std::min(y_, o.y_);
    T x1 = std::max(x_ + w_, o.x_ + o.w_), y1 = std::max(y_ + h_, o.y_ + o.h_);
    return ccRectangle(x0, y0, x1 - x0, y1 - y0);
  }
  ccRectangle& operator&=(const ccRectangle& o) { return *this = *this & o; }
  ccRectangle& operator|=(const ccRectangle& o) { return *this = *this | o; }

  // Moves each side inwards by the given amount (negative amounts move it outwards). With
  // clampEmpty set, a rectangle trimmed past empty keeps zero size instead of a negative one.
  ccRectangle trim(T left, T right, T top, T bottom, bool clampEmpty = false) const {
    ccRectangle r(x_ + left, y_ + top, w_ - left - right, h_ - top - bottom);
    if (clampEmpty) {
      if (r.w_ < 0) r.w_ = 0;
      if (r.h_ < 0) r.h_ = 0;
    }
    return r;
  }
  ccRectangle translated(T dx, T dy) const { return ccRectangle(x_ + dx, y_ + dy, w_, h_); }

  bool operator==(const ccRectangle& o) const {
    return x_ == o.x_ && y_ == o.y_ && w_ == o.w_ && h_ == o.h_;
  }
  bool operator!=(const ccRectangle& o) const { return !(*this == o); }

 private:
  T x_{};
  T y_{};
  T w_{};
  T h_{};
};

using ccRect = ccRectangle<double>;
using ccPelRect = ccRectangle<long>;

#endif  // PLATFORM_FOUNDATION_RECT_H
