// SPDX-License-Identifier: Apache-2.0
// The checker finder's pipeline: candidates, grid growth, refinement, checks, labels.
#include "platform/checkerfinder/finder_run.h"

#include <algorithm>
#include <cmath>

#include "platform/checkerfinder/grid_growth.h"
#include "platform/checkerfinder/grid_labels.h"
#include "platform/checkerfinder/junction_candidates.h"
#include "platform/checkerfinder/vertex_refine.h"
#include "platform/foundation/attention.h"

namespace cclft_internal {
namespace {

// Refinement window radius as a fraction of the shorter local grid step, and its bounds in
// pixels: large enough to average noise, small enough to stay inside the four squares.
constexpr double kWindowPerStep = 0.4;
constexpr int kMinWindow = 2;
constexpr int kMaxWindow = 14;
// A refined vertex may move from its candidate by at most this fraction of the shorter
// step (or kMinMove pixels); farther, the candidate was not this junction.
constexpr double kMaxMovePerStep = 0.3;
constexpr double kMinMove = 1.5;
// Largest point asymmetry of a vertex window (see RefinedVertex): clean vertices on rendered
// boards and real photos stay below 0.03, while an L-corner that passed for a vertex (next
// to the fiducial's bands) scores above 1.
constexpr double kMaxAsymmetry = 0.2;
// Vertices refined between two cancellation checks.
constexpr int kCheckEvery = 64;

double shorterStep(const Grid& grid, const GridNode& n) {
  return std::min(cfGridAxis(grid, n, 0).length(), cfGridAxis(grid, n, 1).length());
}

// Step 3: sub-pixel positions and covariances; drops vertices that fail or wander.
void refineGrid(const GrayView& image, const FinderSettings& settings, double noise, Grid& grid) {
  std::vector<double> steps(grid.nodes.size(), 0.0);
  for (std::size_t k = 0; k < grid.nodes.size(); ++k) {
    if (grid.nodes[k].alive) steps[k] = shorterStep(grid, grid.nodes[k]);
  }
  int count = 0;
  for (std::size_t k = 0; k < grid.nodes.size(); ++k) {
    GridNode& n = grid.nodes[k];
    if (!n.alive) continue;
    if (++count % kCheckEvery == 0) ccAttention::check();
    // Near the image border the window shrinks so that it still fits.
    const double border = std::min(std::min(n.pos.x(), image.width - 1 - n.pos.x()),
                                   std::min(n.pos.y(), image.height - 1 - n.pos.y()));
    const int fitting = static_cast<int>(std::floor(cfMaxRefineRadius(border)));
    const int radius =
        std::clamp(std::min(static_cast<int>(std::lround(kWindowPerStep * steps[k])), fitting),
                   kMinWindow, kMaxWindow);
    const RefinedVertex r = cfRefineVertex(image, n.pos, radius, noise);
    const double maxMove = std::max(kMinMove, kMaxMovePerStep * steps[k]);
    if (!r.ok || r.pos.distance(n.pos) > maxMove || r.asymmetry > kMaxAsymmetry) {
      grid.kill(static_cast<int>(k));
      continue;
    }
    n.pos = r.pos;
    n.covXX = r.covXX;
    n.covXY = r.covXY;
    n.covYY = r.covYY;
    n.sigma = std::sqrt(std::max(0.0, 0.5 * (r.covXX + r.covYY)));
    if (n.sigma > settings.precisionThreshold) grid.kill(static_cast<int>(k));
  }
}

// Whether plate vertex (x, y) touches a square painted over by the fiducial's dark bands
// (cells j = -4 for i = -5 .. 1, cells i = -4 for j = -3 .. 0). Such vertices are left
// out: the bars beside them break the symmetry of their windows and bias them by tenths
// of a pixel.
bool touchesFiducialBand(int x, int y) {
  for (int i = x - 1; i <= x; ++i) {
    for (int j = y - 1; j <= y; ++j) {
      if ((j == -4 && i >= -5 && i <= 1) || (i == -4 && j >= -3 && j <= 0)) return true;
    }
  }
  return false;
}

}  // namespace

Outcome cfRunCheckerFinder(const GrayView& image, const FinderSettings& settings,
                           std::vector<FoundVertex>& vertices) {
  vertices.clear();
  // Step 1.
  const double noise = cfImageNoiseVariance(image);
  std::vector<Candidate> candidates = cfFindJunctionCandidates(
      image, settings.minContrast, settings.maxCandidates, std::sqrt(noise));
  ccAttention::check();
  // Step 2.
  Grid grid = cfGrowBestGrid(image, candidates, settings);
  if (grid.liveCount() < settings.minVertices) return Outcome::eNoBoard;
  ccAttention::check();
  // Steps 3 and 4.
  refineGrid(image, settings, noise, grid);
  cfPruneGrid(grid);
  if (grid.liveCount() < settings.minVertices) return Outcome::eNoBoard;
  ccAttention::check();
  // Step 5.
  LabelMap map;
  if (settings.useFiducial) {
    LabelMap plate;
    if (!cfFiducialLabels(image, grid, settings.minContrast, plate)) return Outcome::eNoFiducial;
    for (std::size_t k = 0; k < grid.nodes.size(); ++k) {
      int x, y;
      plate.apply(grid.nodes[k].i, grid.nodes[k].j, x, y);
      if (grid.nodes[k].alive && touchesFiducialBand(x, y)) grid.kill(static_cast<int>(k));
    }
    if (!settings.labelFromStartPoint) map = plate;
  }
  if (settings.labelFromStartPoint) map = cfStartPointLabels(grid, settings.startPoint);
  for (const GridNode& n : grid.nodes) {
    if (!n.alive) continue;
    FoundVertex v;
    v.pos = n.pos;
    map.apply(n.i, n.j, v.labelX, v.labelY);
    v.covXX = n.covXX;
    v.covXY = n.covXY;
    v.covYY = n.covYY;
    v.sigma = n.sigma;
    v.contrast = n.contrast;
    v.spacing = 0.5 * (cfGridAxis(grid, n, 0).length() + cfGridAxis(grid, n, 1).length());
    vertices.push_back(v);
  }
  std::sort(vertices.begin(), vertices.end(), [](const FoundVertex& a, const FoundVertex& b) {
    return a.labelY != b.labelY ? a.labelY < b.labelY : a.labelX < b.labelX;
  });
  return Outcome::eFound;
}

}  // namespace cclft_internal
