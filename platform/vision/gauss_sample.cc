// Separable Gaussian smoothing and subsampling, streamed through a ring of filtered rows so
// that only the output rows and columns are computed.
#include "platform/vision/gauss_sample.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

ccGaussSampleParams::ccGaussSampleParams(int subsample, int kernelHalfWidth, double sigma,
                                         bool keepFrame)
    : subsample_(subsample), halfWidth_(kernelHalfWidth), sigma_(sigma), keepFrame_(keepFrame) {
  if (subsample < 1 || subsample > kMaxSubsample) {
    throw ccBadArgument(L"ccGaussSampleParams: the subsample step must lie in [1, 64]");
  }
  if (kernelHalfWidth < 0 || kernelHalfWidth > kMaxHalfWidth) {
    throw ccBadArgument(L"ccGaussSampleParams: the kernel half width must lie in [0, 64]");
  }
  if (!(sigma > 0.0) || !std::isfinite(sigma)) {
    throw ccBadArgument(L"ccGaussSampleParams: sigma must be positive and finite");
  }
}

namespace {

// Smallest k with k * s >= v, for any sign of v (s > 0).
long ceilDiv(long v, long s) {
  return v >= 0 ? (v + s - 1) / s : -((-v) / s);
}
// Largest k with k * s <= v.
long floorDiv(long v, long s) {
  return v >= 0 ? v / s : -((-v + s - 1) / s);
}

}  // namespace

void cfGaussSample(const ccPelBuffer_const<unsigned char>& image, const ccGaussSampleParams& params,
                   ccPelBuffer<unsigned char>& out) {
  image.requireBound();
  const long s = params.subsample();
  const int r = params.kernelHalfWidth();
  const ccPelRect win = image.window();

  // Output window and the input window position (relative to the window's upper left) of
  // output column 0 and row 0.
  long outX0 = 0, outY0 = 0, outW = 0, outH = 0, firstX = 0, firstY = 0;
  if (params.keepFrame()) {
    outX0 = ceilDiv(win.x(), s);
    outY0 = ceilDiv(win.y(), s);
    outW = std::max(0L, floorDiv(win.x() + win.width() - 1, s) - outX0 + 1);
    outH = std::max(0L, floorDiv(win.y() + win.height() - 1, s) - outY0 + 1);
    firstX = outX0 * s - win.x();
    firstY = outY0 * s - win.y();
  } else {
    outW = win.width() > 0 ? (win.width() - 1) / s + 1 : 0;
    outH = win.height() > 0 ? (win.height() - 1) / s + 1 : 0;
  }
  if (win.width() == 0 || win.height() == 0) outW = outH = 0;

  ccPelBuffer<unsigned char> result(ccPelRect(outX0, outY0, outW, outH));
  if (s == 1 && params.keepFrame()) {
    result.copyXforms(image);
  } else {
    // clientFromOutput = clientFromInput o (X -> s X + shift).
    const ccVector<2> shift = params.keepFrame() ? ccVector<2>() : ccVector<2>(win.x(), win.y());
    const ccXform<2> inputFromOutput(ccMatrix<2>(s, 0, 0, s), shift);
    const cc2XformBasePtrh clientFromInput = image.clientFromImageXformBase();
    if (!clientFromInput->isLinear()) {
      throw ccBadArgument(
          L"cfGaussSample: a non-linear client transform cannot follow a subsampled or renumbered "
          L"frame");
    }
    result.clientFromImageXform(clientFromInput->linearAt(ccVector<2>()) * inputFromOutput);
  }

  if (outW > 0 && outH > 0) {
    std::vector<float> taps(r + 1);
    double sum = 0.0;
    for (int i = 0; i <= r; ++i) {
      taps[i] = static_cast<float>(std::exp(-0.5 * i * i / (params.sigma() * params.sigma())));
      sum += (i == 0 ? 1.0 : 2.0) * taps[i];
    }
    for (float& t : taps) t = static_cast<float>(t / sum);

    const long w = win.width(), h = win.height();
    const int k = 2 * r + 1;
    // Ring of x-filtered input rows (output columns only); slotRow records which row a slot
    // holds, so rows shared between output rows are filtered once.
    std::vector<float> ring(static_cast<std::size_t>(k) * outW);
    std::vector<long> slotRow(k, std::numeric_limits<long>::min());  // none yet
    std::vector<float> pad(w + 2 * r);
    std::vector<float> acc(outW);
    auto filteredRow = [&](long inRow) -> const float* {  // inRow: window-relative, may be outside
      const int slotIndex = static_cast<int>(((inRow % k) + k) % k);
      float* dst = ring.data() + static_cast<std::size_t>(slotIndex) * outW;
      if (slotRow[slotIndex] == inRow) return dst;
      slotRow[slotIndex] = inRow;
      const unsigned char* src = image.row(std::clamp(inRow, 0L, h - 1));
      for (int i = 0; i < r; ++i) {
        pad[i] = src[0];
        pad[w + r + i] = src[w - 1];
      }
      for (long x = 0; x < w; ++x) pad[x + r] = src[x];
      const float* c = pad.data() + r + firstX;
      for (long X = 0; X < outW; ++X) dst[X] = taps[0] * c[X * s];
      for (int i = 1; i <= r; ++i) {
        const float t = taps[i];
        for (long X = 0; X < outW; ++X) dst[X] += t * (c[X * s - i] + c[X * s + i]);
      }
      return dst;
    };

    for (long Y = 0; Y < outH; ++Y) {
      const long inRow = firstY + Y * s;
      const float* centre = filteredRow(inRow);
      for (long X = 0; X < outW; ++X) acc[X] = taps[0] * centre[X];
      for (int i = 1; i <= r; ++i) {
        const float* above = filteredRow(inRow - i);
        const float* below = filteredRow(inRow + i);
        const float t = taps[i];
        for (long X = 0; X < outW; ++X) acc[X] += t * (above[X] + below[X]);
      }
      unsigned char* o = result.row(Y);
      for (long X = 0; X < outW; ++X)
        o[X] = static_cast<unsigned char>(std::clamp(acc[X] + 0.5f, 0.0f, 255.0f));
    }
  }
  out = result;
}
