// SPDX-License-Identifier: Apache-2.0
// Costs of the geometry primitives on their hot paths: the per-corner SVD, the polynomial
// calibration fit and its inverse, tile-outline distances and clipping, and mask filling.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "platform/foundation/nmmatrix.h"
#include "platform/foundation/polyline.h"
#include "platform/foundation/region_tree.h"
#include "platform/foundation/xform_poly.h"

namespace {

using Points = std::vector<ccVector<2>>;

ccVector<2> lens(const ccVector<2>& p) {
  double u = (p.x() - 800.0) / 600.0, v = (p.y() - 600.0) / 600.0;
  return ccVector<2>(0.05 * p.x() + 0.3 * u * u * u - 0.1 * u * v * v + 0.02 * std::pow(u, 5),
                     0.05 * p.y() + 0.2 * v * v * v + 0.15 * u * u * v + 0.015 * std::pow(v, 5));
}

// A dot grid of 15 x 13 dots over a 1600 x 1200 image (195 points).
void gridPairs(Points& image, Points& plate) {
  for (int i = 0; i < 13; ++i) {
    for (int j = 0; j < 15; ++j) {
      ccVector<2> p(100.0 + j * 100.0, 60.0 + i * 90.0);
      image.push_back(p);
      plate.push_back(lens(p));
    }
  }
}

Points circle(const ccVector<2>& c, double r, int n) {
  Points v;
  for (int i = 0; i < n; ++i) v.push_back(c + ccVector<2>(r, ccRadian(2 * ccPi * i / n)));
  return v;
}

void BM_SvdFourLines(benchmark::State& state) {
  ccNMMatrix a(4, 3, {0.6, 0.8, -3.0, -0.8, 0.6, 2.0, 0.61, 0.79, -3.1, -0.79, 0.61, 2.1});
  ccNMMatrix u, v;
  std::vector<double> w;
  for (auto _ : state) {
    a.decompose(u, w, v);
    benchmark::DoNotOptimize(w.data());
  }
}
BENCHMARK(BM_SvdFourLines);

void BM_XformPolyFit(benchmark::State& state) {
  Points image, plate;
  gridPairs(image, plate);
  const int order = static_cast<int>(state.range(0));
  for (auto _ : state) {
    cc2XformPoly x(plate, image, order);
    benchmark::DoNotOptimize(&x);
  }
}
BENCHMARK(BM_XformPolyFit)->Arg(3)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_XformPolyMap(benchmark::State& state) {
  Points image, plate;
  gridPairs(image, plate);
  cc2XformPoly forward(plate, image, 5);
  cc2XformBasePtrh x = state.range(0) == 0 ? forward.clone() : forward.inverseBase();
  const Points& in = state.range(0) == 0 ? image : plate;
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(x->mapPoint(in[i]));
    i = (i + 1) % in.size();
  }
  state.SetLabel(state.range(0) == 0 ? "forward" : "inverse");
}
BENCHMARK(BM_XformPolyMap)->Arg(0)->Arg(1);

void BM_NearestPoints(benchmark::State& state) {
  ccPolyline a(circle(ccVector<2>(0, 0), 20.0, 40), true),
      b(circle(ccVector<2>(43, 5), 20.0, 40), true);
  for (auto _ : state) benchmark::DoNotOptimize(a.nearestPoints(b).distance);
}
BENCHMARK(BM_NearestPoints);

void BM_ClipOutline(benchmark::State& state) {
  // A blob outline with one vertex per boundary pixel step (~250 vertices) by a quad zone.
  Points outline;
  for (int x = 0; x < 60; ++x) outline.push_back(ccVector<2>(x, 0));
  for (int y = 0; y < 60; ++y) outline.push_back(ccVector<2>(60, y));
  for (int x = 60; x > 0; --x) outline.push_back(ccVector<2>(x, 60));
  for (int y = 60; y > 0; --y) outline.push_back(ccVector<2>(0, y));
  ccPolyline q(outline, true), p({{30, -10}, {90, 20}, {70, 80}, {20, 40}}, true);
  for (auto _ : state) benchmark::DoNotOptimize(cfClipPolygon(q, p).signedArea());
}
BENCHMARK(BM_ClipOutline);

void BM_HullAndRasterize(benchmark::State& state) {
  const long size = state.range(0);
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> x(0.1 * size, 0.9 * size), y(0.1 * size, 0.7 * size);
  Points corners;
  for (int i = 0; i < 600; ++i) corners.push_back(ccVector<2>(x(rng), y(rng)));
  ccPelBuffer<unsigned char> mask(size, size * 3 / 4);
  for (auto _ : state) {
    ccRegionTree region(ccPolyline(cfConvexHull(corners), true), false);
    cfRasterize(region, mask, 255, eBoundaryInclude);
    benchmark::DoNotOptimize(mask.row(0));
  }
}
BENCHMARK(BM_HullAndRasterize)->Arg(640)->Arg(1600)->Arg(4096)->Unit(benchmark::kMicrosecond);

}  // namespace
