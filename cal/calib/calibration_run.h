// SPDX-License-Identifier: Apache-2.0
// Dot-grid calibration: from one image of a dot plate, the dots, their plate positions and
// the fitted client-from-image transform.
#ifndef CAL_CALIB_CALIBRATION_RUN_H
#define CAL_CALIB_CALIBRATION_RUN_H

#include "cal/calib/grid_calib_params.h"
#include "cal/calib/grid_calib_results.h"
#include "ccalib_export.h"
#include "platform/foundation/pel_buffer.h"

class ccDiagObject;

// Diagnostics categories of the calibration run.
constexpr unsigned long kCalibDiagInputImage = 0x10000;  // the caller's image
constexpr unsigned long kCalibDiagDots = 0x20000;        // the detected dots and the marker

// Finds the dots of `image`, gives each its plate position, fits the transform that
// params.calibType() asks for (and always the affine one), snaps the marker to the nearest
// grid cell centre, and fills `results` (reset first). Detection works in image pixel
// coordinates of the image's window; the image's own client transform is not used.
// Throws ccPel::UnboundWindow for an unbound image; ccCalibDefs::BadParam for bad ratios,
// pitches or calibration type; TooFewDotsFound, GridAngleTooLarge, BadCorrespondence when
// the dots do not make a usable grid; InvalidMap when a fitted transform is degenerate.
// On failure the results keep what the stages stored before it.
CCALIB_EXPORT void cfCalibrationRun(const ccPelBuffer_const<unsigned char>& image,
                                    const ccGridCalibParams& params, ccGridCalibResults& results,
                                    ccDiagObject* diag = nullptr, unsigned long diagFlags = 0);

#endif  // CAL_CALIB_CALIBRATION_RUN_H
