// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/polyline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/foundation/exception.h"

namespace {

using Points = std::vector<ccVector<2>>;

::testing::AssertionResult PointNear(const ccVector<2>& a, const ccVector<2>& b, double tol) {
  if (a.distance(b) <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << a.x() << ", " << a.y() << ") vs (" << b.x() << ", "
                                       << b.y() << "), distance " << a.distance(b) << " > " << tol;
}

// Independent inside test (crossing number), for area estimates by sampling.
bool insidePolygon(const Points& v, const ccVector<2>& p) {
  bool in = false;
  for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
    if ((v[i].y() > p.y()) != (v[j].y() > p.y()) &&
        p.x() < (v[j].x() - v[i].x()) * (p.y() - v[i].y()) / (v[j].y() - v[i].y()) + v[i].x()) {
      in = !in;
    }
  }
  return in;
}

// Star-shaped, generally non-convex polygon of positive orientation around c.
Points randomStar(std::mt19937& rng, const ccVector<2>& c, int n, double rMin, double rMax) {
  std::uniform_real_distribution<double> r(rMin, rMax);
  Points v;
  for (int i = 0; i < n; ++i) v.push_back(c + ccVector<2>(r(rng), ccRadian(2 * ccPi * i / n)));
  return v;
}

TEST(Polyline, AreaCentroidAndConvexityDependOnVertexOrder) {
  const Points square = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
  Points reversed(square.rbegin(), square.rend());
  EXPECT_DOUBLE_EQ(ccPolyline(square, true).signedArea(), 16.0);
  EXPECT_DOUBLE_EQ(ccPolyline(reversed, true).signedArea(), -16.0);
  EXPECT_TRUE(ccPolyline(square, true).isConvex());
  EXPECT_FALSE(ccPolyline(reversed, true).isConvex());
  // Collinear and repeated vertices keep a convex polygon convex.
  EXPECT_TRUE(ccPolyline({{0, 0}, {2, 0}, {4, 0}, {4, 0}, {4, 4}, {0, 4}}, true).isConvex());
  EXPECT_FALSE(ccPolyline({{0, 0}, {4, 0}, {2, 1}, {4, 4}, {0, 4}}, true).isConvex());  // notch
  Points pentagram;
  for (int i = 0; i < 5; ++i) pentagram.push_back(ccVector<2>(1.0, ccRadian(4 * ccPi * i / 5)));
  EXPECT_GT(ccPolyline(pentagram, true).signedArea(), 0.0);
  EXPECT_FALSE(ccPolyline(pentagram, true).isConvex());  // left turns only, but winds twice

  // L shape: 2x2 square plus 2x1 bar to its right; centroid by composite areas.
  ccPolyline ell({{0, 0}, {4, 0}, {4, 1}, {2, 1}, {2, 2}, {0, 2}}, true);
  EXPECT_DOUBLE_EQ(ell.area(), 6.0);
  EXPECT_TRUE(PointNear(ell.centroid(),
                        ccVector<2>((4 * 1.0 + 2 * 3.0) / 6, (4 * 1.0 + 2 * 0.5) / 6), 1e-14));
}

TEST(Polyline, PrincipalMomentsOfRotatedRectangle) {
  const double w = 6.0, h = 2.0, angle = 0.5;
  const ccXform<2> place(ccVector<2>(10, -3), 1.0, 1.0, ccRadian(0.0), ccRadian(angle));
  ccPolyline rect =
      place *
      ccPolyline({{-w / 2, -h / 2}, {w / 2, -h / 2}, {w / 2, h / 2}, {-w / 2, h / 2}}, true);
  for (int order = 0; order < 2; ++order) {
    SCOPED_TRACE(order == 0 ? "positive" : "negative order");
    ccPolyline::PrincipalMoments m = rect.principalMomentsArea();
    EXPECT_NEAR(m.m1, w * h * h * h / 12.0, 1e-12);
    EXPECT_NEAR(m.m2, w * w * w * h / 12.0, 1e-12);
    EXPECT_NEAR(m.angle.toDouble(), angle, 1e-12);
    EXPECT_TRUE(PointNear(rect.centroid(), ccVector<2>(10, -3), 1e-12));
    Points v = rect.vertices();
    rect.vertices(Points(v.rbegin(), v.rend()));
  }
}

TEST(ConvexHull, HoldsEveryPointAndIsConvex) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-100.0, 100.0);
  Points points;
  for (int i = 0; i < 300; ++i) points.push_back(ccVector<2>(u(rng), u(rng)));
  // A duplicate, and a collinear triple on the hull whose middle point must be dropped.
  points.insert(points.end(),
                {points[0], ccVector<2>(200, 0), ccVector<2>(200, 50), ccVector<2>(200, 100)});
  Points hull = cfConvexHull(points);
  EXPECT_TRUE(ccPolyline(hull, true).isConvex());
  for (const ccVector<2>& p : hull)
    EXPECT_NE(std::find(points.begin(), points.end(), p), points.end());
  for (std::size_t i = 0; i < hull.size(); ++i) {
    ccVector<2> a = hull[i], b = hull[(i + 1) % hull.size()], c = hull[(i + 2) % hull.size()];
    EXPECT_GT((b - a).cross(c - b), 0.0) << "collinear or reflex vertex " << i;
    for (const ccVector<2>& p : points)
      ASSERT_GE((b - a).cross(p - a), -1e-9) << "point outside edge " << i;
  }
  EXPECT_EQ(std::find(hull.begin(), hull.end(), ccVector<2>(200, 50)), hull.end());

  EXPECT_TRUE(cfConvexHull({}).empty());
  EXPECT_EQ(cfConvexHull({{1, 1}, {1, 1}}), Points{ccVector<2>(1, 1)});
  EXPECT_EQ(cfConvexHull({{2, 2}, {0, 0}, {1, 1}, {3, 3}}), (Points{{0, 0}, {3, 3}}));
  EXPECT_THROW(cfConvexHull({{0, 0}, {1, std::nan("")}, {2, 0}}), ccBadArgument);
}

TEST(ClipPolygon, NonConvexSubjectByConvexClip) {
  // U shape (two arms 1 wide, 3 high, on a 4x1 base) cut by the band 2 <= y <= 3: two 1x1
  // pieces, joined by a zero-area bridge.
  ccPolyline u({{0, 0}, {4, 0}, {4, 4}, {3, 4}, {3, 1}, {1, 1}, {1, 4}, {0, 4}}, true);
  ccPolyline band({{-1, 2}, {5, 2}, {5, 3}, {-1, 3}}, true);
  EXPECT_NEAR(cfClipPolygon(u, band).signedArea(), 2.0, 1e-14);
  Points clockwise(u.vertices().rbegin(), u.vertices().rend());
  EXPECT_NEAR(cfClipPolygon(ccPolyline(clockwise, true), band).signedArea(), -2.0, 1e-14);
  Points bandReversed(band.vertices().rbegin(), band.vertices().rend());
  EXPECT_NEAR(cfClipPolygon(u, ccPolyline(bandReversed, true)).signedArea(), 2.0, 1e-14);
  EXPECT_NEAR(cfClipPolygon(u, ccPolyline({{10, 10}, {11, 10}, {11, 11}}, true)).area(), 0.0,
              1e-15);
  EXPECT_THROW(cfClipPolygon(band, u), ccBadArgument);  // the clip must be convex

  // Random star-shaped subjects by random convex clips, against area by sampling.
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> coord(-8.0, 8.0);
  for (int trial = 0; trial < 20; ++trial) {
    SCOPED_TRACE(trial);
    Points q = randomStar(rng, ccVector<2>(0, 0), 12, 2.0, 9.0);
    Points cloud;
    for (int i = 0; i < 8; ++i) cloud.push_back(ccVector<2>(coord(rng), coord(rng)));
    Points p = cfConvexHull(cloud);
    double clipped = cfClipPolygon(ccPolyline(q, true), ccPolyline(p, true)).signedArea();
    const int n = 300;
    ccRect box = ccPolyline(p, true).boundingBox();
    int hits = 0;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        ccVector<2> s(box.x() + box.width() * (j + 0.5) / n,
                      box.y() + box.height() * (i + 0.5) / n);
        hits += insidePolygon(p, s) && insidePolygon(q, s);
      }
    }
    double sampled = hits * box.width() * box.height() / (n * n);
    EXPECT_NEAR(clipped, sampled, 0.01 * ccPolyline(p, true).area() + 0.02);
  }
}

TEST(Polyline, NearestPointsBetweenBoundaries) {
  ccPolyline square({{0, -1}, {1, -1}, {1, 1}, {0, 1}}, true);
  ccPolyline diamond({{3, 0}, {5, -2}, {7, 0}, {5, 2}}, true);
  ccPolyline::NearestPoints np = square.nearestPoints(diamond);
  EXPECT_NEAR(np.distance, 2.0, 1e-15);
  EXPECT_TRUE(PointNear(np.onThis, ccVector<2>(1, 0), 1e-15));
  EXPECT_TRUE(PointNear(np.onOther, ccVector<2>(3, 0), 1e-15));

  // A polygon inside another is at the distance between the boundaries.
  ccPolyline inner({{0.25, -0.5}, {0.5, -0.5}, {0.5, 0.5}, {0.25, 0.5}}, true);
  EXPECT_NEAR(inner.nearestPoints(square).distance, 0.25, 1e-15);
  // An open polyline lacks its closing segment.
  ccPolyline openU({{0, 1}, {0, -1}, {1, -1}, {1, 1}}, false);
  EXPECT_NEAR(openU.nearestPoints(ccPolyline({{0.5, 3}}, false)).distance, std::hypot(0.5, 2.0),
              1e-15);
  EXPECT_THROW(square.nearestPoints(ccPolyline()), ccBadArgument);

  // Random pairs against brute force: apart, the distance is the smallest vertex-to-segment
  // distance either way; crossing, the point returned lies on both boundaries.
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> shift(10.0, 30.0);
  int crossings = 0;
  for (int trial = 0; trial < 100; ++trial) {
    SCOPED_TRACE(trial);
    ccPolyline a(randomStar(rng, ccVector<2>(0, 0), 15, 3.0, 10.0), true);
    ccPolyline b(randomStar(rng, ccVector<2>(shift(rng), shift(rng) - 20.0), 15, 3.0, 10.0), true);
    auto onBoundary = [](const ccPolyline& p, const ccVector<2>& x) {
      double d = 1e9;
      for (int i = 0; i < p.numSegments(); ++i) d = std::min(d, p.segment(i).distance(x));
      return d;
    };
    double brute = 1e9;
    for (const ccVector<2>& v : a.vertices()) brute = std::min(brute, onBoundary(b, v));
    for (const ccVector<2>& v : b.vertices()) brute = std::min(brute, onBoundary(a, v));
    np = a.nearestPoints(b);
    EXPECT_NEAR(np.onThis.distance(np.onOther), np.distance, 1e-12);
    EXPECT_LE(onBoundary(a, np.onThis), 1e-9);
    EXPECT_LE(onBoundary(b, np.onOther), 1e-9);
    crossings += np.distance == 0.0;
    EXPECT_NEAR(np.distance, np.distance == 0.0 ? 0.0 : brute, 1e-12);
  }
  EXPECT_TRUE(crossings > 10 && crossings < 90) << crossings << " of 100 pairs cross";
}

}  // namespace
