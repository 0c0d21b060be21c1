// SPDX-License-Identifier: Apache-2.0
// The exhaustive algorithm: parameters to the checker finder's record, its pairs back as
// weighted pairs in client and plate coordinates, its statuses to this module's exceptions.
#include "cal/calibftr/checker_finder_exhaustive.h"

#include <exception>

#include "cal/calib/vertex_feature_defs.h"
#include "platform/checkerfinder/checker_finder.h"
#include "platform/checkerfinder/checker_finder_image.h"
#include "platform/foundation/exception.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;

// Facility-local codes of the statuses the converter translates.
constexpr std::uint32_t kFailureBase = 0x80000000u + kCheckerFinderFacility * 32u;
static_assert(kFailureBase + 1 == CCLFT_STATUS_UNBOUND_IMAGE, "finder status layout");
static_assert(kFailureBase + 3 == CCLFT_STATUS_FIDUCIAL_NOT_FOUND, "finder status layout");
static_assert(kFailureBase + 4 == CCLFT_STATUS_NO_BOARD, "finder status layout");

// Registered when the library loads.
const bool kConverterRegistered =
    (cfRegisterExceptionConverter(kCheckerFinderFacility, &cfCalib2VertexFeatureConvertError),
     true);

// Owns the finder's two records for one call.
class FinderRecords {
 public:
  FinderRecords() {
    cfThrowExceptionOnFailure(cclft_calibrationCheckerFinderParams_construct(&params_));
    paramsMade_ = true;
    cfThrowExceptionOnFailure(cclft_calibrationCheckerFinderResultSet_construct(&results_));
  }
  ~FinderRecords() {
    cclft_calibrationCheckerFinderResultSet_destruct(results_);
    if (paramsMade_) cclft_calibrationCheckerFinderParams_destruct(&params_);
  }
  FinderRecords(const FinderRecords&) = delete;
  FinderRecords& operator=(const FinderRecords&) = delete;

  cclft_calibrationCheckerFinderParams& params() { return params_; }
  cclft_calibrationCheckerFinderResultSet* results() { return results_; }

 private:
  cclft_calibrationCheckerFinderParams params_{};
  bool paramsMade_ = false;
  cclft_calibrationCheckerFinderResultSet* results_ = nullptr;
};

// Rethrows an exception the finder parked (a cancellation), else throws the status.
void throwFinderFailure(cclft_status status) {
  if (std::exception_ptr e = cclftTakePendingException()) std::rethrow_exception(e);
  cfThrowExceptionOnFailure(status);
}

cmath_vect toCmath(const ccVector<2>& v) {
  return cmath_vect{v.x(), v.y()};
}

}  // namespace

void cfCalib2VertexFeatureConvertError(std::uint32_t status) {
  switch (status) {
    case kFailureBase + 1:
      throw ccPel::UnboundWindow();
    case kFailureBase + 2:
      throw Defs::BadParam(L"Exhaustive mode does not work for images with nonlinear transforms");
    case kFailureBase + 3:
      throw Defs::FiducialNotFound();
    case kFailureBase + 4:
      // Empty message on purpose: the finder says nothing more than "no board".
      throw Defs::FailedCorrespondence(L"");
    default:
      return;
  }
}

void cfCheckerFinderExhaustive(const ccPelBuffer_const<unsigned char>& srcImg,
                               const ccCalib2VertexFeatureParams& params,
                               std::vector<ccCrspPairWeighted>& features) {
  (void)kConverterRegistered;
  features.clear();
  FinderRecords records;

  ccPelBuffer_const<unsigned char> image(srcImg);
  image.clientFromImageXform(ccXform<2>());
  const cimg_image8Const view = cc_Image(image);

  const bool fiducial = params.labelMode() == Defs::eUseFiducial;
  cclft_calibrationCheckerFinderParams& p = records.params();
  p.useFiducial = fiducial ? 1 : 0;
  p.precisionThreshold = params.precisionThreshold();
  p.startPoint = toCmath(params.origin());
  if (params.labelMode() == Defs::eNone) {
    p.startPoint = cmath_vect{srcImg.offset().x() + 0.5 * srcImg.width(),
                              srcImg.offset().y() + 0.5 * srcImg.height()};
  }
  p.labelMode = fiducial ? CCLFT_LABEL_FIDUCIAL : CCLFT_LABEL_START_POINT;

  const cclft_status status = cclft_calibrationCheckerFinder_run(&view, &p, records.results());
  if (status != CCLFT_STATUS_OK) throwFinderFailure(status);

  const cstd_vector_cclft_crspPair* pairs = nullptr;
  std::size_t count = 0;
  const cclft_crspPair* begin = nullptr;
  cfThrowExceptionOnFailure(
      cclft_calibrationCheckerFinderResultSet_getPairs(records.results(), &pairs));
  cfThrowExceptionOnFailure(cstd_vector_cclft_crspPair_getSize(pairs, &count));
  cfThrowExceptionOnFailure(cstd_vector_cclft_crspPair_getBeginConst(pairs, &begin));

  const ccVector<2>& pitch = params.physicalGridPitch();
  std::vector<ccCrspPairWeighted> out;
  out.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    const cclft_crspPair& r = begin[k];
    out.emplace_back(ccVector<2>(r.imageX, r.imageY),
                     ccVector<2>(r.gridX * pitch.x(), r.gridY * pitch.y()), r.weight);
  }
  const cc2XformBasePtrh clientFromImage = srcImg.clientFromImageXformBase();
  for (ccCrspPairWeighted& f : out) f.first = clientFromImage->mapPoint(f.first);
  features.swap(out);
}
