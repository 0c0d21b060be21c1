// SPDX-License-Identifier: Apache-2.0
// Rendered checkerboard views and one run of the checker finder through its C interface,
// shared by the finder's tests, its sweep and the exhaustive-algorithm tests.
#ifndef TESTS_SUPPORT_CHECKER_FINDER_RUN_H
#define TESTS_SUPPORT_CHECKER_FINDER_RUN_H

#include <cstdint>
#include <vector>

#include "platform/checkerfinder/checker_finder.h"
#include "platform/foundation/pel_buffer.h"
#include "tests/support/checker_scoring.h"
#include "tools/plate/plate_render.h"

// A checkerboard seen by a camera: plate, view, lighting and sensor.
struct ccCheckerView {
  long width = 640, height = 480;
  long cols = 9, rows = 7;
  bool fiducial = false;
  double margin = 1.0;
  double fill = 0.8, tiltX = 0, tiltY = 0, rotation = 7, fov = 40;
  double k1 = 0;  // radial distortion, radius normalised by the focal length
  double blur = 0.7, noise = 1.0, gradient = 0, vignetting = 0;
  ccVector<2> shift;  // plate region shift, squares (boards cut by the border)
  std::uint32_t seed = 1;
  int supersample = 4;  // the renderer's anti-aliasing quantises edges to 1 / supersample
};

struct ccRenderedView {
  ccPlateCamera camera;
  ccPlateRendering rendering;
  int inView = 0;  // true vertices inside the image
};

ccRenderedView cfRenderCheckerView(const ccCheckerView& v);

struct ccFinderRun {
  cclft_status status = 0;
  std::vector<cclft_crspPair> pairs;
};

// The finder's default parameters, labelled from the fiducial or from the start point.
cclft_calibrationCheckerFinderParams cfFinderParams(bool fiducial, const ccVector<2>& start);

// The pairs a result set holds.
std::vector<cclft_crspPair> cfFinderPairs(const cclft_calibrationCheckerFinderResultSet* rs);

// One run; the result set is destroyed before returning.
ccFinderRun cfRunCheckerFinder(const ccPelBuffer_const<unsigned char>& image,
                               const cclft_calibrationCheckerFinderParams& params);
ccFinderRun cfRunCheckerFinder(const ccPelBuffer_const<unsigned char>& image, bool fiducial,
                               const ccVector<2>& start);

std::vector<ccReportedVertex> cfReportedVertices(const std::vector<cclft_crspPair>& pairs);

#endif  // TESTS_SUPPORT_CHECKER_FINDER_RUN_H
