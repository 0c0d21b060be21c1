// SPDX-License-Identifier: Apache-2.0
// An armed deadline or a raised cancel token stops every long-running vision tool within a
// bounded time on sensor-sized images of noise and of a dot plate.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "platform/foundation/attention.h"
#include "platform/vision/affine_sampling.h"
#include "platform/vision/blob.h"
#include "platform/vision/edge.h"
#include "platform/vision/gauss_sample.h"
#include "platform/vision/median.h"
#include "platform/vision/morphology.h"
#include "platform/vision/watershed.h"
#include "tests/platform/vision/vision_test_images.h"
#include "tools/plate/plate_render.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr long kWidth = 2592;  // a common sensor size, pixels
constexpr long kHeight = 1944;
constexpr milliseconds kDeadline(2);
// Time allowed between the deadline and the exception. The checks come every row (well below
// a millisecond here); the rest is room for a loaded machine and sanitizer builds, where
// faulting in the tools' own working memory before their first row can take tens of
// milliseconds.
constexpr milliseconds kMaxOverrun(300);

const ccPelBuffer<unsigned char>& noise() {
  static const ccPelBuffer<unsigned char> img = [] {
    std::mt19937 rng(17);
    return cfRandomImage(ccPelRect(0, 0, kWidth, kHeight), rng);
  }();
  return img;
}

// Light dots on a dark plate filling the image, blurred and noisy like a photograph.
const ccPelBuffer<unsigned char>& plate() {
  static const ccPelBuffer<unsigned char> img = [] {
    const ccDotPlate dots = cfDotPlate(40, 30, true);
    ccPlateRenderParams p;
    p.width = kWidth;
    p.height = kHeight;
    p.supersample = 1;
    p.invert = true;
    p.blurSigma = 1.0;
    p.noiseSigma = 2.0;
    return cfRenderPlate(
               dots,
               cfPlateCameraAffine(cfPatternRegion(dots), kWidth, kHeight, 10.0, 0.0, 4.0, 0.95), p)
        .image;
  }();
  return img;
}

// Runs `call` under the deadline; it must throw ccTimeout soon after the deadline passes. The
// images are made before any deadline is armed.
template <class Call>
::testing::AssertionResult stopsSoonAfterDeadline(Call call) {
  const Clock::time_point start = Clock::now();
  try {
    ccAttention::Scope scope(kDeadline);
    call();
  } catch (const ccTimeout&) {
    const auto overrun = std::chrono::duration_cast<milliseconds>(Clock::now() - start - kDeadline);
    if (overrun <= kMaxOverrun) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "stopped " << overrun.count() << " ms after the deadline";
  }
  return ::testing::AssertionFailure() << "finished without ccTimeout";
}

ccBlobParams dotFinderParams(bool prefilter) {
  ccBlobParams p;
  p.setSegmentationSoftThresh(110, 130, 6, false);
  p.keepRLE(true);
  if (prefilter) p.prefilterMinArea(25.2);
  return p;
}

TEST(Cancellation, BlobAnalysisStopsAndLeavesEmptyResults) {
  for (bool prefilter : {false, true}) {
    SCOPED_TRACE(prefilter ? "pre-filter" : "no pre-filter");
    for (const ccPelBuffer<unsigned char>* img : {&noise(), &plate()}) {
      ccBlobResults res;
      cfBlobAnalysis(ccPelBuffer<unsigned char>(8, 8), dotFinderParams(prefilter), res);
      EXPECT_TRUE(
          stopsSoonAfterDeadline([&] { cfBlobAnalysis(*img, dotFinderParams(prefilter), res); }));
      EXPECT_EQ(res.connectedBlobs().numBlobs(), 0u);
      EXPECT_TRUE(res.rle().degen());
    }
  }
  ccBlobParams hard;
  hard.setSegmentationHardThresh(128, false);
  hard.connectivityCleanup(ccBlobParams::eCleanupFill);
  hard.connectivityMinPels(4);
  hard.morph(eBlobMorphOpen);
  ccBlobResults res;
  EXPECT_TRUE(stopsSoonAfterDeadline([&] { cfBlobAnalysis(noise(), hard, res); }));
}

TEST(Cancellation, TokenRaisedFromAnotherThreadStopsBlobAnalysis) {
  const ccPelBuffer<unsigned char>& img = noise();
  ccAttention::CancelToken token = ccAttention::makeToken();
  std::thread canceller([token] {
    std::this_thread::sleep_for(kDeadline);
    token->store(true);
  });
  const Clock::time_point start = Clock::now();
  bool cancelled = false;
  try {
    ccAttention::Scope scope(token);
    ccBlobResults res;
    cfBlobAnalysis(img, dotFinderParams(false), res);
  } catch (const ccTimeout&) {
    cancelled = true;
  }
  canceller.join();
  EXPECT_TRUE(cancelled);
  EXPECT_LE(std::chrono::duration_cast<milliseconds>(Clock::now() - start),
            kDeadline + kMaxOverrun);
}

TEST(Cancellation, EdgesAndPeaksStop) {
  const ccEdgeletParams params(1.5, 4.0, ccEdgeletParams::ePeakEdgelets);
  for (const ccPelBuffer<unsigned char>* img : {&noise(), &plate()}) {
    ccPelBuffer<unsigned char> magnitude(img->window()), angle(img->window());
    EXPECT_TRUE(stopsSoonAfterDeadline([&] { cfEdgeDetect(*img, params, magnitude, angle); }));
    ccEdgeletSet edges;
    EXPECT_TRUE(stopsSoonAfterDeadline([&] { cfEdgeDetect(*img, params, edges); }));
  }
  // Peaks of a full magnitude image, computed without a deadline.
  ccPelBuffer<unsigned char> magnitude, angle, peaks(noise().window());
  cfEdgeDetect(noise(), params, magnitude, angle);
  long count = 0;
  EXPECT_TRUE(stopsSoonAfterDeadline([&] { cfTruePeak(magnitude, angle, 4, peaks, count); }));
}

TEST(Cancellation, FiltersStop) {
  const ccPelBuffer<unsigned char>& noisy = noise();
  const ccPelBuffer<unsigned char>& dots = plate();
  ccPelBuffer<unsigned char> out;
  EXPECT_TRUE(stopsSoonAfterDeadline([&] {
    cfGaussSample(noisy, ccGaussSampleParams(1, ccGaussSampleParams::kMaxHalfWidth, 20.0, true),
                  out);
  }));
  EXPECT_FALSE(out.isBound());  // left as it was

  const ccPelMedianParams median(ccPair<long>(41, 41));
  EXPECT_TRUE(stopsSoonAfterDeadline([&] { cfPelMedian(noisy, median, out); }));
  EXPECT_TRUE(stopsSoonAfterDeadline([&] { cfPelMedian(noisy, dots, median, out); }));
  EXPECT_FALSE(out.isBound());

  const ccGMorphElement chain(
      std::vector<ccGMorph3x3Element>(8, ccGMorph3x3Element(ccGMorphDefs::eSquare)));
  EXPECT_TRUE(stopsSoonAfterDeadline([&] { chain.erode(dots, out); }));
  EXPECT_FALSE(out.isBound());
}

TEST(Cancellation, WatershedStops) {
  // Edges wherever the noise is dark: tens of thousands of small basins.
  const ccPelBuffer<unsigned char>& edgeMap = noise();
  EXPECT_TRUE(
      stopsSoonAfterDeadline([&] { cfWatershedTransform(edgeMap, ccWatershedRunParams()); }));
}

TEST(Cancellation, AffineSamplingStops) {
  const ccAffineRectangle rect(ccVector<2>(kWidth / 2.0, kHeight / 2.0), 1500.0, 1500.0,
                               ccRadian(0.3), ccRadian(0.0));
  const ccAffineSamplingParams params(rect, 4000, 4000, ccAffineSamplingParams::eLanczos3);
  const ccPelBuffer<unsigned char>& dots = plate();
  EXPECT_TRUE(stopsSoonAfterDeadline([&] { cfAffineSampleProfile(dots, params); }));
}

}  // namespace
