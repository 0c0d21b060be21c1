// SPDX-License-Identifier: Apache-2.0
// Random test images and an image comparison that reports where two images differ.
#ifndef TESTS_PLATFORM_VISION_VISION_TEST_IMAGES_H
#define TESTS_PLATFORM_VISION_VISION_TEST_IMAGES_H

#include <gtest/gtest.h>

#include <random>

#include "platform/foundation/pel_buffer.h"

// Pixels drawn uniformly from 0 .. levels - 1.
inline ccPelBuffer<unsigned char> cfRandomImage(const ccPelRect& window, std::mt19937& rng,
                                                int levels = 256) {
  ccPelBuffer<unsigned char> img(window);
  for (long j = 0; j < img.height(); ++j)
    for (long i = 0; i < img.width(); ++i)
      img.row(j)[i] = static_cast<unsigned char>(rng() % levels);
  return img;
}

// Same window and pixels; otherwise names the window or the first differing pixels.
inline ::testing::AssertionResult cfSameImage(const ccPelBuffer_const<unsigned char>& got,
                                              const ccPelBuffer_const<unsigned char>& want) {
  const ccPelRect w = want.window();
  if (got.window() != w) return ::testing::AssertionFailure() << "the windows differ";
  int bad = 0;
  auto fail = ::testing::AssertionFailure();
  for (long y = w.y(); y < w.y() + w.height(); ++y)
    for (long x = w.x(); x < w.x() + w.width(); ++x)
      if (got.at(x, y) != want.at(x, y) && bad++ < 5)
        fail << "(" << x << "," << y << "): got " << int(got.at(x, y)) << " want "
             << int(want.at(x, y)) << "; ";
  return bad ? fail << bad << " pixels differ" : ::testing::AssertionSuccess();
}

#endif  // TESTS_PLATFORM_VISION_VISION_TEST_IMAGES_H
