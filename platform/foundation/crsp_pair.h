// SPDX-License-Identifier: Apache-2.0
// A weighted correspondence: an image (or client) position paired with a plate position,
// with a weight that says how much a fit should trust the pair.
#ifndef PLATFORM_FOUNDATION_CRSP_PAIR_H
#define PLATFORM_FOUNDATION_CRSP_PAIR_H

#include "platform/foundation/archive.h"
#include "platform/foundation/vector.h"

// first = image or client position, second = plate position (see ccPair). The weight is a
// relative confidence, 1.0 unless given; it is not checked.
class ccCrspPairWeighted : public ccPair<ccVector<2>> {
 public:
  // Weight given to a pair built without one.
  static constexpr double kDefaultWeight = 1.0;

  ccCrspPairWeighted() = default;
  explicit ccCrspPairWeighted(const ccPair<ccVector<2>>& pair, double weight = kDefaultWeight)
      : ccPair<ccVector<2>>(pair), weight_(weight) {}
  ccCrspPairWeighted(const ccVector<2>& first, const ccVector<2>& second,
                     double weight = kDefaultWeight)
      : ccPair<ccVector<2>>(first, second), weight_(weight) {}

  // The two positions without the weight.
  const ccPair<ccVector<2>>& pair() const { return *this; }
  double weight() const { return weight_; }
  void weight(double w) { weight_ = w; }

  bool operator==(const ccCrspPairWeighted& o) const {
    return pair() == o.pair() && weight_ == o.weight_;
  }
  bool operator!=(const ccCrspPairWeighted& o) const { return !(*this == o); }

 private:
  double weight_ = kDefaultWeight;
};

// The two positions, then the weight. Without this overload the ccPair one would take the
// pair and silently drop the weight.
inline ccArchive& operator||(ccArchive& ar, ccCrspPairWeighted& p) {
  ccArchive::Pass pass(ar);
  ar || p.first;
  ar || p.second;
  double w = p.weight();
  ar || w;
  if (ar.isLoading()) p.weight(w);
  return ar;
}

template <>
struct ccArchiveMinBytes<ccCrspPairWeighted> {
  static constexpr std::size_t value = 40;
};

#endif  // PLATFORM_FOUNDATION_CRSP_PAIR_H
