// SPDX-License-Identifier: Apache-2.0
// Step 2 of the checker finder: growing a labelled grid over the junction candidates.
#ifndef PLATFORM_CHECKERFINDER_GRID_GROWTH_H
#define PLATFORM_CHECKERFINDER_GRID_GROWTH_H

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/checkerfinder/finder_types.h"

namespace cclft_internal {

// A grid in its own label frame (i, j): which way +i and +j point is the seed's choice.
struct Grid {
  std::vector<GridNode> nodes;
  // +1 when the square between the +i and +j steps of a vertex with even i + j is light,
  // -1 when it is dark.
  int parity = 1;

  // Index of the live node labelled (i, j), or -1.
  int find(int i, int j) const {
    auto it = index_.find(key(i, j));
    return it == index_.end() ? -1 : it->second;
  }
  int add(const GridNode& n) {
    index_[key(n.i, n.j)] = static_cast<int>(nodes.size());
    nodes.push_back(n);
    return static_cast<int>(nodes.size()) - 1;
  }
  void kill(int k) {
    nodes[static_cast<std::size_t>(k)].alive = false;
    index_.erase(key(nodes[static_cast<std::size_t>(k)].i, nodes[static_cast<std::size_t>(k)].j));
  }
  int liveCount() const { return static_cast<int>(index_.size()); }

 private:
  static std::uint64_t key(int i, int j) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(i)) << 32) |
           static_cast<std::uint32_t>(j);
  }
  std::unordered_map<std::uint64_t, int> index_;
};

// The light-minus-dark contrast of the checker pattern around `p` for the local grid steps
// u (+i) and v (+j): positive when the squares towards p +- (u + v) are light and those
// towards p +- (u - v) dark, negative for the opposite, 0 when the pattern is not a clean
// checker (the two squares of a diagonal disagree, or an edge sample that `edges` asks for
// is not between light and dark: within 35 % of the contrast from the middle grey when
// `strict`, 45 % otherwise) or a sample falls outside the image. Samples lie at 0.35 of the
// steps from p, or, when that fails, at 0.2.
enum : unsigned {
  kEdgePlusU = 1,
  kEdgeMinusU = 2,
  kEdgePlusV = 4,
  kEdgeMinusV = 8,
  kAllEdges = 15
};
double cfCheckerContrast(const GrayView& image, const Vec& p, const Vec& u, const Vec& v,
                         unsigned edges, bool strict);

// Grows grids from seeds taken in order of distance from settings.startPoint and returns
// the one with most vertices (possibly empty). Each grid is checked by cfPruneGrid.
// Candidates taken by the returned grid have `node` set. Calls ccAttention::check()
// between seeds and every 256 vertices.
Grid cfGrowBestGrid(const GrayView& image, std::vector<Candidate>& candidates,
                    const FinderSettings& settings);

// The image vector of +1 along `axis` (0: i, 1: j) at live node n: half the difference of
// its two neighbours on that axis, the difference to the one there is, or the node's step.
Vec cfGridAxis(const Grid& grid, const GridNode& n, int axis);

// Drops vertices that lack a neighbour (at most 3 labels away) along either grid axis,
// until none does.
void cfPruneGrid(Grid& grid);

}  // namespace cclft_internal

#endif  // PLATFORM_CHECKERFINDER_GRID_GROWTH_H
