// SPDX-License-Identifier: Apache-2.0
// Affine-rectangle profile sampling with nearest, bilinear and cubic-convolution reads.
#include "platform/vision/affine_sampling.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/attention.h"

ccAffineSamplingParams::ccAffineSamplingParams(const ccAffineRectangle& rect, int xSamples,
                                               int ySamples, int interpolation)
    : xSamples_(xSamples), ySamples_(ySamples), interpolation_(interpolation) {
  affineRectangle(rect);
  if (xSamples < 1 || xSamples > kMaxSamples || ySamples < 1 || ySamples > kMaxSamples) {
    throw ccBadArgument(L"ccAffineSamplingParams: sample counts must lie in [1, 65536]");
  }
  if (interpolation != eNearest && interpolation != eBilinear && interpolation != eBicubic &&
      interpolation != eLanczos3) {
    throw ccBadArgument(
        L"ccAffineSamplingParams: interpolation must be 0 (nearest), 1 (bilinear), 2 (bicubic) or "
        L"4 (Lanczos)");
  }
}

void ccAffineSamplingParams::affineRectangle(const ccAffineRectangle& rect) {
  if (rect.degen())
    throw ccBadArgument(L"ccAffineSamplingParams: the sampling rectangle has no area");
  rect_ = rect;
}

namespace {

// Samples read between two looks for cancellation: a few hundred microseconds of work.
constexpr long kSamplesPerCheck = 4096;

// Keys' cubic convolution weights (a = -0.5) for the four pixels at offsets -1, 0, 1, 2 from
// the pixel at or left of the point, with f the fractional position in [0, 1).
void cubicWeights(double f, double w[4]) {
  constexpr double a = -0.5;
  auto near = [](double t) { return ((a + 2.0) * t - (a + 3.0)) * t * t + 1.0; };  // |t| <= 1
  auto far = [](double t) {
    return ((a * t - 5.0 * a) * t + 8.0 * a) * t - 4.0 * a;
  };  // 1 < |t| < 2
  w[0] = far(1.0 + f);
  w[1] = near(f);
  w[2] = near(1.0 - f);
  w[3] = far(2.0 - f);
}

// sin x and cos x for 0 <= x <= pi / 2 by their Taylor series, within 1e-9: the sampling of
// caliper profiles calls them six times per sample, where the library functions would
// dominate the cost.
inline double sinSmall(double x) {
  const double x2 = x * x;
  return x * (1.0 + x2 * (-1.0 / 6 +
                          x2 * (1.0 / 120 +
                                x2 * (-1.0 / 5040 +
                                      x2 * (1.0 / 362880 +
                                            x2 * (-1.0 / 39916800 + x2 * (1.0 / 6227020800.0)))))));
}
inline double cosSmall(double x) {
  const double x2 = x * x;
  return 1.0 + x2 * (-1.0 / 2 +
                     x2 * (1.0 / 24 +
                           x2 * (-1.0 / 720 +
                                 x2 * (1.0 / 40320 + x2 * (-1.0 / 3628800 +
                                                           x2 * (1.0 / 479001600.0 +
                                                                 x2 * (-1.0 / 87178291200.0)))))));
}

// Normalised Lanczos-3 weights for the six pixels at offsets -2 .. 3 from the pixel at or
// left of the point, with f the fractional position in [0, 1). The kernel is
// sinc(t) sinc(t / 3); sin(pi (f - m)) = (-1)^m sin(pi f), and sin(pi (f - m) / 3) follows
// from sin and cos of pi f / 3 by the angle-difference rule, so two sines and a cosine serve
// all six taps.
void lanczos3Weights(double f, double w[6]) {
  constexpr double kTiny = 1e-9;  // pixels; closer than this the point is the pixel centre
  if (f < kTiny || f > 1.0 - kTiny) {
    const int hit = f < kTiny ? 2 : 3;
    for (int k = 0; k < 6; ++k) w[k] = k == hit ? 1.0 : 0.0;
    return;
  }
  const double s1 = sinSmall(ccPi * std::min(f, 1.0 - f)), s3 = sinSmall(ccPi * f / 3.0),
               c3 = cosSmall(ccPi * f / 3.0);
  static const double kSinM[6] = {std::sin(-2 * ccPi / 3), std::sin(-ccPi / 3),    0.0,
                                  std::sin(ccPi / 3),      std::sin(2 * ccPi / 3), std::sin(ccPi)};
  static const double kCosM[6] = {std::cos(-2 * ccPi / 3), std::cos(-ccPi / 3),    1.0,
                                  std::cos(ccPi / 3),      std::cos(2 * ccPi / 3), std::cos(ccPi)};
  double sum = 0.0;
  for (int k = 0; k < 6; ++k) {
    const int m = k - 2;
    const double t = f - m;
    const double sinPiT = (m % 2 == 0) ? s1 : -s1;
    const double sinPiT3 = s3 * kCosM[k] - c3 * kSinM[k];
    w[k] = 3.0 * sinPiT * sinPiT3 / (ccPi * ccPi * t * t);
    sum += w[k];
  }
  const double inverse = 1.0 / sum;
  for (int k = 0; k < 6; ++k) w[k] *= inverse;
}

// Reads one grey value at image-frame point (x, y); pixels beyond the window repeat the
// nearest window pixel.
class ccPelReader {
 public:
  ccPelReader(const ccPelBuffer_const<unsigned char>& image, int interpolation)
      : image_(image),
        interpolation_(interpolation),
        x0_(image.offset().x()),
        y0_(image.offset().y()),
        xLast_(image.width() - 1),
        yLast_(image.height() - 1) {}

  double operator()(double x, double y) const {
    const double u = x - x0_, v = y - y0_;  // window-relative
    switch (interpolation_) {
      case ccAffineSamplingParams::eNearest:
        return pel(static_cast<long>(std::floor(u + 0.5)), static_cast<long>(std::floor(v + 0.5)));
      case ccAffineSamplingParams::eBilinear: {
        const long i = static_cast<long>(std::floor(u)), j = static_cast<long>(std::floor(v));
        const double fx = u - i, fy = v - j;
        const double top = pel(i, j) + fx * (pel(i + 1, j) - pel(i, j));
        const double bottom = pel(i, j + 1) + fx * (pel(i + 1, j + 1) - pel(i, j + 1));
        return top + fy * (bottom - top);
      }
      case ccAffineSamplingParams::eLanczos3: {
        const long i = static_cast<long>(std::floor(u)), j = static_cast<long>(std::floor(v));
        double wx[6], wy[6];
        lanczos3Weights(u - i, wx);
        lanczos3Weights(v - j, wy);
        return separable<6>(i - 2, j - 2, wx, wy);
      }
      default: {
        const long i = static_cast<long>(std::floor(u)), j = static_cast<long>(std::floor(v));
        double wx[4], wy[4];
        cubicWeights(u - i, wx);
        cubicWeights(v - j, wy);
        return separable<4>(i - 1, j - 1, wx, wy);
      }
    }
  }

 private:
  // Sum of wx[a] wy[b] pel(i0 + a, j0 + b) over an N x N neighbourhood, edges replicated.
  template <int N>
  double separable(long i0, long j0, const double* wx, const double* wy) const {
    double sum = 0.0;
    if (i0 >= 0 && j0 >= 0 && i0 + N - 1 <= xLast_ && j0 + N - 1 <= yLast_) {  // no edge to repeat
      for (int b = 0; b < N; ++b) {
        const unsigned char* row = image_.row(j0 + b) + i0;
        double rowSum = 0.0;
        for (int a = 0; a < N; ++a) rowSum += wx[a] * row[a];
        sum += wy[b] * rowSum;
      }
      return sum;
    }
    for (int b = 0; b < N; ++b) {
      const unsigned char* row = image_.row(std::clamp(j0 + b, 0L, yLast_));
      double rowSum = 0.0;
      for (int a = 0; a < N; ++a) rowSum += wx[a] * row[std::clamp(i0 + a, 0L, xLast_)];
      sum += wy[b] * rowSum;
    }
    return sum;
  }

  double pel(long i, long j) const {
    return image_.row(std::clamp(j, 0L, yLast_))[std::clamp(i, 0L, xLast_)];
  }

  const ccPelBuffer_const<unsigned char>& image_;
  int interpolation_;
  long x0_, y0_, xLast_, yLast_;
};

}  // namespace

std::vector<double> cfAffineSampleProfile(const ccPelBuffer_const<unsigned char>& image,
                                          const ccAffineSamplingParams& params) {
  image.requireBound();
  if (image.width() <= 0 || image.height() <= 0)
    throw ccPel::BadWindow(L"cfAffineSampleProfile: the image window is empty");
  const int nx = params.xSamples(), ny = params.ySamples();
  const cc2XformBasePtrh clientFromImage = image.clientFromImageXformBase();
  const bool linear = clientFromImage->isLinear();
  // For a linear client transform the whole grid maps through one affine transform.
  ccXform<2> imageFromUnit;
  cc2XformBasePtrh imageFromClient;
  if (linear) {
    imageFromUnit = image.imageFromClientXform() * params.affineRectangle().unitToShape();
  } else {
    imageFromClient = clientFromImage->inverseBase();
  }
  const ccPelRect win = image.window();
  const double xMin = win.x() - 0.5, xMax = win.x() + win.width() - 0.5;
  const double yMin = win.y() - 0.5, yMax = win.y() + win.height() - 0.5;
  const ccPelReader read(image, params.interpolation());

  std::vector<double> profile(nx);
  long sampled = 0;
  for (int i = 0; i < nx; ++i) {
    const double u = (i + 0.5) / nx;
    double sum = 0.0;
    for (int j = 0; j < ny; ++j) {
      if (sampled++ % kSamplesPerCheck == 0) ccAttention::check();
      const ccVector<2> unit(u, (j + 0.5) / ny);
      const ccVector<2> p =
          linear ? imageFromUnit.mapPoint(unit)
                 : imageFromClient->mapPoint(params.affineRectangle().unitToShape().mapPoint(unit));
      if (!(p.x() >= xMin && p.x() <= xMax && p.y() >= yMin && p.y() <= yMax)) {
        throw ccPel::BadWindow(
            L"cfAffineSampleProfile: the sampling rectangle leaves the image window");
      }
      sum += read(p.x(), p.y());
    }
    profile[i] = sum / ny;
  }
  return profile;
}
