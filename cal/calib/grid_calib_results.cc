// SPDX-License-Identifier: Apache-2.0
// Dot-grid calibration results: accessors and archive format (current version 2).
#include "cal/calib/grid_calib_results.h"

#include <cmath>
#include <string>

#include "platform/foundation/archive.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/xform_poly.h"

namespace {

constexpr unsigned char kResultsVersion = 2;

// Point list: version byte 0, a 32-bit count, then the points.
void exchangePointList(ccArchive& ar, std::vector<ccVector<2>>& points) {
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw ccArchive::UnknownVersion("ccGridCalibResults point list", version);
  constexpr std::size_t kBytesPerPoint = 16;
  std::uint32_t n = ar.exchangeCount(points.size(), kBytesPerPoint);
  if (ar.isLoading()) points.resize(n);
  for (ccVector<2>& p : points) ar || p;
}

[[noreturn]] void refuse(const std::wstring& what) {
  throw ccArchive::BadData(L"ccGridCalibResults: the archive holds " + what);
}

bool isFinite(const ccVector<2>& p) {
  return std::isfinite(p.x()) && std::isfinite(p.y());
}

bool isFinite(const ccXform<2>& x) {
  const ccMatrix<2>& m = x.matrix();
  return std::isfinite(m.element(0, 0)) && std::isfinite(m.element(0, 1)) &&
         std::isfinite(m.element(1, 0)) && std::isfinite(m.element(1, 1)) && isFinite(x.trans());
}

void checkPoints(const std::vector<ccVector<2>>& points, const wchar_t* what) {
  for (const ccVector<2>& p : points) {
    if (!isFinite(p)) refuse(std::wstring(L"a non-finite point in the ") + what);
  }
}

}  // namespace

const cc_Instantiator ccGridCalibResults::sExemplar(typeid(ccGridCalibResults),
                                                    &ccGridCalibResults::make);

ccPersistent* ccGridCalibResults::make() {
  return new ccGridCalibResults;
}

ccGridCalibResults::ccGridCalibResults()
    : params_(0.1, 0.1, true, ccCalibDefs::eGridLinear, ccCalibDefs::ePolarityAny, 0.5, 0.86) {}

ccGridCalibResults::ccGridCalibResults(const ccGridCalibResults& other) = default;

ccGridCalibResults& ccGridCalibResults::operator=(const ccGridCalibResults& other) {
  if (this != &other) {
    ccPersistent::operator=(other);
    mutating();
    copyFields(other);
  }
  return *this;
}

void ccGridCalibResults::copyFields(const ccGridCalibResults& other) {
  clientFromImage_ = other.clientFromImage_;
  clientFromImageBase_ = other.clientFromImageBase_;
  residuals_ = other.residuals_;
  maxResidual_ = other.maxResidual_;
  avgResidual_ = other.avgResidual_;
  markerPoint_ = other.markerPoint_;
  imagePoints_ = other.imagePoints_;
  edgeImage_ = other.edgeImage_;
  segmentedImage_ = other.segmentedImage_;
  params_ = other.params_;
  threshold_ = other.threshold_;
  markerFound_ = other.markerFound_;
  polarity_ = other.polarity_;
}

ccGridCalibResults::~ccGridCalibResults() = default;

std::vector<ccVector<2>> ccGridCalibResults::residuals(bool inClientUnits) const {
  if (inClientUnits) return residuals_;
  cstd_assert_(clientFromImageBase_ != nullptr);
  if (!clientFromImageBase_) return {};
  cc2XformBasePtrh imageFromClient = clientFromImageBase_->inverseBase();
  const ccVector<2> zero = imageFromClient->mapPoint(ccVector<2>());
  std::vector<ccVector<2>> out;
  out.reserve(residuals_.size());
  for (const ccVector<2>& r : residuals_) out.push_back(imageFromClient->mapPoint(r) - zero);
  return out;
}

ccVector<2> ccGridCalibResults::markerPointInImage() const {
  if (!markerFound_) throw ccCalibDefs::MarkerNotFound();
  return markerPoint_;
}

ccPelBuffer<unsigned char> ccGridCalibResults::edgeImage() const {
  return edgeImage_.degen() ? ccPelBuffer<unsigned char>() : edgeImage_.image();
}

ccPelBuffer<unsigned char> ccGridCalibResults::segmentedImage() const {
  return segmentedImage_.degen() ? ccPelBuffer<unsigned char>() : segmentedImage_.image();
}

ccXform<2> ccGridCalibResults::clientFromImageXform(ccVector<2> imagePoint,
                                                    ccVector<2> clientPoint) const {
  ccXform<2> x = clientFromImage_;
  x.trans(x.trans() + (clientPoint - x.mapPoint(imagePoint)));
  return x;
}

cc2XformBasePtrh ccGridCalibResults::clientFromImageXformBase(ccVector<2> imagePoint,
                                                              ccVector<2> clientPoint) const {
  cstd_assert_(clientFromImageBase_ != nullptr);
  if (!clientFromImageBase_) return nullptr;
  const ccVector<2> m = clientFromImageBase_->mapPoint(imagePoint);
  cc2XformLinear shift(ccXform<2>(ccMatrix<2>(), clientPoint - m));
  return shift * *clientFromImageBase_;
}

void ccGridCalibResults::dispatchSerialize(ccArchive& ar) {
  if (haveVisited(ar, this, sizeof(*this))) return;
  // A failed load leaves the object as it was, change count included. The fields are read
  // in place and put back from a copy on failure (rather than read into a temporary whose
  // parts would leave visit marks at addresses that a later object of the same pass may
  // take).
  const bool loading = ar.isLoading();
  const ccGridCalibResults before = loading ? *this : ccGridCalibResults();
  try {
    unsigned char version = kResultsVersion;
    ar || version;
    ccGridCalibResults::serialize_(ar, version);
  } catch (...) {
    if (loading) {
      ccPersistent::operator=(before);
      copyFields(before);
    }
    throw;
  }
  setVisited(ar, this, sizeof(*this));
}

void ccGridCalibResults::serialize_(ccArchive& ar, unsigned char version) {
  if (version > kResultsVersion) throw ccArchive::UnknownVersion(__FILE__, __LINE__);
  if (ar.isLoading()) mutating();
  ccPersistent::dispatchSerialize(ar);
  ar || clientFromImage_;
  exchangePointList(ar, residuals_);
  ar || maxResidual_;
  ar || avgResidual_;
  ar || markerPoint_;
  exchangePointList(ar, imagePoints_);
  if (ar.isLoading()) {
    if (!isFinite(clientFromImage_)) refuse(L"a non-finite client-from-image transform");
    checkPoints(residuals_, L"residuals");
    checkPoints(imagePoints_, L"image points");
    if (residuals_.size() != imagePoints_.size())
      refuse(L"residuals and image points of different counts");
    if (!std::isfinite(maxResidual_) || !std::isfinite(avgResidual_))
      refuse(L"a non-finite residual length");
    if (!isFinite(markerPoint_)) refuse(L"a non-finite marker point");
  }
  ar || static_cast<ccPersistent&>(edgeImage_);
  ar || static_cast<ccPersistent&>(segmentedImage_);
  ar || static_cast<ccPersistent&>(params_);
  ar || threshold_;
  ar || markerFound_;
  unsigned long polarity = static_cast<unsigned long>(polarity_);
  ar || polarity;
  if (ar.isLoading()) {
    if (polarity > ccCalibDefs::ePolarityAny) {
      refuse(L"an unknown polarity (" + std::to_wstring(polarity) + L"; 0, 1 or 2 expected)");
    }
    polarity_ = static_cast<ccCalibDefs::Polarity>(polarity);
  }

  if (version >= 2) {
    cc2XformBasePtrh handle = clientFromImageBase_;
    ar || handle;
    if (ar.isLoading()) {
      // Every accessor that maps points needs the transform; the polynomial transforms
      // refuse non-finite coefficients themselves.
      if (!handle) refuse(L"no client-from-image transform");
      if (handle->isLinear() && !isFinite(handle->linearAt(ccVector<2>()))) {
        refuse(L"a non-finite client-from-image transform");
      }
      clientFromImageBase_.reset();
      clientFromImageBase_ = handle;
    }
  } else if (version == 1) {
    // Older streams held the polynomial as two polynomial map records.
    cstd_assert_(ar.isLoading());
    cc2DPolynomialMap forward, inverse;
    ar || static_cast<ccPersistent&>(forward);
    ar || static_cast<ccPersistent&>(inverse);
    clientFromImageBase_ = std::make_shared<cc2XformPoly>(cf_2XformPolyConvert(forward, inverse));
  } else {
    cstd_assert_(ar.isLoading());
    clientFromImageBase_ = std::make_shared<cc2XformLinear>(clientFromImage_);
  }
}
