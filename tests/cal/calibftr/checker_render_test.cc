// SPDX-License-Identifier: Apache-2.0
// The checkerboard vertex extraction on rendered boards with exact ground truth: how often the
// board is found, whether every label is right (absolute with the fiducial, the plate's up to
// one grid symmetry and offset otherwise), and where the vertices lie, for every label mode
// under even lighting, a strong gradient, vignetting, a shadow, and boards cut by the image
// border. Prints a table per condition and mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>

#include "cal/calibftr/vertex_feature_extract.h"
#include "cal/checkerlabels/checker_labels.h"
#include "tests/support/checker_stages_driver.h"
#include "tools/plate/plate_render.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;

enum Condition { eEven, eGradient, eVignetting, eShadow, ePartial };
const char* const kConditionNames[] = {"even", "gradient", "vignetting", "shadow", "partial"};
const char* const kModeNames[] = {"none", "origin", "fiducial"};

struct View {
  double tiltX, tiltY, rotation;  // degrees
};
const View kViews[] = {{0, 0, 0}, {20, -10, 15}, {-15, 25, -35}, {10, 12, 170}, {30, 0, 80}};

constexpr long kWidth = 800, kHeight = 600;
// Largest distance of a returned vertex from its true position, pixels.
constexpr double kMaxPositionErrorPx = 0.5;
// The precision threshold of the filtered runs, pixels.
constexpr double kPrecisionPx = 0.25;

// Darkens the half-plane right of a line through the board, with a soft edge: a shadow.
void castShadow(ccPelBuffer<unsigned char>& img) {
  const double edgePx = 6.0, depth = 0.45;
  for (long y = 0; y < img.height(); ++y)
    for (long x = 0; x < img.width(); ++x) {
      const double s = (0.8 * (x - 0.55 * kWidth) + 0.6 * (y - 0.5 * kHeight)) / edgePx;
      const double shade = 1.0 - depth * std::clamp(0.5 + s, 0.0, 1.0);
      img.at(x, y) = static_cast<unsigned char>(std::lround(img.at(x, y) * shade));
    }
}

ccPlateRendering render(Condition c, const View& v, unsigned seed, ccPlateCamera& camera) {
  ccCheckerPlate plate = cfCheckerPlate(14, 11, true);
  ccRect region = cfPaperRegion(plate);
  if (c == ePartial) {
    // A larger board framed around its fiducial: the image border cuts it on two sides.
    plate.cols = 20, plate.rows = 16, plate.firstCell = ccPair<long>(-7, -6);
    region = ccRect(-8.0, -7.0, 12.0, 10.0);
  }
  camera = cfPlateCameraView(region, kWidth, kHeight, v.tiltX, v.tiltY, v.rotation, 0.9);
  ccPlateRenderParams p;
  p.width = kWidth, p.height = kHeight;
  p.blurSigma = 0.9, p.noiseSigma = 2.0, p.seed = seed;
  if (c == eGradient)
    p.gradient = ccVector<2>(1.2 / kWidth, 0.4 / kHeight);  // about 3:1 corner to corner
  if (c == eVignetting) p.vignetting = 0.55;
  ccPlateRendering r = cfRenderPlate(plate, camera, p);
  if (c == eShadow) castShadow(r.image);
  return r;
}

// The eight symmetries of the square grid, as integer 2 x 2 matrices (row-major).
const long kSymmetries[8][4] = {{1, 0, 0, 1},  {0, -1, 1, 0}, {-1, 0, 0, -1}, {0, 1, -1, 0},
                                {-1, 0, 0, 1}, {1, 0, 0, -1}, {0, 1, 1, 0},   {0, -1, -1, 0}};

struct Tally {
  int cases = 0, found = 0, wrongLabels = 0, far = 0, vertices = 0, expected = 0;
  double maxError = 0.0, sumError = 0.0;
};

// Checks one extraction against the camera's truth: each returned vertex belongs to the
// plate's grid point nearest to it (vertices along the fiducial bands count too, though the
// truth list leaves them out). Returns the number of wrong labels; counts vertices farther
// than kMaxPositionErrorPx from their grid point in t.far.
int wrongLabels(const ccPlateCamera& camera, const std::vector<ccCrspPairWeighted>& f,
                Defs::CorrespondMethod mode, const ccVector<2>& target, Tally& t) {
  std::vector<std::pair<ccPair<long>, ccPair<long>>> truthAndFound;
  for (const ccCrspPairWeighted& p : f) {
    const ccVector<2> plate = camera.plateFromImage(p.first);
    const ccPair<long> label(iRound(plate.x()), iRound(plate.y()));
    const double d = camera.imageFromPlate(ccVector<2>(label.x(), label.y())).distance(p.first);
    t.far += d > kMaxPositionErrorPx;
    t.maxError = std::max(t.maxError, d);
    t.sumError += d;
    truthAndFound.emplace_back(label, ccPair<long>(iRound(p.second.x()), iRound(p.second.y())));
  }
  int wrong = 0;
  if (mode == Defs::eUseFiducial) {
    for (const auto& tf : truthAndFound) wrong += tf.first != tf.second;
  } else if (!truthAndFound.empty()) {
    // The symmetry and offset that explain most labels; every other label is wrong.
    int bestAgree = 0;
    for (const auto& s : kSymmetries) {
      std::map<std::pair<long, long>, int> offsets;
      for (const auto& tf : truthAndFound) {
        const long x = s[0] * tf.first.x() + s[1] * tf.first.y(),
                   y = s[2] * tf.first.x() + s[3] * tf.first.y();
        bestAgree = std::max(bestAgree, ++offsets[{tf.second.x() - x, tf.second.y() - y}]);
      }
    }
    wrong += static_cast<int>(truthAndFound.size()) - bestAgree;
    // Label (0, 0) goes to the returned vertex nearest the target.
    const auto nearest =
        std::min_element(f.begin(), f.end(), [&target](const auto& a, const auto& b) {
          return a.first.distance(target) < b.first.distance(target);
        });
    wrong += nearest->second != ccVector<2>(0, 0);
  }
  return wrong;
}

// One extraction into the tally; false when nothing was found.
bool extractAndCheck(const ccPelBuffer_const<unsigned char>& image, const ccPlateCamera& camera,
                     const ccCalib2VertexFeatureParams& params, const ccVector<2>& target,
                     int expected, Tally& t) {
  ++t.cases;
  t.expected += expected;
  std::vector<ccCrspPairWeighted> f;
  try {
    cfCalib2VertexFeatureExtract(image, params, f);
  } catch (const Defs::Errors& e) {
    ADD_FAILURE() << "not found: " << e.messageUtf8() << " (" << e.persistentTypeName() << ")";
    return false;
  }
  if (f.empty()) return false;
  ++t.found;
  t.vertices += static_cast<int>(f.size());
  const int wrong = wrongLabels(camera, f, params.labelMode(), target, t);
  t.wrongLabels += wrong;
  EXPECT_EQ(wrong, 0);
  return true;
}

TEST(VertexFeatureRender, EveryModeAndLightingFindsTheBoardWithRightLabels) {
  std::map<std::string, Tally> table;
  unsigned seed = 1;
  for (Condition c : {eEven, eGradient, eVignetting, eShadow, ePartial}) {
    for (const View& v : kViews) {
      ccPlateCamera camera;
      const ccPlateRendering r = render(c, v, seed++, camera);
      int expected = 0;
      for (const ccPlateVertexTruth& tv : r.truth.vertices) expected += tv.inImage;
      for (Defs::CorrespondMethod mode : {Defs::eNone, Defs::eUseOrigin, Defs::eUseFiducial}) {
        SCOPED_TRACE(testing::Message() << kConditionNames[c] << " " << kModeNames[mode] << " view "
                                        << v.tiltX << "," << v.tiltY << "," << v.rotation);
        ccCalib2VertexFeatureParams params;
        params.labelMode(mode);
        params.uniformLighting(c == eEven || c == ePartial);
        const ccVector<2> origin = r.truth.anchor.image + ccVector<2>(4.0, -3.0);
        params.origin(origin);
        const ccVector<2> target =
            mode == Defs::eUseOrigin ? origin : ccVector<2>(0.5 * kWidth, 0.5 * kHeight);
        const std::string name = std::string(kConditionNames[c]) + " " + kModeNames[mode];
        extractAndCheck(r.image, camera, params, target, expected, table[name]);
        // The precision filter leaves only vertices measured all round and fitted closely.
        if (mode != Defs::eUseFiducial) continue;
        params.precisionThreshold(kPrecisionPx);
        Tally& filtered = table[name + " filtered"];
        const int farBefore = filtered.far;
        extractAndCheck(r.image, camera, params, target, expected, filtered);
        // A shadow's edge across a vertex bends the edges it is fitted from; reported only.
        if (c != eShadow) {
          EXPECT_EQ(filtered.far, farBefore);
        }
      }
    }
  }
  std::printf("%-30s %5s %5s %11s %6s %6s %8s %8s\n", "condition mode", "cases", "found",
              "vertices", "wrong", "far", "mean px", "max px");
  for (const auto& [name, t] : table) {
    std::printf("%-30s %5d %5d %5d/%-5d %6d %6d %8.3f %8.3f\n", name.c_str(), t.cases, t.found,
                t.vertices, t.expected, t.wrongLabels, t.far,
                t.vertices > 0 ? t.sumError / t.vertices : 0.0, t.maxError);
    EXPECT_GE(t.found, (95 * t.cases + 99) / 100) << name;
  }
}

TEST(VertexFeatureRender, RowsBeyondTheFirstBarAreLabelledFromTheSecondAnchor) {
  // The image cuts the board just beyond both ends of the fiducial's band, so the rows on
  // the far side of bar A connect to the anchor only through the corner mirrored across it.
  ccCheckerPlate plate = cfCheckerPlate(14, 11, true);
  plate.cols = 20, plate.rows = 16, plate.firstCell = ccPair<long>(-7, -6);
  for (const View& v : {View{0, 0, 0}, View{10, -8, 20}, View{-12, 6, 200}}) {
    SCOPED_TRACE(testing::Message() << v.tiltX << "," << v.tiltY << "," << v.rotation);
    const ccPlateCamera camera = cfPlateCameraView(ccRect(-5.4, -7.0, 7.8, 6.5), kWidth, kHeight,
                                                   v.tiltX, v.tiltY, v.rotation, 1.0);
    ccPlateRenderParams rp;
    rp.width = kWidth, rp.height = kHeight, rp.blurSigma = 0.9, rp.noiseSigma = 2.0;
    const ccPlateRendering r = cfRenderPlate(plate, camera, rp);
    ccCalib2VertexFeatureParams params(ccVector<2>(1, 1), Defs::eUseFiducial);
    std::vector<ccCrspPairWeighted> f;
    cfCalib2VertexFeatureExtract(r.image, params, f);
    Tally t;
    EXPECT_EQ(wrongLabels(camera, f, Defs::eUseFiducial, ccVector<2>(), t), 0);
    const auto beyond =
        std::count_if(f.begin(), f.end(), [](const auto& p) { return p.second.y() <= -5.0; });
    const auto below =
        std::count_if(f.begin(), f.end(), [](const auto& p) { return p.second.y() >= -2.0; });
    EXPECT_GE(beyond, 4);
    EXPECT_GE(below, 3);
  }
}

TEST(VertexFeatureRender, FiducialUnderAStrongRampIsFoundOnTheFlattenedBoard) {
  // Lighting from nothing at the left edge to more than double at the right, and 60 %
  // vignetting: no threshold splits the whole image, nor the board under its mask, but the
  // board minus its median background splits cleanly.
  const ccCheckerPlate plate = cfCheckerPlate(14, 11, true);
  const ccPlateCamera camera =
      cfPlateCameraView(cfPaperRegion(plate), kWidth, kHeight, 10, 5, 8, 0.7);
  ccPlateRenderParams rp;
  rp.width = kWidth, rp.height = kHeight, rp.blurSigma = 0.9, rp.noiseSigma = 2.0;
  rp.gradient = ccVector<2>(2.5 / kWidth, 0.0);
  rp.vignetting = 0.6;
  const ccPlateRendering r = cfRenderPlate(plate, camera, rp);

  ccCalib2VertexFeatureParams params(ccVector<2>(1, 1), Defs::eUseFiducial);
  params.uniformLighting(false);
  ccAffineRectangle rect1, rect2;
  ccVector<2> xStep, yStep, point;
  ASSERT_FALSE(cfCheckerFindFiducial(r.image, ccPelBuffer<unsigned char>(), params, rect1, rect2,
                                     xStep, yStep, point));
  ccCheckerStagesRun run;
  cfRunCheckerStages(r.image, params, run);
  ccPelBuffer<unsigned char> mask;
  unsigned long count = 0;
  cfCheckerCreateMask(run.corners, mask, count);
  ASSERT_FALSE(cfCheckerFindFiducial(r.image, mask, params, rect1, rect2, xStep, yStep, point));
  const ccPelBuffer<unsigned char> flat =
      cfCheckerFlattenBackground(r.image, mask, cfCheckerMedianSize(mask.window(), count));
  ASSERT_TRUE(cfCheckerFindFiducial(flat, mask, params, rect1, rect2, xStep, yStep, point));
  EXPECT_LT(point.distance(r.truth.fiducialImage), 1.0);

  // The extraction: refused under uniform lighting, found and labelled under uneven lighting.
  std::vector<ccCrspPairWeighted> f;
  params.uniformLighting(true);
  EXPECT_THROW(cfCalib2VertexFeatureExtract(r.image, params, f), Defs::FiducialNotFound);
  params.uniformLighting(false);
  cfCalib2VertexFeatureExtract(r.image, params, f);
  Tally t;
  EXPECT_GE(f.size(), 60u);
  EXPECT_EQ(wrongLabels(camera, f, Defs::eUseFiducial, ccVector<2>(), t), 0);
}

}  // namespace
