// SPDX-License-Identifier: Apache-2.0
// 2 x 2 matrices and affine transforms of the plane (matrix plus translation).
//
// Decomposition used by the constructors and the rotation/scale accessors: a matrix is
//   M = [ sx cos(r)   -sy sin(r + k) ]
//       [ sx sin(r)    sy cos(r + k) ]
// with x scale sx = length of the first column, y scale sy = length of the second column,
// rotation r = angle of the first column (the image of the x axis) and skew k = the angle
// by which the image of the y axis departs from a quarter turn past the image of the x axis.
// A reflection has k = pi. The determinant is sx sy cos(k).
#ifndef PLATFORM_FOUNDATION_XFORM_H
#define PLATFORM_FOUNDATION_XFORM_H

#include <cmath>

#include "ccalib_export.h"
#include "platform/foundation/vector.h"

template <int N>
class ccMatrix;

template <>
class ccMatrix<2> {
 public:
  // The identity.
  constexpr ccMatrix() = default;
  // Row-major elements: (0,0), (0,1), (1,0), (1,1).
  constexpr ccMatrix(double e00, double e01, double e10, double e11) : e_{e00, e01, e10, e11} {}
  // From scales, skew and rotation (see the file comment).
  static ccMatrix fromScaleSkewRotation(double xScale, double yScale, ccRadian skew,
                                        ccRadian rotation) {
    double r = rotation.toDouble(), k = skew.toDouble();
    return ccMatrix(xScale * std::cos(r), -yScale * std::sin(r + k), xScale * std::sin(r),
                    yScale * std::cos(r + k));
  }

  constexpr double element(int row, int col) const { return e_[row * 2 + col]; }
  void element(int row, int col, double v) { e_[row * 2 + col] = v; }

  double determinant() const { return e_[0] * e_[3] - e_[1] * e_[2]; }
  // True when the determinant is zero relative to the size of the elements.
  bool isSingular() const {
    double scale = std::fabs(e_[0]) + std::fabs(e_[1]) + std::fabs(e_[2]) + std::fabs(e_[3]);
    return scale == 0.0 || !std::isfinite(scale) ||
           std::fabs(determinant()) <= 1e-15 * scale * scale;
  }
  // The inverse; callers check isSingular() first (a singular matrix gives non-finite elements).
  ccMatrix inverse() const {
    double d = determinant();
    return ccMatrix(e_[3] / d, -e_[1] / d, -e_[2] / d, e_[0] / d);
  }
  ccMatrix transpose() const { return ccMatrix(e_[0], e_[2], e_[1], e_[3]); }

  double xScale() const { return std::hypot(e_[0], e_[2]); }
  double yScale() const { return std::hypot(e_[1], e_[3]); }
  ccRadian rotation() const { return ccRadian(std::atan2(e_[2], e_[0])); }
  // Signed angle from a quarter turn past the x-axis image to the y-axis image, (-pi, pi].
  ccRadian skew() const {
    double ay = std::atan2(-e_[1], e_[3]);  // angle of the y column measured from +y
    return ccRadian(ay - rotation().toDouble()).signedNorm();
  }

  ccVector<2> operator*(const ccVector<2>& v) const {
    return ccVector<2>(e_[0] * v.x() + e_[1] * v.y(), e_[2] * v.x() + e_[3] * v.y());
  }
  ccMatrix operator*(const ccMatrix& o) const {
    return ccMatrix(e_[0] * o.e_[0] + e_[1] * o.e_[2], e_[0] * o.e_[1] + e_[1] * o.e_[3],
                    e_[2] * o.e_[0] + e_[3] * o.e_[2], e_[2] * o.e_[1] + e_[3] * o.e_[3]);
  }
  ccMatrix operator*(double s) const {
    return ccMatrix(e_[0] * s, e_[1] * s, e_[2] * s, e_[3] * s);
  }
  ccMatrix operator+(const ccMatrix& o) const {
    return ccMatrix(e_[0] + o.e_[0], e_[1] + o.e_[1], e_[2] + o.e_[2], e_[3] + o.e_[3]);
  }
  bool operator==(const ccMatrix& o) const {
    return e_[0] == o.e_[0] && e_[1] == o.e_[1] && e_[2] == o.e_[2] && e_[3] == o.e_[3];
  }
  bool operator!=(const ccMatrix& o) const { return !(*this == o); }

 private:
  double e_[4] = {1.0, 0.0, 0.0, 1.0};
};

template <int N>
class ccXform;

// p -> M p + t. Default-constructed transforms are the identity. Composition a * b applies
// b first, then a.
template <>
class ccXform<2> {
 public:
  constexpr ccXform() = default;
  constexpr ccXform(const ccMatrix<2>& m, const ccVector<2>& t) : m_(m), t_(t) {}
  // From translation, scales, skew and rotation (see the file comment).
  ccXform(const ccVector<2>& translation, double xScale, double yScale, ccRadian skew,
          ccRadian rotation)
      : m_(ccMatrix<2>::fromScaleSkewRotation(xScale, yScale, skew, rotation)), t_(translation) {}

  const ccMatrix<2>& matrix() const { return m_; }
  void matrix(const ccMatrix<2>& m) { m_ = m; }
  const ccVector<2>& trans() const { return t_; }
  void trans(const ccVector<2>& t) { t_ = t; }

  ccVector<2> mapPoint(const ccVector<2>& p) const { return m_ * p + t_; }
  ccVector<2> operator*(const ccVector<2>& p) const { return mapPoint(p); }
  // Maps a displacement (the matrix alone).
  ccVector<2> mapVector(const ccVector<2>& v) const { return m_ * v; }
  ccXform operator*(const ccXform& o) const { return ccXform(m_ * o.m_, m_ * o.t_ + t_); }

  bool isSingular() const { return m_.isSingular(); }
  // The inverse; callers check isSingular() first.
  ccXform inverse() const {
    ccMatrix<2> mi = m_.inverse();
    return ccXform(mi, -(mi * t_));
  }
  ccRadian rotation() const { return m_.rotation(); }
  ccRadian skew() const { return m_.skew(); }
  double xScale() const { return m_.xScale(); }
  double yScale() const { return m_.yScale(); }
  bool isIdentity() const { return m_ == ccMatrix<2>() && t_ == ccVector<2>(); }

  bool operator==(const ccXform& o) const { return m_ == o.m_ && t_ == o.t_; }
  bool operator!=(const ccXform& o) const { return !(*this == o); }

 private:
  ccMatrix<2> m_;
  ccVector<2> t_;
};

// Written "[a b tx; c d ty]" (matrix rows, translation last), for logs and test messages.
inline std::ostream& operator<<(std::ostream& out, const ccXform<2>& x) {
  const ccMatrix<2>& m = x.matrix();
  return out << '[' << m.element(0, 0) << ' ' << m.element(0, 1) << ' ' << x.trans().x() << "; "
             << m.element(1, 0) << ' ' << m.element(1, 1) << ' ' << x.trans().y() << ']';
}

#endif  // PLATFORM_FOUNDATION_XFORM_H
