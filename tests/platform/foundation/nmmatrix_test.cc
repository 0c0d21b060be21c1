// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/nmmatrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/foundation/exception.h"

namespace {

// Prints the worst element of both matrices when they differ by more than tol.
::testing::AssertionResult MatrixNear(const ccNMMatrix& a, const ccNMMatrix& b, double tol) {
  if (a.rows() != b.rows() || a.cols() != b.cols())
    return ::testing::AssertionFailure() << "sizes differ";
  int wr = 0, wc = 0;
  for (int r = 0; r < a.rows(); ++r)
    for (int c = 0; c < a.cols(); ++c)
      if (std::fabs(a(r, c) - b(r, c)) > std::fabs(a(wr, wc) - b(wr, wc))) wr = r, wc = c;
  if (a.rows() == 0 || a.cols() == 0 || std::fabs(a(wr, wc) - b(wr, wc)) <= tol)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "element (" << wr << ", " << wc << "): " << a(wr, wc)
                                       << " vs " << b(wr, wc) << ", tolerance " << tol;
}

// Checks A = U diag(W) V^T, W sorted and non-negative, V orthonormal, and the first
// min(m, n) columns of U orthonormal (all n when m >= n).
void ExpectValidSvd(const ccNMMatrix& a) {
  ccNMMatrix u, v;
  std::vector<double> w;
  a.decompose(u, w, v);
  ASSERT_TRUE(u.rows() == a.rows() && u.cols() == a.cols() &&
              static_cast<int>(w.size()) == a.cols());
  for (std::size_t i = 0; i < w.size(); ++i)
    EXPECT_TRUE(w[i] >= 0.0 && (i == 0 || w[i] <= w[i - 1])) << i;
  double scale = std::max(1.0, a.maxAbs());
  EXPECT_TRUE(MatrixNear(u * ccNMMatrix::diagonal(w) * v.transpose(), a, 1e-12 * scale));
  EXPECT_TRUE(MatrixNear(v.transpose() * v, ccNMMatrix::identity(a.cols()), 1e-12));
  int k = std::min(a.rows(), a.cols());
  ccNMMatrix uk(a.rows(), k);
  for (int r = 0; r < a.rows(); ++r)
    for (int c = 0; c < k; ++c) uk(r, c) = u(r, c);
  EXPECT_TRUE(MatrixNear(uk.transpose() * uk, ccNMMatrix::identity(k), 1e-12));
}

TEST(NMMatrixSvd, KnownMatricesReconstructWithOrthonormalFactors) {
  std::mt19937 rng(7);
  std::normal_distribution<double> g(0.0, 3.0);
  ccNMMatrix random(60, 6);
  for (int r = 0; r < 60; ++r)
    for (int c = 0; c < 6; ++c) random(r, c) = g(rng);
  const double c = std::cos(0.3), s = std::sin(0.3);
  struct Case {
    const char* name;
    ccNMMatrix a;
  } cases[] = {
      {"rank 1 of 4x3", ccNMMatrix(4, 3, {1, 2, 3, 2, 4, 6, -1, -2, -3, 0.5, 1, 1.5})},
      {"rank 2 of 3x3", ccNMMatrix(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9})},
      {"rotation times scale", ccNMMatrix(3, 3, {2 * c, -2 * s, 0, 2 * s, 2 * c, 0, 0, 0, 1e-3})},
      {"tall 5x2", ccNMMatrix(5, 2, {1, 0, 0, 1, 1, 1, 2, -1, 1e6, 3})},
      {"wide 2x3", ccNMMatrix(2, 3, {1, 2, 3, -4, 0.5, 2})},
      {"zero 3x2", ccNMMatrix(3, 2)},
      {"random 60x6", random},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ExpectValidSvd(k.a);
  }
}

TEST(NMMatrixSvd, SingularValuesOfConstructedMatrix) {
  // A = Q1 diag(5, 2, 1e-9) Q2^T with rotations Q1, Q2: the tiny value is recovered relatively.
  auto rot = [](double t, int i, int j) {
    ccNMMatrix r = ccNMMatrix::identity(3);
    r(i, i) = r(j, j) = std::cos(t);
    r(i, j) = -std::sin(t);
    r(j, i) = std::sin(t);
    return r;
  };
  ccNMMatrix q1 = rot(0.4, 0, 1) * rot(1.1, 1, 2), q2 = rot(-0.7, 0, 2) * rot(0.2, 0, 1);
  ccNMMatrix a = q1 * ccNMMatrix::diagonal({5.0, 2.0, 1e-9}) * q2.transpose();
  ccNMMatrix u, v;
  std::vector<double> w;
  a.decompose(u, w, v);
  EXPECT_NEAR(w[0], 5.0, 1e-14);
  EXPECT_NEAR(w[1], 2.0, 1e-14);
  EXPECT_NEAR(w[2], 1e-9, 1e-9 * 1e-5);
  // The right singular vector of the smallest value is the third column of Q2, up to sign.
  double dot = 0.0;
  for (int r = 0; r < 3; ++r) dot += v(r, 2) * q2(r, 2);
  EXPECT_NEAR(std::fabs(dot), 1.0, 1e-6);
}

TEST(NMMatrixSvd, NullVectorOfTwoLinesIsTheirIntersection) {
  // Rows (cos t, sin t, -d) of two lines through (3, -2): the trailing column of V of the wide
  // 2x3 matrix is the homogeneous intersection.
  const double px = 3.0, py = -2.0, c0 = std::cos(0.3), s0 = std::sin(0.3), c1 = std::cos(1.9),
               s1 = std::sin(1.9);
  ccNMMatrix a(2, 3, {c0, s0, -(c0 * py - s0 * px), c1, s1, -(c1 * py - s1 * px)});
  ccNMMatrix u, v;
  std::vector<double> w;
  a.decompose(u, w, v);
  EXPECT_NEAR(w[2], 0.0, 1e-14);
  EXPECT_NEAR(-v(1, 2) / v(2, 2), px, 1e-12);
  EXPECT_NEAR(v(0, 2) / v(2, 2), py, 1e-12);
}

TEST(NMMatrix, LeastSquaresAndBadInput) {
  ccNMMatrix a(4, 2, {1, 0, 1, 1, 1, 2, 1, 3});
  ccNMMatrix b(4, 1, {1, 3, 5, 7});  // y = 1 + 2x exactly
  ccNMMatrix x = a.solveLeastSquares(b, 1e-12);
  EXPECT_NEAR(x(0, 0), 1.0, 1e-13);
  EXPECT_NEAR(x(1, 0), 2.0, 1e-13);

  EXPECT_THROW(ccNMMatrix(3, 2, {1, 2, 2, 4, 3, 6}).solveLeastSquares(ccNMMatrix(3, 1), 1e-12),
               ccMathError);
  EXPECT_THROW(a.solveLeastSquares(ccNMMatrix(3, 1), 1e-12), ccBadArgument);
  EXPECT_THROW(a * a, ccBadArgument);
  EXPECT_THROW(a.element(4, 0), ccBadArgument);
  EXPECT_THROW(ccNMMatrix(2, 2, {1, 2, 3}), ccBadArgument);
  ccNMMatrix bad(2, 2, {1, 2, std::nan(""), 4}), u, v;
  std::vector<double> w;
  EXPECT_THROW(bad.decompose(u, w, v), ccMathError);
}

}  // namespace
