// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace {

TEST(Text, StrGivesShortestTextThatReadsBackExactly) {
  EXPECT_EQ(cfStr(0.1), "0.1");
  EXPECT_EQ(cfStr(2.5), "2.5");
  EXPECT_EQ(cfStr(100.0), "100");
  EXPECT_EQ(cfStr(-0.001), "-0.001");
  EXPECT_EQ(cfStr(1e20), "1e+20");
  EXPECT_EQ(cfStr(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(cfStr(0.1f), "0.1");
  EXPECT_EQ(cfStr(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(cfStr(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(cfStr(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(cfStr(-7), "-7");
  EXPECT_EQ(cfStr(std::numeric_limits<long>::min()),
            std::to_string(std::numeric_limits<long>::min()));
  EXPECT_EQ(cfStr(std::size_t{12}), "12");
  EXPECT_EQ(cfStr(~0ull), "18446744073709551615");

  std::mt19937_64 rng(7);
  for (int i = 0; i < 2000; ++i) {
    std::uint64_t bits = rng();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isfinite(v)) continue;
    std::string text = cfStr(v);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
  }
}

TEST(Text, DblWritesFixedDecimalsAndTrimsOnRequest) {
  EXPECT_EQ(cfDbl(1.5, 3, false), "1.500");
  EXPECT_EQ(cfDbl(1.5, 3, true), "1.5");
  EXPECT_EQ(cfDbl(2.0, 3, true), "2");
  EXPECT_EQ(cfDbl(100.0, 0, true), "100");  // trimming never eats integer zeros
  EXPECT_EQ(cfDbl(1234.5678, 2, false), "1234.57");
  EXPECT_EQ(cfDbl(-12.3456, 3, false), "-12.346");
  EXPECT_EQ(cfDbl(-0.0004, 3, false), "0.000");
  EXPECT_EQ(cfDbl(-0.0, 2, true), "0");
  EXPECT_EQ(cfDbl(3.7, -1, false), "4");
  EXPECT_EQ(cfDbl(1e300, 1, false).size(), 301u + 2u);
  EXPECT_EQ(cfDbl(1.0, 1000, false).size(), 2u + kMaxTextDecimals);
  EXPECT_EQ(cfDbl(-std::numeric_limits<double>::infinity(), 3, false), "-inf");
}

}  // namespace
