// SPDX-License-Identifier: Apache-2.0
// The corner detection stages on real photographs of checkerboards with a light margin (the
// outer light squares merge with the margin, so only vertices next to an inner light square
// can be found). Skips when the photographs are absent.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/checker_stages_driver.h"
#include "tools/imageio/image_io.h"

namespace {

struct Photo {
  const char* file;
  // Valid corners at least: both checkers needed / not, uniform lighting (the default) and not.
  int uniformBoth, uniformSingle, nonUniformBoth, nonUniformSingle;
};

const Photo kPhotos[] = {
    {"checker-visp/chessboard-01.png", 28, 52, 28, 52},
    {"checker-visp/chessboard-02.png", 28, 52, 28, 52},
    {"checker-visp/chessboard-03.png", 28, 52, 26, 50},
    {"checker-opencv/chessboard-01.jpg", 28, 54, 15, 36},
    {"checker-opencv/chessboard-02.jpg", 28, 54, 16, 42},
    {"checker-opencv/chessboard-03.jpg", 24, 50, 15, 35},
    {"checker-opencv/chessboard-04.jpg", 20, 45, 13, 33},
    {"checker-opencv/chessboard-05.jpg", 18, 36, 12, 31},
    {"checker-opencv/chessboard-06.jpg", 24, 50, 19, 41},
    {"checker-opencv/chessboard-07.jpg", 24, 55, 23, 44},
    {"checker-opencv/chessboard-08.jpg", 11, 26, 14, 33},
    {"checker-opencv/chessboard-09.jpg", 28, 60, 9, 23},
};

// Valid corners of one run of the stages; `tiles` (when given) receives the tile count.
int validCorners(const ccPelBuffer_const<unsigned char>& image, bool uniform, bool needBoth,
                 std::size_t* tiles = nullptr) {
  ccCalib2VertexFeatureParams params;
  params.uniformLighting(uniform);
  params.needBothCheckers(needBoth);
  ccCheckerStagesRun run;
  cfRunCheckerStages(image, params, run);
  int valid = 0;
  for (const cc_Corner& c : run.corners) valid += c.valid;
  if (tiles) *tiles = run.tiles.size();
  return valid;
}

// A 10 x 7 board has 9 x 6 inner vertices. With a light margin, a corner made from two tiles
// needs two inner light squares: at most the inner 7 x 4 = 28 vertices. Single-tile corners
// add the ring of inner vertices next to one inner light square (all but the grid corners
// whose inner square is dark): up to 52. Corners beyond these come from the paper's edge where
// a thin margin lets border squares come apart from it.
TEST(CheckerRealData, CornersOnPhotographedBoards) {
  const std::string dir = CCALIB_REALDATA_DIR;
  if (!std::ifstream(dir + "/checker-visp/chessboard-01.png").good())
    GTEST_SKIP() << "no real photographs";
  for (const Photo& p : kPhotos) {
    SCOPED_TRACE(p.file);
    const ccPelBuffer<unsigned char> image = cfReadImage(dir + "/" + p.file);
    EXPECT_GE(validCorners(image, true, true), p.uniformBoth);
    EXPECT_GE(validCorners(image, true, false), p.uniformSingle);
    EXPECT_GE(validCorners(image, false, true), p.nonUniformBoth);
    EXPECT_GE(validCorners(image, false, false), p.nonUniformSingle);
  }
}

// Photographs of dot plates hold no checkerboard.
TEST(CheckerRealData, DotPlatePhotographsGiveNoCorners) {
  const std::string dir = CCALIB_REALDATA_DIR;
  for (const char* f : {"dots-visp/circles-01.png", "dots-metal/metal-14_08_32.png"}) {
    if (!std::ifstream(dir + "/" + f).good()) GTEST_SKIP() << "no dot photographs";
    const ccPelBuffer<unsigned char> image = cfReadImage(dir + "/" + f);
    for (bool uniform : {true, false})
      EXPECT_EQ(validCorners(image, uniform, true), 0) << f << " " << uniform;
  }
}

// The figures of the notes: tiles and valid corners per photograph.
//   ccalib_tests --gtest_also_run_disabled_tests --gtest_filter='CheckerRealData.DISABLED_Table'
TEST(CheckerRealData, DISABLED_Table) {
  const std::string dir = CCALIB_REALDATA_DIR;
  for (const Photo& p : kPhotos) {
    const char* f = p.file;
    if (!std::ifstream(dir + "/" + f).good()) GTEST_SKIP() << "no real photographs";
    const ccPelBuffer<unsigned char> image = cfReadImage(dir + "/" + f);
    std::printf("| %s |", f);
    for (bool uniform : {true, false}) {
      for (bool needBoth : {true, false}) {
        std::size_t tiles = 0;
        const int valid = validCorners(image, uniform, needBoth, &tiles);
        std::printf(" %zu / %d |", tiles, valid);
      }
    }
    std::printf("\n");
  }
}

}  // namespace
