#include "platform/vision/pel_arith.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/foundation/exception.h"
#include "platform/foundation/pel_ops.h"
#include "tests/platform/vision/vision_test_images.h"

namespace {

TEST(ClampedArithmetic, SaturatesOverTheOverlapOnly) {
  std::mt19937 rng(8);
  const ccPelBuffer<unsigned char> a0 = cfRandomImage(ccPelRect(0, 0, 12, 9), rng);
  const ccPelBuffer<unsigned char> b =
      cfRandomImage(ccPelRect(5, -3, 20, 8), rng);  // overlap x 5..11, y 0..4
  for (int offset : {0, 127, -40}) {
    ccPelBuffer<unsigned char> sub = cfPelCopy(a0), add = cfPelCopy(a0);
    cf_PelSubClamp(sub, b, offset);
    cf_PelAddClamp(add, b);
    for (long y = 0; y < 9; ++y)
      for (long x = 0; x < 12; ++x) {
        const bool in = x >= 5 && y <= 4;
        const int a = a0.at(x, y), c = in ? b.at(x, y) : 0;
        ASSERT_EQ(sub.at(x, y), in ? std::clamp(a - c + offset, 0, 255) : a)
            << x << "," << y << " offset " << offset;
        ASSERT_EQ(add.at(x, y), in ? std::min(a + c, 255) : a) << x << "," << y;
      }
  }
  ccPelBuffer<unsigned char> a = cfPelCopy(a0);
  cf_PelSubClamp(a, a, 127);  // an image minus itself is the offset everywhere
  EXPECT_EQ(a.at(3, 3), 127);
  EXPECT_THROW(cf_PelAddClamp(a, ccPelBuffer<unsigned char>(ccPelRect(40, 40, 2, 2))),
               ccBadArgument);
  ccPelBuffer<unsigned char> unbound;
  EXPECT_THROW(cf_PelSubClamp(unbound, a0, 0), ccPel::UnboundWindow);
}

}  // namespace
