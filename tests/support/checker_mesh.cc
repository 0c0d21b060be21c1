// SPDX-License-Identifier: Apache-2.0
#include "tests/support/checker_mesh.h"

ccTestMesh::ccTestMesh(long iFirst, long iLast, long jFirst, long jLast,
                       const ccXform<2>& imageFromGrid)
    : i0(iFirst), i1(iLast), j0(jFirst), j1(jLast) {
  corners.reserve(static_cast<std::size_t>((i1 - i0 + 1) * (j1 - j0 + 1)) + 16);
  for (long j = j0; j <= j1; ++j)
    for (long i = i0; i <= i1; ++i) {
      corners.emplace_back();
      corners.back().valid = true;
      corners.back().error = 0.0;
      corners.back().position =
          imageFromGrid.mapPoint(ccVector<2>(static_cast<double>(i), static_cast<double>(j)));
    }
  const long steps[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  for (long j = j0; j <= j1; ++j)
    for (long i = i0; i <= i1; ++i)
      for (const auto& s : steps) {
        const long ni = i + s[0], nj = j + s[1];
        if (ni >= i0 && ni <= i1 && nj >= j0 && nj <= j1) at(i, j).link(&at(ni, nj));
      }
}

std::size_t ccTestMesh::index(long i, long j) const {
  return static_cast<std::size_t>((j - j0) * (i1 - i0 + 1) + (i - i0));
}

cc_Corner& ccTestMesh::at(long i, long j) {
  return corners[index(i, j)];
}
