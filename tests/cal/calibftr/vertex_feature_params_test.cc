// SPDX-License-Identifier: Apache-2.0
// Vertex feature parameters: setter checks, the archive format of every version, and the
// archive round trip of the extraction's error classes.
#include "cal/calibftr/vertex_feature_params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

#include "platform/foundation/archive.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;
using Params = ccCalib2VertexFeatureParams;

// Every field that can differ, so that a dropped or swapped field shows.
void expectSame(const Params& a, const Params& b) {
  EXPECT_EQ(a.nominalTileSize(), b.nominalTileSize());
  EXPECT_EQ(a.physicalGridPitch(), b.physicalGridPitch());
  EXPECT_EQ(a.origin(), b.origin());
  EXPECT_EQ(a.labelMode(), b.labelMode());
  EXPECT_EQ(a.precisionThreshold(), b.precisionThreshold());
  EXPECT_EQ(a.needBothCheckers(), b.needBothCheckers());
  EXPECT_EQ(a.uniformLighting(), b.uniformLighting());
  EXPECT_EQ(a.algorithm(), b.algorithm());
}

// Pitch first, tile size second (unchecked: 1 x 1 is kept), and no default anywhere.
Params nonDefault() {
  Params p(ccVector<2>(2.5, 3.5), ccVector<2>(1, 1), Defs::eUseFiducial);
  p.origin(ccVector<2>(-4, 9));
  p.precisionThreshold(0.25);
  p.needBothCheckers(false);
  p.uniformLighting(false);
  p.algorithm(Defs::eExhaustive);
  return p;
}

TEST(VertexFeatureParams, RefusedValuesLeaveTheObjectUnchanged) {
  const double nan = std::nan("");
  const std::pair<std::function<void(Params&)>, const wchar_t*> cases[] = {
      {[](Params& p) { p.nominalTileSize(ccVector<2>(10, 9.99)); },
       L"Supplied nominal tile dimensions are too small."},
      {[&](Params& p) { p.nominalTileSize(ccVector<2>(nan, 20)); },
       L"Supplied nominal tile dimensions are too small."},
      {[](Params& p) { p.physicalGridPitch(ccVector<2>(0, 1)); },
       L"An invalid grid pitch value was specified."},
      {[&](Params& p) { p.physicalGridPitch(ccVector<2>(1, nan)); },
       L"An invalid grid pitch value was specified."},
      {[](Params& p) { p.labelMode(static_cast<Defs::CorrespondMethod>(3)); },
       L"Invalid mode specified."},
      {[](Params& p) { p.labelMode(static_cast<Defs::CorrespondMethod>(-1)); },
       L"Invalid mode specified."},
      {[](Params& p) { p.precisionThreshold(-0.1); }, L"precisionThreshold must be >= 0.0"},
      {[&](Params& p) { p.precisionThreshold(nan); }, L"precisionThreshold must be >= 0.0"},
      {[](Params& p) { p.algorithm(static_cast<Defs::Algorithm>(2)); }, L"invalid algorithm"},
  };
  for (const auto& [set, message] : cases) {
    Params p = nonDefault();
    try {
      set(p);
      ADD_FAILURE() << "accepted";
    } catch (const Defs::BadParam& e) {
      EXPECT_EQ(e.message(), message);
    }
    expectSame(p, nonDefault());
    EXPECT_EQ(p.setMask(), nonDefault().setMask());
  }
  Params p;  // the limits pass and set their mask bits
  p.nominalTileSize(ccVector<2>(10, 10));
  p.physicalGridPitch(ccVector<2>(1e-9, 1e-9));
  p.precisionThreshold(0.0);
  EXPECT_EQ(p.setMask(), 8u | 16u);
  p.origin(ccVector<2>(1, 1));
  EXPECT_EQ(p.setMask(), 4u | 8u | 16u);
}

// A stream of the given version, written item by item in the documented order.
std::vector<unsigned char> stream(unsigned char version, const Params& p, unsigned long mode,
                                  unsigned long algorithm) {
  std::vector<unsigned char> bytes;
  ccArchive out(bytes, ccArchive::eStoring);
  ccVector<2> tile = p.nominalTileSize(), pitch = p.physicalGridPitch(), origin = p.origin();
  double threshold = p.precisionThreshold();
  bool both = p.needBothCheckers(), uniform = p.uniformLighting();
  out || version || tile || pitch || origin || mode;
  if (version >= 1) out || threshold || both || uniform;
  if (version >= 2) out || algorithm;
  return bytes;
}

TEST(VertexFeatureParams, ArchiveVersionsZeroToTwoReadThreeRefused) {
  Params written = nonDefault();
  std::vector<unsigned char> bytes;
  {
    ccArchive out(bytes, ccArchive::eStoring);
    out || written;
  }
  EXPECT_EQ(bytes,
            stream(2, written, Defs::eUseFiducial, Defs::eExhaustive));  // the documented format

  // Older versions restore what they hold; the rest keeps the loading object's values.
  for (unsigned char version : {0, 1, 2}) {
    std::vector<unsigned char> old =
        stream(version, written, Defs::eUseFiducial, Defs::eExhaustive);
    Params read;
    ccArchive in(old, ccArchive::eLoading);
    in || read;
    Params expected(written.physicalGridPitch(), written.nominalTileSize(), written.labelMode());
    expected.origin(written.origin());
    if (version >= 1) {
      expected.precisionThreshold(written.precisionThreshold());
      expected.needBothCheckers(written.needBothCheckers());
      expected.uniformLighting(written.uniformLighting());
    }
    if (version >= 2) expected.algorithm(written.algorithm());
    expectSame(read, expected);
    EXPECT_EQ(read.setMask(), 0u);  // not archived
  }

  // Enumeration values outside the enumerations are kept as read.
  std::vector<unsigned char> odd = stream(2, Params(), 7, 5);
  Params read;
  ccArchive oddIn(odd, ccArchive::eLoading);
  oddIn || read;
  EXPECT_EQ(static_cast<int>(read.labelMode()), 7);
  EXPECT_EQ(static_cast<int>(read.algorithm()), 5);

  bytes[0] = 3;
  Params untouched = nonDefault();
  ccArchive in(bytes, ccArchive::eLoading);
  EXPECT_THROW(in || untouched, ccArchive::UnknownVersion);
  expectSame(untouched, nonDefault());
}

TEST(VertexFeatureErrors, ArchiveRoundTripOfEachClass) {
  const std::shared_ptr<ccPersistent> errors[] = {
      std::make_shared<Defs::BadParam>(L"bad"),
      std::make_shared<Defs::FailedCorrespondence>(L"failed"),
      std::make_shared<Defs::FiducialNotFound>()};
  for (std::shared_ptr<ccPersistent> original : errors) {
    std::vector<unsigned char> bytes;
    ccArchive(bytes, ccArchive::eStoring).exchangeShared(original);
    std::shared_ptr<ccPersistent> back;
    ccArchive(bytes, ccArchive::eLoading).exchangeShared(back);
    const auto& a = dynamic_cast<const Defs::Errors&>(*original);
    const auto* b = dynamic_cast<const Defs::Errors*>(back.get());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(typeid(a), typeid(*b));
    EXPECT_EQ(b->errorNumber(), a.errorNumber());
    EXPECT_EQ(b->message(), a.message());
  }
}

}  // namespace
