// SPDX-License-Identifier: Apache-2.0
// Calibrates from a dot grid drawn in memory: 13 x 17 dark dots 15 pixels wide, 30 pixels apart, on
// a light ground. Prints the number of dots, the worst residual and where the image centre lies on
// the plate; exits 1 if the result is not what the drawing says.
#include <cmath>
#include <cstdio>

#include "cal/calib/calibration_run.h"
#include "ccalib_version.h"

int main() {
  ccPelBuffer<unsigned char> image(640, 480);
  for (long y = 0; y < image.height(); ++y) {
    for (long x = 0; x < image.width(); ++x) {
      double gx = std::remainder(x - 80.0, 30.0), gy = std::remainder(y - 60.0, 30.0);
      bool inGrid = x > 65 && x < 575 && y > 45 && y < 435;
      image.at(x, y) = inGrid && gx * gx + gy * gy < 56.25 ? 20 : 230;
    }
  }

  // --- README snippet ---
  ccGridCalibParams params(5.0, 5.0, /*isLeftHanded=*/true, ccCalibDefs::eGridPolynomialOrder5);
  ccGridCalibResults results;
  cfCalibrationRun(image, params, results);  // throws ccCalibDefs::Errors on failure
  ccVector<2> plate = results.clientFromImageXformBase()->mapPoint(ccVector<2>(320.0, 240.0));
  // --- end of README snippet ---

  std::printf("libccalib %s: %zu dots, max residual %.4f, image centre at plate (%.3f, %.3f)\n",
              cfLibraryVersion(), results.imagePoints().size(), results.maximumResidual(),
              plate.x(), plate.y());
  return results.imagePoints().size() == 13 * 17 && results.maximumResidual() < 0.05 ? 0 : 1;
}
