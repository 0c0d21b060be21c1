// SPDX-License-Identifier: Apache-2.0
// Deadlines and cancel requests stop the dot-grid calibration run on a full-size camera
// image: the run throws ccTimeout, and it does so soon after the request.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "cal/calib/calibration_run.h"
#include "platform/foundation/attention.h"
#include "tools/plate/plate_render.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// A 5-megapixel photograph of a 23 x 17 dot plate with its marker, slightly tilted.
const ccPelBuffer<unsigned char>& cameraImage() {
  static const ccPelBuffer<unsigned char> image = [] {
    const ccDotPlate plate = cfDotPlate(23, 17, true);
    const ccPlateCamera camera =
        cfPlateCameraView(cfPatternRegion(plate), 2592, 1944, 8.0, -5.0, 3.0, 0.9);
    ccPlateRenderParams p;
    p.width = 2592;
    p.height = 1944;
    p.supersample = 2;
    p.blurSigma = 1.0;
    p.noiseSigma = 3.0;
    return cfRenderPlate(plate, camera, p).image;
  }();
  return image;
}

const ccGridCalibParams kParams(1.0, 1.0, true, ccCalibDefs::eGridPolynomialOrder3);

// Seconds one unarmed run takes (the fastest of two).
double runSeconds() {
  double best = 1e9;
  for (int k = 0; k < 2; ++k) {
    ccGridCalibResults r;
    const Clock::time_point start = Clock::now();
    cfCalibrationRun(cameraImage(), kParams, r);
    best = std::min(best, secondsSince(start));
    EXPECT_EQ(r.imagePoints().size(), 23u * 17u);
  }
  return best;
}

// The run checks between its stages; until the vision tools check inside their own loops,
// the longest stage (blob analysis of the whole image) bounds how late it stops. The bound
// is generous because the test machine is shared and loaded.
double overrunBound(double runTime) {
  return 0.25 + 1.5 * runTime;
}

TEST(CalibrationCancel, DeadlinesAnywhereInTheRunStopItWithTimeout) {
  const double full = runSeconds();
  double worst = 0.0;
  for (double share : {0.0, 0.05, 0.2, 0.4, 0.6, 0.8}) {
    SCOPED_TRACE(share);
    const auto limit =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(share * full));
    ccGridCalibResults r;
    const Clock::time_point start = Clock::now();
    bool timedOut = false;
    try {
      ccAttention::Scope scope(limit);
      cfCalibrationRun(cameraImage(), kParams, r);
    } catch (const ccTimeout&) {
      timedOut = true;
    }
    const double overrun = secondsSince(start) - share * full;
    // A deadline late in the run may fall after its last check (the remaining steps take
    // microseconds), or after its end when this run is faster than the measured ones.
    EXPECT_TRUE(timedOut || share > 0.5);
    EXPECT_LT(overrun, overrunBound(full));
    worst = std::max(worst, overrun);
  }
  // Figures for the record (--gtest_output=json shows them).
  RecordProperty("run_ms", static_cast<int>(1e3 * full));
  RecordProperty("worst_overrun_ms", static_cast<int>(1e3 * worst));
  // The deadline belongs to the scope: the next run on the same thread completes.
  ccGridCalibResults r;
  cfCalibrationRun(cameraImage(), kParams, r);
  EXPECT_EQ(r.imagePoints().size(), 23u * 17u);
}

TEST(CalibrationCancel, CancelFromAnotherThreadStopsTheRun) {
  const double full = runSeconds();
  const ccAttention::CancelToken token = ccAttention::makeToken();
  std::atomic<bool> timedOut{false};
  std::atomic<bool> started{false};
  Clock::time_point finished;
  std::thread worker([&] {
    ccAttention::Scope scope(token);
    ccGridCalibResults r;
    started = true;
    try {
      cfCalibrationRun(cameraImage(), kParams, r);
    } catch (const ccTimeout&) {
      timedOut = true;
    }
    finished = Clock::now();
  });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::duration<double>(0.4 * full));
  const Clock::time_point raised = Clock::now();
  token->store(true);
  worker.join();
  const double latency = std::chrono::duration<double>(finished - raised).count();
  RecordProperty("cancel_latency_ms", static_cast<int>(1e3 * latency));
  EXPECT_TRUE(timedOut);
  EXPECT_LT(latency, overrunBound(full));
}

}  // namespace
