// SPDX-License-Identifier: Apache-2.0
// The robust dot-grid run against exact truth: rendered plates across views, lenses and
// lighting (every reported dot carries its own true label, none twice), dot centre accuracy
// and the perspective correction, the label conventions, scenes that hold no plate, and the
// real photographs.
#include "cal/calib/robust_dot_grid.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>

#include "platform/foundation/attention.h"
#include "tools/imageio/image_io.h"
#include "tools/plate/plate_render.h"

namespace {

struct Scene {
  const char* name;
  long cols, rows;
  double fill;                    // share of the tighter image side the grid spans; > 1 crops
  double tiltX, tiltY, rotation;  // degrees
  bool perspective;
  double k1;  // radial distortion at the image corners
  double blur, noise;
  bool lightDots, marker;
  double vignetting;
  double surround;  // grey level beyond the sheet; negative: none
  long width = 640, height = 480;
  int supersample = 4;  // 8 keeps the rendering's own error near 0.005 px at any rotation
  unsigned seed = 11;   // noise
};

struct Rendered {
  ccPlateRendering image;
  ccPlateCamera camera;
};

Rendered render(const Scene& s) {
  const ccDotPlate plate = cfDotPlate(s.cols, s.rows, s.marker);
  const ccRect region = cfPatternRegion(plate);
  Rendered r;
  r.camera =
      s.perspective
          ? cfPlateCameraView(region, s.width, s.height, s.tiltX, s.tiltY, s.rotation, s.fill)
          : cfPlateCameraAffine(region, s.width, s.height, s.tiltX, s.tiltY, s.rotation, s.fill);
  if (s.k1 != 0.0) {
    // Normalised so that the image corners sit at radius 0.83, inside the fold of k1 = -0.15.
    r.camera.distortion(ccVector<2>(0.5 * s.width, 0.5 * s.height),
                        0.6 * std::hypot(s.width, s.height), s.k1, 0.0);
  }
  ccPlateRenderParams p;
  p.width = s.width;
  p.height = s.height;
  p.blurSigma = s.blur;
  p.noiseSigma = s.noise;
  p.invert = s.lightDots;
  p.vignetting = s.vignetting;
  p.surroundLevel = s.surround;
  p.seed = s.seed;
  p.supersample = s.supersample;
  r.image = cfRenderPlate(plate, r.camera, p);
  return r;
}

struct Outcome {
  bool found = false;
  std::string error;
  int expected = 0;    // true dots wholly inside the image, at least 4 pixels across
  int reported = 0;    // dots reported
  int matched = 0;     // expected dots reported
  int wrong = 0;       // reported dots whose label is not their true dot's
  int duplicates = 0;  // labels reported twice
  double rms = 0.0;    // pixels, over all reported dots
  bool markerFound = false;
  double markerError = std::numeric_limits<double>::infinity();
};

// Is the true dot wholly inside the image (2 pixels clear) and at least 4 pixels across?
bool measurable(const Rendered& r, const ccPlateDotTruth& d) {
  double minor = std::numeric_limits<double>::infinity();
  for (int k = 0; k < 16; ++k) {
    const ccVector<2> rim(0.25 * std::cos(k * ccPi / 8), 0.25 * std::sin(k * ccPi / 8));
    const ccVector<2> p = r.camera.imageFromPlate(d.plate + rim);
    if (!(p.x() >= 1.5 && p.y() >= 1.5 && p.x() <= r.image.image.width() - 2.5 &&
          p.y() <= r.image.image.height() - 2.5)) {
      return false;
    }
    minor = std::min(minor, (p - r.camera.imageFromPlate(d.plate - rim)).length());
  }
  return minor >= 4.0;
}

// Scores the reported dots against the truth. Each reported dot is matched to its nearest
// true dot; its label must be that dot's index under one grid symmetry and offset shared by
// all dots (the majority's), or exactly its index counted from the marker cell when the run
// reports the marker.
Outcome score(const Rendered& r, const ccGridCalibResults& res,
              const std::vector<ccPair<long>>& labels) {
  Outcome o;
  o.found = true;
  const std::vector<ccPlateDotTruth>& truth = r.image.truth.dots;
  std::set<std::size_t> expected;
  for (std::size_t k = 0; k < truth.size(); ++k)
    if (measurable(r, truth[k])) expected.insert(k);
  o.expected = static_cast<int>(expected.size());
  const std::vector<ccVector<2>> pts = res.imagePoints();
  o.reported = static_cast<int>(pts.size());
  std::vector<std::size_t> nearest(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) {
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < truth.size(); ++k) {
      if ((truth[k].image - pts[i]).length() < best) {
        best = (truth[k].image - pts[i]).length();
        nearest[i] = k;
      }
    }
  }
  static const long kSymmetries[8][4] = {{1, 0, 0, 1},   {-1, 0, 0, 1}, {1, 0, 0, -1},
                                         {-1, 0, 0, -1}, {0, 1, 1, 0},  {0, -1, 1, 0},
                                         {0, 1, -1, 0},  {0, -1, -1, 0}};
  std::map<std::tuple<int, long, long>, int> votes;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const ccPair<long> t = truth[nearest[i]].index;
    for (int s = 0; s < 8; ++s) {
      const long* m = kSymmetries[s];
      ++votes[{s, labels[i].x() - (m[0] * t.x() + m[1] * t.y()),
               labels[i].y() - (m[2] * t.x() + m[3] * t.y())}];
    }
  }
  std::tuple<int, long, long> rule(0, 0, 0);
  int most = -1;
  for (const auto& v : votes) {
    if (v.second > most) {
      most = v.second;
      rule = v.first;
    }
  }
  o.markerFound = res.isMarkerFound();
  if (o.markerFound) {
    rule = {0, -r.image.truth.markerCell.x(), -r.image.truth.markerCell.y()};
    o.markerError = (res.markerPointInImage() - r.image.truth.markerImage).length();
  }
  std::set<std::pair<long, long>> seenLabels;
  std::set<std::size_t> seenTruth;
  double sum = 0.0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const ccPair<long> t = truth[nearest[i]].index;
    const long* m = kSymmetries[std::get<0>(rule)];
    const ccPair<long> want(m[0] * t.x() + m[1] * t.y() + std::get<1>(rule),
                            m[2] * t.x() + m[3] * t.y() + std::get<2>(rule));
    if (labels[i] != want) ++o.wrong;
    if (!seenLabels.insert({labels[i].x(), labels[i].y()}).second) ++o.duplicates;
    if (seenTruth.insert(nearest[i]).second && expected.count(nearest[i])) ++o.matched;
    sum += (truth[nearest[i]].image - pts[i]).lengthSq();
  }
  o.rms = pts.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(pts.size()));
  return o;
}

Outcome run(const Rendered& r, const ccRobustGridOptions& options = ccRobustGridOptions()) {
  ccGridCalibResults res;
  std::vector<ccPair<long>> labels;
  try {
    cfCalibrationRunRobust(r.image.image,
                           ccGridCalibParams(1.0, 1.0, true, ccCalibDefs::eGridLinear), options,
                           res, labels);
  } catch (const ccCalibDefs::Errors& e) {
    Outcome o;
    o.error = e.persistentTypeName();
    return o;
  }
  return score(r, res, labels);
}

// Views, lenses, framings and lighting. Every case: the plate is found, 95 % of its
// measurable dots are reported, every label is right and none repeats, and the marker,
// where the plate has one, anchors the labels and lands within a tenth of a pixel.
TEST(RobustDotGrid, RenderedSweepLabelsEveryDotRight) {
  const Scene scenes[] = {
      // name, cols, rows, fill, tiltX, tiltY, rotation, perspective, k1, blur, noise, light,
      // marker, vignetting, surround
      {"facing, marker", 10, 8, 0.9, 0, 0, 3, true, 0, 1.0, 2, false, true, 0, -1},
      {"turned 45", 10, 8, 0.8, 0, 0, 45, true, 0, 1.0, 2, false, false, 0, -1},
      {"turned 135, light dots", 10, 8, 0.8, 10, 0, 135, true, 0, 1.0, 2, true, true, 0, -1},
      {"turned 260, marker", 11, 9, 0.85, 15, 5, 260, true, 0, 0.8, 1, false, true, 0, -1},
      {"tilt 30", 12, 9, 0.9, 30, 0, 20, true, 0, 1.0, 2, false, true, 0, -1},
      {"tilt 45 oblique", 12, 9, 0.85, 32, 32, 70, true, 0, 1.0, 2, false, false, 0, -1},
      {"tilt 60", 10, 8, 0.9, 60, 0, 10, true, 0, 1.0, 2, false, true, 0, -1},
      {"tilt 60 on the diagonal, affine", 12, 10, 0.9, 42, 42, 0, false, 0, 0.8, 2, false, false, 0,
       -1},
      {"barrel k1 -0.15", 12, 9, 0.95, 10, 0, 8, true, -0.15, 1.0, 2, false, true, 0, -1},
      {"pincushion k1 +0.15", 12, 9, 0.85, 0, 10, -5, true, 0.15, 1.0, 2, false, false, 0, -1},
      {"fill 20 %", 7, 5, 0.2, 0, 0, 30, true, 0, 0.8, 1, false, false, 0, -1},
      {"fill 25 %, light surround", 8, 6, 0.25, 20, 0, -20, true, 0, 1.0, 2, false, true, 0, 250},
      {"light dots, dark surround", 10, 8, 0.6, 25, 0, 15, true, 0, 1.0, 2, true, true, 0, 15},
      {"vignetting 0.45", 12, 9, 0.95, 0, 0, 2, true, 0, 1.0, 2, false, true, 0.45, -1},
      {"vignetting 0.45, light surround", 12, 9, 0.7, 20, 0, 5, true, 0, 1.0, 2, false, true, 0.45,
       250},
      {"partial view", 12, 9, 1.5, 0, 0, 20, true, 0, 1.0, 2, false, true, 0, -1},
      {"partial view, tilt 40", 12, 9, 1.3, 40, 0, 200, true, 0, 1.0, 2, false, false, 0, -1},
      {"blur 2, noise 3", 10, 8, 0.9, 10, 0, 5, true, 0, 2.0, 3, false, true, 0, -1},
      {"small dots", 30, 22, 0.95, 10, 0, 4, true, 0, 0.8, 2, false, true, 0, -1},
      {"all at once", 12, 9, 0.75, 35, 25, 300, true, 0.1, 1.5, 2, true, true, 0.3, 10},
  };
  std::printf("%-34s %6s %5s %7s %5s %4s %7s %s\n", "scene", "found", "dots", "matched", "wrong",
              "dup", "rms px", "marker px");
  for (const Scene& s : scenes) {
    SCOPED_TRACE(s.name);
    const Rendered r = render(s);
    const Outcome o = run(r);
    std::printf("%-34s %6s %5d %7.1f%% %5d %4d %7.4f %s\n", s.name,
                o.found ? "yes" : o.error.c_str(), o.reported,
                o.expected ? 100.0 * o.matched / o.expected : 0.0, o.wrong, o.duplicates, o.rms,
                o.markerFound ? std::to_string(o.markerError).c_str() : "-");
    ASSERT_TRUE(o.found) << o.error;
    EXPECT_GE(o.matched, 0.95 * o.expected);
    EXPECT_EQ(o.wrong, 0);
    EXPECT_EQ(o.duplicates, 0);
    EXPECT_LT(o.rms, s.blur >= 1.5 ? 0.08 : 0.04);
    if (s.marker) {
      EXPECT_TRUE(o.markerFound);
      EXPECT_LT(o.markerError, 0.1);
    } else {
      EXPECT_FALSE(o.markerFound);
    }
  }
}

// Regression: dots about 3 pixels across, half of which the regional threshold misses, let
// the lattice grow over every other dot (the diagonals pass for the nearest neighbours);
// the dots found inside its cells make it grow again over all of them.
TEST(RobustDotGrid, LatticeOverEveryOtherDotGrowsAgain) {
  Scene tiny{"tiny dots", 11, 9, 0.24, 40, -37, 293, false, 0.128, 0.6, 2.8, true, true, 0.36, 14};
  tiny.seed = 7;
  const Outcome o = run(render(tiny));
  ASSERT_TRUE(o.found) << o.error;
  EXPECT_EQ(o.wrong, 0);
  EXPECT_GE(o.reported, 95);  // of 99
  EXPECT_TRUE(o.markerFound);
}

// Dot centres to 0.02 pixel RMS under noise of 2 grey levels; on a tilted plate the
// perspective correction removes most of the ellipse-centre bias and never adds error.
TEST(RobustDotGrid, CentresAreAccurateAndPerspectiveCorrectionHelps) {
  for (double rotation : {3.0, 45.0}) {
    SCOPED_TRACE(rotation);
    Scene facing{"facing", 10, 8, 0.9, 0, 0, rotation, true, 0, 1.0, 2, false, false, 0, -1};
    facing.supersample = 8;
    const Outcome flat = run(render(facing));
    ASSERT_TRUE(flat.found);
    EXPECT_LT(flat.rms, 0.02);
  }

  ccRobustGridOptions plain;
  plain.correctPerspective = false;
  for (double tilt : {30.0, 55.0}) {
    SCOPED_TRACE(tilt);
    Scene tilted{"tilted", 12, 9, 0.9, tilt, 0, 10, true, 0, 1.0, 2, false, false, 0, -1};
    tilted.supersample = 8;
    const Rendered r = render(tilted);
    const Outcome corrected = run(r), uncorrected = run(r, plain);
    ASSERT_TRUE(corrected.found && uncorrected.found);
    std::printf("tilt %.0f: rms %.4f px without, %.4f px with the perspective correction\n", tilt,
                uncorrected.rms, corrected.rms);
    EXPECT_LT(corrected.rms, 0.5 * uncorrected.rms);
    EXPECT_LT(corrected.rms, 0.025);
  }
}

// Without a marker: (0, 0) is the dot nearest the dots' centroid, label x runs along the
// lattice axis nearest image +x and label y along the other, towards image +y, whatever the
// plate's rotation.
TEST(RobustDotGrid, LabelsWithoutMarkerFollowTheImageAxes) {
  for (double rotation : {30.0, 120.0, 200.0, -75.0}) {
    SCOPED_TRACE(rotation);
    const Rendered r =
        render({"turned", 9, 7, 0.8, 15, 0, rotation, true, 0, 1.0, 1, false, false, 0, -1});
    ccGridCalibResults res;
    std::vector<ccPair<long>> labels;
    cfCalibrationRunRobust(r.image.image,
                           ccGridCalibParams(1.0, 1.0, true, ccCalibDefs::eGridLinear),
                           ccRobustGridOptions(), res, labels);
    const std::vector<ccVector<2>> pts = res.imagePoints();
    ccVector<2> centroid;
    for (const ccVector<2>& p : pts) centroid += p;
    centroid /= static_cast<double>(pts.size());
    std::map<std::pair<long, long>, ccVector<2>> at;
    std::size_t nearest = 0;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      at[{labels[i].x(), labels[i].y()}] = pts[i];
      if ((pts[i] - centroid).length() < (pts[nearest] - centroid).length()) nearest = i;
    }
    EXPECT_EQ(labels[nearest], ccPair<long>(0, 0));
    ASSERT_TRUE(at.count({1, 0}) && at.count({0, 1}));
    const ccVector<2> ux = (at[{1, 0}] - at[{0, 0}]).unit(), uy = (at[{0, 1}] - at[{0, 0}]).unit();
    EXPECT_GE(std::fabs(ux.x()), std::fabs(uy.x()));
    EXPECT_GT(ux.x(), 0.0);
    EXPECT_GT(uy.y(), 0.0);
  }
}

// Plate positions are the labels times the pitches, with label y negated on a right-handed
// plate; a plate size smaller than the lattice is refused; the polarity is honoured.
TEST(RobustDotGrid, PitchesHandednessPlateSizeAndPolarity) {
  const Rendered r = render({"facing", 10, 8, 0.9, 10, 0, 3, true, 0, 1.0, 1, false, true, 0, -1});
  ccGridCalibResults res;
  std::vector<ccPair<long>> labels;
  cfCalibrationRunRobust(r.image.image,
                         ccGridCalibParams(2.0, 3.0, false, ccCalibDefs::eGridPolynomialOrder3),
                         ccRobustGridOptions(), res, labels);
  const std::vector<ccVector<2>> pts = res.imagePoints(), residuals = res.residuals(true);
  ASSERT_EQ(pts.size(), labels.size());
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const ccVector<2> plate = res.clientFromImageXformBase()->mapPoint(pts[i]) + residuals[i];
    EXPECT_NEAR(plate.x(), 2.0 * labels[i].x(), 1e-9);
    EXPECT_NEAR(plate.y(), -3.0 * labels[i].y(), 1e-9);
  }
  EXPECT_LT(res.maximumResidual(), 0.01);
  EXPECT_EQ(res.polarity(), ccCalibDefs::ePolarityInverted);

  ccRobustGridOptions size;
  size.rows = 8;
  size.cols = 10;
  EXPECT_NO_THROW(cfCalibrationRunRobust(
      r.image.image, ccGridCalibParams(1.0, 1.0, true, ccCalibDefs::eGridLinear), size, res,
      labels));
  size.rows = 7;
  EXPECT_THROW(cfCalibrationRunRobust(r.image.image,
                                      ccGridCalibParams(1.0, 1.0, true, ccCalibDefs::eGridLinear),
                                      size, res, labels),
               ccCalibDefs::BadCorrespondence);
  EXPECT_TRUE(labels.empty());
  const ccGridCalibParams lightOnly(1.0, 1.0, true, ccCalibDefs::eGridLinear,
                                    ccCalibDefs::ePolarityNormal);
  EXPECT_THROW(cfCalibrationRunRobust(r.image.image, lightOnly, ccRobustGridOptions(), res, labels),
               ccCalibDefs::TooFewDotsFound);
}

TEST(RobustDotGrid, BadArgumentsAreRefused) {
  const ccPelBuffer<unsigned char> image(64, 64);
  const ccGridCalibParams params(1.0, 1.0, true, ccCalibDefs::eGridLinear);
  ccGridCalibResults res;
  std::vector<ccPair<long>> labels;
  ccRobustGridOptions o;
  o.minDots = 3;
  EXPECT_THROW(cfCalibrationRunRobust(image, params, o, res, labels), ccCalibDefs::BadParam);
  o = ccRobustGridOptions();
  o.rows = -1;
  EXPECT_THROW(cfCalibrationRunRobust(image, params, o, res, labels), ccCalibDefs::BadParam);
  EXPECT_THROW(cfCalibrationRunRobust(ccPelBuffer<unsigned char>(), params, ccRobustGridOptions(),
                                      res, labels),
               ccPel::UnboundWindow);
  // A deadline that has passed stops the run at its next check.
  const ccAttention::Scope expired(std::chrono::steady_clock::duration::zero());
  EXPECT_THROW(cfCalibrationRunRobust(ccPelBuffer<unsigned char>(320, 240), params,
                                      ccRobustGridOptions(), res, labels),
               ccTimeout);
}

// Scenes without a dot plate are refused, never calibrated.
TEST(RobustDotGrid, NoiseTexturesAndCheckerboardsAreRefused) {
  std::vector<std::pair<std::string, ccPelBuffer<unsigned char>>> scenes;
  std::mt19937 rng(3);
  for (int smoothing : {0, 2, 5}) {
    // Noise, box-smoothed `smoothing` times into blobs of growing size.
    std::normal_distribution<double> n(128.0, 40.0);
    std::vector<double> v(640 * 480);
    for (double& x : v) x = n(rng);
    for (int pass = 0; pass < smoothing; ++pass) {
      std::vector<double> s = v;
      for (long y = 1; y < 479; ++y)
        for (long x = 1; x < 639; ++x)
          s[y * 640 + x] = (v[y * 640 + x - 1] + v[y * 640 + x + 1] + v[(y - 1) * 640 + x] +
                            v[(y + 1) * 640 + x] + v[y * 640 + x]) /
                           5.0;
      v = s;
    }
    double mean = 0.0;
    for (double x : v) mean += x / static_cast<double>(v.size());
    ccPelBuffer<unsigned char> image(640, 480);
    for (long y = 0; y < 480; ++y)
      for (long x = 0; x < 640; ++x)
        image.at(x, y) = static_cast<unsigned char>(
            std::clamp(128.0 + 3.0 * (v[y * 640 + x] - mean), 0.0, 255.0));
    scenes.emplace_back("noise smoothed " + std::to_string(smoothing), image);
  }
  for (bool fiducial : {false, true}) {
    const ccCheckerPlate board = cfCheckerPlate(12, 9, fiducial);
    ccPlateRenderParams p;
    p.width = 640;
    p.height = 480;
    p.blurSigma = 1.0;
    p.noiseSigma = 2.0;
    scenes.emplace_back(
        fiducial ? "checkerboard, fiducial" : "checkerboard",
        cfRenderPlate(board, cfPlateCameraView(cfPatternRegion(board), 640, 480, 25, 0, 10, 0.8), p)
            .image);
  }
  scenes.emplace_back("blank", ccPelBuffer<unsigned char>(640, 480));
  for (const auto& [name, image] : scenes) {
    SCOPED_TRACE(name);
    ccGridCalibResults res;
    std::vector<ccPair<long>> labels;
    try {
      cfCalibrationRunRobust(image, ccGridCalibParams(1.0, 1.0, true, ccCalibDefs::eGridLinear),
                             ccRobustGridOptions(), res, labels);
      ADD_FAILURE() << "calibrated " << labels.size() << " dots";
    } catch (const ccCalibDefs::TooFewDotsFound&) {
    } catch (const ccCalibDefs::BadCorrespondence&) {
    }
  }
}

// The randomised sweep behind the figures of the issue, too slow for every run: scenes drawn
// across tilt 0-60, any rotation, k1 up to +-0.15, fills 0.2 to 1 and partial views,
// surrounds, vignetting, blur and noise; a table per condition. Run it with
// --gtest_also_run_disabled_tests --gtest_filter='*RandomisedSweep*' (CCALIB_SWEEP_CASES
// sets the number of scenes, 400 by default).
TEST(RobustDotGrid, DISABLED_RandomisedSweep) {
  const char* count = std::getenv("CCALIB_SWEEP_CASES");
  const int n = count ? std::atoi(count) : 400;
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  struct Tally {
    int scenes = 0, found = 0, expected = 0, matched = 0, wrong = 0, duplicates = 0, markers = 0,
        markersFound = 0;
    double worstRms = 0.0;
  };
  std::map<std::string, Tally> tally;
  for (int k = 0; k < n; ++k) {
    Scene s{"random",
            6 + static_cast<long>(u(rng) * 13),
            5 + static_cast<long>(u(rng) * 10),
            0,
            0,
            0,
            0,
            true,
            0,
            0,
            0,
            false,
            false,
            0,
            -1};
    s.fill = u(rng) < 0.2 ? 1.0 + 0.6 * u(rng) : 0.2 + 0.8 * u(rng);
    const double tilt = 60.0 * u(rng), towards = 2.0 * ccPi * u(rng);
    s.tiltX = tilt * std::cos(towards);
    s.tiltY = tilt * std::sin(towards);
    s.rotation = 360.0 * u(rng);
    s.perspective = u(rng) < 0.8;
    s.k1 = u(rng) < 0.4 ? 0.3 * u(rng) - 0.15 : 0.0;
    s.blur = 2.0 * u(rng);
    s.noise = 3.0 * u(rng);
    s.lightDots = u(rng) < 0.3;
    s.marker = u(rng) < 0.5;
    s.vignetting = u(rng) < 0.4 ? 0.45 * u(rng) : 0.0;
    const double surround = u(rng);
    s.surround = surround < 0.3 ? -1.0 : surround < 0.65 ? 230.0 + 25.0 * u(rng) : 30.0 * u(rng);
    const Rendered r = render(s);
    const Outcome o = run(r);
    if (o.expected < 12) continue;  // the plate's dots are too small or too few to ask for
    const bool markerVisible =
        s.marker && r.image.truth.markerImage.x() > 0 && r.image.truth.markerImage.y() > 0 &&
        r.image.truth.markerImage.x() < s.width && r.image.truth.markerImage.y() < s.height;
    const std::string tiltBand = tilt < 20 ? "tilt 0-20" : tilt < 40 ? "tilt 20-40" : "tilt 40-60";
    const std::string fillBand = s.fill > 1.0   ? "partial view"
                                 : s.fill < 0.5 ? "fill 20-50 %"
                                                : "fill 50-100 %";
    const std::string lens = s.k1 == 0.0 ? "no distortion" : "k1 up to 0.15";
    const std::string around = s.surround < 0     ? "no surround"
                               : s.surround > 100 ? "light surround"
                                                  : "dark surround";
    const std::string light = s.vignetting > 0 ? "vignetting up to 0.45" : "even light";
    for (const std::string& key : {std::string("all"), tiltBand, fillBand, lens, around, light,
                                   std::string(s.lightDots ? "light dots" : "dark dots"),
                                   std::string(s.marker ? "marker" : "no marker")}) {
      Tally& t = tally[key];
      ++t.scenes;
      t.found += o.found;
      t.expected += o.expected;
      t.matched += o.matched;
      t.wrong += o.wrong;
      t.duplicates += o.duplicates;
      t.markers += markerVisible;
      t.markersFound += markerVisible && o.markerFound;
      t.worstRms = std::max(t.worstRms, o.rms);
    }
    EXPECT_EQ(o.wrong, 0) << "scene " << k;
    EXPECT_EQ(o.duplicates, 0) << "scene " << k;
  }
  std::printf("%-24s %6s %8s %8s %6s %5s %9s %8s\n", "condition", "scenes", "found", "dots",
              "wrong", "dup", "markers", "max rms");
  for (const auto& [key, t] : tally) {
    std::printf("%-24s %6d %7.1f%% %7.2f%% %6d %5d %4d/%-4d %8.4f\n", key.c_str(), t.scenes,
                100.0 * t.found / t.scenes, 100.0 * t.matched / std::max(1, t.expected), t.wrong,
                t.duplicates, t.markersFound, t.markers, t.worstRms);
  }
  EXPECT_GE(tally["all"].found, 0.95 * tally["all"].scenes);
}

std::string dataPath(const std::string& file) {
  return std::string(CCALIB_REALDATA_DIR) + "/" + file;
}

// The metal plate (14 x 16 dots; the 4 larger dots at row-major 69, 74, 149, 154 may drop
// out) on every photo, each dot labelled once within the plate's span; the printed 6 x 6
// grid on each of its photos, no extra dot.
TEST(RobustDotGridRealData, PhotosGiveThePlateDots) {
  if (!std::ifstream(dataPath("dots-visp/circles-01.png")).good()) GTEST_SKIP() << "no real data";
  struct Photo {
    const char* file;
    long cols, rows;
    std::size_t least;
  };
  const Photo photos[] = {
      {"dots-metal/metal-14_08_32.png", 16, 14, 220},
      {"dots-metal/metal-14_09_35.png", 16, 14, 220},
      {"dots-metal/metal-14_10_22.png", 16, 14, 220},
      {"dots-metal/metal-14_10_45.png", 16, 14, 220},
      {"dots-metal/metal-14_11_22.png", 16, 14, 220},
      {"dots-metal/metal-14_11_56.png", 16, 14, 220},
      {"dots-metal/metal-14_12_04.png", 16, 14, 220},
      {"dots-metal/metal-14_12_24.png", 16, 14, 220},
      {"dots-metal/metal-14_12_44.png", 16, 14, 220},
      {"dots-metal/metal-14_13_18.png", 16, 14, 220},
      {"dots-visp/circles-01.png", 6, 6, 36},
      {"dots-visp/circles-02.png", 6, 6, 36},
      {"dots-visp/circles-03.png", 6, 6, 36},
  };
  for (const Photo& ph : photos) {
    SCOPED_TRACE(ph.file);
    ccRobustGridOptions o;
    o.rows = ph.rows;
    o.cols = ph.cols;
    ccGridCalibResults res;
    std::vector<ccPair<long>> labels;
    const ccPelBuffer<unsigned char> image = cfReadImage(dataPath(ph.file));
    const auto start = std::chrono::steady_clock::now();
    cfCalibrationRunRobust(image,
                           ccGridCalibParams(1.0, 1.0, true, ccCalibDefs::eGridPolynomialOrder5), o,
                           res, labels);
    std::printf("%-30s %3zu dots, order-5 residual max %.4f mean %.4f pitch, %.1f ms\n", ph.file,
                labels.size(), res.maximumResidual(), res.averageResidual(),
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
    EXPECT_GE(labels.size(), ph.least);
    EXPECT_LE(labels.size(), static_cast<std::size_t>(ph.cols * ph.rows));
    const std::set<std::pair<long, long>> unique = [&] {
      std::set<std::pair<long, long>> u;
      for (const ccPair<long>& l : labels) u.insert({l.x(), l.y()});
      return u;
    }();
    EXPECT_EQ(unique.size(), labels.size());
    // Order-5 residuals of a correctly labelled photo stay at a few hundredths of a pitch.
    EXPECT_LT(res.maximumResidual(), 0.03);
  }
}

}  // namespace
