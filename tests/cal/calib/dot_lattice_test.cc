// SPDX-License-Identifier: Apache-2.0
// Lattice growth on synthetic dot clouds: labels through strong perspective, distortion and
// any rotation with dots missing and specks among them, and the fit test that drops a dot
// off its row.
#include "cal/calib/dot_lattice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>

namespace {

// A disc of radius r (plate units) at plate point (u, v), seen through a homography with
// radial distortion; its moments come from the local linear map, as a foreshortened disc's.
struct Camera {
  double h[9];
  double k1;
  ccVector<2> centre;
  double norm;
  ccVector<2> map(double u, double v) const {
    const double w = h[6] * u + h[7] * v + h[8];
    const ccVector<2> p((h[0] * u + h[1] * v + h[2]) / w, (h[3] * u + h[4] * v + h[5]) / w);
    const ccVector<2> d = p - centre;
    return centre + d * (1.0 + k1 * d.lengthSq() / (norm * norm));
  }
  ccDotShape disc(double u, double v, double r) const {
    const double e = 1e-4;
    const ccVector<2> c = map(u, v), ju = (map(u + e, v) - c) / e, jv = (map(u, v + e) - c) / e;
    ccDotShape s;
    s.centre = c;
    s.area = ccPi * r * r * std::fabs(ju.cross(jv));
    // J diag(r^2 / 4) J^T
    s.mxx = 0.25 * r * r * (ju.x() * ju.x() + jv.x() * jv.x());
    s.mxy = 0.25 * r * r * (ju.x() * ju.y() + jv.x() * jv.y());
    s.myy = 0.25 * r * r * (ju.y() * ju.y() + jv.y() * jv.y());
    return s;
  }
};

TEST(DotLattice, GrowsThroughPerspectiveDistortionAndGaps) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (double turn : {0.3, 1.9, 4.0}) {
    SCOPED_TRACE(turn);
    // 24 x 18 dots, turned, strongly foreshortened towards one side, barrel distortion.
    const double c = 30.0 * std::cos(turn), s = 30.0 * std::sin(turn);
    const Camera cam{
        {c, -s, 640.0, s, c, 480.0, 0.012, 0.004, 1.0}, -0.1, ccVector<2>(640, 480), 800.0};
    std::vector<ccDotShape> cands;
    std::vector<ccPair<long>> truth;
    for (long j = -9; j < 9; ++j) {
      for (long i = -12; i < 12; ++i) {
        if (unit(rng) < 0.05) continue;  // lost dots
        ccDotShape d = cam.disc(static_cast<double>(i), static_cast<double>(j), 0.25);
        d.centre += ccVector<2>(unit(rng) - 0.5, unit(rng) - 0.5) * 0.2;
        cands.push_back(d);
        truth.emplace_back(i, j);
      }
    }
    // Specks: tiny ones anywhere, and dot-sized ones halfway between dots.
    const std::size_t dots = cands.size();
    for (int k = 0; k < 40; ++k) {
      ccDotShape speck = cam.disc(unit(rng) * 24.0 - 12.0, unit(rng) * 18.0 - 9.0, 0.05);
      cands.push_back(speck);
      cands.push_back(
          cam.disc(std::floor(unit(rng) * 23.0) - 11.5, std::floor(unit(rng) * 17.0) - 8.0, 0.25));
    }
    const ccDotLattice lattice = ccDotLattice::grow(cands);
    // One symmetry and offset must take every true index to its label.
    std::map<std::pair<long, long>, int> votes;
    int labelled = 0;
    for (const ccDotLattice::Dot& d : lattice.dots()) {
      ASSERT_GE(d.candidate, 0);
      ASSERT_LT(static_cast<std::size_t>(d.candidate), dots) << "a speck got a label";
      ++labelled;
    }
    EXPECT_GE(labelled, 0.95 * static_cast<double>(dots));
    // Grow labels are in the lattice's own basis: recover it from the seed's neighbours.
    const ccDotLattice::Dot& origin = lattice.dots()[0];
    const int ax = lattice.find(origin.label + ccPair<long>(1, 0)),
              ay = lattice.find(origin.label + ccPair<long>(0, 1));
    ASSERT_GE(ax, 0);
    ASSERT_GE(ay, 0);
    const ccPair<long> t0 = truth[static_cast<std::size_t>(origin.candidate)];
    const ccPair<long> tx =
        truth[static_cast<std::size_t>(lattice.dots()[static_cast<std::size_t>(ax)].candidate)] -
        t0;
    const ccPair<long> ty =
        truth[static_cast<std::size_t>(lattice.dots()[static_cast<std::size_t>(ay)].candidate)] -
        t0;
    for (const ccDotLattice::Dot& d : lattice.dots()) {
      const ccPair<long> l = d.label - origin.label;
      const ccPair<long> want(t0.x() + l.x() * tx.x() + l.y() * ty.x(),
                              t0.y() + l.x() * tx.y() + l.y() * ty.y());
      EXPECT_EQ(truth[static_cast<std::size_t>(d.candidate)], want);
    }
    EXPECT_EQ(std::labs(tx.x() * ty.y() - tx.y() * ty.x()), 1L) << "the labels span every dot";
  }
}

TEST(DotLattice, PruneDropsTheDotOffItsRowAndTooFewCandidatesGrowNothing) {
  const Camera cam{{20, 0, 200, 0, 20, 200, 0, 0, 1}, 0.0, ccVector<2>(), 1.0};
  std::vector<ccDotShape> cands;
  for (long j = 0; j < 6; ++j)
    for (long i = 0; i < 7; ++i)
      cands.push_back(cam.disc(static_cast<double>(i), static_cast<double>(j), 0.25));
  ccDotLattice lattice = ccDotLattice::grow(cands);
  ASSERT_EQ(lattice.size(), cands.size());
  EXPECT_EQ(lattice.prune(), 0u);
  const int moved = lattice.find(lattice.dots()[0].label + ccPair<long>(1, 1));
  ASSERT_GE(moved, 0);
  const ccPair<long> label = lattice.dots()[static_cast<std::size_t>(moved)].label;
  ccDotShape s = lattice.dots()[static_cast<std::size_t>(moved)].shape;
  s.centre += ccVector<2>(6.0, 0.0);  // 0.3 of a step
  lattice.setShape(moved, s);
  EXPECT_EQ(lattice.prune(), 1u);
  EXPECT_LT(lattice.find(label), 0);

  const std::vector<ccDotShape> row(cands.begin(), cands.begin() + 7);
  EXPECT_EQ(ccDotLattice::grow(row).size(), 0u);
}

}  // namespace
