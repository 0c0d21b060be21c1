// SPDX-License-Identifier: Apache-2.0
// Separable Gaussian smoothing and subsampling: per output row a column pass then a row pass,
// so that only the output rows are computed.
#include "platform/vision/gauss_sample.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/foundation/attention.h"

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

// Column pass: the Gaussian along y at every column of one output row, from the 2r + 1
// input rows centred on it. kR >= 0 fixes the radius at compile time so the tap loop unrolls
// and the column loop vectorises; kR = -1 takes r at run time.
template <int kR>
void columnPass(const unsigned char* const* rows, int r, const float* taps, float* __restrict out,
                long w) {
  const int R = kR >= 0 ? kR : r;
  const unsigned char* centre = rows[R];
  for (long x = 0; x < w; ++x) {
    float v = taps[0] * centre[x];
    for (int i = 1; i <= R; ++i)
      v += taps[i] * (static_cast<float>(rows[R - i][x]) + rows[R + i][x]);
    out[x] = v;
  }
}

// Row pass at full resolution: the Gaussian along x; `in` holds r valid values before index 0
// and after index w - 1.
template <int kR>
void rowPass(const float* in, int r, const float* taps, float* __restrict out, long w) {
  const int R = kR >= 0 ? kR : r;
  for (long x = 0; x < w; ++x) {
    float v = taps[0] * in[x];
    for (int i = 1; i <= R; ++i) v += taps[i] * (in[x - i] + in[x + i]);
    out[x] = v;
  }
}

// Rounds to the nearest grey level. The values are convex combinations of grey levels, so
// they lie in [0, 255] up to rounding; the integer clamp only guards that rounding.
void toBytes(const float* __restrict in, unsigned char* __restrict out, long w) {
  for (long x = 0; x < w; ++x)
    out[x] = static_cast<unsigned char>(std::min(255, static_cast<int>(in[x] + 0.5f)));
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
    // Per output row: a column pass over the 2r + 1 input rows around it (every input column,
    // with r repeated columns at each end), then a row pass at the output columns.
    std::vector<float> column(w + 2 * r);
    std::vector<const unsigned char*> rows(2 * r + 1);
    std::vector<float> acc(outW);
    for (long Y = 0; Y < outH; ++Y) {
      ccAttention::check();
      const long inRow = firstY + Y * s;
      for (int i = -r; i <= r; ++i) rows[i + r] = image.row(std::clamp(inRow + i, 0L, h - 1));
      float* col = column.data() + r;
      switch (r) {
        case 0:
          columnPass<0>(rows.data(), r, taps.data(), col, w);
          break;
        case 1:
          columnPass<1>(rows.data(), r, taps.data(), col, w);
          break;
        case 2:
          columnPass<2>(rows.data(), r, taps.data(), col, w);
          break;
        case 3:
          columnPass<3>(rows.data(), r, taps.data(), col, w);
          break;
        case 4:
          columnPass<4>(rows.data(), r, taps.data(), col, w);
          break;
        default:
          columnPass<-1>(rows.data(), r, taps.data(), col, w);
          break;
      }
      for (int i = 1; i <= r; ++i) {
        col[-i] = col[0];
        col[w - 1 + i] = col[w - 1];
      }
      const float* c = col + firstX;
      if (s == 1) {
        switch (r) {
          case 0:
            rowPass<0>(c, r, taps.data(), acc.data(), outW);
            break;
          case 1:
            rowPass<1>(c, r, taps.data(), acc.data(), outW);
            break;
          case 2:
            rowPass<2>(c, r, taps.data(), acc.data(), outW);
            break;
          case 3:
            rowPass<3>(c, r, taps.data(), acc.data(), outW);
            break;
          case 4:
            rowPass<4>(c, r, taps.data(), acc.data(), outW);
            break;
          default:
            rowPass<-1>(c, r, taps.data(), acc.data(), outW);
            break;
        }
      } else {
        for (long X = 0; X < outW; ++X) {
          float v = taps[0] * c[X * s];
          for (int i = 1; i <= r; ++i) v += taps[i] * (c[X * s - i] + c[X * s + i]);
          acc[X] = v;
        }
      }
      toBytes(acc.data(), result.row(Y), outW);
    }
  }
  out = result;
}
