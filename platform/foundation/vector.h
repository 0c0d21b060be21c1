// SPDX-License-Identifier: Apache-2.0
// Two-dimensional points and vectors, generic pairs, and the rounding and tolerance helpers
// used by every geometric computation.
#ifndef PLATFORM_FOUNDATION_VECTOR_H
#define PLATFORM_FOUNDATION_VECTOR_H

#include <cmath>
#include <limits>
#include <ostream>

#include "platform/foundation/angle.h"

// Rounds to the nearest integer, halves away from zero (2.5 -> 3, -2.5 -> -3).
inline long iRound(double v) {
  return static_cast<long>(v < 0.0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5));
}

// True when |a - b| <= tolerance.
inline bool cfRealEq(double a, double b, double tolerance = 1e-15) {
  return std::fabs(a - b) <= tolerance;
}

template <int N>
class ccVector;

// A point or displacement in the plane. Default-constructed vectors are (0, 0).
template <>
class ccVector<2> {
 public:
  constexpr ccVector() = default;
  constexpr ccVector(double x, double y) : x_(x), y_(y) {}
  // The vector of the given length pointing at the given angle.
  ccVector(double length, ccRadian angle)
      : x_(length * std::cos(angle.toDouble())), y_(length * std::sin(angle.toDouble())) {}

  constexpr double x() const { return x_; }
  constexpr double y() const { return y_; }
  void x(double v) { x_ = v; }
  void y(double v) { y_ = v; }
  double operator[](int i) const { return i == 0 ? x_ : y_; }
  double& operator[](int i) { return i == 0 ? x_ : y_; }

  double length() const { return std::hypot(x_, y_); }
  double lengthSq() const { return x_ * x_ + y_ * y_; }
  // The vector scaled to length 1; (0, 0) stays (0, 0).
  ccVector unit() const {
    double l = length();
    return l > 0.0 ? ccVector(x_ / l, y_ / l) : ccVector();
  }
  // The vector turned a quarter turn counter-clockwise in a y-up frame: (-y, x).
  constexpr ccVector perp() const { return ccVector(-y_, x_); }
  ccRadian angle() const { return ccRadian(std::atan2(y_, x_)); }
  double dot(const ccVector& o) const { return x_ * o.x_ + y_ * o.y_; }
  // z component of the cross product.
  double cross(const ccVector& o) const { return x_ * o.y_ - y_ * o.x_; }
  double distance(const ccVector& o) const { return std::hypot(x_ - o.x_, y_ - o.y_); }

  constexpr ccVector operator+(const ccVector& o) const { return ccVector(x_ + o.x_, y_ + o.y_); }
  constexpr ccVector operator-(const ccVector& o) const { return ccVector(x_ - o.x_, y_ - o.y_); }
  constexpr ccVector operator-() const { return ccVector(-x_, -y_); }
  constexpr ccVector operator*(double s) const { return ccVector(x_ * s, y_ * s); }
  constexpr ccVector operator/(double s) const { return ccVector(x_ / s, y_ / s); }
  ccVector& operator+=(const ccVector& o) {
    x_ += o.x_;
    y_ += o.y_;
    return *this;
  }
  ccVector& operator-=(const ccVector& o) {
    x_ -= o.x_;
    y_ -= o.y_;
    return *this;
  }
  ccVector& operator*=(double s) {
    x_ *= s;
    y_ *= s;
    return *this;
  }
  ccVector& operator/=(double s) {
    x_ /= s;
    y_ /= s;
    return *this;
  }
  constexpr bool operator==(const ccVector& o) const { return x_ == o.x_ && y_ == o.y_; }
  constexpr bool operator!=(const ccVector& o) const { return !(*this == o); }

 private:
  double x_ = 0.0;
  double y_ = 0.0;
};

inline ccVector<2> operator*(double s, const ccVector<2>& v) {
  return v * s;
}

// Component-wise equality within an absolute tolerance.
inline bool cfRealEq(const ccVector<2>& a, const ccVector<2>& b, double tolerance) {
  return cfRealEq(a.x(), b.x(), tolerance) && cfRealEq(a.y(), b.y(), tolerance);
}

// An ordered pair. For pairs of numbers x() and y() name the two members; for feature
// pairs first is the image position and second the plate position.
template <class T>
struct ccPair {
  T first{};
  T second{};

  constexpr ccPair() = default;
  constexpr ccPair(const T& a, const T& b) : first(a), second(b) {}

  constexpr const T& x() const { return first; }
  constexpr const T& y() const { return second; }
  void x(const T& v) { first = v; }
  void y(const T& v) { second = v; }

  ccPair operator+(const ccPair& o) const { return ccPair(first + o.first, second + o.second); }
  ccPair operator-(const ccPair& o) const { return ccPair(first - o.first, second - o.second); }
  bool operator==(const ccPair& o) const { return first == o.first && second == o.second; }
  bool operator!=(const ccPair& o) const { return !(*this == o); }
};

// Written "(x, y)", for logs and test messages.
inline std::ostream& operator<<(std::ostream& out, const ccVector<2>& v) {
  return out << '(' << v.x() << ", " << v.y() << ')';
}
template <class T>
std::ostream& operator<<(std::ostream& out, const ccPair<T>& p) {
  return out << '(' << p.first << ", " << p.second << ')';
}

#endif  // PLATFORM_FOUNDATION_VECTOR_H
