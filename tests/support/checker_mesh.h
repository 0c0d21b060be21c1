// SPDX-License-Identifier: Apache-2.0
// Hand-made checker corner meshes for testing the labelling stages without images: a grid
// of valid corners, each linked to its four grid neighbours, placed by an affine map.
#ifndef TESTS_SUPPORT_CHECKER_MESH_H
#define TESTS_SUPPORT_CHECKER_MESH_H

#include <vector>

#include "cal/checkertiles/checker_types.h"
#include "platform/foundation/xform.h"

// Corners at grid points (i, j), i in [i0, i1], j in [j0, j1], at imageFromGrid * (i, j),
// valid, each linked to its existing neighbours in the order +x, +y, -x, -y. The list has
// spare room, so the corners never move.
struct ccTestMesh {
  long i0, i1, j0, j1;
  std::vector<cc_Corner> corners;

  ccTestMesh(long iFirst, long iLast, long jFirst, long jLast, const ccXform<2>& imageFromGrid);
  // The corner of grid point (i, j).
  cc_Corner& at(long i, long j);
  // Its index in the list.
  std::size_t index(long i, long j) const;
};

#endif  // TESTS_SUPPORT_CHECKER_MESH_H
