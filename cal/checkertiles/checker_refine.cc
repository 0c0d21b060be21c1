// SPDX-License-Identifier: Apache-2.0
// Caliper measurement of the board's edges: for every usable tile, the four sides of its
// square are located from the quad of its diagonal neighbours' centres, measured with five
// calipers each on the working image, fitted with a line, and the line is handed to the
// corners at the side's ends, which are linked to each other.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "cal/checkertiles/checker_geometry.h"
#include "cal/checkertiles/checker_stages.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"
#include "platform/vision/caliper.h"

using checker_internal::inLine;
using checker_internal::surrounds;

namespace {

// Caliper settings.
constexpr double kCaliperFilterHalfWidth = 0.0;  // the tool's default
constexpr int kCaliperPolarity = eEitherPolarity;
constexpr int kCaliperMaxResults = 5;
constexpr double kCaliperContrastThreshold = 10.0;  // grey levels
constexpr int kCalipersPerSide = 5;
// Spacing of the calipers along a side, as a share of half the quad side: 0.7 / 5.
constexpr double kCaliperSpacing = 0.14;
// Search length, as a share of the distance from the tile centre to the quad side's midpoint.
constexpr double kSearchLengthShare = 0.8;
constexpr double kCaliperWidth = 1.0;  // client units, one sample across
constexpr int kSamplesAcross = 1;
// Samples along the search: fewer than kMinSamples means the side is too short to measure;
// fewer than kMinUsedSamples are raised to that.
constexpr long kMinSamples = 5;
constexpr long kMinUsedSamples = 7;
constexpr long kMaxSamples = 65535;  // a 16-bit count
constexpr int kInterpolation = ccAffineSamplingParams::eLanczos3;
// Line fit of a side.
constexpr std::size_t kMinEdgePoints = 4;
constexpr double kMaxLineFitError = 3.0;
// Direction matching: a neighbour is paired with a quad point when their directions from
// the tile agree this well (cosine times length ratio); squared lengths below kTinyLengthSq
// count as zero.
constexpr double kMinMatchScore = 0.5;
constexpr double kTinyLengthSq = 1e-12;
constexpr int kQuadPoints = 4;
constexpr int kFullLinks = 4;

using Quad = std::vector<ccVector<2>>;

struct CaliperTool {
  ccCaliperRunParams run{kCaliperFilterHalfWidth, kCaliperPolarity};
  ccCaliperResultSet results;
  ccXform<2> imageFromClient;
  CaliperTool() {
    run.maxNumResults(kCaliperMaxResults);
    run.contrastThreshold(kCaliperContrastThreshold);
  }
};

cc_Checker* neighbour(const cc_Checker& t, int k) {
  return t.neighbours[static_cast<std::size_t>(k)];
}

std::vector<ccVector<2>> neighbourCentres(const cc_Checker& t) {
  std::vector<ccVector<2>> c;
  for (int k = 0; k < t.neighbourCount; ++k) c.push_back(neighbour(t, k)->centerOfMass);
  return c;
}

// Pairs neighbours with quad points by direction from the tile centre: repeatedly the best
// remaining pair (neighbour-major scan, first on ties) while its score reaches kMinMatchScore.
// Returns, per quad point, the matched neighbour or null.
std::vector<cc_Checker*> matchByDirection(const cc_Checker& t, const Quad& quad) {
  const int n = t.neighbourCount, m = static_cast<int>(quad.size());
  std::vector<double> score(static_cast<std::size_t>(n * m));
  for (int i = 0; i < n; ++i) {
    const ccVector<2> a = neighbour(t, i)->centerOfMass - t.centerOfMass;
    for (int j = 0; j < m; ++j) {
      const ccVector<2> b = quad[static_cast<std::size_t>(j)] - t.centerOfMass;
      const double la = a.lengthSq(), lb = b.lengthSq();
      double s;
      if (la <= kTinyLengthSq) {
        s = lb <= kTinyLengthSq ? 1.0 : 0.0;
      } else if (lb <= kTinyLengthSq) {
        s = 0.0;
      } else {
        s = a.dot(b) / std::sqrt(la * lb) * std::sqrt(std::min(la, lb) / std::max(la, lb));
      }
      score[static_cast<std::size_t>(i * m + j)] = s;
    }
  }
  std::vector<cc_Checker*> byPoint(static_cast<std::size_t>(m), nullptr);
  std::vector<bool> rowUsed(static_cast<std::size_t>(n), false),
      colUsed(static_cast<std::size_t>(m), false);
  for (;;) {
    int bi = -1, bj = -1;
    double best = 0.0;
    for (int i = 0; i < n; ++i) {
      if (rowUsed[static_cast<std::size_t>(i)]) continue;
      for (int j = 0; j < m; ++j) {
        if (colUsed[static_cast<std::size_t>(j)]) continue;
        const double s = score[static_cast<std::size_t>(i * m + j)];
        if (bi < 0 || s > best) {
          bi = i;
          bj = j;
          best = s;
        }
      }
    }
    if (bi < 0 || best < kMinMatchScore) break;
    byPoint[static_cast<std::size_t>(bj)] = neighbour(t, bi);
    rowUsed[static_cast<std::size_t>(bi)] = true;
    colUsed[static_cast<std::size_t>(bj)] = true;
  }
  return byPoint;
}

// A quad borrowed from elsewhere, fitted to tile t: every neighbour of t must match a quad
// point and then replaces it; the result must surround t. Empty when it does not fit.
Quad fitBorrowedQuad(const cc_Checker& t, Quad quad) {
  const std::vector<cc_Checker*> byPoint = matchByDirection(t, quad);
  int matched = 0;
  for (std::size_t j = 0; j < byPoint.size(); ++j) {
    if (byPoint[j] == nullptr) continue;
    quad[j] = byPoint[j]->centerOfMass;
    ++matched;
  }
  if (matched != t.neighbourCount) return Quad();
  if (!surrounds(t.centerOfMass, quad)) return Quad();
  return quad;
}

Quad shifted(Quad q, const ccVector<2>& by) {
  for (ccVector<2>& p : q) p += by;
  return q;
}

// (a) The quad of a neighbour with four links, moved onto t.
Quad quadFromFullNeighbour(const cc_Checker& t) {
  for (int k = 0; k < t.neighbourCount; ++k) {
    const cc_Checker& n = *neighbour(t, k);
    if (n.neighbourCount != kFullLinks) continue;
    const Quad source = neighbourCentres(n);
    cstd_assert_(surrounds(n.centerOfMass, source));
    if (!surrounds(n.centerOfMass, source)) continue;
    Quad q = fitBorrowedQuad(t, shifted(source, t.centerOfMass - n.centerOfMass));
    if (!q.empty()) return q;
  }
  return Quad();
}

// (b) The tile's neighbour centres completed by mirroring, through the tile's centre, each
// one that has no partner on the opposite side. Kept only when that gives four points,
// which are then put in ascending angle around the centre.
Quad mirroredQuad(const cc_Checker& t) {
  Quad q = neighbourCentres(t);
  const std::size_t n = q.size();
  const ccVector<2> c = t.centerOfMass;
  for (std::size_t i = 0; i < n; ++i) {
    bool paired = false;
    for (std::size_t j = 0; j < n && !paired; ++j) paired = inLine(q[i], c, q[j]);
    if (!paired) q.push_back(c * 2.0 - q[i]);
  }
  if (q.size() != static_cast<std::size_t>(kQuadPoints)) return Quad();
  std::vector<double> angle;
  for (const ccVector<2>& p : q) angle.push_back((p - c).angle().norm().toDouble());
  for (std::size_t i = 0; i < q.size(); ++i)
    for (std::size_t j = i + 1; j < q.size(); ++j)
      if (angle[j] < angle[i]) {
        std::swap(angle[i], angle[j]);
        std::swap(q[i], q[j]);
      }
  return q;
}

// (c) The mirrored quad of the best-connected neighbour that has one, moved onto t.
Quad quadFromMirroredNeighbour(const cc_Checker& t) {
  std::vector<const cc_Checker*> byLinks;
  for (int k = 0; k < t.neighbourCount; ++k) byLinks.push_back(neighbour(t, k));
  std::sort(byLinks.begin(), byLinks.end(), [](const cc_Checker* a, const cc_Checker* b) {
    return a->neighbourCount > b->neighbourCount;
  });
  for (const cc_Checker* n : byLinks) {
    const Quad source = mirroredQuad(*n);
    if (source.size() != static_cast<std::size_t>(kQuadPoints)) continue;
    cstd_assert_(surrounds(n->centerOfMass, source));
    if (!surrounds(n->centerOfMass, source)) return Quad();
    return fitBorrowedQuad(t, shifted(source, t.centerOfMass - n->centerOfMass));
  }
  return Quad();
}

// The centres of the tile's four diagonal neighbours in angular order, real or estimated
// for a tile with fewer than four links; empty when no estimate works.
Quad quadOf(const cc_Checker& t) {
  if (t.neighbourCount == kFullLinks) return neighbourCentres(t);
  Quad q = quadFromFullNeighbour(t);
  if (q.empty() && t.neighbourCount >= 2) q = mirroredQuad(t);
  if (q.empty()) q = quadFromMirroredNeighbour(t);
  return q;
}

// Edge points across one side: kCalipersPerSide calipers spaced along `half` (half the quad
// side) around `centre`, each searching `length` across it; from each caliper the strongest
// edge. Client coordinates.
std::vector<ccVector<2>> measureSide(const ccPelBuffer_const<unsigned char>& image,
                                     CaliperTool& tool, const ccVector<2>& centre,
                                     const ccVector<2>& half, double length) {
  std::vector<ccVector<2>> points;
  if (length == 0.0 || half.length() == 0.0) return points;
  const ccVector<2> step = half * kCaliperSpacing;
  const ccRadian searchAngle = half.angle() + ccRadian(0.5 * ccPi);
  ccVector<2> at = centre - step * 3.0;
  ccAffineRectangle rect(at, length, kCaliperWidth, searchAngle, ccRadian(0.0));
  const ccVector<2> po = tool.imageFromClient.mapPoint(rect.cornerPo());
  const ccVector<2> px = tool.imageFromClient.mapPoint(rect.cornerPx());
  long samples = std::min(static_cast<long>((px - po).length()), kMaxSamples);
  if (samples < kMinSamples) return points;
  samples = std::max(samples, kMinUsedSamples);
  ccAffineSamplingParams sampling(rect, static_cast<int>(samples), kSamplesAcross, kInterpolation);

  for (int c = 0; c < kCalipersPerSide; ++c) {
    at += step;
    rect.center(at);
    try {
      sampling.affineRectangle(rect);
      cfCaliperRun(image, sampling, tool.run, tool.results, nullptr);
    } catch (const ccTimeout&) {
      throw;
    } catch (const ccException&) {
      continue;  // this caliper lies off the image or cannot sample: only it is lost
    }
    const ccCaliperResult* best = nullptr;
    for (const ccCaliperResult& r : tool.results.results()) {
      if (best == nullptr ||
          std::fabs(r.edges().front().contrast()) > std::fabs(best->edges().front().contrast())) {
        best = &r;
      }
    }
    if (best != nullptr)
      points.push_back(best->mapPositionToPoint(best->edges().front().position()));
  }
  return points;
}

// The tile's own corner at a quad point that no neighbour shares, made on first use.
cc_Corner* ownCorner(cc_Checker& t, cc_Corner*& slot, std::vector<cc_Corner>& corners) {
  if (slot != nullptr) return slot;
  cstd_assert_(corners.size() < corners.capacity());
  if (corners.size() >= corners.capacity()) return nullptr;
  corners.emplace_back(&t, nullptr);
  slot = &corners.back();
  t.addCorner(slot);
  return slot;
}

void refineTile(const ccPelBuffer_const<unsigned char>& image, bool singleTileCorners,
                CaliperTool& tool, const ccRect& window, cc_Checker& t,
                std::vector<cc_Corner>& corners) {
  const Quad quad = quadOf(t);
  if (quad.size() != static_cast<std::size_t>(kQuadPoints)) return;

  std::vector<cc_Checker*> byPoint;
  if (t.neighbourCount == kFullLinks) {
    byPoint.assign(t.neighbours.begin(), t.neighbours.begin() + kQuadPoints);
  } else {
    cstd_assert_(surrounds(t.centerOfMass, quad));
    byPoint = matchByDirection(t, quad);
  }
  ccVector<2> inImage[kQuadPoints];
  for (int k = 0; k < kQuadPoints; ++k)
    inImage[k] = tool.imageFromClient.mapPoint(quad[static_cast<std::size_t>(k)]);

  cc_Corner* own[kQuadPoints] = {nullptr, nullptr, nullptr, nullptr};
  for (int k = 0; k < kQuadPoints; ++k) {
    const int k1 = (k + 1) % kQuadPoints;
    if (!window.contains(inImage[k]) || !window.contains(inImage[k1])) continue;
    const ccVector<2> mid =
        (quad[static_cast<std::size_t>(k)] + quad[static_cast<std::size_t>(k1)]) * 0.5;
    const ccVector<2> half =
        (quad[static_cast<std::size_t>(k)] - quad[static_cast<std::size_t>(k1)]) * 0.5;
    const ccVector<2> centre = (mid + t.centerOfMass) * 0.5;
    const double length = kSearchLengthShare * (mid - t.centerOfMass).length();
    if (length == 0.0) continue;

    const std::vector<ccVector<2>> points = measureSide(image, tool, centre, half, length);
    if (points.size() < kMinEdgePoints) continue;
    ccFLine line;
    double error = 0.0;
    if (!ccLSLineFitter().fitAndError(points, line, error) || error > kMaxLineFitError) continue;

    cc_Checker* na = byPoint[static_cast<std::size_t>(k)];
    cc_Checker* nb = byPoint[static_cast<std::size_t>(k1)];
    cc_Corner* a = na != nullptr ? t.cornerSharedWith(na) : nullptr;
    cc_Corner* b = nb != nullptr ? t.cornerSharedWith(nb) : nullptr;
    if (singleTileCorners) {
      if (a == nullptr) a = ownCorner(t, own[k], corners);
      if (b == nullptr) b = ownCorner(t, own[k1], corners);
      cstd_assert_(a != nullptr && b != nullptr);
    }
    if (a != nullptr) a->addLine(line, a->tiles.first == &t, true);
    if (b != nullptr) b->addLine(line, b->tiles.first == &t, false);
    if (a != nullptr && b != nullptr) {
      a->link(b);
      b->link(a);
    }
  }
}

}  // namespace

void cfCheckerRefineCorners(const ccPelBuffer_const<unsigned char>& image,
                            const ccCalib2VertexFeatureParams& params,
                            std::vector<cc_Checker>& tiles, std::vector<cc_Corner>& corners) {
  image.requireBound();
  CaliperTool tool;
  tool.imageFromClient = image.imageFromClientXform();
  const ccPelRect win = image.window();
  const ccRect window(static_cast<double>(win.x()), static_cast<double>(win.y()),
                      static_cast<double>(win.width()), static_cast<double>(win.height()));
  const bool singleTileCorners = !params.needBothCheckers();
  for (cc_Checker& t : tiles) {
    if (t.rejected) continue;
    ccAttention::check();
    cstd_assert_(t.neighbourCount < 6);
    if (t.neighbourCount == 0 || t.neighbourCount == 5) continue;
    refineTile(image, singleTileCorners, tool, window, t, corners);
  }
}
