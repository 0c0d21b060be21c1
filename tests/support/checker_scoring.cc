// SPDX-License-Identifier: Apache-2.0
// Scoring of reported checker vertices against the renderer's camera.
#include "tests/support/checker_scoring.h"

#include <cmath>
#include <map>
#include <tuple>

#include "platform/foundation/exception.h"

namespace {

const int kMaps[8][2][2] = {{{1, 0}, {0, 1}},   {{-1, 0}, {0, 1}}, {{1, 0}, {0, -1}},
                            {{-1, 0}, {0, -1}}, {{0, 1}, {1, 0}},  {{0, -1}, {1, 0}},
                            {{0, 1}, {-1, 0}},  {{0, -1}, {-1, 0}}};

}  // namespace

ccCheckerScore cfScoreCheckerVertices(const ccPlateCamera& camera,
                                      const std::vector<ccReportedVertex>& reported,
                                      bool plateLabels) {
  ccCheckerScore s;
  s.found = static_cast<int>(reported.size());
  std::vector<int> near(reported.size(), 0);
  std::vector<long> tx(reported.size()), ty(reported.size());
  for (std::size_t k = 0; k < reported.size(); ++k) {
    try {
      const ccVector<2> p = camera.plateFromImage(reported[k].image);
      tx[k] = std::lround(p.x());
      ty[k] = std::lround(p.y());
      near[k] = std::hypot(p.x() - tx[k], p.y() - ty[k]) < 0.25;
    } catch (const ccException&) {
      near[k] = 0;
    }
    if (!near[k]) ++s.offVertex;
  }
  // Votes for (map, shift).
  std::map<std::tuple<int, long, long>, int> votes;
  for (std::size_t k = 0; k < reported.size(); ++k) {
    if (!near[k]) continue;
    for (int m = 0; m < (plateLabels ? 1 : 8); ++m) {
      const auto& a = kMaps[m];
      const long cx = tx[k] - (a[0][0] * reported[k].labelX + a[0][1] * reported[k].labelY);
      const long cy = ty[k] - (a[1][0] * reported[k].labelX + a[1][1] * reported[k].labelY);
      if (plateLabels && (cx != 0 || cy != 0)) continue;
      ++votes[std::make_tuple(m, cx, cy)];
    }
  }
  int best = 0;
  std::tuple<int, long, long> key(0, 0, 0);
  for (const auto& v : votes) {
    if (v.second > best) {
      best = v.second;
      key = v.first;
    }
  }
  const auto& a = kMaps[std::get<0>(key)];
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) s.m[r][c] = a[r][c];
  }
  s.cx = std::get<1>(key);
  s.cy = std::get<2>(key);
  double sum2 = 0;
  int n = 0;
  for (std::size_t k = 0; k < reported.size(); ++k) {
    if (!near[k]) continue;
    const long px = s.m[0][0] * reported[k].labelX + s.m[0][1] * reported[k].labelY + s.cx;
    const long py = s.m[1][0] * reported[k].labelX + s.m[1][1] * reported[k].labelY + s.cy;
    if (px != tx[k] || py != ty[k]) {
      ++s.wrongLabels;
      continue;
    }
    const double e = camera.imageFromPlate(ccVector<2>(px, py)).distance(reported[k].image);
    sum2 += e * e;
    ++n;
    if (e > s.maxError) s.maxError = e;
  }
  s.rms = n > 0 ? std::sqrt(sum2 / n) : 0.0;
  return s;
}
