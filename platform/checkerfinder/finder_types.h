// SPDX-License-Identifier: Apache-2.0
// Values shared by the steps of the checker finder: the image view it works on, its
// settings, junction candidates, grid nodes and the vertices it reports.
#ifndef PLATFORM_CHECKERFINDER_FINDER_TYPES_H
#define PLATFORM_CHECKERFINDER_FINDER_TYPES_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/foundation/vector.h"

namespace cclft_internal {

using Vec = ccVector<2>;

// An 8-bit image in window coordinates: pixel (x, y), 0 <= x < width, 0 <= y < height, has
// its centre at (x, y). The finder works in these coordinates and adds the image offset
// only when it reports.
struct GrayView {
  const std::uint8_t* data = nullptr;
  std::ptrdiff_t stride = 0;
  int width = 0;
  int height = 0;

  int at(int x, int y) const { return data[static_cast<std::ptrdiff_t>(y) * stride + x]; }
  bool inside(const Vec& p, double margin) const {
    return p.x() >= margin && p.y() >= margin && p.x() <= width - 1 - margin &&
           p.y() <= height - 1 - margin;
  }
  // Bilinear interpolation; the point must satisfy inside(p, 0).
  double sample(double x, double y) const {
    int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    if (x0 >= width - 1) x0 = width - 2;
    if (y0 >= height - 1) y0 = height - 2;
    const double fx = x - x0, fy = y - y0;
    const std::uint8_t* r0 = data + static_cast<std::ptrdiff_t>(y0) * stride + x0;
    const std::uint8_t* r1 = r0 + stride;
    return (1 - fy) * ((1 - fx) * r0[0] + fx * r0[1]) + fy * ((1 - fx) * r1[0] + fx * r1[1]);
  }
};

struct FinderSettings {
  bool useFiducial = false;
  bool labelFromStartPoint = true;  // false: plate labels from the fiducial
  double precisionThreshold = INFINITY;
  Vec startPoint;  // window coordinates
  int maxCandidates = 4000;
  double minContrast = 8.0;
  int minVertices = 6;
  int maxSeeds = 16;
  double weightSigmaFloor = 0.02;
};

// A junction candidate: a local maximum of the X-junction response.
struct Candidate {
  Vec pos;             // window coordinates, pixels
  float response = 0;  // ring response, larger is more junction-like
  int level = 0;       // pyramid level it was found on (scale 2^level)
  int node = -1;       // grid node it was taken by, or -1
  int attempt = -1;    // growth attempt that took or refused it as a seed
};

// A labelled grid vertex during growth, in the grid's own label frame.
struct GridNode {
  int i = 0, j = 0;
  int candidate = -1;
  Vec pos;
  Vec step[2];  // image displacement of +1 in i (step[0]) and in j (step[1])
  bool alive = true;
  // Filled by the refinement.
  double covXX = 0, covXY = 0, covYY = 0;
  double sigma = 0;
  double contrast = 0;
};

// A vertex as reported: window coordinates and its final labels.
struct FoundVertex {
  Vec pos;
  int labelX = 0, labelY = 0;
  double covXX = 0, covXY = 0, covYY = 0;
  double sigma = 0;
  double contrast = 0;
  double spacing = 0;
};

enum class Outcome { eFound, eNoBoard, eNoFiducial };

}  // namespace cclft_internal

#endif  // PLATFORM_CHECKERFINDER_FINDER_TYPES_H
