// SPDX-License-Identifier: Apache-2.0
#include "tests/support/checker_finder_run.h"

#include <cmath>

#include "platform/checkerfinder/checker_finder_image.h"

ccRenderedView cfRenderCheckerView(const ccCheckerView& v) {
  ccCheckerPlate plate = cfCheckerPlate(v.cols, v.rows, v.fiducial);
  plate.margin = v.margin;
  ccRect r = cfPatternRegion(plate);
  r = ccRect(r.x() + v.shift.x(), r.y() + v.shift.y(), r.width(), r.height());
  ccRenderedView out;
  out.camera = cfPlateCameraView(r, v.width, v.height, v.tiltX, v.tiltY, v.rotation, v.fill, v.fov);
  if (v.k1 != 0) {
    const double focal = std::hypot(v.width, v.height) * 0.5 / std::tan(v.fov * M_PI / 360.0);
    out.camera.distortion(ccVector<2>(v.width * 0.5, v.height * 0.5), focal, v.k1, 0);
  }
  ccPlateRenderParams p;
  p.width = v.width;
  p.height = v.height;
  p.blurSigma = v.blur;
  p.noiseSigma = v.noise;
  p.gradient = ccVector<2>(v.gradient, 0.5 * v.gradient);
  p.vignetting = v.vignetting;
  p.seed = v.seed;
  p.supersample = v.supersample;
  out.rendering = cfRenderPlate(plate, out.camera, p);
  for (const auto& t : out.rendering.truth.vertices) out.inView += t.inImage ? 1 : 0;
  return out;
}

cclft_calibrationCheckerFinderParams cfFinderParams(bool fiducial, const ccVector<2>& start) {
  cclft_calibrationCheckerFinderParams p;
  cclft_calibrationCheckerFinderParams_construct(&p);
  p.useFiducial = fiducial;
  p.labelMode = fiducial ? CCLFT_LABEL_FIDUCIAL : CCLFT_LABEL_START_POINT;
  p.startPoint = cmath_vect{start.x(), start.y()};
  return p;
}

std::vector<cclft_crspPair> cfFinderPairs(const cclft_calibrationCheckerFinderResultSet* rs) {
  const cstd_vector_cclft_crspPair* pairs = nullptr;
  size_t n = 0;
  const cclft_crspPair* begin = nullptr;
  cclft_calibrationCheckerFinderResultSet_getPairs(rs, &pairs);
  cstd_vector_cclft_crspPair_getSize(pairs, &n);
  cstd_vector_cclft_crspPair_getBeginConst(pairs, &begin);
  return std::vector<cclft_crspPair>(begin, begin + n);
}

ccFinderRun cfRunCheckerFinder(const ccPelBuffer_const<unsigned char>& image,
                               const cclft_calibrationCheckerFinderParams& params) {
  const cimg_image8Const view = cc_Image(image);
  cclft_calibrationCheckerFinderResultSet* rs = nullptr;
  cclft_calibrationCheckerFinderResultSet_construct(&rs);
  ccFinderRun r;
  r.status = cclft_calibrationCheckerFinder_run(&view, &params, rs);
  r.pairs = cfFinderPairs(rs);
  cclft_calibrationCheckerFinderResultSet_destruct(rs);
  return r;
}

ccFinderRun cfRunCheckerFinder(const ccPelBuffer_const<unsigned char>& image, bool fiducial,
                               const ccVector<2>& start) {
  return cfRunCheckerFinder(image, cfFinderParams(fiducial, start));
}

std::vector<ccReportedVertex> cfReportedVertices(const std::vector<cclft_crspPair>& pairs) {
  std::vector<ccReportedVertex> v;
  for (const cclft_crspPair& p : pairs)
    v.push_back({ccVector<2>(p.imageX, p.imageY), p.labelX, p.labelY});
  return v;
}
