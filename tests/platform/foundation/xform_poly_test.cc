// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/xform_poly.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <tuple>

#include "platform/foundation/archive.h"
#include "platform/foundation/exception.h"

namespace {

using Points = std::vector<ccVector<2>>;
using Map = std::function<ccVector<2>(const ccVector<2>&)>;

::testing::AssertionResult PointNear(const ccVector<2>& a, const ccVector<2>& b, double tol) {
  if (a.distance(b) <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << a.x() << ", " << a.y() << ") vs (" << b.x() << ", "
                                       << b.y() << "), distance " << a.distance(b) << " > " << tol;
}

// A lens-like client-from-image map over a 1024 x 768 image: affine part of 0.05 mm per pixel
// plus radial-looking terms of total degree 3 (and 5 when order is 5), up to ~0.5 mm.
Map plateFromImage(int order) {
  return [order](const ccVector<2>& p) {
    double u = (p.x() - 512.0) / 400.0, v = (p.y() - 384.0) / 400.0;
    double x = 0.05 * p.x() + 0.002 * p.y() + 0.3 * u * u * u - 0.1 * u * v * v + 1.0;
    double y = -0.003 * p.x() + 0.05 * p.y() + 0.2 * v * v * v + 0.15 * u * u * v - 2.0;
    if (order == 5) {
      x += 0.02 * std::pow(u, 5) + 0.01 * u * std::pow(v, 4);
      y += 0.015 * std::pow(v, 5) - 0.01 * u * u * u * v * v;
    }
    return ccVector<2>(x, y);
  };
}

Points randomImagePoints(std::mt19937& rng, int n) {
  std::uniform_real_distribution<double> x(100.0, 924.0), y(100.0, 668.0);
  Points p;
  for (int i = 0; i < n; ++i) p.push_back(ccVector<2>(x(rng), y(rng)));
  return p;
}

Points mapAll(const Map& f, const Points& p) {
  Points out;
  for (const ccVector<2>& q : p) out.push_back(f(q));
  return out;
}

TEST(XformPoly, RecoversKnownMapsAndInvertsThem) {
  for (int order : {3, 5}) {
    SCOPED_TRACE(order);
    std::mt19937 rng(static_cast<unsigned>(order));
    const Map truth = plateFromImage(order);
    Points image = randomImagePoints(rng, 200);
    cc2XformPoly fit(mapAll(truth, image), image, order);
    EXPECT_EQ(fit.order(), order);
    EXPECT_FALSE(fit.isLinear());
    cc2XformBasePtrh inverse = fit.inverseBase();
    for (const ccVector<2>& p : randomImagePoints(rng, 300)) {
      ASSERT_TRUE(PointNear(fit.mapPoint(p), truth(p), 1e-9));
      ASSERT_TRUE(PointNear(inverse->mapPoint(fit.mapPoint(p)), p, 1e-9));
    }
    // The inverse of the inverse is the fitted map itself.
    ccVector<2> p(333.3, 444.4);
    EXPECT_EQ(inverse->inverseBase()->mapPoint(p), fit.mapPoint(p));

    // linearAt: central differences for the map, the inverse matrix for the inverse.
    const double h = 1e-3;
    ccXform<2> lin = fit.linearAt(p), linInv = inverse->linearAt(fit.mapPoint(p));
    ccVector<2> dx =
        (fit.mapPoint(p + ccVector<2>(h, 0)) - fit.mapPoint(p - ccVector<2>(h, 0))) / (2 * h);
    EXPECT_TRUE(
        PointNear(ccVector<2>(lin.matrix().element(0, 0), lin.matrix().element(1, 0)), dx, 1e-9));
    ccMatrix<2> product = linInv.matrix() * lin.matrix();
    EXPECT_TRUE(PointNear(product * ccVector<2>(1, 2), ccVector<2>(1, 2), 1e-12));
    EXPECT_TRUE(PointNear(linInv.mapPoint(fit.mapPoint(p)), p, 1e-9));
  }
}

TEST(XformPoly, ComposesWithAffineMapsBothWays) {
  std::mt19937 rng(21);
  const Map truth = plateFromImage(3);
  Points image = randomImagePoints(rng, 120);
  cc2XformPoly fit(mapAll(truth, image), image, 3);
  const ccXform<2> left(ccVector<2>(5, -7), 2.0, 1.5, ccRadian(0.05), ccRadian(-0.3));
  // A rotation applied after the handle's transform, as the grid-angle removal does it.
  cc2XformBasePtrh composed = cc2XformLinear(left) * fit;
  // An image-frame map applied after the inverse: pixels to a shifted, rotated pixel frame.
  const ccXform<2> imageLeft(ccVector<2>(-40, 25), 1.0, 1.0, ccRadian(0.0), ccRadian(0.1));
  cc2XformBasePtrh composedInverse = fit.inverseBase()->composedAfter(imageLeft);
  for (const ccVector<2>& p : randomImagePoints(rng, 50)) {
    ccVector<2> q = left.mapPoint(fit.mapPoint(p));
    ASSERT_TRUE(PointNear(composed->mapPoint(p), q, 1e-12));
    ASSERT_TRUE(PointNear(composed->inverseBase()->mapPoint(q), p, 1e-9));
    ASSERT_TRUE(PointNear(composedInverse->mapPoint(fit.mapPoint(p)), imageLeft.mapPoint(p), 1e-9));
    ASSERT_TRUE(PointNear(composedInverse->inverseBase()->mapPoint(imageLeft.mapPoint(p)),
                          fit.mapPoint(p), 1e-12));
  }
  EXPECT_THROW(fit.composedAfter(ccXform<2>(ccMatrix<2>(1, 2, 2, 4), ccVector<2>())), ccMathError);
}

TEST(XformPoly, RefusesDegenerateInput) {
  std::mt19937 rng(4);
  Points image = randomImagePoints(rng, 40);
  Points plate = mapAll(plateFromImage(3), image);
  Points line, grid5, gridPlate, folded;
  for (int i = 0; i < 40; ++i) line.push_back(ccVector<2>(i, 2.0 * i + 1.0));
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) grid5.push_back(ccVector<2>(j * 10.0, i * 10.0));
  gridPlate = mapAll(plateFromImage(3), grid5);
  for (const ccVector<2>& p : image)
    folded.push_back(ccVector<2>(std::pow((p.x() - 512.0) / 400.0, 2), p.y()));

  EXPECT_THROW(cc2XformPoly(plate, image, 0), ccBadArgument);
  EXPECT_THROW(cc2XformPoly(plate, image, 6), ccBadArgument);
  EXPECT_THROW(cc2XformPoly(Points(plate.begin(), plate.begin() + 9),
                            Points(image.begin(), image.begin() + 9), 3),
               ccMathError);  // 9 pairs < 10 terms
  EXPECT_THROW(cc2XformPoly(plate, Points(image.begin(), image.end() - 1), 3), ccMathError);
  EXPECT_THROW(cc2XformPoly(line, line, 3), ccMathError);
  EXPECT_THROW(cc2XformPoly(gridPlate, grid5, 5), ccMathError);  // x^5 vanishes on 5 grid columns
  EXPECT_NO_THROW(cc2XformPoly(gridPlate, grid5, 3));
  EXPECT_THROW(cc2XformPoly(folded, image, 3), ccMathError);
  image[3] = ccVector<2>(std::nan(""), 1.0);
  EXPECT_THROW(cc2XformPoly(plate, image, 3), ccMathError);
}

TEST(XformPoly, ArchiveRoundTripThroughBaseHandle) {
  std::mt19937 rng(8);
  const Map truth = plateFromImage(5);
  Points image = randomImagePoints(rng, 100);
  cc2XformBasePtrh forward = std::make_shared<cc2XformPoly>(mapAll(truth, image), image, 5);
  cc2XformBasePtrh inverse = forward->inverseBase();
  std::vector<unsigned char> buffer;
  {
    ccArchive out(buffer, ccArchive::eStoring);
    out || forward || inverse;
  }
  cc2XformBasePtrh readForward, readInverse;
  {
    ccArchive in(buffer, ccArchive::eLoading);
    in || readForward || readInverse;
  }
  ASSERT_NE(dynamic_cast<cc2XformPoly*>(readForward.get()), nullptr);
  for (const ccVector<2>& p : randomImagePoints(rng, 20)) {
    EXPECT_EQ(readForward->mapPoint(p), forward->mapPoint(p));
    EXPECT_EQ(readInverse->mapPoint(truth(p)), inverse->mapPoint(truth(p)));
  }

  // A truncated stream and a version from the future are refused; the target stays as it was.
  std::vector<unsigned char> cut(buffer.begin(), buffer.end() - 5), future = buffer;
  future[1 + 4 + readForward->persistentTypeName().size()] = 1;  // tag, name length, name, version
  cc2XformBasePtrh target;
  ccArchive inCut(cut, ccArchive::eLoading), inFuture(future, ccArchive::eLoading);
  EXPECT_THROW(inCut || target || target, ccArchive::Truncated);
  EXPECT_THROW(inFuture || target, ccArchive::UnknownVersion);
}

TEST(PolynomialMap, ConvertsStoredForwardAndInversePair) {
  // Forward: a cubic in raw pixel coordinates; inverse record: only a rough affine inverse.
  std::vector<double> ax(static_cast<std::size_t>(cc2DPolynomialMap::numTerms(3)), 0.0), ay(ax);
  for (auto [i, j, cx, cy] : {std::tuple<int, int, double, double>{0, 0, 1.0, -2.0},
                              {1, 0, 0.05, 0.0},
                              {0, 1, 0.002, 0.05},
                              {3, 0, 2e-10, 0.0},
                              {1, 2, 0.0, -1e-10}}) {
    ax[static_cast<std::size_t>(cc2DPolynomialMap::termIndex(i, j))] = cx;
    ay[static_cast<std::size_t>(cc2DPolynomialMap::termIndex(i, j))] = cy;
  }
  cc2DPolynomialMap forward(3, ax, ay), read;
  cc2DPolynomialMap inverse(1, {-20.0, 20.0, 0.0}, {40.0, 0.0, 20.0});
  std::vector<unsigned char> buffer;
  {
    ccArchive out(buffer, ccArchive::eStoring);
    out || static_cast<ccPersistent&>(forward);
  }
  ccArchive in(buffer, ccArchive::eLoading);
  in || static_cast<ccPersistent&>(read);
  EXPECT_EQ(read.order(), 3);
  EXPECT_EQ(read.xCoefficients(), ax);

  cc2XformPoly x = cf_2XformPolyConvert(read, inverse);
  const double u = 700.0, v = 300.0;
  EXPECT_TRUE(PointNear(x.mapPoint(ccVector<2>(u, v)),
                        ccVector<2>(1.0 + 0.05 * u + 0.002 * v + 2e-10 * u * u * u,
                                    -2.0 + 0.05 * v - 1e-10 * u * v * v),
                        1e-12));
  std::mt19937 rng(2);
  for (const ccVector<2>& p : randomImagePoints(rng, 20)) {
    ASSERT_TRUE(PointNear(x.inverseBase()->mapPoint(x.mapPoint(p)), p, 1e-9));
  }
  EXPECT_THROW(cc2DPolynomialMap(3, ax, {1.0}), ccBadArgument);
  EXPECT_THROW(cc2DPolynomialMap(6, {}, {}), ccBadArgument);
}

}  // namespace
