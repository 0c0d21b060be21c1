// SPDX-License-Identifier: Apache-2.0
#include "cal/calib/grid_calib_params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "platform/foundation/archive.h"
#include "platform/foundation/assert.h"

namespace {

std::unique_ptr<ccGridCalibParams> makeDefault() {
  auto make = cc_Instantiator::find("ccGridCalibParams");
  EXPECT_NE(make, nullptr);
  return std::unique_ptr<ccGridCalibParams>(dynamic_cast<ccGridCalibParams*>(make()));
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
  ccGridCalibParams p(0.25, 0.5, false, ccCalibDefs::eGridPolynomialOrder5,
                      ccCalibDefs::ePolarityInverted, 0.55, 0.8);
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

// Stream layout (version 1): version, base, pitch X @2, pitch Y @10, handedness @18,
// type @19, polarity @23, ignore-angle @27, min ratio @28, max ratio @36.
struct Patch {
  const char* name;
  std::size_t offset;
  std::vector<unsigned char> bytes;
  const wchar_t* field;  // word the refusal names
};

std::vector<unsigned char> le32(std::uint32_t v) {
  return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
}

std::vector<unsigned char> le64(double d) {
  std::uint64_t v;
  std::memcpy(&v, &d, 8);
  std::vector<unsigned char> b(8);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
  return b;
}

TEST(GridCalibParams, HostileStreamsAreRefusedAndLeaveTheObjectAsItWas) {
  ccGridCalibParams source(0.25, 0.5, false, ccCalibDefs::eGridPolynomialOrder5,
                           ccCalibDefs::ePolarityInverted, 0.55, 0.8);
  std::vector<unsigned char> good;
  {
    ccArchive out(good, ccArchive::eStoring);
    out || static_cast<ccPersistent&>(source);
  }
  ASSERT_EQ(good.size(), 44u);
  const double nan = std::numeric_limits<double>::quiet_NaN(),
               inf = std::numeric_limits<double>::infinity();
  const Patch patches[] = {
      {"type 2", 19, le32(2), L"calibration type"},
      {"type 0x80000001", 19, le32(0x80000001u), L"calibration type"},
      {"polarity 3", 23, le32(3), L"polarity"},
      {"polarity 0xFFFFFFFF", 23, le32(0xFFFFFFFFu), L"polarity"},
      {"pitch X zero", 2, le64(0.0), L"pitch X"},
      {"pitch Y negative", 10, le64(-1.0), L"pitch Y"},
      {"pitch X NaN", 2, le64(nan), L"pitch X"},
      {"pitch Y infinite", 10, le64(inf), L"pitch Y"},
      {"min ratio NaN", 28, le64(nan), L"minimum"},
      {"min ratio zero", 28, le64(0.0), L"minimum"},
      {"max ratio one", 36, le64(1.0), L"maximum"},
      {"max ratio infinite", 36, le64(inf), L"maximum"},
  };
  ccGridCalibParams target(3.0, 4.0, true, ccCalibDefs::eGridLinear, ccCalibDefs::ePolarityAny, 0.6,
                           0.7);
  target.ignoreGridAngle(true);
  auto expectUntouched = [&](unsigned long changes) {
    EXPECT_EQ(target.gridPitchX(), 3.0);
    EXPECT_EQ(target.gridPitchY(), 4.0);
    EXPECT_TRUE(target.isLeftHanded());
    EXPECT_EQ(target.calibType(), ccCalibDefs::eGridLinear);
    EXPECT_EQ(target.polarity(), ccCalibDefs::ePolarityAny);
    EXPECT_TRUE(target.ignoreGridAngle());
    EXPECT_EQ(target.minDotAreaToBoundingBoxAreaRatio(), 0.6);
    EXPECT_EQ(target.maxDotAreaToBoundingBoxAreaRatio(), 0.7);
    EXPECT_EQ(target.changeCount(), changes);
  };
  const unsigned long changes = target.changeCount();
  for (const Patch& p : patches) {
    SCOPED_TRACE(p.name);
    std::vector<unsigned char> bytes = good;
    std::copy(p.bytes.begin(), p.bytes.end(), bytes.begin() + static_cast<long>(p.offset));
    ccArchive in(bytes, ccArchive::eLoading);
    try {
      in || static_cast<ccPersistent&>(target);
      ADD_FAILURE() << "loaded";
    } catch (const ccArchive::BadData& e) {
      EXPECT_NE(e.message().find(p.field), std::wstring::npos) << e.messageUtf8();
    }
    expectUntouched(changes);
  }
  for (std::size_t n = 0; n < good.size(); ++n) {
    SCOPED_TRACE(n);
    std::vector<unsigned char> cut(good.begin(), good.begin() + static_cast<long>(n));
    ccArchive in(cut, ccArchive::eLoading);
    EXPECT_THROW(in || static_cast<ccPersistent&>(target), ccArchive::Truncated);
    expectUntouched(changes);
  }
  // Every valid enumeration word still loads.
  for (std::uint32_t type : {1u, 3u, 5u}) {
    for (std::uint32_t polarity : {0u, 1u, 2u}) {
      std::vector<unsigned char> bytes = good;
      std::copy_n(le32(type).begin(), 4, bytes.begin() + 19);
      std::copy_n(le32(polarity).begin(), 4, bytes.begin() + 23);
      ccArchive in(bytes, ccArchive::eLoading);
      in || static_cast<ccPersistent&>(target);
      EXPECT_EQ(static_cast<std::uint32_t>(target.calibType()), type);
      EXPECT_EQ(static_cast<std::uint32_t>(target.polarity()), polarity);
    }
  }
}

}  // namespace
