// SPDX-License-Identifier: Apache-2.0
// Stages shared by the dot-grid calibration runs (the plain run and the robust one): the
// parameter checks, the transform fits, the residuals, the removal of the grid rotation and
// the diagnostic records of the input and the dots. Internal to the runs; not part of the
// library's API.
#ifndef CAL_CALIB_GRID_FIT_H
#define CAL_CALIB_GRID_FIT_H

#include <vector>

#include "cal/calib/grid_calib_params.h"
#include "cal/calib/grid_calib_results.h"
#include "platform/foundation/diag.h"
#include "platform/foundation/vector.h"

// Throws ccCalibDefs::BadParam for dot-area ratios outside (0, 1) or in the wrong order, a
// pitch not above 0, or an unknown calibration type.
void cfGridCheckParams(const ccGridCalibParams& p);

// For a polynomial calibration type, fits the polynomial image -> client transform into the
// results' base transform; for the linear type does nothing. A failed fit throws
// ccCalibDefs::InvalidMap; ccTimeout and std::bad_alloc pass through.
void cfGridFitPolynomial(const ccGridCalibParams& p, const std::vector<ccVector<2>>& imagePoints,
                         const std::vector<ccVector<2>>& clientPoints, ccGridCalibResults& results);

// Affine least-squares fit image -> client, stored in `fitted` before its validity test:
// scales within [1e-9, 1e9] and axes at least 45 degrees apart, else ccCalibDefs::InvalidMap.
void cfGridFitAffine(const std::vector<ccVector<2>>& imagePoints,
                     const std::vector<ccVector<2>>& clientPoints, ccXform<2>& fitted);

// Residuals client - base(image) per dot, and their largest and mean lengths.
void cfGridResiduals(const std::vector<ccVector<2>>& imagePoints,
                     const std::vector<ccVector<2>>& clientPoints, ccGridCalibResults& results);

// Takes the affine transform's rotation out of both transforms and the residuals.
void cfGridRemoveAngle(ccGridCalibResults& results);

// Records the caller's image when `diagFlags` ask for it (kCalibDiagInputImage); `diag` may
// be null.
void cfGridRecordInput(ccDiagObject* diag, unsigned long diagFlags,
                       const ccPelBuffer_const<unsigned char>& image);

// One diagnostic record: the image, a blue circle at `marker` (when not null) and a red one at
// every dot, each of half the smaller pitch in radius.
void cfGridRecordDots(ccDiagObject& diag, const char* annotation,
                      const ccPelBuffer_const<unsigned char>& image, const ccGridCalibParams& p,
                      const ccVector<2>* marker, const std::vector<ccVector<2>>& imagePoints);

#endif  // CAL_CALIB_GRID_FIT_H
