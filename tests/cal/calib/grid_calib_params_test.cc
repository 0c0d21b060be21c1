#include "cal/calib/grid_calib_params.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/foundation/archive.h"
#include "platform/foundation/assert.h"

namespace {

std::unique_ptr<ccGridCalibParams> makeDefault() {
  auto make = cc_Instantiator::find("ccGridCalibParams");
  EXPECT_NE(make, nullptr);
  return std::unique_ptr<ccGridCalibParams>(dynamic_cast<ccGridCalibParams*>(make()));
}

TEST(GridCalibParams, FactoryDefaults) {
  auto p = makeDefault();
  ASSERT_TRUE(p);
  EXPECT_EQ(p->gridPitchX(), 0.0);
  EXPECT_EQ(p->gridPitchY(), 0.0);
  EXPECT_TRUE(p->isLeftHanded());
  EXPECT_EQ(p->calibType(), ccCalibDefs::eGridLinear);
  EXPECT_EQ(p->polarity(), ccCalibDefs::ePolarityAny);
  EXPECT_FALSE(p->ignoreGridAngle());
  EXPECT_EQ(p->minDotAreaToBoundingBoxAreaRatio(), 0.5);
  EXPECT_EQ(p->maxDotAreaToBoundingBoxAreaRatio(), 0.86);
}

TEST(GridCalibParams, PreconditionsReportButStore) {
  ccGridCalibParams p(1.0, 2.0);
  unsigned long before = ccAssertion::failureCount();
  unsigned long changes = p.changeCount();
  p.dotAreaToBoundingBoxAreaRatio(0.6, 0.6);
  EXPECT_EQ(ccAssertion::failureCount(), before + 1);
  EXPECT_EQ(p.minDotAreaToBoundingBoxAreaRatio(), 0.6);
  EXPECT_GT(p.changeCount(), changes);
  p.gridPitchX(-1.0);
  EXPECT_EQ(ccAssertion::failureCount(), before + 2);
  EXPECT_EQ(p.gridPitchX(), -1.0);
}

TEST(GridCalibParams, ArchiveRoundTripAndVersionZero) {
  ccGridCalibParams p(0.25, 0.5, false, ccCalibDefs::eGridPolynomialOrder5, ccCalibDefs::ePolarityInverted, 0.55,
                      0.8);
  p.ignoreGridAngle(true);
  std::vector<unsigned char> bytes;
  {
    ccArchive out(bytes, ccArchive::eStoring);
    out || static_cast<ccPersistent&>(p);
  }
  EXPECT_EQ(bytes[0], 1);  // current version
  auto q = makeDefault();
  {
    ccArchive in(bytes, ccArchive::eLoading);
    in || static_cast<ccPersistent&>(*q);
  }
  EXPECT_EQ(q->gridPitchX(), 0.25);
  EXPECT_EQ(q->gridPitchY(), 0.5);
  EXPECT_FALSE(q->isLeftHanded());
  EXPECT_EQ(q->calibType(), ccCalibDefs::eGridPolynomialOrder5);
  EXPECT_EQ(q->polarity(), ccCalibDefs::ePolarityInverted);
  EXPECT_TRUE(q->ignoreGridAngle());
  EXPECT_EQ(q->minDotAreaToBoundingBoxAreaRatio(), 0.55);
  EXPECT_EQ(q->maxDotAreaToBoundingBoxAreaRatio(), 0.8);

  // Version 0 has no ratios: drop the last 16 bytes and mark the version.
  std::vector<unsigned char> v0(bytes.begin(), bytes.end() - 16);
  v0[0] = 0;
  auto r = makeDefault();
  {
    ccArchive in(v0, ccArchive::eLoading);
    in || static_cast<ccPersistent&>(*r);
  }
  EXPECT_EQ(r->gridPitchY(), 0.5);
  EXPECT_EQ(r->minDotAreaToBoundingBoxAreaRatio(), 0.5);
  EXPECT_EQ(r->maxDotAreaToBoundingBoxAreaRatio(), 0.84);

  bytes[0] = 2;
  ccArchive in(bytes, ccArchive::eLoading);
  EXPECT_THROW(in || static_cast<ccPersistent&>(*r), ccArchive::UnknownVersion);
}

}  // namespace
