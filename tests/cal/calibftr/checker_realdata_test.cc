// SPDX-License-Identifier: Apache-2.0
// The checkerboard vertex extraction on real photographs (9 x 6 inner vertices, light margin):
// how many vertices each photograph gives with both checkers needed and without, pinned so
// that a change in the detection shows, and a bound on the labels' extent. Skips when the
// photographs are absent.
//
// The light margin merges the board's outer light squares with the paper into one blob with
// holes, which is no tile; so with both checkers needed only the vertices between inner light
// squares are found (28 of 54 on a flat, evenly lit board). With one checker the inner light
// squares add the vertices they reach alone, and the outer light squares that do come out as
// tiles add corners on the board's outline.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cal/calibftr/vertex_feature_extract.h"
#include "tools/imageio/image_io.h"

namespace {

struct Photo {
  const char* file;
  int bothCheckers;   // vertices found with needBothCheckers true
  int singleChecker;  // and false
};

const Photo kPhotos[] = {
    {"checker-opencv/chessboard-01.jpg", 33, 59}, {"checker-opencv/chessboard-02.jpg", 37, 62},
    {"checker-opencv/chessboard-03.jpg", 26, 50}, {"checker-opencv/chessboard-04.jpg", 23, 49},
    {"checker-opencv/chessboard-05.jpg", 20, 40}, {"checker-opencv/chessboard-06.jpg", 25, 52},
    {"checker-opencv/chessboard-07.jpg", 24, 50}, {"checker-opencv/chessboard-08.jpg", 13, 29},
    {"checker-opencv/chessboard-09.jpg", 42, 68}, {"checker-visp/chessboard-01.png", 28, 52},
    {"checker-visp/chessboard-02.png", 29, 52},   {"checker-visp/chessboard-03.png", 28, 52},
};

struct Outcome {
  int vertices = 0;
  long columns = 0, rows = 0;  // extent of the labels
};

Outcome extract(const ccPelBuffer_const<unsigned char>& image, bool needBoth) {
  ccCalib2VertexFeatureParams params;
  params.needBothCheckers(needBoth);
  std::vector<ccPair<ccVector<2>>> features;
  try {
    cfCalib2VertexFeatureExtract(image, params, features);
  } catch (const ccCalib2VertexFeatureDefs::Errors&) {
    return Outcome();
  }
  Outcome o;
  o.vertices = static_cast<int>(features.size());
  if (features.empty()) return o;
  ccVector<2> lo = features.front().second, hi = lo;
  for (const auto& f : features) {
    lo = ccVector<2>(std::min(lo.x(), f.second.x()), std::min(lo.y(), f.second.y()));
    hi = ccVector<2>(std::max(hi.x(), f.second.x()), std::max(hi.y(), f.second.y()));
  }
  o.columns = iRound(hi.x() - lo.x()) + 1;
  o.rows = iRound(hi.y() - lo.y()) + 1;
  return o;
}

TEST(VertexFeatureRealData, VerticesFoundPerPhotograph) {
  const std::string root = CCALIB_REALDATA_DIR;
  if (!std::filesystem::exists(root + "/checker-opencv"))
    GTEST_SKIP() << "no real photographs at " << root;
  std::printf("%-34s %14s %14s\n", "photograph (9 x 6 vertices)", "both: n (span)",
              "single: n (span)");
  for (const Photo& p : kPhotos) {
    SCOPED_TRACE(p.file);
    const ccPelBuffer<unsigned char> image = cfReadImage(root + "/" + p.file);
    const Outcome both = extract(image, true), single = extract(image, false);
    std::printf("%-34s %4d (%2ld x %ld) %4d (%2ld x %ld)\n", p.file, both.vertices, both.columns,
                both.rows, single.vertices, single.columns, single.rows);
    EXPECT_EQ(both.vertices, p.bothCheckers);
    EXPECT_EQ(single.vertices, p.singleChecker);
    // Both checkers: inner vertices only, so the labels span the 9 x 6 grid at most (either
    // way round).
    EXPECT_LE(std::min(both.columns, both.rows), 6);
    EXPECT_LE(std::max(both.columns, both.rows), 9);
  }
}

}  // namespace
