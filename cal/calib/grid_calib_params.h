// SPDX-License-Identifier: Apache-2.0
// Parameters of the dot-grid calibration: the plate's dot spacing and handedness, the
// transform to fit, the dot polarity, and the accepted fill ratio of a dot.
#ifndef CAL_CALIB_GRID_CALIB_PARAMS_H
#define CAL_CALIB_GRID_CALIB_PARAMS_H

#include "cal/calib/calib_defs.h"
#include "ccalib_export.h"
#include "platform/foundation/persistent.h"

class CCALIB_EXPORT ccGridCalibParams : public ccPersistent {
 public:
  // Pitches are the dot spacing along the plate's X and Y axes in client (physical) units.
  // The fill-ratio bounds delimit a dot's pixel area divided by its image-aligned bounding
  // box area (a filled disc gives about 0.785). Preconditions (reported through the
  // assertion facility, not thrown): both pitches > 0, 0 < minRatio < maxRatio < 1.
  ccGridCalibParams(double gridPitchX, double gridPitchY, bool isLeftHanded = true,
                    ccCalibDefs::CalibType calibType = ccCalibDefs::eGridLinear,
                    ccCalibDefs::Polarity polarity = ccCalibDefs::ePolarityAny,
                    double minRatio = 0.5, double maxRatio = 0.86);
  ccGridCalibParams(const ccGridCalibParams& other);
  ccGridCalibParams& operator=(const ccGridCalibParams& other);
  ~ccGridCalibParams() override;

  double gridPitchX() const { return gridPitchX_; }
  double gridPitchY() const { return gridPitchY_; }
  bool isLeftHanded() const { return isLeftHanded_; }
  ccCalibDefs::CalibType calibType() const { return calibType_; }
  ccCalibDefs::Polarity polarity() const { return polarity_; }
  // When set, the grid's rotation is removed from the fitted transform.
  bool ignoreGridAngle() const { return ignoreGridAngle_; }
  double minDotAreaToBoundingBoxAreaRatio() const { return minRatio_; }
  double maxDotAreaToBoundingBoxAreaRatio() const { return maxRatio_; }

  void gridPitchX(double pitch);
  void gridPitchY(double pitch);
  void isLeftHanded(bool leftHanded);
  void calibType(ccCalibDefs::CalibType type);
  void polarity(ccCalibDefs::Polarity polarity);
  void ignoreGridAngle(bool ignore);
  void dotAreaToBoundingBoxAreaRatio(double minRatio, double maxRatio);

 protected:
  // Version byte (current 1), the base part, then pitch X, pitch Y, handedness, type and
  // polarity (32-bit each), ignore-angle, and from version 1 the two ratios. Version 0
  // streams give ratios 0.5 and 0.84. Loading throws ccArchive::BadData for a pitch that is
  // not a positive finite number, a type other than 1, 3 or 5, a polarity above 2, or a
  // ratio outside (0, 1); after any failure the object is as it was before the load.
  void dispatchSerialize(ccArchive& ar) override;

 private:
  ccGridCalibParams();
  void copyFields(const ccGridCalibParams& other);
  virtual void serialize_(ccArchive& ar, unsigned char version);
  static ccPersistent* make();
  static const cc_Instantiator sExemplar;

  double gridPitchX_ = 0.0;
  double gridPitchY_ = 0.0;
  bool isLeftHanded_ = true;
  ccCalibDefs::CalibType calibType_ = ccCalibDefs::eGridLinear;
  ccCalibDefs::Polarity polarity_ = ccCalibDefs::ePolarityAny;
  bool ignoreGridAngle_ = false;
  double minRatio_ = 0.5;
  double maxRatio_ = 0.86;
};

#endif  // CAL_CALIB_GRID_CALIB_PARAMS_H
