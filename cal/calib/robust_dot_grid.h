// SPDX-License-Identifier: Apache-2.0
// Dot-grid calibration for real scenes: plates that fill only part of the view, seen at a
// steep angle, at any rotation, through a distorting lens, under vignetting, next to clutter.
// It fills the same results as cfCalibrationRun and gives every dot an integer label that
// stays with the dot when the view changes.
#ifndef CAL_CALIB_ROBUST_DOT_GRID_H
#define CAL_CALIB_ROBUST_DOT_GRID_H

#include <vector>

#include "cal/calib/grid_calib_params.h"
#include "cal/calib/grid_calib_results.h"
#include "ccalib_export.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/vector.h"

class ccDiagObject;

// What the robust run may assume beyond the grid parameters.
struct CCALIB_EXPORT ccRobustGridOptions {
  // Plate size in dots, when known: rows along label y, columns along label x (with the
  // marker), or either way round (without it). 0 means unknown. When given, a lattice that
  // spans more rows or columns than the plate has is refused; fewer (a partial view) is
  // accepted.
  long rows = 0;
  long cols = 0;
  // The fewest lattice dots accepted as a plate (at least 4); fewer is TooFewDotsFound.
  long minDots = 12;
  // Move every dot centre from the centre of its image ellipse to the image of the disc's
  // centre, using the perspective of its neighbourhood (see cfCalibrationRunRobust).
  bool correctPerspective = true;
};

// Finds the dot plate in `image`, labels its dots, fits the transform that
// params.calibType() asks for (and always the affine one) and fills `results` (reset first)
// as cfCalibrationRun does, plus `labels`, index-aligned with results.imagePoints() (which
// come in row-major label order). Each dot's plate position is its label times the pitch,
// with label y negated on a right-handed plate: (lx * pitchX, ly * pitchY), or
// (lx * pitchX, -ly * pitchY). Work is in image pixel coordinates of the image's window.
// params.polarity() chooses the dots' polarity (any: the one whose dots form the larger
// lattice); the fill-ratio bounds are checked as cfCalibrationRun checks them but not used,
// as every dot is judged against its neighbours instead. The results' threshold is the
// median of the dots' own thresholds; the edge and segmented images are kept only when
// `diag` records the dots (kCalibDiagDots).
//
// Labels.
// - With the two-bar marker found (results.isMarkerFound()), labels are the plate's own
//   cell indices counted from the marker: the dot at the corner (i0, j0) of the marker cell,
//   the corner that both bars point away from, is (0, 0); label x grows along bar 1, label y
//   along bar 2. So the same dot keeps its label when the view is cropped or the camera
//   moves. Bar 1 is told from bar 2 by the plate's turning sense (from bar 1 to bar 2 is
//   clockwise as printed); a plate seen mirrored would swap them.
// - Without the marker, (0, 0) is the lattice dot nearest the centroid of the lattice dots;
//   label x grows along the lattice axis whose direction at that dot is nearest image +x, and
//   label y along the other axis, in the direction nearer image +y (as cfCalibrationRun
//   labels a grid).
//
// How it works, in steps: thresholds per image region from the grey values on strong edges;
// dark and light blobs of a two-level image as dot candidates (round or elliptical, no fixed
// size); for each polarity allowed by params.polarity(), a lattice grown from a seed by
// predicting every next dot from its row and column neighbours (the larger lattice wins);
// each dot measured again in its own window, thresholded halfway between its own ground and
// ink levels, by the blob tool's soft segmentation; dots missed by the regional threshold
// looked for where the lattice predicts them; dots that do not fit their rows and columns
// dropped; the plate's axes told from the lattice's other lattice vectors by the dots'
// shapes; the marker searched among elongated blobs at the cell positions where its bars
// must lie. With options.correctPerspective, each centre is then moved by the difference
// between the image of the disc centre and the centre of the disc's image ellipse, both
// computed from a homography fitted to the dot's 3 x 3 neighbourhood (the ellipse's centre
// is the pole of the line at infinity of the imaged circle).
//
// Failures (ccCalibDefs): BadParam for bad parameters or options (as cfCalibrationRun, plus
// negative plate sizes or minDots below 4); TooFewDotsFound when no lattice of
// options.minDots dots spanning 3 rows and 3 columns is found (noise, textures, blank
// images); BadCorrespondence when the lattice is not a dot plate (dot area against the cell
// area outside [0.01, 0.6], where the printed design has 0.196; dots not separated by ground,
// as the squares of a checkerboard; dots not round on the plate) or spans more rows or
// columns than options say; InvalidMap when a fitted transform is degenerate.
// ccPel::UnboundWindow for an unbound image. Calls ccAttention::check() between steps and in
// its loops. On failure the results keep what was stored before it and labels are empty.
CCALIB_EXPORT void cfCalibrationRunRobust(
    const ccPelBuffer_const<unsigned char>& image, const ccGridCalibParams& params,
    const ccRobustGridOptions& options, ccGridCalibResults& results,
    std::vector<ccPair<long>>& labels, ccDiagObject* diag = nullptr, unsigned long diagFlags = 0);

#endif  // CAL_CALIB_ROBUST_DOT_GRID_H
