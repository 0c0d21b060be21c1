// SPDX-License-Identifier: Apache-2.0
// The exhaustive algorithm: what it hands the checker finder (start point rules), what it
// takes back (order, weights, plate units, client coordinates), and how the finder's
// statuses and a cancellation come out as exceptions.
#include "cal/calibftr/checker_finder_exhaustive.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "cal/calib/vertex_feature_defs.h"
#include "platform/checkerfinder/checker_finder.h"
#include "platform/checkerfinder/checker_finder_image.h"
#include "platform/foundation/attention.h"
#include "tests/support/checker_finder_run.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;

ccPelBuffer<unsigned char> board(bool fiducial = false) {
  const ccCheckerPlate plate = cfCheckerPlate(fiducial ? 12 : 9, fiducial ? 10 : 7, fiducial);
  const ccPlateCamera cam = cfPlateCameraView(cfPatternRegion(plate), 640, 480, 10, 0, 8, 0.85);
  ccPlateRenderParams p;
  p.blurSigma = 0.8;
  p.noiseSigma = 1.0;
  return cfRenderPlate(plate, cam, p).image;
}

// The finder run directly with a start point.
std::vector<cclft_crspPair> direct(const ccPelBuffer_const<unsigned char>& image, double sx,
                                   double sy) {
  const ccFinderRun r = cfRunCheckerFinder(image, false, ccVector<2>(sx, sy));
  EXPECT_EQ(r.status, CCLFT_STATUS_OK);
  return r.pairs;
}

TEST(CheckerFinderExhaustive, ConvertsEveryFinderStatus) {
  EXPECT_THROW(cfCalib2VertexFeatureConvertError(0x80000DE1u), ccPel::UnboundWindow);
  try {
    cfCalib2VertexFeatureConvertError(0x80000DE2u);
    ADD_FAILURE() << "no exception";
  } catch (const Defs::BadParam& e) {
    EXPECT_EQ(e.storedMessage(),
              L"Exhaustive mode does not work for images with nonlinear transforms");
  }
  EXPECT_THROW(cfCalib2VertexFeatureConvertError(0x80000DE3u), Defs::FiducialNotFound);
  try {
    cfCalib2VertexFeatureConvertError(0x80000DE4u);
    ADD_FAILURE() << "no exception";
  } catch (const Defs::FailedCorrespondence& e) {
    EXPECT_TRUE(e.storedMessage().empty());
  }
  EXPECT_NO_THROW(cfCalib2VertexFeatureConvertError(0x80000DE5u));
  EXPECT_NO_THROW(cfCalib2VertexFeatureConvertError(0x80000DE0u));
  EXPECT_NO_THROW(cfCalib2VertexFeatureConvertError(0u));
  // Registered when the library loaded: the foundation reaches it by facility.
  EXPECT_THROW(cfThrowExceptionOnFailure(CCLFT_STATUS_NO_BOARD), Defs::FailedCorrespondence);
  EXPECT_THROW(cfThrowExceptionOnFailure(CCLFT_STATUS_BAD_PARAMS), ccStatusError);
}

TEST(CheckerFinderExhaustive, KeepsTheFindersOrderAndWeightsInPlateUnits) {
  const ccPelBuffer<unsigned char> image = board();
  ccCalib2VertexFeatureParams params(ccVector<2>(2.0, 3.0), Defs::eNone);
  params.algorithm(Defs::eExhaustive);
  std::vector<ccCrspPairWeighted> features(3);  // replaced, not appended to
  cfCheckerFinderExhaustive(image, params, features);
  const std::vector<cclft_crspPair> ref = direct(image, 320, 240);
  ASSERT_EQ(features.size(), ref.size());
  ASSERT_GT(ref.size(), 40u);
  for (std::size_t k = 0; k < ref.size(); ++k) {
    EXPECT_EQ(features[k].first, ccVector<2>(ref[k].imageX, ref[k].imageY));
    EXPECT_EQ(features[k].second, ccVector<2>(2.0 * ref[k].gridX, 3.0 * ref[k].gridY));
    EXPECT_EQ(features[k].weight(), ref[k].weight);
  }
}

TEST(CheckerFinderExhaustive, StartPointRules) {
  const ccPelBuffer<unsigned char> full = board();
  // eNone: the centre of the window, offset included: (100 + 320, 50 + 240).
  ccPelBuffer_const<unsigned char> shifted = full;
  shifted.offset(100, 50);
  ccCalib2VertexFeatureParams none(ccVector<2>(1, 1), Defs::eNone);
  none.algorithm(Defs::eExhaustive);
  std::vector<ccCrspPairWeighted> f;
  cfCheckerFinderExhaustive(shifted, none, f);
  const std::vector<cclft_crspPair> ref = direct(shifted, 420, 290);
  ASSERT_EQ(f.size(), ref.size());
  for (std::size_t k = 0; k < f.size(); ++k)
    EXPECT_EQ(f[k].second, ccVector<2>(ref[k].gridX, ref[k].gridY));

  // eUseOrigin: the origin goes to the finder unchanged, as an image position, although the
  // image has a client transform; the first points come back in client coordinates.
  ccPelBuffer_const<unsigned char> scaled = full;
  const ccXform<2> clientFromImage(ccMatrix<2>(0.5, 0, 0, 0.5), ccVector<2>(-10, 7));
  scaled.clientFromImageXform(clientFromImage);
  ccCalib2VertexFeatureParams origin(ccVector<2>(1, 1), Defs::eUseOrigin);
  origin.algorithm(Defs::eExhaustive);
  origin.origin(ccVector<2>(200, 150));
  cfCheckerFinderExhaustive(scaled, origin, f);
  const std::vector<cclft_crspPair> atOrigin = direct(full, 200, 150);
  ASSERT_EQ(f.size(), atOrigin.size());
  for (std::size_t k = 0; k < f.size(); ++k) {
    EXPECT_EQ(f[k].second, ccVector<2>(atOrigin[k].gridX, atOrigin[k].gridY));
    const ccVector<2> client =
        clientFromImage.mapPoint(ccVector<2>(atOrigin[k].imageX, atOrigin[k].imageY));
    EXPECT_NEAR(f[k].first.x(), client.x(), 1e-12);
    EXPECT_NEAR(f[k].first.y(), client.y(), 1e-12);
  }
}

TEST(CheckerFinderExhaustive, FailuresLeaveNothingBehind) {
  ccCalib2VertexFeatureParams fid(ccVector<2>(1, 1), Defs::eUseFiducial);
  fid.algorithm(Defs::eExhaustive);
  std::vector<ccCrspPairWeighted> f(2);
  EXPECT_THROW(cfCheckerFinderExhaustive(board(false), fid, f), Defs::FiducialNotFound);
  EXPECT_TRUE(f.empty());

  ccCalib2VertexFeatureParams none(ccVector<2>(1, 1), Defs::eNone);
  none.algorithm(Defs::eExhaustive);
  ccPelBuffer<unsigned char> flat(200, 100);
  EXPECT_THROW(cfCheckerFinderExhaustive(flat, none, f), Defs::FailedCorrespondence);
  EXPECT_THROW(cfCheckerFinderExhaustive(ccPelBuffer_const<unsigned char>(), none, f),
               ccPel::UnboundWindow);
  {
    // A cancellation inside the finder reaches the caller as itself.
    ccAttention::Scope expired(std::chrono::steady_clock::duration::zero());
    EXPECT_THROW(cfCheckerFinderExhaustive(board(), none, f), ccTimeout);
  }
  EXPECT_TRUE(f.empty());
  EXPECT_EQ(cclftLiveResultSets(), 0);
}

TEST(CheckerFinderExhaustive, FiducialModeGivesPlateLabels) {
  ccCalib2VertexFeatureParams fid(ccVector<2>(1, 1), Defs::eUseFiducial);
  fid.algorithm(Defs::eExhaustive);
  std::vector<ccCrspPairWeighted> f;
  cfCheckerFinderExhaustive(board(true), fid, f);
  bool anchor = false;
  for (const auto& p : f) anchor = anchor || p.second == ccVector<2>(-2, -2);
  EXPECT_TRUE(anchor);
}

}  // namespace
