// SPDX-License-Identifier: Apache-2.0
// Results of the dot-grid calibration: the fitted client-from-image transforms, the dots
// used and their residuals, the marker, the segmentation threshold and polarity, two
// diagnostic images and a copy of the run's parameters.
#ifndef CAL_CALIB_GRID_CALIB_RESULTS_H
#define CAL_CALIB_GRID_CALIB_RESULTS_H

#include <vector>

#include "cal/calib/grid_calib_params.h"
#include "ccalib_export.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/rle_buffer.h"
#include "platform/foundation/xform_base.h"

class CCALIB_EXPORT ccGridCalibResults : public ccPersistent {
 public:
  ccGridCalibResults();
  // Copies share the transform object held by the handle.
  ccGridCalibResults(const ccGridCalibResults& other);
  ccGridCalibResults& operator=(const ccGridCalibResults& other);
  ~ccGridCalibResults() override;

  // Dot centres used in the fit, image coordinates.
  std::vector<ccVector<2>> imagePoints() const { return imagePoints_; }
  // Per image point: plate position minus the mapped image point. With true in client
  // units; with false expressed in image units through the inverse of the transform
  // (needs a transform in the handle).
  std::vector<ccVector<2>> residuals(bool inClientUnits) const;
  double maximumResidual() const { return maxResidual_; }
  double averageResidual() const { return avgResidual_; }
  // True when the stored parameters ask for the affine transform.
  bool isLinear() const { return params_.calibType() == ccCalibDefs::eGridLinear; }
  bool isMarkerFound() const { return markerFound_; }
  // The marker's position, image coordinates. Throws ccCalibDefs::MarkerNotFound when no
  // marker was found.
  ccVector<2> markerPointInImage() const;
  unsigned char threshold() const { return threshold_; }
  ccCalibDefs::Polarity polarity() const { return polarity_; }
  // Strong-edge image of the threshold estimation and the soft segmentation of the dots;
  // unbound buffers when the run did not produce them.
  ccPelBuffer<unsigned char> edgeImage() const;
  ccPelBuffer<unsigned char> segmentedImage() const;
  const ccGridCalibParams& params() const { return params_; }

  // The affine client-from-image fit, translated so that imagePoint maps exactly to
  // clientPoint.
  ccXform<2> clientFromImageXform(ccVector<2> imagePoint, ccVector<2> clientPoint) const;
  // The transform of the requested type, followed by the translation that takes
  // imagePoint exactly to clientPoint (needs a transform in the handle).
  cc2XformBasePtrh clientFromImageXformBase(ccVector<2> imagePoint, ccVector<2> clientPoint) const;
  // The affine fit and the transform of the requested type, as fitted.
  const ccXform<2>& clientFromImageXform() const { return clientFromImage_; }
  const cc2XformBasePtrh& clientFromImageXformBase() const { return clientFromImageBase_; }

 protected:
  // Version byte (current 2), then the fields. Loading throws ccArchive::BadData for
  // non-finite transforms, points or residual lengths, residual and image point lists of
  // different lengths, a polarity above 2, a missing transform (version 2) or invalid
  // parameters; after any failure the object is as it was before the load.
  void dispatchSerialize(ccArchive& ar) override;

 private:
  friend class ccGridCalibRunAccess;  // the calibration run fills the fields

  void copyFields(const ccGridCalibResults& other);
  virtual void serialize_(ccArchive& ar, unsigned char version);
  static ccPersistent* make();
  static const cc_Instantiator sExemplar;

  ccXform<2> clientFromImage_;
  cc2XformBasePtrh clientFromImageBase_;
  std::vector<ccVector<2>> residuals_;
  double maxResidual_ = 0.0;
  double avgResidual_ = 0.0;
  ccVector<2> markerPoint_;
  std::vector<ccVector<2>> imagePoints_;
  ccRLEBuffer edgeImage_;
  ccRLEBuffer segmentedImage_;
  ccGridCalibParams params_;
  unsigned char threshold_ = 0;
  bool markerFound_ = false;
  ccCalibDefs::Polarity polarity_ = ccCalibDefs::ePolarityNormal;
};

#endif  // CAL_CALIB_GRID_CALIB_RESULTS_H
