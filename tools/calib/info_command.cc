// SPDX-License-Identifier: Apache-2.0
// calib info: what an image file holds, before it is used for calibration — its size and a
// summary of its grey levels (exposure, contrast, clipping).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/foundation/pel_ops.h"
#include "tools/calib/args.h"
#include "tools/calib/commands.h"
#include "tools/calib/read_limits.h"
#include "tools/imageio/image_io.h"

namespace {

const char kHelp[] =
    "usage: calib info IMAGE... [--max-decoded-bytes N] [--max-file-bytes N]\n"
    "\n"
    "Prints each image's size and grey-level statistics: minimum, maximum, mean, median and\n"
    "a coarse histogram of 16 bins of 16 levels each (0-15, 16-31, ... 240-255), as the\n"
    "percentage of pixels in each bin and as a one-line sketch. Colour images are read as\n"
    "grey (Rec. 601 luma). Reads PGM, PNG and JPEG, recognised by content.\n"
    "\n";

// Bins of the coarse histogram, and levels per bin.
constexpr int kCoarseBins = 16;
constexpr int kLevelsPerBin = 256 / kCoarseBins;

void describe(const std::string& path, const ccImageReadLimits& limits) {
  const ccPelBuffer<unsigned char> image = cfReadImage(path, limits);
  const std::vector<unsigned long> hist = cfPelHistogram(image);
  const double n = static_cast<double>(image.width()) * image.height();
  int lo = 255, hi = 0, median = -1;
  double sum = 0.0, cumulative = 0.0;
  for (int v = 0; v < 256; ++v) {
    if (hist[v] == 0) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    sum += static_cast<double>(v) * hist[v];
    cumulative += hist[v];
    if (median < 0 && cumulative >= 0.5 * n) median = v;
  }
  std::printf("%s: %ld x %ld pixels\n", path.c_str(), image.width(), image.height());
  std::printf("  min %d  max %d  mean %.2f  median %d\n", lo, hi, sum / n, median);

  double bins[kCoarseBins] = {};
  double biggest = 0.0;
  for (int v = 0; v < 256; ++v) bins[v / kLevelsPerBin] += 100.0 * hist[v] / n;
  for (double b : bins) biggest = std::max(biggest, b);
  std::printf("  histogram %%:");
  for (double b : bins) std::printf(" %.1f", b);
  static const char kShades[] = " .:-=+*#@";
  std::string sketch;
  for (double b : bins) {
    const int shade = b <= 0.0 ? 0 : 1 + static_cast<int>((sizeof(kShades) - 3) * b / biggest);
    sketch += kShades[shade];
  }
  std::printf("\n  histogram sketch: 0 |%s| 255\n", sketch.c_str());
}

}  // namespace

int cfCalibInfo(const std::vector<std::string>& words) {
  const ccCommandArgs args(words, cfWithReadLimitOptions({}));
  if (args.help()) {
    std::fputs(kHelp, stdout);
    std::fputs(cfReadLimitHelp().c_str(), stdout);
    return 0;
  }
  if (args.positional().empty()) throw ccUsageError("no image given");
  const ccImageReadLimits limits = cfReadLimits(args);
  for (const std::string& path : args.positional()) describe(path, limits);
  return 0;
}
