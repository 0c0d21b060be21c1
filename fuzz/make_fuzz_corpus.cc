// SPDX-License-Identifier: Apache-2.0
// Writes the seed corpora of the fuzz targets into DIR/archive, DIR/image and
// DIR/calibration_run: valid inputs of every kind each target reads, from which the fuzzer
// mutates. Usage: make_fuzz_corpus DIR
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cal/calib/calibration_run.h"
#include "cal/calib/vertex_feature_defs.h"
#include "platform/foundation/archive.h"
#include "platform/foundation/xform_poly.h"
#include "tools/imageio/image_io.h"
#include "tools/plate/plate_render.h"

namespace {

void write(const std::string& dir, const std::string& name, unsigned char mode,
           const std::vector<unsigned char>& body) {
  std::ofstream out(dir + "/" + name, std::ios::binary);
  out.put(static_cast<char>(mode));
  out.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
}

std::vector<unsigned char> inPlace(ccPersistent& object) {
  std::vector<unsigned char> bytes;
  ccArchive out(bytes, ccArchive::eStoring);
  out || object;
  return bytes;
}

std::vector<unsigned char> byPointer(ccPersistent* object) {
  std::vector<unsigned char> bytes;
  ccArchive out(bytes, ccArchive::eStoring);
  out.exchangePointer(object);
  return bytes;
}

// A small rendered dot plate.
ccPelBuffer<unsigned char> plate(long width, long height, long cols, long rows, bool marker,
                                 double tilt, bool invert) {
  const ccDotPlate dots = cfDotPlate(cols, rows, marker);
  const ccPlateCamera camera =
      cfPlateCameraView(cfPatternRegion(dots), width, height, tilt, -tilt / 2, 4.0, 0.9);
  ccPlateRenderParams p;
  p.width = width;
  p.height = height;
  p.blurSigma = 0.7;
  p.invert = invert;
  return cfRenderPlate(dots, camera, p).image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_corpus DIR\n");
    return 2;
  }
  const std::string root = argv[1];
  const std::string archive = root + "/archive", image = root + "/image",
                    run = root + "/calibration_run";
  for (const std::string& d : {root, archive, image, run}) mkdir(d.c_str(), 0755);

  // Archives: the mode byte picks params in place (0), results in place (1), a raw
  // pointer (2) or a shared one (3).
  ccGridCalibParams params(0.5, 0.25, false, ccCalibDefs::eGridPolynomialOrder5,
                           ccCalibDefs::ePolarityInverted);
  write(archive, "params", 0, inPlace(params));
  const ccPelBuffer<unsigned char> marked = plate(96, 80, 6, 5, true, 8.0, false);
  for (ccCalibDefs::CalibType type : {ccCalibDefs::eGridLinear, ccCalibDefs::eGridPolynomialOrder3,
                                      ccCalibDefs::eGridPolynomialOrder5}) {
    ccGridCalibResults results;
    try {
      cfCalibrationRun(marked, ccGridCalibParams(1.0, 1.0, true, type), results);
    } catch (const ccException& e) {
      std::fprintf(stderr, "seed plate not calibrated: %s\n", e.messageUtf8().c_str());
    }
    const std::string name = "results" + std::to_string(static_cast<int>(type));
    write(archive, name, 1, inPlace(results));
    write(archive, name + "-pointer", 2, byPointer(&results));
  }
  std::vector<std::unique_ptr<ccPersistent>> objects;
  objects.emplace_back(new ccCalibDefs::GridAngleTooLarge);
  objects.emplace_back(new ccCalibDefs::InvalidMap);
  objects.emplace_back(new ccCalibDefs::MarkerNotFound);
  objects.emplace_back(new ccCalibDefs::TooFewDotsFound);
  objects.emplace_back(new ccCalibDefs::BadCorrespondence);
  objects.emplace_back(new ccCalibDefs::BadParam(L"bad parameter"));
  objects.emplace_back(new ccCalib2VertexFeatureDefs::BadParam(L"bad parameter"));
  objects.emplace_back(new ccCalib2VertexFeatureDefs::FailedCorrespondence);
  objects.emplace_back(new ccCalib2VertexFeatureDefs::FiducialNotFound);
  objects.emplace_back(new ccGridCalibParams(params));
  objects.emplace_back(
      new cc2XformLinear(ccXform<2>(ccMatrix<2>(0.5, 0.1, -0.1, 0.5), ccVector<2>(1, 2))));
  for (std::size_t k = 0; k < objects.size(); ++k) {
    write(archive, "pointer" + std::to_string(k), 2, byPointer(objects[k].get()));
    write(archive, "shared" + std::to_string(k), 3, byPointer(objects[k].get()));
  }

  // Images: the mode byte reads from memory (1) or through a file (0).
  ccPelBuffer<unsigned char> small = plate(24, 20, 4, 3, false, 0.0, false);
  for (unsigned char mode : {0, 1}) {
    const std::string m = std::to_string(mode);
    write(image, "grey-png" + m, mode, cfEncodeImage(small, eImagePng));
    write(image, "jpeg" + m, mode, cfEncodeImage(small, eImageJpeg));
    write(image, "pgm" + m, mode, cfEncodeImage(small, eImagePgm));
  }
  ccRgbImage rgb(12, 9);
  for (long y = 0; y < 9; ++y)
    for (long x = 0; x < 12; ++x) rgb.pixel(x, y)[x % 3] = static_cast<unsigned char>(20 * x + y);
  write(image, "rgb-png", 1, cfEncodeRgbPng(rgb));
  const std::string plain = "P2\n# plain\n3 2\n65535\n0 1000 65535\n7 8 9\n";
  write(image, "plain-pgm", 1, std::vector<unsigned char>(plain.begin(), plain.end()));

  // Calibration runs: width, height, flags, pitch, ratios, then pixels.
  struct RunSeed {
    const char* name;
    ccPelBuffer<unsigned char> pixels;
    unsigned char flags;
  };
  const RunSeed seeds[] = {
      {"marker-linear", marked, 0x01 | (2 << 4)},
      {"marker-poly3", marked, 0x01 | (1 << 2) | (2 << 4)},
      {"tilted-poly5-ignore-angle", plate(96, 96, 6, 6, false, 20.0, false),
       0x02 | (2 << 2) | (2 << 4)},
      {"light-dots-right-handed", plate(64, 48, 4, 3, false, 5.0, true), 1 << 4},
  };
  for (const RunSeed& s : seeds) {
    try {
      ccGridCalibResults results;
      cfCalibrationRun(s.pixels, ccGridCalibParams(1.0, 1.0), results);
    } catch (const ccException& e) {
      std::fprintf(stderr, "seed %s not calibrated: %s\n", s.name, e.persistentTypeName().c_str());
    }
    std::vector<unsigned char> bytes{static_cast<unsigned char>(s.pixels.width() - 1),
                                     static_cast<unsigned char>(s.pixels.height() - 1),
                                     s.flags,
                                     16,
                                     128,
                                     219};
    for (long y = 0; y < s.pixels.height(); ++y)
      bytes.insert(bytes.end(), s.pixels.row(y), s.pixels.row(y) + s.pixels.width());
    std::ofstream out(run + "/" + s.name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  return 0;
}
