// SPDX-License-Identifier: Apache-2.0
// The dot-grid calibration called from several threads at once gives, for every image,
// exactly the results of a serial run: calls share no state (run it under the tsan preset
// to have data races reported as well).
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "cal/calib/calibration_run.h"
#include "platform/foundation/archive.h"
#include "tools/plate/plate_render.h"

namespace {

struct Job {
  ccPelBuffer<unsigned char> image;
  ccGridCalibParams params;
};

std::vector<Job> jobs() {
  struct Spec {
    long cols, rows;
    bool marker, invert;
    double tiltX, rotation;
    ccCalibDefs::CalibType type;
  };
  const Spec specs[] = {
      {17, 13, true, false, 0.0, 2.0, ccCalibDefs::eGridLinear},
      {15, 11, false, true, 20.0, -4.0, ccCalibDefs::eGridPolynomialOrder3},
      {19, 14, true, false, 12.0, 30.0, ccCalibDefs::eGridPolynomialOrder5},
      {13, 10, false, false, -15.0, 0.5, ccCalibDefs::eGridLinear},
  };
  std::vector<Job> out;
  for (const Spec& s : specs) {
    const ccDotPlate plate = cfDotPlate(s.cols, s.rows, s.marker);
    ccPlateRenderParams p;
    p.width = 480;
    p.height = 360;
    p.supersample = 2;
    p.blurSigma = 0.8;
    p.noiseSigma = 2.0;
    p.invert = s.invert;
    const ccPlateCamera camera =
        cfPlateCameraView(cfPatternRegion(plate), p.width, p.height, s.tiltX, 0.0, s.rotation, 0.9);
    ccGridCalibParams params(1.0, 1.0, true, s.type);
    params.ignoreGridAngle(s.rotation > 20.0);
    out.push_back(Job{cfRenderPlate(plate, camera, p).image, params});
  }
  return out;
}

// Everything a run produced, as the bytes of its archive.
std::vector<unsigned char> outcome(const Job& job) {
  ccGridCalibResults results;
  cfCalibrationRun(job.image, job.params, results);
  std::vector<unsigned char> bytes;
  ccArchive out(bytes, ccArchive::eStoring);
  out || static_cast<ccPersistent&>(results);
  return bytes;
}

TEST(CalibrationThreads, EightThreadsGiveTheSerialResults) {
  const std::vector<Job> all = jobs();
  std::vector<std::vector<unsigned char>> serial;
  for (const Job& job : all) serial.push_back(outcome(job));
  ccGridCalibResults check;
  ccArchive in(serial[0], ccArchive::eLoading);
  in || static_cast<ccPersistent&>(check);
  ASSERT_EQ(check.imagePoints().size(), 17u * 13u);

  constexpr int kThreads = 8;
  constexpr int kRounds = 2;
  // mismatches[t][j]: runs of job j on thread t whose results differ from the serial ones.
  std::vector<std::vector<int>> mismatches(kThreads, std::vector<int>(all.size(), 0));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        for (std::size_t k = 0; k < all.size(); ++k) {
          const std::size_t j =
              (k + static_cast<std::size_t>(t)) % all.size();  // each thread its own order
          if (outcome(all[j]) != serial[j]) ++mismatches[t][j];
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    for (std::size_t j = 0; j < all.size(); ++j)
      EXPECT_EQ(mismatches[t][j], 0) << "thread " << t << ", image " << j;
  }
}

}  // namespace
