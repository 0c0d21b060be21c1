// SPDX-License-Identifier: Apache-2.0
// Angles in radians and degrees. Both are thin wrappers around a double so that an angle
// never silently mixes with a length in an argument list.
#ifndef PLATFORM_FOUNDATION_ANGLE_H
#define PLATFORM_FOUNDATION_ANGLE_H

#include <cmath>

constexpr double ccPi = 3.14159265358979323846;

class ccDegree;

class ccRadian {
 public:
  constexpr ccRadian() = default;
  constexpr explicit ccRadian(double radians) : value_(radians) {}
  inline ccRadian(const ccDegree& d);  // NOLINT: degrees convert to radians implicitly

  constexpr double toDouble() const { return value_; }

  // The same angle brought into [0, 2 pi).
  ccRadian norm() const {
    double v = std::fmod(value_, 2.0 * ccPi);
    if (v < 0.0) v += 2.0 * ccPi;
    if (v >= 2.0 * ccPi) v = 0.0;  // fmod of a tiny negative value can round up to 2 pi
    return ccRadian(v);
  }
  // The same angle brought into (-pi, pi].
  ccRadian signedNorm() const {
    double v = norm().value_;
    if (v > ccPi) v -= 2.0 * ccPi;
    return ccRadian(v);
  }

  constexpr ccRadian operator-() const { return ccRadian(-value_); }
  constexpr ccRadian operator+(ccRadian o) const { return ccRadian(value_ + o.value_); }
  constexpr ccRadian operator-(ccRadian o) const { return ccRadian(value_ - o.value_); }
  constexpr ccRadian operator*(double s) const { return ccRadian(value_ * s); }
  constexpr ccRadian operator/(double s) const { return ccRadian(value_ / s); }
  ccRadian& operator+=(ccRadian o) {
    value_ += o.value_;
    return *this;
  }
  ccRadian& operator-=(ccRadian o) {
    value_ -= o.value_;
    return *this;
  }
  constexpr bool operator<(ccRadian o) const { return value_ < o.value_; }
  constexpr bool operator>(ccRadian o) const { return value_ > o.value_; }
  constexpr bool operator<=(ccRadian o) const { return value_ <= o.value_; }
  constexpr bool operator>=(ccRadian o) const { return value_ >= o.value_; }
  constexpr bool operator==(ccRadian o) const { return value_ == o.value_; }
  constexpr bool operator!=(ccRadian o) const { return value_ != o.value_; }

 private:
  double value_ = 0.0;
};

class ccDegree {
 public:
  constexpr ccDegree() = default;
  constexpr explicit ccDegree(double degrees) : value_(degrees) {}
  constexpr ccDegree(const ccRadian& r) : value_(r.toDouble() * (180.0 / ccPi)) {}  // NOLINT

  constexpr double toDouble() const { return value_; }

  // [0, 360) and (-180, 180].
  ccDegree norm() const { return ccDegree(ccRadian(*this).norm()); }
  ccDegree signedNorm() const { return ccDegree(ccRadian(*this).signedNorm()); }

  constexpr ccDegree operator-() const { return ccDegree(-value_); }
  constexpr ccDegree operator+(ccDegree o) const { return ccDegree(value_ + o.value_); }
  constexpr ccDegree operator-(ccDegree o) const { return ccDegree(value_ - o.value_); }
  constexpr bool operator<(ccDegree o) const { return value_ < o.value_; }
  constexpr bool operator>(ccDegree o) const { return value_ > o.value_; }
  constexpr bool operator==(ccDegree o) const { return value_ == o.value_; }

 private:
  double value_ = 0.0;
};

inline ccRadian::ccRadian(const ccDegree& d) : value_(d.toDouble() * (ccPi / 180.0)) {}

inline double sin(ccRadian a) {
  return std::sin(a.toDouble());
}
inline double cos(ccRadian a) {
  return std::cos(a.toDouble());
}
inline double tan(ccRadian a) {
  return std::tan(a.toDouble());
}

#endif  // PLATFORM_FOUNDATION_ANGLE_H
