// SPDX-License-Identifier: Apache-2.0
// Scores reported checkerboard vertices against a rendering's exact truth: how many were
// found, how many carry a wrong label, and the position error of the rest. Shared by the
// finder tests, the exhaustive-algorithm tests and the benchmarks.
#ifndef TESTS_SUPPORT_CHECKER_SCORING_H
#define TESTS_SUPPORT_CHECKER_SCORING_H

#include <vector>

#include "platform/foundation/vector.h"
#include "tools/plate/plate_render.h"

struct ccReportedVertex {
  ccVector<2> image;  // pixels
  long labelX = 0;
  long labelY = 0;
};

struct ccCheckerScore {
  int found = 0;        // vertices reported
  int wrongLabels = 0;  // reported, near a true vertex, but labelled inconsistently
  int offVertex = 0;    // reported farther than a quarter square from every true vertex
  double rms = 0;       // position error of the consistently labelled, pixels
  double maxError = 0;
  // The label map that most vertices agree on: plate = m * label + c.
  int m[2][2] = {{1, 0}, {0, 1}};
  long cx = 0, cy = 0;
};

// plateLabels: the labels must equal the plate's own; otherwise they may differ from the
// plate's by one rotation, reflection and shift, which is estimated from the majority.
ccCheckerScore cfScoreCheckerVertices(const ccPlateCamera& camera,
                                      const std::vector<ccReportedVertex>& reported,
                                      bool plateLabels);

#endif  // TESTS_SUPPORT_CHECKER_SCORING_H
