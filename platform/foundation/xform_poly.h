// SPDX-License-Identifier: Apache-2.0
// Polynomial transforms of the plane: the non-linear client-from-image maps of the dot-grid
// calibration (orders 3 and 5), fitted by least squares to matched point lists, inverted
// numerically, composed with affine maps and stored in archives.
#ifndef PLATFORM_FOUNDATION_XFORM_POLY_H
#define PLATFORM_FOUNDATION_XFORM_POLY_H

#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/xform_base.h"

// A polynomial map record: (x, y) -> (sum_k ax[k] t_k(x, y), sum_k ay[k] t_k(x, y)) over the
// monomials t_k of total degree at most `order`, in raw (unnormalised) coordinates. The
// monomials are ordered by total degree, and within one degree by decreasing power of x:
//   1, x, y, x^2, xy, y^2, x^3, x^2 y, x y^2, y^3, ...
// so x^i y^j has index termIndex(i, j) = d (d + 1) / 2 + j with d = i + j. Order n has
// numTerms(n) = (n + 1)(n + 2) / 2 coefficients per output.
//
// Archive format, version 0: version byte, the persistent base part, order (32-bit), the x
// coefficients and the y coefficients (each a 32-bit count and that many doubles).
class CCALIB_EXPORT cc2DPolynomialMap : public ccPersistent {
 public:
  static constexpr int kMaxOrder = 5;

  // The identity, order 1.
  cc2DPolynomialMap();
  // Throws ccBadArgument when the order is outside 1..kMaxOrder, a coefficient list does not
  // hold numTerms(order) values, or a coefficient is not finite.
  cc2DPolynomialMap(int order, const std::vector<double>& xCoefficients,
                    const std::vector<double>& yCoefficients);
  ~cc2DPolynomialMap() override;

  static int numTerms(int order) { return (order + 1) * (order + 2) / 2; }
  static int termIndex(int xPower, int yPower) {
    int d = xPower + yPower;
    return d * (d + 1) / 2 + yPower;
  }

  int order() const { return order_; }
  const std::vector<double>& xCoefficients() const { return ax_; }
  const std::vector<double>& yCoefficients() const { return ay_; }
  ccVector<2> mapPoint(const ccVector<2>& p) const;

 protected:
  // Throws ccArchive::UnknownVersion for a stored version above 0 and ccArchive::BadData for
  // an order or coefficient list that the constructor would refuse.
  void dispatchSerialize(ccArchive& ar) override;

 private:
  int order_ = 1;
  std::vector<double> ax_;
  std::vector<double> ay_;
};

// A polynomial transform from one frame (the "from" frame, e.g. image pixels) to another
// (the "to" frame, e.g. plate units).
//
// Fitting: the full polynomial of total degree `order` in each output, by linear least
// squares over the pairs. The from-points are first centred on their mean and scaled per
// axis into [-1, 1], which keeps the monomial system well conditioned; the normalisation is
// part of the transform, so the map is the same polynomial in raw coordinates.
//
// Inversion: alongside the map the transform holds an approximate inverse polynomial of the
// same order, fitted to samples of the map taken over the convex hull of the from-points. An
// inverse transform (inverseBase()) evaluates that polynomial as a first guess and refines it
// by damped Newton iterations on the forward map until the residual reaches rounding level
// (about 1e-15 relative to the extent of the fitted region). The inverse of the inverse is the
// forward map again, exactly. Inverting a point outside the region where the map is one to
// one throws ccMathError.
//
// Archive format, version 0: version byte, the persistent base part, the inverse flag (bool),
// then the map and the approximate inverse polynomial, each as order (32-bit), normalising
// transform (ccXform<2>), x coefficients and y coefficients (32-bit count, doubles).
class CCALIB_EXPORT cc2XformPoly : public cc2XformBase {
 public:
  static constexpr int kMaxOrder = cc2DPolynomialMap::kMaxOrder;
  // The fit refuses a system whose smallest singular value is at most this fraction of its
  // largest (after normalisation): the points do not determine every coefficient.
  static constexpr double kRankTolerance = 1e-10;

  // The identity, order 1.
  cc2XformPoly();
  // Fits the map taking fromPoints[i] to toPoints[i], of the given order (1..kMaxOrder).
  // Throws ccBadArgument for an order outside that range, and ccMathError when the lists
  // differ in size, hold fewer pairs than numTerms(order) or a non-finite point, do not
  // determine the polynomial (rank deficient, e.g. all points on a line or on too few grid
  // rows), or give a map that folds over (Jacobian changes sign) within the points' hull.
  cc2XformPoly(const std::vector<ccVector<2>>& toPoints, const std::vector<ccVector<2>>& fromPoints,
               int order);
  cc2XformPoly(const cc2XformPoly&) = default;
  cc2XformPoly& operator=(const cc2XformPoly&) = default;
  ~cc2XformPoly() override;

  // Order of the defining polynomial.
  int order() const { return map_.order; }
  // True when this object is the inverse of a polynomial map (mapPoint solves, not evaluates).
  bool isInverse() const { return inverse_; }

  // Throws ccMathError for an inverse transform at a point that cannot be inverted.
  ccVector<2> mapPoint(const ccVector<2>& p) const override;
  // True only for order 1, which is an affine map (and so is its inverse).
  bool isLinear() const override { return map_.order == 1; }
  cc2XformBasePtrh inverseBase() const override;
  cc2XformBasePtrh clone() const override;
  // The Jacobian at p with the translation that makes it agree with the map at p. Throws
  // ccMathError for an inverse transform whose Jacobian is singular there.
  ccXform<2> linearAt(const ccVector<2>& p) const override;
  // left o this, exactly: for a forward map the output coefficients are transformed; for an
  // inverse the map's normalisation absorbs left's inverse. Throws ccMathError when left is
  // singular (the result would not be invertible).
  cc2XformBasePtrh composedAfter(const ccXform<2>& left) const override;

 protected:
  void dispatchSerialize(ccArchive& ar) override;

 private:
  // p -> sum over terms of coefficient * monomial(pre(p)).
  struct Polynomial {
    int order = 1;
    ccXform<2> pre;
    std::vector<double> ax;
    std::vector<double> ay;

    ccVector<2> eval(const ccVector<2>& p) const;
    // Jacobian of eval at p, in raw coordinates of both frames.
    ccMatrix<2> jacobian(const ccVector<2>& p) const;
    // left o this.
    Polynomial after(const ccXform<2>& left) const;
  };

  // Solves map_(p) = q, starting at approx_(q).
  ccVector<2> solve(const ccVector<2>& q) const;

  friend CCALIB_EXPORT cc2XformPoly cf_2XformPolyConvert(const cc2DPolynomialMap& forward,
                                                         const cc2DPolynomialMap& inverse);

  Polynomial map_;     // the defining polynomial, from frame -> to frame
  Polynomial approx_;  // approximate inverse of map_, to frame -> from frame
  bool inverse_ = false;
};

// The transform equivalent to a map stored as two polynomial records: `forward` maps the from
// frame to the to frame and `inverse` approximately back. The result evaluates `forward`
// exactly; its inverseBase() uses `inverse` as the first guess of the Newton refinement. The
// records carry no fitted region, so the inverse's residual limits (1e-15 to stop, 1e-9 to
// accept) apply in raw units of the to frame rather than normalised ones.
CCALIB_EXPORT cc2XformPoly cf_2XformPolyConvert(const cc2DPolynomialMap& forward,
                                                const cc2DPolynomialMap& inverse);

#endif  // PLATFORM_FOUNDATION_XFORM_POLY_H
