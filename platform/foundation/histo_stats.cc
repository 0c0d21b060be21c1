// SPDX-License-Identifier: Apache-2.0
// Histogram statistics in integer counts where possible, doubles for the moments.
#include "platform/foundation/histo_stats.h"

#include <cmath>

ccHistoStats::ccHistoStats(const std::vector<unsigned long>& histogram, bool sampleSdev) {
  long first = -1, last = -1;
  double sum = 0.0;
  for (std::size_t i = 0; i < histogram.size(); ++i) {
    unsigned long n = histogram[i];
    if (n == 0) continue;
    if (first < 0) first = static_cast<long>(i);
    last = static_cast<long>(i);
    count_ += n;
    sum += static_cast<double>(n) * static_cast<double>(i);
  }
  if (count_ == 0) return;
  min_ = first;
  max_ = last;
  mean_ = sum / static_cast<double>(count_);

  // Squared deviations from the mean (two passes: no cancellation of large sums).
  double squares = 0.0;
  unsigned long long cumulative = 0;
  bool medianFound = false;
  for (long i = first; i <= last; ++i) {
    unsigned long n = histogram[static_cast<std::size_t>(i)];
    double d = static_cast<double>(i) - mean_;
    squares += static_cast<double>(n) * d * d;
    cumulative += n;
    if (!medianFound && 2 * cumulative >= count_) {
      median_ = i;
      medianFound = true;
    }
  }
  double divisor = sampleSdev ? static_cast<double>(count_) - 1.0 : static_cast<double>(count_);
  sdev_ = divisor > 0.0 ? std::sqrt(squares / divisor) : 0.0;
}
