// SPDX-License-Identifier: Apache-2.0
// Integer lattice labels for a cloud of dot candidates. The lattice grows from a seed dot
// whose eight neighbours form a lattice cell pattern, predicting each next dot from the
// dots already labelled along its row or column. The predictions follow perspective and lens
// distortion, so no image axes, plate size or global model are needed; a candidate that does
// not fit its neighbours is left out rather than given a label.
#ifndef CAL_CALIB_DOT_LATTICE_H
#define CAL_CALIB_DOT_LATTICE_H

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/foundation/vector.h"

// A measured dot: where it is, how large, and its second moments (the ellipse that a
// foreshortened disc becomes). The lattice uses the geometry; the grey levels travel with
// the dot for the stages after it.
struct ccDotShape {
  ccVector<2> centre;                      // image pixels
  double area = 0.0;                       // pixels
  double mxx = 0.0, mxy = 0.0, myy = 0.0;  // central second moments per unit area, pixels^2
  double ground = 0.0, ink = 0.0;  // grey levels around and inside the dot (0 if unmeasured)
};

// True when two dots have about the same size and shape: both eigenvalues of
// inverse(Ma) * Mb (the moment matrices) lie within a factor kDotShapeTolerance of 1.
bool cfSimilarDotShapes(const ccDotShape& a, const ccDotShape& b);

using ccLatticeLabel = ccPair<long>;

class ccDotLattice {
 public:
  struct Dot {
    ccLatticeLabel label;
    ccDotShape shape;
    int candidate = -1;  // index into grow()'s input; -1 for a dot added by tryAdd
  };

  ccDotLattice() = default;

  // The largest lattice grown from any qualifying seed among `candidates` (empty when none
  // qualifies). Labels are in the lattice's own basis: the seed is (0, 0) and its two
  // shortest non-parallel neighbour steps are the label axes, which need not be the plate's
  // rows and columns (see relabel). Calls ccAttention::check() as it goes.
  static ccDotLattice grow(const std::vector<ccDotShape>& candidates);

  std::size_t size() const { return dots_.size(); }
  const std::vector<Dot>& dots() const { return dots_; }
  // Index of the dot labelled `label`, or -1.
  int find(const ccLatticeLabel& label) const;

  // Image displacement of a +1 step of label x (bx) and of label y (by) at dot i: central
  // differences where both neighbours exist, one-sided where one does, else the step the dot
  // was found with.
  void localBasis(int i, ccVector<2>& bx, ccVector<2>& by) const;
  // The shortest lattice displacement at dot i: the least of |bx|, |by|, |bx + by|, |bx - by|.
  double minSpacing(int i) const;

  // Empty labels 4-adjacent to a dot, each once.
  std::vector<ccLatticeLabel> gaps() const;
  // Predicted image position of the empty `label` from a labelled neighbour along a row or
  // column (preferring the neighbour with the longest run behind it). `source` receives that
  // neighbour's index. False when no 4-neighbour is labelled.
  bool predict(const ccLatticeLabel& label, ccVector<2>& where, int& source) const;
  // Adds `shape` at the empty `label` when it lies within the growth tolerance of the
  // prediction and its shape matches the neighbour the prediction came from. True if added.
  bool tryAdd(const ccLatticeLabel& label, const ccDotShape& shape);

  // Replaces dot i's shape (for example with a refined measurement).
  void setShape(int i, const ccDotShape& shape);
  // Removes the dots whose flag is set (drop has one flag per dot).
  void remove(const std::vector<bool>& drop);
  // Removes dots whose position does not fit their rows and columns (a dot off the line
  // through its two neighbours, or off the extrapolation of the two dots behind it at the
  // end of a row) until every remaining dot fits. Returns how many were removed.
  std::size_t prune();
  // New labels m * label + offset, for an integer matrix m of non-zero determinant. With a
  // determinant of +1 or -1 the labels change basis; with a larger one they spread out over
  // a finer lattice whose extra positions are empty (see gaps()).
  void relabel(long m00, long m01, long m10, long m11, const ccLatticeLabel& offset);

 private:
  static std::uint64_t key(const ccLatticeLabel& l) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(l.x())) << 32) |
           static_cast<std::uint32_t>(l.y());
  }
  void add(const ccLatticeLabel& label, const ccDotShape& shape, int candidate,
           const ccVector<2>& bx, const ccVector<2>& by);
  // Prediction of the dot one step along `step` (a unit label vector) from dot i.
  ccVector<2> predictFrom(int i, const ccLatticeLabel& step) const;
  // How many dots stand in a straight run behind dot i, opposite to `step` (0, 1 or 2).
  int runBehind(int i, const ccLatticeLabel& step) const;
  ccVector<2> centre(int i) const { return dots_[static_cast<std::size_t>(i)].shape.centre; }
  void rebuildIndex();

  std::vector<Dot> dots_;
  std::vector<ccVector<2>> foundX_, foundY_;  // per dot: the steps it was found with
  std::unordered_map<std::uint64_t, int> index_;
};

#endif  // CAL_CALIB_DOT_LATTICE_H
