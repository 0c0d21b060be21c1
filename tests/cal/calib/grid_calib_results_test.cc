// SPDX-License-Identifier: Apache-2.0
#include "cal/calib/grid_calib_results.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

#include "cal/calib/calibration_run.h"
#include "cal/calib/grid_calib_results_access.h"
#include "platform/foundation/archive.h"
#include "platform/foundation/xform_poly.h"
#include "tests/support/matchers.h"
#include "tests/support/synthetic.h"

namespace {

// A calibrated results object: a 9 x 7 grid of discs with pitch 24 px, fitted with order 3.
ccGridCalibResults calibrated(ccCalibDefs::CalibType type) {
  ccSyntheticSpec spec;
  spec.width = 320;
  spec.height = 240;
  spec.foreground = 30;
  spec.background = 220;
  spec.blurSigma = 0.8;
  auto inside = [](double x, double y) {
    const double u = (x - 160.3) / 24.0, v = (y - 120.6) / 24.0;
    const double iu = std::round(u), iv = std::round(v);
    return std::fabs(iu) <= 4 && std::fabs(iv) <= 3 && std::hypot(u - iu, v - iv) < 0.25;
  };
  ccGridCalibResults r;
  cfCalibrationRun(cfSyntheticImage(spec, inside), ccGridCalibParams(0.5, 0.5, false, type), r);
  return r;
}

std::vector<unsigned char> store(ccGridCalibResults& r) {
  std::vector<unsigned char> bytes;
  ccArchive out(bytes, ccArchive::eStoring);
  out || static_cast<ccPersistent&>(r);
  return bytes;
}

void load(std::vector<unsigned char> bytes, ccGridCalibResults& r) {
  ccArchive in(bytes, ccArchive::eLoading);
  in || static_cast<ccPersistent&>(r);
}

TEST(GridCalibResults, DefaultState) {
  const ccGridCalibResults r;
  EXPECT_TRUE(r.isLinear());
  EXPECT_FALSE(r.isMarkerFound());
  EXPECT_EQ(r.threshold(), 0);
  EXPECT_EQ(r.polarity(), ccCalibDefs::ePolarityNormal);
  EXPECT_TRUE(r.imagePoints().empty());
  EXPECT_FALSE(r.edgeImage().isBound());
  EXPECT_FALSE(r.segmentedImage().isBound());
  EXPECT_THROW(r.markerPointInImage(), ccCalibDefs::MarkerNotFound);
  EXPECT_EQ(r.params().gridPitchX(), 0.1);
}

TEST(GridCalibResults, ReanchoredTransformsAndImageUnitResiduals) {
  const ccGridCalibResults r = calibrated(ccCalibDefs::eGridPolynomialOrder3);
  const ccVector<2> p(100.25, 80.5), q(3.0, -7.0);
  const ccXform<2> a = r.clientFromImageXform(p, q);
  EXPECT_NEAR((a.mapPoint(p) - q).length(), 0.0, 1e-12);
  EXPECT_EQ(a.matrix(), r.clientFromImageXform().matrix());
  const cc2XformBasePtrh b = r.clientFromImageXformBase(p, q);
  EXPECT_NEAR((b->mapPoint(p) - q).length(), 0.0, 1e-12);
  // The polynomial part is kept: differences between points are those of the fit.
  const ccVector<2> s(200.0, 150.0);
  EXPECT_NEAR(((b->mapPoint(s) - b->mapPoint(p)) - (r.clientFromImageXformBase()->mapPoint(s) -
                                                    r.clientFromImageXformBase()->mapPoint(p)))
                  .length(),
              0.0, 1e-12);
  // Residuals in image units: client residuals scaled by the pixel size (24 px per 0.5).
  const auto client = r.residuals(true), image = r.residuals(false);
  ASSERT_EQ(client.size(), image.size());
  for (std::size_t i = 0; i < client.size(); ++i) {
    EXPECT_NEAR(image[i].length(), client[i].length() * 48.0, 1e-3);
  }
}

// A results object with no field at its default: a calibration, plus a marker, threshold
// and polarity that the run would not all give this image.
ccGridCalibResults everyFieldSet() {
  ccGridCalibResults r = calibrated(ccCalibDefs::eGridPolynomialOrder3);
  ccGridCalibRunAccess::markerFound(r) = true;
  ccGridCalibRunAccess::markerPoint(r) = ccVector<2>(171.5, 131.25);
  ccGridCalibRunAccess::threshold(r) = 77;
  ccGridCalibRunAccess::polarity(r) = ccCalibDefs::ePolarityInverted;
  return r;
}

// Every field of `actual` equals that of `expected`, the transform handle by what it maps.
void expectSameFields(const ccGridCalibResults& actual, const ccGridCalibResults& expected) {
  EXPECT_EQ(actual.imagePoints(), expected.imagePoints());
  EXPECT_EQ(actual.residuals(true), expected.residuals(true));
  EXPECT_EQ(actual.maximumResidual(), expected.maximumResidual());
  EXPECT_EQ(actual.averageResidual(), expected.averageResidual());
  EXPECT_EQ(actual.clientFromImageXform(), expected.clientFromImageXform());
  EXPECT_EQ(actual.threshold(), expected.threshold());
  EXPECT_EQ(actual.polarity(), expected.polarity());
  ASSERT_EQ(actual.isMarkerFound(), expected.isMarkerFound());
  if (expected.isMarkerFound()) {
    EXPECT_EQ(actual.markerPointInImage(), expected.markerPointInImage());
  }
  EXPECT_EQ(actual.params().calibType(), expected.params().calibType());
  EXPECT_EQ(actual.params().isLeftHanded(), expected.params().isLeftHanded());
  EXPECT_EQ(actual.params().gridPitchX(), expected.params().gridPitchX());
  for (const auto& [a, e] : {std::make_pair(actual.segmentedImage(), expected.segmentedImage()),
                             std::make_pair(actual.edgeImage(), expected.edgeImage())}) {
    ASSERT_EQ(a.isBound(), e.isBound());
    if (!e.isBound()) continue;
    ASSERT_EQ(a.window(), e.window());
    for (long y = 0; y < e.height(); y += 3)
      for (long x = 0; x < e.width(); x += 2) ASSERT_EQ(a.at(x, y), e.at(x, y)) << x << ", " << y;
  }
  ASSERT_EQ(actual.clientFromImageXformBase() != nullptr,
            expected.clientFromImageXformBase() != nullptr);
  if (!expected.clientFromImageXformBase()) return;
  EXPECT_EQ(actual.clientFromImageXformBase()->isLinear(),
            expected.clientFromImageXformBase()->isLinear());
  for (const ccVector<2>& p : expected.imagePoints()) {
    EXPECT_TRUE(cfPointsNear(actual.clientFromImageXformBase()->mapPoint(p),
                             expected.clientFromImageXformBase()->mapPoint(p), 1e-12));
  }
}

TEST(GridCalibResults, ArchiveRoundTripKeepsEveryField) {
  ccGridCalibResults r = everyFieldSet();
  ASSERT_EQ(r.imagePoints().size(), 63u);
  ASSERT_FALSE(r.params().isLeftHanded());
  const std::vector<unsigned char> bytes = store(r);
  EXPECT_EQ(bytes[0], 2);  // current version
  ccGridCalibResults back;
  load(bytes, back);
  expectSameFields(back, r);
}

TEST(GridCalibResults, CopiesKeepEveryField) {
  const ccGridCalibResults r = everyFieldSet();
  const ccGridCalibResults copied(r);
  expectSameFields(copied, r);
  ccGridCalibResults assigned;
  assigned = r;
  expectSameFields(assigned, r);
}

// A stream written field by field: the common part, then for version 2 the transform
// handle, for version 1 the two polynomial map records, for version 0 nothing (the handle
// becomes the affine transform).
struct ResultsStream {
  unsigned char version = 2;
  ccXform<2> affine{ccMatrix<2>(0.5, 0.1, -0.1, 0.5), ccVector<2>(1, 2)};
  std::vector<ccVector<2>> residuals = std::vector<ccVector<2>>(1, ccVector<2>(0.01, -0.02));
  std::vector<ccVector<2>> points = std::vector<ccVector<2>>(1, ccVector<2>(10.0, 20.0));
  unsigned char pointListVersion = 0;
  double maxResidual = 0.02236, avgResidual = 0.02236;
  ccVector<2> marker{5, 6};
  ccGridCalibParams params{2.0, 3.0};
  std::uint32_t polarity = 0;
  cc2XformBasePtrh handle = std::make_shared<cc2XformLinear>(affine);
  cc2DPolynomialMap* forward = nullptr;
  cc2DPolynomialMap* inverse = nullptr;

  std::vector<unsigned char> bytes() {
    std::vector<unsigned char> out;
    ccArchive ar(out, ccArchive::eStoring);
    ccArchive::Pass pass(ar);
    unsigned char base = 0, threshold = 99;
    bool markerFound = true;
    unsigned long pol = polarity;
    ccRLEBuffer edge, segmented;
    auto pointList = [&](std::vector<ccVector<2>>& list) {
      ar || pointListVersion;
      std::uint32_t n = ar.exchangeCount(list.size(), 16);
      for (std::uint32_t i = 0; i < n; ++i) ar || list[i];
    };
    ar || version;
    ar || base;
    ar || affine;
    pointList(residuals);
    ar || maxResidual;
    ar || avgResidual;
    ar || marker;
    pointList(points);
    ar || static_cast<ccPersistent&>(edge);
    ar || static_cast<ccPersistent&>(segmented);
    ar || static_cast<ccPersistent&>(params);
    ar || threshold;
    ar || markerFound;
    ar || pol;
    if (version >= 2) ar || handle;
    if (forward) ar || static_cast<ccPersistent&>(*forward);
    if (inverse) ar || static_cast<ccPersistent&>(*inverse);
    return out;
  }
};

std::vector<unsigned char> olderStream(unsigned char version, const ccXform<2>& affine,
                                       cc2DPolynomialMap* forward, cc2DPolynomialMap* inverse,
                                       unsigned char pointListVersion = 0) {
  ResultsStream s;
  s.version = version;
  s.affine = affine;
  s.forward = forward;
  s.inverse = inverse;
  s.pointListVersion = pointListVersion;
  return s.bytes();
}

TEST(GridCalibResults, ReadsOlderVersions) {
  const ccXform<2> affine(ccMatrix<2>(0.5, 0.1, -0.1, 0.5), ccVector<2>(1, 2));
  ccGridCalibResults r0;
  load(olderStream(0, affine, nullptr, nullptr), r0);
  ASSERT_TRUE(r0.clientFromImageXformBase());
  EXPECT_TRUE(r0.clientFromImageXformBase()->isLinear());
  EXPECT_EQ(r0.clientFromImageXformBase()->mapPoint(ccVector<2>(3, 4)),
            affine.mapPoint(ccVector<2>(3, 4)));
  EXPECT_EQ(r0.threshold(), 99);
  EXPECT_EQ(r0.markerPointInImage(), ccVector<2>(5, 6));
  EXPECT_EQ(r0.params().gridPitchY(), 3.0);

  // Order 1 records: x' = 1 + 2x, y' = -1 + 3y, and the exact inverse.
  cc2DPolynomialMap forward(1, {1.0, 2.0, 0.0}, {-1.0, 0.0, 3.0});
  cc2DPolynomialMap inverse(1, {-0.5, 0.5, 0.0}, {1.0 / 3.0, 0.0, 1.0 / 3.0});
  ccGridCalibResults r1;
  load(olderStream(1, affine, &forward, &inverse), r1);
  ASSERT_TRUE(r1.clientFromImageXformBase());
  const ccVector<2> m = r1.clientFromImageXformBase()->mapPoint(ccVector<2>(2, 5));
  EXPECT_NEAR(m.x(), 5.0, 1e-12);
  EXPECT_NEAR(m.y(), 14.0, 1e-12);

  ccGridCalibResults bad;
  EXPECT_THROW(load(olderStream(1, affine, &forward, &inverse, 1), bad), ccArchive::UnknownVersion);
  EXPECT_THROW(load(olderStream(3, affine, nullptr, nullptr), bad), ccArchive::UnknownVersion);
}

TEST(GridCalibResults, HostileStreamsAreRefusedAndLeaveTheObjectAsItWas) {
  const double nan = std::numeric_limits<double>::quiet_NaN(),
               inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    std::function<void(ResultsStream&)> spoil;
    const wchar_t* field;  // word the refusal names
  };
  const Case cases[] = {
      {"no transform", [](ResultsStream& s) { s.handle.reset(); },
       L"no client-from-image transform"},
      {"NaN linear handle",
       [&](ResultsStream& s) {
         s.handle = std::make_shared<cc2XformLinear>(ccXform<2>(ccMatrix<2>(nan, 0, 0, 1), {}));
       },
       L"transform"},
      {"infinite affine", [&](ResultsStream& s) { s.affine.trans(ccVector<2>(inf, 0)); },
       L"transform"},
      {"NaN residual", [&](ResultsStream& s) { s.residuals[0] = ccVector<2>(0, nan); },
       L"residuals"},
      {"infinite image point", [&](ResultsStream& s) { s.points[0] = ccVector<2>(-inf, 0); },
       L"image points"},
      {"counts differ", [](ResultsStream& s) { s.points.push_back(ccVector<2>(1, 1)); }, L"counts"},
      {"NaN maximum residual", [&](ResultsStream& s) { s.maxResidual = nan; }, L"residual length"},
      {"NaN marker", [&](ResultsStream& s) { s.marker = ccVector<2>(nan, nan); }, L"marker"},
      {"polarity 3", [](ResultsStream& s) { s.polarity = 3; }, L"polarity"},
      {"polarity 0x80000000", [](ResultsStream& s) { s.polarity = 0x80000000u; }, L"polarity"},
      {"params type 4",
       [](ResultsStream& s) { s.params.calibType(static_cast<ccCalibDefs::CalibType>(4)); },
       L"calibration type"},
  };
  ccGridCalibResults target = calibrated(ccCalibDefs::eGridPolynomialOrder3);
  const std::vector<unsigned char> before = store(target);
  const unsigned long changes = target.changeCount();
  const cc2XformBase* transform = target.clientFromImageXformBase().get();
  auto expectUntouched = [&] {
    EXPECT_EQ(store(target), before);
    EXPECT_EQ(target.changeCount(), changes);
    EXPECT_EQ(target.clientFromImageXformBase().get(), transform);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResultsStream stream;
    c.spoil(stream);
    try {
      load(stream.bytes(), target);
      ADD_FAILURE() << "loaded";
    } catch (const ccArchive::BadData& e) {
      EXPECT_NE(e.message().find(c.field), std::wstring::npos) << e.messageUtf8();
    }
    expectUntouched();
  }
  const std::vector<unsigned char> good = ResultsStream().bytes();
  for (std::size_t n = 0; n < good.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_THROW(
        load(std::vector<unsigned char>(good.begin(), good.begin() + static_cast<long>(n)), target),
        ccException);
    expectUntouched();
  }
  load(good, target);
  EXPECT_EQ(target.threshold(), 99);
}

// Two objects read in one pass: the parts of the first must not hide those of the second.
TEST(GridCalibResults, TwoObjectsInOnePassRoundTrip) {
  ccGridCalibResults a = calibrated(ccCalibDefs::eGridLinear),
                     b = calibrated(ccCalibDefs::eGridPolynomialOrder5);
  std::vector<unsigned char> bytes;
  {
    ccArchive out(bytes, ccArchive::eStoring);
    ccArchive::Pass pass(out);
    out || static_cast<ccPersistent&>(a);
    out || static_cast<ccPersistent&>(b);
  }
  ccGridCalibResults a2, b2;
  {
    ccArchive in(bytes, ccArchive::eLoading);
    ccArchive::Pass pass(in);
    in || static_cast<ccPersistent&>(a2);
    in || static_cast<ccPersistent&>(b2);
    EXPECT_EQ(in.remaining(), 0u);
  }
  EXPECT_EQ(store(a2), store(a));
  EXPECT_EQ(store(b2), store(b));
  EXPECT_EQ(b2.params().calibType(), ccCalibDefs::eGridPolynomialOrder5);
}

}  // namespace
