// SPDX-License-Identifier: Apache-2.0
// Dot-grid calibration parameters and their archive format.
#include "cal/calib/grid_calib_params.h"

#include <cmath>
#include <string>

#include "platform/foundation/archive.h"
#include "platform/foundation/assert.h"

namespace {
constexpr unsigned char kParamsVersion = 1;
// Ratios of a version-0 stream, which did not store them.
constexpr double kVersion0MinRatio = 0.5;
constexpr double kVersion0MaxRatio = 0.84;

[[noreturn]] void refuse(const std::wstring& what) {
  throw ccArchive::BadData(L"ccGridCalibParams: the archive holds " + what);
}

void checkPitch(double pitch, const wchar_t* axis) {
  if (!std::isfinite(pitch) || !(pitch > 0.0)) {
    refuse(std::wstring(L"a grid pitch ") + axis + L" that is not a positive number (" +
           std::to_wstring(pitch) + L")");
  }
}

void checkRatio(double ratio, const wchar_t* which) {
  if (!(ratio > 0.0 && ratio < 1.0)) {  // also refuses NaN
    refuse(std::wstring(L"a ") + which + L" dot fill ratio outside (0, 1) (" +
           std::to_wstring(ratio) + L")");
  }
}
}  // namespace

const cc_Instantiator ccGridCalibParams::sExemplar(typeid(ccGridCalibParams),
                                                   &ccGridCalibParams::make);

ccPersistent* ccGridCalibParams::make() {
  return new ccGridCalibParams;
}

ccGridCalibParams::ccGridCalibParams() = default;

ccGridCalibParams::ccGridCalibParams(double gridPitchX, double gridPitchY, bool isLeftHanded,
                                     ccCalibDefs::CalibType calibType,
                                     ccCalibDefs::Polarity polarity, double minRatio,
                                     double maxRatio)
    : gridPitchX_(gridPitchX),
      gridPitchY_(gridPitchY),
      isLeftHanded_(isLeftHanded),
      calibType_(calibType),
      polarity_(polarity) {
  cstd_assert_(gridPitchX > 0.0 && gridPitchY > 0.0);
  dotAreaToBoundingBoxAreaRatio(minRatio, maxRatio);
}

ccGridCalibParams::ccGridCalibParams(const ccGridCalibParams& other) = default;

ccGridCalibParams& ccGridCalibParams::operator=(const ccGridCalibParams& other) {
  if (this != &other) {
    ccPersistent::operator=(other);
    mutating();
    copyFields(other);
  }
  return *this;
}

void ccGridCalibParams::copyFields(const ccGridCalibParams& other) {
  gridPitchX_ = other.gridPitchX_;
  gridPitchY_ = other.gridPitchY_;
  isLeftHanded_ = other.isLeftHanded_;
  calibType_ = other.calibType_;
  polarity_ = other.polarity_;
  ignoreGridAngle_ = other.ignoreGridAngle_;
  minRatio_ = other.minRatio_;
  maxRatio_ = other.maxRatio_;
}

ccGridCalibParams::~ccGridCalibParams() = default;

void ccGridCalibParams::gridPitchX(double pitch) {
  cstd_assert_(pitch > 0.0);
  mutating();
  gridPitchX_ = pitch;
}

void ccGridCalibParams::gridPitchY(double pitch) {
  cstd_assert_(pitch > 0.0);
  mutating();
  gridPitchY_ = pitch;
}

void ccGridCalibParams::isLeftHanded(bool leftHanded) {
  mutating();
  isLeftHanded_ = leftHanded;
}

void ccGridCalibParams::calibType(ccCalibDefs::CalibType type) {
  mutating();
  calibType_ = type;
}

void ccGridCalibParams::polarity(ccCalibDefs::Polarity polarity) {
  mutating();
  polarity_ = polarity;
}

void ccGridCalibParams::ignoreGridAngle(bool ignore) {
  mutating();
  ignoreGridAngle_ = ignore;
}

void ccGridCalibParams::dotAreaToBoundingBoxAreaRatio(double minRatio, double maxRatio) {
  cstd_assert_(minRatio > 0.0 && minRatio < 1.0);
  cstd_assert_(maxRatio > 0.0 && maxRatio < 1.0);
  cstd_assert_(minRatio < maxRatio);
  mutating();
  minRatio_ = minRatio;
  maxRatio_ = maxRatio;
}

void ccGridCalibParams::dispatchSerialize(ccArchive& ar) {
  if (haveVisited(ar, this, sizeof(*this))) return;
  // A failed load leaves the object as it was, change count included. The fields are read
  // in place and put back from a copy on failure (rather than read into a temporary), so
  // that the visit marks of the pass name this object.
  const bool loading = ar.isLoading();
  const ccGridCalibParams before = loading ? *this : ccGridCalibParams();
  try {
    unsigned char version = kParamsVersion;
    ar || version;
    ccGridCalibParams::serialize_(ar, version);
  } catch (...) {
    if (loading) {
      ccPersistent::operator=(before);
      copyFields(before);
    }
    throw;
  }
  setVisited(ar, this, sizeof(*this));
}

void ccGridCalibParams::serialize_(ccArchive& ar, unsigned char version) {
  if (version > kParamsVersion) throw ccArchive::UnknownVersion(__FILE__, __LINE__);
  if (ar.isLoading()) mutating();
  ccPersistent::dispatchSerialize(ar);
  ar || gridPitchX_;
  ar || gridPitchY_;
  if (ar.isLoading()) {
    checkPitch(gridPitchX_, L"X");
    checkPitch(gridPitchY_, L"Y");
  }
  ar || isLeftHanded_;
  unsigned long type = static_cast<unsigned long>(calibType_);
  unsigned long polarity = static_cast<unsigned long>(polarity_);
  ar || type;
  ar || polarity;
  if (ar.isLoading()) {
    // Words outside the enumerations (a negative value stored as 32 bits included) would
    // load as values that cannot be stored again.
    if (type != ccCalibDefs::eGridLinear && type != ccCalibDefs::eGridPolynomialOrder3 &&
        type != ccCalibDefs::eGridPolynomialOrder5) {
      refuse(L"an unknown calibration type (" + std::to_wstring(type) + L"; 1, 3 or 5 expected)");
    }
    if (polarity > ccCalibDefs::ePolarityAny) {
      refuse(L"an unknown polarity (" + std::to_wstring(polarity) + L"; 0, 1 or 2 expected)");
    }
    calibType_ = static_cast<ccCalibDefs::CalibType>(type);
    polarity_ = static_cast<ccCalibDefs::Polarity>(polarity);
  }
  ar || ignoreGridAngle_;
  if (version >= 1) {
    ar || minRatio_;
    ar || maxRatio_;
    if (ar.isLoading()) {
      checkRatio(minRatio_, L"minimum");
      checkRatio(maxRatio_, L"maximum");
    }
  } else {
    cstd_assert_(ar.isLoading());
    minRatio_ = kVersion0MinRatio;
    maxRatio_ = kVersion0MaxRatio;
  }
}
