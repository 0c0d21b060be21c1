// SPDX-License-Identifier: Apache-2.0
// X-junction candidates. The response at a pixel looks at 16 samples on a circle of radius
// 3 pixels around it (n = 0 .. 15, counter-clockwise from +x, sample n + 8 opposite n):
//   sum  = sum over n < 4 of |I(n) + I(n+8) - I(n+4) - I(n+12)|   (high where opposite
//          samples agree and quarter-turned ones differ: the checker pattern)
//   diff = sum over n < 8 of |I(n) - I(n+8)|                      (high across an edge)
//   mean = |sum of the ring - 16 * mean of the 5 centre pixels|   (high at blobs, corners)
//   R = sum - diff - mean.
// A sharp junction of contrast C scores about 4 C to 8 C; edges, L-corners, lines and flat
// noise score near or below zero. A 2x2-box pyramid widens the ring to 6, 12, 24 ... pixels,
// so that blurred and large squares are found at the level where they look sharp; squares
// down to about 7 pixels are found on the image itself.
#include "platform/checkerfinder/junction_candidates.h"

#include <algorithm>
#include <cstdlib>

#include "platform/foundation/attention.h"

namespace cclft_internal {
namespace {

// Ring radius, pixels of the level.
constexpr int kRingRadius = 3;
// Levels stop when the smaller side would fall below this many pixels.
constexpr int kMinLevelSide = 24;
constexpr int kMaxLevels = 6;
// Response (scaled by 5, see responseRow) per grey level of contrast that a candidate needs:
// a sharp junction gives 30 to 40 per grey level, a junction blurred to half its sharpness
// about half that.
constexpr int kScaledResponsePerGrey = 12;
// Response (scaled by 5) per grey level of pixel noise that a candidate needs: pure noise
// of standard deviation s rarely gives a local maximum above 5 s (unscaled), while a
// junction scores 4 to 8 times its contrast.
constexpr double kScaledResponsePerNoise = 25.0;
// A candidate of a coarser level within this many of its pixels of a finer-level candidate
// is the same junction.
constexpr double kMergeRadiusLevelPixels = 1.5;
// Cell of the spatial hash used for merging, level-0 pixels.
constexpr double kMergeCell = 16.0;

struct Level {
  std::vector<std::uint8_t> pixels;  // empty for level 0 (the caller's view)
  GrayView view;
};

// 2x2 box average of `in` (odd last row or column dropped).
void downsample(const GrayView& in, Level& out) {
  const int w = in.width / 2, h = in.height / 2;
  out.pixels.assign(static_cast<std::size_t>(w) * h, 0);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* a = in.data + static_cast<std::ptrdiff_t>(2 * y) * in.stride;
    const std::uint8_t* b = a + in.stride;
    std::uint8_t* o = out.pixels.data() + static_cast<std::size_t>(y) * w;
    for (int x = 0; x < w; ++x) {
      o[x] =
          static_cast<std::uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
    }
  }
  out.view = GrayView{out.pixels.data(), w, w, h};
}

// Response times 5 (so the centre mean stays an integer) for x in [r, width - r) of row y.
// Every intermediate fits 16 bits (|5 (sum - diff)| <= 10200, |5 ring - 16 centre| <=
// 20400), which lets the loop run on eight lanes.
void responseRow(const GrayView& im, int y, std::int16_t* out) {
  const std::uint8_t* r[7];
  for (int k = 0; k < 7; ++k) r[k] = im.data + static_cast<std::ptrdiff_t>(y - 3 + k) * im.stride;
  const std::uint8_t *r0 = r[0], *r1 = r[1], *r2 = r[2], *r3 = r[3], *r4 = r[4], *r5 = r[5],
                     *r6 = r[6];
  const int x1 = im.width - kRingRadius;
  auto abs16 = [](std::int16_t v) { return static_cast<std::int16_t>(v < 0 ? -v : v); };
  for (int x = kRingRadius; x < x1; ++x) {
    const std::int16_t p0 = r3[x + 3], p1 = r4[x + 3], p2 = r5[x + 2], p3 = r6[x + 1];
    const std::int16_t p4 = r6[x], p5 = r6[x - 1], p6 = r5[x - 2], p7 = r4[x - 3];
    const std::int16_t p8 = r3[x - 3], p9 = r2[x - 3], p10 = r1[x - 2], p11 = r0[x - 1];
    const std::int16_t p12 = r0[x], p13 = r0[x + 1], p14 = r1[x + 2], p15 = r2[x + 3];
    const std::int16_t sum =
        static_cast<std::int16_t>(abs16(static_cast<std::int16_t>(p0 + p8 - p4 - p12)) +
                                  abs16(static_cast<std::int16_t>(p1 + p9 - p5 - p13)) +
                                  abs16(static_cast<std::int16_t>(p2 + p10 - p6 - p14)) +
                                  abs16(static_cast<std::int16_t>(p3 + p11 - p7 - p15)));
    const std::int16_t diff = static_cast<std::int16_t>(
        abs16(static_cast<std::int16_t>(p0 - p8)) + abs16(static_cast<std::int16_t>(p1 - p9)) +
        abs16(static_cast<std::int16_t>(p2 - p10)) + abs16(static_cast<std::int16_t>(p3 - p11)) +
        abs16(static_cast<std::int16_t>(p4 - p12)) + abs16(static_cast<std::int16_t>(p5 - p13)) +
        abs16(static_cast<std::int16_t>(p6 - p14)) + abs16(static_cast<std::int16_t>(p7 - p15)));
    const std::int16_t ring = static_cast<std::int16_t>(p0 + p1 + p2 + p3 + p4 + p5 + p6 + p7 + p8 +
                                                        p9 + p10 + p11 + p12 + p13 + p14 + p15);
    const std::int16_t centre =
        static_cast<std::int16_t>(r3[x] + r3[x - 1] + r3[x + 1] + r2[x] + r4[x]);
    out[x] = static_cast<std::int16_t>(5 * (sum - diff) -
                                       abs16(static_cast<std::int16_t>(5 * ring - 16 * centre)));
  }
}

// Sub-pixel offset of a parabola's peak through three samples, in [-0.5, 0.5].
double parabolaPeak(double a, double b, double c) {
  const double den = a - 2 * b + c;
  if (den >= 0) return 0.0;
  return std::clamp(0.5 * (a - c) / den, -0.5, 0.5);
}

// Local maxima of one level's response at or above `threshold`, in level coordinates.
void levelMaxima(const GrayView& im, int threshold, int level, std::vector<Candidate>& out) {
  const int w = im.width, h = im.height;
  if (w < 2 * kRingRadius + 3 || h < 2 * kRingRadius + 3) return;
  // Three rows of response; row y of the image lives in slot y % 3.
  std::vector<std::int16_t> rows(static_cast<std::size_t>(3) * w, 0);
  auto row = [&](int y) { return rows.data() + static_cast<std::size_t>(y % 3) * w; };
  const int y0 = kRingRadius, y1 = h - kRingRadius;
  responseRow(im, y0, row(y0));
  responseRow(im, y0 + 1, row(y0 + 1));
  const double scale = static_cast<double>(1 << level);
  for (int y = y0 + 1; y + 1 < y1; ++y) {
    responseRow(im, y + 1, row(y + 1));
    const std::int16_t* up = row(y - 1);
    const std::int16_t* mid = row(y);
    const std::int16_t* dn = row(y + 1);
    for (int x = kRingRadius + 1; x + 1 < w - kRingRadius; ++x) {
      const int v = mid[x];
      if (v < threshold) continue;
      // Strict on one side, non-strict on the other, so a plateau yields one maximum.
      if (v <= mid[x - 1] || v < mid[x + 1] || v <= up[x - 1] || v <= up[x] || v <= up[x + 1] ||
          v < dn[x - 1] || v < dn[x] || v < dn[x + 1]) {
        continue;
      }
      const double dx = parabolaPeak(mid[x - 1], v, mid[x + 1]);
      const double dy = parabolaPeak(up[x], v, dn[x]);
      Candidate c;
      c.pos = Vec((x + dx + 0.5) * scale - 0.5, (y + dy + 0.5) * scale - 0.5);
      c.response = static_cast<float>(v) / 5.0f;
      c.level = level;
      out.push_back(c);
    }
  }
}

void keepStrongest(std::vector<Candidate>& c, int maxCount) {
  if (static_cast<int>(c.size()) <= maxCount) return;
  std::nth_element(c.begin(), c.begin() + maxCount, c.end(),
                   [](const Candidate& a, const Candidate& b) { return a.response > b.response; });
  c.resize(static_cast<std::size_t>(maxCount));
}

}  // namespace

int cfJunctionResponse(const GrayView& image, int x, int y) {
  std::vector<std::int16_t> row(static_cast<std::size_t>(image.width), 0);
  responseRow(image, y, row.data());
  return row[static_cast<std::size_t>(x)] / 5;
}

std::vector<Candidate> cfFindJunctionCandidates(const GrayView& image, double minContrast,
                                                int maxCandidates, double noiseSigma) {
  const double contrastThreshold = kScaledResponsePerGrey * minContrast;
  std::vector<Candidate> merged;
  const int gw = static_cast<int>(image.width / kMergeCell) + 1;
  const int gh = static_cast<int>(image.height / kMergeCell) + 1;
  std::vector<std::vector<int>> grid(static_cast<std::size_t>(gw) * gh);
  auto cellOf = [&](const Vec& p, int& cx, int& cy) {
    cx = std::clamp(static_cast<int>(p.x() / kMergeCell), 0, gw - 1);
    cy = std::clamp(static_cast<int>(p.y() / kMergeCell), 0, gh - 1);
  };

  Level previous;
  previous.view = image;
  for (int level = 0; level < kMaxLevels; ++level) {
    Level current;
    if (level == 0) {
      current.view = image;
    } else {
      if (previous.view.width / 2 < kMinLevelSide || previous.view.height / 2 < kMinLevelSide)
        break;
      downsample(previous.view, current);
    }
    ccAttention::check();
    std::vector<Candidate> found;
    // Each pyramid level halves the noise.
    const double noiseThreshold = kScaledResponsePerNoise * noiseSigma / (1 << level);
    levelMaxima(current.view, static_cast<int>(std::max(contrastThreshold, noiseThreshold)), level,
                found);
    keepStrongest(found, maxCandidates);
    const double radius = std::max(kMergeRadiusLevelPixels * (1 << level), 2.0);
    for (const Candidate& c : found) {
      int cx, cy;
      cellOf(c.pos, cx, cy);
      bool duplicate = false;
      const int reach = static_cast<int>(radius / kMergeCell) + 1;
      for (int gy = std::max(0, cy - reach); gy <= std::min(gh - 1, cy + reach) && !duplicate;
           ++gy) {
        for (int gx = std::max(0, cx - reach); gx <= std::min(gw - 1, cx + reach) && !duplicate;
             ++gx) {
          for (int k : grid[static_cast<std::size_t>(gy) * gw + gx]) {
            if (merged[static_cast<std::size_t>(k)].pos.distance(c.pos) <= radius) {
              duplicate = true;
              break;
            }
          }
        }
      }
      if (duplicate) continue;
      grid[static_cast<std::size_t>(cy) * gw + cx].push_back(static_cast<int>(merged.size()));
      merged.push_back(c);
    }
    previous = std::move(current);
    if (level == 0) previous.view = image;
  }
  keepStrongest(merged, maxCandidates);
  std::sort(merged.begin(), merged.end(),
            [](const Candidate& a, const Candidate& b) { return a.response > b.response; });
  return merged;
}

}  // namespace cclft_internal
