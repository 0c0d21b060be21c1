// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/histo_stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

// Histogram of the given values over `bins` bins.
std::vector<unsigned long> histogramOf(const std::vector<long>& values, std::size_t bins = 256) {
  std::vector<unsigned long> h(bins, 0);
  for (long v : values) ++h[static_cast<std::size_t>(v)];
  return h;
}

TEST(HistoStats, MedianOfOddEvenAndSkewedHistograms) {
  EXPECT_EQ(ccHistoStats(histogramOf({1, 2, 3}), true).median(), 2);
  EXPECT_EQ(ccHistoStats(histogramOf({1, 2, 3, 4}), true).median(), 2) << "lower median";
  EXPECT_EQ(ccHistoStats(histogramOf({10, 10, 20, 20}), true).median(), 10);
  EXPECT_EQ(ccHistoStats(histogramOf({10, 10, 20, 20, 20}), true).median(), 20);
  EXPECT_EQ(ccHistoStats(histogramOf({0, 0, 0, 255}), true).median(), 0);

  // Against sorting, on random histograms of 1 to 50 values.
  std::mt19937 rng(3);
  for (int trial = 0; trial < 500; ++trial) {
    std::vector<long> values(1 + rng() % 50);
    for (long& v : values) v = static_cast<long>(rng() % 40);
    ccHistoStats s(histogramOf(values, 40), false);
    std::sort(values.begin(), values.end());
    ASSERT_EQ(s.median(), values[(values.size() - 1) / 2]) << "trial " << trial;
    ASSERT_EQ(s.min(), values.front());
    ASSERT_EQ(s.max(), values.back());
    ASSERT_EQ(s.count(), values.size());
  }
}

TEST(HistoStats, MomentsAndTheSdevChoice) {
  std::vector<unsigned long> h = histogramOf({2, 4, 4, 4, 5, 5, 7, 9});
  ccHistoStats population(h, false), sample(h, true);
  EXPECT_DOUBLE_EQ(population.mean(), 5.0);
  EXPECT_DOUBLE_EQ(population.sdev(), 2.0);
  EXPECT_DOUBLE_EQ(sample.sdev(), std::sqrt(32.0 / 7.0));
  EXPECT_EQ(sample.count(), 8u);

  ccHistoStats one(histogramOf({200}), true);  // a single value: no spread, in either mode
  EXPECT_EQ(one.median(), 200);
  EXPECT_EQ(one.sdev(), 0.0);
  EXPECT_EQ(one.mean(), 200.0);
}

TEST(HistoStats, EmptyAndOneBinHistograms) {
  for (const std::vector<unsigned long>& h :
       {std::vector<unsigned long>(), std::vector<unsigned long>(256, 0)}) {
    ccHistoStats s(h, true);
    EXPECT_EQ(s.count(), 0u);
    EXPECT_EQ(s.median(), 0);
    EXPECT_EQ(s.min(), 0);
    EXPECT_EQ(s.max(), 0);
    EXPECT_EQ(s.mean(), 0.0);
    EXPECT_EQ(s.sdev(), 0.0);
  }
  ccHistoStats oneBin(std::vector<unsigned long>{7}, true);
  EXPECT_EQ(oneBin.count(), 7u);
  EXPECT_EQ(oneBin.median(), 0);
  EXPECT_EQ(oneBin.max(), 0);
  EXPECT_EQ(oneBin.sdev(), 0.0);
}

}  // namespace
