// SPDX-License-Identifier: Apache-2.0
// Test-side driver of the checkerboard corner detection stages.
#include "tests/support/checker_stages_driver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "platform/vision/gauss_sample.h"

namespace {

// Detection image of evenly lit boards: Gaussian of sigma 1 over 5 taps, full resolution.
constexpr int kDetectionSubsample = 1;
constexpr int kDetectionHalfWidth = 2;
constexpr double kDetectionSigma = 1.0;
// A valid corner is "at" a vertex within this distance, pixels.
constexpr double kCornerTolerance = 0.5;
constexpr std::size_t kMaxMissingListed = 12;

void runPass(const ccPelBuffer_const<unsigned char>& image,
             const ccCalib2VertexFeatureParams& params, bool secondPass, ccCheckerStagesRun& run) {
  cfCheckerBuildMesh(image, secondPass, run.tiles, run.corners);
  cfCheckerRefineCorners(image, params, run.tiles, run.corners);
  cfCheckerFitCorners(params, run.corners);
}

// Band cells of the fiducial (painted dark), plate cell indices.
bool isBandCell(long i, long j) {
  return (j == -4 && i >= -5 && i <= 1) || (i == -4 && j >= -3 && j <= 0);
}

bool insideImage(const ccVector<2>& p, long w, long h, double margin) {
  return std::isfinite(p.x()) && std::isfinite(p.y()) && p.x() >= -0.5 + margin &&
         p.y() >= -0.5 + margin && p.x() <= w - 0.5 - margin && p.y() <= h - 0.5 - margin;
}

}  // namespace

void cfRunCheckerStages(const ccPelBuffer_const<unsigned char>& image,
                        const ccCalib2VertexFeatureParams& params, ccCheckerStagesRun& run,
                        const ccAffineRectangle& fiducialRect1,
                        const ccAffineRectangle& fiducialRect2) {
  run.tiles.clear();
  run.corners.clear();
  run.blobList.clear();
  run.edgeMap = ccPelBuffer<unsigned char>();
  if (params.uniformLighting()) {
    ccPelBuffer<unsigned char> smoothed;
    cfGaussSample(
        image, ccGaussSampleParams(kDetectionSubsample, kDetectionHalfWidth, kDetectionSigma, true),
        smoothed);
    run.detection = smoothed;
  } else {
    run.detection = image;
  }
  cfCheckerFindTiles(run.detection, fiducialRect1, fiducialRect2, params.uniformLighting(),
                     run.tiles, run.edgeMap, run.blobResults, run.blobList);
  runPass(image, params, false, run);
}

void cfRunCheckerSecondPass(const ccPelBuffer_const<unsigned char>& image,
                            const ccCalib2VertexFeatureParams& params,
                            const ccAffineRectangle& fiducialRect1,
                            const ccAffineRectangle& fiducialRect2, ccCheckerStagesRun& run) {
  run.tiles.clear();
  run.corners.clear();
  cfCheckerTilesFromBlobs(run.detection, run.edgeMap, fiducialRect1, fiducialRect2, run.blobList,
                          false, run.tiles);
  runPass(image, params, true, run);
}

ccCheckerSceneImage cfRenderCheckerScene(const ccCheckerScene& s) {
  const long minCols = s.fiducial ? 9 : 3, minRows = s.fiducial ? 8 : 3;
  const long cols = std::max(minCols, std::lround(s.width * s.fill / s.squarePx));
  const long rows = std::max(minRows, std::lround(s.height * s.fill / s.squarePx));
  ccCheckerSceneImage out;
  out.plate = cfCheckerPlate(cols, rows, s.fiducial);
  const ccRect region = cfPatternRegion(out.plate);
  out.camera =
      s.perspective
          ? cfPlateCameraView(region, s.width, s.height, s.tiltX, s.tiltY, s.rotation, s.fill)
          : cfPlateCameraAffine(region, s.width, s.height, s.tiltX, s.tiltY, s.rotation, s.fill);
  ccPlateRenderParams p;
  p.width = s.width;
  p.height = s.height;
  p.supersample = s.supersample;
  p.blurSigma = s.blur;
  p.noiseSigma = s.noise;
  p.gradient = s.gradient;
  p.vignetting = s.vignetting;
  p.seed = s.seed;
  out.rendering = cfRenderPlate(out.plate, out.camera, p);
  return out;
}

ccCheckerScore cfScoreCheckerRun(const ccCheckerSceneImage& scene, const ccCheckerStagesRun& run,
                                 double tileMargin) {
  const ccCheckerPlate& plate = scene.plate;
  const ccPlateCamera& cam = scene.camera;
  const long w = scene.rendering.image.width(), h = scene.rendering.image.height();
  const long i0 = plate.firstCell.x(), j0 = plate.firstCell.y();
  const long i1 = i0 + plate.cols, j1 = j0 + plate.rows;  // one past the last cell
  auto at = [&](double i, double j) { return cam.imageFromPlate(ccVector<2>(i, j)); };
  ccCheckerScore score;
  char text[160];

  // Tiles.
  score.tilesTotal = static_cast<int>(run.tiles.size());
  for (long j = j0; j < j1; ++j) {
    for (long i = i0; i < i1; ++i) {
      if ((i + j) % 2 != 0 || (plate.fiducial && isBandCell(i, j))) continue;
      const ccVector<2> c[4] = {at(i, j), at(i + 1, j), at(i, j + 1), at(i + 1, j + 1)};
      bool inside = true;
      for (const ccVector<2>& p : c) inside = inside && insideImage(p, w, h, tileMargin);
      if (!inside) continue;
      ++score.tilesExpected;
      const ccVector<2> centre = at(i + 0.5, j + 0.5);
      const double side = std::min((c[1] - c[0]).length(), (c[2] - c[0]).length());
      bool found = false;
      for (const cc_Checker& t : run.tiles) {
        if ((t.centerOfMass - centre).length() < 0.25 * side) {
          found = true;
          break;
        }
      }
      if (found) {
        ++score.tilesFound;
      } else if (score.missing.size() < kMaxMissingListed) {
        std::snprintf(text, sizeof text, "tile (%ld, %ld) at (%.1f, %.1f)", i, j, centre.x(),
                      centre.y());
        score.missing.push_back(text);
      }
    }
  }

  // Valid corners against the nearest lattice point. Those at vertices touching a fiducial
  // band are counted apart: the end of a bar lies a quarter square from them, inside the
  // calipers' reach.
  std::map<std::pair<long, long>, double> nearestAtVertex;
  double sumSq = 0.0;
  int counted = 0;
  for (const cc_Corner& c : run.corners) {
    if (!c.valid) continue;
    ++score.validTotal;
    ccVector<2> onPlate(NAN, NAN);
    try {
      onPlate = cam.plateFromImage(c.position);
    } catch (const ccException&) {
    }
    const long li = std::clamp(std::lround(onPlate.x()), i0, i1),
               lj = std::clamp(std::lround(onPlate.y()), j0, j1);
    const double err = std::isfinite(onPlate.x()) ? (at(li, lj) - c.position).length() : 1e9;
    const bool atFiducial =
        plate.fiducial && (isBandCell(li - 1, lj - 1) || isBandCell(li, lj - 1) ||
                           isBandCell(li - 1, lj) || isBandCell(li, lj));
    if (atFiducial) {
      score.maxErrorAtFiducial = std::max(score.maxErrorAtFiducial, err);
    } else {
      score.maxError = std::max(score.maxError, err);
      sumSq += err * err;
      ++counted;
    }
    if (err > kCornerTolerance) {
      ++score.farCorners;
      score.farAtFiducial += atFiducial;
      continue;
    }
    auto key = std::make_pair(li, lj);
    auto it = nearestAtVertex.find(key);
    if (it == nearestAtVertex.end() || err < it->second) nearestAtVertex[key] = err;
  }
  if (counted > 0) score.rmsError = std::sqrt(sumSq / counted);

  // Expected X-junctions: a square or more inside the image.
  for (const ccPlateVertexTruth& v : scene.rendering.truth.vertices) {
    const long i = v.label.x(), j = v.label.y();
    bool inside = true;
    for (int dj = -1; dj <= 1 && inside; ++dj)
      for (int di = -1; di <= 1 && inside; ++di)
        inside = insideImage(at(i + di, j + dj), w, h, 0.0);
    if (!inside) continue;
    ++score.cornersExpected;
    if (nearestAtVertex.count(std::make_pair(i, j)) != 0) {
      ++score.cornersFound;
    } else if (score.missing.size() < kMaxMissingListed) {
      std::snprintf(text, sizeof text, "corner (%ld, %ld) at (%.1f, %.1f)", i, j, v.image.x(),
                    v.image.y());
      score.missing.push_back(text);
    }
  }
  return score;
}
