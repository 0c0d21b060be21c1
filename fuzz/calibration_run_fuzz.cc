// SPDX-License-Identifier: Apache-2.0
// The dot-grid calibration run on small images built from the input. Layout: width and
// height (1 to 96 pixels each), a flags byte (handedness, ignore-angle, calibration type
// and polarity, out-of-range values included), the pitch and the two fill-ratio bounds,
// then the pixels row by row (repeated when the input is short). Invariants: the run
// either throws one of the calibration errors or gives a result
// whose lists agree and whose values are finite, and which stores and loads back.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "cal/calib/calibration_run.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int kMaxSide = 96;
constexpr std::size_t kHeaderBytes = 6;
// Calibration types and polarities reachable from the flags, each with one invalid value.
constexpr int kTypes[4] = {ccCalibDefs::eGridLinear, ccCalibDefs::eGridPolynomialOrder3,
                           ccCalibDefs::eGridPolynomialOrder5, 2};
constexpr int kPolarities[4] = {ccCalibDefs::ePolarityInverted, ccCalibDefs::ePolarityNormal,
                                ccCalibDefs::ePolarityAny, 3};

bool finite(const ccVector<2>& p) {
  return std::isfinite(p.x()) && std::isfinite(p.y());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cfFuzzInstallAssertionHandler();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderBytes) return 0;
  const long width = 1 + data[0] % kMaxSide, height = 1 + data[1] % kMaxSide;
  const std::uint8_t flags = data[2];
  // Pitch 0 (refused) or 1/16 to 16; ratios k/255, so 0 and 1 (refused) are reachable.
  const double pitch = data[3] / 16.0;
  const double minRatio = data[4] / 255.0, maxRatio = data[5] / 255.0;

  ccGridCalibParams params(1.0, 1.0);
  params.gridPitchX(pitch);
  params.gridPitchY(pitch);
  params.isLeftHanded((flags & 1) != 0);
  params.ignoreGridAngle((flags & 2) != 0);
  params.calibType(static_cast<ccCalibDefs::CalibType>(kTypes[(flags >> 2) & 3]));
  params.polarity(static_cast<ccCalibDefs::Polarity>(kPolarities[(flags >> 4) & 3]));
  params.dotAreaToBoundingBoxAreaRatio(minRatio, maxRatio);

  ccPelBuffer<unsigned char> image(width, height);
  const std::uint8_t* pixels = data + kHeaderBytes;
  const std::size_t n = size - kHeaderBytes;
  for (long y = 0; y < height; ++y) {
    for (long x = 0; x < width; ++x) {
      const std::size_t k = static_cast<std::size_t>(y * width + x);
      image.at(x, y) = n == 0 ? 0 : pixels[k % n];
    }
  }

  ccGridCalibResults results;
  try {
    cfCalibrationRun(image, params, results);
  } catch (const ccCalibDefs::Errors&) {
    return 0;
  }
  const std::vector<ccVector<2>> points = results.imagePoints(),
                                 residuals = results.residuals(true);
  FUZZ_CHECK(points.size() >= 3 && points.size() == residuals.size());
  for (std::size_t k = 0; k < points.size(); ++k)
    FUZZ_CHECK(finite(points[k]) && finite(residuals[k]));
  FUZZ_CHECK(std::isfinite(results.maximumResidual()) && std::isfinite(results.averageResidual()));
  FUZZ_CHECK(results.clientFromImageXformBase() != nullptr);
  std::vector<unsigned char> bytes = cfFuzzStore(results);
  ccGridCalibResults back;
  ccArchive in(bytes, ccArchive::eLoading);
  in || static_cast<ccPersistent&>(back);
  return 0;
}
