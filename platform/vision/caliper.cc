// SPDX-License-Identifier: Apache-2.0
// Caliper edge finding on projected profiles: box-difference edge filter, peak selection by
// polarity and contrast, and a least-squares blurred-step fit for the sub-sample position.
#include "platform/vision/caliper.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/attention.h"

ccCaliperRunParams::ccCaliperRunParams(double filterHalfWidth, int polarity) : polarity_(polarity) {
  if (!(filterHalfWidth >= 0.0) || !(filterHalfWidth <= kMaxFilterHalfWidth)) {
    throw ccBadArgument(L"ccCaliperRunParams: the filter half width must lie in [0, 64] samples");
  }
  if (polarity != eDarkToLight && polarity != eLightToDark && polarity != eEitherPolarity) {
    throw ccBadArgument(
        L"ccCaliperRunParams: the polarity must be 0 (dark to light), 1 (light to dark) or 2 "
        L"(either)");
  }
  const long rounded = std::lround(filterHalfWidth);
  halfWidth_ = rounded == 0 ? kDefaultFilterHalfWidth : static_cast<int>(rounded);
}

void ccCaliperRunParams::contrastThreshold(double greyLevels) {
  if (!(greyLevels >= 0.0) || !std::isfinite(greyLevels)) {
    throw ccBadArgument(
        L"ccCaliperRunParams: the contrast threshold must be finite and not negative");
  }
  contrastThreshold_ = greyLevels;
}

void ccCaliperRunParams::maxNumResults(int count) {
  if (count < 1) throw ccBadArgument(L"ccCaliperRunParams: at least one result must be allowed");
  maxNumResults_ = count;
}

namespace {

// The point at `position` (client units from the centre along the x side) on the centre line.
ccVector<2> centreLinePoint(const ccAffineRectangle& rect, double position) {
  return rect.unitToShape().mapPoint(ccVector<2>(0.5 + position / rect.xLength(), 0.5));
}

// Edge filter response at the gap between samples g and g + 1: mean of the h samples after
// minus mean of the h samples before. Valid for h - 1 <= g < n - h.
double filterAt(const std::vector<double>& p, long g, int h) {
  double after = 0.0, before = 0.0;
  for (int k = 1; k <= h; ++k) {
    after += p[g + k];
    before += p[g + 1 - k];
  }
  return (after - before) / h;
}

// Offset of a peak from the middle of three equally spaced responses, in sample spacings,
// within [-0.5, 0.5]; b > 0 is the peak and a, c its neighbours (signs aligned with b, so
// not above it). A Gaussian through the three (a parabola through their logarithms) fits the
// derivative of a blurred step exactly; where a neighbour has no positive response a plain
// parabola is used instead.
double peakOffset(double a, double b, double c) {
  double num, den;
  constexpr double kTiny = 1e-12;  // grey levels; responses below this count as absent
  if (a > kTiny && c > kTiny) {
    const double la = std::log(a), lb = std::log(b), lc = std::log(c);
    num = la - lc;
    den = la - 2.0 * lb + lc;
  } else {
    num = a - c;
    den = a - 2.0 * b + c;
  }
  if (!(den < 0.0)) return 0.0;
  return std::clamp(0.5 * num / den, -0.5, 0.5);
}

// A Gaussian-blurred step m(t) = a + b Phi((t - t0) / s) in profile coordinates (sample k at
// t = k).
struct ccBlurredStep {
  double a = 0.0, b = 0.0, t0 = 0.0, s = 1.0;
};

constexpr int kFitMaxIterations = 30;
constexpr double kFitTolerance = 1e-4;  // samples; converged when t0 and s move less
// Narrowest step width (samples) the fit may take: the spread of a one-pixel box, since no
// edge of a pixel image is sharper. A sharp edge fits at this width instead of collapsing
// onto a jump between two samples.
constexpr double kFitMinSigma = 0.29;
constexpr double kFitMaxSigmaShare = 0.5;  // the fitted s may not exceed this share of the window

// Solves the 4 x 4 system m x = v by Gaussian elimination with partial pivoting; false when
// singular.
bool solve4(double m[4][4], double v[4], double x[4]) {
  int order[4] = {0, 1, 2, 3};
  for (int c = 0; c < 4; ++c) {
    int pivot = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::fabs(m[order[r]][c]) > std::fabs(m[order[pivot]][c])) pivot = r;
    std::swap(order[c], order[pivot]);
    const double d = m[order[c]][c];
    if (!(std::fabs(d) > 1e-300)) return false;
    for (int r = c + 1; r < 4; ++r) {
      const double f = m[order[r]][c] / d;
      for (int k = c; k < 4; ++k) m[order[r]][k] -= f * m[order[c]][k];
      v[order[r]] -= f * v[order[c]];
    }
  }
  for (int c = 3; c >= 0; --c) {
    double sum = v[order[c]];
    for (int k = c + 1; k < 4; ++k) sum -= m[order[c]][k] * x[k];
    x[c] = sum / m[order[c]][c];
  }
  return true;
}

// The standard normal distribution and density at z, from one exponential: the density, and
// the distribution by the Zelen-Severo polynomial in it (absolute error below 1e-7, a
// hundred-thousandth of a grey level on any 8-bit step).
struct ccCdfPdf {
  double cdf, pdf;
};
inline ccCdfPdf normalCdfPdf(double z) {
  constexpr double kInvSqrt2Pi = 0.39894228040143267794;
  constexpr double p = 0.2316419, b1 = 0.319381530, b2 = -0.356563782, b3 = 1.781477937,
                   b4 = -1.821255978, b5 = 1.330274429;
  const double pdf = kInvSqrt2Pi * std::exp(-0.5 * z * z);
  const double t = 1.0 / (1.0 + p * std::fabs(z));
  const double tail = pdf * t * (b1 + t * (b2 + t * (b3 + t * (b4 + t * b5))));
  return {z >= 0.0 ? 1.0 - tail : tail, pdf};
}

// Levenberg-Marquardt fit of a blurred step to p[k0 .. k1], starting from `step`. The model
// is the exact profile of a straight edge under Gaussian blur, so the estimate of t0 does not
// depend on where the edge falls between samples; the four-parameter fit also averages the
// noise of every sample in the window. Returns false when the fit does not settle on a step
// inside the window.
bool fitBlurredStep(const std::vector<double>& p, long k0, long k1, ccBlurredStep& step) {
  auto cost = [&](const ccBlurredStep& q) {
    double c = 0.0;
    for (long k = k0; k <= k1; ++k) {
      const double r = p[k] - (q.a + q.b * normalCdfPdf((k - q.t0) / q.s).cdf);
      c += r * r;
    }
    return c;
  };
  double current = cost(step), lambda = 1e-3;
  for (int it = 0; it < kFitMaxIterations; ++it) {
    double jtj[4][4] = {}, jtr[4] = {};
    for (long k = k0; k <= k1; ++k) {
      const double z = (k - step.t0) / step.s;
      const ccCdfPdf n = normalCdfPdf(z);
      const double phi = n.cdf, pdf = n.pdf;
      const double j[4] = {1.0, phi, -step.b * pdf / step.s, -step.b * pdf * z / step.s};
      const double r = p[k] - (step.a + step.b * phi);
      for (int u = 0; u < 4; ++u) {
        jtr[u] += j[u] * r;
        for (int v = 0; v < 4; ++v) jtj[u][v] += j[u] * j[v];
      }
    }
    bool improved = false;
    double delta[4] = {};
    while (!improved && lambda < 1e8) {
      double m[4][4], v[4];
      for (int u = 0; u < 4; ++u) {
        for (int w = 0; w < 4; ++w) m[u][w] = jtj[u][w];
        m[u][u] += lambda * jtj[u][u];
        v[u] = jtr[u];
      }
      if (!solve4(m, v, delta)) return false;
      ccBlurredStep next = step;
      next.a += delta[0];
      next.b += delta[1];
      next.t0 += delta[2];
      next.s = std::max(next.s + delta[3], kFitMinSigma);
      const double c = cost(next);
      if (c <= current) {
        step = next;
        current = c;
        lambda = std::max(lambda * 0.1, 1e-9);
        improved = true;
      } else {
        lambda *= 10.0;
      }
    }
    if (!improved) break;
    if (std::fabs(delta[2]) < kFitTolerance && std::fabs(delta[3]) < kFitTolerance) break;
  }
  return step.s >= kFitMinSigma && step.s <= kFitMaxSigmaShare * (k1 - k0) && step.t0 >= k0 &&
         step.t0 <= k1;
}

// The fitted step moved so that its area over the window, as a continuous profile, equals
// the area of its samples (which the fit makes equal to the area of the profile samples, the
// offset being a free parameter). A narrow fitted step (s below about half a sample) sums
// differently over samples depending on where it falls between them, while the sum of
// interpolated samples of a pixel image, at about one sample per pixel, hardly depends on
// that phase: matching areas removes the phase bias of sharp, pixel-integrated edges. For
// wider steps the two areas agree and nothing moves.
double areaConsistentPosition(const ccBlurredStep& step, long k0, long k1) {
  auto cdf = [&](double z) { return normalCdfPdf(z).cdf; };
  // Antiderivative of the unit step Phi((x - t0) / s) in x, at z = (x - t0) / s, over s.
  auto primitive = [&](double z) {
    const ccCdfPdf n = normalCdfPdf(z);
    return z * n.cdf + n.pdf;
  };
  const double lo = (k0 - 0.5 - step.t0) / step.s, hi = (k1 + 0.5 - step.t0) / step.s;
  double sum = 0.0;
  for (long k = k0; k <= k1; ++k) sum += cdf((k - step.t0) / step.s);
  const double integral = step.s * (primitive(hi) - primitive(lo));
  const double slope = cdf(hi) - cdf(lo);  // minus the derivative of the integral in t0
  if (!(slope > 0.5)) return step.t0;      // the window misses most of the step
  return step.t0 + (integral - sum) / slope;
}

// Fit window settings, in profile samples.
constexpr double kInitialStepSigma = 1.0;       // step width assumed when the peak gives none
constexpr double kStepSigmaPerPeakSigma = 1.0;  // the derivative of a step of width s has width s
constexpr double kFitWindowSigmas = 5.0;        // half window, in widths of the step
constexpr long kMinFitReach = 3;                // half window never shorter than this
constexpr long kMaxFitReach = 12;               // nor longer than this
constexpr long kMinFitSamples = 5;              // fewer samples than this: no fit
constexpr double kOtherEdgeShare = 0.25;        // a response above this share of the edge's, rising
                                                // away from it, belongs to another edge ...
constexpr double kOtherEdgeNoiseLevels = 3.0;   // ... and above this many times the response noise
constexpr double kMinReachWidth = 1.0;          // the window reaches as if the step were at least
                                                // this wide: noise narrows the width estimate
constexpr double kMadToSigma = 1.4826;          // median absolute value to standard deviation
constexpr double kFitWanderWidths = 1.5;        // a fit may settle this many step widths (at least
                                                // one sample) from its starting peak
constexpr double kLobeShare = 0.5;              // a response peak's lobe: same sign, at least this
                                                // share of the peak
constexpr double kSameEdgeWidths = 2.0;  // edges of one sign closer than this many step widths
                                         // (at least one sample) are one edge

// Standard deviation of the filter responses' noise, from the median of their magnitudes
// (most gaps of a profile lie on no edge).
double responseNoise(const std::vector<double>& response, long gFirst, long gLast) {
  std::vector<double> m;
  m.reserve(static_cast<std::size_t>(gLast - gFirst + 1));
  for (long g = gFirst; g <= gLast; ++g) m.push_back(std::fabs(response[g]));
  std::nth_element(m.begin(), m.begin() + m.size() / 2, m.end());
  return kMadToSigma * m[m.size() / 2];
}

// True when the response at gap `outer` (one step further from the edge than `inner`) is
// large, clear of the noise, and larger than at `inner`: the profile is climbing towards
// another edge there.
bool risesAgain(const std::vector<double>& response, long outer, long inner, double edgeMagnitude,
                double noise) {
  const double o = std::fabs(response[outer]);
  return o > std::max(kOtherEdgeShare * edgeMagnitude, kOtherEdgeNoiseLevels * noise) &&
         o > std::fabs(response[inner]);
}

// The gaps around a response peak g whose responses keep its sign and at least kLobeShare of
// its magnitude: one edge's response, however noise splits its top.
struct ccLobe {
  long first, last;
};
ccLobe lobeAround(const std::vector<double>& response, long g, long gFirst, long gLast) {
  const double r = response[g], floor = kLobeShare * std::fabs(r);
  auto inLobe = [&](long k) { return response[k] * r > 0.0 && std::fabs(response[k]) >= floor; };
  ccLobe lobe{g, g};
  while (lobe.first > gFirst && inLobe(lobe.first - 1)) --lobe.first;
  while (lobe.last < gLast && inLobe(lobe.last + 1)) ++lobe.last;
  return lobe;
}

// Where an edge lies (profile coordinates, sample k at t = k) and how wide its step is
// (samples).
struct ccEdgeLocation {
  double t0;
  double width;
};

// Sub-sample location of the edge whose response peaks at gap g (between samples g and g + 1,
// t = g + 0.5). The three responses around the peak give a first estimate and the step's
// width; a blurred step is then fitted to the profile around it. Noise can split the broad
// response of a blurred edge into several peaks: a fit that settles within the step's own
// width of its starting peak is kept, so that every such peak finds the same edge. Falls back
// to the first estimate when the fit fails or wanders further.
ccEdgeLocation edgeLocation(const std::vector<double>& profile, const std::vector<double>& response,
                            long g, long gFirst, long gLast, double noise) {
  const double r = response[g], mag = std::fabs(r);
  const double sign = r > 0.0 ? 1.0 : -1.0;
  const double a3 = sign * response[g - 1], c3 = sign * response[g + 1];  // aligned with the peak
  const double first = g + 0.5 + peakOffset(a3, mag, c3);
  // Width of that Gaussian in samples, from the curvature of its logarithm.
  double width = kInitialStepSigma;
  if (a3 > 0.0 && c3 > 0.0) {
    const double curvature = std::log(a3) - 2.0 * std::log(mag) + std::log(c3);
    if (curvature < 0.0) width = std::sqrt(-1.0 / curvature);
  }
  // Fit window: the profile around the edge up to kFitWindowSigmas widths each side, cut
  // where the response rises again towards another edge.
  const long reach =
      std::clamp<long>(std::lround(kFitWindowSigmas * std::max(width, kMinReachWidth)) + 1,
                       kMinFitReach, kMaxFitReach);
  const ccLobe lobe = lobeAround(response, g, gFirst, gLast);
  long gl = lobe.first, gr = lobe.last;
  while (gl > gFirst && g - gl < reach && !risesAgain(response, gl - 1, gl, mag, noise)) --gl;
  while (gr < gLast && gr - g < reach && !risesAgain(response, gr + 1, gr, mag, noise)) ++gr;
  const long k0 = gl, k1 = gr + 1;  // the samples on both sides of the outermost gaps
  if (k1 - k0 + 1 < kMinFitSamples) return {first, width};
  ccBlurredStep step;
  step.t0 = first;
  step.s = std::max(width * kStepSigmaPerPeakSigma, kFitMinSigma);
  step.a = profile[k0];
  step.b = profile[k1] - profile[k0];
  if (!fitBlurredStep(profile, k0, k1, step) || !(step.b * r > 0.0) ||
      !(std::fabs(step.t0 - first) < std::max(1.0, kFitWanderWidths * step.s))) {
    return {first, width};
  }
  return {areaConsistentPosition(step, k0, k1), step.s};
}

}  // namespace

ccVector<2> ccCaliperResult::mapPositionToPoint(double position) const {
  return centreLinePoint(rect_, position);
}

ccVector<2> ccCaliperResultSet::mapPositionToPoint(double position) const {
  if (rect_.degen()) throw ccBadArgument(L"ccCaliperResultSet: no caliper has been run");
  return centreLinePoint(rect_, position);
}

void cfCaliperRun(const ccPelBuffer_const<unsigned char>& image,
                  const ccAffineSamplingParams& sampling, const ccCaliperRunParams& runParams,
                  ccCaliperResultSet& results, ccDiagObject* /*diag*/) {
  results.clear();
  const ccAffineRectangle& rect = sampling.affineRectangle();
  results.rect_ = rect;
  const std::vector<double> profile = cfAffineSampleProfile(image, sampling);
  const long n = static_cast<long>(profile.size());
  const int h = runParams.filterHalfWidth();
  const double spacingU = 1.0 / n;  // sample spacing in unit-square x units

  // Filter responses at the gaps g = h - 1 .. n - h - 1 (gap g lies between samples g, g + 1).
  const long gFirst = h - 1, gLast = n - h - 1;
  if (gLast - gFirst < 2) return;  // fewer than three responses: no peak can be measured
  std::vector<double> response(n, 0.0);
  for (long g = gFirst; g <= gLast; ++g) response[g] = filterAt(profile, g, h);

  // Candidates: peaks of |response| among responses of the same sign, strong enough and of
  // the requested polarity. The earlier of two equal neighbours wins, so a flat top gives
  // one edge.
  struct ccCandidate {
    long gap;
    double response;
  };
  std::vector<ccCandidate> candidates;
  const double noise = responseNoise(response, gFirst, gLast);
  const int polarity = runParams.polarity();
  for (long g = gFirst + 1; g < gLast; ++g) {
    const double r = response[g];
    if (std::fabs(r) < runParams.contrastThreshold() || r == 0.0) continue;
    if ((polarity == eDarkToLight && r < 0.0) || (polarity == eLightToDark && r > 0.0)) continue;
    const double before = r > 0.0 ? response[g - 1] : -response[g - 1];
    const double after = r > 0.0 ? response[g + 1] : -response[g + 1];
    if (!(std::fabs(r) > before && std::fabs(r) >= after)) continue;
    candidates.push_back({g, r});
  }
  // Best first. The score is known before the sub-sample fit, so fitting stops once enough
  // distinct edges are found; a weaker peak that lands on an edge already found (a noise
  // split of the same response) is dropped.
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const ccCandidate& a, const ccCandidate& b) {
                     return std::fabs(a.response) > std::fabs(b.response);
                   });
  std::vector<ccCaliperResult> found;
  std::vector<ccEdgeLocation> kept;
  std::vector<double> keptSign;
  std::vector<ccLobe> lobes;
  for (const ccCandidate& c : candidates) {
    if (static_cast<long>(found.size()) >= runParams.maxNumResults()) break;
    bool insideStronger = false;
    for (const ccLobe& l : lobes)
      insideStronger = insideStronger || (c.gap >= l.first && c.gap <= l.last);
    lobes.push_back(lobeAround(response, c.gap, gFirst, gLast));
    if (insideStronger) continue;
    ccAttention::check();
    const ccEdgeLocation loc = edgeLocation(profile, response, c.gap, gFirst, gLast, noise);
    const double sign = c.response > 0.0 ? 1.0 : -1.0;
    bool duplicate = false;
    for (std::size_t k = 0; k < kept.size() && !duplicate; ++k) {
      duplicate = keptSign[k] == sign &&
                  std::fabs(kept[k].t0 - loc.t0) < std::max(1.0, kSameEdgeWidths * kept[k].width);
    }
    if (duplicate) continue;
    kept.push_back(loc);
    keptSign.push_back(sign);
    const double position = ((loc.t0 + 0.5) * spacingU - 0.5) * rect.xLength();
    found.emplace_back(ccCaliperEdge(position, c.response), rect);
  }
  results.results_ = std::move(found);
}
