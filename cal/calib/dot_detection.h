// SPDX-License-Identifier: Apache-2.0
// Finds the dots of a dot-grid plate image: estimates a segmentation threshold from the
// grey values on strong edges, segments with a soft threshold, keeps the blobs that look
// like grid dots, and looks for the two-bar marker in a hard-threshold pass.
#ifndef CAL_CALIB_DOT_DETECTION_H
#define CAL_CALIB_DOT_DETECTION_H

#include <vector>

#include "cal/calib/calib_defs.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/rle_buffer.h"

class ccGridCalibResults;

// Runs dot detection on `image` (image coordinates; its client transform is not used) and
// writes into `results`: the edge and segmented images, the polarity used, the threshold,
// the marker flag and point, and the accepted dot centres (in the blob tool's area order).
// Throws ccCalibDefs::TooFewDotsFound when fewer than 2 blobs survive segmentation; the
// outputs written before stay in the results.
void cfCalibDetectDots(const ccPelBuffer_const<unsigned char>& image,
                       ccCalibDefs::Polarity polarity, double minFillRatio, double maxFillRatio,
                       ccGridCalibResults& results);

// Threshold from the grey values on the strongest edges. topEdgeFraction is the share of
// edge pixels, strongest first, whose magnitude sets the cut-off; cutoffFraction lowers
// that magnitude to the cut-off (cut-off = magnitude at the top fraction times
// (1 - cutoffFraction)). Writes the strong-edge image (255 on strong edges, at the input's
// offset) and the mean magnitude of the strong edges into edgeStrength (left unchanged
// when there are no edges). Returns the rounded mean grey value on strong edges, or -1
// when there are no edge pixels.
int cfCalibEstimateThreshold(const ccPelBuffer_const<unsigned char>& image, double topEdgeFraction,
                             double cutoffFraction, ccRLEBuffer& edgeImage, double& edgeStrength);

#endif  // CAL_CALIB_DOT_DETECTION_H
