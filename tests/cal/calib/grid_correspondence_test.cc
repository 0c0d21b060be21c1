// SPDX-License-Identifier: Apache-2.0
#include "cal/calib/grid_correspondence.h"

#include <gtest/gtest.h>

#include <cmath>

#include "cal/calib/calib_defs.h"

namespace {

std::vector<ccVector<2>> grid(int nx, int ny, double pitch, double angleDeg, ccVector<2> centre) {
  const double a = angleDeg * ccPi / 180.0;
  std::vector<ccVector<2>> dots;
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) {
      double gx = (i - (nx - 1) / 2.0) * pitch, gy = (j - (ny - 1) / 2.0) * pitch;
      dots.emplace_back(centre.x() + gx * std::cos(a) - gy * std::sin(a),
                        centre.y() + gx * std::sin(a) + gy * std::cos(a));
    }
  return dots;
}

ccVector<2> clientOf(const std::vector<ccVector<2>>& image, const std::vector<ccVector<2>>& client,
                     ccVector<2> p) {
  for (std::size_t k = 0; k < image.size(); ++k)
    if ((image[k] - p).length() < 1e-9) return client[k];
  ADD_FAILURE() << "point not found";
  return {};
}

TEST(GridCorrespondence, LabelsAxisAlignedGridForBothHandedness) {
  auto dots = grid(3, 3, 10.0, 0.0, ccVector<2>(50, 50));
  std::vector<ccVector<2>> img, cli;
  cfCalibGridCorrespondence(2.0, 2.0, true, dots, img, cli);
  ASSERT_EQ(cli.size(), 9u);
  EXPECT_EQ(img, dots);
  EXPECT_EQ(clientOf(img, cli, {50, 50}), ccVector<2>(0, 0));
  EXPECT_EQ(clientOf(img, cli, {60, 60}), ccVector<2>(2, 2));
  cfCalibGridCorrespondence(2.0, 2.0, false, dots, img, cli);
  EXPECT_EQ(clientOf(img, cli, {60, 60}), ccVector<2>(2, -2));
  EXPECT_EQ(clientOf(img, cli, {40, 50}), ccVector<2>(-2, 0));
}

TEST(GridCorrespondence, RotatedGridFollowsRotatedAxes) {
  auto dots = grid(7, 7, 20.0, 30.0, ccVector<2>(200, 200));
  std::vector<ccVector<2>> img, cli;
  cfCalibGridCorrespondence(1.0, 1.0, true, dots, img, cli);
  for (std::size_t k = 0; k < dots.size(); ++k) {
    int i = static_cast<int>(k % 7) - 3, j = static_cast<int>(k / 7) - 3;
    EXPECT_EQ(cli[k], ccVector<2>(i, j)) << "dot " << k;
  }
}

TEST(GridCorrespondence, FailuresMatchTheirConditions) {
  std::vector<ccVector<2>> img{{1, 1}}, cli{{1, 1}};
  EXPECT_THROW(cfCalibGridCorrespondence(0.0, 1.0, true, grid(3, 3, 10, 0, {50, 50}), img, cli),
               ccCalibDefs::BadParam);
  EXPECT_EQ(cli.size(), 1u);  // untouched on a bad pitch
  EXPECT_THROW(cfCalibGridCorrespondence(1.0, 1.0, true, {{0, 0}, {10, 0}}, img, cli),
               ccCalibDefs::TooFewDotsFound);
  EXPECT_TRUE(img.empty() && cli.empty());
  // 45 degrees: no dot lies within 35 degrees of x, and the diagonal ring crowds the origin.
  EXPECT_THROW(cfCalibGridCorrespondence(1.0, 1.0, true, grid(5, 5, 10, 45, {50, 50}), img, cli),
               ccCalibDefs::GridAngleTooLarge);
  // Dots in one row: no Y neighbour; few of them fail the basis, many crowd the origin.
  std::vector<ccVector<2>> row4{{0, 0}, {10, 0}, {20, 0}, {30, 0}}, row5 = row4;
  row5.push_back({40, 0});
  EXPECT_THROW(cfCalibGridCorrespondence(1.0, 1.0, true, row4, img, cli),
               ccCalibDefs::BadCorrespondence);
  EXPECT_THROW(cfCalibGridCorrespondence(1.0, 1.0, true, row5, img, cli),
               ccCalibDefs::GridAngleTooLarge);
}

TEST(GridCorrespondence, LShapeOfThreeDots) {
  std::vector<ccVector<2>> dots{{10, 10}, {20, 10}, {10, 20}}, img, cli;
  cfCalibGridCorrespondence(3.0, 5.0, false, dots, img, cli);
  // The centroid is nearest the corner dot (index 0).
  EXPECT_EQ(cli[0], ccVector<2>(0, 0));
  EXPECT_EQ(cli[1], ccVector<2>(3, 0));
  EXPECT_EQ(cli[2], ccVector<2>(0, -5));
}

}  // namespace
