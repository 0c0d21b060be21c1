// SPDX-License-Identifier: Apache-2.0
// Synthetic test images with exact geometry: a shape given by an inside test is drawn by
// supersampling (anti-aliasing), then optionally blurred, lit unevenly and given noise, and
// quantised to 8 bits. Pixel (x, y) covers [x - 0.5, x + 0.5) x [y - 0.5, y + 0.5).
#ifndef TESTS_SUPPORT_SYNTHETIC_H
#define TESTS_SUPPORT_SYNTHETIC_H

#include <cstdint>
#include <functional>

#include "platform/foundation/pel_buffer.h"

struct ccSyntheticSpec {
  long width = 256;
  long height = 256;
  double foreground = 200.0;      // grey level inside the shape
  double background = 50.0;       // grey level outside
  int supersample = 8;            // samples per pixel along each axis
  double blurSigma = 0.0;         // Gaussian blur, pixels (0: none)
  double noiseSigma = 0.0;        // additive Gaussian noise, grey levels (0: none)
  double gradientPerPixel = 0.0;  // added brightness per pixel along +x, grey levels
  std::uint32_t seed = 1;
};

// Coverage of each pixel by the shape (0 to 1), before blur.
ccPelBuffer<double> cfSyntheticCoverage(long width, long height, int supersample,
                                        const std::function<bool(double x, double y)>& inside);

// The shape rendered to 8 bits as described above.
ccPelBuffer<unsigned char> cfSyntheticImage(const ccSyntheticSpec& spec,
                                            const std::function<bool(double x, double y)>& inside);

// Gaussian blur of a real image in place (separable, edge pixels replicated).
void cfSyntheticBlur(ccPelBuffer<double>& image, double sigma);

#endif  // TESTS_SUPPORT_SYNTHETIC_H
