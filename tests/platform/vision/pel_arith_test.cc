// SPDX-License-Identifier: Apache-2.0
#include "platform/vision/pel_arith.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/foundation/exception.h"
#include "platform/foundation/pel_ops.h"
#include "tests/platform/vision/vision_test_images.h"

namespace {

TEST(ClampedArithmetic, SignedDifferenceThenGreyLevelOverTheOverlapOnly) {
  std::mt19937 rng(8);
  const ccPelBuffer<unsigned char> a0 = cfRandomImage(ccPelRect(0, 0, 12, 9), rng);
  const ccPelBuffer<unsigned char> b =
      cfRandomImage(ccPelRect(5, -3, 20, 8), rng);  // overlap x 5..11, y 0..4
  for (int limit : {0, 40, 127}) {
    ccPelBuffer<unsigned char> flat = cfPelCopy(a0);
    cf_PelSubClamp(flat, b, limit);
    ccPelBuffer<unsigned char> mid(b.window());
    cfPelSet(mid, static_cast<unsigned char>(128));
    cf_PelAddClamp(flat, mid);
    for (long y = 0; y < 9; ++y)
      for (long x = 0; x < 12; ++x) {
        const bool in = x >= 5 && y <= 4;
        const int a = a0.at(x, y);
        ASSERT_EQ(flat.at(x, y), in ? 128 + std::clamp(a - b.at(x, y), -limit, limit) : a)
            << x << "," << y << " limit " << limit;
      }
  }
}

TEST(ClampedArithmetic, SignedValuesSaturateAtBothEndsAndBadArguments) {
  ccPelBuffer<unsigned char> a(2, 1), b(2, 1), add(2, 1);
  a.at(0, 0) = 0, a.at(1, 0) = 255, b.at(0, 0) = 255, b.at(1, 0) = 0;
  cf_PelSubClamp(a, b, 127);
  EXPECT_EQ(a.at(0, 0), 0x81);  // -127
  EXPECT_EQ(a.at(1, 0), 127);
  add.at(0, 0) = 100, add.at(1, 0) = 200;
  cf_PelAddClamp(a, add);
  EXPECT_EQ(a.at(0, 0), 0);    // -127 + 100 clamps at 0
  EXPECT_EQ(a.at(1, 0), 255);  // 127 + 200 clamps at 255

  EXPECT_THROW(cf_PelAddClamp(a, ccPelBuffer<unsigned char>(ccPelRect(40, 40, 2, 2))),
               ccBadArgument);
  EXPECT_THROW(cf_PelSubClamp(a, a, 128), ccBadArgument);
  EXPECT_THROW(cf_PelSubClamp(a, a, -1), ccBadArgument);
  ccPelBuffer<unsigned char> unbound;
  EXPECT_THROW(cf_PelSubClamp(unbound, a, 0), ccPel::UnboundWindow);
}

}  // namespace
