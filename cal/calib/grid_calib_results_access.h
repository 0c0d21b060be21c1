// SPDX-License-Identifier: Apache-2.0
// Write access to a results object for the stages of the calibration run (not installed
// as public API).
#ifndef CAL_CALIB_GRID_CALIB_RESULTS_ACCESS_H
#define CAL_CALIB_GRID_CALIB_RESULTS_ACCESS_H

#include "cal/calib/grid_calib_results.h"

class ccGridCalibRunAccess {
 public:
  static void mutating(ccGridCalibResults& r) { r.mutating(); }
  static ccXform<2>& clientFromImage(ccGridCalibResults& r) { return r.clientFromImage_; }
  static cc2XformBasePtrh& clientFromImageBase(ccGridCalibResults& r) {
    return r.clientFromImageBase_;
  }
  static std::vector<ccVector<2>>& residuals(ccGridCalibResults& r) { return r.residuals_; }
  static double& maxResidual(ccGridCalibResults& r) { return r.maxResidual_; }
  static double& avgResidual(ccGridCalibResults& r) { return r.avgResidual_; }
  static ccVector<2>& markerPoint(ccGridCalibResults& r) { return r.markerPoint_; }
  static std::vector<ccVector<2>>& imagePoints(ccGridCalibResults& r) { return r.imagePoints_; }
  static ccRLEBuffer& edgeImage(ccGridCalibResults& r) { return r.edgeImage_; }
  static ccRLEBuffer& segmentedImage(ccGridCalibResults& r) { return r.segmentedImage_; }
  static ccGridCalibParams& params(ccGridCalibResults& r) { return r.params_; }
  static unsigned char& threshold(ccGridCalibResults& r) { return r.threshold_; }
  static bool& markerFound(ccGridCalibResults& r) { return r.markerFound_; }
  static ccCalibDefs::Polarity& polarity(ccGridCalibResults& r) { return r.polarity_; }
};

#endif  // CAL_CALIB_GRID_CALIB_RESULTS_ACCESS_H
