// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "cal/calib/calib_defs.h"
#include "cal/calib/vertex_feature_defs.h"
#include "platform/foundation/archive.h"

namespace {

using CD = ccCalibDefs;
using VD = ccCalib2VertexFeatureDefs;

TEST(CalibErrors, NumbersAreDistinctAndFixed) {
  std::vector<std::pair<long, long>> numbers{{CD::GridAngleTooLarge().errorNumber(), 0x10003900},
                                             {CD::InvalidMap().errorNumber(), 0x10003901},
                                             {CD::MarkerNotFound().errorNumber(), 0x10003902},
                                             {CD::TooFewDotsFound().errorNumber(), 0x10003903},
                                             {CD::BadCorrespondence().errorNumber(), 0x10003904},
                                             {CD::BadParam().errorNumber(), 0x10003910},
                                             {VD::BadParam().errorNumber(), 0x10003920},
                                             {VD::FailedCorrespondence().errorNumber(), 0x10003921},
                                             {VD::FiducialNotFound().errorNumber(), 0x10003922}};
  std::set<long> seen;
  for (auto& n : numbers) {
    EXPECT_EQ(n.first, n.second);
    EXPECT_TRUE(seen.insert(n.first).second);
  }
}

TEST(CalibErrors, MessagesFixedOrStored) {
  EXPECT_EQ(CD::GridAngleTooLarge().message(), L"");
  EXPECT_EQ(CD::MarkerNotFound().message(), L"");
  CD::InvalidMap a;
  CD::InvalidMap copy(a);
  EXPECT_EQ(copy.message(), L"The map computed from the corresponding points is invalid");
  EXPECT_EQ(CD::TooFewDotsFound().message(),
            L"An insufficient number of Dots were found to perform the calibration");
  EXPECT_EQ(VD::FiducialNotFound().message(),
            L"The expected fiducial target could not be located.");
  EXPECT_EQ(CD::BadParam(L"some text").message(), L"some text");
  EXPECT_EQ(VD::FailedCorrespondence().message(), L"");
}

TEST(CalibErrors, CaughtByFamilyAndFoundationBasesOnly) {
  auto throwIt = [] { throw CD::InvalidMap(); };
  EXPECT_THROW(throwIt(), CD::Errors);
  EXPECT_THROW(throwIt(), ccExceptionWithString);
  EXPECT_THROW(throwIt(), ccException);
  EXPECT_THROW(throwIt(), ccPersistent);
  bool caughtByOtherFamily = false;
  try {
    try {
      throwIt();
    } catch (const VD::Errors&) {
      caughtByOtherFamily = true;
    }
  } catch (const CD::InvalidMap&) {
  }
  EXPECT_FALSE(caughtByOtherFamily);
}

TEST(CalibErrors, EveryPersistentClassIsRegisteredAtLoad) {
  for (const char* name :
       {"ccCalibDefs::GridAngleTooLarge", "ccCalibDefs::InvalidMap", "ccCalibDefs::MarkerNotFound",
        "ccCalibDefs::TooFewDotsFound", "ccCalibDefs::BadCorrespondence", "ccCalibDefs::BadParam",
        "ccGridCalibParams", "ccGridCalibResults", "ccCalib2VertexFeatureDefs::BadParam",
        "ccCalib2VertexFeatureDefs::FailedCorrespondence",
        "ccCalib2VertexFeatureDefs::FiducialNotFound"}) {
    EXPECT_NE(cc_Instantiator::find(name), nullptr) << name;
  }
  EXPECT_EQ(cc_Instantiator::find("ccCalibDefs::Errors"), nullptr);
}

TEST(CalibErrors, SuicideAndRethrowDeletesAndThrowsTheLeaf) {
  ccCalibDefs::Errors* e = new CD::BadParam(L"heap");
  try {
    e->suicideAndRethrow();
    FAIL();
  } catch (const CD::BadParam& thrown) {
    EXPECT_EQ(thrown.message(), L"heap");
  }
}

TEST(CalibErrors, ArchiveRoundTripByNameAndVersionChecks) {
  std::vector<unsigned char> bytes;
  {
    ccArchive out(bytes, ccArchive::eStoring);
    std::shared_ptr<ccPersistent> p =
        std::make_shared<VD::BadParam>(L"An invalid grid pitch value was specified.");
    out.exchangeShared(p);
  }
  {
    ccArchive in(bytes, ccArchive::eLoading);
    std::shared_ptr<ccPersistent> p;
    in.exchangeShared(p);
    auto* e = dynamic_cast<VD::BadParam*>(p.get());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->message(), L"An invalid grid pitch value was specified.");
  }
  // In place: leaf version byte, family version byte, then the exception part.
  std::vector<unsigned char> plain;
  CD::BadParam original(L"msg");
  {
    ccArchive out(plain, ccArchive::eStoring);
    out || static_cast<ccPersistent&>(original);
  }
  ASSERT_GE(plain.size(), 2u);
  EXPECT_EQ(plain[0], 0);
  EXPECT_EQ(plain[1], 0);
  for (int pos : {0, 1}) {
    std::vector<unsigned char> bad = plain;
    bad[pos] = 1;
    CD::BadParam target;
    ccArchive in(bad, ccArchive::eLoading);
    EXPECT_THROW(in || static_cast<ccPersistent&>(target), ccArchive::UnknownVersion)
        << "byte " << pos;
  }
}

}  // namespace
