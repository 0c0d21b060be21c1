// SPDX-License-Identifier: Apache-2.0
// Grid label propagation: a breadth-first walk of the corner mesh from a labelled corner,
// where the direction of each mesh edge in grid axes says which neighbouring label a linked
// corner gets. A label handed out twice in one walk means the mesh went wrong there, so the
// walk stops looking around that corner.
#include <algorithm>
#include <cmath>

#include "cal/checkerlabels/checker_labels.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"

namespace {

// Labels handed out by one walk, reserved up front.
constexpr std::size_t kReservedLabels = 512;

// One grid step from an image direction given in grid axes (u along xStep, v along yStep).
// A direction exactly between the axes counts as a step along y.
ccPair<long> gridStep(const ccVector<2>& uv) {
  if (std::fabs(uv.x()) > std::fabs(uv.y())) return ccPair<long>(uv.x() > 0.0 ? 1 : -1, 0);
  return ccPair<long>(0, uv.y() > 0.0 ? 1 : -1);
}

}  // namespace

void cfCheckerPropagateLabels(std::vector<cc_Corner*>& queue, const ccXform<2>& gridFromImage) {
  cstd_assert_(!queue.empty() && queue.front() != nullptr && queue.front()->isLabelled());
  if (queue.empty() || queue.front() == nullptr) return;

  std::vector<ccPair<long>> used;
  used.reserve(kReservedLabels);
  used.push_back(queue.front()->label);

  // First in, first out: `head` is the next corner to visit; new corners go to the back.
  for (std::size_t head = 0; head < queue.size(); ++head) {
    ccAttention::check();
    cc_Corner* cur = queue[head];
    cstd_assert_(cur->isLabelled() && cur->valid);
    const std::vector<cc_Corner*> linked = cur->linked;
    for (cc_Corner* nb : linked) {
      if (nb->isLabelled() || !nb->valid) continue;
      const ccVector<2> uv = gridFromImage.mapPoint((nb->position - cur->position).unit());
      const ccPair<long> label = cur->label + gridStep(uv);
      if (std::find(used.begin(), used.end(), label) != used.end()) break;
      nb->label = label;
      queue.push_back(nb);
      used.push_back(label);
    }
  }
  queue.clear();
}
