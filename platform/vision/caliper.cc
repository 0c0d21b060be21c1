// Caliper edge finding on projected profiles: box-difference edge filter, peak selection by
// polarity and contrast, and a least-squares blurred-step fit for the sub-sample position.
#include "platform/vision/caliper.h"

#include <algorithm>
#include <cmath>

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
constexpr double kFitTolerance = 1e-6;     // samples; converged when t0 and s move less
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

// Levenberg-Marquardt fit of a blurred step to p[k0 .. k1], starting from `step`. The model
// is the exact profile of a straight edge under Gaussian blur, so the estimate of t0 does not
// depend on where the edge falls between samples; the four-parameter fit also averages the
// noise of every sample in the window. Returns false when the fit does not settle on a step
// inside the window.
bool fitBlurredStep(const std::vector<double>& p, long k0, long k1, ccBlurredStep& step) {
  const double invSqrt2 = 1.0 / std::sqrt(2.0), invSqrt2Pi = 1.0 / std::sqrt(2.0 * ccPi);
  auto cost = [&](const ccBlurredStep& q) {
    double c = 0.0;
    for (long k = k0; k <= k1; ++k) {
      const double r = p[k] - (q.a + q.b * 0.5 * std::erfc(-(k - q.t0) / q.s * invSqrt2));
      c += r * r;
    }
    return c;
  };
  double current = cost(step), lambda = 1e-3;
  for (int it = 0; it < kFitMaxIterations; ++it) {
    double jtj[4][4] = {}, jtr[4] = {};
    for (long k = k0; k <= k1; ++k) {
      const double z = (k - step.t0) / step.s;
      const double phi = 0.5 * std::erfc(-z * invSqrt2), pdf = invSqrt2Pi * std::exp(-0.5 * z * z);
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
  const double invSqrt2 = 1.0 / std::sqrt(2.0), invSqrt2Pi = 1.0 / std::sqrt(2.0 * ccPi);
  auto cdf = [&](double z) { return 0.5 * std::erfc(-z * invSqrt2); };
  // Antiderivative of the unit step Phi((x - t0) / s) in x, at z = (x - t0) / s, over s.
  auto primitive = [&](double z) { return z * cdf(z) + invSqrt2Pi * std::exp(-0.5 * z * z); };
  const double lo = (k0 - 0.5 - step.t0) / step.s, hi = (k1 + 0.5 - step.t0) / step.s;
  double sum = 0.0;
  for (long k = k0; k <= k1; ++k) sum += cdf((k - step.t0) / step.s);
  const double integral = step.s * (primitive(hi) - primitive(lo));
  const double slope = cdf(hi) - cdf(lo);  // minus the derivative of the integral in t0
  if (!(slope > 0.5)) return step.t0;  // the window misses most of the step
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
                                                // away from it, belongs to another edge

// True when the response at gap `outer` (one step further from the edge than `inner`) is
// large and larger than at `inner`: the profile is climbing towards another edge there.
bool risesAgain(const std::vector<double>& response, long outer, long inner, double edgeMagnitude) {
  const double o = std::fabs(response[outer]);
  return o > kOtherEdgeShare * edgeMagnitude && o > std::fabs(response[inner]);
}

// Sub-sample location (profile coordinates, sample k at t = k) of the edge whose response
// peaks at gap g (between samples g and g + 1, t = g + 0.5). The three responses around the
// peak give a first estimate and the step's width; a blurred step is then fitted to the
// profile around it. Falls back to the first estimate when the fit fails or wanders off.
double edgeLocation(const std::vector<double>& profile, const std::vector<double>& response, long g,
                    long gFirst, long gLast) {
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
      std::clamp<long>(std::lround(kFitWindowSigmas * width) + 1, kMinFitReach, kMaxFitReach);
  long gl = g, gr = g;
  while (gl > gFirst && g - gl < reach && !risesAgain(response, gl - 1, gl, mag)) --gl;
  while (gr < gLast && gr - g < reach && !risesAgain(response, gr + 1, gr, mag)) ++gr;
  const long k0 = gl, k1 = gr + 1;  // the samples on both sides of the outermost gaps
  if (k1 - k0 + 1 < kMinFitSamples) return first;
  ccBlurredStep step;
  step.t0 = first;
  step.s = std::max(width * kStepSigmaPerPeakSigma, kFitMinSigma);
  step.a = profile[k0];
  step.b = profile[k1] - profile[k0];
  if (!fitBlurredStep(profile, k0, k1, step) || !(step.b * r > 0.0) ||
      !(std::fabs(step.t0 - first) < 1.0)) {
    return first;
  }
  return areaConsistentPosition(step, k0, k1);
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
  // The score is known before the sub-sample fit, so only the edges reported are fitted.
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const ccCandidate& a, const ccCandidate& b) {
                     return std::fabs(a.response) > std::fabs(b.response);
                   });
  if (static_cast<long>(candidates.size()) > runParams.maxNumResults()) {
    candidates.erase(candidates.begin() + runParams.maxNumResults(), candidates.end());
  }
  std::vector<ccCaliperResult> found;
  found.reserve(candidates.size());
  for (const ccCandidate& c : candidates) {
    const double t0 = edgeLocation(profile, response, c.gap, gFirst, gLast);
    const double position = ((t0 + 0.5) * spacingU - 0.5) * rect.xLength();
    found.emplace_back(ccCaliperEdge(position, c.response), rect);
  }
  results.results_ = std::move(found);
}
