// SPDX-License-Identifier: Apache-2.0
// Summary statistics of a histogram: the count, extremes, mean, standard deviation and
// median of the values it counts. Bin i counts the occurrences of value i.
#ifndef PLATFORM_FOUNDATION_HISTO_STATS_H
#define PLATFORM_FOUNDATION_HISTO_STATS_H

#include <vector>

#include "ccalib_export.h"

class CCALIB_EXPORT ccHistoStats {
 public:
  // Statistics of `histogram` (any number of bins; 256 for 8-bit images), computed here in
  // one pass. `sampleSdev` chooses the standard deviation: true divides the sum of squared
  // deviations by count - 1 (the unbiased sample estimate), false by count (the population
  // value). The histogram is not kept.
  //
  // An empty histogram (no bins, or all bins 0) has count() 0, and every other statistic is
  // 0: callers that must tell "no values" from "all values 0" check count().
  ccHistoStats(const std::vector<unsigned long>& histogram, bool sampleSdev);

  // Number of values counted (the sum of the bins).
  unsigned long long count() const { return count_; }
  // Smallest and largest value with a non-zero count.
  long min() const { return min_; }
  long max() const { return max_; }
  double mean() const { return mean_; }
  // Standard deviation as chosen at construction; 0 for fewer than two values when it is
  // the sample estimate.
  double sdev() const { return sdev_; }
  // The lower median: the smallest value v whose cumulative count (bins 0 .. v) reaches at
  // least half the total, i.e. 2 * cumulative(v) >= count(). For an odd count it is the
  // middle value; for an even count the lower of the two middle values (1, 2, 3, 4 -> 2).
  long median() const { return median_; }

 private:
  unsigned long long count_ = 0;
  long min_ = 0;
  long max_ = 0;
  double mean_ = 0.0;
  double sdev_ = 0.0;
  long median_ = 0;
};

#endif  // PLATFORM_FOUNDATION_HISTO_STATS_H
