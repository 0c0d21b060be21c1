// Dot-grid calibration parameters and their archive format.
#include "cal/calib/grid_calib_params.h"

#include "platform/foundation/archive.h"
#include "platform/foundation/assert.h"

namespace {
constexpr unsigned char kParamsVersion = 1;
// Ratios of a version-0 stream, which did not store them.
constexpr double kVersion0MinRatio = 0.5;
constexpr double kVersion0MaxRatio = 0.84;
}  // namespace

const cc_Instantiator ccGridCalibParams::sExemplar(typeid(ccGridCalibParams), &ccGridCalibParams::make);

ccPersistent* ccGridCalibParams::make() { return new ccGridCalibParams; }

ccGridCalibParams::ccGridCalibParams() = default;

ccGridCalibParams::ccGridCalibParams(double gridPitchX, double gridPitchY, bool isLeftHanded,
                                     ccCalibDefs::CalibType calibType, ccCalibDefs::Polarity polarity,
                                     double minRatio, double maxRatio)
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
    gridPitchX_ = other.gridPitchX_;
    gridPitchY_ = other.gridPitchY_;
    isLeftHanded_ = other.isLeftHanded_;
    calibType_ = other.calibType_;
    polarity_ = other.polarity_;
    ignoreGridAngle_ = other.ignoreGridAngle_;
    minRatio_ = other.minRatio_;
    maxRatio_ = other.maxRatio_;
  }
  return *this;
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
  unsigned char version = kParamsVersion;
  ar || version;
  ccGridCalibParams::serialize_(ar, version);
  setVisited(ar, this, sizeof(*this));
}

void ccGridCalibParams::serialize_(ccArchive& ar, unsigned char version) {
  if (version > kParamsVersion) throw ccArchive::UnknownVersion(__FILE__, __LINE__);
  if (ar.isLoading()) mutating();
  ccPersistent::dispatchSerialize(ar);
  ar || gridPitchX_;
  ar || gridPitchY_;
  ar || isLeftHanded_;
  unsigned long type = static_cast<unsigned long>(calibType_);
  unsigned long polarity = static_cast<unsigned long>(polarity_);
  ar || type;
  ar || polarity;
  if (ar.isLoading()) {
    // Stored as read; cfCalibrationRun refuses values outside the enumerations.
    calibType_ = static_cast<ccCalibDefs::CalibType>(type);
    polarity_ = static_cast<ccCalibDefs::Polarity>(polarity);
  }
  ar || ignoreGridAngle_;
  if (version >= 1) {
    ar || minRatio_;
    ar || maxRatio_;
  } else {
    cstd_assert_(ar.isLoading());
    minRatio_ = kVersion0MinRatio;
    maxRatio_ = kVersion0MaxRatio;
  }
}
