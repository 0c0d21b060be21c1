// SPDX-License-Identifier: Apache-2.0
// Polymorphic transforms of the plane, shared through counted handles. A transform maps
// points of one frame (for an image: image pixels) into another (client units).
#ifndef PLATFORM_FOUNDATION_XFORM_BASE_H
#define PLATFORM_FOUNDATION_XFORM_BASE_H

#include <memory>

#include "ccalib_export.h"
#include "platform/foundation/persistent.h"
#include "platform/foundation/xform.h"

class ccArchive;
class cc2XformBase;

// Counted handle: copies share one transform object.
using cc2XformBasePtrh = std::shared_ptr<cc2XformBase>;
using cc2XformBasePtrh_const = std::shared_ptr<const cc2XformBase>;

class CCALIB_EXPORT cc2XformBase : public ccPersistent {
 public:
  ~cc2XformBase() override;

  virtual ccVector<2> mapPoint(const ccVector<2>& p) const = 0;
  // True when the transform is affine (a ccXform<2> describes it exactly).
  virtual bool isLinear() const = 0;
  // The inverse transform. Throws ccMathError when the transform cannot be inverted.
  virtual cc2XformBasePtrh inverseBase() const = 0;
  virtual cc2XformBasePtrh clone() const = 0;
  // The affine transform nearest to this one at point p (its first-order expansion there);
  // for a linear transform, the transform itself.
  virtual ccXform<2> linearAt(const ccVector<2>& p) const = 0;
  // The transform `left` applied after this one (left o this), of this transform's kind.
  virtual cc2XformBasePtrh composedAfter(const ccXform<2>& left) const = 0;

 protected:
  cc2XformBase() = default;
  cc2XformBase(const cc2XformBase&) = default;
  cc2XformBase& operator=(const cc2XformBase&) = default;
};

// An affine transform held as a polymorphic transform.
class CCALIB_EXPORT cc2XformLinear : public cc2XformBase {
 public:
  cc2XformLinear() = default;  // identity
  explicit cc2XformLinear(const ccXform<2>& x) : xform_(x) {}
  // Translation, scales, skew and rotation, as ccXform<2>.
  cc2XformLinear(const ccVector<2>& translation, double xScale, double yScale, ccRadian skew,
                 ccRadian rotation)
      : xform_(translation, xScale, yScale, skew, rotation) {}
  ~cc2XformLinear() override;

  const ccXform<2>& xform() const { return xform_; }
  void xform(const ccXform<2>& x) {
    mutating();
    xform_ = x;
  }

  ccVector<2> mapPoint(const ccVector<2>& p) const override { return xform_.mapPoint(p); }
  bool isLinear() const override { return true; }
  cc2XformBasePtrh inverseBase() const override;
  cc2XformBasePtrh clone() const override;
  ccXform<2> linearAt(const ccVector<2>&) const override { return xform_; }
  cc2XformBasePtrh composedAfter(const ccXform<2>& left) const override;

  // Composition: (*this) * other applies other first, then this transform. A linear
  // transform after a polynomial one is again polynomial of the same order.
  cc2XformBasePtrh operator*(const cc2XformBase& other) const;
  cc2XformLinear operator*(const cc2XformLinear& other) const {
    return cc2XformLinear(xform_ * other.xform_);
  }

 protected:
  void dispatchSerialize(ccArchive& ar) override;

 private:
  ccXform<2> xform_;
};

#endif  // PLATFORM_FOUNDATION_XFORM_BASE_H
