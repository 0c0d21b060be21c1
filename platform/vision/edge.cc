// SPDX-License-Identifier: Apache-2.0
// Gradient edge detection: a separable derivative-of-Gaussian operator streamed row by row,
// with branch-free direction coding and axis-wise non-maximum suppression.
#include "platform/vision/edge.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/foundation/attention.h"

ccEdgeletParams::ccEdgeletParams(double sigma, double minMagnitude, int edgeTypeRequest)
    : sigma_(sigma), minMagnitude_(minMagnitude), request_(edgeTypeRequest) {
  if (!(sigma >= kMinSigma && sigma <= kMaxSigma)) {
    throw ccBadArgument(L"ccEdgeletParams: sigma must lie in [0.3, 8] pixels");
  }
  if (!(minMagnitude >= 0.0) || !std::isfinite(minMagnitude)) {
    throw ccBadArgument(L"ccEdgeletParams: the minimum magnitude must be finite and not negative");
  }
  if (edgeTypeRequest != eAllEdgelets && edgeTypeRequest != ePeakEdgelets) {
    throw ccBadArgument(L"ccEdgeletParams: the edge type request must be 0 (all) or 1 (peaks)");
  }
}

namespace {

constexpr double kBinaryAnglesPerTurn = 256.0;

// Radius of the gradient kernels, rounded to whole pixels: 2.5 sigma keeps all taps above
// about 2% of the peak derivative tap; never shorter than one pixel.
constexpr double kKernelRadiusInSigmas = 2.5;

// Radii with unrolled, vectorised filter loops; larger kernels take the generic loops.
constexpr int kMaxUnrolledRadius = 4;

// Column pass: smooths (sv) and differentiates (dv) along y at every x of one row, from the
// 2r + 1 input rows centred on it. kR > 0 fixes the radius at compile time.
template <int kR>
void columnPass(const unsigned char* const* rows, int r, const float* g, const float* d,
                float* __restrict sv, float* __restrict dv, long w) {
  const int R = kR > 0 ? kR : r;
  const unsigned char* centre = rows[R];
  for (long x = 0; x < w; ++x) {
    float s = g[0] * centre[x], t = 0.0f;
    for (int i = 1; i <= R; ++i) {
      const float above = rows[R - i][x], below = rows[R + i][x];
      s += g[i] * (above + below);
      t += d[i] * (below - above);
    }
    sv[x] = s;
    dv[x] = t;
  }
}

// Row pass: gx = x-derivative of sv, gy = x-smoothing of dv. sv and dv hold r valid values
// before index 0 and after index w - 1.
template <int kR>
void rowPass(const float* sv, const float* dv, int r, const float* g, const float* d,
             float* __restrict gx, float* __restrict gy, long w) {
  const int R = kR > 0 ? kR : r;
  for (long x = 0; x < w; ++x) {
    float a = 0.0f, b = g[0] * dv[x];
    for (int i = 1; i <= R; ++i) {
      a += d[i] * (sv[x + i] - sv[x - i]);
      b += g[i] * (dv[x - i] + dv[x + i]);
    }
    gx[x] = a;
    gy[x] = b;
  }
}

// Derivative-of-Gaussian gradient of an 8-bit window, produced one row at a time from top to
// bottom: a column pass over the 2r + 1 input rows around the row, then a row pass. The input
// rows are copied into a ring as they are first needed, so a caller may overwrite row y of
// the image once the gradient of row y has been produced. Pixels beyond the window repeat the
// nearest window pixel. Gradients are in grey levels per pixel, +x right, +y down.
class ccGradientRows {
 public:
  ccGradientRows(const ccPelBuffer_const<unsigned char>& image, double sigma)
      : image_(image), w_(image.width()), h_(image.height()) {
    r_ = std::max(1, static_cast<int>(std::lround(kKernelRadiusInSigmas * sigma)));
    g_.resize(r_ + 1);
    d_.resize(r_ + 1);
    double sum = 0.0, moment = 0.0;
    std::vector<double> g(r_ + 1);
    for (int i = 0; i <= r_; ++i) {
      g[i] = std::exp(-0.5 * i * i / (sigma * sigma));
      sum += (i == 0 ? 1.0 : 2.0) * g[i];
      moment += 2.0 * i * i * g[i];
    }
    // Smoothing taps sum to 1; derivative taps d_i = i g_i / sum(j^2 g_j) read a unit ramp as 1.
    for (int i = 0; i <= r_; ++i) {
      g_[i] = static_cast<float>(g[i] / sum);
      d_[i] = static_cast<float>(i * g[i] / moment);
    }
    ring_.resize(static_cast<std::size_t>(2 * r_ + 1) * w_);
    rows_.resize(2 * r_ + 1);
    sv_.resize(w_ + 2 * r_);
    dv_.resize(w_ + 2 * r_);
    nextCopied_ = -r_;
  }

  // Writes the gradient of the next window row into gx and gy (width() values each).
  void next(float* gx, float* gy) {
    const long y = row_++;
    for (; nextCopied_ <= y + r_; ++nextCopied_) {
      const unsigned char* src = image_.row(std::clamp(nextCopied_, 0L, h_ - 1));
      std::copy(src, src + w_, ringRow(nextCopied_));
    }
    for (int i = -r_; i <= r_; ++i) rows_[i + r_] = ringRow(y + i);
    float* sv = sv_.data() + r_;
    float* dv = dv_.data() + r_;
    switch (r_) {
      case 1:
        columnPass<1>(rows_.data(), r_, g_.data(), d_.data(), sv, dv, w_);
        break;
      case 2:
        columnPass<2>(rows_.data(), r_, g_.data(), d_.data(), sv, dv, w_);
        break;
      case 3:
        columnPass<3>(rows_.data(), r_, g_.data(), d_.data(), sv, dv, w_);
        break;
      case 4:
        columnPass<4>(rows_.data(), r_, g_.data(), d_.data(), sv, dv, w_);
        break;
      default:
        columnPass<0>(rows_.data(), r_, g_.data(), d_.data(), sv, dv, w_);
        break;
    }
    for (int i = 1; i <= r_; ++i) {
      sv[-i] = sv[0];
      dv[-i] = dv[0];
      sv[w_ - 1 + i] = sv[w_ - 1];
      dv[w_ - 1 + i] = dv[w_ - 1];
    }
    switch (r_) {
      case 1:
        rowPass<1>(sv, dv, r_, g_.data(), d_.data(), gx, gy, w_);
        break;
      case 2:
        rowPass<2>(sv, dv, r_, g_.data(), d_.data(), gx, gy, w_);
        break;
      case 3:
        rowPass<3>(sv, dv, r_, g_.data(), d_.data(), gx, gy, w_);
        break;
      case 4:
        rowPass<4>(sv, dv, r_, g_.data(), d_.data(), gx, gy, w_);
        break;
      default:
        rowPass<0>(sv, dv, r_, g_.data(), d_.data(), gx, gy, w_);
        break;
    }
    static_assert(kMaxUnrolledRadius == 4, "the dispatch above lists the unrolled radii");
  }

 private:
  // Ring slot of a (virtual) input row; rows above the window are negative.
  unsigned char* ringRow(long virtualRow) {
    return ring_.data() + ((virtualRow + r_) % (2 * r_ + 1)) * w_;
  }

  const ccPelBuffer_const<unsigned char>& image_;
  long w_, h_;
  int r_ = 1;
  std::vector<float> g_, d_;                // taps 0..r of the smoothing and derivative kernels
  std::vector<unsigned char> ring_;         // copies of the 2r + 1 input rows in use
  std::vector<const unsigned char*> rows_;  // those rows in order, centre at index r
  std::vector<float> sv_, dv_;              // column-pass results with r padding values each side
  long row_ = 0;                            // next output row
  long nextCopied_ = 0;                     // next input row to copy into the ring
};

// Square root of q >= 0 to about 1e-6 relative, from the classic reciprocal-square-root bit
// estimate and two Newton steps. Unlike std::sqrt it never touches errno, so row loops that
// use it vectorise.
inline float fastSqrt(float q) {
  std::uint32_t bits;
  std::memcpy(&bits, &q, sizeof bits);
  bits = 0x5f3759dfu - (bits >> 1);
  float y;
  std::memcpy(&y, &bits, sizeof y);
  const float half = 0.5f * q;
  y = y * (1.5f - half * y * y);
  y = y * (1.5f - half * y * y);
  return q * y;
}

// Binary angle (256 per turn) of (gx, gy), to within 0.5 + 0.16 units, with no branches so
// that the row loop vectorises. On [0, 1], atan r ~ r (pi/4 + 0.273 (1 - r)) (error below
// 0.004 rad, 0.16 units); the octant is restored by reflections.
inline float binaryAngle(float gx, float gy) {
  constexpr float kUnits = static_cast<float>(kBinaryAnglesPerTurn / (2.0 * ccPi));
  constexpr float c1 = static_cast<float>(ccPi / 4.0) * kUnits, c2 = 0.273f * kUnits;
  const float ax = std::fabs(gx), ay = std::fabs(gy);
  // Selections are written as arithmetic on 0/1 factors: the compiler will not turn a
  // conditional floating-point expression into a vector select.
  const float swap = static_cast<float>(ay > ax);
  const float hi = ax + swap * (ay - ax), lo = ay + swap * (ax - ay);
  const float r = lo / (hi + 1e-30f);
  float t = r * (c1 + c2 * (1.0f - r));                      // [0, 32] units
  t += swap * (64.0f - 2.0f * t);                            // reflect about 45 degrees
  t += static_cast<float>(gx < 0.0f) * (128.0f - 2.0f * t);  // about 90 degrees
  t += static_cast<float>(gy < 0.0f) * (256.0f - 2.0f * t);  // about 180 degrees
  return t;
}

// Peak test along the image axis nearer to the gradient direction: the centre must exceed
// the neighbour behind it (against the gradient) and not fall below the one ahead. Comparing
// along that axis keeps exactly one pixel per row (edges steeper than 45 degrees) or per
// column (the others) on a straight edge, so peak chains are 8-connected and one pixel thick;
// the strict/non-strict pair leaves one pixel of a plateau.
template <class T>
inline bool isAxisPeak(T centre, T behind, T ahead) {
  return centre > behind && centre >= ahead;
}

// Pixels tested together by peakRow and angleRow: a run of this many pixels without
// magnitude is written as zeros at once.
constexpr long kChunk = 16;

// True when any of the kChunk bytes at p is not zero (read as two 64-bit words).
inline bool anyNonZero(const unsigned char* p) {
  static_assert(kChunk == 2 * sizeof(std::uint64_t), "anyNonZero reads the chunk as two words");
  std::uint64_t a, b;
  std::memcpy(&a, p, sizeof a);
  std::memcpy(&b, p + sizeof a, sizeof b);
  return (a | b) != 0;
}

// Splits [x0, x1) into chunks of kChunk pixels: chunks whose `busy` bytes are all 0 get 0 in
// `out`; maximal runs of the other chunks (and the tail) go to work(begin, end) in one call
// each, so that per-call costs are paid once per run.
template <class Work>
void forEachBusyRun(const unsigned char* busy, long x0, long x1, unsigned char* out, Work work) {
  long runStart = -1, x = x0;
  for (; x + kChunk <= x1; x += kChunk) {
    if (anyNonZero(busy + x)) {
      if (runStart < 0) runStart = x;
      continue;
    }
    if (runStart >= 0) {
      work(runStart, x);
      runStart = -1;
    }
    std::memset(out + x, 0, kChunk);
  }
  if (runStart < 0) runStart = x;
  if (runStart < x1) work(runStart, x1);
}

// Peaks among pixels [x0, x1) of one row into o; returns their number. All arithmetic is on
// bytes with all-ones masks for the axis and direction choices, so the loop runs sixteen
// pixels to a vector.
long peakRun(const unsigned char* __restrict up, const unsigned char* __restrict mid,
             const unsigned char* __restrict down, const unsigned char* __restrict dirs,
             unsigned char* __restrict o, long x0, long x1, unsigned char minValue) {
  using u8 = unsigned char;
  for (long x = x0; x < x1; ++x) {
    const u8 m = mid[x], dir = dirs[x];
    const u8 left = mid[x - 1], right = mid[x + 1], above = up[x], below = down[x];
    // All ones when the direction lies within 45 degrees of the x axis.
    const u8 xMask = (static_cast<u8>(dir + 32) & 127) < 64 ? 0xff : 0;
    // All ones when it points to -x (binary angles 96..159) or -y (160..223).
    const u8 negMask = ((static_cast<u8>(dir + 64) & xMask) | (dir & ~xMask)) & 128 ? 0xff : 0;
    const u8 minus = (left & xMask) | (above & ~xMask);
    const u8 plus = (right & xMask) | (below & ~xMask);
    const u8 behind = (plus & negMask) | (minus & ~negMask);
    const u8 ahead = (minus & negMask) | (plus & ~negMask);
    const u8 keep = (m >= minValue ? 0xff : 0) & (isAxisPeak(m, behind, ahead) ? 0xff : 0);
    o[x] = m & keep;
  }
  long n = 0;
  for (long x = x0; x < x1; ++x) n += o[x] != 0;
  return n;
}

// Peaks of the interior columns 1 .. w - 2 of one row into o (see cfTruePeak).
long peakRow(const unsigned char* up, const unsigned char* mid, const unsigned char* down,
             const unsigned char* dirs, unsigned char* o, long w, unsigned char minValue) {
  long n = 0;
  forEachBusyRun(mid, 1, w - 1, o,
                 [&](long x0, long x1) { n += peakRun(up, mid, down, dirs, o, x0, x1, minValue); });
  return n;
}

// Squared gradient magnitudes of one row, and 1 where they reach minSq (0 elsewhere).
void squaredMagnitudeRow(const float* __restrict gx, const float* __restrict gy,
                         float* __restrict q, unsigned char* __restrict strong, long w,
                         float minSq) {
  for (long x = 0; x < w; ++x) {
    q[x] = gx[x] * gx[x] + gy[x] * gy[x];
    strong[x] = q[x] >= minSq ? 1 : 0;
  }
}

// One row of the 8-bit magnitude image (see cfEdgeDetect). The restrict qualifiers tell the
// compiler that the bytes written do not overlap the gradient rows, so the loop vectorises.
void magnitudeRow(const float* __restrict gx, const float* __restrict gy,
                  unsigned char* __restrict mag, long w, float minMag) {
  for (long x = 0; x < w; ++x) {
    const float m = fastSqrt(gx[x] * gx[x] + gy[x] * gy[x]);
    const float rounded = std::min(m + 0.5f, 255.0f);
    mag[x] = m >= minMag ? static_cast<unsigned char>(static_cast<int>(rounded)) : 0;
  }
}

// Binary angles of pixels [x0, x1) of a row, 0 where the magnitude is 0. The mask is
// integer arithmetic: gcc keeps a loop whose float work is used only under a condition out
// of the vectoriser.
void angleRun(const float* __restrict gx, const float* __restrict gy,
              const unsigned char* __restrict mag, unsigned char* __restrict ang, long x0,
              long x1) {
  for (long x = x0; x < x1; ++x) {
    const int a = static_cast<int>(binaryAngle(gx[x], gy[x]) + 0.5f);
    ang[x] = static_cast<unsigned char>(a & (mag[x] != 0 ? 255 : 0));
  }
}

// One row of the binary-angle image.
void angleRow(const float* gx, const float* gy, const unsigned char* mag, unsigned char* ang,
              long w) {
  forEachBusyRun(mag, 0, w, ang, [&](long x0, long x1) { angleRun(gx, gy, mag, ang, x0, x1); });
}

void magnitudeAngleRow(const float* gx, const float* gy, unsigned char* mag, unsigned char* ang,
                       long w, float minMag) {
  magnitudeRow(gx, gy, mag, w, minMag);
  angleRow(gx, gy, mag, ang, w);
}

}  // namespace

void cfEdgeDetect(const ccPelBuffer_const<unsigned char>& image, const ccEdgeletParams& params,
                  ccPelBuffer<unsigned char>& magnitude, ccPelBuffer<unsigned char>& angle) {
  image.requireBound();
  const long w = image.width(), h = image.height();
  // The gradient of the image itself is taken before anything is written: the input is read
  // ahead through a local handle, so an output that is the input object stays consistent.
  const ccPelBuffer_const<unsigned char> source = image;
  auto prepare = [&](ccPelBuffer<unsigned char>& out) {
    if (!out.isBound() || out.width() != w || out.height() != h)
      out = ccPelBuffer<unsigned char>(source.window());
    out.offset(source.offset());
    out.copyXforms(source);
  };
  prepare(magnitude);
  prepare(angle);
  if (w == 0 || h == 0) return;
  ccGradientRows gradient(source, params.sigma());
  std::vector<float> gx(w), gy(w);
  const float minMag = static_cast<float>(params.minMagnitude());
  for (long y = 0; y < h; ++y) {
    ccAttention::check();
    gradient.next(gx.data(), gy.data());
    magnitudeAngleRow(gx.data(), gy.data(), magnitude.row(y), angle.row(y), w, minMag);
  }
}

void cfEdgeDetect(const ccPelBuffer_const<unsigned char>& image, const ccEdgeletParams& params,
                  ccEdgeletSet& edges) {
  image.requireBound();
  edges.clear();
  const long w = image.width(), h = image.height();
  if (w <= 0 || h <= 0) return;
  const ccPair<long> off = image.offset();
  const float minMag = static_cast<float>(params.minMagnitude());
  const bool peaksOnly = params.edgeTypeRequest() == ccEdgeletParams::ePeakEdgelets;

  ccGradientRows gradient(image, params.sigma());
  // Rolling three rows of gradient and squared magnitude; slot k % 3 holds window row k.
  // Peaks are found on squared magnitudes (same order), roots are taken only at edgelets.
  std::vector<float> gxs(3 * w), gys(3 * w), qs(3 * w);
  std::vector<unsigned char> strong(3 * w), unused(w);  // 1 where q reaches the minimum
  auto slot = [w](auto& v, long row) { return v.data() + (row % 3) * w; };
  const float minSq = minMag * minMag;

  auto emit = [&](long x, long y, float gx, float gy, float m, const ccVector<2>& pos) {
    double a = std::atan2(static_cast<double>(gy), static_cast<double>(gx));
    if (a < 0.0) a += 2.0 * ccPi;
    edges.edges().emplace_back(x + off.x(), y + off.y(), pos, m, ccRadian(a));
  };

  for (long y = 0; y < h; ++y) {
    ccAttention::check();
    float* gx = slot(gxs, y);
    float* gy = slot(gys, y);
    float* q = slot(qs, y);
    gradient.next(gx, gy);
    squaredMagnitudeRow(gx, gy, q, slot(strong, y), w, minSq);

    if (!peaksOnly) {
      for (long x = 0; x < w; ++x) {
        if (q[x] >= minSq)
          emit(x, y, gx[x], gy[x], std::sqrt(q[x]), ccVector<2>(x + off.x(), y + off.y()));
      }
      continue;
    }
    // Peaks of the row above, now that its lower neighbour exists.
    const long yc = y - 1;
    if (yc < 1) continue;
    const float* above = slot(qs, yc - 1);
    const float* cq = slot(qs, yc);
    const float* below = slot(qs, yc + 1);
    const float* cgx = slot(gxs, yc);
    const float* cgy = slot(gys, yc);
    // Only runs of pixels that reach the minimum are scanned.
    forEachBusyRun(slot(strong, yc), 1, w - 1, unused.data(), [&](long x0, long x1) {
      for (long x = x0; x < x1; ++x) {
        const float q0 = cq[x];
        if (!(q0 >= minSq) || q0 <= 0.0f) continue;
        const bool alongX = std::fabs(cgx[x]) >= std::fabs(cgy[x]);
        const float qPrev =
            alongX ? cq[x - 1] : above[x];  // neighbours at -1 and +1 along the axis
        const float qNext = alongX ? cq[x + 1] : below[x];
        const bool forward = alongX ? cgx[x] >= 0.0f : cgy[x] >= 0.0f;
        if (!(forward ? isAxisPeak(q0, qPrev, qNext) : isAxisPeak(q0, qNext, qPrev))) continue;
        // Parabola through the three magnitudes: the peak's offset along the axis, in pixels.
        const float m0 = std::sqrt(q0), prev = std::sqrt(qPrev), next = std::sqrt(qNext);
        const float curvature = prev - 2.0f * m0 + next;
        float delta = curvature < 0.0f ? 0.5f * (prev - next) / curvature : 0.0f;
        delta = std::clamp(delta, -0.5f, 0.5f);
        const double px = x + off.x() + (alongX ? delta : 0.0f),
                     py = yc + off.y() + (alongX ? 0.0f : delta);
        emit(x, yc, cgx[x], cgy[x], m0, ccVector<2>(px, py));
      }
    });
  }
}

void cfTruePeak(const ccPelBuffer_const<unsigned char>& magnitude,
                const ccPelBuffer_const<unsigned char>& angle, unsigned char threshold,
                ccPelBuffer<unsigned char>& out, long& count) {
  magnitude.requireBound();
  angle.requireBound();
  const long w = magnitude.width(), h = magnitude.height();
  if (angle.width() != w || angle.height() != h) {
    throw ccBadArgument(L"cfTruePeak: the magnitude and angle images differ in size");
  }
  if (out.isBound() && (out.width() != w || out.height() != h)) {
    throw ccBadArgument(L"cfTruePeak: the output image differs in size from the magnitude image");
  }
  // Work through local handles: `out` may be either input object, and is re-pointed below.
  const ccPelBuffer_const<unsigned char> mag = magnitude, ang = angle;
  if (!out.isBound()) {
    out = ccPelBuffer<unsigned char>(mag.window());
    out.copyXforms(mag);
  }
  // Row y of the output may overwrite row y of the magnitude image, so the rows above and at
  // y are kept as copies; the row below is still unwritten.
  std::vector<unsigned char> above(w), centre(w), dirCopy;
  const unsigned char minValue = std::max<unsigned char>(threshold, 1);
  long n = 0;
  for (long y = 0; y < h; ++y) {
    ccAttention::check();
    std::swap(above, centre);
    std::copy(mag.row(y), mag.row(y) + w, centre.begin());
    unsigned char* o = out.row(y);
    if (y == 0 || y + 1 == h || w < 3) {
      std::fill(o, o + w, 0);
      continue;
    }
    const unsigned char* up = above.data();
    const unsigned char* mid = centre.data();
    const unsigned char* down = mag.row(y + 1);
    const unsigned char* dirs = ang.row(y);
    if (dirs == o) {  // the output is the angle image itself
      dirCopy.assign(dirs, dirs + w);
      dirs = dirCopy.data();
    }
    o[0] = 0;
    n += peakRow(up, mid, down, dirs, o, w, minValue);
    o[w - 1] = 0;
  }
  count = n;
}
