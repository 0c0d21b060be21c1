// SPDX-License-Identifier: Apache-2.0
// Checker finder through its C interface: statuses and records, cancellation across the C
// boundary, and the finder on rendered boards (accuracy and labels against the renderer's
// exact truth) and on the shared real photographs.
#include "platform/checkerfinder/checker_finder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/checkerfinder/checker_finder_image.h"
#include "platform/checkerfinder/junction_candidates.h"
#include "platform/foundation/attention.h"
#include "tests/support/checker_finder_run.h"
#include "tests/support/synthetic.h"
#include "tools/imageio/image_io.h"

extern "C" cclft_status cclftCheckFromC(const unsigned char* pixels, int width, int height);

namespace {

// ---------------------------------------------------------------------------------------
// The C interface.

TEST(CheckerFinderC, CompilesAndRunsFromC) {
  // A flat image has no board: the C caller sees the status, and nothing leaks.
  std::vector<unsigned char> flat(64 * 48, 128);
  EXPECT_EQ(cclftCheckFromC(flat.data(), 64, 48), CCLFT_STATUS_NO_BOARD);
  EXPECT_EQ(cclftLiveResultSets(), 0);
}

TEST(CheckerFinderC, RefusesBadArguments) {
  cclft_calibrationCheckerFinderParams p;
  ASSERT_EQ(cclft_calibrationCheckerFinderParams_construct(&p), CCLFT_STATUS_OK);
  cclft_calibrationCheckerFinderResultSet* rs = nullptr;
  ASSERT_EQ(cclft_calibrationCheckerFinderResultSet_construct(&rs), CCLFT_STATUS_OK);
  std::vector<unsigned char> px(32 * 32, 0);
  cimg_image8Const view{px.data(), 32, 32, 32, 0, 0};

  cimg_image8Const unbound = view;
  unbound.data = nullptr;
  EXPECT_EQ(cclft_calibrationCheckerFinder_run(&unbound, &p, rs), CCLFT_STATUS_UNBOUND_IMAGE);
  cimg_image8Const shortStride = view;
  shortStride.stride = 31;
  EXPECT_EQ(cclft_calibrationCheckerFinder_run(&shortStride, &p, rs), CCLFT_STATUS_BAD_IMAGE);
  EXPECT_EQ(cclft_calibrationCheckerFinder_run(&view, nullptr, rs), CCLFT_STATUS_BAD_PARAMS);

  struct Edit {
    const char* what;
    void (*apply)(cclft_calibrationCheckerFinderParams&);
  };
  const Edit edits[] = {
      {"fiducial labels without the fiducial",
       [](cclft_calibrationCheckerFinderParams& q) { q.labelMode = CCLFT_LABEL_FIDUCIAL; }},
      {"unknown label mode", [](cclft_calibrationCheckerFinderParams& q) { q.labelMode = 0; }},
      {"NaN precision",
       [](cclft_calibrationCheckerFinderParams& q) { q.precisionThreshold = NAN; }},
      {"negative precision",
       [](cclft_calibrationCheckerFinderParams& q) { q.precisionThreshold = -1; }},
      {"NaN start point", [](cclft_calibrationCheckerFinderParams& q) { q.startPoint.y = NAN; }},
      {"too few vertices", [](cclft_calibrationCheckerFinderParams& q) { q.minVertices = 3; }},
      {"zero weight floor",
       [](cclft_calibrationCheckerFinderParams& q) { q.weightSigmaFloor = 0; }},
  };
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.what);
    cclft_calibrationCheckerFinderParams q = p;
    e.apply(q);
    EXPECT_EQ(cclft_calibrationCheckerFinder_run(&view, &q, rs), CCLFT_STATUS_BAD_PARAMS);
  }
  EXPECT_EQ(cclft_calibrationCheckerFinder_run(&view, &p, rs), CCLFT_STATUS_NO_BOARD);
  EXPECT_EQ(cclft_calibrationCheckerFinderResultSet_destruct(rs), CCLFT_STATUS_OK);
}

TEST(CheckerFinderC, CancellationIsParkedForTheCppCaller) {
  const ccRenderedView b = cfRenderCheckerView(ccCheckerView{});
  ccAttention::Scope expired(std::chrono::steady_clock::duration::zero());
  const ccFinderRun r = cfRunCheckerFinder(b.rendering.image, false, ccVector<2>(320, 240));
  EXPECT_EQ(r.status, CCLFT_STATUS_INTERRUPTED);
  EXPECT_TRUE(r.pairs.empty());
  std::exception_ptr e = cclftTakePendingException();
  ASSERT_TRUE(e);
  EXPECT_THROW(std::rethrow_exception(e), ccTimeout);
  EXPECT_FALSE(cclftTakePendingException());
}

// ---------------------------------------------------------------------------------------
// The junction response: junctions score high, everything else near or below zero.

TEST(CheckerFinderResponse, ScoresJunctionsAboveEdgesCornersAndBlobs) {
  struct Shape {
    const char* name;
    std::function<bool(double, double)> inside;
    bool junction;
  };
  const double c = 32.3;  // the centre, off the pixel grid
  auto turned = [c](double x, double y, double deg, double& u, double& v) {
    const double a = deg * M_PI / 180;
    u = std::cos(a) * (x - c) + std::sin(a) * (y - c);
    v = -std::sin(a) * (x - c) + std::cos(a) * (y - c);
  };
  const Shape shapes[] = {
      {"junction", [&](double x, double y) { return (x < c) == (y < c); }, true},
      {"junction turned 30 degrees",
       [&](double x, double y) {
         double u, v;
         turned(x, y, 30, u, v);
         return (u < 0) == (v < 0);
       },
       true},
      {"junction, 60 degree sectors",
       [&](double x, double y) {
         double u, v;
         turned(x, y, 0, u, v);
         return (u < 0.58 * v) == (u < -0.58 * v);
       },
       true},
      {"edge", [&](double x, double) { return x < c; }, false},
      {"L-corner", [&](double x, double y) { return x < c && y < c; }, false},
      {"blob", [&](double x, double y) { return std::hypot(x - c, y - c) < 4; }, false},
      {"line", [&](double x, double) { return std::fabs(x - c) < 1.5; }, false},
  };
  for (const Shape& s : shapes) {
    SCOPED_TRACE(s.name);
    ccSyntheticSpec spec;
    spec.width = spec.height = 64;
    spec.blurSigma = 0.7;
    const ccPelBuffer<unsigned char> im = cfSyntheticImage(spec, s.inside);
    const cclft_internal::GrayView view{im.row(0), im.rowUpdate(), 64, 64};
    int best = -100000;
    for (int y = 29; y <= 35; ++y) {
      for (int x = 29; x <= 35; ++x)
        best = std::max(best, cclft_internal::cfJunctionResponse(view, x, y));
    }
    // Contrast 150: a junction scores several hundred, the rest at most a small fraction.
    if (s.junction) {
      EXPECT_GT(best, 3 * 150);
    } else {
      EXPECT_LT(best, 150);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Rendered boards.

struct Condition {
  const char* name;
  void (*edit)(ccCheckerView&);
  double minFoundFraction;  // of the vertices in view
  double maxRms;            // pixels
};

TEST(CheckerFinderRendered, FindsAndLabelsAcrossConditions) {
  const Condition conditions[] = {
      {"dark margin", [](ccCheckerView&) {}, 1.0, 0.03},
      {"light margin", [](ccCheckerView& b) { b.margin = 0; }, 1.0, 0.03},
      {"small in view",
       [](ccCheckerView& b) {
         b.width = 1280;
         b.height = 960;
         b.fill = 0.22;
       },
       1.0, 0.04},
      {"cut by the border",
       [](ccCheckerView& b) {
         b.fill = 1.5;
         b.shift = ccVector<2>(2, 1);
       },
       0.6, 0.03},
      {"lighting gradient and vignetting",
       [](ccCheckerView& b) {
         b.gradient = 0.002;
         b.vignetting = 0.6;
       },
       1.0, 0.04},
      {"blur 3 px",
       [](ccCheckerView& b) {
         b.blur = 3;
         b.cols = 6;
         b.rows = 5;
       },
       1.0, 0.04},
      {"tilt 60 degrees",
       [](ccCheckerView& b) {
         b.tiltY = 60;
         b.fov = 50;
       },
       1.0, 0.04},
      {"tilt 45 and 30 degrees",
       [](ccCheckerView& b) {
         b.tiltX = 45;
         b.tiltY = 30;
         b.rotation = 25;
       },
       1.0, 0.05},
      {"barrel k1 -0.2",
       [](ccCheckerView& b) {
         b.k1 = -0.2;
         b.fov = 70;
         b.fill = 0.95;
       },
       1.0, 0.04},
      {"pincushion k1 +0.2",
       [](ccCheckerView& b) {
         b.k1 = 0.2;
         b.fov = 70;
         b.fill = 0.75;
       },
       1.0, 0.04},
      {"squares of 8 px",
       [](ccCheckerView& b) {
         b.cols = 30;
         b.rows = 22;
         b.fill = 0.5;
         b.rotation = 3;
       },
       1.0, 0.04},
      {"squares of 200 px",
       [](ccCheckerView& b) {
         b.width = 1280;
         b.height = 960;
         b.cols = 5;
         b.rows = 4;
         b.fill = 0.95;
       },
       1.0, 0.03},
      {"rotated 44 degrees", [](ccCheckerView& b) { b.rotation = 44; }, 1.0, 0.04},
      {"upside down", [](ccCheckerView& b) { b.rotation = 183; }, 1.0, 0.03},
  };
  for (const Condition& c : conditions) {
    SCOPED_TRACE(c.name);
    ccCheckerView board;
    c.edit(board);
    const ccRenderedView b = cfRenderCheckerView(board);
    const ccFinderRun r = cfRunCheckerFinder(b.rendering.image, false,
                                             ccVector<2>(board.width * 0.5, board.height * 0.5));
    ASSERT_EQ(r.status, CCLFT_STATUS_OK);
    const ccCheckerScore s = cfScoreCheckerVertices(b.camera, cfReportedVertices(r.pairs), false);
    EXPECT_EQ(s.wrongLabels, 0);
    EXPECT_EQ(s.offVertex, 0);
    EXPECT_GE(s.found, c.minFoundFraction * b.inView) << s.found << " of " << b.inView;
    EXPECT_LE(s.rms, c.maxRms);
  }
}

TEST(CheckerFinderRendered, SubPixelAccuracyAtBlurOneNoiseTwo) {
  // Pooled over orientations and views so that no single sub-pixel phase dominates.
  double sum2 = 0;
  int n = 0;
  for (int k = 0; k < 4; ++k) {
    ccCheckerView board;
    board.blur = 1.0;
    board.noise = 2.0;
    board.rotation = 11 + 23 * k;
    board.tiltX = 10 * k;
    board.seed = 10 + k;
    board.supersample = 12;
    const ccRenderedView b = cfRenderCheckerView(board);
    const ccFinderRun r = cfRunCheckerFinder(b.rendering.image, false, ccVector<2>(320, 240));
    ASSERT_EQ(r.status, CCLFT_STATUS_OK);
    const ccCheckerScore s = cfScoreCheckerVertices(b.camera, cfReportedVertices(r.pairs), false);
    ASSERT_EQ(s.wrongLabels, 0);
    sum2 += s.rms * s.rms * s.found;
    n += s.found;
  }
  EXPECT_LE(std::sqrt(sum2 / n), 0.02);
}

TEST(CheckerFinderRendered, WeightsFollowThePositionUncertainty) {
  ccCheckerView clean;
  clean.noise = 0;
  ccCheckerView noisy;
  noisy.noise = 4;
  const ccFinderRun rc =
      cfRunCheckerFinder(cfRenderCheckerView(clean).rendering.image, false, ccVector<2>(320, 240));
  const ccFinderRun rn =
      cfRunCheckerFinder(cfRenderCheckerView(noisy).rendering.image, false, ccVector<2>(320, 240));
  ASSERT_EQ(rc.status, CCLFT_STATUS_OK);
  ASSERT_EQ(rn.status, CCLFT_STATUS_OK);
  double wc = 0, wn = 0;
  for (const auto& p : rc.pairs) wc += p.weight / rc.pairs.size();
  for (const auto& p : rn.pairs) {
    wn += p.weight / rn.pairs.size();
    EXPECT_NEAR(p.weight, 0.02 * 0.02 / (0.02 * 0.02 + p.sigma * p.sigma), 1e-12);
  }
  EXPECT_GT(wc, 0.95);
  EXPECT_LT(wn, 0.6);
}

TEST(CheckerFinderRendered, StartPointLabelsFollowTheImageAxes) {
  // Rotations that swap which grid axis is nearer image +x, and flip their senses.
  for (double rotation : {10.0, 80.0, 170.0, 260.0, -30.0}) {
    SCOPED_TRACE(rotation);
    ccCheckerView board;
    board.rotation = rotation;
    const ccRenderedView b = cfRenderCheckerView(board);
    const ccVector<2> start(300, 260);
    const ccFinderRun r = cfRunCheckerFinder(b.rendering.image, false, start);
    ASSERT_EQ(r.status, CCLFT_STATUS_OK);
    const cclft_crspPair *origin = nullptr, *right = nullptr, *down = nullptr;
    double nearest = INFINITY;
    for (const auto& p : r.pairs) {
      const double d = std::hypot(p.imageX - start.x(), p.imageY - start.y());
      if (d < nearest) nearest = d;
      if (p.labelX == 0 && p.labelY == 0) origin = &p;
      if (p.labelX == 1 && p.labelY == 0) right = &p;
      if (p.labelX == 0 && p.labelY == 1) down = &p;
    }
    ASSERT_TRUE(origin && right && down);
    EXPECT_DOUBLE_EQ(std::hypot(origin->imageX - start.x(), origin->imageY - start.y()), nearest);
    const double rx = right->imageX - origin->imageX;
    const double dx = down->imageX - origin->imageX, dy = down->imageY - origin->imageY;
    EXPECT_GT(rx, 0);
    EXPECT_GT(dy, 0);
    EXPECT_GT(std::fabs(rx), std::fabs(dx));
    // Order: by label y, then label x.
    for (std::size_t k = 1; k < r.pairs.size(); ++k) {
      const auto& a = r.pairs[k - 1];
      const auto& c = r.pairs[k];
      EXPECT_TRUE(a.labelY < c.labelY || (a.labelY == c.labelY && a.labelX < c.labelX));
    }
  }
}

TEST(CheckerFinderRendered, FiducialGivesThePlateLabels) {
  struct View {
    const char* name;
    double rotation, fill, tiltX, k1;
    ccVector<2> shift;
  };
  const View views[] = {{"whole board", 4, 0.85, 0, 0, {}},
                        {"upside down", 170, 0.85, 0, 0, {}},
                        {"cut by the border", 0, 1.5, 0, 0, {-2, -1.5}},
                        {"quarter turn, tilted and distorted", 95, 0.85, 40, -0.15, {}}};
  for (const View& v : views) {
    SCOPED_TRACE(v.name);
    ccCheckerView board;
    board.width = 800;
    board.height = 600;
    board.fiducial = true;
    board.cols = 12;
    board.rows = 10;
    board.rotation = v.rotation;
    board.fill = v.fill;
    board.tiltX = v.tiltX;
    board.k1 = v.k1;
    board.fov = 60;
    board.shift = v.shift;
    const ccRenderedView b = cfRenderCheckerView(board);
    const ccFinderRun r = cfRunCheckerFinder(b.rendering.image, true, ccVector<2>());
    ASSERT_EQ(r.status, CCLFT_STATUS_OK);
    const ccCheckerScore s = cfScoreCheckerVertices(b.camera, cfReportedVertices(r.pairs), true);
    EXPECT_EQ(s.wrongLabels, 0);
    EXPECT_EQ(s.offVertex, 0);
    EXPECT_GE(s.found, 0.9 * b.inView);
    bool anchor = false;
    for (const auto& p : r.pairs) anchor = anchor || (p.labelX == -2 && p.labelY == -2);
    EXPECT_TRUE(anchor);
  }
}

TEST(CheckerFinderRendered, MissingFiducialAndMissingBoardAreStatuses) {
  const ccRenderedView plain = cfRenderCheckerView(ccCheckerView{});
  EXPECT_EQ(cfRunCheckerFinder(plain.rendering.image, true, ccVector<2>()).status,
            CCLFT_STATUS_FIDUCIAL_NOT_FOUND);

  // Noise, and a clutter of random rectangles (corners and T-junctions, no checker).
  ccPelBuffer<unsigned char> noise(640, 480), clutter(640, 480);
  std::mt19937 rng(5);
  std::normal_distribution<double> g(128, 20);
  for (long y = 0; y < 480; ++y) {
    for (long x = 0; x < 640; ++x)
      noise.at(x, y) = static_cast<unsigned char>(std::clamp(g(rng), 0.0, 255.0));
  }
  std::uniform_int_distribution<int> pos(0, 600), size(5, 80), grey(0, 255);
  for (int k = 0; k < 300; ++k) {
    const int x0 = pos(rng), y0 = pos(rng) * 480 / 640, w = size(rng), h = size(rng);
    const unsigned char v = static_cast<unsigned char>(grey(rng));
    for (int y = y0; y < std::min(480, y0 + h); ++y) {
      for (int x = x0; x < std::min(640, x0 + w); ++x) clutter.at(x, y) = v;
    }
  }
  EXPECT_EQ(cfRunCheckerFinder(noise, false, ccVector<2>(320, 240)).status, CCLFT_STATUS_NO_BOARD);
  const ccFinderRun c = cfRunCheckerFinder(clutter, false, ccVector<2>(320, 240));
  EXPECT_TRUE(c.status == CCLFT_STATUS_NO_BOARD || c.pairs.size() < 12u) << c.pairs.size();
}

TEST(CheckerFinderRendered, ImageOffsetMovesPositionsNotLabels) {
  const ccRenderedView b = cfRenderCheckerView(ccCheckerView{});
  ccPelBuffer_const<unsigned char> shifted = b.rendering.image;
  shifted.offset(100, 50);
  const ccFinderRun r0 = cfRunCheckerFinder(b.rendering.image, false, ccVector<2>(320, 240));
  const ccFinderRun r1 = cfRunCheckerFinder(shifted, false, ccVector<2>(420, 290));
  ASSERT_EQ(r0.pairs.size(), r1.pairs.size());
  for (std::size_t k = 0; k < r0.pairs.size(); ++k) {
    EXPECT_DOUBLE_EQ(r1.pairs[k].imageX, r0.pairs[k].imageX + 100);
    EXPECT_DOUBLE_EQ(r1.pairs[k].imageY, r0.pairs[k].imageY + 50);
    EXPECT_EQ(r1.pairs[k].labelX, r0.pairs[k].labelX);
    EXPECT_EQ(r1.pairs[k].labelY, r0.pairs[k].labelY);
  }
}

// ---------------------------------------------------------------------------------------
// Real photographs: 9 x 6 inner vertices each.

// All 54 vertices on 11 of the 12 photos and 53 on the last (a vertex of the top row of a
// steeply tilted board, whose squares are cut short by the board's frame); the labels
// fit the board's 9 x 6 box and neighbouring labels are neighbouring vertices.
TEST(CheckerFinderRealPhotos, VerticesLabelledAsOneGrid) {
  const std::string dir = CCALIB_REALDATA_DIR;
  std::vector<std::string> files;
  for (int k = 1; k <= 9; ++k)
    files.push_back(dir + "/checker-opencv/chessboard-0" + std::to_string(k) + ".jpg");
  for (int k = 1; k <= 3; ++k)
    files.push_back(dir + "/checker-visp/chessboard-0" + std::to_string(k) + ".png");
  if (!std::ifstream(files[0]).good()) GTEST_SKIP() << "no real data at " << dir;
  int complete = 0;
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    const ccPelBuffer<unsigned char> image = cfReadImage(f);
    const ccFinderRun r =
        cfRunCheckerFinder(image, false, ccVector<2>(image.width() * 0.5, image.height() * 0.5));
    ASSERT_EQ(r.status, CCLFT_STATUS_OK);
    ASSERT_GE(r.pairs.size(), 53u);
    ASSERT_LE(r.pairs.size(), 54u);
    complete += r.pairs.size() == 54u ? 1 : 0;
    long minX = 1000, maxX = -1000, minY = 1000, maxY = -1000;
    for (const auto& p : r.pairs) {
      minX = std::min<long>(minX, p.labelX);
      maxX = std::max<long>(maxX, p.labelX);
      minY = std::min<long>(minY, p.labelY);
      maxY = std::max<long>(maxY, p.labelY);
    }
    // Distinct labels (the order is strict) inside a 9 x 6 or 6 x 9 box.
    const long w = maxX - minX + 1, h = maxY - minY + 1;
    EXPECT_TRUE((w <= 9 && h <= 6) || (w <= 6 && h <= 9)) << w << " x " << h;
    // Neighbouring labels are neighbouring vertices: label +1 in x is the nearest step.
    for (const auto& p : r.pairs) {
      for (const auto& q : r.pairs) {
        if (q.labelY == p.labelY && q.labelX == p.labelX + 1) {
          EXPECT_LT(std::hypot(q.imageX - p.imageX, q.imageY - p.imageY), 1.6 * p.stepX);
        }
      }
    }
  }
  EXPECT_GE(complete, 11);
}

}  // namespace
