// SPDX-License-Identifier: Apache-2.0
// Slot rules of checker tiles and line bookkeeping of corners.
#include "cal/checkertiles/checker_types.h"

#include "platform/foundation/assert.h"

namespace {
// Used slots before the fifth entry; the vectors hold this many slots until then.
constexpr int kRegularSlots = 4;
// Edge lines a corner can collect: two sides from each of its two tiles.
constexpr std::size_t kMaxLines = 4;

// Shared slot rule of neighbours and corners; returns true when the entry was appended as
// the fifth one.
template <class T>
bool addToSlots(std::vector<T*>& slots, int& count, T* entry) {
  if (count < kRegularSlots) {
    slots[static_cast<std::size_t>(count)] = entry;
    ++count;
    return false;
  }
  if (count == kRegularSlots) {
    slots.push_back(entry);
    count = kRegularSlots + 1;
    return true;
  }
  return false;  // a sixth or later entry is ignored
}

// Removes slot `index` of the first `count` slots, shifting the later ones down.
template <class T>
void removeSlot(std::vector<T*>& slots, int& count, int index) {
  for (int k = index; k + 1 < count; ++k)
    slots[static_cast<std::size_t>(k)] = slots[static_cast<std::size_t>(k) + 1];
  slots[static_cast<std::size_t>(count) - 1] = nullptr;
  --count;
  // Back to the regular four slots once the fifth entry is gone.
  if (count <= kRegularSlots && slots.size() > static_cast<std::size_t>(kRegularSlots))
    slots.resize(kRegularSlots);
}

bool touches(const cc_Corner* corner, const cc_Checker* tile) {
  return corner != nullptr && (corner->tiles.first == tile || corner->tiles.second == tile);
}
}  // namespace

void cc_Checker::addNeighbour(cc_Checker* tile) {
  if (addToSlots(neighbours, neighbourCount, tile)) rejected = true;
}

void cc_Checker::addCorner(cc_Corner* corner) {
  addToSlots(corners, cornerCount, corner);
}

void cc_Checker::removeLink(const cc_Checker* tile) {
  int slot = -1;
  for (int k = 0; k < neighbourCount; ++k) {
    if (neighbours[static_cast<std::size_t>(k)] == tile) {
      slot = k;
      break;
    }
  }
  if (slot < 0) return;
  removeSlot(neighbours, neighbourCount, slot);
  for (int k = 0; k < cornerCount; ++k) {
    if (touches(corners[static_cast<std::size_t>(k)], tile)) {
      removeSlot(corners, cornerCount, k);
      break;
    }
  }
}

cc_Corner* cc_Checker::cornerSharedWith(const cc_Checker* tile) const {
  for (int k = 0; k < cornerCount; ++k) {
    cc_Corner* c = corners[static_cast<std::size_t>(k)];
    if (touches(c, tile)) return c;
  }
  return nullptr;
}

void cc_Corner::addLine(const ccFLine& line, bool fromFirst, bool atStart) {
  cstd_assert_(lines.size() < kMaxLines);
  cstd_assert_(lines.size() == lineAtStart.size() && lines.size() == lineFromFirst.size());
  if (lines.size() >= kMaxLines) return;  // a corner has at most four edges next to it
  lines.push_back(line);
  lineAtStart.push_back(atStart);
  lineFromFirst.push_back(fromFirst);
}
