// SPDX-License-Identifier: Apache-2.0
// Plate renderer: the ground truth must agree with the rendered pixels (dot centroids,
// vertex symmetry centres, marker and fiducial where the layout puts them), the camera
// must invert consistently, and noise must be repeatable by seed.
#include "tools/plate/plate_render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

double dist(const ccVector<2>& a, const ccVector<2>& b) {
  return a.distance(b);
}

::testing::AssertionResult near(const ccVector<2>& got, const ccVector<2>& want, double tol) {
  if (dist(got, want) <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "got (" << got.x() << ", " << got.y() << "), want (" << want.x() << ", " << want.y()
         << "), distance " << dist(got, want) << " > " << tol;
}

// Bilinear interpolation of the image at a real position (clamped to the image).
double sample(const ccPelBuffer_const<unsigned char>& im, double x, double y) {
  x = std::clamp(x, 0.0, im.width() - 1.001);
  y = std::clamp(y, 0.0, im.height() - 1.001);
  const long x0 = static_cast<long>(x), y0 = static_cast<long>(y);
  const double fx = x - x0, fy = y - y0;
  return (1 - fy) * ((1 - fx) * im.at(x0, y0) + fx * im.at(x0 + 1, y0)) +
         fy * ((1 - fx) * im.at(x0, y0 + 1) + fx * im.at(x0 + 1, y0 + 1));
}

// Centroid of (ground - value) over the pixels whose centres see the plate within
// `radius` of `platePoint`.
ccVector<2> darkCentroid(const ccPlateRendering& r, const ccPlateCamera& cam,
                         const ccVector<2>& platePoint, double radius, double ground) {
  const ccVector<2> c = cam.imageFromPlate(platePoint);
  double sw = 0, sx = 0, sy = 0;
  for (long y = std::max(0L, long(c.y()) - 40); y < std::min(r.image.height(), long(c.y()) + 40);
       ++y) {
    for (long x = std::max(0L, long(c.x()) - 40); x < std::min(r.image.width(), long(c.x()) + 40);
         ++x) {
      if (dist(cam.plateFromImage(ccVector<2>(x, y)), platePoint) > radius) continue;
      const double w = ground - r.image.at(x, y);
      sw += w, sx += w * x, sy += w * y;
    }
  }
  return ccVector<2>(sx / sw, sy / sw);
}

// The point about which the image is most nearly point-symmetric, searched near `start`:
// a checker vertex under an affine camera and isotropic blur is exactly such a point.
ccVector<2> symmetryCentre(const ccPelBuffer_const<unsigned char>& im, const ccVector<2>& start,
                           double reach) {
  ccVector<2> best = start;
  for (double step : {0.1, 0.01, 0.001}) {
    const ccVector<2> c = best;
    double bestCost = 1e300;
    for (int a = -12; a <= 12; ++a) {
      for (int b = -12; b <= 12; ++b) {
        const ccVector<2> p = c + ccVector<2>(a * step, b * step);
        double cost = 0;
        for (double dy = -reach; dy <= reach; dy += 0.5)
          for (double dx = 0.25; dx <= reach; dx += 0.5) {
            const double d =
                sample(im, p.x() + dx, p.y() + dy) - sample(im, p.x() - dx, p.y() - dy);
            cost += d * d;
          }
        if (cost < bestCost) bestCost = cost, best = p;
      }
    }
  }
  return best;
}

TEST(PlateRender, DotTruthIsTheIntensityCentroid) {
  // Noise-free, unblurred, finely supersampled: under an affine camera the centroid of each
  // dot's ellipse is the image of its centre.
  const ccDotPlate plate = cfDotPlate(9, 7, true);
  ccPlateRenderParams p;
  p.width = 320, p.height = 260, p.supersample = 16;
  const ccPlateCamera cam =
      cfPlateCameraAffine(cfPaperRegion(plate), p.width, p.height, 25, -15, 7, 0.95);
  const ccPlateRendering r = cfRenderPlate(plate, cam, p);
  ASSERT_EQ(r.truth.dots.size(), 63u);
  for (const ccPlateDotTruth& d : r.truth.dots) {
    ASSERT_TRUE(d.inImage);
    EXPECT_TRUE(near(darkCentroid(r, cam, d.plate, 0.4, p.lightLevel), d.image, 0.01))
        << d.index.x() << "," << d.index.y();
  }
  // With perspective, distortion, blur and light-on-dark polarity the centroid moves off the
  // image of the centre by a few hundredths of a pixel (the scale varies across the dot), so
  // this only checks that rendering and truth take the same path through the camera.
  ccPlateCamera bent = cfPlateCameraView(cfPaperRegion(plate), p.width, p.height, 20, 10, -5, 0.95);
  bent.distortion(ccVector<2>(150, 140), 200, -0.15, 0.03);
  p.invert = true, p.blurSigma = 1.0, p.supersample = 8;
  const ccPlateRendering rb =
      cfRenderPlate(cfDotPlate(9, 7, false), bent, p);  // blurred bars would leak in
  for (const ccPlateDotTruth& d : rb.truth.dots) {
    if (!d.inImage) continue;
    const ccVector<2> c =
        darkCentroid(rb, bent, d.plate, 0.4, p.darkLevel);  // negative weights: light dots
    EXPECT_TRUE(near(c, d.image, 0.08)) << d.index.x() << "," << d.index.y();
  }
}

TEST(PlateRender, CheckerVerticesAreSymmetryCentres) {
  // Edges through a vertex stay straight lines through it under a homography, and nearly so
  // under mild distortion, so the blurred image is point-symmetric about every vertex.
  const ccCheckerPlate plate = cfCheckerPlate(12, 9, true);
  ccPlateRenderParams p;
  p.width = 400, p.height = 320, p.supersample = 8, p.blurSigma = 1.2;
  ccPlateCamera bent =
      cfPlateCameraView(cfPaperRegion(plate), p.width, p.height, 15, -10, -12, 0.95);
  bent.distortion(ccVector<2>(190, 170), 300, -0.1, 0.0);
  const ccPlateRendering rb = cfRenderPlate(plate, bent, p);
  for (std::size_t k = 0; k < rb.truth.vertices.size(); k += 7) {
    const ccPlateVertexTruth& v = rb.truth.vertices[k];
    EXPECT_TRUE(near(symmetryCentre(rb.image, v.image, 4.0), v.image, 0.03))
        << v.label.x() << "," << v.label.y();
  }
  const ccPlateCamera cam =
      cfPlateCameraAffine(cfPaperRegion(plate), p.width, p.height, -20, 12, 30, 0.95);
  const ccPlateRendering r = cfRenderPlate(plate, cam, p);
  ASSERT_TRUE(r.truth.hasFiducial);
  int checked = 0;
  for (const ccPlateVertexTruth& v : r.truth.vertices) {
    if ((v.label.x() + 3 * v.label.y()) % 4 != 0) continue;  // a spread-out subset keeps it quick
    EXPECT_TRUE(near(symmetryCentre(r.image, v.image, 6.0), v.image, 0.02))
        << v.label.x() << "," << v.label.y();
    // The squares diagonal to the vertex: (i, j) light when i + j is even.
    const ccVector<2> in = cam.imageFromPlate(ccVector<2>(v.label.x() + 0.3, v.label.y() + 0.3));
    const bool light = (v.label.x() + v.label.y()) % 2 == 0;
    EXPECT_EQ(sample(r.image, in.x(), in.y()) > 120, light) << v.label.x() << "," << v.label.y();
    ++checked;
  }
  EXPECT_GT(checked, 10);
  // Painted-over squares give no vertices; the anchors are ordinary vertices.
  auto has = [&](long i, long j) {
    for (const ccPlateVertexTruth& v : r.truth.vertices)
      if (v.label == ccPair<long>(i, j)) return true;
    return false;
  };
  EXPECT_FALSE(has(-3, -3));
  EXPECT_FALSE(has(-4, 0));
  EXPECT_TRUE(has(-2, -2));
  EXPECT_TRUE(has(-2, -5));
  EXPECT_EQ(r.truth.anchor.label, ccPair<long>(-2, -2));
  EXPECT_TRUE(near(r.truth.anchor.image, cam.imageFromPlate(ccVector<2>(-2, -2)), 1e-9));
  EXPECT_TRUE(near(r.truth.secondAnchor.image, cam.imageFromPlate(ccVector<2>(-2, -5)), 1e-9));
}

TEST(PlateRender, MarkerAndFiducialSitWhereTheLayoutSays) {
  const ccDotPlate dots = cfDotPlate(8, 6, true);
  const ccVector<2> c(dots.markerCell.x() + 0.5, dots.markerCell.y() + 0.5);
  EXPECT_EQ(dots.markerCell, ccPair<long>(3, 2));
  struct Probe {
    double dx, dy;
    bool ink;
  };
  const Probe markerProbes[] = {{0, 0, false},       {0.14, 0, false},     {0.16, 0, true},
                                {1.34, 0, true},     {1.36, 0, false},     {0.75, 0.06, true},
                                {0.75, 0.07, false}, {0, 0.16, true},      {0, 1.34, true},
                                {0.06, 0.75, true},  {-0.07, 0.75, false}, {0.5, -0.5, true}};
  for (const Probe& q : markerProbes) {
    EXPECT_EQ(cfPlateInk(dots, c + ccVector<2>(q.dx, q.dy)), q.ink)
        << "marker probe " << q.dx << "," << q.dy;
  }
  const ccCheckerPlate board = cfCheckerPlate(10, 9, true);
  const Probe fiducialProbes[] = {{-3.5, -3.5, false}, {-4.8, -3.5, true},  {1.7, -3.5, false},
                                  {1.8, -3.5, true},   {-3.5, -3.1, true},  {-3.5, -2.9, false},
                                  {-3.5, 0.7, false},  {-3.5, 0.8, true},   {-2.5, -2.5, false},
                                  {-1.5, -2.5, true},  {-5.5, -3.5, false}, {-12, 0, false},
                                  {-6.5, 0.5, true}};
  for (const Probe& q : fiducialProbes) {
    EXPECT_EQ(cfPlateInk(board, ccVector<2>(q.dx, q.dy)), q.ink)
        << "fiducial probe " << q.dx << "," << q.dy;
  }
  // The painter's list and the inside test describe the same plate.
  std::mt19937 rng(7);
  for (int plateKind = 0; plateKind < 2; ++plateKind) {
    const ccRect paper = plateKind ? cfPaperRegion(board) : cfPaperRegion(dots);
    const std::vector<ccPlateShape> shapes = plateKind ? cfPlateShapes(board) : cfPlateShapes(dots);
    std::uniform_real_distribution<double> ux(paper.x(), paper.x() + paper.width()),
        uy(paper.y(), paper.y() + paper.height());
    for (int k = 0; k < 20000; ++k) {
      const ccVector<2> q(ux(rng), uy(rng));
      bool ink = false;
      for (const ccPlateShape& s : shapes) {
        if (s.kind == ccPlateShape::eDisc ? dist(q, s.centre) < s.radius : s.rect.contains(q))
          ink = s.ink;
      }
      ASSERT_EQ(ink, plateKind ? cfPlateInk(board, q) : cfPlateInk(dots, q))
          << q.x() << "," << q.y();
    }
  }
}

// The surround takes its own level beyond the printed sheet only, for both plate kinds.
TEST(PlateRender, SurroundLiesBeyondTheSheet) {
  const ccDotPlate dots = cfDotPlate(6, 5, false);
  const ccCheckerPlate board = cfCheckerPlate(6, 5, false);
  for (int plateKind = 0; plateKind < 2; ++plateKind) {
    SCOPED_TRACE(plateKind ? "checker" : "dots");
    const ccRect paper = plateKind ? cfPaperRegion(board) : cfPaperRegion(dots);
    const ccPlateCamera cam = cfPlateCameraAffine(paper, 320, 240, 20, 0, 15, 0.6);
    ccPlateRenderParams p;
    p.width = 320;
    p.height = 240;
    p.surroundLevel = 250;
    const ccPlateRendering r =
        plateKind ? cfRenderPlate(board, cam, p) : cfRenderPlate(dots, cam, p);
    // Points a few pixels either side of the sheet's corner, clear of its anti-aliased edge.
    const ccVector<2> corner(paper.x(), paper.y());
    const ccVector<2> outside = cam.imageFromPlate(corner - ccVector<2>(0.5, 0.5));
    const ccVector<2> onSheet = cam.imageFromPlate(corner + ccVector<2>(0.2, 0.2));
    EXPECT_NEAR(sample(r.image, outside.x(), outside.y()), 250.0, 0.5);
    EXPECT_NEAR(sample(r.image, onSheet.x(), onSheet.y()), 200.0, 0.5);
  }
}

TEST(PlateRender, CameraInvertsAndDistortionIsChecked) {
  ccPlateCamera cam = cfPlateCameraView(ccRect(0, 0, 20, 15), 640, 480, 25, -20, 10);
  cam.distortion(ccVector<2>(330, 230), 400, -0.2, 0.05);
  for (double u = -2; u <= 22; u += 3.1) {
    for (double v = -2; v <= 17; v += 2.3) {
      const ccVector<2> q = cam.imageFromPlate(ccVector<2>(u, v));
      EXPECT_TRUE(near(cam.plateFromImage(q), ccVector<2>(u, v), 1e-9));
      EXPECT_TRUE(near(cam.distort(cam.undistort(q)), q, 1e-9));
    }
  }
  // Framing: the region's corners span `fill` of the image in the tighter direction.
  const ccPlateCamera framed = cfPlateCameraAffine(ccRect(0, 0, 20, 10), 640, 480, 0, 0, 0, 0.5);
  EXPECT_TRUE(near(framed.imageFromPlate(ccVector<2>(0, 0)), ccVector<2>(159.5, 159.5), 1e-9));
  EXPECT_TRUE(near(framed.imageFromPlate(ccVector<2>(20, 10)), ccVector<2>(479.5, 319.5), 1e-9));

  ccPlateRenderParams p;
  p.width = 64, p.height = 48;
  ccPlateCamera folded(ccXform<2>(ccMatrix<2>(4, 0, 0, 4), ccVector<2>()));
  folded.distortion(ccVector<2>(32, 24), 20, -0.5, 0);
  EXPECT_THROW(cfRenderPlate(cfDotPlate(5, 5, false), folded, p), ccBadArgument);
  EXPECT_THROW(cfRenderPlate(cfCheckerPlate(8, 8, true), ccPlateCamera(), p),
               ccBadArgument);  // too small for fiducial
  EXPECT_THROW(ccPlateCamera(ccPlateCamera::Homography{1, 2, 3, 2, 4, 6, 0, 0, 1}), ccBadArgument);
  p.supersample = 0;
  EXPECT_THROW(cfRenderPlate(cfDotPlate(5, 5, false), ccPlateCamera(), p), ccBadArgument);
}

TEST(PlateRender, NoiseIsRepeatableBySeedAndHasTheAskedSpread) {
  const ccDotPlate plate = cfDotPlate(6, 5, false);
  ccPlateRenderParams p;
  p.width = 200, p.height = 160, p.supersample = 2, p.blurSigma = 0.7;
  const ccPlateCamera cam = cfPlateCameraView(cfPaperRegion(plate), p.width, p.height, 10, 0, 3);
  const ccPelBuffer<unsigned char> clean = cfRenderPlate(plate, cam, p).image;
  p.noiseSigma = 3.0, p.seed = 11;
  const ccPelBuffer<unsigned char> a = cfRenderPlate(plate, cam, p).image;
  const ccPelBuffer<unsigned char> b = cfRenderPlate(plate, cam, p).image;
  p.seed = 12;
  const ccPelBuffer<unsigned char> c = cfRenderPlate(plate, cam, p).image;
  double sum = 0, sumSq = 0;
  long same = 0, differs = 0;
  for (long y = 0; y < p.height; ++y) {
    for (long x = 0; x < p.width; ++x) {
      same += a.at(x, y) == b.at(x, y);
      differs += a.at(x, y) != c.at(x, y);
      const double d = double(a.at(x, y)) - clean.at(x, y);
      sum += d, sumSq += d * d;
    }
  }
  const double n = double(p.width) * p.height;
  EXPECT_EQ(same, long(n));
  EXPECT_GT(differs, long(0.5 * n));
  EXPECT_NEAR(sum / n, 0.0, 0.05);
  EXPECT_NEAR(std::sqrt(sumSq / n), 3.0, 0.1);
}

}  // namespace
